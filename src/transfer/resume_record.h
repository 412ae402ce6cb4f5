// What an interrupted download keeps beside its partial file, so that a later
// attempt can ask the server for the rest: the address, the length the server
// announced for the whole file and its validator (a strong ETag or a
// Last-Modified date), which the next request sends in If-Range so that a
// changed file comes back whole instead of being appended to the old bytes.
// Also the reading of a 206 answer's Content-Range. Memory in, memory out; no
// Windows header. A record that does not read exactly as written is no record.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
  RESUME_ADDRESS_BYTES = 2400,    // a release address in UTF-8 (1200 UTF-16 units, at most 2 bytes each here)
  RESUME_VALIDATOR_BYTES = 256,   // an ETag or a date, as the server sent it
  RESUME_RECORD_BYTES = 3200,     // the whole record text
};

struct ResumeRecord {
  char address[RESUME_ADDRESS_BYTES];         // the address fetched, UTF-8
  uint64_t length;                            // the whole file's announced length, bytes
  char etag[RESUME_VALIDATOR_BYTES];          // strong ETag with its quotes, or empty
  char last_modified[RESUME_VALIDATOR_BYTES]; // Last-Modified as sent, or empty
};

// True when text can stand in a request header and in the record: 1 to
// RESUME_VALIDATOR_BYTES - 1 printable ASCII characters (a line break would
// end the header and start another).
bool validator_is_plain(const char* text);

// A weak ETag (W/"...") may not be used in If-Range: it names a file that
// may differ byte for byte. True for a plain, strong one.
bool etag_is_strong(const char* text);

// The validator that If-Range sends: the ETag when there is one, else the
// date; null when the record has neither.
const char* resume_validator(const ResumeRecord* record);

// The record as text in out[capacity]; the number of bytes, 0 when a field is
// not plain (an address with a line break, an empty or unusable validator
// pair, a zero length) or the text does not fit.
size_t format_resume_record(const ResumeRecord* record, char* out, size_t capacity);

// Reads a record written by format_resume_record. False (record cleared) for
// anything else: another header line, an unknown, repeated or missing field,
// a length that is not a plain decimal number above zero, no validator.
bool parse_resume_record(const char* text, size_t length, ResumeRecord* record);

// "bytes FIRST-LAST/TOTAL" of a 206 answer, blanks around it allowed. False
// for anything else (a "*" total, LAST before FIRST, LAST not below TOTAL).
bool parse_content_range(const char* text, uint64_t* first, uint64_t* last, uint64_t* total);
