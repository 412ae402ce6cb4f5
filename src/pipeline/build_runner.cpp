// The build tool runner; see build_runner.h.
#include "pipeline/build_runner.h"

#include <windows.h>
#include <tlhelp32.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/file_place.h"
#include "core/state.h"
#include "core/text.h"
#include "pipeline/build_tree.h"
#include "pipeline/job_status.h"
#include "pipeline/progress_line.h"
#include "core/failure_words.h"

static wchar_t command_line[COMMAND_LINE_UNITS];
static char read_buffer[READ_CHUNK_BYTES];
static LineSplitter splitter;
static OutputTail tail;

// ---- Test seams -------------------------------------------------------------

static uint64_t log_cap = BUILD_LOG_CAP_BYTES;
static uint32_t log_keep = BUILD_LOG_KEEP_BYTES;

void set_build_log_limits(uint64_t cap_bytes, uint32_t keep_bytes) {
  bool usable = keep_bytes > 0 && keep_bytes <= BUILD_LOG_KEEP_BYTES && cap_bytes / 2 > keep_bytes;
  log_cap = usable ? cap_bytes : BUILD_LOG_CAP_BYTES;
  log_keep = usable ? keep_bytes : BUILD_LOG_KEEP_BYTES;
}

static JobAssignFunction assign_to_job = AssignProcessToJobObject;

void set_job_assign_function(JobAssignFunction assign) { assign_to_job = assign ? assign : AssignProcessToJobObject; }

int job_count_for(int32_t processors, uint64_t total_memory, bool memory_known) {
  int32_t jobs = processors;
  if (memory_known) {
    int32_t by_memory = (int32_t)(total_memory / 536870912ull / 3ull);
    if (by_memory < jobs) jobs = by_memory;
  }
  return jobs < 2 ? 1 : jobs;
}

int build_job_count() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  MEMORYSTATUSEX memory;
  memory.dwLength = sizeof memory;
  bool known = GlobalMemoryStatusEx(&memory) != 0;
  return job_count_for((int32_t)info.dwNumberOfProcessors, known ? memory.ullTotalPhys : 0, known);
}

// ---- The script's environment -----------------------------------------------

// What the script's environment changes: PATH gets the toolchain's folders in
// front, the interpreter runs in UTF-8 mode and writes no byte code, an
// installed Python's PYTHONHOME and PYTHONPATH are kept away from it, and the
// compiler keeps its cache in the kit folder.
static const wchar_t* const CHANGED_VARIABLES[] = {
    L"PATH", L"PYTHONUTF8", L"PYTHONDONTWRITEBYTECODE", L"PYTHONHOME", L"PYTHONPATH",
    L"ZIG_GLOBAL_CACHE_DIR", L"ZIG_LOCAL_CACHE_DIR",
};
enum { ADDED_VARIABLES = 5 };  // all of CHANGED_VARIABLES but the two removed

// Length of the name of an entry "NAME=value"; a name may begin with "="
// (the "=C:=C:\..." entries that keep a drive's current folder).
static size_t name_length(const wchar_t* entry) {
  const wchar_t* equals = wcschr(entry + (entry[0] == L'=' ? 1 : 0), L'=');
  return equals ? (size_t)(equals - entry) : wcslen(entry);
}

// Names compare without regard to letter case, as the platform looks them up
// and as it wants the block sorted.
static int compare_names(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, (int)name_length(a), b, (int)name_length(b), TRUE) - CSTR_EQUAL;
}

static int compare_entries(const void* a, const void* b) {
  return compare_names(*(const wchar_t* const*)a, *(const wchar_t* const*)b);
}

static bool is_changed(const wchar_t* entry) {
  for (const wchar_t* name : CHANGED_VARIABLES)
    if (name_length(entry) == wcslen(name) &&
        CompareStringOrdinal(entry, (int)wcslen(name), name, -1, TRUE) == CSTR_EQUAL)
      return true;
  return false;
}

static wchar_t* append(wchar_t* at, const wchar_t* text) {
  size_t n = wcslen(text);
  memcpy(at, text, n * sizeof(wchar_t));
  return at + n;
}

