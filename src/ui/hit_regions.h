// Clickable rectangles recorded by each paint, and the seventeen commands
// they carry; and the items (named, with a role and a state) that the
// keyboard and screen readers walk. Plain data and the list operations.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { HIT_REGION_CAPACITY = 96 };  // regions per paint; later ones are not clickable

enum CommandId : int32_t {
  CMD_ADD_DISC = 1,
  CMD_SCAN_FOLDER = 2,
  CMD_SELECT_ENTRY = 3,
  CMD_PRIMARY_ACTION = 4,
  CMD_OPEN_SETTINGS = 5,
  CMD_OPEN_LOG = 6,
  CMD_OPEN_GAME_FOLDER = 7,
  CMD_REMOVE_ENTRY = 8,
  CMD_CLOSE_SETTINGS = 9,
  CMD_SET_RESOLUTION = 10,
  CMD_TOGGLE_SETTING = 11,
  CMD_CAPTURE_LESS = 12,
  CMD_CAPTURE_MORE = 13,
  CMD_LEVEL_PREV = 14,
  CMD_LEVEL_NEXT = 15,
  CMD_CANCEL_BUILD = 16,
  CMD_REBUILD = 17,
};

// Regions that are no command: the two slim scroll bars, which the window's
// mouse handlers drag or page themselves. dispatch_command ignores them.
enum ScrollBarId : int32_t {
  SCROLL_BAR_LIST = 101,  // the library list's bar, in the sidebar's right margin
  SCROLL_BAR_PANE = 102,  // the main pane's bar, in its right margin
};

struct HitRegion {
  RECT rect;    // client coordinates; left <= x < right, top <= y < bottom
  int32_t id;   // CommandId, never 0
  int32_t arg;  // the command's argument
};

// Appends a region while fewer than HIT_REGION_CAPACITY are recorded.
void add_hit_region(RECT rect, int32_t id, int32_t arg);

// The last recorded region that holds the point, or null.
const HitRegion* hit_test(int x, int y);

// What a paint drew that the keyboard and assistive technology need to know
// about: every button (disabled ones too), library row, switch, resolution
// choice, stepper and the progress bar, in drawing order, which the painters
// keep in reading order (sidebar top to bottom, then the main pane top to
// bottom, left to right within a row). The hit regions stay the mouse's own
// list; these records never change what a click reaches.
enum { UI_ITEM_CAPACITY = 128, UI_NAME_UNITS = 128, UI_DETAIL_UNITS = 192 };

enum UiRole : int32_t {
  UI_ROLE_BUTTON = 1,     // a push button
  UI_ROLE_LIST_ITEM = 2,  // a library row; detail holds region and status
  UI_ROLE_SWITCH = 3,     // an on/off setting
  UI_ROLE_CHOICE = 4,     // one segment of a two-way choice
  UI_ROLE_STEPPER = 5,    // a value with less and more; detail holds the value
  UI_ROLE_PROGRESS = 6,   // build progress; name is the stage, detail the percentage
};

enum UiItemFlag : int32_t {
  UI_ITEM_DISABLED = 1,  // drawn, but a click does nothing
  UI_ITEM_CHECKED = 2,   // a switch that is on, the chosen segment
  UI_ITEM_SELECTED = 4,  // the selected library row
  UI_ITEM_OFFSCREEN = 8, // scrolled out of the main pane: Tab reaches it, a click cannot
};

struct UiItem {
  RECT rect;                       // client coordinates, as drawn
  int32_t id;                      // CommandId a click or Enter performs; 0 for none
  int32_t arg;                     // the command's argument
  int32_t less_id;                 // steppers: the command that steps down; 0 otherwise
  int32_t role;                    // UiRole
  int32_t flags;                   // UiItemFlag bits
  wchar_t name[UI_NAME_UNITS];     // the label a reader speaks, cut to fit
  wchar_t detail[UI_DETAIL_UNITS]; // rows: region and status; steppers and progress: the value
};

// Appends an item while fewer than UI_ITEM_CAPACITY are recorded. Null name
// or detail count as empty.
void record_item(RECT rect, int32_t id, int32_t arg, UiRole role, int32_t flags, const wchar_t* name,
                 const wchar_t* detail);

// A stepper as one item: Enter and Right perform more_id, Left less_id.
void record_stepper(RECT rect, int32_t less_id, int32_t more_id, const wchar_t* name, const wchar_t* value);

// The recorded item that Tab, Enter and the arrows act on: the enabled item
// whose command and argument are the focus, or null.
const UiItem* focused_item();

// Index of the item with this command and argument in the last paint, or -1.
int32_t find_item(int32_t id, int32_t arg);
