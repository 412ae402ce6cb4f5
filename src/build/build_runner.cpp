// The build tool runner; see build_runner.h.
#include "build/build_runner.h"

#include <windows.h>
#include <stdint.h>
#include <string.h>

#include "app/state.h"
#include "app/text.h"
#include "build/job_status.h"
#include "build/progress_line.h"
#include "transfer/failure_words.h"

static wchar_t saved_path[SAVED_PATH_UNITS];  // the launcher's PATH before any build touched it
static bool path_saved;                        // saved_path holds it
static wchar_t command_line[COMMAND_LINE_UNITS];
static wchar_t script_path_value[SCRIPT_PATH_UNITS];
static char read_buffer[READ_CHUNK_BYTES];
static LineSplitter splitter;
static OutputTail tail;

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

// The script inherits the launcher's environment. These stay set after the
// run; the next run sets them again from the saved PATH, so PATH never grows.
static void prepare_environment(const wchar_t* kit_folder, const wchar_t* toolchain_folder,
                                const wchar_t* compiler_folder) {
  if (!path_saved) {
    DWORD n = GetEnvironmentVariableW(L"PATH", saved_path, SAVED_PATH_UNITS);
    // 0 (unset) or a PATH too long for the buffer: the saved PATH is empty.
    if (n == 0 || n >= SAVED_PATH_UNITS) saved_path[0] = 0;
    path_saved = true;
  }
  format_text(script_path_value, SCRIPT_PATH_UNITS, L"%ls;%ls\\python;%ls", compiler_folder, toolchain_folder,
              saved_path);
  SetEnvironmentVariableW(L"PATH", script_path_value);
  SetEnvironmentVariableW(L"PYTHONUTF8", L"1");
  SetEnvironmentVariableW(L"PYTHONDONTWRITEBYTECODE", L"1");
  SetEnvironmentVariableW(L"PYTHONHOME", NULL);
  SetEnvironmentVariableW(L"PYTHONPATH", NULL);
  wchar_t cache[PATH_UNITS];
  join_path(cache, kit_folder, L"zig-cache");
  SetEnvironmentVariableW(L"ZIG_GLOBAL_CACHE_DIR", cache);
  SetEnvironmentVariableW(L"ZIG_LOCAL_CACHE_DIR", cache);
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


// Copies the script's output to the log and reads it line by line until every
// process of the build has closed its end of the pipe.
static void read_output(HANDLE read_end, HANDLE log) {
  splitter_reset(&splitter);
  DWORD got = 0;
  while (ReadFile(read_end, read_buffer, sizeof read_buffer, &got, NULL) && got > 0) {
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(log, read_buffer, got, &written, NULL);
    }
    splitter_feed(&splitter, read_buffer, got, handle_line, NULL);
    // Covers a cancel that came before the job object existed.
    if (cancel_requested()) job_terminate_object(1);
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

bool run_build_tool(const wchar_t* kit_folder, const wchar_t* toolchain_folder, const wchar_t* interpreter,
                    const wchar_t* disc_path, const wchar_t* region_word, const wchar_t* level_list) {
  wchar_t compiler_folder[PATH_UNITS];
  join_path(compiler_folder, toolchain_folder, L"zig");
  format_text(command_line, COMMAND_LINE_UNITS,
              L"\"%ls\" -u build.py --platform windows --region %ls --levels %ls --iso \"%ls\" --repo decomp -j %d",
              interpreter, region_word, level_list, disc_path, build_job_count());
  prepare_environment(kit_folder, toolchain_folder, compiler_folder);
  tail_reset(&tail);

  HANDLE log = INVALID_HANDLE_VALUE;
  HANDLE read_end = NULL, write_end = NULL;
  HANDLE job = NULL;
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  DWORD exit_code = 1;
  bool ok = false;

  wchar_t log_path[PATH_UNITS];
  if (join_path(log_path, kit_folder, L"build_log.txt"))
    log = CreateFileW(log_path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);

  SECURITY_ATTRIBUTES inherit;
  memset(&inherit, 0, sizeof inherit);
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
    fail_build(L"Could not start the build (pipe).");
    goto release;
  }
  // Only the write end may reach the script.
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  {
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
    job = CreateJobObjectW(NULL, NULL);
    if (job) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
      memset(&limits, 0, sizeof limits);
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
      job_set_object(job);
    }

    if (!CreateProcessW(interpreter, command_line, NULL, NULL, TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED, NULL,
                        kit_folder, &startup, &process)) {
      DWORD error = GetLastError();
      wchar_t text[ERROR_TEXT_UNITS];
      describe_start_failure(text, ERROR_TEXT_UNITS, L"the build tools", error);
      fail_build(L"%ls", text);
      goto release;
    }
  }

  // Suspended until it is in the job, so that every process it starts is too.
  if (job) AssignProcessToJobObject(job, process.hProcess);
  // A cancel that came while the script was being set up ends it right here.
  if (cancel_requested()) job_terminate_object(1);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  process.hThread = NULL;
  // The pipe reports its end once every process of the build closed its copy.
  CloseHandle(write_end);
  write_end = NULL;

  read_output(read_end, log);

  CloseHandle(read_end);
  read_end = NULL;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 1;

  if (cancel_requested()) {
    ok = false;
  } else if (exit_code != 0) {
    wchar_t last[TAIL_LINE_BYTES];
    const char* line = tail_last(&tail);
    line_to_text(line ? line : "no output", last, TAIL_LINE_BYTES);
    fail_build(L"The build stopped (code %lu): %ls", (unsigned long)exit_code, last);
  } else {
    ok = true;
  }

release:
  if (process.hProcess) CloseHandle(process.hProcess);
  if (job) job_close_object();
  if (write_end) CloseHandle(write_end);
  if (read_end) CloseHandle(read_end);
  if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
  return ok;
}
