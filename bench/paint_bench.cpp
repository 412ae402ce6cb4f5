// Times paint_window of the selected view (scale 1.0) into a 32-bit DIB
// section, as the window's off-screen bitmap, once every image is cached.
// Prints the median, the fastest and the 90th percentile of N paints in two
// runs, taking turns:
//   kept       the frame as it is repainted while nothing in the cards changes
//              (hover, focus, progress, an uncovered window): the detail
//              cards come from the paint cache;
//   switching  the selection alternates between two discs every paint, so
//              the cards are drawn afresh and kept each time (a paint that
//              follows a change of disc: what every paint cost before).
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
  // The launcher's folder as it is before the first build: a folder of its
  // own with the settings file, the downloads and nothing built ("Ready to
  // build"). Not the temporary folder itself: the frame asks whether the
  // game's files are there, and under Wine every name that is missing costs
  // a scan of its folder, so a crowded folder would time the scan instead.
  wchar_t temp[MAX_PATH], folder[MAX_PATH], downloads[MAX_PATH], settings[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  format_text(folder, MAX_PATH, L"%lstelvar-paint-bench-%lu", temp, GetCurrentProcessId());
  format_text(downloads, MAX_PATH, L"%ls\\downloads", folder);
  format_text(settings, MAX_PATH, L"%ls\\telvar.ini", folder);
  CreateDirectoryW(folder, NULL);
  CreateDirectoryW(downloads, NULL);
  WritePrivateProfileStringW(L"settings", L"fullscreen", L"0", settings);
  copy_text(g_state.launcher_dir, PATH_UNITS, folder);
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

  // The runs take turns in blocks of BLOCK paints, so that the machine's
  // load falls on both alike; the first paint of a block, which follows the
  // other run's state, is not counted.
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  enum { KEPT, SWITCHING, RUNS, BLOCK = 10 };
  const char* names[RUNS] = {"kept", "switching"};
  std::vector<double> ms[RUNS];
  int32_t restored[RUNS] = {0, 0};
  for (int done = 0; done < paints; done += BLOCK) {
    for (int run = 0; run < RUNS; run++) {
      for (int i = 0; i <= BLOCK; i++) {
        g_state.selected = run == SWITCHING ? i % 2 : 0;
        int32_t before = painted_parts_restored();
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        paint_window(dc, &client);
        GdiFlush();
        QueryPerformanceCounter(&end);
        if (i == 0) continue;
        restored[run] += painted_parts_restored() - before;
        ms[run].push_back((double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
      }
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
  DeleteFileW(settings);
  RemoveDirectoryW(downloads);
  RemoveDirectoryW(folder);
  return 0;
}
