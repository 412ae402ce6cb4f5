// Clickable rectangles recorded by each paint, and the seventeen commands
// they carry. Plain data and the two list operations.
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

struct HitRegion {
  RECT rect;    // client coordinates; left <= x < right, top <= y < bottom
  int32_t id;   // CommandId, never 0
  int32_t arg;  // the command's argument
};

// Appends a region while fewer than HIT_REGION_CAPACITY are recorded.
void add_hit_region(RECT rect, int32_t id, int32_t arg);

// The last recorded region that holds the point, or null.
const HitRegion* hit_test(int x, int y);
