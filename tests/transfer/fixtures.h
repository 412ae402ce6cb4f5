// Access to the fixtures that make_fixtures.py writes at build time, from
// both the native and the Windows test programs.
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

// The fixture folder, as this build's file functions take it (under Wine the
// host's / is drive Z:).
std::string fixture_path(const std::string& name);

// The whole file; false when it cannot be read.
bool read_whole_file(const std::string& path, std::string* bytes);

struct InflateCase {
  std::string name;       // input/level/strategy
  std::string stream;     // raw deflate bytes
  const std::string* expected;  // what the stream decodes to
};
struct InflateCases {
  std::vector<std::string> inputs;
  std::vector<InflateCase> streams;
};
// Reads inflate_cases.bin; false when it is missing or malformed.
bool load_inflate_cases(InflateCases* cases);
