// The library's records: one disc image of the user's library and the outcome
// of identifying it. Plain data; the logic is in disc_identify.cpp and library.cpp.
#pragma once
#include <stdint.h>
#include <wchar.h>

enum { LIBRARY_CAPACITY = 64 };         // entries the library holds; more are ignored
enum { SERIAL_BYTES = 32 };             // serial text, 31 characters and terminator
enum { MD5_TEXT_BYTES = 33 };           // 32 lowercase hex digits and terminator

enum DiscStatus : int32_t {
  DISC_OK = 0,              // known, buildable, boot file matches the supported revision
  DISC_OTHER_REVISION = 1,  // known and buildable, but the boot file differs or was unreadable
  DISC_UNSUPPORTED = 2,     // known, but this launcher cannot build it yet
  DISC_UNKNOWN = 3,         // an ISO 9660 image whose serial is not in the catalogue
  DISC_NOT_PS2 = 4,         // opened, but not an ISO 9660 image
  DISC_NOT_FOUND = 5,       // could not be opened
  DISC_CHECKING = 6,        // not identified yet: its identification is queued or under way
};

struct LibraryEntry {
  wchar_t path[260];                // full path of the image (at most 259 units)
  char serial[SERIAL_BYTES];        // boot-file serial from SYSTEM.CNF, empty when none
  char md5[MD5_TEXT_BYTES];         // MD5 of the boot file, empty when not computed
  int32_t catalog_row;              // matching catalogue row, -1 for none
  DiscStatus status;                // result of the last identification
  uint32_t id;                      // number given when it joined the library, unique in this run;
                                    // a late identification finds its entry by it (0: none)
};
