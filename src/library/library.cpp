// Library management: the add-disc dialog, folder scans, dropped files and
// the removal of an entry, on the window thread. The images themselves are
// read by the identification worker: an add queues its paths (or its folder
// search) and returns, and each image joins the library when its result
// comes back, after the duplicate and capacity checks of the moment. The adds
// that overlap in time make one batch, whose sum the status line shows when
// its last answer arrives. A joined path that would be cut is skipped, never
// used: it would name another file. Memory: the dialog's file-name buffer,
// the batch record, path buffers on the stack.
// Nothing here paints: the window repaints after the command or result that came here.
#include "library/library.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <string.h>

#include "core/state.h"
#include "core/launcher_folders.h"
#include "library/disc_identify.h"
#include "library/identify_worker.h"

// What the worker hands back with each request's result.
static const uint32_t IDENTIFY_ADD = 1u << 0;     // a path to add; the ticket is the batch's serial
static const uint32_t IDENTIFY_SELECT = 1u << 1;  // with ADD: the new or listed entry becomes the selection
static const uint32_t IDENTIFY_PLAY = 1u << 2;    // a refresh before Play; the ticket is the entry's id

// The adds under way: what they asked, what came back, how far a search is.
struct AddBatch {
  uint32_t serial;       // ticket of its requests; a new batch takes the next
  int32_t pending;       // requests and searches not answered yet
  AddCounts counts;      // the sum so far
  int32_t scan_checked;  // images the last reporting search has looked at
  int32_t scan_total;    // images that search holds
  bool select_first;     // its first new entry becomes the selection when there is none
};
static AddBatch g_batch;

static void apply_add_result(const IdentifyResult& result, IdentifyOutcome* outcome);

// The warning about an image in the launcher's own folders, when the batch
// added one; the sum puts it after its counts.
static wchar_t managed_warning[STATUS_TEXT_UNITS];

static bool plural(int32_t n) { return n != 1; }

void describe_added(const AddCounts& c, wchar_t* out, size_t units) {
  wchar_t added[64];
  if (c.added == 0)
    copy_text(added, 64, L"Added no disc images");
  else
    format_text(added, 64, plural(c.added) ? L"Added %d disc images" : L"Added %d disc image", c.added);
  int32_t skipped = c.listed + c.not_image + c.full + c.too_long;
  wchar_t reasons[192] = L"";
  const struct {
    int32_t n;
    const wchar_t* one;
    const wchar_t* many;
  } parts[] = {
      {c.listed, L"%d already listed", L"%d already listed"},
      {c.not_image, L"%d not a disc image", L"%d not disc images"},
      {c.full, L"%d with no room left (the library holds %d)", L"%d with no room left (the library holds %d)"},
      {c.too_long, L"%d with a path longer than Windows allows", L"%d with paths longer than Windows allows"},
  };
  for (const auto& part : parts) {
    if (part.n == 0) continue;
    wchar_t one[96];
    // The capacity goes along for the one text that names it; the others ignore it.
    format_text(one, 96, plural(part.n) ? part.many : part.one, part.n, (int32_t)LIBRARY_CAPACITY);
    wchar_t joined[192];
    format_text(joined, 192, reasons[0] ? L"%ls, %ls" : L"%ls%ls", reasons, one);
    copy_text(reasons, 192, joined);
  }
  const wchar_t* stopped = c.cancelled ? L"Search stopped. " : L"";
  wchar_t unsearched[112] = L"";
  if (c.unsearched > 0)
    format_text(unsearched, 112,
                plural(c.unsearched) ? L" %d folders were not searched (too many searches at once): add them again."
                                     : L" %d folder was not searched (too many searches at once): add it again.",
                c.unsearched);
  if (skipped == 0)
    format_text(out, units, L"%ls%ls.%ls", stopped, added, unsearched);
  else
    format_text(out, units, L"%ls%ls; skipped %d: %ls.%ls", stopped, added, skipped, reasons, unsearched);
}

// Joins the add under way, or starts a new batch when none is.
static void begin_add(bool select_first) {
  if (g_batch.pending > 0) {
    g_batch.select_first = g_batch.select_first || select_first;
    return;
  }
  uint32_t serial = g_batch.serial + 1;
  memset(&g_batch, 0, sizeof g_batch);
  g_batch.serial = serial;
  g_batch.select_first = select_first;
  managed_warning[0] = 0;
}

