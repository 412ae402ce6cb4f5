// Program entry of ProjectTelvar.exe: the start-up sequence, then the message
// loop until the window is destroyed. The command line is not used. Returns 0,
// or 1 when the platform refused to make the window or the launcher's path is
// too long to hold. A second launcher started in the same folder brings the
// first one's window forward and returns 0.
#include <windows.h>
#include <objbase.h>

#include "core/state.h"
#include "library/library.h"
#include "app/window.h"
#include "pipeline/folder_lock.h"
#include "ui/draw_kit.h"

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
  create_fonts();
  // The stored discs show as "Checking" and are identified on the worker, so
  // that the window appears at once even with a library on a slow share.
  load_settings(queue_stored_disc);
  register_window_class(instance);
  HWND window = create_main_window(instance);
  // Without a window no quit message would ever come: the loop would wait
  // forever in a process nobody can see.
  if (!window) return 1;
  ShowWindow(window, restore_window_place(window, show));
  UpdateWindow(window);
  return run_message_loop();
}
