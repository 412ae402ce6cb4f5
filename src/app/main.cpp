// Program entry of ProjectTelvar.exe: the start-up sequence, the window and
// the message loop.
#include <windows.h>
#include <objbase.h>

#include "app/state.h"

static const wchar_t WINDOW_CLASS[] = L"ProjectTelvarLauncher";
static const wchar_t WINDOW_TITLE[] = L"Project Telvar";

static int px(int n) { return (int)(n * g_state.dpi_scale + 0.5f); }

static void make_dpi_aware() {
  typedef BOOL(WINAPI * SetContextFn)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  SetContextFn set_context =
      user32 ? (SetContextFn)(void*)GetProcAddress(user32, "SetProcessDpiAwarenessContext") : NULL;
  // -4: per-monitor awareness, version 2.
  if (!set_context || !set_context((HANDLE)(INT_PTR)-4)) SetProcessDPIAware();
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      save_settings();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  make_dpi_aware();
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  locate_launcher();
  HDC screen = GetDC(NULL);
  g_state.dpi_scale = GetDeviceCaps(screen, LOGPIXELSX) / 96.0f;
  ReleaseDC(NULL, screen);
  load_settings();

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = WINDOW_CLASS;
  RegisterClassExW(&wc);

  g_state.main_window = CreateWindowExW(WS_EX_ACCEPTFILES, WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, px(1100), px(860), NULL, NULL,
                                        instance, NULL);
  ShowWindow(g_state.main_window, show);
  UpdateWindow(g_state.main_window);

  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
