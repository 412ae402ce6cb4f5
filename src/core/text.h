// Bounded UTF-16 formatting for the fixed-size text and path buffers.
//
// Every path in the launcher lives in a buffer of PATH_UNITS units (259
// characters and the terminator). A joined path that does not fit is cut, and
// a cut path names another file: callers that create, write or delete check
// the result and leave such a path alone.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <wchar.h>

enum { PATH_UNITS = 260 };

// printf-style ("%ls" wide, "%hs" 8-bit) into out[capacity]; the text is
// always terminated, cut at capacity - 1 units (one fewer when the cut would
// split a two-unit character). True when it fit whole.
bool format_text(wchar_t* out, size_t capacity, const wchar_t* format, ...);
bool format_text_v(wchar_t* out, size_t capacity, const wchar_t* format, va_list args);

// "%ls\%ls" of folder and name into a path buffer. True when it fit whole.
bool join_path(wchar_t (&out)[PATH_UNITS], const wchar_t* folder, const wchar_t* name);

// True when path is folder itself or lies inside it: ASCII case ignored, on a
// whole component (C:\GamesX is not inside C:\Games), trailing backslashes of
// folder ignored. An empty folder holds nothing.
bool path_lies_in(const wchar_t* path, const wchar_t* folder);

// Copies at most capacity - 1 units and terminates, cut as format_text cuts.
// True when it fit whole.
bool copy_text(wchar_t* out, size_t capacity, const wchar_t* text);
