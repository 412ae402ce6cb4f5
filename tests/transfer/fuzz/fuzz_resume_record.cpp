// libFuzzer target for what a download reads back from disk and from a
// server before it appends to a partial file: the resume record and a 206
// answer's Content-Range. A record that reads must write back to the same
// text (nothing is taken that the writer would not have written), its
// validator must be plain, and a range that reads must be ordered. The input
// sits in a block of its exact size, so the sanitizers catch any read past it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/resume_record.h"

static ResumeRecord record;
static char text[RESUME_RECORD_BYTES];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* copy = (char*)malloc(size ? size : 1);
  if (size) memcpy(copy, data, size);
  if (parse_resume_record(copy, size, &record)) {
    const char* validator = resume_validator(&record);
    if (!validator || !validator_is_plain(validator) || record.length == 0) abort();
    size_t n = format_resume_record(&record, text, sizeof text);
    // The writer puts the fields in one order; a record that reads in another
    // order still writes a record that reads the same.
    ResumeRecord again;
    if (n == 0 || !parse_resume_record(text, n, &again) || memcmp(&again, &record, sizeof record) != 0) abort();
  }
  // The same bytes as a header value, zero-terminated as WinHTTP hands it over.
  char* header = (char*)malloc(size + 1);
  if (size) memcpy(header, data, size);
  header[size] = 0;
  uint64_t first = 0, last = 0, total = 0;
  if (parse_content_range(header, &first, &last, &total) && !(first <= last && last < total)) abort();
  free(header);
  free(copy);
  return 0;
}
