// Zip records over the archive bytes; see zip_records.h.
//
// Every offset and size read from the archive is checked against the buffer
// in 64-bit arithmetic before a byte is touched, so sizes near 4 GiB cannot
// wrap a bound around.
#include "transfer/zip_records.h"

#include <stdlib.h>
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

  entry->flags = (uint16_t)load_le16(header + 8);
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
  // Stored data are the file itself: a larger claimed size would write the
  // bytes of the records that follow, a smaller one a cut file.
  if (entry->method == ZIP_METHOD_STORED && entry->uncompressed_size != entry->compressed_size) return false;
  *data = archive->data + start;
  return true;
}

bool zip_entry_is_folder(const ZipEntry* entry) {
  if (entry->name_length == 0) return true;
  char last = entry->name[entry->name_length - 1];
  return last == '/' || last == '\\';
}

static int compare_span_starts(const void* a, const void* b) {
  uint32_t left = ((const ZipSpan*)a)->start, right = ((const ZipSpan*)b)->start;
  return left < right ? -1 : left > right ? 1 : 0;
}

ZipSurveyResult zip_survey(const ZipArchive* archive, ZipSpan* spans, uint64_t* total) {
  ZipEntry entry;
  uint32_t count = 0;
  uint64_t sum = 0;
  uint64_t cursor = archive->central_offset;
  for (uint32_t i = 0; i < archive->entry_total && i < ZIP_MAX_ENTRIES; i++) {
    if (zip_read_central(archive, cursor, &entry) != ZIP_RECORD_OK) break;
    cursor = entry.next_cursor;
    if (!zip_name_is_safe(entry.name) || zip_entry_is_folder(&entry)) continue;  // never written
    const uint8_t* data = NULL;
    if (!zip_locate_data(archive, &entry, &data)) break;
    spans[count].start = entry.local_offset;
    spans[count].end = (uint32_t)(data - archive->data) + entry.compressed_size;  // inside the archive
    count++;
    sum += entry.uncompressed_size;
  }
  *total = sum;
  // Sorted by their local headers, each span must begin at or after the
  // furthest end of those before it; records that share a local header (the
  // way a few hundred kilobytes unpack to gigabytes) always collide.
  qsort(spans, count, sizeof *spans, compare_span_starts);
  uint32_t furthest = 0;
  for (uint32_t i = 0; i < count; i++) {
    if (i > 0 && spans[i].start < furthest) return ZIP_SURVEY_OVERLAP;
    if (spans[i].end > furthest) furthest = spans[i].end;
  }
  return sum > ZIP_MAX_TOTAL_BYTES ? ZIP_SURVEY_TOO_LARGE : ZIP_SURVEY_OK;
}

// Code page 437 above 0x7F, the code page zip names are written in when
// flag bit 11 is clear.
static const uint16_t CP437_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

static const uint32_t NOT_DECODED = 0xFFFFFFFFu;

// Decodes one UTF-8 sequence at p (n bytes left): the code point and its
// length, or NOT_DECODED for a byte that begins no valid sequence (overlong
// forms, surrogates and values above U+10FFFF included).
static uint32_t decode_utf8(const uint8_t* p, uint32_t n, uint32_t* length) {
  *length = 1;
  uint8_t lead = p[0];
  if (lead < 0x80) return lead;
  uint32_t count, value, least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return NOT_DECODED;
  }
  if (count > n) return NOT_DECODED;
  for (uint32_t i = 1; i < count; i++) {
    if ((p[i] & 0xC0) != 0x80) return NOT_DECODED;
    value = value << 6 | (p[i] & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return NOT_DECODED;
  *length = count;
  return value;
}

static bool is_valid_utf8(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0, step = 0; i < n; i += step)
    if (decode_utf8(p + i, n - i, &step) == NOT_DECODED) return false;
  return true;
}

static char* put_utf8(char* out, uint32_t value) {
  if (value < 0x80) {
    *out++ = (char)value;
  } else if (value < 0x800) {
    *out++ = (char)(0xC0 | value >> 6);
    *out++ = (char)(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    *out++ = (char)(0xE0 | value >> 12);
    *out++ = (char)(0x80 | (value >> 6 & 0x3F));
    *out++ = (char)(0x80 | (value & 0x3F));
  } else {
    *out++ = (char)(0xF0 | value >> 18);
    *out++ = (char)(0x80 | (value >> 12 & 0x3F));
    *out++ = (char)(0x80 | (value >> 6 & 0x3F));
    *out++ = (char)(0x80 | (value & 0x3F));
  }
  return out;
}

void zip_display_name(const ZipEntry* entry, char* out) {
  const uint8_t* name = (const uint8_t*)entry->name;
  uint32_t n = entry->name_length < ZIP_NAME_UNITS ? entry->name_length : ZIP_NAME_UNITS - 1;
  bool utf8 = (entry->flags & ZIP_FLAG_UTF8) || is_valid_utf8(name, n);
  // Every input byte gives at most 3 output bytes: a code page 437 character,
  // a '?', or its share of a UTF-8 sequence (4 bytes give 4).
  for (uint32_t i = 0, step = 1; i < n; i += step) {
    uint32_t value;
    step = 1;
    if (utf8) {
      value = decode_utf8(name + i, n - i, &step);
    } else {
      value = name[i] < 0x80 ? name[i] : CP437_HIGH[name[i] - 0x80];
    }
    bool control = value < 0x20 || value == 0x7F || (value >= 0x80 && value <= 0x9F);
    if (value == NOT_DECODED || control) value = '?';
    out = put_utf8(out, value);
  }
  *out = 0;
}
