// Program entry of ProjectTelvar.exe: the start-up sequence, then the message
// loop until the window is destroyed. The command line is not used. Returns 0,
// or 1 when the platform refused to make the window.
#include <windows.h>
#include <objbase.h>

#include "core/state.h"
#include "library/disc_identify.h"
#include "app/window.h"
#include "ui/draw_kit.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  make_dpi_aware();
  // For the shell dialogs and image decoding; never uninitialised.
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  locate_launcher();
  read_screen_scale();
  create_fonts();
  load_settings(add_stored_disc);  // identifies every image of the library before the window shows
  register_window_class(instance);
  HWND window = create_main_window(instance);
  // Without a window no quit message would ever come: the loop would wait
  // forever in a process nobody can see.
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  return run_message_loop();
}
