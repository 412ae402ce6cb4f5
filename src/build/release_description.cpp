// Text lookups in the build description; see release_description.h.
#include "build/release_description.h"

#include <stdio.h>
#include <string.h>

void find_json_field(const char* text, const char* key, char* out, size_t capacity) {
  if (capacity == 0) return;
  char pattern[JSON_PATTERN_BYTES];
  int n = snprintf(pattern, sizeof pattern, "\"%s\"", key);
  // A cut pattern would be a prefix of the key and could match another one.
  if (n < 0 || (size_t)n >= sizeof pattern) return;

  // The first occurrence wins, wherever it is: the search knows no structure.
  const char* at = strstr(text, pattern);
  if (!at) return;
  const char* p = at + n;
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ' || *p == ':') p++;

  size_t length = 0;
  if (*p == '"') {
    // A string runs to the next double quote; escapes are copied as they are.
    p++;
    while (p[length] && p[length] != '"') length++;
  } else {
    // A bare value (number, true, false, null) ends at a separator.
    while (p[length] && !strchr("\n\r ,}", p[length])) length++;
  }
  if (length > capacity - 1) length = capacity - 1;
  memcpy(out, p, length);
  out[length] = 0;
}

bool parse_release_description(const char* text, ReleaseDescription* desc) {
  memset(desc, 0, sizeof *desc);
  find_json_field(text, "version", desc->version, sizeof desc->version);
  find_json_field(text, "toolchain_version", desc->toolchain_version, sizeof desc->toolchain_version);
  find_json_field(text, "toolchain_file", desc->toolchain_file, sizeof desc->toolchain_file);
  find_json_field(text, "toolchain_sha256", desc->toolchain_sha256, sizeof desc->toolchain_sha256);
  find_json_field(text, "kit_file", desc->kit_file, sizeof desc->kit_file);
  find_json_field(text, "kit_sha256", desc->kit_sha256, sizeof desc->kit_sha256);
  find_json_field(text, "levels", desc->levels, sizeof desc->levels);
  return desc->version[0] && desc->toolchain_file[0] && desc->kit_file[0];
}

bool version_text_is_plain(const char* text) {
  for (const unsigned char* p = (const unsigned char*)text; *p; p++)
    if (*p < 0x20 || *p == 0x7F) return false;
  return true;
}

bool archive_name_is_safe(const char* name) {
  if (!name[0] || !version_text_is_plain(name)) return false;
  return !strchr(name, '\\') && !strchr(name, '/') && !strchr(name, ':') && !strstr(name, "..");
}
