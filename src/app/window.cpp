// The window procedure and the start-up steps that make the window. The
// procedure only dispatches; each message has its own small handler below.
// Everything on screen comes from paint_window, drawn into an off-screen
// bitmap and copied in one BitBlt; every repaint invalidates the whole client
// area without erasing, but for a build's progress report, which changes only
// the progress block and invalidates just that. Only the window repaints: the commands and the
// library, launch and build code below it change the state records, and each
// handler here repaints after what it dispatched. A paint changes no state. Mouse input goes through the hit regions of the last
// paint: a click is a press and a release on the same command and argument.
// Memory: the state record, and the paint bitmap, kept between paints of one
// size and released with the window.
#include "app/window.h"

#include <shellapi.h>
#include <shobjidl.h>
#include <windowsx.h>

#include "app/accessibility.h"
#include "app/commands.h"
#include "app/keyboard.h"
#include "app/tooltip.h"
#include "core/state.h"
#include "pipeline/folder_lock.h"
#include "launch/game_launch.h"
#include "library/identify_worker.h"
#include "library/library.h"
#include "core/failure_words.h"
#include "ui/draw_kit.h"
#include "ui/entry_actions.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui/hit_regions.h"

const wchar_t WINDOW_CLASS[] = L"ProjectTelvarLauncher";
const wchar_t WINDOW_TITLE[] = L"Project Telvar";

enum { WHEEL_STEP = 60, WHEEL_NOTCH = 120 };
enum { DWM_DARK_MODE = 20, DWM_CAPTION_COLOR = 35 };
// The worker posts progress at most every 80 ms and drops what comes sooner,
// so the last stage before a quiet spell (a long link, say) may never be
// posted. One repaint this long after each progress message shows it.
enum { LATE_PROGRESS_TIMER = 1, LATE_PROGRESS_MS = 100 };

static void repaint(HWND window) { InvalidateRect(window, NULL, FALSE); }

// A progress report changes the stage text, the bar and the percentage, all
// inside the progress block of the last paint: only that much goes to the
// screen again. Without a block on screen, the whole window is redrawn.
static void repaint_progress(HWND window) {
  if (IsRectEmpty(&g_ui.progress_block))
    repaint(window);
  else
    InvalidateRect(window, &g_ui.progress_block, FALSE);
}

// ---- Start-up --------------------------------------------------------------

void make_dpi_aware() {
  typedef BOOL(WINAPI * SetContextFn)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  SetContextFn set_context =
      user32 ? (SetContextFn)(void*)GetProcAddress(user32, "SetProcessDpiAwarenessContext") : NULL;
  // -4: per-monitor awareness, version 2.
  if (!set_context || !set_context((HANDLE)(INT_PTR)-4)) SetProcessDPIAware();
}

void read_screen_scale() {
  HDC screen = GetDC(NULL);
  g_state.dpi_scale = GetDeviceCaps(screen, LOGPIXELSX) / 96.0f;
  ReleaseDC(NULL, screen);
}

bool register_window_class(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;  // double clicks on a library row start its game
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
  wc.lpszClassName = WINDOW_CLASS;  // no background brush: the paint covers everything
  return RegisterClassExW(&wc) != 0;
}

SIZE fit_to_work_area(int width, int height, const RECT& work) {
  SIZE size = {width, height};
  int room_x = work.right - work.left, room_y = work.bottom - work.top;
  if (room_x > 0 && size.cx > room_x) size.cx = room_x;
  if (room_y > 0 && size.cy > room_y) size.cy = room_y;
  return size;
}

// The work area (the screen without the taskbar) of the monitor the window
// is on, or of the primary monitor before there is a window.
static RECT work_area_of(HWND window) {
  RECT work = {0, 0, 0, 0};
  POINT origin = {0, 0};
  HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY)
                            : MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (monitor && GetMonitorInfoW(monitor, &info)) work = info.rcWork;
  return work;
}

// The first size, px(1100) x px(860), on a screen that holds it; a laptop's
// or a scaled screen's work area otherwise, so that the footer's buttons
// never start under the taskbar.
static SIZE first_window_size(HWND window) {
  return fit_to_work_area(px(1100), px(860), work_area_of(window));
}

