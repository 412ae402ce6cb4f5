// Running worker-side operations from the console; see cli.h.
#include <windows.h>
#include <string.h>

#include "core/state.h"
#include "cli/cli.h"
#include "pipeline/job_status.h"

static wchar_t last_printed[STAGE_TEXT_UNITS];

static void print_stage_change() {
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  if (wcscmp(stage, last_printed) == 0) return;
  memcpy(last_printed, stage, sizeof stage);
  print_utf8(stdout, stage);
  fputs("\n", stdout);
  fflush(stdout);
}

static BOOL WINAPI on_console_break(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_job.cancel_requested, 1);
  job_terminate_object(1);
  return TRUE;
}

int run_cli_job(bool (*operation)(void* context), void* context) {
  last_printed[0] = 0;
  set_job_listener(print_stage_change);
  SetConsoleCtrlHandler(on_console_break, TRUE);
  bool ok = operation(context);
  SetConsoleCtrlHandler(on_console_break, FALSE);
  set_job_listener(NULL);
  fflush(stdout);
  if (ok) return EXIT_OK;

  wchar_t error[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
  // A cancel is silent in the job itself; the console still says what happened.
  print_utf8(stderr, error[0] ? error : L"Cancelled.");
  fputs("\n", stderr);
  return EXIT_FAILED;
}
