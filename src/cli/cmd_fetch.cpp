// telvar-cli fetch SOURCE DEST: downloads an http(s) address, or copies a
// local file, to DEST exactly as the build job fetches a release archive
// (label "the file"). Stage texts go to standard output as they change; on
// failure the error text is the last line of standard error and DEST is gone
// (an interrupted download keeps DEST.partial and its record, which the next
// fetch of the same address resumes); Ctrl+C stops the transfer at once,
// whatever it waits for.
#include "cli/cli.h"

#include "transfer/download.h"

struct FetchArguments {
  const wchar_t* source;
  const wchar_t* destination;
};

static bool run_fetch(void* context, const TransferProgress* progress, TransferResult* result) {
  const FetchArguments* fetch = (const FetchArguments*)context;
  return download_file(fetch->source, fetch->destination, DOWNLOAD_ARCHIVE_LIMIT, NULL, NULL, progress, result);
}

int cmd_fetch(int argc, wchar_t** argv) {
  if (argc != 2) {
    fputs("usage: telvar-cli fetch SOURCE DEST\n", stderr);
    return EXIT_USAGE;
  }
  FetchArguments fetch = {argv[0], argv[1]};
  return run_console_transfer(run_fetch, &fetch, L"the file");
}
