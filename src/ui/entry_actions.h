// What a library entry can do now: the one answer that the painter (which
// buttons are enabled, what the primary button says), the keys, the double
// click and the commands all ask. No drawing here.
#pragma once
#include <stdint.h>

enum EntryAction : uint32_t {
  ENTRY_PLAY = 1u << 0,         // start its built game
  ENTRY_BUILD = 1u << 1,        // build its game for the first time
  ENTRY_REBUILD = 1u << 2,      // build its game again over the built one
  ENTRY_OPEN_LOG = 1u << 3,     // open the game's log or the build log
  ENTRY_GAME_FOLDER = 1u << 4,  // open the built game's folder
  ENTRY_REMOVE = 1u << 5,       // take it out of the library
  // Not actions: what the primary button says when it cannot act.
  ENTRY_NOT_BUILT = 1u << 6,    // a game this launcher builds, not built yet: "Build"
  ENTRY_GAME_RUNS = 1u << 7,    // its own game runs: "Running..."
  ENTRY_UNFINISHED = 1u << 8,   // its last build was cut short and the game before it is not back: "Rebuild"
};

// The actions of library entry index, 0 for an index that names no entry.
//
// "Supported" is a disc identified as a known revision or another revision of
// a catalogue row that names a game (DISC_OK, DISC_OTHER_REVISION); "built"
// is a supported disc whose game files are there; a game run or a build job
// counts wherever it is in the library.
//
//   action        | when
//   --------------+-----------------------------------------------------------
//   PLAY          | built, not UNFINISHED; no game runs; no build job makes
//                 | this game's files
//   BUILD         | supported, its row is buildable, not built; no game runs;
//                 | no build job runs
//   REBUILD       | supported, its row is buildable; no game runs; no build
//                 | job runs
//   OPEN_LOG      | its row is buildable (a game log or a build log to open)
//   GAME_FOLDER   | its row names a game (a folder where it lives or will)
//   REMOVE        | its own game does not run and no build job uses it
//   NOT_BUILT     | supported, its row is buildable, not built
//   GAME_RUNS     | its own game runs
//   UNFINISHED    | supported, its row is buildable, and a build of its game
//                 | began and neither finished nor gave the game before it
//                 | back (what is in its folder may be half made), unless a
//                 | build of that game runs now
//
// Within one paint the game files are looked for once per catalogue row.
uint32_t entry_actions(int32_t index);

// A build of the row's game began and neither finished nor gave the game
// before it back, so what is in its folder may be half made. While a build of
// that game runs, its marker is expected and says nothing yet.
bool build_left_unfinished(int32_t row);
