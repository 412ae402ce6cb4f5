// telvar-cli identify IMAGE...: one tab-separated line per image: status,
// catalogue row, serial, MD5, full path. Reads and writes no settings file.
// Scripts read those five columns, so they stay as they are; for a disc of
// another revision, the revision the launcher supports (region, boot file,
// MD5) is said beside what was found in a line on standard error.
#include "cli/cli.h"

#include <string.h>

#include "library/catalog.h"
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

static void explain_revision(const LibraryEntry& entry) {
  if (entry.status != DISC_OTHER_REVISION || entry.catalog_row < 0 || entry.catalog_row >= CATALOG_ROWS) return;
  const CatalogEntry& row = CATALOG[entry.catalog_row];
  if (!row.md5) return;
  fflush(stdout);  // the explanation follows its own line when both go to one place
  fputs("telvar-cli: ", stderr);
  print_utf8(stderr, entry.path);
  fputs(": a different revision of ", stderr);
  print_utf8(stderr, row.title);
  fputs(" (", stderr);
  print_utf8(stderr, row.region);
  fprintf(stderr, "): its boot file %s ", row.serial);
  if (entry.md5[0])
    fprintf(stderr, "has MD5 %s", entry.md5);
  else
    fputs("was not found or could not be read", stderr);
  fprintf(stderr, "; the supported revision's has MD5 %s\n", row.md5);
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
    explain_revision(entry);
  }
  fflush(stdout);
  return EXIT_OK;
}
