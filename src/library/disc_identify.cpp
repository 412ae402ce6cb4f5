// Disc identification: SYSTEM.CNF's BOOT2 serial, the catalogue row and the
// MD5 of the boot executable; and add_disc. identify_disc touches only the
// entry it is given, so the identification worker runs it on its own copy;
// add_disc changes the library and belongs to the window thread (and to
// telvar-cli, which identifies as it goes).
#include "library/disc_identify.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "core/state.h"
#include "library/catalog.h"
#include "library/iso_image.h"
#include "library/md5.h"

// The serial named by SYSTEM.CNF's BOOT2 line, or empty.
static void read_serial(const IsoImage* image, char (&serial)[SERIAL_BYTES]) {
  serial[0] = 0;
  IsoFileRecord cnf;
  if (!find_root_file(image, "SYSTEM.CNF", 10, &cnf) || cnf.size > SYSTEM_CNF_LIMIT) return;
  char text[SYSTEM_CNF_LIMIT + 1] = {0};  // zero-filled: the text is always terminated
  if (!read_at(image->file, (uint64_t)cnf.extent * ISO_SECTOR_BYTES, cnf.size, text)) return;
  parse_boot2_serial(text, serial, SERIAL_BYTES);
}

static int32_t find_catalog_row(const char* serial) {
  for (int32_t row = 0; row < CATALOG_ROWS; row++)
    if (_stricmp(serial, CATALOG[row].serial) == 0) return row;
  return -1;
}

enum { HASH_CHUNK_BYTES = 1 << 20 };

static bool read_image(void* source, uint64_t offset, uint32_t n, void* buffer) {
  return read_at(((const IsoImage*)source)->file, offset, n, buffer);
}

// The MD5 of the boot file named by the serial, or empty. The file is read a
// megabyte at a time by a second thread while this one hashes the megabyte
// before, so the reads cost next to nothing on a second core; two buffers of
// a megabyte are all the memory it takes. Any failed read leaves md5 empty.
static void hash_boot_file(const IsoImage* image, const char* serial, char (&md5)[MD5_TEXT_BYTES]) {
  md5[0] = 0;
  IsoFileRecord boot;
  if (!find_root_file(image, serial, (uint32_t)strlen(serial), &boot) || boot.size > BOOT_FILE_LIMIT)
    return;
  uint8_t* buffers = (uint8_t*)malloc(2 * HASH_CHUNK_BYTES);
  if (!buffers) return;
  md5_read_hex(read_image, (void*)image, (uint64_t)boot.extent * ISO_SECTOR_BYTES, boot.size, buffers,
               HASH_CHUNK_BYTES, md5);
  free(buffers);
}

void identify_disc(LibraryEntry* entry) {
  entry->catalog_row = -1;
  entry->md5[0] = 0;
  entry->serial[0] = 0;

  IsoImage image;
  switch (iso_open(entry->path, &image)) {
    case ISO_CANNOT_OPEN: entry->status = DISC_NOT_FOUND; return;
    case ISO_NOT_AN_IMAGE: entry->status = DISC_NOT_PS2; return;
    case ISO_OPENED: break;
  }

  read_serial(&image, entry->serial);
  entry->status = DISC_UNKNOWN;
  int32_t row = find_catalog_row(entry->serial);
  if (row < 0) {
    iso_close(&image);
    return;  // unknown, with the serial kept for display
  }
  entry->catalog_row = row;
  hash_boot_file(&image, entry->serial, entry->md5);
  iso_close(&image);

  const CatalogEntry& known = CATALOG[row];
  if (!known.wrapper_exe)
    entry->status = DISC_UNSUPPORTED;
  else if (known.md5 && strcmp(known.md5, entry->md5) != 0)
    entry->status = DISC_OTHER_REVISION;
  else
    entry->status = DISC_OK;
}

bool full_disc_path(const wchar_t* path, wchar_t (&out)[PATH_UNITS]) {
  DWORD n = GetFullPathNameW(path, PATH_UNITS, out, NULL);
  // When the platform cannot make it full, the path is kept as given.
  if (n == 0) return copy_text(out, PATH_UNITS, path);
  return n < PATH_UNITS;
}

uint32_t next_entry_id() {
  static uint32_t last;
  if (++last == 0) last = 1;
  return last;
}

int32_t library_index_of(const wchar_t* full) {
  for (int32_t i = 0; i < g_state.entry_count; i++)
    if (_wcsicmp(g_state.entries[i].path, full) == 0) return i;
  return -1;
}

void add_disc(const wchar_t* path, bool select) {
  wchar_t full[PATH_UNITS];
  if (!full_disc_path(path, full)) return;

  LauncherState& s = g_state;
  int32_t listed = library_index_of(full);
  if (listed >= 0) {
    if (select) s.selected = listed;
    return;
  }
  if (s.entry_count >= LIBRARY_CAPACITY) return;

  LibraryEntry* entry = &s.entries[s.entry_count];
  memset(entry, 0, sizeof *entry);
  copy_text(entry->path, PATH_UNITS, full);
  entry->id = next_entry_id();
  identify_disc(entry);
  if (select) s.selected = s.entry_count;
  s.entry_count++;
}

void add_stored_disc(const wchar_t* path) { add_disc(path, false); }
