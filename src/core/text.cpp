// Bounded UTF-16 formatting; see text.h.
#include "core/text.h"

#include <stdarg.h>
#include <stdio.h>

// A cut text never ends in the first half of a two-unit character: alone it
// draws as a box, and conversions to UTF-8 refuse it.
static void drop_split_pair(wchar_t* out, size_t length) {
  if (length > 0 && out[length - 1] >= 0xD800 && out[length - 1] <= 0xDBFF) out[length - 1] = 0;
}

bool format_text_v(wchar_t* out, size_t capacity, const wchar_t* format, va_list args) {
  if (capacity == 0) return false;
  // The runtime's counted formatter returns -1 when the text did not fit and
  // does not terminate a text that fills the buffer exactly.
  int n = _vsnwprintf(out, capacity, format, args);
  out[capacity - 1] = 0;
  bool whole = n >= 0 && (size_t)n < capacity;
  if (!whole) drop_split_pair(out, wcslen(out));
  return whole;
}

bool format_text(wchar_t* out, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool whole = format_text_v(out, capacity, format, args);
  va_end(args);
  return whole;
}

bool join_path(wchar_t (&out)[PATH_UNITS], const wchar_t* folder, const wchar_t* name) {
  return format_text(out, PATH_UNITS, L"%ls\\%ls", folder, name);
}

bool path_lies_in(const wchar_t* path, const wchar_t* folder) {
  size_t n = wcslen(folder);
  while (n > 0 && folder[n - 1] == L'\\') n--;
  if (n == 0 || _wcsnicmp(path, folder, n) != 0) return false;
  return path[n] == 0 || path[n] == L'\\';
}

bool copy_text(wchar_t* out, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return false;
  size_t i = 0;
  for (; i + 1 < capacity && text[i]; i++) out[i] = text[i];
  out[i] = 0;
  if (text[i] == 0) return true;
  drop_split_pair(out, i);
  return false;
}
