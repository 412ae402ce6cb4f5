// telvar-cli build IMAGE: the whole build job for one disc image, without the
// window, on this thread. The folder of telvar-cli.exe is the launcher folder:
// the telvar.ini beside it names the release and receives the stamps, and the
// downloads, toolchain and games folders are made there. The library of that
// telvar.ini is neither read nor changed; a hand-written 8-bit file is first
// turned into UTF-16, as the launcher does at start-up, so that a release
// address of any characters reads as written.
//
// Standard output: each new stage text with the job's percentage, then
// "Built". On failure or cancel the job's error text is the last line of
// standard error; a launcher folder that cannot hold a build (no space, not
// writable, temporary) is refused so before anything is fetched. Ctrl+C cancels the build (the script's processes end).
// Exit code 0 when built, 1 when failed or cancelled, 2 for a usage error.
// Refused while a launcher (or another telvar-cli) builds in the same folder.
#include <windows.h>
#include <string.h>

#include "core/state.h"
#include "pipeline/build_job.h"
#include "cli/cli.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "pipeline/job_status.h"

// The job's stage text, printed by the console's stage printer with the
// job's percentage.
static void print_job_stage() {
  wchar_t stage[STAGE_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, NULL, 0);
  print_stage(stage, g_job.progress, true);
}

static const char* const STATUS_NAMES[] = {
    "DISC_OK", "DISC_OTHER_REVISION", "DISC_UNSUPPORTED", "DISC_UNKNOWN", "DISC_NOT_PS2", "DISC_NOT_FOUND",
};

int cmd_build(int argc, wchar_t** argv) {
  if (argc != 1) {
    fputs("usage: telvar-cli build IMAGE\n", stderr);
    return EXIT_USAGE;
  }
  if (!locate_launcher()) {
    fputs("telvar-cli: the path of telvar-cli.exe is too long; move it to a folder with a shorter path\n", stderr);
    return EXIT_FAILED;
  }
  prepare_settings_file();

  LibraryEntry& entry = g_state.entries[0];
  memset(&entry, 0, sizeof entry);
  if (!full_disc_path(argv[0], entry.path)) {
    fputs("telvar-cli: the full path is longer than 259 characters: ", stderr);
    print_utf8(stderr, argv[0]);
    fputs("\n", stderr);
    return EXIT_FAILED;
  }
  identify_disc(&entry);
  g_state.entry_count = 1;
  if (!catalog_row_buildable(entry.catalog_row)) {
    fputs("telvar-cli: this disc cannot be built (", stderr);
    fputs(STATUS_NAMES[entry.status], stderr);
    fputs("): ", stderr);
    print_utf8(stderr, entry.path);
    fputs("\n", stderr);
    return EXIT_FAILED;
  }
  g_state.status_text[0] = 0;
  if (!prepare_build(0)) {
    if (g_job.failed) {
      // The launcher's folder cannot hold a build: the job's text, last on
      // standard error as for any failed build.
      wchar_t error[ERROR_TEXT_UNITS];
      job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
      print_utf8(stderr, error);
      fputs("\n", stderr);
      return EXIT_FAILED;
    }
    // The refusal's own text when there is one: another build in this folder.
    fputs("telvar-cli: ", stderr);
    if (g_state.status_text[0])
      print_utf8(stderr, g_state.status_text);
    else
      fputs("the build could not be started", stderr);
    fputs("\n", stderr);
    return EXIT_FAILED;
  }

  if (g_state.status_text[0]) {
    // A pre-flight warning: said, and the build goes on.
    fputs("telvar-cli: warning: ", stderr);
    print_utf8(stderr, g_state.status_text);
    fputs("\n", stderr);
  }
  forget_printed_stage();
  print_job_stage();
  set_job_listener(print_job_stage);
  catch_console_break(cancel_build);
  build_worker(NULL);
  catch_console_break(NULL);
  set_job_listener(NULL);

  if (!g_job.failed) {
    fputs("Built\n", stdout);
    fflush(stdout);
    return EXIT_OK;
  }
  fflush(stdout);
  wchar_t error[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, error, ERROR_TEXT_UNITS);
  print_utf8(stderr, error);
  fputs("\n", stderr);
  return EXIT_FAILED;
}
