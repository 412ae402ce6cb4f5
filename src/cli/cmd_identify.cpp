// telvar-cli identify IMAGE...: one tab-separated line per image: status,
// catalogue row, serial, MD5, full path. Reads and writes no settings file.
#include "cli/cli.h"

#include <string.h>

#include "library/disc_identify.h"

static const char* const STATUS_NAMES[] = {
    "DISC_OK", "DISC_OTHER_REVISION", "DISC_UNSUPPORTED", "DISC_UNKNOWN", "DISC_NOT_PS2", "DISC_NOT_FOUND",
};

// The serial comes from the disc's own SYSTEM.CNF and may hold any byte but
// a line end or ";". A tab would add a column and a byte beyond ASCII would
// make the line no UTF-8, so everything but printable ASCII shows as "?".
static void print_serial(const char* serial) {
  for (const char* c = serial; *c; c++) fputc(*c >= 0x20 && *c < 0x7F ? *c : '?', stdout);
}

int cmd_identify(int argc, wchar_t** argv) {
  if (argc < 1) {
    fputs("usage: telvar-cli identify IMAGE...\n", stderr);
    return EXIT_USAGE;
  }
  for (int i = 0; i < argc; i++) {
    LibraryEntry entry;
    memset(&entry, 0, sizeof entry);
    if (full_disc_path(argv[i], entry.path)) {
      identify_disc(&entry);
    } else {
      // The launcher refuses such a path; say so and report it as not found.
      fputs("telvar-cli: the full path is longer than 259 characters: ", stderr);
      print_utf8(stderr, argv[i]);
      fputs("\n", stderr);
      entry.catalog_row = -1;
      entry.status = DISC_NOT_FOUND;
      copy_text(entry.path, PATH_UNITS, L"");
    }
    fprintf(stdout, "%s\t%d\t", STATUS_NAMES[entry.status], (int)entry.catalog_row);
    print_serial(entry.serial);
    fprintf(stdout, "\t%s\t", entry.md5);
    print_utf8(stdout, entry.path[0] ? entry.path : argv[i]);
    fputs("\n", stdout);
  }
  fflush(stdout);
  return EXIT_OK;
}
