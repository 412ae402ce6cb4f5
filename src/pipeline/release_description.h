// The release's build description: a small JSON object of string members
// that names the build tools and the build kit of the current release.
//
// The whole text must be one complete object, at most 1 MiB, with blanks
// around it and nothing else: a body cut short or followed by anything is
// refused. Keys count only where keys stand, each at most once; escapes are
// decoded to UTF-8 (a lone surrogate, a bad escape, an escaped zero or text
// that is not UTF-8 is refused). The members below must be strings that fit
// their fields whole; other members may be strings, numbers, true, false or
// null and are skipped, and nested arrays or objects are refused (the object
// is flat). Byte-level: no Windows header, no allocation; values are decoded
// straight into the fixed fields.
#pragma once
#include <stddef.h>

enum {
  RELEASE_VERSION_BYTES = 64,    // version, toolchain_version
  RELEASE_FILE_BYTES = 128,      // toolchain_file, kit_file
  RELEASE_SHA256_BYTES = 80,     // toolchain_sha256, kit_sha256
  RELEASE_LEVELS_BYTES = 256,    // levels
};
enum {
  DESCRIPTION_TEXT_LIMIT = 1048576,  // bytes of description text at most
  DESCRIPTION_MEMBER_LIMIT = 64,     // members of the object at most
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

// Reads the description (zero-terminated) into desc and tells whether it is
// valid: one whole object as above, version, toolchain_file and kit_file
// present and not empty, levels only digits and commas. Blanks around the two
// versions are trimmed, and a version that begins or ends with a quote or a
// blank of another script is refused: the settings file would give its stamp
// back changed. When not valid, desc is left all empty.
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