// The script's own environment block: the launcher's environment with the
// changes above, sorted by name, as CreateProcessW takes it with
// CREATE_UNICODE_ENVIRONMENT. The launcher's own environment is never
// changed: a game started later inherits it. PATH is taken whole, however
// long. A heap block that the caller frees with HeapFree; null when there is
// no memory for it.
static wchar_t* script_environment(const wchar_t* kit_folder, const wchar_t* toolchain_folder,
                                   const wchar_t* compiler_folder) {
  wchar_t cache[PATH_UNITS];
  join_path(cache, kit_folder, L"zig-cache");
  wchar_t* own = GetEnvironmentStringsW();
  size_t count = 0, own_units = 0;
  const wchar_t* path = L"";  // an unset PATH leaves an empty third part
  for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1) {
    count++;
    own_units += wcslen(entry) + 1;
    if (name_length(entry) == 4 && CompareStringOrdinal(entry, 4, L"PATH", 4, TRUE) == CSTR_EQUAL)
      path = entry + 5;
  }
  const wchar_t* fixed[][2] = {
      {L"PYTHONUTF8=1", L""},
      {L"PYTHONDONTWRITEBYTECODE=1", L""},
      {L"ZIG_GLOBAL_CACHE_DIR=", cache},
      {L"ZIG_LOCAL_CACHE_DIR=", cache},
  };
  size_t added_units =
      wcslen(L"PATH=;\\python;") + wcslen(compiler_folder) + wcslen(toolchain_folder) + wcslen(path) + 1;
  for (auto& entry : fixed) added_units += wcslen(entry[0]) + wcslen(entry[1]) + 1;

  // The added entries are formed apart, then every entry is copied into the
  // block in the order of its name.
  HANDLE heap = GetProcessHeap();
  wchar_t* added = (wchar_t*)HeapAlloc(heap, 0, added_units * sizeof(wchar_t));
  const wchar_t** order = (const wchar_t**)HeapAlloc(heap, 0, (count + ADDED_VARIABLES) * sizeof(wchar_t*));
  wchar_t* block = (wchar_t*)HeapAlloc(heap, 0, (own_units + added_units + 1) * sizeof(wchar_t));
  wchar_t* result = NULL;
  if (added && order && block) {
    size_t n = 0;
    for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1)
      if (!is_changed(entry)) order[n++] = entry;
    wchar_t* at = added;
    order[n++] = at;
    at = append(at, L"PATH=");
    at = append(at, compiler_folder);
    at = append(at, L";");
    at = append(at, toolchain_folder);
    at = append(at, L"\\python;");
    at = append(at, path);
    *at++ = 0;
    for (auto& entry : fixed) {
      order[n++] = at;
      at = append(append(at, entry[0]), entry[1]);
      *at++ = 0;
    }
    qsort(order, n, sizeof *order, compare_entries);
    wchar_t* out = block;
    for (size_t i = 0; i < n; i++) {
      out = append(out, order[i]);
      *out++ = 0;
    }
    *out = 0;
    result = block;
  }
  if (block && !result) HeapFree(heap, 0, block);
  if (order) HeapFree(heap, 0, order);
  if (added) HeapFree(heap, 0, added);
  if (own) FreeEnvironmentStringsW(own);
  return result;
}

// One complete output line: progress, or remembered for the error text.
static void handle_line(const char* line, void*) {
  ProgressUpdate update;
  switch (parse_progress_line(line, &update)) {
    case LINE_PROGRESS:
      if (update.stage->counters)
        publish_progress(update.fraction, update.stage->format, update.stage->text, update.first, update.second);
      else
        publish_progress(update.fraction, update.stage->format, update.stage->text);
      break;
    case LINE_PROGRESS_IGNORED:
      break;
    case LINE_ORDINARY:
      tail_store(&tail, line);
      break;
  }
}


// ---- The build log ----------------------------------------------------------

// The log file and what has been written to it. Up to the cap the log is
// every byte the script printed; past it the file is cut back to its head,
// the last bytes are kept in log_ring, and the run's end writes a line saying
// how much was left out, then that tail.
struct BuildLog {
  HANDLE file;          // INVALID_HANDLE_VALUE: the build runs without a log
  uint64_t total;       // bytes the script printed in this run
  bool cut;             // the file was cut back to its first log_keep bytes
  char head_last;       // the last byte of that head
};
static char log_ring[BUILD_LOG_KEEP_BYTES];  // the last log_keep bytes printed, from total % log_keep on

