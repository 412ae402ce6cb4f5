// The volume descriptor, the root directory scan and the BOOT2 line, over
// buffers sized exactly, so that the sanitizers catch any read past them.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

#include "library/iso_records.h"
#include "support/iso_builder.h"

// The root directory's bytes of an image made by our writer.
static std::vector<uint8_t> root_of(const IsoLayout& layout) {
  std::string image = build_iso(layout);
  uint32_t extent = 0, size = 0;
  EXPECT_TRUE(iso_parse_descriptor((const uint8_t*)image.data() + ISO_DESCRIPTOR_OFFSET, &extent, &size));
  return std::vector<uint8_t>(image.begin() + extent * ISO_SECTOR_BYTES,
                              image.begin() + extent * ISO_SECTOR_BYTES + size);
}

static bool find(const std::vector<uint8_t>& root, const char* name, IsoFileRecord* found = nullptr) {
  IsoFileRecord record;
  return iso_scan_directory(root.data(), (uint32_t)root.size(), name, (uint32_t)strlen(name),
                            found ? found : &record);
}

TEST(IsoDescriptor, AcceptsCd001WhateverTheTypeByte) {
  for (uint8_t type : {0, 1, 2, 255}) {
    IsoLayout layout;
    layout.descriptor_type = type;
    std::string image = build_iso(layout);
    uint32_t extent = 0, size = 0;
    EXPECT_TRUE(iso_parse_descriptor((const uint8_t*)image.data() + ISO_DESCRIPTOR_OFFSET, &extent, &size));
    EXPECT_EQ(extent, 18u);
    EXPECT_EQ(size, 2048u);
  }
  IsoLayout no_magic;
  no_magic.write_cd001 = false;
  std::string image = build_iso(no_magic);
  uint32_t extent = 0, size = 0;
  EXPECT_FALSE(iso_parse_descriptor((const uint8_t*)image.data() + ISO_DESCRIPTOR_OFFSET, &extent, &size));
}

TEST(IsoScan, IdentifierMatching) {
  IsoLayout layout;
  for (const char* id : {"boot.elf;1", "BOOT.ELF2", "SYSTEM.CNFX", "A.B"})
    layout.root.push_back({IsoItem::FILE, id, std::string(id)});
  std::vector<uint8_t> root = root_of(layout);

  const struct {
    const char* name;
    bool found;
    size_t size;
  } cases[] = {
      {"BOOT.ELF", true, strlen("boot.elf;1")},  // case ignored, version suffix allowed
      {"boot.elf", true, strlen("boot.elf;1")},
      {"BOOT.EL", false, 0},     // a prefix of an identifier is no match
      {"BOOT.ELF2", true, strlen("BOOT.ELF2")},
      {"SYSTEM.CNF", false, 0},  // SYSTEM.CNFX is another name
      {"A.B", true, 3},          // identifier without ";1"
      {"A.B;1", false, 0},       // the name is longer than the identifier
  };
  for (const auto& c : cases) {
    IsoFileRecord record = {};
    EXPECT_EQ(find(root, c.name, &record), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(record.size, c.size) << c.name;
    }
  }
}

TEST(IsoScan, ZeroLengthBytesSkipToTheNextSector) {
  // Padding after the first records, then a whole empty sector, then the file.
  IsoLayout layout;
  layout.root.push_back({IsoItem::FILE, "FIRST.DAT;1", "1"});
  layout.root.push_back({IsoItem::PAD_TO_SECTOR, "", ""});
  layout.root.push_back({IsoItem::EMPTY_SECTOR, "", ""});
  layout.root.push_back({IsoItem::FILE, "LATE.DAT;1", "late"});
  std::vector<uint8_t> root = root_of(layout);
  ASSERT_EQ(root.size(), 3u * 2048);
  IsoFileRecord record;
  ASSERT_TRUE(find(root, "LATE.DAT", &record));
  EXPECT_EQ(record.size, 4u);
  EXPECT_TRUE(find(root, "FIRST.DAT"));
}

TEST(IsoScan, RecordsCutByTheLoadedDataEndTheScan) {
  IsoLayout layout;
  layout.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", "x"});
  std::vector<uint8_t> root = root_of(layout);
  // Cut inside the record's fixed part, and inside its identifier: the scan
  // must stop there, and the sanitizers check it read nothing beyond.
  const uint32_t record = 68;
  for (uint32_t cut : {record + 10, record + 32, record + 33, record + 40}) {
    std::vector<uint8_t> part(root.begin(), root.begin() + cut);
    EXPECT_FALSE(find(part, "SYSTEM.CNF")) << "cut at " << cut;
  }
  std::vector<uint8_t> whole(root.begin(), root.begin() + record + 33 + 12);
  EXPECT_TRUE(find(whole, "SYSTEM.CNF"));
  EXPECT_FALSE(find(std::vector<uint8_t>(), "SYSTEM.CNF"));
}

TEST(Boot2Serial, Table) {
  const struct {
    const char* text;
    const char* serial;
  } cases[] = {
      {"BOOT2 = cdrom0:\\SXUS_100.02;1\r\nVER = 1.00\r\n", "SXUS_100.02"},
      {"BOOT2 = cdrom0:\\sxus_100.02;1\n", "sxus_100.02"},
      {"boot2 = cdrom0:\\SXUS_100.02;1\n", ""},          // the key is case-sensitive
      {"BOOT = cdrom:\\SLUS_000.01;1\n", ""},            // a PlayStation 1 disc
      {"BOOT2 = cdrom0:\\DATA\\MAIN.ELF;1\n", "DATA\\MAIN.ELF"},
      {"BOOT2 = cdrom0:\\SXUS_100.02 ;1\n", "SXUS_100.02 "},  // the blank stays
      {"BOOT2 = cdrom0:\r\nX = \\SXPE_100.01\r\n", "SXPE_100.01"},  // backslash on a later line
      {"BOOT2 = cdrom0:SXPE_100.01\n", ""},              // no backslash at all
      {"BOOT2 = cdrom0:\\SXPE_100.01", "SXPE_100.01"},   // ends with the text
      {"VER = 1\nBOOT2 = x\\A\rB", "A"},
      {"BOOT2 = cdrom0:\\0123456789012345678901234567890123456789;1", "0123456789012345678901234567890"},
  };
  for (const auto& c : cases) {
    char serial[32];
    memset(serial, 'z', sizeof serial);
    parse_boot2_serial(c.text, serial, sizeof serial);
    EXPECT_STREQ(serial, c.serial) << c.text;
  }
}
