// The build description reader and the checks of its values; see
// release_description.h.
//
// The text is read once from its first byte to its last as one JSON object
// (RFC 8259): blanks, "{", members separated by commas, "}", blanks, and
// nothing else. Each member's key is decoded and compared whole with the
// names below, so a name inside a value never counts. Memory: the key
// offsets of the members read so far (for the duplicate test) and one decoded
// key, on the stack; the values are decoded straight into their fields.
#include "pipeline/release_description.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum {
  KEY_BYTES = 24,  // a decoded key longer than this is none of ours
};

// The members the launcher reads, and where each one lands.
struct DescriptionMember {
  const char* key;
  size_t offset;    // of the field in ReleaseDescription
  size_t capacity;  // bytes of the field, terminator included
};

static const DescriptionMember MEMBERS[] = {
    {"version", offsetof(ReleaseDescription, version), RELEASE_VERSION_BYTES},
    {"toolchain_version", offsetof(ReleaseDescription, toolchain_version), RELEASE_VERSION_BYTES},
    {"toolchain_file", offsetof(ReleaseDescription, toolchain_file), RELEASE_FILE_BYTES},
    {"toolchain_sha256", offsetof(ReleaseDescription, toolchain_sha256), RELEASE_SHA256_BYTES},
    {"kit_file", offsetof(ReleaseDescription, kit_file), RELEASE_FILE_BYTES},
    {"kit_sha256", offsetof(ReleaseDescription, kit_sha256), RELEASE_SHA256_BYTES},
    {"levels", offsetof(ReleaseDescription, levels), RELEASE_LEVELS_BYTES},
};

// The text being read: from at up to end, never beyond.
struct JsonCursor {
  const uint8_t* at;
  const uint8_t* end;
};

// JSON's four blanks: space, tab, line feed, carriage return.
static void skip_blanks(JsonCursor* c) {
  while (c->at < c->end && (*c->at == ' ' || *c->at == '\t' || *c->at == '\n' || *c->at == '\r')) c->at++;
}

// Takes the byte when it is next; false otherwise.
static bool take(JsonCursor* c, uint8_t byte) {
  if (c->at >= c->end || *c->at != byte) return false;
  c->at++;
  return true;
}

static int hex_digit(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;
}

// The four hex digits of a "\u" escape, the "\u" already taken; -1 when bad.
static int32_t read_hex4(JsonCursor* c) {
  if (c->end - c->at < 4) return -1;
  int32_t unit = 0;
  for (int i = 0; i < 4; i++) {
    int digit = hex_digit(c->at[i]);
    if (digit < 0) return -1;
    unit = unit << 4 | digit;
  }
  c->at += 4;
  return unit;
}

