// libFuzzer target for the zip record walk, driven the way the extraction
// drives it: end record, every central header in turn, the name check, the
// local header and the entry's data, and a deflated entry's decode (capped so
// that a claimed size cannot make the fuzzer allocate gigabytes). The archive
// sits in a block of its exact size, so the sanitizers catch any read past it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/inflate.h"
#include "transfer/zip_records.h"

static const uint32_t FUZZ_MAX_OUTPUT = 1u << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  uint8_t* data = (uint8_t*)malloc(size ? size : 1);
  memcpy(data, bytes, size);
  ZipArchive archive;
  if (zip_open(&archive, data, (uint32_t)size)) {
    uint64_t cursor = archive.central_offset;
    static ZipEntry entry;
    for (uint32_t i = 0; i < archive.entry_total; i++) {
      if (zip_read_central(&archive, cursor, &entry) != ZIP_RECORD_OK) break;
      if (strlen(entry.name) > entry.name_length) abort();
      if (zip_name_is_safe(entry.name)) {
        // A safe name never leaves the folder it is joined to.
        if (strstr(entry.name, "..") || strchr(entry.name, ':') || entry.name[0] == '/' || entry.name[0] == '\\')
          abort();
      }
      const uint8_t* start = NULL;
      if (!zip_locate_data(&archive, &entry, &start)) break;
      if (start < data || start + entry.compressed_size > data + size) abort();
      if (entry.method == ZIP_METHOD_DEFLATED && entry.uncompressed_size <= FUZZ_MAX_OUTPUT) {
        uint8_t* out = (uint8_t*)malloc(entry.uncompressed_size ? entry.uncompressed_size : 1);
        inflate_raw(start, entry.compressed_size, out, entry.uncompressed_size);
        free(out);
      }
      cursor = entry.next_cursor;
    }
  }
  free(data);
  return 0;
}
