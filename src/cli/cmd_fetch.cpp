// telvar-cli fetch SOURCE DEST: downloads an http(s) address, or copies a
// local file, to DEST exactly as the build job fetches a release archive
// (label "the file"). Stage texts go to standard output as they change; on
// failure the error text is the last line of standard error and DEST is gone;
// Ctrl+C stops the transfer after its current chunk.
#include "cli/cli.h"

#include <windows.h>
#include <string.h>

#include "app/state.h"
#include "transfer/download.h"

static wchar_t fetch_last_stage[STAGE_TEXT_UNITS];

static void print_fetch_stage() {
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  if (wcscmp(stage, fetch_last_stage) == 0) return;
  memcpy(fetch_last_stage, stage, sizeof stage);
  print_utf8(stdout, stage);
  fputs("\n", stdout);
  fflush(stdout);
}

static BOOL WINAPI on_fetch_break(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_state.job.cancel_requested, 1);
  return TRUE;
}

int cmd_fetch(int argc, wchar_t** argv) {
  if (argc != 2) {
    fputs("usage: telvar-cli fetch SOURCE DEST\n", stderr);
    return EXIT_USAGE;
  }
  // The steps of run_cli_job (cli_job.cpp), which this program does not link yet.
  set_job_listener(print_fetch_stage);
  SetConsoleCtrlHandler(on_fetch_break, TRUE);
  bool ok = download_url(argv[0], argv[1], 0.0, 1.0, NULL, NULL, L"the file");
  SetConsoleCtrlHandler(on_fetch_break, FALSE);
  set_job_listener(NULL);
  fflush(stdout);
  if (ok) return EXIT_OK;
  wchar_t error[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
  // A cancel is silent in the download itself; the console still says what happened.
  print_utf8(stderr, error[0] ? error : L"Cancelled.");
  fputs("\n", stderr);
  return EXIT_FAILED;
}
