// Unpacking a zip archive into a folder; see zip_extract.h.
//
// What it does: reads the whole archive into one heap block, surveys every
// entry it will write before writing any, walks the central directory in
// order (zip_records.h) and writes every entry as a file: stored entries
// straight from the archive block, deflated ones through inflate_raw into one
// block of the entry's size. Each file gets its entry's DOS time stamp, taken
// as local time, as its last-write time.
//
// What it refuses: names that could reach outside the destination (".."
// anywhere, a leading / or \, a colon, a device name as a component) are
// skipped without a word; before anything is written, entries whose bytes
// overlap (the records of a zip bomb sharing one local header) and archives
// whose files add up to more than 8 GiB; an output path longer than 259
// characters, damaged records, unknown methods and data that do not decode
// stop the extraction with the failure in the result. It never writes outside the
// destination, nor through a link: the destination, every folder it creates
// or enters and every file it writes are checked to be where their paths say
// (core/file_place.h); a link in the way is removed as itself, or the extraction
// stops when that cannot be done. Names in texts are decoded and stripped of
// control characters.
//
// Memory: the archive block and, for a deflated entry, one block of its
// uncompressed size, both released before the call returns; the per-entry
// records below are static, so only one extraction may run at a time (which
// the decoder's static tables require anyway).
#include "transfer/zip_extract.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "core/file_place.h"
#include "core/text.h"
#include "transfer/inflate.h"
#include "transfer/zip_records.h"

static const DWORD ZIP_IO_CHUNK = 1u << 30;     // largest single ReadFile or WriteFile: 1 GiB
static const uint32_t ZIP_PROGRESS_EVERY = 16;  // progress is published for every 16th central record

// Working records of the one extraction that runs at a time.
static ZipEntry zip_entry;                     // the central header being handled
static wchar_t zip_wide_name[ZIP_NAME_UNITS];  // its name converted from UTF-8, \ separators
static wchar_t zip_output_path[PATH_UNITS];    // destination\name
static wchar_t zip_full_path[PATH_UNITS];      // the same with "." parts and trailing dots resolved
static ZipSpan zip_spans[ZIP_MAX_ENTRIES];     // the survey's spans
static wchar_t zip_destination[PATH_UNITS];    // the destination as a full path
static wchar_t zip_destination_place[PLACE_UNITS];  // where the destination really is ("" = cannot tell)
static wchar_t zip_verified[PATH_UNITS];       // the folder (below the destination) last found in place
static wchar_t zip_expected[PLACE_UNITS];      // where the object being made must be
static char zip_display[ZIP_DISPLAY_NAME_BYTES];      // the entry's name for a text, UTF-8
static wchar_t zip_display_wide[ZIP_DISPLAY_NAME_BYTES];  // the same in UTF-16
static wchar_t zip_shown_path[PATH_UNITS];     // a path for a text, control characters replaced
static TransferResult* zip_result;             // the running extraction's result

// A path for a text: a name may hold control characters (an escape sequence
// sent to a terminal by telvar-cli), which become '?'.
static const wchar_t* shown(const wchar_t* path) {
  size_t i = 0;
  for (; path[i] && i + 1 < PATH_UNITS; i++) {
    wchar_t c = path[i];
    zip_shown_path[i] = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) ? L'?' : c;
  }
  zip_shown_path[i] = 0;
  return zip_shown_path;
}

static bool fail(TransferFailure failure, const wchar_t* detail) {
  return transfer_failed(zip_result, failure, detail);
}

