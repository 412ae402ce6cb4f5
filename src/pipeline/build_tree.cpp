// Build tree housekeeping; see build_tree.h.
#include "pipeline/build_tree.h"

#include <windows.h>
#include <string.h>

#include "core/file_place.h"
#include "core/state.h"
#include "core/text.h"
#include "pipeline/release.h"

static bool is_dot_entry(const wchar_t* name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// True when handle holds the object named name in the folder whose real
// place is parent_place, and not the target of a link that the platform
// followed to open it: deleting through such a handle would reach outside
// the tree.
static bool handle_is_named(HANDLE handle, const wchar_t* parent_place, const wchar_t* name) {
  wchar_t expected[PLACE_UNITS];
  return join_place(expected, parent_place, name) && handle_is_at(handle, expected);
}

// Deletes one file, or one link as the link itself, through a handle opened
// on it (never on what a link points to), once that handle proves to hold the
// object at path. A read-only object is made writable first, through the same
// handle, so that the attributes of nothing else are touched.
static void delete_object(const wchar_t* path, const wchar_t* name, DWORD attributes, const wchar_t* parent_place) {
  HANDLE handle = CreateFileW(path, DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) return;
  if (handle_is_named(handle, parent_place, name)) {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      FILE_BASIC_INFO basic;
      memset(&basic, 0, sizeof basic);  // zero times: left as they are
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  }
  CloseHandle(handle);
}

// Deletes path, which is named name in the folder whose real place is
// parent_place, with attributes as its folder listing gave them.
static void delete_entry(const wchar_t* path, const wchar_t* name, DWORD attributes, const wchar_t* parent_place) {
  // A link (any reparse point) goes as the link itself and is never entered;
  // a file goes whatever its attributes.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    delete_object(path, name, attributes, parent_place);
    return;
  }

  // This folder's place is asked once for all that it holds.
  wchar_t pattern[PATH_UNITS], place[PLACE_UNITS];
  if (folder_place(path, place) && format_text(pattern, PATH_UNITS, L"%ls\\*", path)) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (is_dot_entry(found.cFileName)) continue;
        wchar_t child[PATH_UNITS];
        // A child whose path does not fit stays, and so does this folder.
        if (join_path(child, path, found.cFileName))
          delete_entry(child, found.cFileName, found.dwFileAttributes, place);
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
  }
  RemoveDirectoryW(path);
}

void delete_tree(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const wchar_t* name = path + wcslen(path);
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') name--;
  wchar_t folder[PATH_UNITS], place[PLACE_UNITS];
  place[0] = 0;  // a bare name: nothing to compare with
  if (name > path) {
    size_t folder_length = (size_t)(name - path - 1);
    if (folder_length >= PATH_UNITS) return;  // a folder part that does not fit is not trusted
    copy_text(folder, PATH_UNITS, path);
    folder[folder_length] = 0;
    if (folder[0] && !folder_place(folder, place)) return;
  }
  delete_entry(path, name, attributes, place);
}

// Deletes kit_folder\relative when the joined path fits.
static void delete_in_kit(const wchar_t* kit_folder, const wchar_t* relative) {
  wchar_t path[PATH_UNITS];
  if (join_path(path, kit_folder, relative)) delete_tree(path);
}

static const wchar_t* const STALE_OUTPUT[] = {
    L"build\\windows\\gen",    L"build\\windows\\gen.new",    L"build\\windows\\obj",
    L"build\\windows_us\\gen", L"build\\windows_us\\gen.new", L"build\\windows_us\\obj",
    L"zig-cache",
};

void clear_stale_output(const wchar_t* kit_folder, const wchar_t* game_id, const wchar_t* version) {
  wchar_t stamp[STAMP_UNITS];
  GetPrivateProfileStringW(game_id, KIT_STAMP_KEY, L"", stamp, STAMP_UNITS, g_state.settings_path);
  if (stamp[0] && wcscmp(stamp, version) != 0)
    for (const wchar_t* relative : STALE_OUTPUT) delete_in_kit(kit_folder, relative);
  WritePrivateProfileStringW(game_id, KIT_STAMP_KEY, version, g_state.settings_path);
}

void clear_kit_folder(const wchar_t* kit_folder) {
  wchar_t pattern[PATH_UNITS];
  if (!format_text(pattern, PATH_UNITS, L"%ls\\*", kit_folder)) return;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (is_dot_entry(found.cFileName) || _wcsicmp(found.cFileName, L"build") == 0) continue;
    delete_in_kit(kit_folder, found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

static const wchar_t* const INTERMEDIATE_IN_OUTPUT[] = {
    L"gen", L"gen.new", L"obj", L"region", L"mox1_game.pdb", L"mox1_wrapper.pdb", L"asm_stubs.c.lib",
};
static const wchar_t* const INTERMEDIATE_IN_KIT[] = {
    L"build\\levels", L"build\\levels_us", L"build\\disc", L"zig-cache",
};

void clear_intermediate_output(const wchar_t* kit_folder, const wchar_t* region_word) {
  bool pal = wcscmp(region_word, L"pal") == 0;
  for (const wchar_t* name : INTERMEDIATE_IN_OUTPUT) {
    wchar_t path[PATH_UNITS];
    if (format_text(path, PATH_UNITS, L"%ls\\%ls%ls\\%ls", kit_folder, pal ? L"build\\windows" : L"build\\windows_",
                    pal ? L"" : region_word, name))
      delete_tree(path);
  }
  for (const wchar_t* relative : INTERMEDIATE_IN_KIT) delete_in_kit(kit_folder, relative);
}
