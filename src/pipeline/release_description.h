// The release's build description: a small flat JSON object of string members
// that names the build tools and the build kit of the current release.
//
// It is not parsed as JSON. Each key is looked up by a plain text search for
// the key in double quotes, which is all the flat documents of our releases
// need; escapes are not decoded and structure is not followed. Byte-level:
// no Windows header, no allocation; every value lands in a fixed buffer and is
// cut when longer.
#pragma once
#include <stddef.h>

enum {
  RELEASE_VERSION_BYTES = 64,    // version, toolchain_version
  RELEASE_FILE_BYTES = 128,      // toolchain_file, kit_file
  RELEASE_SHA256_BYTES = 80,     // toolchain_sha256, kit_sha256
  RELEASE_LEVELS_BYTES = 256,    // levels
  JSON_PATTERN_BYTES = 96,       // the quoted key searched for
};

struct ReleaseDescription {
  char version[RELEASE_VERSION_BYTES];            // release version: kit stamp and build stamp
  char toolchain_version[RELEASE_VERSION_BYTES];  // build tools version: toolchain stamp
  char toolchain_file[RELEASE_FILE_BYTES];        // toolchain archive name in the release folder
  char toolchain_sha256[RELEASE_SHA256_BYTES];    // its SHA-256 in hex; empty: not checked
  char kit_file[RELEASE_FILE_BYTES];              // build kit archive name
  char kit_sha256[RELEASE_SHA256_BYTES];          // its SHA-256 in hex; empty: not checked
  char levels[RELEASE_LEVELS_BYTES];              // level list for the script; empty: default
};

// Looks up "key" in text (zero-terminated) and copies its value into out, at
// most capacity - 1 bytes and a terminator. A string value runs to the next
// double quote; a bare value to a line end, blank, comma or closing brace.
// When the key does not occur, out is left untouched.
void find_json_field(const char* text, const char* key, char* out, size_t capacity);

// Clears desc, fills it with the seven lookups and tells whether the three
// required members (version, toolchain_file, kit_file) are all present.
bool parse_release_description(const char* text, ReleaseDescription* desc);

// A version is written into the settings file and the toolchain stamp; a
// control character there (a line end above all) would break those files, so
// such a version is refused. Empty counts as plain.
bool version_text_is_plain(const char* text);

// An archive name is joined to the downloads folder as it stands, so it must
// name a file right there: not empty, no path separator, colon, "..",
// control character or other character Windows refuses in a name, no final
// dot or blank (which Windows drops), and no device name such as NUL or COM1.
bool archive_name_is_safe(const char* name);
