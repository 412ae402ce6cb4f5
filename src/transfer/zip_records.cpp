// Zip records over the archive bytes; see zip_records.h.
//
// Every offset and size read from the archive is checked against the buffer
// in 64-bit arithmetic before a byte is touched, so sizes near 4 GiB cannot
// wrap a bound around.
#include "transfer/zip_records.h"

#include <string.h>

enum : uint32_t {
  ZIP_END_SIGNATURE = 0x06054b50,
  ZIP_CENTRAL_SIGNATURE = 0x02014b50,
  ZIP_LOCAL_SIGNATURE = 0x04034b50,
};

static inline uint32_t load_le16(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
static inline uint32_t load_le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool zip_open(ZipArchive* archive, const uint8_t* data, uint32_t size) {
  memset(archive, 0, sizeof *archive);
  archive->data = data;
  archive->size = size;
  if (size < ZIP_END_RECORD_SIZE) return false;
  // The record sits before a comment of up to 65535 bytes; the first match
  // from the end wins, so a signature inside the comment can only shadow the
  // real record when it lies after it.
  uint32_t highest = size - ZIP_END_RECORD_SIZE;
  uint32_t lowest = highest > ZIP_MAX_COMMENT ? highest - ZIP_MAX_COMMENT : 0;
  for (uint32_t pos = highest + 1; pos-- > lowest;) {
    const uint8_t* record = data + pos;
    if (load_le32(record) != ZIP_END_SIGNATURE) continue;
    archive->entry_total = load_le16(record + 10);
    archive->central_offset = load_le32(record + 16);
    return true;
  }
  return false;
}

ZipRecordResult zip_read_central(const ZipArchive* archive, uint64_t cursor, ZipEntry* entry) {
  if (cursor + ZIP_CENTRAL_HEADER_SIZE > archive->size) return ZIP_RECORD_DAMAGED;
  const uint8_t* header = archive->data + cursor;
  uint32_t name_length = load_le16(header + 28);
  if (cursor + ZIP_CENTRAL_HEADER_SIZE + name_length > archive->size) return ZIP_RECORD_DAMAGED;
  if (load_le32(header) != ZIP_CENTRAL_SIGNATURE) return ZIP_RECORD_DAMAGED;
  if (name_length >= ZIP_NAME_UNITS) return ZIP_RECORD_NAME_TOO_LONG;

  entry->method = (uint16_t)load_le16(header + 10);
  entry->dos_time = (uint16_t)load_le16(header + 12);
  entry->dos_date = (uint16_t)load_le16(header + 14);
  entry->compressed_size = load_le32(header + 20);
  entry->uncompressed_size = load_le32(header + 24);
  entry->local_offset = load_le32(header + 42);
  entry->name_length = name_length;
  memcpy(entry->name, header + ZIP_CENTRAL_HEADER_SIZE, name_length);
  entry->name[name_length] = 0;
  uint32_t extra_length = load_le16(header + 30);
  uint32_t comment_length = load_le16(header + 32);
  entry->next_cursor = cursor + ZIP_CENTRAL_HEADER_SIZE + name_length + extra_length + comment_length;
  return ZIP_RECORD_OK;
}

static inline char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

// True when the component [begin, end) names a device. Windows looks at the
// part before the first dot with trailing spaces removed, so "nul.txt",
// "Aux.tar.gz" and "con .log" are devices as well.
static bool is_device_component(const char* begin, const char* end) {
  const char* stem_end = begin;
  while (stem_end < end && *stem_end != '.') stem_end++;
  while (stem_end > begin && stem_end[-1] == ' ') stem_end--;
  size_t n = (size_t)(stem_end - begin);
  if (n < 3 || n > 7) return false;
  char stem[8] = {0};  // at most 7 characters and the terminator
  for (size_t i = 0; i < n; i++) stem[i] = upper_ascii(begin[i]);
  if (n == 3)
    return strcmp(stem, "CON") == 0 || strcmp(stem, "PRN") == 0 || strcmp(stem, "AUX") == 0 ||
           strcmp(stem, "NUL") == 0;
  if (strcmp(stem, "CONIN$") == 0 || strcmp(stem, "CONOUT$") == 0) return true;
  bool port = strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0;
  if (!port) return false;
  if (n == 4) return stem[3] >= '1' && stem[3] <= '9';
  // Superscript one, two and three (UTF-8 C2 B9, C2 B2, C2 B3) count as digits.
  return n == 5 && (uint8_t)stem[3] == 0xC2 &&
         ((uint8_t)stem[4] == 0xB9 || (uint8_t)stem[4] == 0xB2 || (uint8_t)stem[4] == 0xB3);
}

bool zip_name_is_safe(const char* name) {
  if (strstr(name, "..")) return false;            // even inside a name such as notes..txt
  if (name[0] == '/' || name[0] == '\\') return false;  // absolute
  if (strchr(name, ':')) return false;             // a drive, or a file stream
  const char* component = name;
  for (const char* p = name;; p++) {
    if (*p == '/' || *p == '\\' || *p == 0) {
      if (is_device_component(component, p)) return false;
      if (*p == 0) break;
      component = p + 1;
    }
  }
  return true;
}

bool zip_locate_data(const ZipArchive* archive, const ZipEntry* entry, const uint8_t** data) {
  uint64_t local = entry->local_offset;
  if (local + ZIP_LOCAL_HEADER_SIZE > archive->size) return false;
  const uint8_t* header = archive->data + local;
  if (load_le32(header) != ZIP_LOCAL_SIGNATURE) return false;
  uint64_t start = local + ZIP_LOCAL_HEADER_SIZE + load_le16(header + 26) + load_le16(header + 28);
  if (start + entry->compressed_size > archive->size) return false;
  if (entry->method == ZIP_METHOD_STORED && start + entry->uncompressed_size > archive->size) return false;
  *data = archive->data + start;
  return true;
}
