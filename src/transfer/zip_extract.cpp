// Unpacking a zip archive into a folder; see zip_extract.h.
//
// What it does: reads the whole archive into one heap block, surveys every
// entry it will write before writing any, walks the central directory in
// order (zip_records.h) and writes every entry as a file: stored entries
// straight from the archive block, deflated ones through inflate_raw into one
// block of the entry's size. Each file gets its entry's DOS time stamp, taken
// as local time, as its last-write time.
//
// Two threads share the work. A helper thread reads the central records,
// checks and resolves the names and decodes the data, running ahead of the
// caller's thread, which does everything that touches the file system
// (folders, files, time stamps), the progress reports and the cancel checks,
// one entry after the other in the archive's order, as if alone: what is
// written, what fails first and with which text does not depend on how far
// the helper got. While one entry is written and closed, the next ones
// decode. A failure the helper finds becomes the last step it hands over;
// the caller reports it once the entries before it are written.
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
// Memory: the archive block; one ring block of ZIP_ARENA_BYTES that decoded
// entries up to that size take their turns in (the same pages for every
// entry: fresh pages cost a page fault each, which under Wine adds up to
// more than writing the data); a block of its own for at most one larger
// entry at a time (the largest entry at most), freed once its file is
// written; and ZIP_AHEAD_STEPS static step records. Everything is released
// before the call returns; the records are static, so only one extraction
// may run at a time (which the decoder's static tables require anyway).
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
// How far the helper may decode ahead of the writing: the ring block's size
// (decoded entries waiting or being written), and steps handed over and not
// yet done.
static const uint32_t ZIP_ARENA_BYTES = 4u << 20;  // 4 MiB
static const uint32_t ZIP_READ_CHUNK = 4u << 20;   // the archive is read on in pieces of 4 MiB while entries decode
enum { ZIP_AHEAD_STEPS = 64 };

// What the caller's thread does for one central record, in order: enter
// the folders of `folders`, then report `failure` if there is one, or else
// write the file when `write` says so. A step with a failure is the last.
struct ZipStep {
  uint32_t index;                      // the central record's number, from 0
  bool write;                          // write bytes as the file full_path
  TransferFailure failure;             // TRANSFER_OK, or what stops the extraction here
  bool failure_names_path;             // the failure's detail is output_path
  uint32_t folders_at;                 // full_path[folders_at, folders_at + folders_length): folders to enter
  uint32_t folders_length;             // 0 for none
  uint32_t relative_at;                // full_path[relative_at...): the file below the destination
  const uint8_t* bytes;                // the file's contents: in the archive block, the ring or block
  uint32_t length;                     // bytes of them
  uint8_t* block;                      // a decoded entry's block of its own, freed once done; else null
  uint64_t ring_end;                   // ring position past the entry's piece of the ring; 0 for none
  uint16_t dos_date, dos_time;         // the entry's stamp
  wchar_t output_path[PATH_UNITS];     // destination\name, for texts
  wchar_t full_path[PATH_UNITS];       // the same with "." parts and trailing dots resolved
  wchar_t entry[TRANSFER_DETAIL_UNITS];  // the entry's name for TRANSFER_ENTRY_DAMAGED
};

// Working records of the one extraction that runs at a time. The helper
// thread alone uses the first group, the caller's thread the second.
static ZipEntry zip_entry;                     // helper: the central header being handled
static wchar_t zip_wide_name[ZIP_NAME_UNITS];  // helper: its name converted from UTF-8, \ separators
static char zip_display[ZIP_DISPLAY_NAME_BYTES];      // helper: the entry's name for a text, UTF-8
static wchar_t zip_display_wide[ZIP_DISPLAY_NAME_BYTES];  // helper: the same in UTF-16
static wchar_t zip_verified[PATH_UNITS];       // caller: the folder (below the destination) last found in place
static wchar_t zip_expected[PLACE_UNITS];      // caller: where the object being made must be
static wchar_t zip_shown_path[PATH_UNITS];     // caller: a path for a text, control characters replaced
static TransferResult* zip_result;             // caller: the running extraction's result
// Set before the helper starts, only read while it runs.
static ZipSpan zip_spans[ZIP_MAX_ENTRIES];     // the survey's spans
static wchar_t zip_destination[PATH_UNITS];    // the destination as a full path
static wchar_t zip_destination_place[PLACE_UNITS];  // where the destination really is ("" = cannot tell)
static wchar_t zip_destination_given[PATH_UNITS];   // the destination as the caller wrote it

