// dispatch_command: what each of the seventeen commands does, which of them
// save the settings file and which close the settings panel. Runs on the main
// thread. An argument that names no entry (a region of a paint that came
// before a removal) does nothing. What an entry may do comes from
// entry_actions, the answer the painter draws its buttons from. Nothing here
// paints: the window repaints after every command it dispatches. Memory: path
// buffers on the stack.
#include "app/commands.h"

#include <windows.h>
#include <shellapi.h>

#include "core/failure_words.h"
#include "core/settings_table.h"
#include "core/state.h"
#include "pipeline/build_job.h"
#include "pipeline/job_status.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "library/library.h"
#include "ui/entry_actions.h"
#include "ui/hit_regions.h"
#include "ui/main_view.h"

static bool valid_entry(int32_t index) { return index >= 0 && index < g_state.entry_count; }

static void select_entry(int32_t index) {
  LauncherState& s = g_state;
  if (!valid_entry(index)) return;
  s.selected = index;
  s.settings_open = false;
  s.status_text[0] = 0;
  // The disc may have changed since it was last read; the worker looks again
  // and the row follows when it answers.
  queue_refresh(index, false);
  save_settings();
}

// Plays a built game or builds one not built yet, and nothing while the
// painter draws the button disabled.
static void primary_action() {
  int32_t i = g_state.selected;
  uint32_t actions = entry_actions(i);
  if (actions & ENTRY_PLAY)
    ask_to_play(i);
  else if (actions & ENTRY_BUILD)
    start_build(i);
}

static const wchar_t CHECKING_BEFORE_PLAY[] = L"Checking the disc before the game starts\u2026";

void ask_to_play(int32_t index) {
  LauncherState& s = g_state;
  if (!valid_entry(index) || s.running_entry >= 0 || game_is_being_built(index)) return;
  copy_text(s.status_text, STATUS_TEXT_UNITS, CHECKING_BEFORE_PLAY);
  s.status_is_error = false;
  queue_refresh(index, true);
}

void play_after_check(int32_t index) {
  LauncherState& s = g_state;
  if (!valid_entry(index)) return;
  // The check may have found the disc gone or changed: the row and the
  // message line say so, and nothing starts.
  bool checking_shown = wcscmp(s.status_text, CHECKING_BEFORE_PLAY) == 0;
  if (!(entry_actions(index) & ENTRY_PLAY)) {
    if (checking_shown) s.status_text[0] = 0;
    return;
  }
  if (checking_shown) s.status_text[0] = 0;
  start_identified_game(index);
}

bool choose_log_path(int32_t index, wchar_t (&out)[PATH_UNITS]) {
  const LauncherState& s = g_state;
  if (!(entry_actions(index) & ENTRY_OPEN_LOG)) return false;
  int32_t row = s.entries[index].catalog_row;
  wchar_t folder[PATH_UNITS];
  game_folder(row, folder);
  bool build_failed_here = g_job.failed && g_job.entry_index == index;
  if (!game_files_present(row) || build_failed_here)
    return format_text(out, PATH_UNITS, L"%ls\\games\\%ls\\build_log.txt", s.launcher_dir, CATALOG[row].game_id);
  return join_path(out, folder, L"mox1_log.txt");
}

void describe_open_failure(wchar_t* out, size_t units, const wchar_t* path, uint32_t error) {
  wchar_t code[48];
  format_windows_error(code, 48, error);
  // Wine tries a file with no program for it as a program itself and fails
  // with "bad format"; a log is never a program, so it means the same.
  if (error == ERROR_NO_ASSOCIATION || error == ERROR_BAD_EXE_FORMAT)
    format_text(out, units,
                L"Could not open %ls: no program is set to open .txt files (%ls). Open it with a text editor.", path,
                code);
  else
    format_text(out, units, L"Could not open %ls (%ls).", path, code);
}

