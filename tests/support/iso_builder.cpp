// ISO 9660 test images; see iso_builder.h.
#include "support/iso_builder.h"

#include <stdio.h>
#include <string.h>

static const uint32_t SECTOR = 2048;

static void put_both32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) {
    s[at + i] = (char)(v >> (8 * i));
    s[at + 7 - i] = (char)(v >> (8 * i));
  }
}

static std::string directory_record(const std::string& id, uint32_t extent, uint32_t size, uint8_t flags) {
  size_t length = 33 + id.size();
  length += length & 1;  // records have an even length
  std::string r(length, '\0');
  r[0] = (char)length;
  put_both32(r, 2, extent);
  put_both32(r, 10, size);
  r[25] = (char)flags;
  r[32] = (char)id.size();
  memcpy(&r[33], id.data(), id.size());
  return r;
}

std::string reference_boot_file(const std::string& serial) {
  std::string line = "Project Telvar stand-in boot executable for " + serial + "\n";
  std::string data;
  data.reserve(line.size() * 1000);
  for (int i = 0; i < 1000; i++) data += line;
  return data;
}

std::string system_cnf(const std::string& serial) {
  return "BOOT2 = cdrom0:\\" + serial + ";1\r\nVER = 1.00\r\nVMODE = PAL\r\n";
}

std::string build_iso(const IsoLayout& layout) {
  const uint32_t root_sector = 18;
  // First pass: where each record goes, and how long the directory is.
  std::vector<size_t> offsets;
  size_t pos = 68;  // "." and ".." (34 bytes each)
  for (const IsoItem& item : layout.root) {
    offsets.push_back(pos);
    if (item.kind == IsoItem::FILE) {
      size_t length = 33 + item.identifier.size();
      length += length & 1;
      if (pos % SECTOR + length > SECTOR) pos = (pos / SECTOR + 1) * SECTOR;  // never cross a sector
      offsets.back() = pos;
      pos += length;
    } else if (item.kind == IsoItem::PAD_TO_SECTOR) {
      pos = (pos + SECTOR - 1) / SECTOR * SECTOR;
    } else {
      pos = (pos + SECTOR - 1) / SECTOR * SECTOR + SECTOR;  // a whole sector of zeros
    }
  }
  uint32_t root_sectors = (uint32_t)((pos + SECTOR - 1) / SECTOR);
  uint32_t root_bytes = root_sectors * SECTOR;

  // File data follows the directory, each file on its own sectors.
  uint32_t next = root_sector + root_sectors;
  std::vector<uint32_t> extents;
  for (const IsoItem& item : layout.root) {
    extents.push_back(next);
    if (item.kind == IsoItem::FILE) next += (uint32_t)((item.data.size() + SECTOR - 1) / SECTOR);
  }

  std::string image((size_t)next * SECTOR, '\0');
  std::string& pvd = image;
  size_t d = 16 * SECTOR;
  pvd[d] = (char)layout.descriptor_type;
  if (layout.write_cd001) memcpy(&pvd[d + 1], "CD001", 5);
  pvd[d + 6] = 1;
  uint32_t recorded = layout.root_size_override >= 0 ? (uint32_t)layout.root_size_override : root_bytes;
  std::string root_record = directory_record(std::string(1, '\0'), root_sector, recorded, 2);
  memcpy(&pvd[d + 156], root_record.data(), 34);
  // Terminator descriptor at sector 17.
  image[17 * SECTOR] = (char)255;
  memcpy(&image[17 * SECTOR + 1], "CD001", 5);

  size_t root = (size_t)root_sector * SECTOR;
  std::string dot = directory_record(std::string(1, '\0'), root_sector, root_bytes, 2);
  std::string dotdot = directory_record(std::string(1, '\1'), root_sector, root_bytes, 2);
  memcpy(&image[root], dot.data(), 34);
  memcpy(&image[root + 34], dotdot.data(), 34);
  for (size_t i = 0; i < layout.root.size(); i++) {
    const IsoItem& item = layout.root[i];
    if (item.kind != IsoItem::FILE) continue;
    std::string r = directory_record(item.identifier, extents[i], (uint32_t)item.data.size(), 0);
    memcpy(&image[root + offsets[i]], r.data(), r.size());
    if (!item.data.empty()) memcpy(&image[(size_t)extents[i] * SECTOR], item.data.data(), item.data.size());
  }
  return image;
}

std::string build_disc(const std::string& serial, const std::string& boot_data) {
  IsoLayout layout;
  layout.root.push_back({IsoItem::FILE, "SYSTEM.CNF;1", system_cnf(serial)});
  layout.root.push_back({IsoItem::FILE, serial + ";1", boot_data});
  return build_iso(layout);
}

bool write_file(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}
