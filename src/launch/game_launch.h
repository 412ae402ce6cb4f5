// Starting the built game of a library entry with the user's settings, and
// the thread that waits for it to end.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { GAME_COMMAND_UNITS = 584, GAME_ENV_VALUE_UNITS = 32 };

// The upscale factor for a monitor of the given height in pixels: the height
// over 448 rounded up, kept within 2 to 4.
int32_t upscale_factor_for_height(int32_t height);

// The factor for the monitor that holds most of the main window.
int32_t upscale_factor();

// Sets or removes the eight TQA_ variables of this process from the settings,
// in their fixed order, so that nothing of an earlier launch is left behind.
void set_game_environment();

// True while a build job makes the files of entry index's game (its own
// entry, or another disc of the same catalogue row): the build replaces or
// deletes them, and a running game would hold them open.
bool game_is_being_built(int32_t index);

// Starts the game of entry index unless a game runs already or its files are
// being built; the outcome shows in running_entry and the status line. It
// does not paint: the window repaints after the key, click or command.
void launch_game(int32_t index);

// launch_game for an entry whose identification was just made again (by the
// identification worker, so that the window never waits for the disc).
void start_identified_game(int32_t index);

// The monitor thread: waits for the process, posts WM_APP_GAME_EXITED with its
// exit code. The window closes the handle once the message arrives.
DWORD WINAPI watch_game(LPVOID process);