// The status line while the batch waits: how far its search is, or how many
// images are still being checked.
static void show_add_progress() {
  LauncherState& s = g_state;
  if (scan_in_progress())
    format_text(s.status_text, STATUS_TEXT_UNITS,
                L"Looking for disc images: %d of %d checked. Press Esc to stop the search.", g_batch.scan_checked,
                g_batch.scan_total);
  else
    copy_text(s.status_text, STATUS_TEXT_UNITS, L"Checking the new disc images\u2026");
  s.status_is_error = false;
}

// The batch's sum, once its last answer came; the warning about an image in
// the launcher's own folders follows it and makes it an error.
static void finish_add_if_done() {
  if (g_batch.pending > 0) {
    show_add_progress();
    return;
  }
  LauncherState& s = g_state;
  wchar_t sum[STATUS_TEXT_UNITS];
  describe_added(g_batch.counts, sum, STATUS_TEXT_UNITS);
  if (managed_warning[0])
    format_text(s.status_text, STATUS_TEXT_UNITS, L"%ls %ls", sum, managed_warning);
  else
    copy_text(s.status_text, STATUS_TEXT_UNITS, sum);
  s.status_is_error = managed_warning[0] != 0;
}

// Queues one path of an add. A path too long to hold, or one the library
// lists already, is counted (and a listed one selected when asked) without
// reading it again.
static void queue_add(const wchar_t* path, bool select) {
  wchar_t full[PATH_UNITS];
  if (!full_disc_path(path, full)) {
    g_batch.counts.too_long++;
    return;
  }
  int32_t listed = library_index_of(full);
  if (listed >= 0) {
    g_batch.counts.listed++;
    if (select) g_state.selected = listed;
    return;
  }
  uint32_t flags = IDENTIFY_ADD | (select ? IDENTIFY_SELECT : 0);
  if (queue_identification(full, g_batch.serial, flags)) {
    g_batch.pending++;
    return;
  }
  // No worker to be had: the image is read here, as the window waits.
  IdentifyResult result;
  memset(&result, 0, sizeof result);
  copy_text(result.entry.path, PATH_UNITS, full);
  identify_disc(&result.entry);
  result.flags = flags;
  result.ticket = g_batch.serial;
  g_batch.pending++;
  IdentifyOutcome ignored = {false, false, -1};
  apply_add_result(result, &ignored);
}

static void queue_folder(const wchar_t* folder) {
  LauncherState& s = g_state;
  int32_t free_places = LIBRARY_CAPACITY - s.entry_count;
  if (queue_scan(folder, g_batch.serial, IDENTIFY_ADD, s.entries, s.entry_count, free_places)) {
    g_batch.pending++;
    g_batch.scan_checked = 0;
    g_batch.scan_total = 0;
  } else {
    g_batch.counts.unsearched++;
  }
}

void add_chosen_files(const wchar_t* choice) {
  begin_add(false);
  size_t length = wcslen(choice);
  if (choice[length + 1] == 0) {  // one file: its full path
    queue_add(choice, true);
  } else {
    // Several files: the folder, then the names, then an empty text.
    const wchar_t* folder = choice;
    for (const wchar_t* name = choice + length + 1; *name; name += wcslen(name) + 1) {
      wchar_t path[PATH_UNITS];
      if (join_path(path, folder, name))
        queue_add(path, true);
      else
        g_batch.counts.too_long++;
    }
  }
  finish_add_if_done();
}

// The add-disc dialog's file-name buffer: a path, or a folder and names.
enum { ADD_DISC_BUFFER_UNITS = 32768 };
static wchar_t add_disc_names[ADD_DISC_BUFFER_UNITS];

void add_disc_dialog() {
  LauncherState& s = g_state;
  add_disc_names[0] = 0;
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = s.main_window;
  dialog.lpstrFilter = L"PS2 disc images (*.iso)\0*.iso\0All files\0*.*\0";
  dialog.lpstrFile = add_disc_names;
  dialog.nMaxFile = ADD_DISC_BUFFER_UNITS;
  dialog.lpstrTitle = L"Add disc images";
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&dialog)) {
    // The dialog leaves two terminators after the last text; make sure of it
    // even when the choice filled the buffer.
    add_disc_names[ADD_DISC_BUFFER_UNITS - 2] = 0;
    add_disc_names[ADD_DISC_BUFFER_UNITS - 1] = 0;
    add_chosen_files(add_disc_names);
    save_settings();
  }
  s.settings_open = false;
}

