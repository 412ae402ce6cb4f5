// Fixture access; see fixtures.h.
#include "fixtures.h"

#include <stdio.h>
#include <string.h>

std::string fixture_path(const std::string& name) {
  std::string path = std::string(TRANSFER_FIXTURES) + "/" + name;
#ifdef _WIN32
  if (path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

bool read_whole_file(const std::string& path, std::string* bytes) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes->clear();
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->append(chunk, n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

namespace {
struct Reader {
  const std::string& bytes;
  size_t pos;
  bool ok;
  uint32_t u32() {
    if (bytes.size() - pos < 4) {
      ok = false;
      return 0;
    }
    uint32_t v;
    memcpy(&v, bytes.data() + pos, 4);  // little-endian on both targets
    pos += 4;
    return v;
  }
  std::string blob() {
    uint32_t n = u32();
    if (!ok || bytes.size() - pos < n) {
      ok = false;
      return std::string();
    }
    std::string s = bytes.substr(pos, n);
    pos += n;
    return s;
  }
};
}  // namespace

bool load_inflate_cases(InflateCases* cases) {
  static std::string bytes;
  if (bytes.empty() && !read_whole_file(fixture_path("inflate_cases.bin"), &bytes)) return false;
  Reader r{bytes, 0, true};
  uint32_t inputs = r.u32();
  cases->inputs.clear();
  for (uint32_t i = 0; i < inputs && r.ok; i++) cases->inputs.push_back(r.blob());
  uint32_t streams = r.u32();
  cases->streams.clear();
  for (uint32_t i = 0; i < streams && r.ok; i++) {
    InflateCase c;
    c.name = r.blob();
    uint32_t index = r.u32();
    c.stream = r.blob();
    if (index >= cases->inputs.size()) return false;
    c.expected = &cases->inputs[index];
    cases->streams.push_back(c);
  }
  return r.ok && !cases->streams.empty();
}
