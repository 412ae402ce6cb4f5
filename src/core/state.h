// The launcher's shared record, in static storage for the whole run: what
// every floor of the program may read (the launcher's folder, the library,
// the settings, the status line, the running game). The main thread owns it;
// the build worker and the game monitor touch only the fields their own code
// names. The build job's record lives with the pipeline and the window's own
// drawing and input state with the user interface. Also the settings file's
// load and save.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "core/library_types.h"
#include "core/text.h"

enum { STATUS_TEXT_UNITS = 256 };

// The two messages the worker threads post to the main window.
enum : UINT {
  WM_APP_GAME_EXITED = WM_APP + 1,     // wParam: the game's exit code
  WM_APP_BUILD_PROGRESS = WM_APP + 2,  // wParam 0: progress; 1: the job has ended (lParam: its serial)
};

struct LauncherState {
  // Paths and display
  wchar_t launcher_dir[PATH_UNITS];    // folder of the executable, no trailing backslash
  wchar_t settings_path[PATH_UNITS];   // launcher_dir\telvar.ini
  float dpi_scale;                     // window DPI / 96
  HWND main_window;                    // the one top-level window; workers post to it

  // Library
  LibraryEntry entries[LIBRARY_CAPACITY];  // in the order the list shows them
  int32_t entry_count;                 // 0 to LIBRARY_CAPACITY
  int32_t selected;                    // selected entry; negative: none

  // Settings (section "settings" of telvar.ini)
  int32_t upscaled;                    // 0 native resolution, non-zero upscaled
  int32_t vsync;                       // wait for the monitor's refresh
  int32_t no_gs_thread;                // 1: no graphics-chip thread in the game
  int32_t no_gl_thread;                // 1: no OpenGL thread in the game
  int32_t fps_log;                     // the game logs frame timings
  int32_t capture_seconds;             // F9 capture length, 1 to 10 seconds
  int32_t start_level;                 // -1 off, 0 to 18 level index
  int32_t minimize;                    // minimise the launcher while a game runs

  // The window's place (section "window" of telvar.ini): its restored frame in
  // the coordinates GetWindowPlacement gives. A width of 0 means unknown: no
  // section was read or the window never existed, and a save keeps the file's.
  int32_t window_x;                    // left edge
  int32_t window_y;                    // top edge
  int32_t window_width;                // frame width in pixels; 0: unknown
  int32_t window_height;               // frame height in pixels
  int32_t window_maximized;            // 1: shown maximised

  // Status line and panel
  wchar_t status_text[STATUS_TEXT_UNITS];  // one-line message of the main view; empty: none
  bool status_is_error;                // draw status_text as an error
  bool settings_open;                  // settings panel shown in place of the disc details

  // Game
  int32_t running_entry;               // entry whose game runs, -1 for none
  HANDLE game_process;                 // the running game's process, or null
};

extern LauncherState g_state;

// Sets every field to its value at process start (tests reuse one process).
void reset_state();

// Sets launcher_dir and settings_path from the executable's own path. False
// when either would be cut by its buffer: a cut path names a parent folder
// or another file, and nothing may be kept or deleted there.
bool locate_launcher();

// Turns an existing 8-bit telvar.ini (one written by hand) into UTF-16, so
// that its non-ASCII values read as written and stay so. Call before the file
// is first read; load_settings does.
void prepare_settings_file();

// Fills the settings from telvar.ini and hands every stored disc path, in
// order, to add_stored_disc (the library adds and identifies it; the settings
// file knows nothing of discs), then reads the selection.
typedef void (*StoredDiscSink)(const wchar_t* path);
void load_settings(StoredDiscSink add_stored_disc);

// Writes the library, the settings and (when known) the window's place; keeps
// every other section as it is.
// The file is replaced whole or not at all: false when the save failed, with
// "Could not save the settings: ..." and its reason in the status line.
bool save_settings();
