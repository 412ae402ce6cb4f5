// Failures in words: the Windows error codes, process status codes and exit
// codes the launcher meets, each with a short plain explanation and what to
// try, and the sentences that carry them to the user with the code kept in
// brackets, so that it can still be quoted in a bug report or searched for.
//
// One way of writing each kind of code, everywhere:
//   - Windows error codes (GetLastError: network, file and process start) in
//     decimal, as Windows documents them: "Windows error 12029";
//   - system status codes (a process that crashed or was ended by the
//     system: 0x80000000 and above) in hexadecimal: "0xC0000135";
//   - a program's own exit code (below 0x80000000) in decimal, said as such:
//     "exit code 3".
// A code the tables do not know keeps the plain sentence with its code.
//
// Byte-level: no Windows header; the tables are constant data, the sentences
// are written into the caller's buffer, always terminated, cut at its end.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

struct CodeWords {
  uint32_t code;          // the code as Windows gives it
  const wchar_t* what;    // what happened, in plain words, lower case, no final stop
  const wchar_t* advice;  // what to try: one or two whole sentences
};

// The three tables, looked up by code; null when the code is not in them.
const CodeWords* network_error_words(uint32_t error);  // WinHTTP and socket errors of a download
const CodeWords* start_error_words(uint32_t error);    // CreateProcess errors
const CodeWords* exit_status_words(uint32_t status);   // how a process ended (status codes)

// The tables themselves, for tests and for telvar-cli.
extern const CodeWords NETWORK_ERROR_WORDS[];
extern const size_t NETWORK_ERROR_WORD_COUNT;
extern const CodeWords START_ERROR_WORDS[];
extern const size_t START_ERROR_WORD_COUNT;
extern const CodeWords EXIT_STATUS_WORDS[];
extern const size_t EXIT_STATUS_WORD_COUNT;

// True for a system status code (a crash or an end forced by the system),
// false for a program's own exit code.
bool is_status_code(uint32_t code);

// "Windows error 12029".
void format_windows_error(wchar_t* out, size_t units, uint32_t error);
// "0xC0000135" for a status code, "exit code 3" otherwise.
void format_exit_code(wchar_t* out, size_t units, uint32_t code);

// A download that could not be made (session, connection, request, send or
// receive failed): "Could not download LABEL: WHAT (Windows error N). ADVICE"
// or, for a code not in the table, "Could not download LABEL (Windows error
// N). Check your internet connection."
void describe_download_failure(wchar_t* out, size_t units, const wchar_t* label, uint32_t error);

// A download whose body stopped coming: "The download of LABEL stopped: WHAT
// (Windows error N). ADVICE", or "The download of LABEL stopped (Windows
// error N). Try again." for a code not in the table.
void describe_download_stopped(wchar_t* out, size_t units, const wchar_t* label, uint32_t error);

// A program that could not be started: "Could not start PROGRAM: WHAT
// (Windows error N). ADVICE", or "Could not start PROGRAM (Windows error N)."
void describe_start_failure(wchar_t* out, size_t units, const wchar_t* program, uint32_t error);

// The game ended with a code other than 0. A status code in the table:
// "The game closed: WHAT (0xC0000135). ADVICE"; another status code: "The
// game closed with an error (0x...). Open log shows what happened."; a
// program's own code: "The game closed with exit code 3. Open log shows what
// happened."
void describe_game_exit(wchar_t* out, size_t units, uint32_t code);

// The build script ended with a code other than 0; last_line is its last line
// of output (or "no output"). A program's own code: "The build script ended
// with exit code 3: LAST"; a status code in the table: "The build tools
// crashed: WHAT (0xC0000005): LAST"; another status code: "The build tools
// crashed (0x...): LAST".
void describe_script_exit(wchar_t* out, size_t units, uint32_t code, const wchar_t* last_line);
