// telvar-cli: the launcher's own operations without the window, for bug
// reports, scripts, end-to-end tests and benchmarks. Each command lives in a
// file of its own and is listed in main.cpp's table.
#pragma once
#include <stdio.h>
#include <wchar.h>

#include "transfer/transfer_result.h"

// Exit codes of every command.
enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

// Writes UTF-16 text to a stream as UTF-8.
void print_utf8(FILE* stream, const wchar_t* text);

// Each command gets the arguments after its name.
int cmd_identify(int argc, wchar_t** argv);
int cmd_build(int argc, wchar_t** argv);
int cmd_sha256(int argc, wchar_t** argv);
int cmd_unzip(int argc, wchar_t** argv);
int cmd_fetch(int argc, wchar_t** argv);
int cmd_doctor(int argc, wchar_t** argv);

// The one stage printer of the commands (build, fetch, unzip): prints stage
// on standard output when it differs from the text printed last, with the
// progress as a percentage first ("%3d%% ") when with_percent.
void print_stage(const wchar_t* stage, double progress, bool with_percent);
void forget_printed_stage();  // the next stage is printed whatever it is

// Ctrl+C and Ctrl+Break call action (on the console's own thread) instead of
// ending the program; null stops catching them.
void catch_console_break(void (*action)(void));

// Runs one transfer (download, unzip) on the calling thread with a console
// reporter: its stage texts are printed as they change and Ctrl+C cancels it.
// label begins or ends the stage texts and names the file in error texts; a
// failure prints its text (or "Cancelled.") as the last line of standard
// error. Returns EXIT_OK on success, EXIT_FAILED on failure or cancel.
int run_console_transfer(bool (*operation)(void* context, const TransferProgress* progress, TransferResult* result),
                         void* context, const wchar_t* label);
