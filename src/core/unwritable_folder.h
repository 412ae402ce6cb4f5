// Whether a write that was refused in the launcher's folder was refused
// because a folder there cannot be written (a read-only drive, share or
// mount, a folder whose permissions are not the user's), so that the text can
// name that folder and say what to do, instead of a bare "could not write".
// It knows by trying: a file is created in the folder and deleted as it is
// closed; nothing else is written. Memory: the caller's buffers.
#pragma once
#include <stddef.h>
#include <wchar.h>

// The nearest existing folder that holds path (path itself when it is a
// folder), provided path lies in launcher_dir, when that folder refuses a
// new file for want of write access; copied into folder (PATH_UNITS units).
// False when path lies elsewhere, or when that folder takes a new file (the
// write failed for another reason, which this cannot tell).
bool unwritable_folder_holding(const wchar_t* path, const wchar_t* launcher_dir, wchar_t* folder);

// The cause and what to do, as one sentence for the end of a message:
// "The launcher's folder is read-only: move the launcher ...", or, for a
// folder below it, that folder by its path from there ("The launcher's
// downloads folder is read-only: make it writable, or move ...").
void describe_unwritable_folder(const wchar_t* folder, const wchar_t* launcher_dir, wchar_t* out, size_t units);
