// Fuzzes the build description lookups over any text: every field stays
// terminated inside its buffer, a valid description has its three required
// members, and a lookup never writes past the capacity it was given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "pipeline/release_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated by c_str()
  ReleaseDescription desc;
  bool valid = parse_release_description(text.c_str(), &desc);
  const char* fields[] = {desc.version, desc.toolchain_version, desc.toolchain_file, desc.toolchain_sha256,
                          desc.kit_file, desc.kit_sha256, desc.levels};
  const size_t sizes[] = {sizeof desc.version,    sizeof desc.toolchain_version, sizeof desc.toolchain_file,
                          sizeof desc.toolchain_sha256, sizeof desc.kit_file,    sizeof desc.kit_sha256,
                          sizeof desc.levels};
  for (int i = 0; i < 7; i++) {
    if (!memchr(fields[i], 0, sizes[i])) abort();
    archive_name_is_safe(fields[i]);
  }
  if (valid != (desc.version[0] && desc.toolchain_file[0] && desc.kit_file[0])) abort();

  // A small capacity with guard bytes after it: nothing may land there.
  char small[8 + 4];
  memset(small, 0x5A, sizeof small);
  find_json_field(text.c_str(), "version", small, 8);
  for (int i = 8; i < 12; i++)
    if (small[i] != 0x5A) abort();
  return 0;
}
