// The identification worker; see identify_worker.h. One lock guards both
// rings and the searches' flags; the worker never holds it while it reads a
// file, so the window thread waits at most for a copy of a record.
#include "library/identify_worker.h"

#include <string.h>

#include "library/disc_identify.h"

enum RequestKind : int32_t { REQUEST_IDENTIFY = 0, REQUEST_SCAN = 1 };

struct IdentifyRequest {
  int32_t kind;              // RequestKind
  uint32_t ticket;           // handed back with every result
  uint32_t flags;            // handed back with every result
  int32_t scan;              // REQUEST_SCAN: its slot in g_scans
  wchar_t path[PATH_UNITS];  // image to identify, or folder to search
};

// One folder search: the library's paths when it was asked for, so that
// images already listed are not hashed again, and its stop flag.
struct ScanSlot {
  bool used;                                   // queued or running
  volatile LONG cancelled;                     // 1 once cancel_scans asked
  int32_t free_places;                         // new images it may still hash
  int32_t known_count;                         // paths in known
  wchar_t known[LIBRARY_CAPACITY][PATH_UNITS];  // the library's paths at the request
  ScanCounts counts;                           // how far it is
};

static SRWLOCK g_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE g_work_ready = CONDITION_VARIABLE_INIT;   // a request was queued
static CONDITION_VARIABLE g_result_room = CONDITION_VARIABLE_INIT;  // a result was taken
static IdentifyRequest g_requests[IDENTIFY_REQUEST_CAPACITY];
static int32_t g_request_head, g_request_count;
static IdentifyResult g_results[IDENTIFY_RESULT_CAPACITY];
static int32_t g_result_head, g_result_count;
static ScanSlot g_scans[SCAN_CAPACITY];
static bool g_busy;                 // the worker is working on a request
static int32_t g_running_scan = -1; // slot of the search the worker is in, -1 for none
static volatile uint32_t g_generation;       // raised by forget_identification: older work is dropped
static bool g_started;              // the worker thread exists
static HWND volatile g_window;      // where results are announced
// A WM_APP_IDENTIFIED is on its way that the window has not answered yet by
// emptying the ring: results that arrive meanwhile ride on it.
static bool g_announced;
static bool g_held;                 // hold_identification: requests wait in the ring

void set_identify_window(HWND window) {
  AcquireSRWLockExclusive(&g_lock);
  g_window = window;
  g_announced = false;  // a new window has been told nothing yet
  ReleaseSRWLockExclusive(&g_lock);
}

// ---- Worker side -------------------------------------------------------------

// Puts one result in the ring, waiting for room, and announces it unless an
// announcement is still waiting: at start-up a whole library answers while the
// window paints its first frame, and one message per disc would each mean a
// pass over the ring and a full repaint queued before that frame. Work of an
// older generation (before forget_identification) is dropped.
static void put_result(const IdentifyResult& result, uint32_t generation) {
  AcquireSRWLockExclusive(&g_lock);
  while (g_result_count == IDENTIFY_RESULT_CAPACITY && generation == g_generation)
    SleepConditionVariableSRW(&g_result_room, &g_lock, INFINITE, 0);
  bool current = generation == g_generation;
  if (current) {
    g_results[(g_result_head + g_result_count) % IDENTIFY_RESULT_CAPACITY] = result;
    g_result_count++;
  }
  HWND window = g_window;
  bool announce = current && window && !g_announced;
  if (announce) g_announced = true;
  ReleaseSRWLockExclusive(&g_lock);
  // A post that fails (the window is gone) leaves nobody to answer it.
  if (announce && !PostMessageW(window, WM_APP_IDENTIFIED, 0, 0)) {
    AcquireSRWLockExclusive(&g_lock);
    g_announced = false;
    ReleaseSRWLockExclusive(&g_lock);
  }
}

static void identify_path(const IdentifyRequest& request, uint32_t generation) {
  IdentifyResult result;
  memset(&result, 0, sizeof result);
  result.kind = RESULT_IDENTIFIED;
  result.ticket = request.ticket;
  result.flags = request.flags;
  copy_text(result.entry.path, PATH_UNITS, request.path);
  identify_disc(&result.entry);
  put_result(result, generation);
}

static bool has_iso_extension(const wchar_t* name) {
  size_t length = wcslen(name);
  return length >= 5 && _wcsicmp(name + length - 4, L".iso") == 0;
}

// What a search does with each image it meets; the first pass only counts.
struct ScanWalk {
  ScanSlot* slot;
  const IdentifyRequest* request;
  uint32_t generation;
  bool counting;
};

