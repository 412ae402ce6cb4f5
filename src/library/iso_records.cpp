// ISO 9660 volume descriptor and directory records, and the BOOT2 line of
// SYSTEM.CNF; see iso_records.h. Multi-byte fields are read from the
// little-endian half of ISO 9660's both-endian fields.
#include "library/iso_records.h"

#include <string.h>

static uint32_t load_le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }

bool iso_parse_descriptor(const uint8_t* descriptor, uint32_t* root_extent, uint32_t* root_size) {
  if (memcmp(descriptor + 1, "CD001", 5) != 0) return false;
  // The root directory record sits at offset 156; its extent at +2, its length at +10.
  *root_extent = load_le32(descriptor + 158);
  *root_size = load_le32(descriptor + 166);
  return true;
}

enum {
  RECORD_EXTENT = 2,   // location of the extent, in sectors
  RECORD_SIZE = 10,    // data length, in bytes
  RECORD_ID_LENGTH = 32,
  RECORD_ID = 33,      // the identifier itself
};

static bool identifier_matches(const uint8_t* id, uint32_t id_length, const char* name, uint32_t n) {
  if (id_length < n) return false;
  for (uint32_t i = 0; i < n; i++)
    if (ascii_upper((char)id[i]) != ascii_upper(name[i])) return false;
  return id_length == n || id[n] == ';';
}

bool iso_scan_directory(const uint8_t* data, uint32_t loaded, const char* name, uint32_t name_length,
                        IsoFileRecord* found) {
  uint32_t p = 0;
  while (p < loaded) {
    uint32_t record_length = data[p];
    if (record_length == 0) {
      // Records never cross a sector boundary; a zero byte pads out the sector.
      p = p / ISO_SECTOR_BYTES * ISO_SECTOR_BYTES + ISO_SECTOR_BYTES;
      continue;
    }
    if (loaded - p < RECORD_ID) return false;
    uint32_t id_length = data[p + RECORD_ID_LENGTH];
    if (loaded - p - RECORD_ID < id_length) return false;
    if (identifier_matches(data + p + RECORD_ID, id_length, name, name_length)) {
      found->extent = load_le32(data + p + RECORD_EXTENT);
      found->size = load_le32(data + p + RECORD_SIZE);
      return true;
    }
    p += record_length;
  }
  return false;
}

void parse_boot2_serial(const char* text, char* serial, size_t capacity) {
  serial[0] = 0;
  const char* key = strstr(text, "BOOT2");
  if (!key) return;
  const char* slash = strchr(key, '\\');
  if (!slash) return;
  size_t n = strcspn(slash + 1, "\r\n;");
  if (n > capacity - 1) n = capacity - 1;
  memcpy(serial, slash + 1, n);
  serial[n] = 0;
}
