// Files and folders that the downloader, the extractor, the build tree's
// clean-ups and the build log create, replace, enter or delete, opened only
// where their path says: a link (symbolic link, junction,
// or a host link that Wine shows as a plain file or folder) is never written
// through. Where a handle shows that the object at a path lies somewhere else,
// the link is removed as itself, never its target; where the platform cannot
// do that (Wine opens a host link only at its target), the caller stops with
// a text. A "place" is what GetFinalPathNameByHandleW reports for an object;
// an empty place means the platform cannot tell: what stands there is then
// used as it is, but never deleted.
#pragma once
#include <windows.h>

enum { PLACE_UNITS = 1024 };  // a place with its "\\?\" prefix; a longer one is not trusted

enum PlaceResult {
  PLACE_OK = 0,
  PLACE_FAILED,  // the platform refused; the code is in *error
  PLACE_LINK,    // a link stands at the path and cannot be removed as itself
};

// The place of an existing folder (links on the way followed). False when it
// cannot be opened or its place does not fit; an empty place: cannot tell.
bool folder_place(const wchar_t* folder, wchar_t* place);

// True when the place the platform reports for handle is expected, so the
// handle holds the object at the path and not the target of a link the
// platform followed to open it (Wine shows a host link to a file as a plain
// file and opens its target even when asked for the link itself). An empty
// expected place (the platform cannot tell) is trusted.
bool handle_is_at(HANDLE handle, const wchar_t* expected);

// expected = place\relative, or empty when place is empty (cannot tell).
// False when it does not fit.
bool join_place(wchar_t* expected, const wchar_t* place, const wchar_t* relative);

// Creates path as a new, empty file whose place must be expected, open for
// writing and deleting, with no sharing. A file already there is deleted
// first (through a handle on it, never on what a link points to); a link
// there is removed as itself. A read-only file or a folder in the way fails.
PlaceResult create_file_in_place(const wchar_t* path, const wchar_t* expected, HANDLE* file, DWORD* error);

// Makes sure the folder path exists at its expected place: created when
// missing; a link in its way is removed as itself and a real folder made.
// A file in the way fails.
PlaceResult make_folder_in_place(const wchar_t* path, const wchar_t* expected, DWORD* error);

// Deletes the file this process created and still holds open, through its
// handle, then closes it. Nothing else can be reached that way.
void discard_file(HANDLE file);

// Creates every missing folder along path, the last component included.
// Every result is ignored: a folder that cannot be made fails whatever is
// later made in it, with that operation's own text.
void create_directory_chain(const wchar_t* path);