static bool scan_stopped(const ScanWalk& walk) {
  return walk.slot->cancelled != 0 || walk.generation != g_generation;
}

static bool already_listed(const ScanSlot& slot, const wchar_t* path) {
  for (int32_t i = 0; i < slot.known_count; i++)
    if (_wcsicmp(slot.known[i], path) == 0) return true;
  return false;
}

static void scan_image(ScanWalk& walk, const wchar_t* path, bool fits) {
  ScanSlot& slot = *walk.slot;
  if (walk.counting) {
    slot.counts.total++;
    return;
  }
  slot.counts.checked++;
  wchar_t full[PATH_UNITS];
  if (!fits || !full_disc_path(path, full)) {
    slot.counts.too_long++;
    return;
  }
  if (already_listed(slot, full)) {
    slot.counts.listed++;
    return;
  }
  if (slot.free_places <= 0) {
    slot.counts.full++;
    return;
  }
  IdentifyResult result;
  memset(&result, 0, sizeof result);
  result.kind = RESULT_IDENTIFIED;
  result.ticket = walk.request->ticket;
  result.flags = walk.request->flags;
  result.from_scan = true;
  copy_text(result.entry.path, PATH_UNITS, full);
  identify_disc(&result.entry);
  // Only an image the library will take uses up a place: a file named
  // ".iso" that is none must not make the rest count as no room.
  if (result.entry.status != DISC_NOT_PS2) slot.free_places--;
  result.scan = slot.counts;
  put_result(result, walk.generation);
}

