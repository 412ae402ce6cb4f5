// Times paint_window of the selected view (scale 1.0) into a 32-bit DIB
// section, as the window's off-screen bitmap, once every image is cached.
// Prints the median, the fastest and the 90th percentile of N paints in three
// runs, interleaved paint by paint so that the machine's load falls on all
// three alike:
//   kept       the frame as it is repainted while nothing in the cards changes
//              (hover, focus, progress, an uncovered window): the detail
//              cards come from the paint cache;
//   fresh      the same frame with the paint cache emptied before each paint,
//              so every part is drawn (the reference: what a paint costs
//              without kept parts);
//   switching  the selection alternates between two discs every paint, so
//              the cards are drawn afresh each time (the worst case of a
//              paint that follows a command).
//
//   paint_bench.exe [paints] [width] [height]   (default 400 1100 860)
//
// The selected disc is a PAL disc that is ready to build, so the frame holds
// everything a frame can: banner, info line, five buttons with icons, the
// message line, the Disc card and the controller legend with its 20 glyphs.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "ui/paint_cache.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"

static void add_entry(int i, const wchar_t* path, const char* serial, const char* md5, int row, DiscStatus status) {
  LibraryEntry& e = g_state.entries[i];
  copy_text(e.path, PATH_UNITS, path);
  lstrcpynA(e.serial, serial, SERIAL_BYTES);
  lstrcpynA(e.md5, md5, MD5_TEXT_BYTES);
  e.catalog_row = row;
  e.status = status;
}

int main(int argc, char** argv) {
  int paints = argc > 1 ? atoi(argv[1]) : 400;
  if (paints < 1) paints = 1;
  int width = argc > 2 ? atoi(argv[2]) : 1100, height = argc > 3 ? atoi(argv[3]) : 860;
  if (width < 200 || height < 200) {
    fprintf(stderr, "paint_bench: a window of at least 200 x 200, please\n");
    return 1;
  }
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  reset_state();
  reset_job_status();
  reset_ui_state();
  g_state.dpi_scale = 1.0f;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  copy_text(g_state.launcher_dir, PATH_UNITS, temp);  // no game built there: "Ready to build"
  create_fonts();
  add_entry(0, L"C:\\Games\\Discs\\Tarsel and Quib (PAL).iso", "SXPE_100.01", "13f8f1eea32364baadfdd38715f5be80", 0,
            DISC_OK);
  add_entry(1, L"C:\\Games\\Discs\\Tarsel and Quib (USA).iso", "SXUS_100.02", "55ca922993aff426916b4722f34fdc96", 1,
            DISC_OK);
  add_entry(2, L"C:\\Games\\Discs\\Far Orbit.iso", "SXUS_200.02", "", 4, DISC_UNSUPPORTED);
  g_state.entry_count = 3;
  g_state.selected = 0;

  void* bits = NULL;
  HDC dc = CreateCompatibleDC(NULL);
  HBITMAP bitmap = create_top_down_bitmap(width, height, &bits);
  if (!dc || !bitmap) {
    fprintf(stderr, "paint_bench: no memory canvas\n");
    return 1;
  }
  HGDIOBJ previous = SelectObject(dc, bitmap);
  RECT client = {0, 0, width, height};

  paint_window(dc, &client);  // fills the image cache
  GdiFlush();
  int cached = g_ui.image_cache.count;
  if (cached < 25) {
    fprintf(stderr, "paint_bench: only %d images cached; are the resources linked in?\n", cached);
    return 1;
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  enum { KEPT, FRESH, SWITCHING, RUNS };
  const char* names[RUNS] = {"kept", "fresh", "switching"};
  std::vector<double> ms[RUNS];
  int32_t restored[RUNS] = {0, 0, 0};
  for (int i = 0; i < paints; i++) {
    for (int run = 0; run < RUNS; run++) {
      g_state.selected = run == SWITCHING ? (i + 1) % 2 : 0;
      if (run == FRESH) flush_paint_cache();
      int32_t before = painted_parts_restored();
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      paint_window(dc, &client);
      GdiFlush();
      QueryPerformanceCounter(&end);
      restored[run] += painted_parts_restored() - before;
      ms[run].push_back((double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    }
  }
  if (g_ui.image_cache.count != cached) {
    fprintf(stderr, "paint_bench: the cache grew from %d to %d records while painting\n", cached,
            g_ui.image_cache.count);
    return 1;
  }
  printf("paint_window, selected view, %d x %d, scale 1.0, %d paints per run, %d cached images, %d regions\n",
         width, height, paints, cached, g_ui.hit_region_count);
  for (int run = 0; run < RUNS; run++) {
    std::vector<double>& v = ms[run];
    std::sort(v.begin(), v.end());
    printf("%-9s median %.3f ms  fastest %.3f ms  90th percentile %.3f ms  slowest %.3f ms  (kept parts used %d times)\n",
           names[run], v[v.size() / 2], v[0], v[v.size() * 9 / 10], v.back(), (int)restored[run]);
  }
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return 0;
}
