// The seventeen commands that a click on a hit region performs.
#pragma once
#include <stdint.h>

#include "core/text.h"

// Performs command id with its argument. An id outside the seventeen does
// nothing. It does not paint: its caller, the window, repaints.
void dispatch_command(int32_t id, int32_t arg);

// Play, without waiting for the disc: the identification worker reads the
// entry's disc again, and play_after_check starts the game when it answers.
// Refused while a game runs or its files are being built.
void ask_to_play(int32_t index);

// The answer of ask_to_play's check: starts the game when the entry can
// still play, and leaves the row and message line to say why not otherwise.
void play_after_check(int32_t index);

// Why the shell could not open a file (a log), with the Windows error.
void describe_open_failure(wchar_t* out, size_t units, const wchar_t* path, uint32_t error);

// The log that "Open log" opens for entry index: the game's own log, or the
// build log when the game is not built or its last build failed. False when
// the entry has no game that keeps a log.
bool choose_log_path(int32_t index, wchar_t (&out)[PATH_UNITS]);
