// The hit-region list that each paint rebuilds, and the search the mouse
// handlers make in it. The list is a fixed array in the state record: a paint
// that records more than HIT_REGION_CAPACITY regions loses the later ones,
// which are then neither hovered nor clickable.
#include "ui/hit_regions.h"

#include "core/text.h"
#include "ui/ui_state.h"

// The next free record of a fixed list, counted in count; null once the
// list is full (later records are dropped, as the capacities say).
template <typename Record, int32_t Capacity>
static Record* next_record(Record (&records)[Capacity], int32_t& count) {
  if (count < 0 || count >= Capacity) return NULL;
  return &records[count++];
}

void add_hit_region(RECT rect, int32_t id, int32_t arg) {
  HitRegion* region = next_record(g_ui.hit_regions, g_ui.hit_region_count);
  if (region) *region = HitRegion{rect, id, arg};
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

void record_item(RECT rect, int32_t id, int32_t arg, UiRole role, int32_t flags, const wchar_t* name,
                 const wchar_t* detail) {
  UiItem* record = next_record(g_ui.items, g_ui.item_count);
  if (!record) return;
  UiItem& item = *record;
  item.rect = rect;
  item.id = id;
  item.arg = arg;
  item.less_id = 0;
  item.role = role;
  item.flags = flags;
  copy_text(item.name, UI_NAME_UNITS, name ? name : L"");
  copy_text(item.detail, UI_DETAIL_UNITS, detail ? detail : L"");
}

void record_stepper(RECT rect, int32_t less_id, int32_t more_id, const wchar_t* name, const wchar_t* value) {
  int32_t before = g_ui.item_count;
  record_item(rect, more_id, 0, UI_ROLE_STEPPER, 0, name, value);
  if (g_ui.item_count > before) g_ui.items[before].less_id = less_id;
}

int32_t find_item(int32_t id, int32_t arg) {
  const UiState& s = g_ui;
  if (id == 0) return -1;
  int32_t count = s.item_count < UI_ITEM_CAPACITY ? s.item_count : UI_ITEM_CAPACITY;
  for (int32_t i = 0; i < count; i++)
    if (s.items[i].id == id && s.items[i].arg == arg) return i;
  return -1;
}

const UiItem* focused_item() {
  int32_t i = find_item(g_ui.focus_id, g_ui.focus_arg);
  if (i < 0 || (g_ui.items[i].flags & UI_ITEM_DISABLED)) return NULL;
  return &g_ui.items[i];
}