// Moves the window up and left as far as needed for its frame to lie inside
// the work area: the default cascade position may push a fitting window's
// bottom edge under the taskbar.
static void keep_inside_work_area(HWND window) {
  RECT frame, work = work_area_of(window);
  if (!GetWindowRect(window, &frame) || work.right <= work.left) return;
  int x = frame.left, y = frame.top;
  if (frame.right > work.right) x -= frame.right - work.right;
  if (frame.bottom > work.bottom) y -= frame.bottom - work.bottom;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  if (x != frame.left || y != frame.top) SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The window may sit on a monitor whose DPI differs from the screen's.
static void correct_window_scale(HWND window) {
  typedef UINT(WINAPI * DpiForWindowFn)(HWND);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  DpiForWindowFn dpi_for_window =
      user32 ? (DpiForWindowFn)(void*)GetProcAddress(user32, "GetDpiForWindow") : NULL;
  if (!dpi_for_window) return;
  float scale = dpi_for_window(window) / 96.0f;
  if (scale == g_state.dpi_scale || scale <= 0) return;
  g_state.dpi_scale = scale;
  create_fonts();
  SIZE size = first_window_size(window);
  SetWindowPos(window, NULL, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
}

// A dark title bar in the sidebar colour, where the desktop window manager
// offers it. The library stays loaded for the life of the process.
static void darken_title_bar(HWND window) {
  typedef HRESULT(WINAPI * SetAttributeFn)(HWND, DWORD, LPCVOID, DWORD);
  HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  SetAttributeFn set_attribute = dwm ? (SetAttributeFn)(void*)GetProcAddress(dwm, "DwmSetWindowAttribute") : NULL;
  if (!set_attribute) return;
  DWORD dark = 1;
  DWORD caption = COLOR_SIDEBAR;
  set_attribute(window, DWM_DARK_MODE, &dark, sizeof dark);
  set_attribute(window, DWM_CAPTION_COLOR, &caption, sizeof caption);
}

// ---- Theme, icons and taskbar ------------------------------------------------

// The icon group's own image at each size the shell shows, instead of the
// 32-pixel image scaled down for the title bar and the taskbar's small slot.
// The icons live as long as the window; the system frees them at exit.
static void set_window_icons(HWND window) {
  HINSTANCE instance = GetModuleHandleW(NULL);
  HICON small_icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  HICON big_icon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                     GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
  if (small_icon) SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)small_icon);
  if (big_icon) SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)big_icon);
}

TaskbarProgress taskbar_progress(bool ended) {
  TaskbarProgress shown = {TBPF_NOPROGRESS, 0};
  if (!ended) {
    if (!g_job.running) return shown;
    double f = g_job.progress;
    f = !(f > 0.0) ? 0.0 : f > 1.0 ? 1.0 : f;  // NaN counts as nothing done
    shown.state = TBPF_NORMAL;
    shown.completed = (ULONGLONG)(f * TASKBAR_PROGRESS_TOTAL);
    return shown;
  }
  // A cancel ends as a failure too, but the user asked for it: no red button.
  if (g_job.failed && !g_job.cancel_requested) {
    shown.state = TBPF_ERROR;
    shown.completed = TASKBAR_PROGRESS_TOTAL;
  }
  return shown;
}

// The taskbar button's interface, made at the first build report (the window
// is shown by then) and again when the shell makes a new button. Where the
// platform offers none (older shells, Wine), the build shows in the window only.
static ITaskbarList3* g_taskbar;
static bool g_taskbar_tried;
static UINT g_taskbar_created_message;

static void release_taskbar() {
  if (g_taskbar) g_taskbar->Release();
  g_taskbar = NULL;
  g_taskbar_tried = false;
}

static void show_build_on_taskbar(HWND window, bool ended) {
  if (!g_taskbar_tried) {
    g_taskbar_tried = true;
    void* made = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, NULL, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &made))) {
      g_taskbar = (ITaskbarList3*)made;
      if (FAILED(g_taskbar->HrInit())) {
        g_taskbar->Release();
        g_taskbar = NULL;
      }
    }
  }
  if (!g_taskbar) return;
  TaskbarProgress shown = taskbar_progress(ended);
  g_taskbar->SetProgressState(window, (TBPFLAG)shown.state);
  if (shown.state != TBPF_NOPROGRESS)
    g_taskbar->SetProgressValue(window, shown.completed, TASKBAR_PROGRESS_TOTAL);
}

// A theme or colour change: the high-contrast answer is read again and the
// whole window painted in the new colours.
static void on_colours_changed(HWND window) {
  read_high_contrast();
  repaint(window);
}

// The window carries its launcher folder's key, so that a second launcher
// started in that folder finds this window among those of other folders.
static const wchar_t FOLDER_PROPERTY[] = L"ProjectTelvar.Folder";

static HANDLE folder_property_value() {
  uint64_t key = launcher_folder_key(g_state.launcher_dir);
  return (HANDLE)(UINT_PTR)((uint32_t)(key ^ (key >> 32)) | 1);  // never null, which means "none"
}

