// The launcher's one process-wide record, in static storage for the whole
// run. The main thread owns it; the build worker and the game monitor touch
// only the fields their own code names. Also the settings file's load and save.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "app/text.h"
#include "app/hit_regions.h"
#include "build/job_status.h"
#include "library/library_types.h"
#include "ui/ui_types.h"

enum { STATUS_TEXT_UNITS = 256 };
enum { ADD_DISC_BUFFER_UNITS = 32768 };  // the add-disc dialog's file-name buffer

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

  // Status line and panel
  wchar_t status_text[STATUS_TEXT_UNITS];  // one-line message of the main view; empty: none
  bool status_is_error;                // draw status_text as an error
  bool settings_open;                  // settings panel shown in place of the disc details

  // Game
  int32_t running_entry;               // entry whose game runs, -1 for none
  HANDLE game_process;                 // the running game's process, or null

  // Build job
  JobStatus job;                       // shared with the build worker

  // Input
  HitRegion hit_regions[HIT_REGION_CAPACITY];  // recorded by the last paint, in drawing order
  int32_t hit_region_count;            // regions recorded
  int32_t hovered_id, hovered_arg;     // region under the pointer; (0, 0) for none
  int32_t pressed_id, pressed_arg;     // region where the left button went down; (0, 0) for none
  int32_t scroll_offset;               // library list scroll in pixels, never negative

  // Library management
  wchar_t add_disc_names[ADD_DISC_BUFFER_UNITS];  // add-disc dialog: a path, or a folder and names

  // Drawing (fonts per scale, scaled images, the tiled background)
  HFONT fonts[FONT_COUNT];             // one handle per FontRole, made by create_fonts
  ImageCache image_cache;              // scaled bitmaps, emptied whole when full or on a DPI change
  HBRUSH background_brush;             // star-field pattern brush, or null; tiles a cached bitmap
  int32_t background_tile;             // tile side in device pixels the brush was made for
  NaturalSize natural_sizes[NATURAL_SIZE_CAPACITY];  // measured natural sizes, kept across flushes
  int32_t natural_size_count;          // records in natural_sizes
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

// Fills the library and the settings from telvar.ini; identifies every image.
void load_settings();

// Writes the library and the settings; keeps every other section as it is.
// The file is replaced whole or not at all: false when the save failed, with
// "Could not save the settings: ..." and its reason in the status line.
bool save_settings();
