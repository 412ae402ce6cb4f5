// Build tree housekeeping; see build_tree.h.
#include "build/build_tree.h"

#include <windows.h>

#include "app/state.h"
#include "app/text.h"
#include "build/release.h"

void create_directory_chain(const wchar_t* path) {
  wchar_t buffer[PATH_UNITS];
  copy_text(buffer, PATH_UNITS, path);
  // From the fourth character on, so that a drive root such as C:\ is passed
  // over; a path of three characters or fewer only gets the last step.
  size_t length = wcslen(buffer);
  for (size_t i = 3; i < length; i++) {
    if (buffer[i] != L'\\' && buffer[i] != L'/') continue;
    wchar_t separator = buffer[i];
    buffer[i] = 0;
    CreateDirectoryW(buffer, NULL);
    buffer[i] = separator;
  }
  CreateDirectoryW(buffer, NULL);
}

static bool is_dot_entry(const wchar_t* name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

void delete_tree(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;

  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: remove the link itself and never look behind it. A folder link
    // goes with RemoveDirectoryW, a file link with DeleteFileW.
    SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      RemoveDirectoryW(path);
    else
      DeleteFileW(path);
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
    return;
  }

  wchar_t pattern[PATH_UNITS];
  if (format_text(pattern, PATH_UNITS, L"%ls\\*", path)) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (is_dot_entry(found.cFileName)) continue;
        wchar_t child[PATH_UNITS];
        // A child whose path does not fit stays, and so does this folder.
        if (join_path(child, path, found.cFileName)) delete_tree(child);
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
  }
  RemoveDirectoryW(path);
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