// The hand-over between the two threads, guarded by zip_lock.
static ZipStep zip_steps[ZIP_AHEAD_STEPS];     // a ring: step n lives in zip_steps[n % ZIP_AHEAD_STEPS]
static SRWLOCK zip_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE zip_step_ready = CONDITION_VARIABLE_INIT;  // the helper handed a step over or ended
static CONDITION_VARIABLE zip_room_made = CONDITION_VARIABLE_INIT;   // the caller finished a step or stopped
static uint32_t zip_handed;                    // steps handed over so far
static uint32_t zip_done;                      // steps the caller finished
static uint8_t* zip_ring;                      // ZIP_ARENA_BYTES for decoded entries; null when none could be had
static uint64_t zip_ring_taken;                // ring position past the last piece taken (counts on, never wraps)
static uint64_t zip_ring_given_back;           // ring position up to which the pieces are done with
static bool zip_own_block_out;                 // an entry's block of its own is in flight
static bool zip_helper_ended;                  // the helper hands over no more steps
static bool zip_stop;                          // the caller wants no more steps
// How much of the archive is in memory: [0, read_up_to) and [read_from, size).
static uint32_t zip_read_up_to;
static uint32_t zip_read_from;
static bool zip_survey_passed;                 // the archive is fit to unpack: larger entries may take memory
// The helper's place in the central directory.
static uint32_t zip_next_record;               // number of the next record to read
static uint64_t zip_next_cursor;               // where it starts

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

// Opens the archive and takes a block of its size (1 byte for an empty
// file), nothing read yet. False when it cannot be opened or is too large
// for memory; the failure is set.
static bool open_archive(const wchar_t* path, HANDLE* file_out, uint8_t** data_out, uint32_t* size_out) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return fail(TRANSFER_CANNOT_OPEN, path);
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
  uint8_t* data = (uint8_t*)malloc(size.LowPart ? size.LowPart : 1);
  if (!data) {
    CloseHandle(file);
    return fail(TRANSFER_ARCHIVE_NO_MEMORY, path);
  }
  *file_out = file;
  *data_out = data;
  *size_out = size.LowPart;
  return true;
}

// Reads bytes [from, to) of the file into the same place of data. False when
// they cannot be read whole.
static bool read_range(HANDLE file, uint8_t* data, uint32_t from, uint32_t to) {
  while (from < to) {
    DWORD want = to - from < ZIP_IO_CHUNK ? to - from : ZIP_IO_CHUNK;
    OVERLAPPED at = {};
    at.Offset = from;
    DWORD got = 0;
    if (!ReadFile(file, data + from, want, &got, &at) || got == 0) return false;
    from += got;
  }
  return true;
}

static bool fail_link(const wchar_t* path) { return fail(TRANSFER_LINK, shown(path)); }