static int encode_utf8(uint32_t code, uint8_t out[4]) {
  if (code < 0x80) {
    out[0] = (uint8_t)code;
    return 1;
  }
  if (code < 0x800) {
    out[0] = (uint8_t)(0xC0 | code >> 6);
    out[1] = (uint8_t)(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = (uint8_t)(0xE0 | code >> 12);
    out[1] = (uint8_t)(0x80 | (code >> 6 & 0x3F));
    out[2] = (uint8_t)(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = (uint8_t)(0xF0 | code >> 18);
  out[1] = (uint8_t)(0x80 | (code >> 12 & 0x3F));
  out[2] = (uint8_t)(0x80 | (code >> 6 & 0x3F));
  out[3] = (uint8_t)(0x80 | (code & 0x3F));
  return 4;
}

// "\u" escapes: one code unit, or a high and a low surrogate in two escapes
// for a character beyond U+FFFF. A lone surrogate names no character, and
// U+0000 would end the zero-terminated field early: both are refused.
static int decode_unicode_escape(JsonCursor* c, uint8_t out[4]) {
  int32_t unit = read_hex4(c);
  if (unit <= 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return -1;
  uint32_t code = (uint32_t)unit;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (!take(c, '\\') || !take(c, 'u')) return -1;
    int32_t low = read_hex4(c);
    if (low < 0xDC00 || low > 0xDFFF) return -1;
    code = 0x10000 + ((uint32_t)(unit - 0xD800) << 10) + (uint32_t)(low - 0xDC00);
  }
  return encode_utf8(code, out);
}

// One UTF-8 character as it stands in the text, checked the way RFC 3629
// draws the lines: no overlong forms, no surrogates, nothing past U+10FFFF.
static int copy_utf8(JsonCursor* c, uint8_t out[4]) {
  uint8_t lead = c->at[0];
  int length;
  uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  if (c->end - c->at < length) return -1;
  if (c->at[1] < low || c->at[1] > high) return -1;
  for (int i = 2; i < length; i++)
    if (c->at[i] < 0x80 || c->at[i] > 0xBF) return -1;
  memcpy(out, c->at, (size_t)length);
  c->at += length;
  return length;
}

// One character of a string, the opening quote already taken: its UTF-8
// bytes in out and their count; 0 at the closing quote (taken); -1 when the
// string is not valid JSON or not UTF-8, or the text ends inside it.
static int string_step(JsonCursor* c, uint8_t out[4]) {
  if (c->at >= c->end) return -1;
  uint8_t b = *c->at;
  if (b == '"') {
    c->at++;
    return 0;
  }
  if (b < 0x20) return -1;  // control characters appear only escaped
  if (b >= 0x80) return copy_utf8(c, out);
  c->at++;
  if (b != '\\') {
    out[0] = b;
    return 1;
  }
  if (c->at >= c->end) return -1;
  static const char ESCAPES[] = "\"\\/bfnrt";
  static const char DECODED[] = "\"\\/\b\f\n\r\t";
  uint8_t e = *c->at++;
  if (e == 'u') return decode_unicode_escape(c, out);
  const char* known = e ? strchr(ESCAPES, e) : NULL;
  if (!known) return -1;
  out[0] = (uint8_t)DECODED[known - ESCAPES];
  return 1;
}

enum StringResult { STRING_BAD, STRING_FITS, STRING_TOO_LONG };

// Reads a string, the opening quote already taken, through its closing
// quote. Its decoded bytes go to out[capacity] with a terminator when they
// fit whole; a string that does not fit is still read to its end (so that
// the caller can tell a long string from a bad one) and out holds nothing.
static StringResult read_string(JsonCursor* c, char* out, size_t capacity) {
  size_t length = 0;
  bool fits = capacity > 0;
  for (;;) {
    uint8_t bytes[4];
    int n = string_step(c, bytes);
    if (n < 0) return STRING_BAD;
    if (n == 0) break;
    if (fits && length + (size_t)n < capacity) {
      memcpy(out + length, bytes, (size_t)n);
      length += (size_t)n;
    } else {
      fits = false;
    }
  }
  if (capacity > 0) out[fits ? length : 0] = 0;
  return fits ? STRING_FITS : STRING_TOO_LONG;
}

// Two keys already read once, each from just after its opening quote:
// equal when their decoded bytes are.
static bool same_key(const uint8_t* a, const uint8_t* b, const uint8_t* end) {
  JsonCursor ca = {a, end}, cb = {b, end};
  for (;;) {
    uint8_t x[4], y[4];
    int nx = string_step(&ca, x), ny = string_step(&cb, y);
    if (nx != ny || memcmp(x, y, (size_t)(nx > 0 ? nx : 0)) != 0) return false;
    if (nx <= 0) return nx == 0;
  }
}

// A number as JSON writes one: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
static bool skip_number(JsonCursor* c) {
  take(c, '-');
  auto digits = [c]() {
    const uint8_t* start = c->at;
    while (c->at < c->end && *c->at >= '0' && *c->at <= '9') c->at++;
    return c->at > start;
  };
  if (take(c, '0')) {
    // A leading zero stands alone.
  } else if (!digits()) {
    return false;
  }
  if (take(c, '.') && !digits()) return false;
  if (take(c, 'e') || take(c, 'E')) {
    if (!take(c, '+')) take(c, '-');
    if (!digits()) return false;
  }
  return true;
}

static bool skip_literal(JsonCursor* c, const char* word) {
  size_t n = strlen(word);
  if ((size_t)(c->end - c->at) < n || memcmp(c->at, word, n) != 0) return false;
  c->at += n;
  return true;
}

// The value of a member this launcher does not read: a string, a number,
// true, false or null. What follows is checked by the caller, so "truex" or
// "12a" fails there.
static bool skip_scalar(JsonCursor* c) {
  if (c->at >= c->end) return false;
  uint8_t b = *c->at;
  if (b == '"') {
    c->at++;
    return read_string(c, NULL, 0) != STRING_BAD;
  }
  if (b == '-' || (b >= '0' && b <= '9')) return skip_number(c);
  return skip_literal(c, "true") || skip_literal(c, "false") || skip_literal(c, "null");
}

static const DescriptionMember* find_member(const char* key) {
  for (const DescriptionMember& m : MEMBERS)
    if (strcmp(m.key, key) == 0) return &m;
  return NULL;
}

// One "key": value, the cursor on the key's opening quote. key_starts holds
// where the keys of the members before begin; this key is added.
static bool read_member(JsonCursor* c, const uint8_t** key_starts, int* count, ReleaseDescription* desc) {
  if (*count == DESCRIPTION_MEMBER_LIMIT || !take(c, '"')) return false;
  const uint8_t* key_start = c->at;
  char key[KEY_BYTES];
  if (read_string(c, key, sizeof key) == STRING_BAD) return false;
  // A key given twice leaves it open which value counts: refused.
  for (int i = 0; i < *count; i++)
    if (same_key(key_starts[i], key_start, c->end)) return false;
  key_starts[(*count)++] = key_start;

  skip_blanks(c);
  if (!take(c, ':')) return false;
  skip_blanks(c);
  // An empty key buffer means a key too long to be one of ours.
  const DescriptionMember* member = key[0] ? find_member(key) : NULL;
  if (!member) return skip_scalar(c);
  // Ours are strings, decoded whole into their field: cut, a file name would
  // name another file and a checksum test another sum.
  return take(c, '"') && read_string(c, (char*)desc + member->offset, member->capacity) == STRING_FITS;
}

static bool read_object(JsonCursor* c, ReleaseDescription* desc) {
  const uint8_t* key_starts[DESCRIPTION_MEMBER_LIMIT];
  int count = 0;
  skip_blanks(c);
  if (!take(c, '{')) return false;
  skip_blanks(c);
  if (!take(c, '}')) {
    for (;;) {
      if (!read_member(c, key_starts, &count, desc)) return false;
      skip_blanks(c);
      if (take(c, '}')) break;
      if (!take(c, ',')) return false;
      skip_blanks(c);
    }
  }
  skip_blanks(c);
  return c->at == c->end;
}

// Blanks around a version are trimmed: the settings file gives a stamp back
// without them, and a stamp that never equals its version would clear the
// build output at every job.
static void trim_blanks(char* text) {
  size_t length = strlen(text), start = 0;
  while (start < length && text[start] == ' ') start++;
  while (length > start && text[length - 1] == ' ') length--;
  size_t kept = length - start;
  memmove(text, text + start, kept);
  // Zero what the blanks held, so that the record reads the same as one
  // made from the trimmed text.
  memset(text + kept, 0, strlen(text + kept));
}

// Characters at either end that the settings file may drop or change when it
// reads a stamp back: a quote (a pair of them is removed) and the blanks of
// other scripts (no-break and wide spaces, which some readers trim as well).
// A version that starts or ends with one cannot be stamped faithfully.
static bool is_unstable_edge(const uint8_t* p, size_t n) {
  static const char* const EDGES[] = {
      "\"",           "'",
      "\xC2\x85",     "\xC2\xA0",     // next line, no-break space
      "\xE1\x9A\x80",                 // ogham space mark
      "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",  // separators, narrow spaces
      "\xE3\x80\x80", "\xEF\xBB\xBF",  // ideographic space, zero-width no-break space
  };
  for (const char* edge : EDGES)
    if (strlen(edge) == n && memcmp(p, edge, n) == 0) return true;
  // U+2000 to U+200A: the typographic spaces.
  return n == 3 && p[0] == 0xE2 && p[1] == 0x80 && p[2] >= 0x80 && p[2] <= 0x8A;
}

// The length of the UTF-8 character ending just before end.
static size_t last_character_length(const uint8_t* start, const uint8_t* end) {
  size_t n = 1;
  while (end - n > start && (end[-(ptrdiff_t)n] & 0xC0) == 0x80 && n < 4) n++;
  return n;
}

static size_t first_character_length(const uint8_t* p) {
  return p[0] < 0x80 ? 1 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : 4;
}

// Trims the blanks, then tells whether the version survives the settings file.
static bool settle_version(char* version) {
  trim_blanks(version);
  size_t length = strlen(version);
  if (length == 0) return true;
  const uint8_t* p = (const uint8_t*)version;
  return !is_unstable_edge(p, first_character_length(p)) &&
         !is_unstable_edge(p + length - last_character_length(p, p + length), last_character_length(p, p + length));
}

// The level list reaches the build script's command line as it stands:
// numbers and commas only, so that it can never add an argument.
static bool levels_are_plain(const char* levels) {
  for (const char* p = levels; *p; p++)
    if (!(*p >= '0' && *p <= '9') && *p != ',') return false;
  return true;
}

bool parse_release_description(const char* text, ReleaseDescription* desc) {
  memset(desc, 0, sizeof *desc);
  // The length first, and never more than the limit looked at.
  size_t length = 0;
  while (length <= DESCRIPTION_TEXT_LIMIT && text[length]) length++;
  if (length > DESCRIPTION_TEXT_LIMIT) return false;

  JsonCursor c = {(const uint8_t*)text, (const uint8_t*)text + length};
  // A byte order mark is no part of the text (RFC 8259 lets a reader ignore it);
  // some Windows editors put one before UTF-8.
  if (length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) c.at += 3;
  bool valid = read_object(&c, desc) && settle_version(desc->version) &&
               settle_version(desc->toolchain_version) && levels_are_plain(desc->levels) && desc->version[0] &&
               desc->toolchain_file[0] && desc->kit_file[0];
  // A refused description leaves nothing behind that a caller could use.
  if (!valid) memset(desc, 0, sizeof *desc);
  return valid;
}

bool version_text_is_plain(const char* text) {
  for (const unsigned char* p = (const unsigned char*)text; *p; p++)
    if (*p < 0x20 || *p == 0x7F) return false;
  return true;
}

static char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

// Windows opens a device for these names, whatever the folder and whatever
// follows the first dot: "nul.zip" in the downloads folder is the null device,
// "COM1.zip" a serial port. Blanks before the dot do not count either. The
// port numbers run from 0 to 9, and the superscript digits one to three
// (U+00B9, U+00B2, U+00B3) count as digits there as well.
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
  if (length < 4 || (strncmp(stem, "COM", 3) != 0 && strncmp(stem, "LPT", 3) != 0)) return false;
  const char* digit = stem + 3;
  if (length == 4) return digit[0] >= '0' && digit[0] <= '9';
  return length == 5 && digit[0] == '\xC2' && (digit[1] == '\xB9' || digit[1] == '\xB2' || digit[1] == '\xB3');
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
