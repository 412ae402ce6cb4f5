// The built-in catalogue of known discs, and the questions asked about a row:
// whether its game runs and is built by this launcher, where its built game
// lives and whether the game's files are there.
#pragma once
#include <stdint.h>
#include <wchar.h>

#include "core/text.h"

enum { CATALOG_ROWS = 9, LEVEL_COUNT = 19 };

struct CatalogEntry {
  const char* serial;              // boot-file serial as SYSTEM.CNF names it
  const wchar_t* title;            // game title shown to the user
  const wchar_t* region;           // "PAL", "NTSC-U" or "NTSC-J"
  const char* md5;                 // MD5 of the supported revision's boot file, or null
  const wchar_t* build_dir;        // where the build puts the game, relative to the launcher, or null
  const wchar_t* wrapper_exe;      // the built game's executable; null: cannot be built yet
  const wchar_t* game_id;          // folder under "games" and settings section, or null
  const wchar_t* const* level_names;  // LEVEL_COUNT names for start_level, or null
  const wchar_t* region_suffix;    // "us" for the NTSC-U build, null otherwise
};

extern const CatalogEntry CATALOG[CATALOG_ROWS];

// A row whose game can run: it names the built game's executable.
inline bool catalog_row_playable(int32_t row) {
  return row >= 0 && row < CATALOG_ROWS && CATALOG[row].wrapper_exe != nullptr;
}

// A row whose game this launcher builds from the disc: it names the game's
// executable and the folder under "games" that the build kit fills.
inline bool catalog_row_buildable(int32_t row) { return catalog_row_playable(row) && CATALOG[row].game_id != nullptr; }

// The folder that holds (or will hold) the built game of a row with a wrapper_exe.
void game_folder(int32_t row, wchar_t (&out)[PATH_UNITS]);
bool game_files_present(int32_t row);
