// Where a game's release files are found and what the launcher has installed
// from them: the release base and its separator, the addresses of the release
// files, the level list for the build script, and the toolchain stamp file.
// The kit and build stamps are profile strings in the game's section of the
// settings file (keys below). Runs on the build worker; reads the settings
// file, writes only the stamp file. Texts live in fixed buffers of the sizes
// below; longer ones are cut, and the callers check the cut where it matters.
#pragma once
#include <wchar.h>

#include "core/text.h"

enum {
  RELEASE_BASE_UNITS = 1024,   // the release base as read from the settings file
  RELEASE_URL_UNITS = 1200,    // one release file's address
  STAMP_UNITS = 64,            // a version stamp
  LEVEL_LIST_UNITS = 256,      // the level list handed to the build script
};

// The base used when the settings file names none.
extern const wchar_t DEFAULT_RELEASE_BASE[];
// All levels of the game, when neither the settings nor the release name some.
extern const wchar_t DEFAULT_LEVEL_LIST[];

// Settings-file keys of the build: section "build", and the game's section.
#define BUILD_SECTION L"build"
#define KIT_STAMP_KEY L"kit_version"

// Reads "release_url" from the settings file (settings_path) and removes at
// most one trailing separator. separator is "/" for an http(s) base and "\"
// for a local folder, chosen before anything is removed. A relative folder
// (an empty one included) is taken from the settings file's folder, the
// launcher's, never from the current folder.
void read_release_base(const wchar_t* settings_path, wchar_t (&base)[RELEASE_BASE_UNITS],
                       const wchar_t** separator);

// base, separator, game id, separator, file name. True when it fit whole.
bool release_file_url(wchar_t (&out)[RELEASE_URL_UNITS], const wchar_t* base, const wchar_t* separator,
                      const wchar_t* game_id, const wchar_t* file_name);

// The settings' "levels" when not empty, else the description's levels
// (UTF-8) when not empty, else all levels.
void read_level_list(const wchar_t* settings_path, const char* description_levels,
                     wchar_t (&out)[LEVEL_LIST_UNITS]);

// "version.txt" in the toolchain folder: its first line, empty when missing.
void read_toolchain_stamp(const wchar_t* toolchain_folder, wchar_t (&out)[STAMP_UNITS]);
// Writes the version's bytes and nothing else; failures are ignored.
void write_toolchain_stamp(const wchar_t* toolchain_folder, const char* toolchain_version);

// UTF-8 to UTF-16 into out[units]; empty when it does not convert.
void utf8_to_wide(const char* text, wchar_t* out, int units);
