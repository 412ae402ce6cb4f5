// libFuzzer target for the zip record walk, driven the way the extraction
// drives it: end record, every central header in turn, the name check, the
// local header and the entry's data, and a deflated entry's decode (capped so
// that a claimed size cannot make the fuzzer allocate gigabytes), after the
// survey of overlapping data and the total size, and with every name made fit
// for a message. The archive sits in a block of its exact size, so the
// sanitizers catch any read past it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/inflate.h"
#include "transfer/zip_records.h"

static const uint32_t FUZZ_MAX_OUTPUT = 1u << 20;

static ZipSpan spans[ZIP_MAX_ENTRIES];
// The written entries met by the walk, checked pairwise against the survey's
// verdict (the first few hundred: fuzz inputs are small).
static const uint32_t FUZZ_PAIR_CHECKS = 256;
static ZipSpan walked[FUZZ_PAIR_CHECKS];
static char display[ZIP_DISPLAY_NAME_BYTES];

// A name for a message is valid UTF-8 with no control character.
static void check_display_name(const ZipEntry* entry) {
  zip_display_name(entry, display);
  size_t length = strlen(display);
  if (length >= ZIP_DISPLAY_NAME_BYTES) abort();
  for (size_t i = 0; i < length; i++) {
    uint8_t c = (uint8_t)display[i];
    if (c < 0x20 || c == 0x7F) abort();
    if (c == 0xC2 && i + 1 < length && (uint8_t)display[i + 1] >= 0x80 && (uint8_t)display[i + 1] <= 0x9F) abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  uint8_t* data = (uint8_t*)malloc(size ? size : 1);
  memcpy(data, bytes, size);
  ZipArchive archive;
  if (zip_open(&archive, data, (uint32_t)size)) {
    uint64_t total = 0;
    ZipSurveyResult survey = zip_survey(&archive, spans, &total);
    if (survey == ZIP_SURVEY_OK && total > ZIP_MAX_TOTAL_BYTES) abort();
    uint64_t cursor = archive.central_offset;
    uint32_t walked_count = 0;
    static ZipEntry entry;
    for (uint32_t i = 0; i < archive.entry_total; i++) {
      if (zip_read_central(&archive, cursor, &entry) != ZIP_RECORD_OK) break;
      if (strlen(entry.name) > entry.name_length) abort();
      check_display_name(&entry);
      if (zip_name_is_safe(entry.name)) {
        // A safe name never leaves the folder it is joined to.
        if (strstr(entry.name, "..") || strchr(entry.name, ':') || entry.name[0] == '/' || entry.name[0] == '\\')
          abort();
      }
      const uint8_t* start = NULL;
      if (!zip_locate_data(&archive, &entry, &start)) break;
      if (start < data || start + entry.compressed_size > data + size) abort();
      if (entry.method == ZIP_METHOD_STORED && entry.compressed_size != entry.uncompressed_size) abort();
      if (zip_name_is_safe(entry.name) && !zip_entry_is_folder(&entry) && walked_count < FUZZ_PAIR_CHECKS) {
        ZipSpan span = {entry.local_offset, (uint32_t)(start - data) + entry.compressed_size};
        for (uint32_t k = 0; k < walked_count; k++)
          if (survey == ZIP_SURVEY_OK && span.start < walked[k].end && walked[k].start < span.end) abort();
        walked[walked_count++] = span;
      }
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
