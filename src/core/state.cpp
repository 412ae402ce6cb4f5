// The launcher's state record and its values at process start.
#include "core/state.h"

#include <string.h>

#include "core/settings_table.h"

LauncherState g_state;

void reset_state() {
  memset(&g_state, 0, sizeof g_state);
  g_state.dpi_scale = 1.0f;
  g_state.selected = -1;
  for (const SettingInfo& setting : SETTING_TABLE) g_state.*setting.field = setting.fallback;
  g_state.running_entry = -1;
}

// The record is ready before main runs.
static const bool state_ready = (reset_state(), true);

bool locate_launcher() {
  wchar_t module[PATH_UNITS];
  DWORD n = GetModuleFileNameW(NULL, module, PATH_UNITS);
  // A path that fills the buffer was cut: its last backslash would make a
  // parent folder the launcher's, where later deletions would act.
  if (n == 0 || n >= PATH_UNITS) {
    g_state.launcher_dir[0] = 0;
    g_state.settings_path[0] = 0;
    return false;
  }
  module[n] = 0;
  copy_text(g_state.launcher_dir, PATH_UNITS, module);
  wchar_t* slash = wcsrchr(g_state.launcher_dir, L'\\');
  if (slash) *slash = 0;
  if (!join_path(g_state.settings_path, g_state.launcher_dir, L"telvar.ini")) {
    g_state.settings_path[0] = 0;  // a cut name would be another file
    return false;
  }
  return true;
}
