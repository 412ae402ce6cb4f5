// dispatch_command: what each of the seventeen commands does, which of them
// save the settings file and which close the settings panel. Runs on the main
// thread. An argument that names no entry (a region of a paint that came
// before a removal) does nothing. Memory: path buffers on the stack.
#include "app/commands.h"

#include <windows.h>
#include <shellapi.h>

#include "core/state.h"
#include "pipeline/build_job.h"
#include "pipeline/job_status.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "library/library.h"
#include "ui/hit_regions.h"

static void repaint() {
  if (g_state.main_window) InvalidateRect(g_state.main_window, NULL, FALSE);
}

static bool valid_entry(int32_t index) { return index >= 0 && index < g_state.entry_count; }

// The row of an entry whose build makes a game, or -1.
static int32_t game_row(int32_t index) {
  if (!valid_entry(index)) return -1;
  int32_t row = g_state.entries[index].catalog_row;
  return row >= 0 && row < CATALOG_ROWS && CATALOG[row].wrapper_exe ? row : -1;
}

static void select_entry(int32_t index) {
  LauncherState& s = g_state;
  if (!valid_entry(index)) return;
  s.selected = index;
  s.settings_open = false;
  s.status_text[0] = 0;
  identify_disc(&s.entries[index]);
  save_settings();
}

static void primary_action() {
  int32_t i = g_state.selected;
  int32_t row = game_row(i);
  if (row >= 0 && !game_files_present(row))
    start_build(i);
  else
    launch_game(i);
}

bool choose_log_path(int32_t index, wchar_t (&out)[PATH_UNITS]) {
  const LauncherState& s = g_state;
  if (!valid_entry(index)) return false;
  int32_t row = s.entries[index].catalog_row;
  if (!catalog_row_buildable(row)) return false;
  wchar_t folder[PATH_UNITS];
  game_folder(row, folder);
  bool build_failed_here = g_job.failed && g_job.entry_index == index;
  if (!game_files_present(row) || build_failed_here)
    return format_text(out, PATH_UNITS, L"%ls\\games\\%ls\\build_log.txt", s.launcher_dir, CATALOG[row].game_id);
  return join_path(out, folder, L"mox1_log.txt");
}

static void open_log() {
  LauncherState& s = g_state;
  wchar_t log[PATH_UNITS];
  if (!choose_log_path(s.selected, log)) return;
  if (GetFileAttributesW(log) == INVALID_FILE_ATTRIBUTES) {
    copy_text(s.status_text, STATUS_TEXT_UNITS, L"No log yet: it is written when the game runs.");
    s.status_is_error = false;
    return;
  }
  ShellExecuteW(s.main_window, L"open", log, NULL, NULL, SW_SHOWNORMAL);
}

static void open_game_folder() {
  int32_t i = g_state.selected;
  if (!valid_entry(i)) return;
  int32_t row = g_state.entries[i].catalog_row;
  if (!catalog_row_buildable(row)) return;
  wchar_t folder[PATH_UNITS];
  game_folder(row, folder);
  // A folder that is not there yet makes the shell fail quietly.
  ShellExecuteW(g_state.main_window, L"open", folder, NULL, NULL, SW_SHOWNORMAL);
}

// The five switches of the settings panel, by toggle index.
static int32_t LauncherState::*const TOGGLES[] = {
    &LauncherState::vsync,  &LauncherState::no_gs_thread, &LauncherState::no_gl_thread,
    &LauncherState::fps_log, &LauncherState::minimize,
};
enum { TOGGLE_COUNT = sizeof TOGGLES / sizeof TOGGLES[0] };

static void toggle_setting(int32_t index) {
  if (index < 0 || index >= TOGGLE_COUNT) return;
  int32_t& value = g_state.*TOGGLES[index];
  value = value == 0 ? 1 : 0;
  save_settings();
}

static void rebuild() {
  LauncherState& s = g_state;
  if (!valid_entry(s.selected) || s.running_entry >= 0) return;
  s.settings_open = false;
  start_build(s.selected);
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
      int32_t removed = remove_disc(g_job.running ? g_job.entry_index : -1);
      if (removed >= 0) job_entry_removed(removed);
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
    case CMD_CAPTURE_LESS:
      if (s.capture_seconds >= 2) s.capture_seconds--;
      save_settings();
      break;
    case CMD_CAPTURE_MORE:
      if (s.capture_seconds <= 9) s.capture_seconds++;
      save_settings();
      break;
    case CMD_LEVEL_PREV:
      s.start_level = s.start_level < 0 ? LEVEL_COUNT - 1 : s.start_level - 1;
      save_settings();
      break;
    case CMD_LEVEL_NEXT:
      s.start_level = s.start_level < LEVEL_COUNT - 1 ? s.start_level + 1 : -1;
      save_settings();
      break;
    case CMD_CANCEL_BUILD: cancel_build(); break;
    case CMD_REBUILD: rebuild(); break;
    default: break;
  }
  repaint();
}
