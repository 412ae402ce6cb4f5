// Unpacking a zip archive into a folder; see zip_extract.h.
//
// What it does: reads the whole archive into one heap block, walks the
// central directory in order (zip_records.h) and writes every entry as a
// file: stored entries straight from the archive block, deflated ones through
// inflate_raw into one block of the entry's size. Each file gets its entry's
// DOS time stamp, taken as local time, as its last-write time.
//
// What it refuses: names that could reach outside the destination (".."
// anywhere, a leading / or \, a colon, a device name as a component) are
// skipped without a word; an output path longer than 259 characters, damaged
// records, unknown methods and data that do not decode stop the extraction
// with the failure's text. It never writes outside the destination.
//
// Memory: the archive block and, for a deflated entry, one block of its
// uncompressed size, both released before the call returns; the per-entry
// records below are static, so only one extraction may run at a time (which
// the decoder's static tables require anyway).
#include "transfer/zip_extract.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "core/state.h"
#include "core/text.h"
#include "pipeline/build_tree.h"
#include "pipeline/job_status.h"
#include "transfer/inflate.h"
#include "transfer/zip_records.h"

static const DWORD ZIP_IO_CHUNK = 1u << 30;     // largest single ReadFile or WriteFile: 1 GiB
static const uint32_t ZIP_PROGRESS_EVERY = 16;  // progress is published for every 16th central record

// Working records of the one extraction that runs at a time.
static ZipEntry zip_entry;                     // the central header being handled
static wchar_t zip_wide_name[ZIP_NAME_UNITS];  // its name converted from UTF-8, \ separators
static wchar_t zip_output_path[PATH_UNITS];    // destination\name
static wchar_t zip_parent_path[PATH_UNITS];    // the folder that holds the output file

// Reads the whole file into a malloc block (1 byte for an empty file). False
// when it cannot be opened or read whole; the failure text is set.
static bool read_archive(const wchar_t* path, uint8_t** data_out, uint32_t* size_out) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fail_build(L"Could not open %ls.", path);
    return false;
  }
  uint8_t* data = NULL;
  uint32_t done = 0;
  LARGE_INTEGER size;
  size.QuadPart = 0;
  // A file of 4 GiB or more cannot be a zip archive without ZIP64; taking
  // only its low 32 bits would read a piece of it as if it were the whole.
  bool sized = GetFileSizeEx(file, &size) && size.HighPart == 0;
  if (sized) data = (uint8_t*)malloc(size.LowPart ? size.LowPart : 1);
  while (data && done < size.LowPart) {
    DWORD want = size.LowPart - done < ZIP_IO_CHUNK ? size.LowPart - done : ZIP_IO_CHUNK;
    DWORD got = 0;
    if (!ReadFile(file, data + done, want, &got, NULL) || got == 0) break;
    done += got;
  }
  CloseHandle(file);
  if (!data || done < size.LowPart) {
    free(data);
    fail_build(L"Could not read %ls.", path);
    return false;
  }
  *data_out = data;
  *size_out = size.LowPart;
  return true;
}

// Writes the entry's bytes to zip_output_path and stamps its last-write time.
// False with the failure text set when the file cannot be created or is
// written short.
static bool write_entry_file(const uint8_t* bytes, uint32_t length, uint16_t dos_date, uint16_t dos_time) {
  HANDLE file = CreateFileW(zip_output_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fail_build(L"Could not write %ls.", zip_output_path);
    return false;
  }
  uint32_t written = 0;
  while (written < length) {
    DWORD want = length - written < ZIP_IO_CHUNK ? length - written : ZIP_IO_CHUNK;
    DWORD put = 0;
    if (!WriteFile(file, bytes + written, want, &put, NULL) || put == 0) break;
    written += put;
  }
  // The stamp is the packer's local time; a stamp that does not convert
  // leaves the time the file got on writing.
  FILETIME local_time, utc_time;
  if (DosDateTimeToFileTime(dos_date, dos_time, &local_time) && LocalFileTimeToFileTime(&local_time, &utc_time))
    SetFileTime(file, NULL, NULL, &utc_time);
  CloseHandle(file);
  if (written < length) {
    fail_build(L"Could not write %ls (disk full?).", zip_output_path);
    return false;
  }
  return true;
}

