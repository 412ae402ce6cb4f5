// The main view. For now an empty frame in the sidebar colour; the views
// are drawn here as they land.
#include "ui/main_view.h"

#include "app/state.h"

void paint_window(HDC dc, const RECT* client) {
  g_state.hit_region_count = 0;
  HBRUSH backdrop = CreateSolidBrush(RGB(15, 20, 36));
  FillRect(dc, client, backdrop);
  DeleteObject(backdrop);
}
