// The zip record walk over archive bytes: the end record search, central and
// local headers with every bound checked, and the name checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/inflate.h"
#include "transfer/zip_records.h"
#include "zip_maker.h"

namespace {

bool open_bytes(ZipArchive* archive, const std::string& bytes) {
  return zip_open(archive, (const uint8_t*)bytes.data(), (uint32_t)bytes.size());
}

TEST(ZipEndRecord, SearchWindow) {
  MadeZip plain = make_zip({stored_entry("a.txt", "A"), stored_entry("b.txt", "BB")});
  MadeZip long_comment = make_zip({stored_entry("a.txt", "A")}, std::string(65535, 'c'));
  std::string too_far = plain.bytes + std::string(65536, 'x');        // record 65558 from the end
  std::string just_in = plain.bytes + std::string(65535, 'x');        // record 65557 from the end
  struct Case {
    const char* name;
    std::string bytes;
    bool found;
    uint32_t total;
  } cases[] = {
      {"plain", plain.bytes, true, 2},
      {"comment of 65535 bytes", long_comment.bytes, true, 1},
      {"record just inside the window", just_in, true, 2},
      {"record beyond the window", too_far, false, 0},
      {"21 bytes", plain.bytes.substr(plain.end_offset, 21), false, 0},
      {"nothing", std::string(), false, 0},
      {"no signature", std::string(4096, 'P'), false, 0},
      {"the record alone", plain.bytes.substr(plain.end_offset), true, 2},
  };
  for (const Case& c : cases) {
    ZipArchive archive;
    EXPECT_EQ(open_bytes(&archive, c.bytes), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(archive.entry_total, c.total) << c.name;
    }
  }
}

TEST(ZipEndRecord, HighestSignatureWins) {
  // A comment that holds another end record: the later one is taken.
  MadeZip zip = make_zip({stored_entry("a.txt", "A")});
  std::string fake = zip.bytes.substr(zip.end_offset, 22);
  put_le16(fake, 10, 7);
  std::string bytes = zip.bytes.substr(0, zip.end_offset + 20) + std::string("\x16\x00", 2) + fake;
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, bytes));
  EXPECT_EQ(archive.entry_total, 7u);
}

TEST(ZipCentral, WalksEveryHeader) {
  MadeEntry with_extra = deflated_entry("dir/b.bin", "bbbb");
  with_extra.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  with_extra.comment = "entry comment";
  MadeZip zip = make_zip({stored_entry("a.txt", "A"), with_extra, folder_entry("dir/")}, "archive comment");
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, zip.bytes));
  ASSERT_EQ(archive.central_offset, zip.central_offset);
  const char* names[] = {"a.txt", "dir/b.bin", "dir/"};
  uint64_t cursor = archive.central_offset;
  for (int i = 0; i < 3; i++) {
    ZipEntry entry;
    ASSERT_EQ(zip_read_central(&archive, cursor, &entry), ZIP_RECORD_OK);
    EXPECT_STREQ(entry.name, names[i]);
    EXPECT_EQ(entry.local_offset, zip.local_offsets[i]);
    const uint8_t* data = nullptr;
    ASSERT_TRUE(zip_locate_data(&archive, &entry, &data));
    if (i == 1) {
      EXPECT_EQ(entry.method, 8);
      EXPECT_EQ(entry.uncompressed_size, 4u);
      uint8_t out[4];
      ASSERT_TRUE(inflate_raw(data, entry.compressed_size, out, 4));
      EXPECT_EQ(std::string((char*)out, 4), "bbbb");
    }
    cursor = entry.next_cursor;
  }
  EXPECT_EQ(cursor, zip.end_offset);
}

TEST(ZipCentral, DamagedHeaders) {
  MadeZip zip = make_zip({stored_entry("name.txt", "x")});
  uint32_t c = zip.central_offset;
  std::string bad_signature = zip.bytes;
  bad_signature[c] = 'Q';
  std::string long_name = zip.bytes;
  put_le16(long_name, c + 28, 0xFFFF);  // the name would run past the end
  struct Case {
    const char* name;
    std::string bytes;
    uint64_t cursor;
    ZipRecordResult result;
  } cases[] = {
      {"good", zip.bytes, c, ZIP_RECORD_OK},
      {"wrong signature", bad_signature, c, ZIP_RECORD_DAMAGED},
      {"fixed part cut", zip.bytes.substr(0, c + 45), c, ZIP_RECORD_DAMAGED},
      {"name cut", zip.bytes.substr(0, c + 46 + 7), c, ZIP_RECORD_DAMAGED},
      {"name past the end", long_name, c, ZIP_RECORD_DAMAGED},
      {"cursor past the end", zip.bytes, zip.bytes.size() + 1, ZIP_RECORD_DAMAGED},
      {"cursor near 4 GiB", zip.bytes, 0xFFFFFFF0ull, ZIP_RECORD_DAMAGED},
      {"cursor beyond 4 GiB", zip.bytes, 0x1FFFFFFF0ull, ZIP_RECORD_DAMAGED},
  };
  for (const Case& k : cases) {
    ZipArchive archive;
    archive.data = (const uint8_t*)k.bytes.data();
    archive.size = (uint32_t)k.bytes.size();
    ZipEntry entry;
    EXPECT_EQ(zip_read_central(&archive, k.cursor, &entry), k.result) << k.name;
  }
}

