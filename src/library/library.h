// Library management: paths that reach the library from the add-disc dialog,
// a folder scan and files dropped on the window, and the removal of an entry.
// Each dialog step is split from what happens with the paths it returns, so
// that the second part can be driven without a dialog.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <stdint.h>

#include "core/library_types.h"

enum { SCAN_MAX_DEPTH = 3 };             // deepest folder level whose subfolders are entered

// What one add (dialog, scan or drop, or several while they overlap) did.
struct AddCounts {
  int32_t added;      // new entries
  int32_t listed;     // already in the library
  int32_t not_image;  // opened, but not an ISO 9660 image
  int32_t full;       // no room: the library holds LIBRARY_CAPACITY
  int32_t too_long;   // full path longer than 259 units
  bool cancelled;     // a folder search was stopped before its end
  int32_t unsearched; // folders not searched: SCAN_CAPACITY searches were under way
};

// The one status line that sums up an add, such as "Added 3 disc images;
// skipped 2: 1 already listed, 1 not a disc image."
void describe_added(const AddCounts& counts, wchar_t* out, size_t units);

// The adds below queue their images for identification and return at once:
// an image joins the library when its result comes back (apply_identify_results),
// and the status line shows the progress, then the sum of the whole add. An
// image that turns out not to be a disc image is not added.

// Adds the images of one dialog choice: either a single full path, or a
// folder followed by file names, each terminated, ending with an empty one.
// Each is selected as it is added, so the last one ends selected.
void add_chosen_files(const wchar_t* choice);

// The add-disc dialog, then add_chosen_files and a save when a choice was made.
// Ends with the settings panel closed.
void add_disc_dialog();

// Queues the search of a chosen folder (every ".iso" file in it and four
// levels of folders below it, names that begin with a dot passed over). Its
// first new image becomes the selection when nothing was selected.
void scan_chosen_folder(const wchar_t* folder);

// The folder picker, then scan_chosen_folder. Ends with the settings panel closed.
void scan_folder_dialog();

// One dropped item: a folder is searched (no selection change); anything else
// is added and selected when it is a disc image, whatever its extension.
void add_dropped_path(const wchar_t* path);

// Every item of a drop, then DragFinish. With nothing selected, the first
// entry the drop adds becomes the selection. A path longer than Windows
// allows is counted as skipped. The caller saves and repaints.
void add_dropped_files(HDROP drop);

// Removes the selected entry from the library (never the image file), unless
// its game runs or it is busy_entry (the one being built; -1 for none). Moves
// the selection and the running entry with the entries that follow, and
// saves. Returns the removed index, or -1 when nothing was removed; the caller
// moves the build's entry index with it (job_entry_removed).
int32_t remove_disc(int32_t busy_entry);

// What to say about a disc image that is gone: which file, and what to do.
void describe_missing_disc(const wchar_t* path, wchar_t* out, size_t units);

// ---- Identification off the window thread ----------------------------------

// The sink for the settings file's stored paths at start-up: the entry joins
// the library at once as "Checking" and is identified by the worker.
void queue_stored_disc(const wchar_t* path);

// Identifies entry index again on the worker (a selection, or Play with
// then_play). Where no worker can be had, it is identified here and now.
void queue_refresh(int32_t index, bool then_play);

// What apply_identify_results did.
struct IdentifyOutcome {
  bool changed;       // some entry or the status line changed: repaint
  bool added;         // entries joined the library: save
  int32_t play;       // entry whose Play check came back, -1 for none
};

// Window side, on WM_APP_IDENTIFIED: takes every waiting result and applies
// it. A result for an entry that was removed meanwhile is dropped.
IdentifyOutcome apply_identify_results();

// Stops the folder searches under way; what they added stays. True when one ran.
bool stop_folder_scan();

// True while an add is waiting for identification or a folder search.
bool add_in_progress();

// Forgets queued work and the add under way (tests start each case afresh).
void forget_pending_adds();
