// Game launch and exit monitor. launch_game runs on the main thread: it
// identifies the disc again, sets the game's environment in this process,
// starts mox1_wrapper.exe in its own folder and hands the process handle to a
// monitor thread. At most one game runs; a second request does nothing.
// Refuses silently a disc that no longer identifies as buildable; says why
// when the game files are missing or the process cannot start. Memory: a few
// fixed buffers on the stack.
#include "launch/game_launch.h"

#include "core/state.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "core/failure_words.h"
#include "pipeline/job_status.h"

int32_t upscale_factor_for_height(int32_t height) {
  int32_t k = (height + 447) / 448;
  if (k < 3) return 2;
  if (k > 4) return 4;
  return k;
}

int32_t upscale_factor() {
  // The whole monitor, not its work area: the game runs full screen.
  HMONITOR monitor = MonitorFromWindow(g_state.main_window, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  int32_t height;
  if (monitor && GetMonitorInfoW(monitor, &info))
    height = info.rcMonitor.bottom - info.rcMonitor.top;
  else
    height = GetSystemMetrics(SM_CYSCREEN);
  return upscale_factor_for_height(height);
}

// Sets name to the formatted value, or removes it when format is null.
static void set_variable(const wchar_t* name, const wchar_t* format, int32_t value) {
  if (!format) {
    SetEnvironmentVariableW(name, NULL);
    return;
  }
  wchar_t text[GAME_ENV_VALUE_UNITS];
  format_text(text, GAME_ENV_VALUE_UNITS, format, value);
  SetEnvironmentVariableW(name, text);
}

void set_game_environment() {
  const LauncherState& s = g_state;
  SetEnvironmentVariableW(L"TQA_RENDERER", L"gl");
  set_variable(L"TQA_SCALE", L"%d", s.upscaled ? upscale_factor() : 1);
  set_variable(L"TQA_VSYNC", s.vsync ? L"1" : NULL, 0);
  set_variable(L"TQA_MTGS", s.no_gs_thread ? L"0" : NULL, 0);
  set_variable(L"TQA_GLTHREAD", s.no_gl_thread ? L"0" : NULL, 0);
  set_variable(L"TQA_FPSLOG", s.fps_log ? L"1" : NULL, 0);
  set_variable(L"TQA_GSREC_N", L"%d", s.capture_seconds * 50);  // frames at 50 per second
  set_variable(L"TQA_LEVEL", s.start_level >= 0 ? L"%d@1" : NULL, s.start_level);
}

bool game_is_being_built(int32_t index) {
  const LauncherState& s = g_state;
  int32_t built = g_job.entry_index;
  if (!g_job.running || index < 0 || index >= s.entry_count || built < 0 || built >= s.entry_count) return false;
  return s.entries[built].catalog_row >= 0 && s.entries[built].catalog_row == s.entries[index].catalog_row;
}

void launch_game(int32_t index) {
  LauncherState& s = g_state;
  if (index < 0 || index >= s.entry_count || s.running_entry >= 0) return;
  if (game_is_being_built(index)) return;
  identify_disc(&s.entries[index]);
  start_identified_game(index);
}

void start_identified_game(int32_t index) {
  LauncherState& s = g_state;
  if (index < 0 || index >= s.entry_count || s.running_entry >= 0) return;
  if (game_is_being_built(index)) return;

  LibraryEntry* entry = &s.entries[index];
  // Another revision still starts: the player chose that disc.
  if (entry->status != DISC_OK && entry->status != DISC_OTHER_REVISION) return;
  int32_t row = entry->catalog_row;
  if (row < 0 || !CATALOG[row].wrapper_exe) return;

  wchar_t folder[PATH_UNITS], application[PATH_UNITS];
  game_folder(row, folder);
  // A cut application path would name another program: treat it as missing.
  bool whole = join_path(application, folder, CATALOG[row].wrapper_exe);
  if (!whole || !game_files_present(row)) {
    format_text(s.status_text, STATUS_TEXT_UNITS, L"The game files are not in %ls", folder);
    s.status_is_error = true;
    return;
  }

  set_game_environment();
  wchar_t command[GAME_COMMAND_UNITS];
  format_text(command, GAME_COMMAND_UNITS, L"\"%ls\" - \"%ls\"", application, entry->path);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application, command, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
    DWORD error = GetLastError();
    describe_start_failure(s.status_text, STATUS_TEXT_UNITS, CATALOG[row].wrapper_exe, error);
    s.status_is_error = true;
    return;
  }
  CloseHandle(process.hThread);
  s.game_process = process.hProcess;
  s.running_entry = index;
  s.status_text[0] = 0;
  s.status_is_error = false;

  HANDLE watcher = CreateThread(NULL, 0, watch_game, process.hProcess, 0, NULL);
  if (watcher) {
    CloseHandle(watcher);
  } else {
    // Without a monitor no exit would ever be reported and every later launch
    // would be refused; let the game run on untracked instead.
    CloseHandle(s.game_process);
    s.game_process = NULL;
    s.running_entry = -1;
  }
  if (s.minimize) ShowWindow(s.main_window, SW_MINIMIZE);
}

DWORD WINAPI watch_game(LPVOID process) {
  HANDLE handle = (HANDLE)process;
  WaitForSingleObject(handle, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(handle, &code)) code = 0;
  PostMessageW(g_state.main_window, WM_APP_GAME_EXITED, (WPARAM)code, 0);
  return 0;
}
