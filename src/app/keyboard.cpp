// Focus, shortcuts and tooltip texts. The focus is a command and an argument,
// like the pointer's hover, so that it survives the repaints that rebuild the
// item list; an item that is no longer drawn simply holds no focus, and the
// next Tab starts over from the first item. Memory: the state records only.
#include "app/keyboard.h"

#include "core/state.h"
#include "core/text.h"
#include "pipeline/job_status.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

bool takes_focus(const UiItem& item) { return item.id != 0 && !(item.flags & UI_ITEM_DISABLED); }

bool move_focus(int step) {
  UiState& s = g_ui;
  int32_t count = s.item_count < UI_ITEM_CAPACITY ? s.item_count : UI_ITEM_CAPACITY;
  if (count <= 0) return false;
  int32_t at = find_item(s.focus_id, s.focus_arg);
  if (at < 0) at = step > 0 ? -1 : count;
  for (int32_t tried = 0; tried < count; tried++) {
    at += step > 0 ? 1 : -1;
    if (at >= count) at = 0;
    if (at < 0) at = count - 1;
    if (takes_focus(s.items[at])) {
      set_focus(s.items[at].id, s.items[at].arg);
      return true;
    }
  }
  return false;
}

void set_focus(int32_t id, int32_t arg) {
  g_ui.focus_id = id;
  g_ui.focus_arg = arg;
  g_ui.focus_visible = true;
}

int32_t shortcut_command(WPARAM key, bool ctrl, bool shift) {
  if (ctrl && key == 'O') return shift ? CMD_SCAN_FOLDER : CMD_ADD_DISC;
  if ((ctrl && key == VK_OEM_COMMA) || (!ctrl && key == VK_F2)) return CMD_OPEN_SETTINGS;
  if (!ctrl && key == VK_F5) return CMD_PRIMARY_ACTION;
  return 0;
}

const wchar_t* shortcut_text(int32_t id) {
  switch (id) {
    case CMD_ADD_DISC: return L"Ctrl+O";
    case CMD_SCAN_FOLDER: return L"Ctrl+Shift+O";
    case CMD_OPEN_SETTINGS: return L"Ctrl+, or F2";
    case CMD_PRIMARY_ACTION: return L"F5";
    case CMD_REMOVE_ENTRY: return L"Delete";
    case CMD_CANCEL_BUILD: return L"Esc";
    case CMD_CLOSE_SETTINGS: return L"Esc";
    default: return NULL;
  }
}

const wchar_t* disabled_reason(const UiItem& item) {
  if (!(item.flags & UI_ITEM_DISABLED)) return NULL;
  const LauncherState& s = g_state;
  switch (item.id) {
    case CMD_PRIMARY_ACTION:
      if (s.running_entry >= 0) return L"A game is running. Close it first.";
      if (g_job.running) return L"A build is running. Wait for it to end.";
      return L"This disc has no game to build or play yet.";
    case CMD_OPEN_LOG: return L"This disc has no game that keeps a log.";
    case CMD_OPEN_GAME_FOLDER: return L"This disc has no game folder.";
    case CMD_REMOVE_ENTRY: return L"Its game is running. Close the game first.";
    case CMD_CANCEL_BUILD: return L"The build is stopping.";
    case CMD_REBUILD:
      if (s.selected < 0 || s.selected >= s.entry_count) return L"Select a disc first.";
      if (g_job.running) return L"A build is running. Wait for it to end.";
      if (s.running_entry >= 0) return L"A game is running. Close it first.";
      return L"Only a supported disc can be rebuilt.";
    default: return L"Not available now.";
  }
}

bool tooltip_text(const UiItem& item, wchar_t* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = 0;
  if (item.role != UI_ROLE_BUTTON && item.role != UI_ROLE_SWITCH && item.role != UI_ROLE_STEPPER) return false;
  const wchar_t* keys = shortcut_text(item.id);
  const wchar_t* reason = disabled_reason(item);
  format_text(out, capacity, L"%ls%ls%ls%ls%ls%ls", item.name, keys ? L" (" : L"", keys ? keys : L"",
              keys ? L")" : L"", reason ? L"\n" : L"", reason ? reason : L"");
  return true;
}
