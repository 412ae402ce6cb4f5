// The resume record and Content-Range; see resume_record.h. The record is a
// few lines of "key value" text after a first line naming its format, so that
// a person looking into downloads\ can read it and a stray file of another
// kind is never taken for one.
#include "transfer/resume_record.h"

#include <string.h>

static const char RECORD_HEADER[] = "telvar partial download 1";

static bool printable(char c) { return c >= 0x20 && c <= 0x7e; }

bool validator_is_plain(const char* text) {
  size_t length = strlen(text);
  if (length == 0 || length >= RESUME_VALIDATOR_BYTES) return false;
  for (size_t i = 0; i < length; i++)
    if (!printable(text[i])) return false;
  return true;
}

bool etag_is_strong(const char* text) {
  size_t length = strlen(text);
  // entity-tag = [ weak ] DQUOTE *etagc DQUOTE (RFC 9110, 8.8.3)
  return validator_is_plain(text) && length >= 2 && text[0] == '"' && text[length - 1] == '"';
}

const char* resume_validator(const ResumeRecord* record) {
  if (record->etag[0]) return record->etag;
  if (record->last_modified[0]) return record->last_modified;
  return NULL;
}

// Appends text to out at *used; false when it does not fit with a terminator.
static bool append(char* out, size_t capacity, size_t* used, const char* text) {
  size_t length = strlen(text);
  if (*used + length + 1 > capacity) return false;
  memcpy(out + *used, text, length + 1);
  *used += length;
  return true;
}

static void decimal(uint64_t value, char (&out)[24]) {
  char reversed[24];
  int n = 0;
  do {
    reversed[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  for (int i = 0; i < n; i++) out[i] = reversed[n - 1 - i];
  out[n] = 0;
}

static bool address_is_plain(const char* text) {
  size_t length = strnlen(text, RESUME_ADDRESS_BYTES);
  if (length == 0 || length >= RESUME_ADDRESS_BYTES) return false;
  for (size_t i = 0; i < length; i++)
    if ((unsigned char)text[i] < 0x20 || text[i] == 0x7f) return false;  // UTF-8 beyond ASCII is fine
  return true;
}

size_t format_resume_record(const ResumeRecord* record, char* out, size_t capacity) {
  if (capacity) out[0] = 0;
  if (!address_is_plain(record->address) || record->length == 0) return 0;
  if (record->etag[0] && !etag_is_strong(record->etag)) return 0;
  if (record->last_modified[0] && !validator_is_plain(record->last_modified)) return 0;
  if (!resume_validator(record)) return 0;
  char length[24];
  decimal(record->length, length);
  size_t used = 0;
  bool ok = append(out, capacity, &used, RECORD_HEADER) && append(out, capacity, &used, "\naddress ") &&
            append(out, capacity, &used, record->address) && append(out, capacity, &used, "\nlength ") &&
            append(out, capacity, &used, length);
  if (ok && record->etag[0])
    ok = append(out, capacity, &used, "\netag ") && append(out, capacity, &used, record->etag);
  if (ok && record->last_modified[0])
    ok = append(out, capacity, &used, "\nlast-modified ") && append(out, capacity, &used, record->last_modified);
  ok = ok && append(out, capacity, &used, "\n");
  if (!ok) {
    if (capacity) out[0] = 0;
    return 0;
  }
  return used;
}

// Plain decimal digits, 1 to 19 of them; false otherwise.
static bool parse_decimal(const char* text, size_t length, uint64_t* value) {
  if (length == 0 || length > 19) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < length; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (uint64_t)(text[i] - '0');
  }
  *value = v;
  return true;
}

// Copies a field's value; false when it was already set, is empty or does not fit.
static bool take_value(char* field, size_t units, const char* value, size_t length) {
  if (field[0] || length == 0 || length >= units) return false;
  memcpy(field, value, length);
  field[length] = 0;
  return true;
}

static bool parse_line(const char* line, size_t length, ResumeRecord* record, bool* have_length) {
  const char* blank = (const char*)memchr(line, ' ', length);
  if (!blank) return false;
  size_t key_length = (size_t)(blank - line);
  const char* value = blank + 1;
  size_t value_length = length - key_length - 1;
  if (key_length == 7 && memcmp(line, "address", 7) == 0)
    return take_value(record->address, RESUME_ADDRESS_BYTES, value, value_length) &&
           address_is_plain(record->address);
  if (key_length == 6 && memcmp(line, "length", 6) == 0) {
    if (*have_length) return false;
    *have_length = true;
    return parse_decimal(value, value_length, &record->length) && record->length > 0;
  }
  if (key_length == 4 && memcmp(line, "etag", 4) == 0)
    return take_value(record->etag, RESUME_VALIDATOR_BYTES, value, value_length) && etag_is_strong(record->etag);
  if (key_length == 13 && memcmp(line, "last-modified", 13) == 0)
    return take_value(record->last_modified, RESUME_VALIDATOR_BYTES, value, value_length) &&
           validator_is_plain(record->last_modified);
  return false;
}

bool parse_resume_record(const char* text, size_t length, ResumeRecord* record) {
  memset(record, 0, sizeof *record);
  size_t header = sizeof RECORD_HEADER - 1;
  bool ok = length > header && memcmp(text, RECORD_HEADER, header) == 0 && text[header] == '\n' &&
            text[length - 1] == '\n';
  bool have_length = false;
  size_t at = header + 1;
  while (ok && at < length) {
    const char* end = (const char*)memchr(text + at, '\n', length - at);
    size_t line_length = (size_t)(end - (text + at));  // the last byte is a line break, so end is found
    ok = memchr(text + at, 0, line_length) == NULL && parse_line(text + at, line_length, record, &have_length);
    at += line_length + 1;
  }
  ok = ok && record->address[0] && have_length && resume_validator(record);
  if (!ok) memset(record, 0, sizeof *record);
  return ok;
}

static const char* skip_blanks(const char* text) {
  while (*text == ' ' || *text == '\t') text++;
  return text;
}

// Digits at text up to a character that is none; false for no digits or 20 or more.
static bool read_number(const char** text, uint64_t* value) {
  const char* start = *text;
  while (**text >= '0' && **text <= '9') (*text)++;
  return parse_decimal(start, (size_t)(*text - start), value);
}

bool parse_content_range(const char* text, uint64_t* first, uint64_t* last, uint64_t* total) {
  // Content-Range = range-unit SP first-pos "-" last-pos "/" complete-length (RFC 9110, 14.4)
  text = skip_blanks(text);
  if (strncmp(text, "bytes ", 6) != 0) return false;
  text = skip_blanks(text + 6);
  if (!read_number(&text, first) || *text++ != '-') return false;
  if (!read_number(&text, last) || *text++ != '/') return false;
  if (!read_number(&text, total)) return false;
  return *skip_blanks(text) == 0 && *first <= *last && *last < *total;
}