static void write_all(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  WriteFile(file, bytes, count, &written, NULL);
}

static void ring_put(const char* bytes, DWORD count, uint64_t before) {
  if (count > log_keep) {  // only the last log_keep bytes can stay
    bytes += count - log_keep;
    before += count - log_keep;
    count = log_keep;
  }
  uint32_t at = (uint32_t)(before % log_keep);
  uint32_t first = count < log_keep - at ? count : log_keep - at;
  memcpy(log_ring + at, bytes, first);
  memcpy(log_ring, bytes + first, count - first);
}

static void log_write(BuildLog* log, const char* bytes, DWORD count) {
  uint64_t before = log->total;
  log->total += count;
  ring_put(bytes, count, before);
  if (log->file == INVALID_HANDLE_VALUE || log->cut) return;
  if (before < log_keep && log->total >= log_keep) log->head_last = bytes[log_keep - 1 - before];
  if (log->total <= log_cap) {
    write_all(log->file, bytes, count);
    return;
  }
  // Past the cap: only the head stays in the file (this chunk may still
  // finish it); the tail follows at the end of the run.
  if (before < log_keep) write_all(log->file, bytes, (DWORD)(log_keep - before));
  LARGE_INTEGER head;
  head.QuadPart = log_keep;
  SetFilePointerEx(log->file, head, NULL, FILE_BEGIN);
  SetEndOfFile(log->file);
  log->cut = true;
}

static char* decimal(char* at, uint64_t value) {
  char digits[24];
  int n = 0;
  do digits[n++] = (char)('0' + value % 10);
  while ((value /= 10) != 0);
  while (n > 0) *at++ = digits[--n];
  return at;
}

static char* append_bytes(char* at, const char* text) {
  size_t n = strlen(text);
  memcpy(at, text, n);
  return at + n;
}

// A cut log gets the line that says how much was left out, then its tail.
static void log_finish(BuildLog* log) {
  if (log->file == INVALID_HANDLE_VALUE || !log->cut) return;
  char line[160];
  char* at = line;
  if (log->head_last != '\n') *at++ = '\n';  // the line starts a line of its own
  at = append_bytes(at, "--- ");
  at = decimal(at, log->total - 2ull * log_keep);
  at = append_bytes(at, " bytes of output left out here; the log keeps the first and last ");
  at = decimal(at, log_keep);
  at = append_bytes(at, " bytes ---\n");
  write_all(log->file, line, (DWORD)(at - line));
  uint32_t start = (uint32_t)(log->total % log_keep);
  write_all(log->file, log_ring + start, log_keep - start);
  write_all(log->file, log_ring, start);
}

enum LogOpening { LOG_OPEN, LOG_NONE, LOG_LINK };
static const wchar_t LOG_LINK_TEXT[] =
    L"The build log cannot be written: %ls is a link that could not be removed. Remove it, then build again.";