HWND create_main_window(HINSTANCE instance) {
  SIZE size = first_window_size(NULL);
  HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, size.cx, size.cy, NULL, NULL, instance, NULL);
  g_state.main_window = window;
  if (!window) return NULL;
  SetPropW(window, FOLDER_PROPERTY, folder_property_value());
  correct_window_scale(window);
  keep_inside_work_area(window);
  darken_title_bar(window);
  make_tooltip(window);
  set_window_icons(window);
  read_high_contrast();
  g_taskbar_created_message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  // Identification began before there was a window: what finished meanwhile
  // waits in the worker's ring and is taken now.
  set_identify_window(window);
  PostMessageW(window, WM_APP_IDENTIFIED, 0, 0);
  return window;
}

bool place_on_a_monitor(const RECT& frame) {
  return frame.right > frame.left && frame.bottom > frame.top && MonitorFromRect(&frame, MONITOR_DEFAULTTONULL) != NULL;
}

RECT screen_frame_of_placement(const RECT& workspace_frame, const RECT& monitor, const RECT& work) {
  RECT frame = workspace_frame;
  OffsetRect(&frame, work.left - monitor.left, work.top - monitor.top);
  return frame;
}

void remember_window_place(HWND window) {
  WINDOWPLACEMENT place = {};
  place.length = sizeof place;
  if (!GetWindowPlacement(window, &place)) return;
  const RECT& r = place.rcNormalPosition;
  if (r.right <= r.left || r.bottom <= r.top) return;
  LauncherState& s = g_state;
  s.window_x = r.left;
  s.window_y = r.top;
  s.window_width = r.right - r.left;
  s.window_height = r.bottom - r.top;
  // Closed while minimised: what it would have been restored to.
  s.window_maximized = place.showCmd == SW_SHOWMAXIMIZED ||
                       (place.showCmd == SW_SHOWMINIMIZED && (place.flags & WPF_RESTORETOMAXIMIZED));
}

int restore_window_place(HWND window, int show) {
  const LauncherState& s = g_state;
  if (s.window_width <= 0 || s.window_height <= 0) return show;
  RECT frame = {s.window_x, s.window_y, s.window_x + s.window_width, s.window_y + s.window_height};
  // The frame is kept as the placement gives it, in workspace coordinates;
  // the monitor check needs the screen frame, shifted by the taskbar of the
  // monitor nearest to it.
  RECT screen_frame = frame;
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  HMONITOR nearest = MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST);
  if (nearest && GetMonitorInfoW(nearest, &info)) screen_frame = screen_frame_of_placement(frame, info.rcMonitor, info.rcWork);
  // A monitor that was unplugged since: the first placement, not a window
  // nobody can see.
  if (!place_on_a_monitor(screen_frame)) return show;
  WINDOWPLACEMENT place = {};
  place.length = sizeof place;
  if (!GetWindowPlacement(window, &place)) return show;
  place.rcNormalPosition = frame;
  place.showCmd = SW_HIDE;  // shown by the caller, with the command returned
  place.flags = 0;
  if (!SetWindowPlacement(window, &place)) return show;
  // A launcher started minimised stays so; otherwise it comes back maximised
  // where it was closed so.
  bool minimised = show == SW_SHOWMINIMIZED || show == SW_MINIMIZE || show == SW_SHOWMINNOACTIVE;
  if (s.window_maximized && !minimised) return SW_SHOWMAXIMIZED;
  return show;
}

struct FolderWindowSearch {
  HANDLE value;  // the folder's property value
  HWND found;    // the first launcher window of the folder, or null
};

static BOOL CALLBACK match_folder_window(HWND window, LPARAM context) {
  FolderWindowSearch* search = (FolderWindowSearch*)context;
  wchar_t class_name[64];
  if (!GetClassNameW(window, class_name, 64) || wcscmp(class_name, WINDOW_CLASS) != 0) return TRUE;
  if (GetPropW(window, FOLDER_PROPERTY) != search->value) return TRUE;
  search->found = window;
  return FALSE;
}

bool bring_first_launcher_forward(int timeout_ms) {
  // The first launcher makes its window right after reading its settings
  // (its discs are identified afterwards, on a worker), but a slow start
  // may still keep it a moment.
  FolderWindowSearch search = {folder_property_value(), NULL};
  DWORD start = GetTickCount();
  for (;;) {
    EnumWindows(match_folder_window, (LPARAM)&search);
    if (search.found || (int)(GetTickCount() - start) >= timeout_ms) break;
    Sleep(100);
  }
  if (!search.found) return false;
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
  BringWindowToTop(search.found);
  return true;
}