// Reads the whole file into a malloc block (1 byte for an empty file). False
// when it cannot be opened or read whole; the failure is set.
static bool read_archive(const wchar_t* path, uint8_t** data_out, uint32_t* size_out) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return fail(TRANSFER_CANNOT_OPEN, path);
  uint8_t* data = NULL;
  uint32_t done = 0;
  LARGE_INTEGER size;
  size.QuadPart = 0;
  if (!GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return fail(TRANSFER_READ_FAILED, path);
  }
  // A file of 4 GiB or more cannot be a zip archive without ZIP64; taking
  // only its low 32 bits would read a piece of it as if it were the whole.
  zip_result->size = (uint64_t)size.QuadPart;
  if (size.HighPart != 0) {
    CloseHandle(file);
    return fail(TRANSFER_ARCHIVE_TOO_LARGE, path);
  }
  data = (uint8_t*)malloc(size.LowPart ? size.LowPart : 1);
  if (!data) {
    CloseHandle(file);
    return fail(TRANSFER_ARCHIVE_NO_MEMORY, path);
  }
  while (done < size.LowPart) {
    DWORD want = size.LowPart - done < ZIP_IO_CHUNK ? size.LowPart - done : ZIP_IO_CHUNK;
    DWORD got = 0;
    if (!ReadFile(file, data + done, want, &got, NULL) || got == 0) break;
    done += got;
  }
  CloseHandle(file);
  if (done < size.LowPart) {
    free(data);
    return fail(TRANSFER_READ_FAILED, path);
  }
  *data_out = data;
  *size_out = size.LowPart;
  return true;
}

static bool fail_link(const wchar_t* path) { return fail(TRANSFER_LINK, shown(path)); }

// Makes the destination and finds where it really is. A destination that is
// a link (a toolchain folder pointing elsewhere) is removed as itself and
// made afresh; false with the failure set when that cannot be done.
static bool prepare_destination(const wchar_t* destination) {
  create_directory_chain(destination);
  zip_verified[0] = 0;
  zip_destination_place[0] = 0;
  DWORD length = GetFullPathNameW(destination, PATH_UNITS, zip_destination, NULL);
  if (length == 0 || length >= PATH_UNITS) {
    copy_text(zip_destination, PATH_UNITS, destination);
    return true;  // nothing to compare with: the paths below are trusted as they are
  }
  size_t n = wcslen(zip_destination);
  if (n > 3 && zip_destination[n - 1] == L'\\') zip_destination[--n] = 0;
  wchar_t* name = wcsrchr(zip_destination, L'\\');
  if (!name || !name[1]) {  // a drive root: nothing above it to compare with
    if (!folder_place(zip_destination, zip_destination_place)) zip_destination_place[0] = 0;
    return true;
  }
  wchar_t parent[PATH_UNITS], parent_place[PLACE_UNITS];
  size_t parent_length = (size_t)(name - zip_destination);
  memcpy(parent, zip_destination, parent_length * sizeof(wchar_t));
  parent[parent_length] = 0;
  if (parent_length == 2) wcscat(parent, L"\\");  // "C:" alone is drive C's current folder
  if (!folder_place(parent, parent_place)) parent_place[0] = 0;
  if (!join_place(zip_destination_place, parent_place, name + 1)) zip_destination_place[0] = 0;
  DWORD error = 0;
  PlaceResult result = make_folder_in_place(zip_destination, zip_destination_place, &error);
  if (result == PLACE_LINK) return fail_link(zip_destination);
  return true;  // a destination that could not be made fails at its first file
}

// Expected place of relative (below the destination) into zip_expected.
static bool expect_place(const wchar_t* relative) {
  return join_place(zip_expected, zip_destination_place, relative);
}

// True when the folder relative[0, length) was found in place already: the
// last folder verified and all the folders above it were.
static bool already_verified(const wchar_t* relative, size_t length) {
  return wcslen(zip_verified) >= length && _wcsnicmp(zip_verified, relative, length) == 0 &&
         (zip_verified[length] == 0 || zip_verified[length] == L'\\');
}

// Creates or enters every folder of relative (below the destination), each
// checked to be where its path says. False with the failure set only for a
// link that cannot be removed; other failures are left to the file that
// needs the folder, whose creation then fails with its own text.
static bool enter_folders(const wchar_t* relative) {
  wchar_t joined[PATH_UNITS], path[PATH_UNITS], part[PATH_UNITS];
  size_t n = wcslen(relative);
  for (size_t i = 1; i <= n; i++) {
    if (i < n && relative[i] != L'\\') continue;
    if (already_verified(relative, i)) continue;
    copy_text(part, i + 1, relative);
    if (!join_path(joined, zip_destination, part)) return true;
    // Made and opened, a folder's name loses trailing dots and blanks: its
    // place is that of its full path.
    DWORD full = GetFullPathNameW(joined, PATH_UNITS, path, NULL);
    size_t n_dest = wcslen(zip_destination);
    if (n_dest > 0 && zip_destination[n_dest - 1] == L'\\') n_dest--;
    if (full == 0 || full >= PATH_UNITS || _wcsnicmp(path, zip_destination, n_dest) != 0 || path[n_dest] != L'\\' ||
        !expect_place(path + n_dest + 1))
      return true;
    DWORD error = 0;
    PlaceResult result = make_folder_in_place(path, zip_expected, &error);
    if (result == PLACE_LINK) return fail_link(path);
    if (result != PLACE_OK) return true;
  }
  copy_text(zip_verified, PATH_UNITS, relative);
  return true;
}