static HANDLE create_new_log(const wchar_t* log_path) {
  // A new file only, and never through a link: an existing name, link or
  // not, makes this fail.
  return CreateFileW(log_path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// What stands at the log's name after it could not be removed: a link (or
// something the platform cannot open as itself) or a real file or folder.
static bool is_link_there(const wchar_t* log_path, const wchar_t* expected) {
  HANDLE handle = CreateFileW(log_path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) return true;  // a name that cannot be opened: a dangling host link
  BY_HANDLE_FILE_INFORMATION info;
  bool link = !GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
              !handle_is_at(handle, expected);
  CloseHandle(handle);
  return link;
}

// Opens a new "build_log.txt" in the kit folder. An older log, or a link at
// its name, is removed first (a link as the link itself); a link that cannot
// be removed must not be written through: LOG_LINK, and the job stops. A log
// that cannot be made for another reason (the name is a folder, or a file
// another program holds without sharing it for writing) leaves the build to
// run without one.
static LogOpening open_log(const wchar_t* kit_folder, const wchar_t* log_path, HANDLE* log) {
  *log = INVALID_HANDLE_VALUE;
  wchar_t place[PLACE_UNITS], expected[PLACE_UNITS];
  if (!folder_place(kit_folder, place) || !join_place(expected, place, L"build_log.txt")) return LOG_NONE;
  for (int attempt = 0; attempt < 2; attempt++) {
    HANDLE handle = create_new_log(log_path);
    if (handle != INVALID_HANDLE_VALUE) {
      if (handle_is_at(handle, expected)) {
        *log = handle;
        return LOG_OPEN;
      }
      CloseHandle(handle);
      return LOG_LINK;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return LOG_NONE;
    if (attempt > 0) break;
    DWORD attributes = GetFileAttributesW(log_path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return LOG_NONE;  // a folder of that name is not the runner's to delete
    delete_tree(log_path);  // removes a file, or a link as the link, never its target
  }
  // Still there: an older log that another program holds open (an editor
  // showing it) is written over in place, once the handle proves to hold
  // that file and not a link's target; a link is never written through.
  HANDLE handle = CreateFileW(log_path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (handle != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
        handle_is_at(handle, expected) && SetEndOfFile(handle)) {
      *log = handle;
      return LOG_OPEN;
    }
    CloseHandle(handle);
  }
  return is_link_there(log_path, expected) ? LOG_LINK : LOG_NONE;
}

// ---- A script outside its job object ----------------------------------------

// When the job object cannot take the script (the launcher itself runs in a
// job that forbids nesting), a cancel would terminate an empty job and the
// end of the launcher would leave the build running. The runner then ends
// the script's processes itself: the script's process, and every process
// whose parent is one of the tree's, found in process snapshots. A process
// counts as a child only when it was created after its parent, so that a
// parent id the platform reused does not take in a stranger; the handles of
// the ended processes stay open until the run's end so that their ids are not
// reused meanwhile. A process whose parent ended before it was seen cannot be
// found: the platform keeps no further trace of the tree.
enum { LOOSE_TREE_PROCESSES = 256 };
struct LooseTree {
  HANDLE root;                                  // the script's process (the runner's handle), or null
  int count;                                    // processes of the tree found, the root first
  DWORD ids[LOOSE_TREE_PROCESSES];              // their ids
  FILETIME created[LOOSE_TREE_PROCESSES];       // their creation times
  HANDLE handles[LOOSE_TREE_PROCESSES];         // handles of all but the root, held until the run ends
};
static LooseTree loose;
static SRWLOCK loose_lock = SRWLOCK_INIT;
static bool exit_hook_set;

static int tree_index(DWORD id) {
  for (int i = 0; i < loose.count; i++)
    if (loose.ids[i] == id) return i;
  return -1;
}

// One snapshot: ends and adds every process whose parent is in the tree.
// True when it found one.
static bool end_children_once() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    int parent = tree_index(entry.th32ParentProcessID);
    if (parent < 0 || tree_index(entry.th32ProcessID) >= 0 || loose.count == LOOSE_TREE_PROCESSES) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                 entry.th32ProcessID);
    if (!process) continue;
    FILETIME created, unused[3];
    if (!GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2]) ||
        CompareFileTime(&created, &loose.created[parent]) < 0) {
      CloseHandle(process);
      continue;
    }
    TerminateProcess(process, 1);
    loose.ids[loose.count] = entry.th32ProcessID;
    loose.created[loose.count] = created;
    loose.handles[loose.count] = process;
    loose.count++;
    found = true;
  }
  CloseHandle(snapshot);
  return found;
}

// Ends the script outside its job and every process it started that can be
// found; a few snapshots, so that a process started during one is found by
// the next. Nothing when no script runs outside its job.
static void end_loose_tree() {
  AcquireSRWLockExclusive(&loose_lock);
  if (loose.root) {
    TerminateProcess(loose.root, 1);  // first, so that it starts nothing more
    for (int pass = 0; pass < 8 && end_children_once(); pass++) {
    }
  }
  ReleaseSRWLockExclusive(&loose_lock);
}

// The launcher's end (its entry point returns and exit runs) takes a script
// outside its job with it, as closing the job object would.
static void end_loose_tree_at_exit() { end_loose_tree(); }

static void loose_tree_begin(HANDLE process, DWORD id) {
  AcquireSRWLockExclusive(&loose_lock);
  FILETIME unused[3];
  memset(&loose.created[0], 0, sizeof loose.created[0]);
  GetProcessTimes(process, &loose.created[0], &unused[0], &unused[1], &unused[2]);
  loose.ids[0] = id;
  loose.handles[0] = NULL;
  loose.count = 1;
  loose.root = process;
  if (!exit_hook_set) exit_hook_set = atexit(end_loose_tree_at_exit) == 0;
  ReleaseSRWLockExclusive(&loose_lock);
}

