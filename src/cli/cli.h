// telvar-cli: the launcher's own operations without the window, for bug
// reports, scripts, end-to-end tests and benchmarks. Each command lives in a
// file of its own and is listed in main.cpp's table.
#pragma once
#include <stdio.h>
#include <wchar.h>

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

// Runs one worker-side operation (download, unzip, build...) the way the
// launcher's build worker would, on the calling thread: the stage texts are
// printed on standard output as they change, Ctrl+C requests a cancel, and a
// failure prints the job's error text as the last line of standard error.
// Returns EXIT_OK on success, EXIT_FAILED on failure or cancel.
int run_cli_job(bool (*operation)(void* context), void* context);
