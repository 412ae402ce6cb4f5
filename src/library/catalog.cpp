// The catalogue of the nine known discs of the series; see catalog.h.
#include "library/catalog.h"

#include <windows.h>

#include "core/state.h"

static const wchar_t* const LEVEL_NAMES[LEVEL_COUNT] = {
    L"Launch Pad",        L"Comet Alley",      L"Moonbase Muddle",  L"Nebula Bazaar",
    L"Gravity Gardens",   L"Asteroid Rodeo",   L"Crater Canteen",   L"Solar Sails",
    L"Orbit Orchard",     L"Quasar Quarry",    L"Starlight Depot",  L"Meteor Marsh",
    L"Zero-G Zoo",        L"Pulsar Plaza",     L"Cosmic Carnival",  L"Ringworld Rumble",
    L"Wormhole Way",      L"Black Hole Bistro", L"Galaxy's Edge",
};

// The reference MD5 of rows 0 and 1 is that of the boot executable our own
// disc-image generator writes for the row (tests/support/iso_builder and
// tools/make-disc): the line "Project Telvar stand-in boot executable for
// <serial>\n" repeated 1000 times. A real release replaces these two values.
const CatalogEntry CATALOG[CATALOG_ROWS] = {
    {"SXPE_100.01", L"Tarsel & Quib", L"PAL", "13f8f1eea32364baadfdd38715f5be80",
     L"games\\mox1\\build\\windows", L"mox1_wrapper.exe", L"mox1", LEVEL_NAMES, nullptr},
    {"SXUS_100.02", L"Tarsel & Quib", L"NTSC-U", "55ca922993aff426916b4722f34fdc96",
     L"games\\mox1\\build\\windows_us", L"mox1_wrapper.exe", L"mox1", LEVEL_NAMES, L"us"},
    {"SXPJ_100.03", L"Tarsel & Quib", L"NTSC-J", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXPE_200.01", L"Tarsel & Quib 2", L"PAL", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXUS_200.02", L"Tarsel & Quib: Far Orbit", L"NTSC-U", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXPE_300.01", L"Tarsel & Quib 3", L"PAL", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXUS_300.02", L"Tarsel & Quib: Full Payload", L"NTSC-U", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXPE_400.01", L"Tarsel: Dueller", L"PAL", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"SXUS_400.02", L"Tarsel: Gridlock", L"NTSC-U", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

static bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// True when folder\name fits a path buffer and names something that exists.
static bool holds(const wchar_t* folder, const wchar_t* name) {
  wchar_t path[PATH_UNITS];
  return join_path(path, folder, name) && exists(path);
}

void game_folder(int32_t row, wchar_t (&out)[PATH_UNITS]) {
  const CatalogEntry& entry = CATALOG[row];
  const wchar_t* dir = g_state.launcher_dir;

  // The launcher may have been placed in the game's own folder.
  if (holds(dir, entry.wrapper_exe)) {
    copy_text(out, PATH_UNITS, dir);
    return;
  }
  wchar_t candidate[PATH_UNITS];
  if (entry.build_dir && entry.build_dir[0])
    join_path(candidate, dir, entry.build_dir);
  else
    copy_text(candidate, PATH_UNITS, dir);
  if (holds(candidate, entry.wrapper_exe)) {
    copy_text(out, PATH_UNITS, candidate);
    return;
  }
  wchar_t plain[PATH_UNITS];
  join_path(plain, dir, L"build\\windows");
  if (holds(plain, entry.wrapper_exe)) {
    copy_text(out, PATH_UNITS, plain);
    return;
  }
  join_path(out, dir, entry.build_dir ? entry.build_dir : L"");
}

bool game_files_present(int32_t row) {
  if (row < 0 || row >= CATALOG_ROWS || !CATALOG[row].wrapper_exe) return false;
  wchar_t folder[PATH_UNITS];
  game_folder(row, folder);
  if (!holds(folder, CATALOG[row].wrapper_exe)) return false;
  // The fixed names of the built game's library, not formed from the game id.
  return holds(folder, L"mox1_game.dll") || holds(folder, L"mox1_game.dll.manifest");
}