// The part of zip_full_path below the destination, or null when it is not
// below it (a name of "." names the destination itself).
static const wchar_t* relative_part() {
  size_t n = wcslen(zip_destination);
  if (n > 0 && zip_destination[n - 1] == L'\\') n--;  // a drive root keeps its separator
  if (_wcsnicmp(zip_full_path, zip_destination, n) != 0) return NULL;
  if (zip_full_path[n] != L'\\' || !zip_full_path[n + 1]) return NULL;
  return zip_full_path + n + 1;
}

// Creates zip_output_path in its place, writes the entry's bytes and stamps
// its last-write time. False with the failure set when the file cannot
// be created or is written short.
static bool write_entry_file(const wchar_t* relative, const uint8_t* bytes, uint32_t length, uint16_t dos_date,
                             uint16_t dos_time) {
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  PlaceResult result = expect_place(relative) ? create_file_in_place(zip_full_path, zip_expected, &file, &error)
                                              : PLACE_FAILED;
  if (result == PLACE_LINK) return fail_link(zip_output_path);
  if (result != PLACE_OK) return fail(TRANSFER_CANNOT_CREATE, shown(zip_output_path));
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
  if (written < length) return fail(TRANSFER_WRITE_FAILED, shown(zip_output_path));
  return true;
}

// The entry's name for a text: decoded, with no control characters.
static const wchar_t* display_name() {
  zip_display_name(&zip_entry, zip_display);
  if (MultiByteToWideChar(CP_UTF8, 0, zip_display, -1, zip_display_wide, ZIP_DISPLAY_NAME_BYTES) == 0)
    zip_display_wide[0] = 0;
  return zip_display_wide;
}