void scan_chosen_folder(const wchar_t* folder) {
  begin_add(true);
  queue_folder(folder);
  finish_add_if_done();
  save_settings();
}

void scan_folder_dialog() {
  LauncherState& s = g_state;
  BROWSEINFOW browse = {};
  browse.hwndOwner = s.main_window;
  browse.lpszTitle = L"Find disc images (.iso) in this folder and its subfolders";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);
  if (item) {
    wchar_t folder[MAX_PATH];
    if (SHGetPathFromIDListW(item, folder)) scan_chosen_folder(folder);
    CoTaskMemFree(item);
  }
  s.settings_open = false;
}

static void queue_dropped_path(const wchar_t* path) {
  // Unreadable attributes have every bit set and so count as a folder, whose
  // search then finds nothing.
  DWORD attributes = GetFileAttributesW(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    queue_folder(path);
  else
    queue_add(path, true);
}

void add_dropped_path(const wchar_t* path) {
  begin_add(false);
  queue_dropped_path(path);
  finish_add_if_done();
}

void add_dropped_files(HDROP drop) {
  // A dropped folder moves no selection; when there was none, the first disc
  // the drop brings is shown rather than a pane asking for a choice.
  begin_add(g_state.selected < 0);
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0);
  for (UINT i = 0; i < count; i++) {
    // A longer path would come back cut and name another file: skip it.
    UINT length = DragQueryFileW(drop, i, NULL, 0);
    wchar_t path[PATH_UNITS];
    if (length == 0 || length >= PATH_UNITS || DragQueryFileW(drop, i, path, PATH_UNITS) == 0) {
      g_batch.counts.too_long++;
      continue;
    }
    queue_dropped_path(path);
  }
  DragFinish(drop);
  finish_add_if_done();
}

// ---- Results -------------------------------------------------------------------

static int32_t find_entry_id(uint32_t id) {
  for (int32_t i = 0; i < g_state.entry_count; i++)
    if (g_state.entries[i].id == id) return i;
  return -1;
}

// An image an add asked for, or that a search found, joins the library now,
// unless it is no disc image, or the library meanwhile lists it or is full.
static void apply_add_result(const IdentifyResult& result, IdentifyOutcome* outcome) {
  LauncherState& s = g_state;
  if (result.ticket != g_batch.serial) return;  // of an add forgotten since
  if (!result.from_scan) g_batch.pending--;
  if (result.from_scan) {
    g_batch.scan_checked = result.scan.checked;
    g_batch.scan_total = result.scan.total;
  }
  outcome->changed = true;
  bool select = (result.flags & IDENTIFY_SELECT) != 0;
  int32_t listed = library_index_of(result.entry.path);
  if (result.entry.status == DISC_NOT_PS2) {
    g_batch.counts.not_image++;
  } else if (listed >= 0) {
    g_batch.counts.listed++;
    if (select) s.selected = listed;
  } else if (s.entry_count >= LIBRARY_CAPACITY) {
    g_batch.counts.full++;
  } else {
    int32_t index = s.entry_count++;
    s.entries[index] = result.entry;
    s.entries[index].id = next_entry_id();
    if (select || (g_batch.select_first && s.selected < 0)) s.selected = index;
    g_batch.counts.added++;
    outcome->added = true;
    // An image in one of the launcher's own folders (games, toolchain,
    // downloads) is added all the same, but a build would delete or overwrite
    // it, and refuses to run while it is there: the sum says so.
    const wchar_t* managed = managed_folder_holding(s.entries[index].path);
    if (managed) {
      const wchar_t* name = wcsrchr(s.entries[index].path, L'\\');
      format_text(managed_warning, STATUS_TEXT_UNITS,
                  L"%ls is in the launcher's %ls folder, whose files builds replace and delete. Move it to a "
                  L"folder of your own before you build.",
                  name ? name + 1 : s.entries[index].path, managed);
    }
  }
  finish_add_if_done();
}

static void apply_scan_end(const IdentifyResult& result, IdentifyOutcome* outcome) {
  if (result.ticket != g_batch.serial) return;
  g_batch.pending--;
  g_batch.counts.too_long += result.scan.too_long;
  g_batch.counts.listed += result.scan.listed;
  g_batch.counts.full += result.scan.full;
  g_batch.counts.cancelled = g_batch.counts.cancelled || result.scan.cancelled;
  outcome->changed = true;
  finish_add_if_done();
}

