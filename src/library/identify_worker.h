// The identification worker: one background thread that reads and hashes
// disc images and searches folders for them, so that the window never waits
// for a disc (a boot file of up to 64 MiB, or an image on a share that takes
// its time to answer). The window thread hands it requests and takes back
// results; the worker never touches the library, only the files it reads and
// its own rings. It starts with the first request and lives as long as the
// process.
//
// Memory: a ring of IDENTIFY_REQUEST_CAPACITY requests and one of
// IDENTIFY_RESULT_CAPACITY results, and SCAN_CAPACITY folder searches with
// their copy of the library's paths, all in static storage. A full request
// ring refuses the request; a full result ring makes the worker wait until
// the window has taken results out.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "core/library_types.h"
#include "core/text.h"

enum { IDENTIFY_REQUEST_CAPACITY = 160, IDENTIFY_RESULT_CAPACITY = 32, SCAN_CAPACITY = 8 };

// Posted to the window (set_identify_window) when a result is put in the
// ring and no earlier announcement is still waiting, that is, unless the
// window has not yet taken every result since the last one: the window takes
// results until take_identify_result says none is left.
enum : UINT { WM_APP_IDENTIFIED = WM_APP + 3 };

enum IdentifyResultKind : int32_t {
  RESULT_IDENTIFIED = 0,  // entry holds an identified image (of a request, or found by a search)
  RESULT_SCAN_ENDED = 1,  // a search is over; scan holds its final counts
};

// How far one folder search is, and what it passed over without hashing.
struct ScanCounts {
  int32_t checked;   // images looked at so far, skipped ones included
  int32_t total;     // images the folder holds (counted before the first is hashed)
  int32_t too_long;  // images whose path is longer than 259 units
  int32_t listed;    // images whose path the library held when the search began
  int32_t full;      // images passed over once the library's free places were taken
  bool cancelled;    // the search was stopped before its end
};

struct IdentifyResult {
  int32_t kind;        // IdentifyResultKind
  uint32_t ticket;     // the request's ticket (the window's number for what asked)
  uint32_t flags;      // the request's flags, handed back untouched
  bool from_scan;      // found by a folder search rather than asked for by path
  LibraryEntry entry;  // RESULT_IDENTIFIED: path and identification; id is 0
  ScanCounts scan;     // from a search: its counts when this result was made
};

// Where the worker posts WM_APP_IDENTIFIED; null posts nothing (results wait
// in the ring until the window asks).
void set_identify_window(HWND window);

// Window side: while held, queued requests wait and the worker reads
// nothing; the work begins when released. Start-up holds it until the first
// frame is painted: reading and hashing a library of discs would take the
// processor from the window thread just when it makes its window.
void hold_identification(bool held);

// Window side: identify the image at path. False when the ring is full.
bool queue_identification(const wchar_t* path, uint32_t ticket, uint32_t flags);

// Window side: search folder and the four levels of folders below it for
// ".iso" files (names beginning with a dot are passed over), and identify
// each. Paths among the count paths of known are passed over as already
// listed, and once free_places new images were found the rest are counted as
// full, neither hashed. False when SCAN_CAPACITY searches are queued already
// or the ring is full.
bool queue_scan(const wchar_t* folder, uint32_t ticket, uint32_t flags, const LibraryEntry* known, int32_t count,
                int32_t free_places);

// Window side: stops every queued or running search after the image it is
// at; each still ends with RESULT_SCAN_ENDED, marked cancelled. True when a
// search was running or queued.
bool cancel_scans();

// Window side: true while a folder search is queued or running.
bool scan_in_progress();

// Window side: takes the oldest result; false when none is waiting, and then
// the next result is announced again.
bool take_identify_result(IdentifyResult* out);

// True when nothing is queued, being worked on, or waiting to be taken.
bool identification_idle();

// Window side: drops every queued request and waiting result, and stops the
// searches (tests start each case from an empty worker).
void forget_identification();
