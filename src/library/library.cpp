// Library management: the add-disc dialog, folder scans, dropped files and
// the removal of an entry. Runs on the main thread and blocks it while images
// are identified and folders searched. Every path goes through add_disc,
// which refuses duplicates and a full library. A joined path that would be
// cut is skipped, never used: it would name another file. Memory: the
// dialog's file-name buffer in the state record, path buffers on the stack
// (one search handle and two paths per folder level, four levels at most).
// Nothing here paints: the window repaints after the command that came here.
#include "library/library.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <string.h>

#include "core/state.h"
#include "core/launcher_folders.h"
#include "library/disc_identify.h"

// The warning about an image in the launcher's own folders, when one was
// added since the last scan began; a scan puts it after its count.
static wchar_t managed_warning[STATUS_TEXT_UNITS];

// add_disc for the add, scan and drop commands. An image that lies in one of
// the launcher's own folders (games, toolchain, downloads) is added all the
// same, but a build would delete or overwrite it, and refuses to run while it
// is there: the status line says so at once.
static void add_disc_warned(const wchar_t* path, bool select) {
  LauncherState& s = g_state;
  int32_t before = s.entry_count;
  add_disc(path, select);
  if (s.entry_count == before) return;
  const wchar_t* entry_path = s.entries[s.entry_count - 1].path;
  const wchar_t* managed = managed_folder_holding(entry_path);
  if (!managed) return;
  const wchar_t* name = wcsrchr(entry_path, L'\\');
  format_text(managed_warning, STATUS_TEXT_UNITS,
              L"%ls is in the launcher's %ls folder, whose files builds replace and delete. Move it to a folder "
              L"of your own before you build.",
              name ? name + 1 : entry_path, managed);
  copy_text(s.status_text, STATUS_TEXT_UNITS, managed_warning);
  s.status_is_error = true;
}

void add_chosen_files(const wchar_t* choice) {
  size_t length = wcslen(choice);
  if (choice[length + 1] == 0) {  // one file: its full path
    add_disc_warned(choice, true);
    return;
  }
  // Several files: the folder, then the names, then an empty text.
  const wchar_t* folder = choice;
  for (const wchar_t* name = choice + length + 1; *name; name += wcslen(name) + 1) {
    wchar_t path[PATH_UNITS];
    if (join_path(path, folder, name)) add_disc_warned(path, true);
  }
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

// True when the name ends in ".iso" (ASCII case ignored) and is longer than that.
static bool has_iso_extension(const wchar_t* name) {
  size_t length = wcslen(name);
  return length >= 5 && _wcsicmp(name + length - 4, L".iso") == 0;
}

int32_t scan_folder(const wchar_t* folder, int32_t depth) {
  wchar_t pattern[PATH_UNITS];
  if (!join_path(pattern, folder, L"*")) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;

  int32_t added = 0;
  do {
    // "." and "..", and every hidden-by-convention name such as ".cache".
    if (found.cFileName[0] == L'.') continue;
    wchar_t path[PATH_UNITS];
    if (!join_path(path, folder, found.cFileName)) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (depth <= SCAN_MAX_DEPTH) added += scan_folder(path, depth + 1);
    } else if (has_iso_extension(found.cFileName)) {
      int32_t before = g_state.entry_count;
      add_disc_warned(path, false);
      if (g_state.entry_count > before) added++;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return added;
}

void scan_chosen_folder(const wchar_t* folder) {
  LauncherState& s = g_state;
  HCURSOR previous = SetCursor(LoadCursorW(NULL, IDC_WAIT));
  managed_warning[0] = 0;
  int32_t added = scan_folder(folder, 0);
  SetCursor(previous);
  wchar_t found[64];
  if (added == 1)
    copy_text(found, 64, L"Found 1 new disc image.");
  else
    format_text(found, 64, L"Found %d new disc images.", added);
  if (managed_warning[0])
    format_text(s.status_text, STATUS_TEXT_UNITS, L"%ls %ls", found, managed_warning);
  else
    copy_text(s.status_text, STATUS_TEXT_UNITS, found);
  s.status_is_error = managed_warning[0] != 0;
  if (added > 0 && s.selected < 0) s.selected = 0;
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

void add_dropped_path(const wchar_t* path) {
  // Unreadable attributes have every bit set and so count as a folder, whose
  // scan then finds nothing.
  DWORD attributes = GetFileAttributesW(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    scan_folder(path, 0);
  else
    add_disc_warned(path, true);
}

void add_dropped_files(HDROP drop) {
  int32_t before = g_state.entry_count;
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, NULL, 0);
  for (UINT i = 0; i < count; i++) {
    // A longer path would come back cut and name another file: skip it.
    UINT length = DragQueryFileW(drop, i, NULL, 0);
    if (length == 0 || length >= PATH_UNITS) continue;
    wchar_t path[PATH_UNITS];
    if (DragQueryFileW(drop, i, path, PATH_UNITS) == 0) continue;
    add_dropped_path(path);
  }
  DragFinish(drop);
  // A dropped folder moves no selection; when there was none, the first disc
  // the drop brought is shown rather than a pane asking for a choice.
  if (g_state.selected < 0 && g_state.entry_count > before) g_state.selected = before;
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