TEST(ZipCentral, NameOf511BytesIsAcceptedAnd512Refused) {
  for (size_t length : {511u, 512u, 700u}) {
    MadeZip zip = make_zip({stored_entry(std::string(length, 'n'), "x")});
    ZipArchive archive;
    ASSERT_TRUE(open_bytes(&archive, zip.bytes));
    ZipEntry entry;
    ZipRecordResult result = zip_read_central(&archive, archive.central_offset, &entry);
    if (length == 511) {
      ASSERT_EQ(result, ZIP_RECORD_OK);
      EXPECT_EQ(strlen(entry.name), 511u);
    } else {
      EXPECT_EQ(result, ZIP_RECORD_NAME_TOO_LONG) << length;
    }
  }
}

TEST(ZipLocal, DataMustLieInsideTheArchive) {
  MadeZip stored = make_zip({stored_entry("a.txt", "hello")});
  MadeZip deflated = make_zip({deflated_entry("a.txt", "hello")});
  struct Case {
    const char* name;
    const MadeZip* zip;
    uint32_t local_offset, compressed, uncompressed;
    bool ok;
  } cases[] = {
      {"stored", &stored, 0, 5, 5, true},
      {"stored, uncompressed size past the end", &stored, 0, 5, 0x7FFFFFFF, false},
      {"stored, compressed size past the end", &stored, 0, 0x7FFFFFFF, 5, false},
      {"deflated, large uncompressed size is the decoder's business", &deflated, 0, 0, 0x7FFFFFFF, true},
      {"local header offset past the end", &stored, 0x10000, 5, 5, false},
      {"local header offset near 4 GiB", &stored, 0xFFFFFFF0u, 5, 5, false},
      {"local header offset on the central header", &stored, stored.central_offset, 5, 5, false},
      {"sizes near 4 GiB", &stored, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, false},
  };
  for (const Case& c : cases) {
    ZipArchive archive;
    ASSERT_TRUE(open_bytes(&archive, c.zip->bytes));
    ZipEntry entry;
    ASSERT_EQ(zip_read_central(&archive, archive.central_offset, &entry), ZIP_RECORD_OK);
    entry.local_offset = c.local_offset;
    if (c.compressed) entry.compressed_size = c.compressed;
    entry.uncompressed_size = c.uncompressed;
    const uint8_t* data = nullptr;
    EXPECT_EQ(zip_locate_data(&archive, &entry, &data), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(data, archive.data + 30 + 5);
    }
  }
  // A local header whose name and extra lengths carry the data past the end.
  std::string bytes = stored.bytes;
  put_le16(bytes, 28, 0xFFFF);
  ZipArchive archive;
  ASSERT_TRUE(open_bytes(&archive, bytes));
  ZipEntry entry;
  ASSERT_EQ(zip_read_central(&archive, archive.central_offset, &entry), ZIP_RECORD_OK);
  const uint8_t* data = nullptr;
  EXPECT_FALSE(zip_locate_data(&archive, &entry, &data));
}

TEST(ZipNames, UnsafeNamesAreRefused) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"readme.txt", true},
      {"dir/sub/file.bin", true},
      {"dir/", true},
      {"a.b/c.d", true},
      {"", true},
      {"../evil", false},
      {"a/../../evil", false},
      {"notes..txt", false},
      {"..", false},
      {"/etc/passwd", false},
      {"\\windows\\x", false},
      {"C:/x", false},
      {"c:x", false},
      {"file:stream", false},
      {"dir\\..\\x", false},
      {"CON", false},
      {"con", false},
      {"nul.txt", false},
      {"Aux.tar.gz", false},
      {"prn", false},
      {"dir/COM1", false},
      {"com9.log", false},
      {"LPT1/inner.txt", false},
      {"lpt5", false},
      {"Con .log", false},
      {"conin$", false},
      {"CONOUT$.txt", false},
      {"COM\xc2\xb9.txt", false},
      {"lpt\xc2\xb3", false},
      {"dir\\nul", false},
      {"COM10.txt", true},
      {"COM0", true},
      {"LPT0.txt", true},
      {"console.txt", true},
      {"nullable", true},
      {"auxiliary/x", true},
      {"xcon", true},
      {"COM\xc2\xb4", true},
  };
  for (const Case& c : cases) EXPECT_EQ(zip_name_is_safe(c.name), c.safe) << "\"" << c.name << "\"";
}

}  // namespace
