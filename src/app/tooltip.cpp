// One tooltip control with one tool whose rectangle is moved onto the item
// under the pointer whenever that item changes, so that the control's own
// timing (delay, pop on leaving) works per item although the whole window is
// one custom-drawn surface. The text is asked for when the tip shows, from the
// item the tool was last pointed at. Disabled buttons record no hit region,
// so the items of the last paint are searched, not the regions.
// Memory: the control's handle and the text of the tip showing.
#include "app/tooltip.h"

#include "app/keyboard.h"
#include "ui/draw_kit.h"
#include "ui/ui_state.h"

enum { TOOL_ID = 1, TIP_UNITS = 320, TIP_WIDTH = 360 };

static HWND g_tooltip;
static int32_t g_tip_id, g_tip_arg;  // the item the tool covers; (0, 0) for none
static wchar_t g_tip_text[TIP_UNITS];

HWND tooltip_window() { return g_tooltip; }

void make_tooltip(HWND window) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  if (g_tooltip && IsWindow(g_tooltip)) DestroyWindow(g_tooltip);
  g_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, NULL, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, NULL,
                              (HINSTANCE)GetWindowLongPtrW(window, GWLP_HINSTANCE), NULL);
  if (!g_tooltip) return;
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_SUBCLASS;  // the control sees the window's mouse messages itself
  tool.hwnd = window;
  tool.uId = TOOL_ID;
  tool.lpszText = LPSTR_TEXTCALLBACKW;
  SendMessageW(g_tooltip, TTM_ADDTOOLW, 0, (LPARAM)&tool);
  SendMessageW(g_tooltip, TTM_SETMAXTIPWIDTH, 0, px(TIP_WIDTH));  // and "\n" starts a line
  g_tip_id = g_tip_arg = 0;
}

// The item under the point, last drawn first as for clicks, that has a tip.
static const UiItem* item_with_tip_at(int x, int y) {
  wchar_t text[TIP_UNITS];
  for (int32_t i = (g_ui.item_count < UI_ITEM_CAPACITY ? g_ui.item_count : UI_ITEM_CAPACITY) - 1; i >= 0; i--) {
    const UiItem& item = g_ui.items[i];
    POINT at = {x, y};
    if (PtInRect(&item.rect, at)) return tooltip_text(item, text, TIP_UNITS) ? &item : NULL;
  }
  return NULL;
}

void track_tooltip(HWND window, int x, int y) {
  if (!g_tooltip) return;
  const UiItem* item = item_with_tip_at(x, y);
  int32_t id = item ? item->id : 0, arg = item ? item->arg : 0;
  if (id == g_tip_id && arg == g_tip_arg) return;
  g_tip_id = id;
  g_tip_arg = arg;
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = window;
  tool.uId = TOOL_ID;
  if (item) tool.rect = item->rect;  // else empty: no tip over the background
  SendMessageW(g_tooltip, TTM_POP, 0, 0);
  SendMessageW(g_tooltip, TTM_NEWTOOLRECTW, 0, (LPARAM)&tool);
}

bool answer_tooltip(NMHDR* notice) {
  if (!g_tooltip || notice->hwndFrom != g_tooltip || notice->code != TTN_GETDISPINFOW) return false;
  NMTTDISPINFOW* info = (NMTTDISPINFOW*)notice;
  g_tip_text[0] = 0;
  int32_t i = find_item(g_tip_id, g_tip_arg);
  if (i >= 0) tooltip_text(g_ui.items[i], g_tip_text, TIP_UNITS);
  info->lpszText = g_tip_text;
  info->hinst = NULL;
  return true;
}
