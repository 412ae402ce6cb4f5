// Folders of the build tree: creating folder chains and deleting trees, and
// the clean-ups the build job runs between its stages. Nothing here fails the
// job: folders that cannot be made or removed are left as they are.
//
// Deleting refuses three things: it never enters a folder link (junction or
// symbolic link; any reparse point is removed as the link itself), so it
// cannot reach outside the folder it was given; it never deletes what a link
// points to, so a link that the platform can only open at its target (Wine,
// for host links) stays where it is; and it never deletes a path that was cut
// to fit PATH_UNITS, since a cut path names something else.
// Memory: path buffers on the stack, one per level of the tree.
//
// A build replaces a region's built game as a whole: before the build script
// runs, the game there is set aside; a failed or cancelled build gets it back
// as it was, and a successful one moves over every file of it that no build
// made (saves, the game's own settings), known from the manifest that each
// successful build leaves beside the game. A marker file beside the output
// folder says that a build began and its outcome is not settled: the game in
// the output folder may then be half made. Memory for this: the file lists of
// the two folders, one heap block each, freed before returning.
#pragma once
#include <stdint.h>
#include <windows.h>
#include <wchar.h>

#include "core/file_place.h"  // create_directory_chain
#include "core/text.h"

// Deletes the file, or the folder with everything in it. A missing path is
// passed over; read-only files go too.
void delete_tree(const wchar_t* path);

// Compares the game's kit stamp in the settings file with version; when a
// stamp is stored and differs, deletes the stale build output of both
// regions. Then stores version as the kit stamp, in every case.
void clear_stale_output(const wchar_t* kit_folder, const wchar_t* game_id, const wchar_t* version);

// Deletes every entry of the kit folder except the "build" folder (any case).
void clear_kit_folder(const wchar_t* kit_folder);

// Deletes what a finished build leaves that the game does not need: the
// intermediate files of the region's output folder and the shared
// level, disc and compiler-cache folders.
void clear_intermediate_output(const wchar_t* kit_folder, const wchar_t* region_word);

// The manifest each successful build writes into the game's folder: the
// files that the build made, one relative path a line (UTF-8).
static const wchar_t BUILD_MANIFEST_NAME[] = L"telvar_build_files.txt";

// The places of one region's game while a build replaces it.
struct OutputPlaces {
  wchar_t output[PATH_UNITS];    // kit\build\windows or kit\build\windows_<region>: the game
  wchar_t previous[PATH_UNITS];  // output + ".previous": the game before, while the script runs
  wchar_t marker[PATH_UNITS];    // output + ".unfinished": a build began and is not settled
  bool previous_settled;                  // the game set aside was a finished one (or there was none)
  DWORD error;                            // GetLastError of a move or marker that failed, else 0
};

// Forms the three paths; false when one does not fit.
bool output_places(OutputPlaces* places, const wchar_t* kit_folder, const wchar_t* region_word);

enum SetAsideResult {
  SET_ASIDE_DONE,       // the output folder is free for the script; the game before is set aside
  SET_ASIDE_IN_USE,     // the game could not be moved aside, or a cut-short build's output not removed
  SET_ASIDE_LEFT_OVER,  // files of the game from before the last build could not be moved over
};

// Before the script runs. Changes nothing but the marker unless it returns
// SET_ASIDE_DONE.
SetAsideResult set_aside_output(OutputPlaces* places);

// After a failed or cancelled script: removes what it made and puts the game
// set aside back. True when a finished game is back (or there was none);
// false leaves the marker, and last_build_unfinished then says so.
bool restore_output(const OutputPlaces* places);

// After a successful script and clear_intermediate_output: moves the game's
// own files over from the set-aside game, writes the manifest, removes the
// rest of the set-aside game and the marker. False when some of the game's
// own files could not be moved and stay in the set-aside folder.
bool settle_output(const OutputPlaces* places);

// True when a build of the catalogue row's game began and neither finished
// nor gave the game before it back: the files there may be half made.
bool last_build_unfinished(int32_t row);
