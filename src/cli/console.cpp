// The console side shared by the commands that run a build or a transfer;
// see cli.h.
#include <windows.h>
#include <string.h>

#include "cli/cli.h"
#include "pipeline/transfer_texts.h"

enum { PRINTED_STAGE_UNITS = 256 };  // a stage text as long as the job's

static wchar_t last_printed[PRINTED_STAGE_UNITS];
static volatile LONG break_requested;
static void (*break_action)(void);

void forget_printed_stage() { last_printed[0] = 0; }

void print_stage(const wchar_t* stage, double progress, bool with_percent) {
  if (wcsncmp(stage, last_printed, PRINTED_STAGE_UNITS - 1) == 0) return;
  wcsncpy(last_printed, stage, PRINTED_STAGE_UNITS - 1);
  last_printed[PRINTED_STAGE_UNITS - 1] = 0;
  if (with_percent) {
    if (progress < 0.0) progress = 0.0;
    if (progress > 1.0) progress = 1.0;
    fprintf(stdout, "%3d%% ", (int)(progress * 100.0 + 0.5));
  }
  print_utf8(stdout, last_printed);
  fputs("\n", stdout);
  fflush(stdout);
}

static BOOL WINAPI on_console_break(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&break_requested, 1);
  if (break_action) break_action();
  return TRUE;
}

void catch_console_break(void (*action)(void)) {
  if (action) {
    InterlockedExchange(&break_requested, 0);
    break_action = action;
    SetConsoleCtrlHandler(on_console_break, TRUE);
  } else {
    SetConsoleCtrlHandler(on_console_break, FALSE);
    break_action = NULL;
  }
}

static void no_action() {}

static void print_transfer_stage(void*, double, const wchar_t* stage) { print_stage(stage, 0.0, false); }
static bool break_given(void*) { return break_requested != 0; }

int run_console_transfer(bool (*operation)(void* context, const TransferProgress* progress, TransferResult* result),
                         void* context, const wchar_t* label) {
  // One record for the process: it is large, and one transfer runs at a time.
  static TransferResult result;
  TransferProgress progress = {print_transfer_stage, break_given, NULL, label};
  forget_printed_stage();
  catch_console_break(no_action);
  bool ok = operation(context, &progress, &result);
  catch_console_break(NULL);
  fflush(stdout);
  if (ok) return EXIT_OK;
  // A cancel is silent in the transfer itself; the console still says what happened.
  wchar_t error[TRANSFER_DETAIL_UNITS];
  transfer_failure_text(&result, label, error, TRANSFER_DETAIL_UNITS);
  print_utf8(stderr, error[0] ? error : L"Cancelled.");
  fputs("\n", stderr);
  return EXIT_FAILED;
}