int run_message_loop() {
  MSG message;
  while (GetMessageW(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

// ---- Painting and frame ----------------------------------------------------

// The off-screen bitmap is kept from one paint to the next and made anew
// only when the client area's size changes: a fresh bitmap of the window's
// size for every paint cost more than drawing the frame into it (every page
// of it new to the process), and a build repaints many times a second.
static HDC g_paint_dc;             // memory DC holding the bitmap, or null
static HBITMAP g_paint_bitmap;     // compatible with the window's DC, or null
static HGDIOBJ g_paint_previous;   // the DC's own bitmap, put back before it goes
static SIZE g_paint_size;          // the bitmap's size

static void release_paint_bitmap() {
  if (g_paint_dc && g_paint_previous) SelectObject(g_paint_dc, g_paint_previous);
  if (g_paint_bitmap) DeleteObject(g_paint_bitmap);
  if (g_paint_dc) DeleteDC(g_paint_dc);
  g_paint_dc = NULL;
  g_paint_bitmap = NULL;
  g_paint_previous = NULL;
  g_paint_size.cx = g_paint_size.cy = 0;
}

// A memory DC with a bitmap of width x height selected, or null.
static HDC paint_bitmap(HDC screen, int width, int height) {
  if (width <= 0 || height <= 0) return NULL;
  if (g_paint_dc && g_paint_size.cx == width && g_paint_size.cy == height) return g_paint_dc;
  release_paint_bitmap();
  g_paint_dc = CreateCompatibleDC(screen);
  g_paint_bitmap = g_paint_dc ? CreateCompatibleBitmap(screen, width, height) : NULL;
  if (!g_paint_bitmap) {
    release_paint_bitmap();
    return NULL;
  }
  g_paint_previous = SelectObject(g_paint_dc, g_paint_bitmap);
  g_paint_size.cx = width;
  g_paint_size.cy = height;
  return g_paint_dc;
}

static void on_paint(HWND window) {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  HDC memory = paint_bitmap(screen, client.right, client.bottom);
  if (memory) {
    // A view that changed starts at its top; one whose content came out
    // shorter than the offset assumed (a wider window, a shorter list of
    // rows) is painted once more at its end.
    keep_pane_scroll_in_range(client.bottom);
    paint_window(memory, &client);
    if (keep_pane_scroll_in_range(client.bottom)) paint_window(memory, &client);
    BitBlt(screen, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  }
  EndPaint(window, &paint);
  announce_changes(window);
}

// The smallest client area, held as a frame size for the system: small
// enough for a 1366 x 768 screen at 100 % and a 1920 x 1080 screen at 150 %
// with the taskbar.
static void on_min_max_info(HWND window, MINMAXINFO* info) {
  RECT frame = {0, 0, px(MIN_CLIENT_WIDTH), px(MIN_CLIENT_HEIGHT)};
  AdjustWindowRectEx(&frame, (DWORD)GetWindowLongW(window, GWL_STYLE), FALSE, (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
  info->ptMinTrackSize.x = frame.right - frame.left;
  info->ptMinTrackSize.y = frame.bottom - frame.top;
}

static void on_close(HWND window) {
  // The build is not cancelled: the process ends, and the job object takes
  // the build tool's processes with it.
  if (g_job.running &&
      MessageBoxW(window, L"A game is being built. Stop the build and close?", WINDOW_TITLE,
                  MB_ICONQUESTION | MB_YESNO) != IDYES)
    return;
  DestroyWindow(window);
}

static void on_destroy(HWND window) {
  release_paint_bitmap();
  release_accessible(window);
  remember_window_place(window);
  save_settings();
  PostQuitMessage(0);
}

static void on_dpi_changed(HWND window, WPARAM wparam, const RECT* suggested) {
  g_state.dpi_scale = HIWORD(wparam) / 96.0f;
  create_fonts();
  flush_image_cache();
  SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  // The rows' height changed with the scale, even where the size did not.
  keep_scroll_in_range();
  repaint(window);
}

static void on_size(HWND window) {
  keep_scroll_in_range();  // a taller window may show the list's end above the offset
  RECT client;
  if (GetClientRect(window, &client)) keep_pane_scroll_in_range(client.bottom);
  repaint(window);
}

// ---- Keyboard, wheel, drop -------------------------------------------------

static void move_selection(HWND window, int32_t step) {
  LauncherState& s = g_state;
  if (s.entry_count <= 0) return;
  // Any negative selection means none; from there either key lands on the
  // first entry. Stepping from the lowest int would overflow.
  int32_t next = (s.selected < 0 ? -1 : s.selected) + step;
  if (next <= 0) next = 0;
  if (next > s.entry_count - 1) next = s.entry_count - 1;
  s.selected = next;
  s.settings_open = false;
  s.status_text[0] = 0;
  RECT client;
  if (GetClientRect(window, &client)) scroll_row_into_view(next, client.bottom);
  save_settings();
  repaint(window);
}

static bool on_focus_key(HWND window, WPARAM key);

static void on_key_down(HWND window, WPARAM key) {
  // A key that moved the focus or ran a command shows its outcome at once,
  // as a click does: the next key must act on what is on screen.
  if (on_focus_key(window, key)) {
    repaint(window);
    return;
  }
  switch (key) {
    case VK_RETURN:
      // Enter plays a built game and never starts a build. The disc is
      // identified again first, on the worker; one that has gone or changed
      // does not start, and the row's label says why.
      if (entry_actions(g_state.selected) & ENTRY_PLAY) {
        ask_to_play(g_state.selected);
        repaint(window);
      }
      break;
    case VK_ESCAPE:
      if (g_state.settings_open) {
        g_state.settings_open = false;
        repaint(window);
      }
      break;
  }
}

// The main pane's offset moved by delta pixels, within its content.
static void scroll_pane_by(HWND window, int delta) {
  RECT client;
  GetClientRect(window, &client);
  ScrollBar bar;
  if (!pane_scroll_bar(client.right, client.bottom, &bar)) return;
  int offset = g_ui.pane_scroll + delta;
  if (offset > bar.limit) offset = bar.limit;
  g_ui.pane_scroll = offset > 0 ? offset : 0;
  repaint(window);
}

// Page Up, Page Down, Home and End in the settings panel, while the focus is
// not on a library row: they scroll the panel, which is the one view taller
// than a small window. Elsewhere they move in the list.
static bool scroll_pane_by_key(HWND window, WPARAM key) {
  if (!g_state.settings_open || g_ui.focus_id == CMD_SELECT_ENTRY) return false;
  RECT client;
  GetClientRect(window, &client);
  ScrollBar bar;
  if (!pane_scroll_bar(client.right, client.bottom, &bar)) return false;
  int page = client.bottom - px(48);
  switch (key) {
    case VK_PRIOR: scroll_pane_by(window, -page); return true;
    case VK_NEXT: scroll_pane_by(window, page); return true;
    case VK_HOME: scroll_pane_by(window, -bar.limit); return true;
    case VK_END: scroll_pane_by(window, bar.limit); return true;
    default: return false;
  }
}

// After Tab: the focused control comes into sight, in the list or the pane.
static void show_focus(HWND window) {
  const UiItem* item = focused_item();
  RECT client;
  if (!item || !GetClientRect(window, &client)) return;
  if (item->id == CMD_SELECT_ENTRY)
    scroll_row_into_view(item->arg, client.bottom);
  else if (item->rect.left >= px(SIDEBAR_WIDTH))
    scroll_pane_to_show(item->rect, client.bottom);
}

// ---- Keyboard focus, activation and shortcuts -------------------------------
// Tab walks the items of the last paint; Space and Enter do what a click on
// the focused item does. The focus ring shows from the first key that moves
// or uses the focus until the next click. The keys of the list (Up, Down,
// and Enter that plays) keep working without any focus.

static bool key_held(int key) { return GetKeyState(key) < 0; }

// Rows the list shows at once, at least one: Page Up and Page Down move by it.
static int32_t rows_per_page(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  int32_t rows = (client.bottom - px(LIST_TOP) - px(SIDEBAR_FOOTER)) / (px(LIST_ROW_HEIGHT) + px(LIST_ROW_GAP));
  return rows > 1 ? rows : 1;
}

// The enabled item of the last paint that carries id, or null: a shortcut
// does only what a click on a button on screen could do.
static const UiItem* enabled_item(int32_t id) {
  for (int32_t i = 0; i < g_ui.item_count && i < UI_ITEM_CAPACITY; i++)
    if (g_ui.items[i].id == id) return takes_focus(g_ui.items[i]) ? &g_ui.items[i] : NULL;
  return NULL;
}

static bool ask(HWND window, const wchar_t* question) {
  return MessageBoxW(window, question, WINDOW_TITLE, MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

// Delete: the Remove button's command, after a question that names the disc,
// since a key is easier to press by mistake than a button.
static void remove_after_asking(HWND window) {
  if (!enabled_item(CMD_REMOVE_ENTRY)) return;
  int32_t row = find_item(CMD_SELECT_ENTRY, g_state.selected);
  wchar_t question[UI_NAME_UNITS + 128];
  format_text(question, UI_NAME_UNITS + 128,
              L"Remove \u201C%ls\u201D from the library? The disc image file itself is not deleted.",
              row >= 0 ? g_ui.items[row].name : L"the selected disc");
  if (ask(window, question)) dispatch_command(CMD_REMOVE_ENTRY, 0);
}

// Escape stops a build only after asking: a build takes many minutes.
static bool cancel_after_asking(HWND window) {
  if (!enabled_item(CMD_CANCEL_BUILD)) return false;
  if (ask(window, L"Stop the build? It can be started again later.")) dispatch_command(CMD_CANCEL_BUILD, 0);
  return true;
}

// Enter or Space on the focused item. Enter on the row that is already
// selected plays its game, as Enter does without a focus.
static void activate_focus(HWND window, const UiItem& item, WPARAM key) {
  if (item.role == UI_ROLE_LIST_ITEM && key == VK_RETURN && item.arg == g_state.selected) {
    if (entry_actions(g_state.selected) & ENTRY_PLAY) ask_to_play(g_state.selected);
    repaint(window);
    return;
  }
  dispatch_command(item.id, item.arg);
}

// Left and Right inside a two-way choice or a stepper; false elsewhere.
static bool step_inside(const UiItem& item, WPARAM key) {
  if (key != VK_LEFT && key != VK_RIGHT) return false;
  if (item.role == UI_ROLE_CHOICE) {
    int32_t arg = key == VK_LEFT ? 0 : 1;
    set_focus(item.id, arg);
    dispatch_command(item.id, arg);
    return true;
  }
  if (item.role == UI_ROLE_STEPPER) {
    dispatch_command(key == VK_LEFT ? item.less_id : item.id, key == VK_LEFT ? 0 : item.arg);
    return true;
  }
  return false;
}

// The list keys beside Up and Down, and the focus following the selection.
static bool move_in_list(HWND window, WPARAM key) {
  int32_t step;
  switch (key) {
    case VK_HOME: step = -g_state.entry_count; break;
    case VK_END: step = g_state.entry_count; break;
    case VK_PRIOR: step = -rows_per_page(window); break;
    case VK_NEXT: step = rows_per_page(window); break;
    case VK_UP: step = -1; break;
    case VK_DOWN: step = 1; break;
    default: return false;
  }
  if (g_state.entry_count <= 0) return true;
  move_selection(window, step);
  if (g_ui.focus_id == CMD_SELECT_ENTRY) g_ui.focus_arg = g_state.selected;
  return true;
}

// The keys that move or use the focus and the shortcuts. True when the key
// was handled here; the others go to the keys of the list below.
static bool on_focus_key(HWND window, WPARAM key) {
  bool ctrl = key_held(VK_CONTROL), shift = key_held(VK_SHIFT);
  const UiItem* focused = g_ui.focus_visible ? focused_item() : NULL;
  if (key == VK_TAB) {
    if (move_focus(shift ? -1 : 1)) {
      show_focus(window);
      repaint(window);
    }
    return true;
  }
  if (focused && (key == VK_SPACE || key == VK_RETURN)) {
    activate_focus(window, *focused, key);
    return true;
  }
  if (focused && step_inside(*focused, key)) return true;
  int32_t command = shortcut_command(key, ctrl, shift);
  if (command) {
    if (enabled_item(command)) dispatch_command(command, enabled_item(command)->arg);
    return true;
  }
  if (key == VK_DELETE) {
    remove_after_asking(window);
    return true;
  }
  // Esc stops a folder search first: it is quick to start again, so no question.
  if (key == VK_ESCAPE && stop_folder_scan()) {
    repaint(window);
    return true;
  }
  if (key == VK_ESCAPE && !g_state.settings_open) return cancel_after_asking(window);
  if (scroll_pane_by_key(window, key)) return true;
  return move_in_list(window, key);
}

static void on_mouse_wheel(HWND window, WPARAM wparam, LPARAM lparam) {
  int delta = GET_WHEEL_DELTA_WPARAM(wparam);
  int notches = delta / -WHEEL_NOTCH;  // whole notches only; towards the user scrolls down
  RECT client;
  GetClientRect(window, &client);
  // Over the main pane the wheel scrolls the pane when its content is taller
  // than the window; everywhere else, and over a pane that fits, the list.
  POINT at = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  ScreenToClient(window, &at);
  ScrollBar bar;
  if (at.x >= px(SIDEBAR_WIDTH) && pane_scroll_bar(client.right, client.bottom, &bar)) {
    scroll_pane_by(window, px(WHEEL_STEP) * notches);
    return;
  }
  int limit = scroll_limit(client.bottom);
  int offset = g_ui.scroll_offset + px(WHEEL_STEP) * notches;
  if (offset > limit) offset = limit;
  g_ui.scroll_offset = offset > 0 ? offset : 0;
  repaint(window);
}

static void on_drop_files(HWND window, HDROP drop) {
  add_dropped_files(drop);
  g_state.settings_open = false;
  save_settings();
  repaint(window);
}

// ---- Mouse -----------------------------------------------------------------

// The bar of a scroll bar region, as it is now; false when it no longer shows.
static bool scroll_bar_of(HWND window, int32_t id, ScrollBar* bar) {
  RECT client;
  GetClientRect(window, &client);
  if (id == SCROLL_BAR_LIST) return list_scroll_bar(client.bottom, bar);
  if (id == SCROLL_BAR_PANE) return pane_scroll_bar(client.right, client.bottom, bar);
  return false;
}

static void set_scroll_of(int32_t id, int offset) {
  if (id == SCROLL_BAR_LIST) g_ui.scroll_offset = offset;
  if (id == SCROLL_BAR_PANE) g_ui.pane_scroll = offset;
}

// A press on a scroll bar: on the thumb it starts a drag; on the track above
// or below it moves one page towards the pointer.
static void press_scroll_bar(HWND window, int32_t id, int y) {
  ScrollBar bar;
  if (!scroll_bar_of(window, id, &bar)) return;
  int offset = id == SCROLL_BAR_LIST ? g_ui.scroll_offset : g_ui.pane_scroll;
  if (y >= bar.thumb.top && y < bar.thumb.bottom) {
    g_ui.drag_bar = id;
    g_ui.drag_start_y = y;
    g_ui.drag_start_offset = offset;
    return;
  }
  // A page is about what the bar's room shows: the track runs the view's height.
  int step = bar.track.bottom - bar.track.top;
  set_scroll_of(id, offset_for_thumb(bar, offset + (y < bar.thumb.top ? -step : step), 0));
}

static void on_mouse_move(HWND window, int x, int y) {
  if (g_ui.drag_bar) {
    ScrollBar bar;
    if (scroll_bar_of(window, g_ui.drag_bar, &bar)) {
      set_scroll_of(g_ui.drag_bar, offset_for_thumb(bar, g_ui.drag_start_offset, y - g_ui.drag_start_y));
      repaint(window);
    }
    return;
  }
  const HitRegion* region = hit_test(x, y);
  int32_t id = region ? region->id : 0;
  int32_t arg = region ? region->arg : 0;
  if (id != g_ui.hovered_id || arg != g_ui.hovered_arg) {
    g_ui.hovered_id = id;
    g_ui.hovered_arg = arg;
    repaint(window);
  }
  SetCursor(LoadCursorW(NULL, id ? IDC_HAND : IDC_ARROW));
  track_tooltip(window, x, y);
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof track;
  track.dwFlags = TME_LEAVE;
  track.hwndTrack = window;
  TrackMouseEvent(&track);
}

static void on_mouse_leave(HWND window) {
  g_ui.hovered_id = 0;
  repaint(window);
}

static void on_button_down(HWND window, int x, int y) {
  const HitRegion* region = hit_test(x, y);
  if (region && (region->id == SCROLL_BAR_LIST || region->id == SCROLL_BAR_PANE)) {
    press_scroll_bar(window, region->id, y);
    SetCapture(window);
    repaint(window);
    return;
  }
  g_ui.pressed_id = region ? region->id : 0;
  g_ui.pressed_arg = region ? region->arg : 0;
  // The pointer takes over: the ring hides, and Tab goes on from what was clicked.
  g_ui.focus_visible = false;
  if (region) {
    g_ui.focus_id = region->id;
    g_ui.focus_arg = region->arg;
  }
  SetCapture(window);
  repaint(window);
}

static void on_button_up(HWND window, int x, int y) {
  if (g_ui.drag_bar) {
    g_ui.drag_bar = 0;
    ReleaseCapture();
    repaint(window);
    return;
  }
  const HitRegion* region = hit_test(x, y);
  int32_t id = g_ui.pressed_id, arg = g_ui.pressed_arg;
  g_ui.pressed_id = 0;
  ReleaseCapture();
  if (region && id != 0 && region->id == id && region->arg == arg) dispatch_command(id, arg);
  repaint(window);  // the command's outcome, or the button no longer pressed
}

// The settings that step or switch: quick clicks on them are separate clicks
// that happen to come close together, and each one counts.
static bool repeats_on_quick_clicks(int32_t id) {
  return id == CMD_TOGGLE_SETTING || id == CMD_SET_RESOLUTION || id == CMD_CAPTURE_LESS ||
         id == CMD_CAPTURE_MORE || id == CMD_LEVEL_PREV || id == CMD_LEVEL_NEXT;
}

// The second press of a double click. On a setting that steps or switches it
// is a press like any other. Anywhere else no press is recorded, so the
// release that follows dispatches nothing: a double click by habit on Remove
// or Add disc image does its work once.
static void on_double_click(HWND window, int x, int y) {
  const HitRegion* region = hit_test(x, y);
  if (region && repeats_on_quick_clicks(region->id)) {
    on_button_down(window, x, y);
    return;
  }
  if (!region || region->id != CMD_SELECT_ENTRY) return;
  if (region->arg < 0 || region->arg >= g_state.entry_count) return;
  g_state.selected = region->arg;
  // As for Enter: a refused launch leaves the new label to the repaint.
  if (entry_actions(g_state.selected) & ENTRY_PLAY) ask_to_play(g_state.selected);
  repaint(window);
}

// ---- Messages from the worker threads --------------------------------------

static void restore_if_minimised(HWND window) {
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
}

static void on_game_exited(HWND window, DWORD code) {
  LauncherState& s = g_state;
  if (s.game_process) {
    CloseHandle(s.game_process);
    s.game_process = NULL;
  }
  if (code != 0) {
    describe_game_exit(s.status_text, STATUS_TEXT_UNITS, code);
    s.status_is_error = true;
  }
  s.running_entry = -1;
  restore_if_minimised(window);
  repaint(window);
}

static void on_build_progress(HWND window, WPARAM ended, LPARAM job_serial) {
  LauncherState& s = g_state;
  // The end of an earlier job can arrive after the next one started (its
  // worker clears running just before it posts); the flags are the new job's.
  if (ended == 1 && (LONG)job_serial != g_job.serial) {
    repaint(window);
    return;
  }
  if (ended == 1) {
    // A failed or cancelled build has its own texts, which the message line
    // shows once the status line is empty; what a command says afterwards
    // (Open log, say) is newer and shows over them.
    if (g_job.failed) {
      s.status_text[0] = 0;
      s.status_is_error = false;
    } else {
      copy_text(s.status_text, STATUS_TEXT_UNITS, L"Built. Ready to play.");
      s.status_is_error = false;
      FlashWindow(window, TRUE);
    }
    restore_if_minimised(window);
    KillTimer(window, LATE_PROGRESS_TIMER);
  } else {
    SetTimer(window, LATE_PROGRESS_TIMER, LATE_PROGRESS_MS, NULL);  // restarts a pending one
  }
  show_build_on_taskbar(window, ended == 1);
  if (ended == 1)
    repaint(window);
  else
    repaint_progress(window);
}

// Results of the identification worker: entries added or refreshed, a
// search's progress, and a Play whose disc check came back.
static void on_identified(HWND window) {
  IdentifyOutcome outcome = apply_identify_results();
  if (outcome.added) save_settings();
  if (outcome.play >= 0) play_after_check(outcome.play);
  if (outcome.changed) repaint(window);
}

static void on_timer(HWND window, WPARAM id) {
  if (id != LATE_PROGRESS_TIMER) return;
  KillTimer(window, LATE_PROGRESS_TIMER);
  repaint_progress(window);
}

// ---- Dispatch --------------------------------------------------------------

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
  switch (message) {
    case WM_PAINT: on_paint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETCURSOR:
      // The mouse-move handler sets the cursor inside the client area.
      if (LOWORD(lparam) == HTCLIENT) return TRUE;
      break;
    case WM_SIZE: on_size(window); return 0;
    case WM_GETMINMAXINFO: on_min_max_info(window, (MINMAXINFO*)lparam); return 0;
    case WM_CLOSE: on_close(window); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_KEYDOWN: on_key_down(window, wparam); return 0;
    case WM_MOUSEWHEEL: on_mouse_wheel(window, wparam, lparam); return 0;
    case WM_DROPFILES: on_drop_files(window, (HDROP)wparam); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, wparam, (const RECT*)lparam); return 0;
    case WM_MOUSEMOVE: on_mouse_move(window, x, y); return 0;
    case WM_MOUSELEAVE: on_mouse_leave(window); return 0;
    case WM_LBUTTONDOWN: on_button_down(window, x, y); return 0;
    case WM_LBUTTONUP: on_button_up(window, x, y); return 0;
    case WM_LBUTTONDBLCLK: on_double_click(window, x, y); return 0;
    case WM_CAPTURECHANGED: g_ui.drag_bar = 0; break;  // a drag ends with the capture, however lost
    case WM_APP_GAME_EXITED: on_game_exited(window, (DWORD)wparam); return 0;
    case WM_APP_BUILD_PROGRESS: on_build_progress(window, wparam, lparam); return 0;
    case WM_APP_IDENTIFIED: on_identified(window); return 0;
    case WM_TIMER: on_timer(window, wparam); return 0;
    case WM_GETOBJECT: {
      LRESULT answer = answer_get_object(window, wparam, lparam);
      if (answer) return answer;
      break;
    }
    case WM_NOTIFY:
      if (answer_tooltip((NMHDR*)lparam)) return 0;
      break;
    case WM_APP_ACCESSIBLE_COMMAND:
      dispatch_command((int32_t)wparam, (int32_t)lparam);
      repaint(window);
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED: on_colours_changed(window); break;
  }
  if (g_taskbar_created_message && message == g_taskbar_created_message) {
    // Explorer restarted: the old button and its interface are gone.
    release_taskbar();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}