// Makes the destination and finds where it really is (resolved: the
// destination's full path is in zip_destination). A destination that is a
// link (a toolchain folder pointing elsewhere) is removed as itself and made
// afresh; false with the failure set when that cannot be done.
static bool prepare_destination(const wchar_t* destination, bool resolved) {
  create_directory_chain(destination);
  zip_verified[0] = 0;
  zip_destination_place[0] = 0;
  if (!resolved) return true;  // nothing to compare with: the paths below are trusted as they are
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

// The destination as a full path into zip_destination, as the paths of the
// entries will be resolved; the name alone, nothing made. False when it does
// not resolve (zip_destination is then the destination as given).
static bool resolve_destination(const wchar_t* destination) {
  DWORD length = GetFullPathNameW(destination, PATH_UNITS, zip_destination, NULL);
  if (length == 0 || length >= PATH_UNITS) {
    copy_text(zip_destination, PATH_UNITS, destination);
    return false;
  }
  size_t n = wcslen(zip_destination);
  if (n > 3 && zip_destination[n - 1] == L'\\') zip_destination[--n] = 0;
  return true;
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

// The part of full_path below the destination, or null when it is not
// below it (a name of "." names the destination itself).
static const wchar_t* relative_part(const wchar_t* full_path) {
  size_t n = wcslen(zip_destination);
  if (n > 0 && zip_destination[n - 1] == L'\\') n--;  // a drive root keeps its separator
  if (_wcsnicmp(full_path, zip_destination, n) != 0) return NULL;
  if (full_path[n] != L'\\' || !full_path[n + 1]) return NULL;
  return full_path + n + 1;
}

// ---- The helper's side: records, names, data --------------------------------

// The entry's name for a text: decoded, with no control characters.
static const wchar_t* display_name() {
  zip_display_name(&zip_entry, zip_display);
  if (MultiByteToWideChar(CP_UTF8, 0, zip_display, -1, zip_display_wide, ZIP_DISPLAY_NAME_BYTES) == 0)
    zip_display_wide[0] = 0;
  return zip_display_wide;
}

// Ends the step with a failure; false, for the helper to stop after it.
static bool step_fails(ZipStep* step, TransferFailure failure, bool names_path) {
  step->failure = failure;
  step->failure_names_path = names_path;
  return false;
}

// Finds room for a decoded entry of length bytes: a piece of the ring when
// it fits there, waiting until the pieces before it are done with; else a
// block of its own, once no other such block is in flight. False when the
// caller stopped meanwhile, or no memory could be had (step->bytes null).
static bool take_room(ZipStep* step, uint32_t length) {
  bool ring = zip_ring && length <= ZIP_ARENA_BYTES;
  bool go_on = true;
  AcquireSRWLockExclusive(&zip_lock);
  for (;;) {
    if (zip_stop) {
      go_on = false;
      break;
    }
    if (ring) {
      // Pieces are taken and given back in the same order: the pieces in
      // flight are [given_back, taken) and a new one goes after them, at
      // the ring's start when it does not fit before its end. With none in
      // flight it starts at the ring's start: the room skipped before the
      // end would otherwise count as taken, and a piece larger than the
      // room before its place would wait for room that never comes.
      uint64_t at = zip_ring_taken;
      uint64_t offset = at % ZIP_ARENA_BYTES;
      if (zip_ring_given_back == zip_ring_taken) {
        if (offset != 0) at += ZIP_ARENA_BYTES - offset;
        zip_ring_given_back = at;
      } else if (offset + length > ZIP_ARENA_BYTES) {
        at += ZIP_ARENA_BYTES - offset;
      }
      if (at + length - zip_ring_given_back <= ZIP_ARENA_BYTES) {
        zip_ring_taken = at + length;
        step->ring_end = at + length;
        step->bytes = zip_ring + at % ZIP_ARENA_BYTES;
        break;
      }
    } else if (!zip_own_block_out && zip_survey_passed) {
      // Until the survey vouched for the sizes, a size could be any
      // number a damaged or hostile archive claims.
      zip_own_block_out = true;
      break;
    }
    SleepConditionVariableSRW(&zip_room_made, &zip_lock, INFINITE, 0);
  }
  ReleaseSRWLockExclusive(&zip_lock);
  if (go_on && !ring) {
    step->block = (uint8_t*)malloc(length ? length : 1);
    step->bytes = step->block;
  }
  return go_on;
}

// Waits until the archive's bytes up to end are in memory (those from
// zip_read_from on are from the start). False when the caller stopped.
static bool wait_for_bytes(uint64_t end) {
  AcquireSRWLockExclusive(&zip_lock);
  while (!zip_stop && (end < zip_read_from ? end : zip_read_from) > zip_read_up_to)
    SleepConditionVariableSRW(&zip_room_made, &zip_lock, INFINITE, 0);
  bool go_on = !zip_stop;
  ReleaseSRWLockExclusive(&zip_lock);
  return go_on;
}

// Makes the step of the central record at cursor: what the caller must do
// for it. False when the step ends the extraction (a failure) or the caller
// stopped; *skip tells that the record needs no step (an unsafe name).
static bool prepare_step(const ZipArchive* archive, uint64_t cursor, ZipStep* step, bool* skip) {
  *skip = false;
  step->write = false;
  step->failure = TRANSFER_OK;
  step->failure_names_path = false;
  step->folders_at = step->folders_length = step->relative_at = 0;
  step->bytes = NULL;
  step->block = NULL;
  step->ring_end = 0;
  step->length = 0;
  step->output_path[0] = step->full_path[0] = step->entry[0] = 0;
  ZipRecordResult record = zip_read_central(archive, cursor, &zip_entry);
  if (record == ZIP_RECORD_DAMAGED) return step_fails(step, TRANSFER_DAMAGED, false);
  if (record == ZIP_RECORD_NAME_TOO_LONG) return step_fails(step, TRANSFER_NAME_TOO_LONG, false);
  if (!zip_name_is_safe(zip_entry.name)) {
    *skip = true;  // skipped without a word
    return true;
  }

  // Names are UTF-8 whatever the flags say. 511 bytes give at most 511 units.
  if (MultiByteToWideChar(CP_UTF8, 0, zip_entry.name, -1, zip_wide_name, ZIP_NAME_UNITS) == 0) zip_wide_name[0] = 0;
  for (wchar_t* c = zip_wide_name; *c; c++)
    if (*c == L'/') *c = L'\\';

  // A cut path names another file: such an entry is refused, not written.
  if (!join_path(step->output_path, zip_destination_given, zip_wide_name))
    return step_fails(step, TRANSFER_CANNOT_CREATE, true);
  size_t length = wcslen(step->output_path);
  bool folder_entry = step->output_path[length - 1] == L'\\';
  if (folder_entry) step->output_path[length - 1] = 0;
  // The full path resolves what the platform would resolve on opening ("."
  // parts, trailing dots and blanks), so that it can be compared with where
  // the object really is.
  DWORD full = GetFullPathNameW(step->output_path, PATH_UNITS, step->full_path, NULL);
  const wchar_t* relative = full > 0 && full < PATH_UNITS ? relative_part(step->full_path) : NULL;
  if (folder_entry) {  // only folders
    if (relative) {
      step->folders_at = (uint32_t)(relative - step->full_path);
      step->folders_length = (uint32_t)wcslen(relative);
    }
    return true;
  }
  // The destination itself, or no path.
  if (!relative) return step_fails(step, TRANSFER_CANNOT_CREATE, true);
  step->relative_at = (uint32_t)(relative - step->full_path);
  const wchar_t* last = wcsrchr(relative, L'\\');
  if (last) {
    step->folders_at = step->relative_at;
    step->folders_length = (uint32_t)(last - relative);
  }

  // From here on a failure comes after the entry's folders were made. The
  // local header, its two variable fields and the data lie before this end.
  if (!wait_for_bytes((uint64_t)zip_entry.local_offset + ZIP_LOCAL_HEADER_SIZE + 2u * 0xFFFFu +
                      zip_entry.compressed_size))
    return false;
  const uint8_t* data = NULL;
  if (!zip_locate_data(archive, &zip_entry, &data)) return step_fails(step, TRANSFER_DAMAGED, false);
  step->length = zip_entry.uncompressed_size;
  step->dos_date = zip_entry.dos_date;
  step->dos_time = zip_entry.dos_time;
  if (zip_entry.method == ZIP_METHOD_STORED) {
    step->bytes = data;  // written straight from the archive block
  } else if (zip_entry.method == ZIP_METHOD_DEFLATED) {
    // The room taken stays with the step, failed or not, until the caller is done with it.
    uint32_t size = zip_entry.uncompressed_size;
    if (!take_room(step, size)) return false;
    if (!step->bytes || !inflate_raw(data, zip_entry.compressed_size, (uint8_t*)step->bytes, size)) {
      copy_text(step->entry, TRANSFER_DETAIL_UNITS, display_name());
      return step_fails(step, TRANSFER_ENTRY_DAMAGED, false);
    }
  } else {
    return step_fails(step, TRANSFER_UNKNOWN_METHOD, false);
  }
  step->write = true;
  return true;
}

// Makes the step of the next central record that needs one and hands it
// over. False when no step will follow: after the last record, after a step
// with a failure, or when the caller stopped.
static bool hand_over_step(const ZipArchive* archive) {
  while (zip_next_record < archive->entry_total) {
    AcquireSRWLockExclusive(&zip_lock);
    while (!zip_stop && zip_handed - zip_done >= ZIP_AHEAD_STEPS)
      SleepConditionVariableSRW(&zip_room_made, &zip_lock, INFINITE, 0);
    bool stop = zip_stop;
    ReleaseSRWLockExclusive(&zip_lock);
    if (stop) return false;
    // The slot is the helper's alone until it is handed over.
    ZipStep* step = &zip_steps[zip_handed % ZIP_AHEAD_STEPS];
    step->index = zip_next_record;
    bool skip = false;
    bool go_on = prepare_step(archive, zip_next_cursor, step, &skip);
    if (!go_on && step->failure == TRANSFER_OK) return false;  // the caller stopped
    zip_next_record++;
    zip_next_cursor = zip_entry.next_cursor;
    if (skip) continue;
    AcquireSRWLockExclusive(&zip_lock);
    zip_handed++;
    ReleaseSRWLockExclusive(&zip_lock);
    WakeConditionVariable(&zip_step_ready);
    return go_on;
  }
  return false;
}

static void end_hand_over() {
  AcquireSRWLockExclusive(&zip_lock);
  zip_helper_ended = true;
  ReleaseSRWLockExclusive(&zip_lock);
  WakeConditionVariable(&zip_step_ready);
}

// The helper thread: every step in order, until none follows.
static DWORD WINAPI decode_ahead(void* archive) {
  while (hand_over_step((const ZipArchive*)archive)) {
  }
  end_hand_over();
  return 0;
}

// ---- The caller's side: the file system, in order ---------------------------

// Creates the step's file in its place, writes its bytes and stamps its
// last-write time. False with the failure set when the file cannot be
// created or is written short.
static bool write_entry_file(const ZipStep* step) {
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  PlaceResult result = expect_place(step->full_path + step->relative_at)
                           ? create_file_in_place(step->full_path, zip_expected, &file, &error)
                           : PLACE_FAILED;
  if (result == PLACE_LINK) return fail_link(step->output_path);
  if (result != PLACE_OK) return fail(TRANSFER_CANNOT_CREATE, shown(step->output_path));
  uint32_t written = 0;
  while (written < step->length) {
    DWORD want = step->length - written < ZIP_IO_CHUNK ? step->length - written : ZIP_IO_CHUNK;
    DWORD put = 0;
    if (!WriteFile(file, step->bytes + written, want, &put, NULL) || put == 0) break;
    written += put;
  }
  // The stamp is the packer's local time; a stamp that does not convert
  // leaves the time the file got on writing.
  FILETIME local_time, utc_time;
  if (DosDateTimeToFileTime(step->dos_date, step->dos_time, &local_time) &&
      LocalFileTimeToFileTime(&local_time, &utc_time))
    SetFileTime(file, NULL, NULL, &utc_time);
  CloseHandle(file);
  if (written < step->length) return fail(TRANSFER_WRITE_FAILED, shown(step->output_path));
  return true;
}

// Does one step: its folders, then its failure or its file. False with the
// failure set when the extraction must stop.
static bool apply_step(const ZipStep* step) {
  if (step->folders_length > 0) {
    wchar_t folders[PATH_UNITS];
    copy_text(folders, step->folders_length + 1, step->full_path + step->folders_at);
    if (!enter_folders(folders)) return false;
  }
  if (step->failure != TRANSFER_OK) {
    if (step->failure == TRANSFER_ENTRY_DAMAGED) copy_text(zip_result->entry, TRANSFER_DETAIL_UNITS, step->entry);
    return fail(step->failure, step->failure_names_path ? shown(step->output_path) : NULL);
  }
  return !step->write || write_entry_file(step);
}

// The next step the helper handed over, or null when it handed over all.
// Without a helper thread (none could be made) the step is made here.
static ZipStep* next_step(const ZipArchive* archive, bool helper_runs) {
  if (!helper_runs && zip_done == zip_handed && !zip_helper_ended && !hand_over_step(archive)) end_hand_over();
  AcquireSRWLockExclusive(&zip_lock);
  while (zip_done == zip_handed && !zip_helper_ended)
    SleepConditionVariableSRW(&zip_step_ready, &zip_lock, INFINITE, 0);
  ZipStep* step = zip_done < zip_handed ? &zip_steps[zip_done % ZIP_AHEAD_STEPS] : NULL;
  ReleaseSRWLockExclusive(&zip_lock);
  return step;
}

// Gives the step's room and slot back to the helper.
static void finish_step(ZipStep* step) {
  bool own_block = step->block != NULL;
  free(step->block);
  step->block = NULL;
  AcquireSRWLockExclusive(&zip_lock);
  if (step->ring_end) zip_ring_given_back = step->ring_end;
  if (own_block) zip_own_block_out = false;
  zip_done++;
  ReleaseSRWLockExclusive(&zip_lock);
  WakeAllConditionVariable(&zip_room_made);
}

static HANDLE zip_helper;  // the helper thread while it runs, else null

// Sets the hand-over up for a new extraction and starts the helper, which
// may decode what is in memory (zip_read_up_to, zip_read_from) while the
// rest is read. Without a thread the caller makes the steps itself.
static void start_unpacking(const ZipArchive* archive, uint32_t read_up_to, uint32_t read_from) {
  zip_handed = zip_done = 0;
  zip_ring = (uint8_t*)malloc(ZIP_ARENA_BYTES);  // without it, entries take blocks of their own
  zip_ring_taken = zip_ring_given_back = 0;
  zip_own_block_out = false;
  zip_helper_ended = zip_stop = false;
  zip_survey_passed = false;
  zip_read_up_to = read_up_to;
  zip_read_from = read_from;
  zip_next_record = 0;
  zip_next_cursor = archive->central_offset;
  zip_helper = CreateThread(NULL, 0, decode_ahead, (void*)archive, 0, NULL);
}

// Reads the archive's bytes [0, end) on, piece by piece, letting the helper
// decode each entry as soon as its bytes are in. False when they cannot be
// read whole.
static bool read_on(HANDLE file, uint8_t* data, uint32_t end) {
  for (uint32_t from = 0; from < end;) {
    uint32_t to = end - from > ZIP_READ_CHUNK ? from + ZIP_READ_CHUNK : end;
    if (!read_range(file, data, from, to)) return false;
    from = to;
    AcquireSRWLockExclusive(&zip_lock);
    zip_read_up_to = to;
    ReleaseSRWLockExclusive(&zip_lock);
    WakeAllConditionVariable(&zip_room_made);
  }
  return true;
}

// Stops the helper, waits for it to end, and frees what the steps it handed
// over and the ring hold.
static void stop_unpacking() {
  AcquireSRWLockExclusive(&zip_lock);
  zip_stop = true;
  ReleaseSRWLockExclusive(&zip_lock);
  WakeAllConditionVariable(&zip_room_made);
  if (zip_helper) {
    WaitForSingleObject(zip_helper, INFINITE);
    CloseHandle(zip_helper);
    zip_helper = NULL;
  }
  // Steps handed over and never done (after a failure or a cancel).
  while (zip_done < zip_handed) finish_step(&zip_steps[zip_done % ZIP_AHEAD_STEPS]);
  free(zip_ring);
  zip_ring = NULL;
}

// Does the helper's steps until the last, a failure or a cancel, once the
// survey passed; the helper has ended and everything is freed when it returns.
static bool unpack_entries(const ZipArchive* archive, const TransferProgress* progress) {
  AcquireSRWLockExclusive(&zip_lock);
  zip_survey_passed = true;
  ReleaseSRWLockExclusive(&zip_lock);
  WakeAllConditionVariable(&zip_room_made);
  bool ok = true;
  uint32_t total = archive->entry_total;
  for (ZipStep* step = next_step(archive, zip_helper != NULL); step; step = next_step(archive, zip_helper != NULL)) {
    if (transfer_cancelled(progress)) {
      ok = fail(TRANSFER_CANCELLED, NULL);
      break;
    }
    ok = apply_step(step);
    bool wrote_file = ok && step->write;
    uint32_t i = step->index;
    finish_step(step);  // the slot is the helper's again
    if (!ok) break;
    if (wrote_file && i % ZIP_PROGRESS_EVERY == 0)
      report_transfer(progress, (double)(i + 1) / (double)total, L"Unpacking %ls (%u of %u files)",
                      transfer_label(progress), i + 1, total);
  }
  stop_unpacking();
  return ok;
}

bool extract_zip_file(const wchar_t* archive_path, const wchar_t* destination, const TransferProgress* progress,
                      TransferResult* result) {
  clear_transfer_result(result);
  zip_result = result;
  HANDLE file = INVALID_HANDLE_VALUE;
  uint8_t* data = NULL;
  uint32_t size = 0;
  if (!open_archive(archive_path, &file, &data, &size)) return false;

  // The end record and the central directory come first, so that entries
  // decode while the rest of the archive is read. When they cannot be read
  // or found (or the destination does not fit), the archive is read whole
  // first and the checks below tell what is wrong, as they would anyway.
  static ZipArchive archive;
  uint32_t tail = size > ZIP_END_RECORD_SIZE + ZIP_MAX_COMMENT ? size - (ZIP_END_RECORD_SIZE + ZIP_MAX_COMMENT) : 0;
  uint32_t records_from = size;
  if (wcslen(destination) < PATH_UNITS && read_range(file, data, tail, size) && zip_open(&archive, data, size)) {
    records_from = archive.central_offset < tail ? archive.central_offset : tail;
    if (!read_range(file, data, records_from, tail)) records_from = size;
  }
  bool ahead = records_from < size;
  bool resolved = resolve_destination(destination);
  copy_text(zip_destination_given, PATH_UNITS, destination);
  if (ahead) start_unpacking(&archive, 0, records_from);
  bool read_whole = ahead ? read_on(file, data, records_from) : read_range(file, data, 0, size);
  CloseHandle(file);

  // Nothing below writes before the survey; the helper only decodes.
  const wchar_t* failure_detail = NULL;
  TransferFailure failure = TRANSFER_OK;
  ZipSurveyResult survey = ZIP_SURVEY_OK;
  uint64_t unpacked = 0;
  wchar_t cut[PATH_UNITS];
  if (!read_whole) {
    failure = TRANSFER_READ_FAILED;
    failure_detail = archive_path;
  } else if (!ahead && !zip_open(&archive, data, size)) {
    failure = TRANSFER_NOT_ZIP;
  } else if (wcslen(destination) >= PATH_UNITS) {
    // A destination that does not fit a path buffer would be created cut,
    // somewhere else: refuse it before any folder is made.
    copy_text(cut, PATH_UNITS, destination);
    failure = TRANSFER_CANNOT_CREATE;
    failure_detail = cut;
  } else {
    // Before anything is written: a few hundred kilobytes of records that
    // share their data would unpack to gigabytes.
    survey = zip_survey(&archive, zip_spans, &unpacked);
    if (survey == ZIP_SURVEY_OVERLAP) failure = TRANSFER_DAMAGED;
    if (survey == ZIP_SURVEY_TOO_LARGE) failure = TRANSFER_UNPACKED_TOO_LARGE;
  }
  if (failure != TRANSFER_OK) {
    if (ahead) stop_unpacking();
    free(data);
    if (failure == TRANSFER_UNPACKED_TOO_LARGE) {
      result->size = unpacked;
      result->limit = ZIP_MAX_TOTAL_BYTES;
    }
    return fail(failure, failure_detail);
  }
  if (!prepare_destination(destination, resolved)) {
    if (ahead) stop_unpacking();
    free(data);
    return false;
  }
  if (!ahead) start_unpacking(&archive, size, size);

  bool ok = unpack_entries(&archive, progress);
  free(data);
  if (ok && transfer_cancelled(progress)) return fail(TRANSFER_CANCELLED, NULL);
  return ok;
}
