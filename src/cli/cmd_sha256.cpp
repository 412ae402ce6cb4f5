// telvar-cli sha256 FILE: prints the file's SHA-256 as the launcher computes
// it to verify a downloaded archive (64 lowercase hexadecimal digits).
#include "cli/cli.h"

#include "transfer/sha256.h"

int cmd_sha256(int argc, wchar_t** argv) {
  if (argc != 1) {
    fputs("usage: telvar-cli sha256 FILE\n", stderr);
    return EXIT_USAGE;
  }
  char digest[65];
  if (!sha256_file(argv[0], digest)) {
    fputs("telvar-cli: could not read ", stderr);
    print_utf8(stderr, argv[0]);
    fputs("\n", stderr);
    return EXIT_FAILED;
  }
  fprintf(stdout, "%s\n", digest);
  fflush(stdout);
  return EXIT_OK;
}