// The folder's ".iso" files and those of its subfolders down to four levels
// below the first; a name that begins with a dot ("." and "..", ".cache") is
// passed over. A joined path that would be cut names another file: it is
// counted as too long, never used.
static void scan_level(ScanWalk& walk, const wchar_t* folder, int32_t depth) {
  wchar_t pattern[PATH_UNITS];
  if (!join_path(pattern, folder, L"*")) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (scan_stopped(walk)) break;
    if (found.cFileName[0] == L'.') continue;
    wchar_t path[PATH_UNITS];
    bool fits = join_path(path, folder, found.cFileName);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (fits && depth <= 3) scan_level(walk, path, depth + 1);
    } else if (has_iso_extension(found.cFileName)) {
      scan_image(walk, path, fits);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

static void scan_folder_request(const IdentifyRequest& request, uint32_t generation) {
  ScanSlot* slot = &g_scans[request.scan];
  // Counted first, so that the status line can say how far the search is.
  ScanWalk walk = {slot, &request, generation, true};
  scan_level(walk, request.path, 0);
  walk.counting = false;
  scan_level(walk, request.path, 0);

  IdentifyResult result;
  memset(&result, 0, sizeof result);
  result.kind = RESULT_SCAN_ENDED;
  result.ticket = request.ticket;
  result.flags = request.flags;
  result.from_scan = true;
  result.scan = slot->counts;
  result.scan.cancelled = scan_stopped(walk);
  AcquireSRWLockExclusive(&g_lock);
  slot->used = false;
  ReleaseSRWLockExclusive(&g_lock);
  put_result(result, generation);
}

static DWORD WINAPI identify_worker(LPVOID) {
  for (;;) {
    AcquireSRWLockExclusive(&g_lock);
    while (g_request_count == 0 || g_held) SleepConditionVariableSRW(&g_work_ready, &g_lock, INFINITE, 0);
    IdentifyRequest request = g_requests[g_request_head];
    g_request_head = (g_request_head + 1) % IDENTIFY_REQUEST_CAPACITY;
    g_request_count--;
    g_busy = true;
    g_running_scan = request.kind == REQUEST_SCAN ? request.scan : -1;
    uint32_t generation = g_generation;
    ReleaseSRWLockExclusive(&g_lock);

    if (request.kind == REQUEST_SCAN)
      scan_folder_request(request, generation);
    else
      identify_path(request, generation);

    AcquireSRWLockExclusive(&g_lock);
    g_busy = false;
    g_running_scan = -1;
    ReleaseSRWLockExclusive(&g_lock);
  }
  return 0;
}

// ---- Window side -------------------------------------------------------------

// Under the lock: appends a request, starting the worker the first time.
static bool push_request(const IdentifyRequest& request) {
  if (g_request_count == IDENTIFY_REQUEST_CAPACITY) return false;
  if (!g_started) {
    HANDLE thread = CreateThread(NULL, 0, identify_worker, NULL, 0, NULL);
    if (!thread) return false;
    CloseHandle(thread);  // never joined: it waits for work until the process ends
    g_started = true;
  }
  g_requests[(g_request_head + g_request_count) % IDENTIFY_REQUEST_CAPACITY] = request;
  g_request_count++;
  WakeConditionVariable(&g_work_ready);
  return true;
}

void hold_identification(bool held) {
  AcquireSRWLockExclusive(&g_lock);
  g_held = held;
  ReleaseSRWLockExclusive(&g_lock);
  if (!held) WakeAllConditionVariable(&g_work_ready);
}

// A request with its answer's ticket and flags; false when path does not fit.
static bool make_request(IdentifyRequest* request, RequestKind kind, uint32_t ticket, uint32_t flags,
                         const wchar_t* path) {
  memset(request, 0, sizeof *request);
  request->kind = kind;
  request->ticket = ticket;
  request->flags = flags;
  return copy_text(request->path, PATH_UNITS, path);
}

bool queue_identification(const wchar_t* path, uint32_t ticket, uint32_t flags) {
  IdentifyRequest request;
  if (!make_request(&request, REQUEST_IDENTIFY, ticket, flags, path)) return false;
  AcquireSRWLockExclusive(&g_lock);
  bool queued = push_request(request);
  ReleaseSRWLockExclusive(&g_lock);
  return queued;
}

bool queue_scan(const wchar_t* folder, uint32_t ticket, uint32_t flags, const LibraryEntry* known, int32_t count,
                int32_t free_places) {
  IdentifyRequest request;
  if (!make_request(&request, REQUEST_SCAN, ticket, flags, folder)) return false;
  AcquireSRWLockExclusive(&g_lock);
  int32_t slot = -1;
  for (int32_t i = 0; i < SCAN_CAPACITY && slot < 0; i++)
    if (!g_scans[i].used) slot = i;
  bool queued = false;
  if (slot >= 0 && g_request_count < IDENTIFY_REQUEST_CAPACITY) {
    ScanSlot& s = g_scans[slot];
    memset(&s.counts, 0, sizeof s.counts);
    s.cancelled = 0;
    s.free_places = free_places;
    s.known_count = count < LIBRARY_CAPACITY ? count : LIBRARY_CAPACITY;
    for (int32_t i = 0; i < s.known_count; i++) copy_text(s.known[i], PATH_UNITS, known[i].path);
    request.scan = slot;
    queued = push_request(request);
    s.used = queued;
  }
  ReleaseSRWLockExclusive(&g_lock);
  return queued;
}

bool cancel_scans() {
  bool any = false;
  AcquireSRWLockExclusive(&g_lock);
  for (ScanSlot& slot : g_scans) {
    if (!slot.used) continue;
    slot.cancelled = 1;
    any = true;
  }
  ReleaseSRWLockExclusive(&g_lock);
  return any;
}

bool scan_in_progress() {
  bool any = false;
  AcquireSRWLockShared(&g_lock);
  for (const ScanSlot& slot : g_scans) any = any || slot.used;
  ReleaseSRWLockShared(&g_lock);
  return any;
}

bool take_identify_result(IdentifyResult* out) {
  AcquireSRWLockExclusive(&g_lock);
  bool taken = g_result_count > 0;
  if (taken) {
    *out = g_results[g_result_head];
    g_result_head = (g_result_head + 1) % IDENTIFY_RESULT_CAPACITY;
    g_result_count--;
    WakeConditionVariable(&g_result_room);
  } else {
    // The window has emptied the ring: the next result must be announced.
    g_announced = false;
  }
  ReleaseSRWLockExclusive(&g_lock);
  return taken;
}

bool identification_idle() {
  AcquireSRWLockShared(&g_lock);
  bool idle = g_request_count == 0 && !g_busy && g_result_count == 0;
  ReleaseSRWLockShared(&g_lock);
  return idle;
}

void forget_identification() {
  AcquireSRWLockExclusive(&g_lock);
  g_generation++;
  g_request_count = 0;
  g_result_count = 0;
  g_announced = false;
  for (int32_t i = 0; i < SCAN_CAPACITY; i++) {
    // A search the worker is in frees its own slot when it stops; a queued
    // one is gone with its request.
    if (g_scans[i].used) g_scans[i].cancelled = 1;
    if (i != g_running_scan) g_scans[i].used = false;
  }
  WakeAllConditionVariable(&g_result_room);
  ReleaseSRWLockExclusive(&g_lock);
}
