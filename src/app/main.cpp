// Program entry of ProjectTelvar.exe: the start-up sequence, then the message
// loop until the window is destroyed. The command line is not used. Returns 0,
// or 1 when the platform refused to make the window or the launcher's path is
// too long to hold. A second launcher started in the same folder brings the
// first one's window forward and returns 0.
#include <windows.h>
#include <objbase.h>

#include "core/state.h"
#include "library/identify_worker.h"
#include "library/library.h"
#include "app/window.h"
#include "pipeline/folder_lock.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/image_ids.h"

// The first frame's big pictures are decoded and scaled on a helper while the
// library is read and the window made; the largest, drawn last, first, so
// that the window thread makes the small ones itself meanwhile if it gets
// there before the helper. The sizes are those the main view draws them at
// (the backdrop tile, the wordmark, the empty library's picture, and the
// banner as it covers a pane no wider than the banner's height calls for,
// which the first window's pane is); whether the first frame shows a disc's
// banner or the empty library's picture is guessed from the stored library
// before it is read. A wrong guess costs only the helper's time: the paint
// makes what it needs.
static void start_first_frame_images() {
  int count = (int)GetPrivateProfileIntW(L"library", L"count", 0, g_state.settings_path);
  int selected = (int)GetPrivateProfileIntW(L"library", L"selected", 0, g_state.settings_path);
  ImageRequest first = {IMAGE_EMPTY_STATE, px(320), px(200)};
  if (count > 0 && selected >= 0) {
    first.id = IMAGE_BANNER;
    cover_image_size(IMAGE_BANNER, 1, px(150), &first.width, &first.height);
  }
  const ImageRequest images[] = {first, {IMAGE_TILE, px(171), px(171)}, {IMAGE_WORDMARK_EMBLEM, px(260), px(40)}};
  start_image_prefetch(images, 3);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  make_dpi_aware();
  // For the shell dialogs and image decoding; never uninitialised.
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  if (!locate_launcher()) {
    // A cut path names a parent folder: the settings, downloads and builds
    // (and their deletions) would land there.
    MessageBoxW(NULL,
                L"Project Telvar cannot start from this folder: its path is too long. Move the launcher to a "
                L"folder with a shorter path.",
                WINDOW_TITLE, MB_ICONERROR | MB_OK);
    return 1;
  }
  // One launcher per folder: a second one would save telvar.ini over the
  // first one's changes and build into the same folders.
  if (!claim_launcher_folder(g_state.launcher_dir)) {
    bring_first_launcher_forward(30000);
    return 0;
  }
  read_screen_scale();
  start_first_frame_images();
  create_fonts();
  // The stored discs show as "Checking" and are identified on the worker, so
  // that the window appears at once even with a library on a slow share. The
  // worker begins once the first frame is painted, rather than competing with
  // the window thread for the processor until then.
  hold_identification(true);
  load_settings(queue_stored_disc);
  register_window_class(instance);
  HWND window = create_main_window(instance);
  // Without a window no quit message would ever come: the loop would wait
  // forever in a process nobody can see.
  if (!window) return 1;
  ShowWindow(window, restore_window_place(window, show));
  UpdateWindow(window);
  // What the first frame did not draw is not kept.
  end_image_prefetch();
  hold_identification(false);
  return run_message_loop();
}
