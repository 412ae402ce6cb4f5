// telvar-cli unzip ARCHIVE DEST: unpacks ARCHIVE into the folder DEST with the
// launcher's own zip reader, as the build job does with its archives. Both
// paths may be relative; they are made absolute first. Stage texts go to
// standard output as they change; on failure the error text is the last line
// of standard error; Ctrl+C stops the extraction before its next entry.
#include "cli/cli.h"

#include <windows.h>
#include <string.h>

#include "app/state.h"
#include "transfer/zip_extract.h"

enum { CLI_LONG_PATH_UNITS = 32768 };  // the longest path Windows can name

static wchar_t unzip_last_stage[STAGE_TEXT_UNITS];

static void print_unzip_stage() {
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  if (wcscmp(stage, unzip_last_stage) == 0) return;
  memcpy(unzip_last_stage, stage, sizeof stage);
  print_utf8(stdout, stage);
  fputs("\n", stdout);
  fflush(stdout);
}

static BOOL WINAPI on_unzip_break(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_state.job.cancel_requested, 1);
  return TRUE;
}

// Full path into out. An over-long result is passed on whole: the extraction
// refuses it with its own message rather than creating a cut folder.
static bool absolute_path(const wchar_t* path, wchar_t* out) {
  DWORD n = GetFullPathNameW(path, CLI_LONG_PATH_UNITS, out, NULL);
  return n > 0 && n < CLI_LONG_PATH_UNITS;
}

int cmd_unzip(int argc, wchar_t** argv) {
  static wchar_t archive[CLI_LONG_PATH_UNITS], destination[CLI_LONG_PATH_UNITS];
  if (argc != 2 || !absolute_path(argv[0], archive) || !absolute_path(argv[1], destination)) {
    fputs("usage: telvar-cli unzip ARCHIVE DEST\n", stderr);
    return EXIT_USAGE;
  }
  // The same steps as run_cli_job (cli_job.cpp), which this program does not
  // link yet.
  set_job_listener(print_unzip_stage);
  SetConsoleCtrlHandler(on_unzip_break, TRUE);
  bool ok = extract_zip(archive, destination, 0.0, 1.0, L"the archive");
  SetConsoleCtrlHandler(on_unzip_break, FALSE);
  set_job_listener(NULL);
  fflush(stdout);
  if (ok) return EXIT_OK;
  wchar_t error[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
  // A cancel is silent in the extraction itself; the console still says what happened.
  print_utf8(stderr, error[0] ? error : L"Cancelled.");
  fputs("\n", stderr);
  return EXIT_FAILED;
}
