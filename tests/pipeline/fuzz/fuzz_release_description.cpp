// Fuzzes the build description reader over any text. Every field stays
// terminated inside its buffer; a refused text leaves the record empty; a
// valid one has its three required members, plain levels and trimmed
// versions, reads the same when written out again as JSON, and is refused
// once its closing brace is cut off or anything but blanks follows it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "pipeline/release_description.h"

static const char* const KEYS[] = {"version",  "toolchain_version", "toolchain_file", "toolchain_sha256",
                                   "kit_file", "kit_sha256",        "levels"};

static void fields_of(ReleaseDescription& d, const char* (&fields)[7], size_t (&sizes)[7]) {
  const char* f[] = {d.version, d.toolchain_version, d.toolchain_file, d.toolchain_sha256,
                     d.kit_file, d.kit_sha256,       d.levels};
  const size_t s[] = {sizeof d.version,  sizeof d.toolchain_version, sizeof d.toolchain_file,
                      sizeof d.toolchain_sha256, sizeof d.kit_file, sizeof d.kit_sha256, sizeof d.levels};
  for (int i = 0; i < 7; i++) {
    fields[i] = f[i];
    sizes[i] = s[i];
  }
}

// The description written out as JSON: quotes, backslashes and control
// characters escaped, everything else as it stands.
static std::string write_json(const char* const (&fields)[7]) {
  std::string out = "{";
  for (int i = 0; i < 7; i++) {
    out += i ? ",\n\"" : "\"";
    out += KEYS[i];
    out += "\": \"";
    for (const unsigned char* p = (const unsigned char*)fields[i]; *p; p++) {
      if (*p == '"' || *p == '\\') {
        out += '\\';
        out += (char)*p;
      } else if (*p < 0x20) {
        static const char HEX[] = "0123456789abcdef";
        out += "\\u00";
        out += HEX[*p >> 4];
        out += HEX[*p & 15];
      } else {
        out += (char)*p;
      }
    }
    out += "\"";
  }
  return out + "}";
}

static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(strlen(text.c_str()));  // the reader sees the text up to its first zero byte
  ReleaseDescription desc;
  bool valid = parse_release_description(text.c_str(), &desc);
  const char* fields[7];
  size_t sizes[7];
  fields_of(desc, fields, sizes);
  for (int i = 0; i < 7; i++) {
    if (!memchr(fields[i], 0, sizes[i])) abort();
    if (!valid && fields[i][0]) abort();
    archive_name_is_safe(fields[i]);
  }
  if (!valid) return 0;

  if (!desc.version[0] || !desc.toolchain_file[0] || !desc.kit_file[0]) abort();
  if (strspn(desc.levels, "0123456789,") != strlen(desc.levels)) abort();
  for (const char* version : {desc.version, desc.toolchain_version}) {
    size_t n = strlen(version);
    if (n && (version[0] == ' ' || version[n - 1] == ' ')) abort();
  }

  ReleaseDescription again;
  std::string written = write_json(fields);
  if (!parse_release_description(written.c_str(), &again)) abort();
  if (memcmp(&again, &desc, sizeof desc) != 0) abort();

  // Cut before its closing brace, at the end or at a point the input picks.
  size_t end = text.size();
  while (end > 0 && is_blank(text[end - 1])) end--;
  if (end == 0 || text[end - 1] != '}') abort();
  std::string cut = text.substr(0, end - 1);
  if (parse_release_description(cut.c_str(), &again)) abort();
  cut = text.substr(0, (size > 0 ? data[0] * 4099u : 0u) % end);
  if (parse_release_description(cut.c_str(), &again)) abort();
  std::string followed = text + (size > 1 && !is_blank((char)data[1]) && data[1] ? (char)data[1] : 'x');
  if (parse_release_description(followed.c_str(), &again)) abort();
  return 0;
}
