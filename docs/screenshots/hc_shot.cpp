// hc_shot.exe: the launcher as a high-contrast user sees it, for the README's
// pictures (docs/screenshots/take_high_contrast.sh runs it). Not a test and not
// shipped.
//
// It is ProjectTelvar.exe's own start-up, window and message loop with two
// things set first: the high-contrast question answers yes, and the system
// colours are those of Windows' "High Contrast Black" scheme. Wine 8 neither
// turns high contrast on through SPI_SETHIGHCONTRAST (it fails with error
// 1439) nor reports it from the registry, so the window would never draw its
// high-contrast look under Wine otherwise; the colours themselves are real
// system colours, set with SetSysColors and read back through GetSysColor as
// the window reads them.
//
// Run from a launcher folder (the exe's folder is the launcher folder, as for
// ProjectTelvar.exe). Prints what it set; exits 2 when the platform did not
// take the colours, so that no picture is taken of the ordinary look. The
// previous colours are put back when the window closes.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>

#include "core/state.h"
#include "library/library.h"
#include "app/window.h"
#include "pipeline/folder_lock.h"
#include "ui/draw_kit.h"

// Windows' High Contrast Black: the eight colours its Settings page offers
// (text, hyperlinks, disabled text, selected text and its background, button
// text and its face, background), and the frame and menu roles the way that
// scheme sets them, black faces with white text and edges.
struct SchemeColour {
  int index;        // COLOR_* of GetSysColor
  COLORREF colour;
};
static const SchemeColour HIGH_CONTRAST_BLACK[] = {
    {COLOR_WINDOW, RGB(0, 0, 0)},
    {COLOR_WINDOWTEXT, RGB(255, 255, 255)},
    {COLOR_HOTLIGHT, RGB(255, 255, 0)},          // hyperlinks
    {COLOR_GRAYTEXT, RGB(63, 242, 63)},          // disabled text
    {COLOR_HIGHLIGHT, RGB(26, 235, 255)},        // selected text background
    {COLOR_HIGHLIGHTTEXT, RGB(0, 0, 0)},         // selected text
    {COLOR_BTNFACE, RGB(0, 0, 0)},
    {COLOR_BTNTEXT, RGB(255, 255, 255)},
    {COLOR_BTNSHADOW, RGB(128, 128, 128)},
    {COLOR_BTNHIGHLIGHT, RGB(255, 255, 255)},
    {COLOR_3DDKSHADOW, RGB(255, 255, 255)},
    {COLOR_3DLIGHT, RGB(255, 255, 255)},
    {COLOR_WINDOWFRAME, RGB(255, 255, 255)},
    {COLOR_ACTIVECAPTION, RGB(0, 0, 0)},
    {COLOR_GRADIENTACTIVECAPTION, RGB(0, 0, 0)},
    {COLOR_CAPTIONTEXT, RGB(255, 255, 255)},
    {COLOR_INACTIVECAPTION, RGB(0, 0, 0)},
    {COLOR_GRADIENTINACTIVECAPTION, RGB(0, 0, 0)},
    {COLOR_INACTIVECAPTIONTEXT, RGB(63, 242, 63)},
    {COLOR_ACTIVEBORDER, RGB(0, 0, 0)},
    {COLOR_INACTIVEBORDER, RGB(0, 0, 0)},
    {COLOR_MENU, RGB(0, 0, 0)},
    {COLOR_MENUTEXT, RGB(255, 255, 255)},
    {COLOR_INFOBK, RGB(0, 0, 0)},
    {COLOR_INFOTEXT, RGB(255, 255, 255)},
    {COLOR_BACKGROUND, RGB(0, 0, 0)},
    {COLOR_APPWORKSPACE, RGB(0, 0, 0)},
};
enum { SCHEME_COUNT = sizeof HIGH_CONTRAST_BLACK / sizeof HIGH_CONTRAST_BLACK[0] };

static bool answer_high_contrast() { return true; }

// Sets the scheme and checks that GetSysColor answers it; keeps the colours
// it replaced in previous.
static bool set_scheme(COLORREF previous[SCHEME_COUNT]) {
  int indices[SCHEME_COUNT];
  COLORREF colours[SCHEME_COUNT];
  for (int i = 0; i < SCHEME_COUNT; i++) {
    indices[i] = HIGH_CONTRAST_BLACK[i].index;
    colours[i] = HIGH_CONTRAST_BLACK[i].colour;
    previous[i] = GetSysColor(indices[i]);
  }
  if (!SetSysColors(SCHEME_COUNT, indices, colours)) {
    DWORD error = GetLastError();
    fprintf(stderr, "hc_shot: SetSysColors failed (error %lu)\n", error);
    return false;
  }
  bool taken = true;
  for (int i = 0; i < SCHEME_COUNT; i++) {
    COLORREF now = GetSysColor(indices[i]);
    printf("hc_shot: system colour %2d = #%02X%02X%02X\n", indices[i], GetRValue(now), GetGValue(now),
           GetBValue(now));
    if (now != colours[i]) {
      fprintf(stderr, "hc_shot: system colour %d did not take the scheme's value\n", indices[i]);
      taken = false;
    }
  }
  return taken;
}

static void restore_scheme(const COLORREF previous[SCHEME_COUNT]) {
  int indices[SCHEME_COUNT];
  for (int i = 0; i < SCHEME_COUNT; i++) indices[i] = HIGH_CONTRAST_BLACK[i].index;
  SetSysColors(SCHEME_COUNT, indices, previous);
}

int wmain() {
  HINSTANCE instance = GetModuleHandleW(NULL);
  make_dpi_aware();
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  if (!locate_launcher()) {
    fprintf(stderr, "hc_shot: the launcher folder's path is too long\n");
    return 1;
  }
  if (!claim_launcher_folder(g_state.launcher_dir)) {
    fprintf(stderr, "hc_shot: another launcher runs in this folder\n");
    return 1;
  }
  COLORREF previous[SCHEME_COUNT];
  if (!set_scheme(previous)) {
    restore_scheme(previous);
    return 2;
  }
  fflush(stdout);
  high_contrast_query = answer_high_contrast;

  // From here on, the launcher's own start-up.
  read_screen_scale();
  create_fonts();
  load_settings(queue_stored_disc);
  register_window_class(instance);
  HWND window = create_main_window(instance);
  int code = 1;
  if (window) {
    printf("hc_shot: window up, high contrast %s\n", high_contrast() ? "on" : "off");
    fflush(stdout);
    ShowWindow(window, restore_window_place(window, SW_SHOWNORMAL));
    UpdateWindow(window);
    code = run_message_loop();
  } else {
    fprintf(stderr, "hc_shot: the window was not made\n");
  }
  restore_scheme(previous);
  return code;
}
