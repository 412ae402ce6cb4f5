// Fuzzes the ISO 9660 record parsing the way identification uses it. The
// input is an image from its sector 16 on, the volume descriptor first; the
// root directory and SYSTEM.CNF are taken from the sectors their records name
// into heap blocks of exactly their size, so the sanitizers see any read past
// them. Checks: a name found in the first part of the root is found with the
// same record in the whole root (the scan goes front to back and stops at
// the first match), and the serial stays terminated inside its buffer, with
// no line end or semicolon in it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "library/iso_records.h"

enum {
  CNF_LIMIT = 4095,  // larger SYSTEM.CNF files are not read, as in identification
  SERIAL_BYTES = 32,
  FIRST_SECTOR = 16,  // the input's first byte is the start of this sector
};

// The n bytes at sector extent of the image, copied into a block of exactly
// n bytes; NULL when they do not all lie in the input.
static uint8_t* sector_data(const uint8_t* data, size_t size, uint32_t extent, uint32_t n) {
  if (extent < FIRST_SECTOR) return NULL;
  uint64_t offset = (uint64_t)(extent - FIRST_SECTOR) * ISO_SECTOR_BYTES;
  if (offset > size || size - offset < n) return NULL;
  uint8_t* copy = (uint8_t*)malloc(n ? n : 1);
  memcpy(copy, data + offset, n);
  return copy;
}

// Scans the whole root for name and checks that a scan of a part of it that
// finds the name finds the same record.
static bool scan(const uint8_t* root, uint32_t loaded, const char* name, IsoFileRecord* found) {
  uint32_t length = (uint32_t)strlen(name);
  bool in_whole = iso_scan_directory(root, loaded, name, length, found);
  for (uint32_t part : {loaded / 2, loaded > 0 ? loaded - 1 : 0u}) {
    uint8_t* copy = (uint8_t*)malloc(part ? part : 1);
    memcpy(copy, root, part);
    IsoFileRecord early;
    if (iso_scan_directory(copy, part, name, length, &early) &&
        (!in_whole || early.extent != found->extent || early.size != found->size))
      abort();
    free(copy);
  }
  return in_whole;
}

static void check_serial(const char* text) {
  char serial[SERIAL_BYTES + 4];
  memset(serial, 0x5A, sizeof serial);
  parse_boot2_serial(text, serial, SERIAL_BYTES);
  size_t n = strnlen(serial, SERIAL_BYTES);
  if (n == SERIAL_BYTES || strpbrk(serial, "\r\n;")) abort();
  for (int i = SERIAL_BYTES; i < SERIAL_BYTES + 4; i++)
    if (serial[i] != 0x5A) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < ISO_SECTOR_BYTES) return 0;
  uint32_t root_extent = 0, root_size = 0;
  if (!iso_parse_descriptor(data, &root_extent, &root_size)) return 0;
  uint32_t loaded = root_size < ISO_ROOT_LOAD_LIMIT ? root_size : ISO_ROOT_LOAD_LIMIT;
  uint8_t* root = sector_data(data, size, root_extent, loaded);
  if (!root) return 0;

  IsoFileRecord cnf;
  if (root_size > 0 && scan(root, loaded, "SYSTEM.CNF", &cnf) && cnf.size <= CNF_LIMIT) {
    uint8_t* bytes = sector_data(data, size, cnf.extent, cnf.size);
    if (bytes) {
      char text[CNF_LIMIT + 1] = {0};
      memcpy(text, bytes, cnf.size);
      free(bytes);
      check_serial(text);
      char serial[SERIAL_BYTES];
      parse_boot2_serial(text, serial, sizeof serial);
      IsoFileRecord boot;
      if (serial[0]) scan(root, loaded, serial, &boot);
    }
  }
  free(root);
  return 0;
}
