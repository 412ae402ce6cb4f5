// The table of the eight user settings; see settings_table.h.
#include "core/settings_table.h"

#include <limits.h>

const SettingInfo SETTING_TABLE[SETTING_COUNT] = {
    {L"upscaled", &LauncherState::upscaled, 1, INT32_MIN, INT32_MAX, SETTING_CHOICE, false, false, L"Resolution",
     L"Native draws at the PS2's own resolution, as the game was. Upscaled draws at %dx for this "
     L"%d-line screen: sharper, more GPU work."},
    {L"vsync", &LauncherState::vsync, 0, INT32_MIN, INT32_MAX, SETTING_SWITCH, false, false, L"VSync",
     L"Waits for the monitor's refresh. Off lets the game pace itself at 50 fps."},
    {L"no_gs_thread", &LauncherState::no_gs_thread, 0, INT32_MIN, INT32_MAX, SETTING_SWITCH, true, false,
     L"Graphics on its own thread", L"Runs the PS2 graphics chip beside the game. Turn off only to test a problem."},
    {L"no_gl_thread", &LauncherState::no_gl_thread, 0, INT32_MIN, INT32_MAX, SETTING_SWITCH, true, false,
     L"OpenGL calls on their own thread",
     L"Sends drawing to the driver from a separate thread. Turn off only to test a problem."},
    {L"fps_log", &LauncherState::fps_log, 0, INT32_MIN, INT32_MAX, SETTING_SWITCH, false, false,
     L"Performance statistics", L"Writes frame timings to mox1_log.txt every 2 seconds, for bug reports."},
    // The game records 50 frames a second of graphics input; ten seconds is
    // already some 2.6 GB.
    {L"capture_seconds", &LauncherState::capture_seconds, 3, 1, 10, SETTING_STEPPER, false, false,
     L"F9 capture length",
     L"F9 in the game records this much graphics input to gsrec_NN.bin, for glitch reports (about 260 MB a "
     L"second)."},
    // -1 is off; 0 to 18 index the level table of the catalogue.
    {L"start_level", &LauncherState::start_level, -1, -1, 18, SETTING_STEPPER, false, true,
     L"Start in a level (testing)", L"Skips the menus and loads this level with a fresh save. Off for normal play."},
    {L"minimize", &LauncherState::minimize, 1, INT32_MIN, INT32_MAX, SETTING_SWITCH, false, false,
     L"Minimize while playing", L"Tucks this window away when a game starts."},
};

const SettingInfo* setting_of(int32_t LauncherState::*field) {
  for (const SettingInfo& s : SETTING_TABLE)
    if (s.field == field) return &s;
  return nullptr;
}

const SettingInfo* setting_switch(int32_t index) {
  if (index < 0) return nullptr;
  for (const SettingInfo& s : SETTING_TABLE)
    if (s.control == SETTING_SWITCH && index-- == 0) return &s;
  return nullptr;
}

bool setting_in_range(const SettingInfo& setting, int32_t value) {
  return value >= setting.low && value <= setting.high;
}

int32_t setting_step(const SettingInfo& setting, int32_t value, int32_t step) {
  if (step < 0) {
    if (value > setting.low) return value - 1;
    return setting.wraps ? setting.high : value;
  }
  if (value < setting.high) return value + 1;
  return setting.wraps ? setting.low : value;
}