static void open_log() {
  LauncherState& s = g_state;
  wchar_t log[PATH_UNITS];
  if (!choose_log_path(s.selected, log)) return;
  const wchar_t* name = wcsrchr(log, L'\\');
  bool build_log = name && _wcsicmp(name + 1, L"build_log.txt") == 0;
  if (GetFileAttributesW(log) == INVALID_FILE_ATTRIBUTES) {
    copy_text(s.status_text, STATUS_TEXT_UNITS,
              build_log ? L"No build log yet: it is written once a build runs the build script."
                        : L"No log yet: it is written when the game runs.");
    s.status_is_error = false;
    return;
  }
  // Asked without the shell's own error boxes, so that the one answer is ours.
  SHELLEXECUTEINFOW open = {};
  open.cbSize = sizeof open;
  open.fMask = SEE_MASK_FLAG_NO_UI;
  open.hwnd = s.main_window;
  open.lpVerb = L"open";
  open.lpFile = log;
  open.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&open)) {
    DWORD error = GetLastError();
    describe_open_failure(s.status_text, STATUS_TEXT_UNITS, log, error);
    s.status_is_error = true;
  }
}

static void open_game_folder() {
  int32_t i = g_state.selected;
  if (!(entry_actions(i) & ENTRY_GAME_FOLDER)) return;
  wchar_t folder[PATH_UNITS];
  game_folder(g_state.entries[i].catalog_row, folder);
  // A folder that is not there yet makes the shell fail quietly.
  ShellExecuteW(g_state.main_window, L"open", folder, NULL, NULL, SW_SHOWNORMAL);
}

// The index-th switch of the settings panel flips between 0 and 1.
static void toggle_setting(int32_t index) {
  const SettingInfo* setting = setting_switch(index);
  if (!setting) return;
  int32_t& value = g_state.*setting->field;
  value = value == 0 ? 1 : 0;
  save_settings();
}

// One step of a stepper setting, within its limits or round them.
static void step_setting(int32_t LauncherState::*field, int32_t step) {
  g_state.*field = setting_step(*setting_of(field), g_state.*field, step);
  save_settings();
}

// Asked with an entry selected and no game running, a rebuild closes the
// panel so that the selected view shows what follows; only an entry that can
// be rebuilt starts a build.
static void rebuild() {
  LauncherState& s = g_state;
  if (!valid_entry(s.selected) || s.running_entry >= 0) return;
  s.settings_open = false;
  if (entry_actions(s.selected) & ENTRY_REBUILD) start_build(s.selected);
}

void dispatch_command(int32_t id, int32_t arg) {
  LauncherState& s = g_state;
  switch (id) {
    case CMD_ADD_DISC: add_disc_dialog(); break;
    case CMD_SCAN_FOLDER: scan_folder_dialog(); break;
    case CMD_SELECT_ENTRY: select_entry(arg); break;
    case CMD_PRIMARY_ACTION: primary_action(); break;
    case CMD_OPEN_SETTINGS: s.settings_open = true; break;
    case CMD_OPEN_LOG: open_log(); break;
    case CMD_OPEN_GAME_FOLDER: open_game_folder(); break;
    case CMD_REMOVE_ENTRY: {
      if (!(entry_actions(s.selected) & ENTRY_REMOVE)) break;
      int32_t removed = remove_disc(g_job.running ? g_job.entry_index : -1);
      if (removed >= 0) {
        job_entry_removed(removed);
        keep_scroll_in_range();  // a shorter list may end above the offset
      }
      break;
    }
    case CMD_CLOSE_SETTINGS:
      s.settings_open = false;
      save_settings();
      break;
    case CMD_SET_RESOLUTION:
      s.upscaled = arg;
      save_settings();
      break;
    case CMD_TOGGLE_SETTING: toggle_setting(arg); break;
    case CMD_CAPTURE_LESS: step_setting(&LauncherState::capture_seconds, -1); break;
    case CMD_CAPTURE_MORE: step_setting(&LauncherState::capture_seconds, +1); break;
    case CMD_LEVEL_PREV: step_setting(&LauncherState::start_level, -1); break;
    case CMD_LEVEL_NEXT: step_setting(&LauncherState::start_level, +1); break;
    case CMD_CANCEL_BUILD: cancel_build(); break;
    case CMD_REBUILD: rebuild(); break;
    default: break;
  }
}
