// The zip archive's records read from the archive bytes in memory: the end
// record search, the central directory headers, the local headers that locate
// each entry's data, and the checks that keep an entry's name inside the
// destination folder. Byte-level: no Windows header, no allocation, and no
// read outside the archive buffer, whatever the bytes say.
//
// Only what unpacking needs is read: no ZIP64, no encryption, no CRC-32 check;
// method, sizes and times always come from the central header.
#pragma once
#include <stdint.h>

enum {
  ZIP_END_RECORD_SIZE = 22,       // fixed part of the end of central directory record
  ZIP_MAX_COMMENT = 65535,        // longest archive comment
  ZIP_CENTRAL_HEADER_SIZE = 46,   // fixed part of a central directory file header
  ZIP_LOCAL_HEADER_SIZE = 30,     // fixed part of a local file header
  ZIP_NAME_UNITS = 512,           // longest accepted name (511 bytes) and its terminator
  ZIP_METHOD_STORED = 0,
  ZIP_METHOD_DEFLATED = 8,
  ZIP_MAX_ENTRIES = 65535,        // the end record counts entries in 16 bits
  ZIP_FLAG_UTF8 = 0x0800,         // general-purpose flag bit 11: the name is UTF-8
  ZIP_DISPLAY_NAME_BYTES = 3 * (ZIP_NAME_UNITS - 1) + 1,  // a name shown as UTF-8: 3 bytes a byte at most
};

// The most all the files of one archive may unpack to: far above any release
// archive, far below what a few hundred kilobytes of repeated records claim.
static const uint64_t ZIP_MAX_TOTAL_BYTES = 8ull << 30;  // 8 GiB

struct ZipArchive {
  const uint8_t* data;       // the whole archive
  uint32_t size;             // its size in bytes
  uint32_t entry_total;      // total number of entries from the end record
  uint32_t central_offset;   // where the central directory starts
};

// One central directory file header.
struct ZipEntry {
  char name[ZIP_NAME_UNITS];   // the name as stored (/ separators), zero-terminated
  uint32_t name_length;        // bytes of the stored name
  uint16_t flags;              // general-purpose flags (bit 11: UTF-8 name)
  uint16_t method;             // 0 stored, 8 deflated, anything else unknown
  uint16_t dos_time;           // last modification time, DOS format, local time
  uint16_t dos_date;           // last modification date, DOS format
  uint32_t compressed_size;    // bytes of the entry's data in the archive
  uint32_t uncompressed_size;  // bytes the entry unpacks to
  uint32_t local_offset;       // offset of the entry's local header
  uint64_t next_cursor;        // where the next central header starts
};

enum ZipRecordResult {
  ZIP_RECORD_OK = 0,
  ZIP_RECORD_DAMAGED,         // outside the archive or a wrong signature
  ZIP_RECORD_NAME_TOO_LONG,   // a name of 512 bytes or more
};

// Finds the end record: the highest position from size - 22 down to
// size - 65557 (not below 0) that holds its signature, and reads the entry
// count and central directory offset from it. False when there is none.
bool zip_open(ZipArchive* archive, const uint8_t* data, uint32_t size);

// Reads the central header at cursor into entry (name copied and terminated).
ZipRecordResult zip_read_central(const ZipArchive* archive, uint64_t cursor, ZipEntry* entry);

// True when the name may be written below the destination: no "..", no
// leading / or \, no colon (drive letters, streams), and no path component
// that Windows opens as a device instead of a file: CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9 (also with the superscript digits 1, 2, 3), CONIN$ and
// CONOUT$, in any letter case, with or without an extension.
bool zip_name_is_safe(const char* name);

// Checks the entry's local header and that its data lie inside the archive;
// sets *data to the first byte of the data. A stored entry's two sizes must be
// equal: its data are its contents. False when damaged.
bool zip_locate_data(const ZipArchive* archive, const ZipEntry* entry, const uint8_t** data);

// True for a record that only makes a folder: an empty name or one that ends
// in / or \.
bool zip_entry_is_folder(const ZipEntry* entry);

// Where one written entry lies in the archive: its local header up to the end
// of its data.
struct ZipSpan {
  uint32_t start;  // offset of the local header
  uint32_t end;    // offset just past the data
};

enum ZipSurveyResult {
  ZIP_SURVEY_OK = 0,
  ZIP_SURVEY_OVERLAP,     // two written entries share bytes: one local header or overlapping data
  ZIP_SURVEY_TOO_LARGE,   // the written entries add up to more than ZIP_MAX_TOTAL_BYTES
};

// Looks at every entry the extraction would write (a safe name, not a folder)
// before anything is written. The walk ends at the first record that does not
// read or whose data cannot be located, the same record where the extraction
// itself stops with its own text. spans has room for ZIP_MAX_ENTRIES and is
// left sorted by start; *total gets the bytes the written entries unpack to.
ZipSurveyResult zip_survey(const ZipArchive* archive, ZipSpan* spans, uint64_t* total);

// The entry's name for a message: decoded as UTF-8 when flag bit 11 says so
// or when the bytes are valid UTF-8 (the extraction names its files that way
// too), otherwise as code page 437, the zip format's own; every control
// character (C0, DEL, C1) and every byte that does not decode becomes '?', so
// a name cannot send escape sequences to a terminal. out gets valid UTF-8,
// zero-terminated, of at most ZIP_DISPLAY_NAME_BYTES.
void zip_display_name(const ZipEntry* entry, char* out);
