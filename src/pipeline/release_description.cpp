// Text lookups in the build description; see release_description.h.
#include "pipeline/release_description.h"

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

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

// Windows opens a device for these names, whatever the folder and whatever
// follows the first dot: "nul.zip" in the downloads folder is the null device,
// "COM1.zip" a serial port. Blanks before the dot do not count either.
static bool names_a_device(const char* name) {
  static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  size_t length = strcspn(name, ".");
  while (length > 0 && name[length - 1] == ' ') length--;
  char stem[8];
  if (length == 0 || length >= sizeof stem) return false;
  for (size_t i = 0; i < length; i++) stem[i] = ascii_upper(name[i]);
  stem[length] = 0;
  for (const char* device : DEVICES)
    if (strcmp(stem, device) == 0) return true;
  return length == 4 && (strncmp(stem, "COM", 3) == 0 || strncmp(stem, "LPT", 3) == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

bool archive_name_is_safe(const char* name) {
  if (!name[0] || !version_text_is_plain(name)) return false;
  if (strpbrk(name, "\\/:<>\"|?*") || strstr(name, "..")) return false;
  // The platform drops a final dot or blank: the file would get another name,
  // and "." or " " would name the downloads folder itself.
  char last = name[strlen(name) - 1];
  if (last == '.' || last == ' ') return false;
  return !names_a_device(name);
}