void describe_missing_disc(const wchar_t* path, wchar_t* out, size_t units) {
  // The advice first: a long path is cut at the line's end, the advice must not be.
  format_text(out, units, L"The disc image is gone. Put it back, or remove this entry and add it from where it is now: %ls",
              path);
}

// Play or a selection found the disc gone: the status line says so at once.
static void say_disc_missing(const LibraryEntry& e) {
  describe_missing_disc(e.path, g_state.status_text, STATUS_TEXT_UNITS);
  g_state.status_is_error = true;
}

// A refreshed entry takes its new identification; one removed meanwhile
// (no entry has its id any more) is dropped.
static void apply_refresh(const IdentifyResult& result, IdentifyOutcome* outcome) {
  LauncherState& s = g_state;
  int32_t index = find_entry_id(result.ticket);
  if (index < 0) return;
  LibraryEntry& e = s.entries[index];
  DiscStatus before = e.status;
  memcpy(e.serial, result.entry.serial, sizeof e.serial);
  memcpy(e.md5, result.entry.md5, sizeof e.md5);
  e.catalog_row = result.entry.catalog_row;
  e.status = result.entry.status;
  outcome->changed = true;
  if (result.flags & IDENTIFY_PLAY) outcome->play = index;
  bool asked = (result.flags & IDENTIFY_PLAY) || (index == s.selected && before != DISC_CHECKING);
  if (e.status == DISC_NOT_FOUND && index == s.selected && asked) say_disc_missing(e);
}

IdentifyOutcome apply_identify_results() {
  IdentifyOutcome outcome = {false, false, -1};
  IdentifyResult result;
  while (take_identify_result(&result)) {
    if (result.kind == RESULT_SCAN_ENDED)
      apply_scan_end(result, &outcome);
    else if (result.flags & IDENTIFY_ADD)
      apply_add_result(result, &outcome);
    else
      apply_refresh(result, &outcome);
  }
  return outcome;
}

void queue_stored_disc(const wchar_t* path) {
  LauncherState& s = g_state;
  wchar_t full[PATH_UNITS];
  if (!full_disc_path(path, full) || library_index_of(full) >= 0 || s.entry_count >= LIBRARY_CAPACITY) return;
  LibraryEntry* entry = &s.entries[s.entry_count];
  memset(entry, 0, sizeof *entry);
  copy_text(entry->path, PATH_UNITS, full);
  entry->id = next_entry_id();
  entry->catalog_row = -1;
  entry->status = DISC_CHECKING;
  s.entry_count++;
  if (!queue_identification(full, entry->id, 0)) identify_disc(entry);
}

void queue_refresh(int32_t index, bool then_play) {
  LauncherState& s = g_state;
  if (index < 0 || index >= s.entry_count) return;
  LibraryEntry& e = s.entries[index];
  if (e.id == 0) e.id = next_entry_id();
  if (queue_identification(e.path, e.id, then_play ? IDENTIFY_PLAY : 0)) return;
  // No worker to be had: identified here, and the answer handed back the same way.
  IdentifyResult result;
  memset(&result, 0, sizeof result);
  result.ticket = e.id;
  result.flags = then_play ? IDENTIFY_PLAY : 0;
  copy_text(result.entry.path, PATH_UNITS, e.path);
  identify_disc(&result.entry);
  IdentifyOutcome ignored = {false, false, -1};
  apply_refresh(result, &ignored);
}

bool stop_folder_scan() { return cancel_scans(); }

bool add_in_progress() { return g_batch.pending > 0; }

void forget_pending_adds() {
  forget_identification();
  g_batch.pending = 0;
  g_batch.serial++;
}

int32_t remove_disc(int32_t busy_entry) {
  LauncherState& s = g_state;
  int32_t removed = s.selected;
  if (removed < 0 || removed >= s.entry_count || removed == s.running_entry) return -1;
  // The entry being built keeps its row while the worker uses it.
  if (removed == busy_entry) return -1;

  memmove(&s.entries[removed], &s.entries[removed + 1],
          (size_t)(s.entry_count - removed - 1) * sizeof s.entries[0]);
  s.entry_count--;
  if (s.running_entry > removed) s.running_entry--;

  if (s.selected >= s.entry_count) s.selected = s.entry_count - 1;
  s.status_text[0] = 0;
  save_settings();
  return removed;
}
