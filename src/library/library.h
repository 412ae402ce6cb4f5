// Library management: paths that reach the library from the add-disc dialog,
// a folder scan and files dropped on the window, and the removal of an entry.
// Each dialog step is split from what happens with the paths it returns, so
// that the second part can be driven without a dialog.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

enum { SCAN_MAX_DEPTH = 3 };             // deepest folder level whose subfolders are entered

// Adds the images of one dialog choice: either a single full path, or a
// folder followed by file names, each terminated, ending with an empty one.
// Each is selected as it is added, so the last one ends selected.
void add_chosen_files(const wchar_t* choice);

// The add-disc dialog, then add_chosen_files and a save when a choice was made.
// Ends with the settings panel closed.
void add_disc_dialog();

// Adds every ".iso" file in folder and four levels of folders below it,
// skipping names that begin with a dot. Returns the number of entries added.
int32_t scan_folder(const wchar_t* folder, int32_t depth);

// The scan of a chosen folder with the wait cursor, the "Found ..." message,
// the first selection when nothing was selected, and a save.
void scan_chosen_folder(const wchar_t* folder);

// The folder picker, then scan_chosen_folder. Ends with the settings panel closed.
void scan_folder_dialog();

// One dropped item: a folder is scanned (no message, no selection change);
// anything else is added and selected whatever its extension.
void add_dropped_path(const wchar_t* path);

// Every item of a drop, then DragFinish. With nothing selected, the first
// entry the drop added becomes the selection. The caller saves and repaints.
void add_dropped_files(HDROP drop);

// Removes the selected entry from the library (never the image file), unless
// its game runs or it is busy_entry (the one being built; -1 for none). Moves
// the selection and the running entry with the entries that follow, and
// saves. Returns the removed index, or -1 when nothing was removed; the caller
// moves the build's entry index with it (job_entry_removed).
int32_t remove_disc(int32_t busy_entry);
