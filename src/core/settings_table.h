// The eight user settings in one table: the key in the settings file, the
// field of the state record, the value at first start, the values the field
// may hold, the control that changes it, and the panel's title and
// description. The defaults, the settings file's load and save, the commands
// and the settings panel all read it, so a setting is added in one place.
#pragma once
#include <stdint.h>

#include "core/state.h"

enum SettingControl : int32_t {
  SETTING_CHOICE = 0,   // segments, one per value (the resolution: 0 native, else upscaled)
  SETTING_SWITCH = 1,   // off 0, on anything else; a click flips between 0 and 1
  SETTING_STEPPER = 2,  // a value box with a button at each end, one step a click
};

struct SettingInfo {
  const wchar_t* key;             // name in the "settings" section of telvar.ini
  int32_t LauncherState::*field;  // where the state record keeps it
  int32_t fallback;               // value at first start, and for a stored value out of range
  int32_t low, high;              // the values a stepper holds; switches and choices take any value
  SettingControl control;
  bool inverted;                  // a switch drawn on while the stored value is 0
  bool wraps;                     // a stepper that goes on from one end to the other
  const wchar_t* title;           // the panel's title of the row
  const wchar_t* description;     // the panel's text under the title (the resolution's is a format:
                                  // the upscale factor, then the monitor's height in lines)
};

enum { SETTING_COUNT = 8, SETTING_SWITCH_COUNT = 5 };

// In the order the settings file and the panel list them.
extern const SettingInfo SETTING_TABLE[SETTING_COUNT];

// The setting of field, or null when the table has none.
const SettingInfo* setting_of(int32_t LauncherState::*field);

// The index-th switch of the table (0 to SETTING_SWITCH_COUNT - 1), or null.
const SettingInfo* setting_switch(int32_t index);

// True when value may stand as the setting's stored value.
bool setting_in_range(const SettingInfo& setting, int32_t value);

// The value one step (+1 or -1) on from value: within low and high a stepper
// stops at its ends, or a wrapping one goes on from the other end.
int32_t setting_step(const SettingInfo& setting, int32_t value, int32_t step);
