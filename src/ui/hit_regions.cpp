// The hit-region list that each paint rebuilds, and the search the mouse
// handlers make in it. The list is a fixed array in the state record: a paint
// that records more than HIT_REGION_CAPACITY regions loses the later ones,
// which are then neither hovered nor clickable.
#include "ui/hit_regions.h"

#include "ui/ui_state.h"

void add_hit_region(RECT rect, int32_t id, int32_t arg) {
  UiState& s = g_ui;
  if (s.hit_region_count < 0 || s.hit_region_count >= HIT_REGION_CAPACITY) return;
  HitRegion& region = s.hit_regions[s.hit_region_count++];
  region.rect = rect;
  region.id = id;
  region.arg = arg;
}

const HitRegion* hit_test(int x, int y) {
  UiState& s = g_ui;
  int32_t count = s.hit_region_count;
  if (count > HIT_REGION_CAPACITY) count = HIT_REGION_CAPACITY;
  // Last appended first: what is drawn later lies on top.
  for (int32_t i = count - 1; i >= 0; i--) {
    const RECT& r = s.hit_regions[i].rect;
    if (r.left <= x && x < r.right && r.top <= y && y < r.bottom) return &s.hit_regions[i];
  }
  return NULL;
}
