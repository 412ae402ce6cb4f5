// telvar-cli unzip ARCHIVE DEST: unpacks ARCHIVE into the folder DEST with the
// launcher's own zip reader, as the build job does with its archives. Both
// paths may be relative; they are made absolute first. Stage texts go to
// standard output as they change; on failure the error text is the last line
// of standard error; Ctrl+C stops the extraction before its next entry.
#include "cli/cli.h"

#include <windows.h>

#include "transfer/zip_extract.h"

enum { CLI_LONG_PATH_UNITS = 32768 };  // the longest path Windows can name

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
  struct Paths {
    const wchar_t* archive;
    const wchar_t* destination;
  } paths = {archive, destination};
  return run_console_transfer(
      [](void* context, const TransferProgress* progress, TransferResult* result) {
        const Paths* p = (const Paths*)context;
        return extract_zip_file(p->archive, p->destination, progress, result);
      },
      &paths, L"the archive");
}