// Handles one central record at cursor: skips it, makes its folder, or
// writes its file. False with the failure set when the extraction must
// stop; *wrote_file tells whether a file was written.
static bool extract_entry(const ZipArchive* archive, uint64_t cursor, const wchar_t* destination, bool* wrote_file) {
  *wrote_file = false;
  ZipRecordResult record = zip_read_central(archive, cursor, &zip_entry);
  if (record == ZIP_RECORD_DAMAGED) return fail(TRANSFER_DAMAGED, NULL);
  if (record == ZIP_RECORD_NAME_TOO_LONG) return fail(TRANSFER_NAME_TOO_LONG, NULL);
  if (!zip_name_is_safe(zip_entry.name)) return true;  // skipped without a word

  // Names are UTF-8 whatever the flags say. 511 bytes give at most 511 units.
  if (MultiByteToWideChar(CP_UTF8, 0, zip_entry.name, -1, zip_wide_name, ZIP_NAME_UNITS) == 0) zip_wide_name[0] = 0;
  for (wchar_t* c = zip_wide_name; *c; c++)
    if (*c == L'/') *c = L'\\';

  // A cut path names another file: such an entry is refused, not written.
  if (!join_path(zip_output_path, destination, zip_wide_name))
    return fail(TRANSFER_CANNOT_CREATE, shown(zip_output_path));
  size_t length = wcslen(zip_output_path);
  bool folder_entry = zip_output_path[length - 1] == L'\\';
  if (folder_entry) zip_output_path[length - 1] = 0;
  // The full path resolves what the platform would resolve on opening ("."
  // parts, trailing dots and blanks), so that it can be compared with where
  // the object really is.
  DWORD full = GetFullPathNameW(zip_output_path, PATH_UNITS, zip_full_path, NULL);
  const wchar_t* relative = full > 0 && full < PATH_UNITS ? relative_part() : NULL;
  if (folder_entry) {  // only folders
    return !relative || enter_folders(relative);
  }
  if (!relative) return fail(TRANSFER_CANNOT_CREATE, shown(zip_output_path));  // the destination itself, or no path
  wchar_t parent[PATH_UNITS];
  copy_text(parent, PATH_UNITS, relative);
  wchar_t* last = wcsrchr(parent, L'\\');
  if (last) {
    *last = 0;
    if (!enter_folders(parent)) return false;
  }

  const uint8_t* data = NULL;
  if (!zip_locate_data(archive, &zip_entry, &data)) return fail(TRANSFER_DAMAGED, NULL);
  const uint8_t* bytes = NULL;
  uint8_t* block = NULL;
  if (zip_entry.method == ZIP_METHOD_STORED) {
    bytes = data;  // written straight from the archive block
  } else if (zip_entry.method == ZIP_METHOD_DEFLATED) {
    block = (uint8_t*)malloc(zip_entry.uncompressed_size ? zip_entry.uncompressed_size : 1);
    if (!block || !inflate_raw(data, zip_entry.compressed_size, block, zip_entry.uncompressed_size)) {
      free(block);
      copy_text(zip_result->entry, TRANSFER_DETAIL_UNITS, display_name());
      return fail(TRANSFER_ENTRY_DAMAGED, NULL);
    }
    bytes = block;
  } else {
    return fail(TRANSFER_UNKNOWN_METHOD, NULL);
  }
  bool ok = write_entry_file(relative, bytes, zip_entry.uncompressed_size, zip_entry.dos_date, zip_entry.dos_time);
  free(block);
  *wrote_file = ok;
  return ok;
}

bool extract_zip_file(const wchar_t* archive_path, const wchar_t* destination, const TransferProgress* progress,
                      TransferResult* result) {
  clear_transfer_result(result);
  zip_result = result;
  uint8_t* data = NULL;
  uint32_t size = 0;
  if (!read_archive(archive_path, &data, &size)) return false;

  ZipArchive archive;
  if (!zip_open(&archive, data, size)) {
    free(data);
    return fail(TRANSFER_NOT_ZIP, NULL);
  }
  // A destination that does not fit a path buffer would be created cut,
  // somewhere else: refuse it before any folder is made.
  if (wcslen(destination) >= PATH_UNITS) {
    free(data);
    wchar_t cut[PATH_UNITS];
    copy_text(cut, PATH_UNITS, destination);
    return fail(TRANSFER_CANNOT_CREATE, cut);
  }
  // Before anything is written: a few hundred kilobytes of records that
  // share their data would unpack to gigabytes.
  uint64_t unpacked = 0;
  ZipSurveyResult survey = zip_survey(&archive, zip_spans, &unpacked);
  if (survey != ZIP_SURVEY_OK) {
    free(data);
    if (survey == ZIP_SURVEY_OVERLAP) return fail(TRANSFER_DAMAGED, NULL);
    result->size = unpacked;
    result->limit = ZIP_MAX_TOTAL_BYTES;
    return fail(TRANSFER_UNPACKED_TOO_LARGE, NULL);
  }
  if (!prepare_destination(destination)) {
    free(data);
    return false;
  }

  uint32_t total = archive.entry_total;
  uint64_t cursor = archive.central_offset;
  for (uint32_t i = 0; i < total; i++) {
    if (transfer_cancelled(progress)) {
      free(data);
      return fail(TRANSFER_CANCELLED, NULL);
    }
    bool wrote_file = false;
    if (!extract_entry(&archive, cursor, destination, &wrote_file)) {
      free(data);
      return false;
    }
    if (wrote_file && i % ZIP_PROGRESS_EVERY == 0)
      report_transfer(progress, (double)(i + 1) / (double)total, L"Unpacking %ls (%u of %u files)",
                      transfer_label(progress), i + 1, total);
    cursor = zip_entry.next_cursor;
  }
  free(data);
  if (transfer_cancelled(progress)) return fail(TRANSFER_CANCELLED, NULL);
  return true;
}
