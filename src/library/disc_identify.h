// Identification of a disc image against the catalogue, and adding images to
// the library.
#pragma once
#include "core/text.h"
#include "core/library_types.h"

// Reads the image at entry->path and sets serial, md5, catalog_row and status.
// Never fails as a call: every problem ends as a status or an empty field.
void identify_disc(LibraryEntry* entry);

// The full form of path, as the library stores it. False when the full form
// does not fit 259 units (a cut path would name another file).
bool full_disc_path(const wchar_t* path, wchar_t (&out)[PATH_UNITS]);

// Adds one path to the library (after making it a full path) and identifies
// it. An equal path (ASCII case ignored) is not added again; with select, it
// or the new entry becomes the selection. A full library, or a full path that
// does not fit 259 units, adds nothing. Does not save.
void add_disc(const wchar_t* path, bool select);

// The index of the entry whose path is full (ASCII case ignored), or -1.
int32_t library_index_of(const wchar_t* full);

// A number for an entry that joins the library, never the same twice in a
// run and never 0.
uint32_t next_entry_id();

// add_disc without selecting: how the settings file's stored paths come in.
void add_stored_disc(const wchar_t* path);

enum { BOOT_FILE_LIMIT = 67108863 };  // 2^26 - 1: larger boot files are not hashed
enum { SYSTEM_CNF_LIMIT = 4095 };     // larger SYSTEM.CNF files are not read