static void loose_tree_end() {
  AcquireSRWLockExclusive(&loose_lock);
  for (int i = 1; i < loose.count; i++) CloseHandle(loose.handles[i]);
  loose.count = 0;
  loose.root = NULL;
  ReleaseSRWLockExclusive(&loose_lock);
}

// The window's cancel reaches only the job object; for a script outside it
// the flag is polled here while the script runs.
static DWORD WINAPI watch_for_cancel(void* stop) {
  while (WaitForSingleObject((HANDLE)stop, 50) == WAIT_TIMEOUT)
    if (cancel_requested()) end_loose_tree();
  return 0;
}

// A cancel ends the script's processes, in the job object or outside it.
static void end_on_cancel() {
  if (!cancel_requested()) return;
  job_terminate_object(1);
  end_loose_tree();
}

// ---- The run ----------------------------------------------------------------

// Copies the script's output to the log and reads it line by line until every
// process of the build has closed its end of the pipe.
static void read_output(HANDLE read_end, BuildLog* log) {
  splitter_reset(&splitter);
  DWORD got = 0;
  while (ReadFile(read_end, read_buffer, sizeof read_buffer, &got, NULL) && got > 0) {
    log_write(log, read_buffer, got);
    splitter_feed(&splitter, read_buffer, got, handle_line, NULL);
    // Covers a cancel that came before the job object existed, and a script
    // outside it whose watcher has not looked yet.
    end_on_cancel();
  }
}

// The remembered line for the error text. The script runs in Python's UTF-8
// mode, so its lines are read as UTF-8; a line that is not valid UTF-8 (8-bit
// output of some other tool) passes its bytes through one to one, which shows
// more than replacement marks would.
static void line_to_text(const char* bytes, wchar_t* out, size_t units) {
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, -1, out, (int)units) > 0) return;
  size_t i = 0;
  for (; bytes[i] && i + 1 < units; i++) out[i] = (wchar_t)(unsigned char)bytes[i];
  out[i] = 0;
}

// One run of the build script: the process and what keeps it in hand.
struct ScriptRun {
  PROCESS_INFORMATION process;  // the script, started suspended; null handles before
  HANDLE read_end;              // our end of the output pipe, or null
  HANDLE job;                   // the job object holding the script, or null
  HANDLE stop_watch, watcher;   // the cancel watch where no job holds it, or null
  bool loose;                   // the runner ends the script's processes itself
};

