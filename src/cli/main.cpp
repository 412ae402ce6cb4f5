// Entry of telvar-cli.exe: picks the command by its name.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include "cli/cli.h"
#include "core/version.h"

struct Command {
  const wchar_t* name;
  const char* usage;
  int (*run)(int argc, wchar_t** argv);
};

static const Command COMMANDS[] = {
    {L"identify", "identify IMAGE...", cmd_identify},
    {L"build", "build IMAGE", cmd_build},
    {L"sha256", "sha256 FILE", cmd_sha256},
    {L"unzip", "unzip ARCHIVE DEST", cmd_unzip},
    {L"fetch", "fetch SOURCE DEST", cmd_fetch},
    {L"doctor", "doctor", cmd_doctor},
};

void print_utf8(FILE* stream, const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (bytes <= 1) return;
  char* utf8 = (char*)malloc(bytes);
  if (!utf8) return;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, bytes, NULL, NULL);
  fwrite(utf8, 1, bytes - 1, stream);
  free(utf8);
}

static int usage() {
  fputs("usage:\n", stderr);
  for (const Command& c : COMMANDS) fprintf(stderr, "  telvar-cli %s\n", c.usage);
  fputs("  telvar-cli --version\n", stderr);
  return EXIT_USAGE;
}

int wmain(int argc, wchar_t** argv) {
  // Bytes out as they are: no CR inserted before LF, UTF-8 passed through.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (argc < 2) return usage();
  if (wcscmp(argv[1], L"--version") == 0) {
    if (argc != 2) return usage();
    fputs("telvar-cli " TELVAR_VERSION_TEXT "\n", stdout);
    return EXIT_OK;
  }
  for (const Command& c : COMMANDS)
    if (wcscmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
  fprintf(stderr, "telvar-cli: unknown command\n");
  return usage();
}