// Handles one central record at cursor: skips it, makes its folder, or
// writes its file. False with the failure text set when the extraction must
// stop; *wrote_file tells whether a file was written.
static bool extract_entry(const ZipArchive* archive, uint64_t cursor, const wchar_t* destination,
                          const wchar_t* label, bool* wrote_file) {
  *wrote_file = false;
  ZipRecordResult record = zip_read_central(archive, cursor, &zip_entry);
  if (record == ZIP_RECORD_DAMAGED) {
    fail_build(L"%ls is damaged.", label);
    return false;
  }
  if (record == ZIP_RECORD_NAME_TOO_LONG) {
    fail_build(L"%ls has a name too long.", label);
    return false;
  }
  if (!zip_name_is_safe(zip_entry.name)) return true;  // skipped without a word

  // Names are UTF-8 whatever the flags say. 511 bytes give at most 511 units.
  if (MultiByteToWideChar(CP_UTF8, 0, zip_entry.name, -1, zip_wide_name, ZIP_NAME_UNITS) == 0) zip_wide_name[0] = 0;
  for (wchar_t* c = zip_wide_name; *c; c++)
    if (*c == L'/') *c = L'\\';

  // A cut path names another file: such an entry is refused, not written.
  if (!join_path(zip_output_path, destination, zip_wide_name)) {
    fail_build(L"Could not write %ls.", zip_output_path);
    return false;
  }
  size_t length = wcslen(zip_output_path);
  if (zip_output_path[length - 1] == L'\\') {  // a folder entry: only folders
    zip_output_path[length - 1] = 0;
    create_directory_chain(zip_output_path);
    return true;
  }
  wcscpy(zip_parent_path, zip_output_path);
  *wcsrchr(zip_parent_path, L'\\') = 0;  // join_path put one there
  create_directory_chain(zip_parent_path);

  const uint8_t* data = NULL;
  if (!zip_locate_data(archive, &zip_entry, &data)) {
    fail_build(L"%ls is damaged.", label);
    return false;
  }
  const uint8_t* bytes = NULL;
  uint8_t* block = NULL;
  if (zip_entry.method == ZIP_METHOD_STORED) {
    bytes = data;  // written straight from the archive block
  } else if (zip_entry.method == ZIP_METHOD_DEFLATED) {
    block = (uint8_t*)malloc(zip_entry.uncompressed_size ? zip_entry.uncompressed_size : 1);
    if (!block || !inflate_raw(data, zip_entry.compressed_size, block, zip_entry.uncompressed_size)) {
      free(block);
      fail_build(L"%ls is damaged (%hs).", label, zip_entry.name);
      return false;
    }
    bytes = block;
  } else {
    fail_build(L"%ls uses an unknown compression.", label);
    return false;
  }
  bool ok = write_entry_file(bytes, zip_entry.uncompressed_size, zip_entry.dos_date, zip_entry.dos_time);
  free(block);
  *wrote_file = ok;
  return ok;
}

bool extract_zip(const wchar_t* archive_path, const wchar_t* destination, double progress_from, double progress_to,
                 const wchar_t* label) {
  volatile LONG* cancel = &g_job.cancel_requested;
  uint8_t* data = NULL;
  uint32_t size = 0;
  if (!read_archive(archive_path, &data, &size)) return false;

  ZipArchive archive;
  if (!zip_open(&archive, data, size)) {
    free(data);
    fail_build(L"%ls is not a zip file.", label);
    return false;
  }
  // A destination that does not fit a path buffer would be created cut,
  // somewhere else: refuse it before any folder is made.
  if (wcslen(destination) >= PATH_UNITS) {
    free(data);
    wchar_t cut[PATH_UNITS];
    copy_text(cut, PATH_UNITS, destination);
    fail_build(L"Could not write %ls.", cut);
    return false;
  }
  create_directory_chain(destination);

  uint32_t total = archive.entry_total;
  uint64_t cursor = archive.central_offset;
  for (uint32_t i = 0; i < total; i++) {
    if (*cancel) {
      free(data);
      return false;
    }
    bool wrote_file = false;
    if (!extract_entry(&archive, cursor, destination, label, &wrote_file)) {
      free(data);
      return false;
    }
    if (wrote_file && i % ZIP_PROGRESS_EVERY == 0)
      publish_progress(progress_from + (progress_to - progress_from) * (double)(i + 1) / (double)total,
                       L"Unpacking %ls (%u of %u files)", label, i + 1, total);
    cursor = zip_entry.next_cursor;
  }
  free(data);
  return !*cancel;
}