// Starts the script suspended with its own environment and its output into
// a pipe, puts it into a kill-on-close job object (or, where the platform
// refuses, watches it for a cancel itself), then lets it run. False with the
// job failed when it could not start; run holds what must be released.
static bool start_script(ScriptRun* run, const wchar_t* kit_folder, const wchar_t* interpreter,
                         const wchar_t* environment) {
  HANDLE write_end = NULL;
  SECURITY_ATTRIBUTES inherit;
  memset(&inherit, 0, sizeof inherit);
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  if (!CreatePipe(&run->read_end, &write_end, &inherit, 0)) {
    fail_build(L"Could not start the build (pipe).");
    return false;
  }
  // Only the write end may reach the script.
  SetHandleInformation(run->read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;

  // Kill on close: when the job object's last handle goes, or the launcher
  // ends, every process of the build ends with it.
  run->job = CreateJobObjectW(NULL, NULL);
  if (run->job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(run->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    job_set_object(run->job);
  }

  if (!CreateProcessW(interpreter, command_line, NULL, NULL, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, (void*)environment,
                      kit_folder, &startup, &run->process)) {
    DWORD error = GetLastError();
    CloseHandle(write_end);
    wchar_t text[ERROR_TEXT_UNITS];
    describe_start_failure(text, ERROR_TEXT_UNITS, L"the build tools", error);
    fail_build(L"%ls", text);
    return false;
  }

  // Suspended until it is in the job, so that every process it starts is too.
  if (!run->job || !assign_to_job(run->job, run->process.hProcess)) {
    // The job holds nothing: the runner ends the script's processes itself.
    if (run->job) job_close_object();
    run->job = NULL;
    loose_tree_begin(run->process.hProcess, run->process.dwProcessId);
    run->loose = true;
    run->stop_watch = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (run->stop_watch) run->watcher = CreateThread(NULL, 0, watch_for_cancel, run->stop_watch, 0, NULL);
  }
  // A cancel that came while the script was being set up ends it right here.
  end_on_cancel();
  ResumeThread(run->process.hThread);
  CloseHandle(run->process.hThread);
  run->process.hThread = NULL;
  // The pipe reports its end once every process of the build closed its copy.
  CloseHandle(write_end);
  return true;
}

// Copies the script's output to the log and reads its progress lines until
// every process of the build has closed the pipe, then waits for the script
// and returns its exit code (1 when it cannot be read).
static DWORD collect_output(ScriptRun* run, BuildLog* log) {
  read_output(run->read_end, log);
  CloseHandle(run->read_end);
  run->read_end = NULL;
  WaitForSingleObject(run->process.hProcess, INFINITE);
  DWORD exit_code = 1;
  if (!GetExitCodeProcess(run->process.hProcess, &exit_code)) exit_code = 1;
  return exit_code;
}

// Releases what start_script acquired, in reverse order; what the script
// left running ends with the run, as the job object's closing would end it.
static void end_script(ScriptRun* run) {
  if (run->watcher) {
    SetEvent(run->stop_watch);
    WaitForSingleObject(run->watcher, INFINITE);
    CloseHandle(run->watcher);
  }
  if (run->stop_watch) CloseHandle(run->stop_watch);
  if (run->loose) {
    end_loose_tree();
    loose_tree_end();
  }
  if (run->process.hThread) CloseHandle(run->process.hThread);
  if (run->process.hProcess) CloseHandle(run->process.hProcess);
  if (run->job) job_close_object();
  if (run->read_end) CloseHandle(run->read_end);
}

bool run_build_tool(const wchar_t* kit_folder, const wchar_t* toolchain_folder, const wchar_t* interpreter,
                    const wchar_t* disc_path, const wchar_t* region_word, const wchar_t* level_list) {
  wchar_t compiler_folder[PATH_UNITS];
  join_path(compiler_folder, toolchain_folder, L"zig");
  format_text(command_line, COMMAND_LINE_UNITS,
              L"\"%ls\" -u build.py --platform windows --region %ls --levels %ls --iso \"%ls\" --repo decomp -j %d",
              interpreter, region_word, level_list, disc_path, build_job_count());
  tail_reset(&tail);

  BuildLog log;
  memset(&log, 0, sizeof log);
  log.file = INVALID_HANDLE_VALUE;
  ScriptRun run;
  memset(&run, 0, sizeof run);
  wchar_t* environment = NULL;
  bool ok = false;

  wchar_t log_path[PATH_UNITS];
  if (join_path(log_path, kit_folder, L"build_log.txt") && open_log(kit_folder, log_path, &log.file) == LOG_LINK) {
    fail_build(LOG_LINK_TEXT, log_path);
  } else if (!(environment = script_environment(kit_folder, toolchain_folder, compiler_folder))) {
    // Only memory can be missing for it.
    wchar_t text[ERROR_TEXT_UNITS];
    describe_start_failure(text, ERROR_TEXT_UNITS, L"the build tools", ERROR_NOT_ENOUGH_MEMORY);
    fail_build(L"%ls", text);
  } else if (start_script(&run, kit_folder, interpreter, environment)) {
    DWORD exit_code = collect_output(&run, &log);
    if (cancel_requested()) {
      ok = false;
    } else if (exit_code != 0) {
      wchar_t last[TAIL_LINE_BYTES];
      const char* line = tail_last(&tail);
      line_to_text(line ? line : "no output", last, TAIL_LINE_BYTES);
      wchar_t text[ERROR_TEXT_UNITS];
      describe_script_exit(text, ERROR_TEXT_UNITS, exit_code, last);
      fail_build(L"%ls", text);
    } else {
      ok = true;
    }
  }

  end_script(&run);
  if (environment) HeapFree(GetProcessHeap(), 0, environment);
  log_finish(&log);
  if (log.file != INVALID_HANDLE_VALUE) CloseHandle(log.file);
  return ok;
}
