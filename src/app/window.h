// The launcher's one top-level window: its class, its creation with the DPI
// correction and the dark title bar, and the window procedure.
#pragma once
#include <windows.h>

extern const wchar_t WINDOW_CLASS[];  // "ProjectTelvarLauncher"
extern const wchar_t WINDOW_TITLE[];  // "Project Telvar", also the message box caption

// Per-monitor (version 2) DPI awareness when the platform offers it, system
// awareness otherwise.
void make_dpi_aware();

// dpi_scale from the whole screen's horizontal DPI.
void read_screen_scale();

// Registers the window class (double clicks, icon resource 1, arrow cursor,
// no background brush). False when the platform refused it.
bool register_window_class(HINSTANCE instance);

// The smallest client area, in design lengths (px() scales each).
enum { MIN_CLIENT_WIDTH = 800, MIN_CLIENT_HEIGHT = 560 };

// width x height, each cut to the work area's extent where it is larger
// (an empty work area cuts nothing).
SIZE fit_to_work_area(int width, int height, const RECT& work);

// Creates the window at px(1100) x px(860) (less where the monitor's work
// area is smaller, and moved to lie inside it), corrects the size for the
// window's own DPI, darkens the title bar, and stores it in main_window.
// Not shown yet. Null when the platform refused it.
HWND create_main_window(HINSTANCE instance);

// True when the frame (in screen pixels) touches a monitor that exists now.
bool place_on_a_monitor(const RECT& frame);

// The screen frame of a window placement's restored frame. The placement
// keeps it in workspace coordinates, which start at the top left of the work
// area of the monitor (given by its whole rectangle and its work area), not
// of the monitor: a taskbar on the left or at the top shifts them by its size.
RECT screen_frame_of_placement(const RECT& workspace_frame, const RECT& monitor, const RECT& work);

// Keeps the window's restored frame and whether it is maximised in the state
// record, for the settings' save at the end.
void remember_window_place(HWND window);

// Puts the window (not shown yet) at the place the settings remember, when
// it lies on a monitor that still exists; returns the show command to use:
// show, or SW_SHOWMAXIMIZED for a window closed maximised.
int restore_window_place(HWND window, int show);

// Another launcher of this folder has the folder's lock: finds its window
// (waiting up to timeout_ms while that one is still starting), restores it
// when minimised and brings it forward. False when no window was found.
bool bring_first_launcher_forward(int timeout_ms);

// Runs until the window is destroyed; the program's exit code.
int run_message_loop();

// What the taskbar button shows of the build: a state (TBPF_NORMAL while a
// build runs, TBPF_ERROR after one failed, TBPF_NOPROGRESS otherwise and
// after a cancel) and the part done out of TASKBAR_PROGRESS_TOTAL. ended is
// true for the report that the build has finished.
enum { TASKBAR_PROGRESS_TOTAL = 1000 };
struct TaskbarProgress {
  int state;                 // TBPF_* flags
  unsigned long long completed;  // 0 .. TASKBAR_PROGRESS_TOTAL
};
TaskbarProgress taskbar_progress(bool ended);

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
