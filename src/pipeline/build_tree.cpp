// Build tree housekeeping; see build_tree.h.
#include "pipeline/build_tree.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "core/file_place.h"
#include "core/state.h"
#include "core/text.h"
#include "pipeline/release.h"
#include "library/catalog.h"

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

// ---- The built game while a build replaces it ------------------------------

static const wchar_t PREVIOUS_SUFFIX[] = L".previous";
static const wchar_t UNFINISHED_SUFFIX[] = L".unfinished";
static const char MANIFEST_HEADER[] =
    "# The files the last build made here, one a line. The launcher keeps every other file of this folder\r\n"
    "# (the game's saves and settings) when it builds the game again.\r\n";
static const char MANIFEST_END[] = "# end";
enum { MANIFEST_MAX_BYTES = 16 << 20 };  // far beyond any build's file list

static bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

static bool holds_manifest(const wchar_t* folder) {
  wchar_t path[PATH_UNITS];
  return join_path(path, folder, BUILD_MANIFEST_NAME) && exists(path);
}

bool output_places(OutputPlaces* places, const wchar_t* kit_folder, const wchar_t* region_word) {
  bool pal = wcscmp(region_word, L"pal") == 0;
  places->previous_settled = true;
  places->error = 0;
  return format_text(places->output, PATH_UNITS, L"%ls\\build\\windows%ls%ls", kit_folder, pal ? L"" : L"_",
                     pal ? L"" : region_word) &&
         format_text(places->previous, PATH_UNITS, L"%ls%ls", places->output, PREVIOUS_SUFFIX) &&
         format_text(places->marker, PATH_UNITS, L"%ls%ls", places->output, UNFINISHED_SUFFIX);
}

bool last_build_unfinished(int32_t row) {
  if (!catalog_row_buildable(row) || !CATALOG[row].build_dir) return false;
  wchar_t marker[PATH_UNITS];
  return format_text(marker, PATH_UNITS, L"%ls\\%ls%ls", g_state.launcher_dir, CATALOG[row].build_dir,
                     UNFINISHED_SUFFIX) &&
         exists(marker);
}

// A list of relative paths in one heap block: each followed by a line feed.
struct FileList {
  wchar_t* text;    // null while empty
  size_t length;    // units in use
  size_t capacity;  // units allocated
  bool whole;       // false when something could not be listed or stored
};

static void list_free(FileList* list) {
  free(list->text);
  list->text = NULL;
  list->length = list->capacity = 0;
}

static void list_add(FileList* list, const wchar_t* relative) {
  size_t n = wcslen(relative);
  if (list->length + n + 1 > list->capacity) {
    size_t capacity = (list->capacity ? list->capacity * 2 : 4096) + n + 1;
    wchar_t* grown = (wchar_t*)realloc(list->text, capacity * sizeof(wchar_t));
    if (!grown) {
      list->whole = false;
      return;
    }
    list->text = grown;
    list->capacity = capacity;
  }
  memcpy(list->text + list->length, relative, n * sizeof(wchar_t));
  list->length += n;
  list->text[list->length++] = L'\n';
}

// Where relative stands in the list (its first unit), or -1. Letter case is
// ignored, as the file system ignores it.
static ptrdiff_t list_find(const FileList* list, const wchar_t* relative) {
  int n = (int)wcslen(relative);
  for (size_t start = 0; start < list->length;) {
    size_t end = start;
    while (list->text[end] != L'\n') end++;
    if ((int)(end - start) == n &&
        CompareStringOrdinal(list->text + start, n, relative, n, TRUE) == CSTR_EQUAL)
      return (ptrdiff_t)start;
    start = end + 1;
  }
  return -1;
}

static void list_remove(FileList* list, const wchar_t* relative) {
  ptrdiff_t at = list_find(list, relative);
  if (at < 0) return;
  size_t n = wcslen(relative) + 1;
  memmove(list->text + at, list->text + at + n, (list->length - at - n) * sizeof(wchar_t));
  list->length -= n;
}

// Adds every file under folder\relative (relative empty: the folder itself),
// depth first. A link is listed as a file and never entered.
static void list_files_below(const wchar_t* folder, const wchar_t* relative, FileList* list) {
  wchar_t pattern[PATH_UNITS];
  bool fits = relative[0] ? format_text(pattern, PATH_UNITS, L"%ls\\%ls\\*", folder, relative)
                          : format_text(pattern, PATH_UNITS, L"%ls\\*", folder);
  if (!fits) {
    list->whole = false;
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) list->whole = false;
    return;
  }
  do {
    if (is_dot_entry(found.cFileName)) continue;
    wchar_t child[PATH_UNITS];
    bool child_fits = relative[0] ? join_path(child, relative, found.cFileName)
                                  : copy_text(child, PATH_UNITS, found.cFileName);
    if (!child_fits) {
      list->whole = false;
      continue;
    }
    bool folder_entry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (folder_entry)
      list_files_below(folder, child, list);
    else
      list_add(list, child);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// The files under folder, the manifest left out.
static void list_files(const wchar_t* folder, FileList* list) {
  list->whole = true;
  list_files_below(folder, L"", list);
  list_remove(list, BUILD_MANIFEST_NAME);
}

// The manifest of folder, when it is there and complete (its last line is
// MANIFEST_END); otherwise false and an empty list.
static bool read_manifest(const wchar_t* folder, FileList* list) {
  list->whole = true;
  wchar_t path[PATH_UNITS];
  if (!join_path(path, folder, BUILD_MANIFEST_NAME)) return false;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  char* bytes = NULL;
  bool complete = false;
  LARGE_INTEGER size;
  DWORD read = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart <= MANIFEST_MAX_BYTES &&
      (bytes = (char*)malloc((size_t)size.QuadPart + 1)) != NULL &&
      ReadFile(file, bytes, (DWORD)size.QuadPart, &read, NULL) && read == (DWORD)size.QuadPart) {
    bytes[read] = 0;
    for (char* line = bytes; *line;) {
      char* end = strchr(line, '\n');
      char* next = end ? end + 1 : line + strlen(line);
      if (end) *end = 0;
      size_t n = strlen(line);
      if (n > 0 && line[n - 1] == '\r') line[--n] = 0;
      if (strcmp(line, MANIFEST_END) == 0) {
        complete = *next == 0;
      } else if (line[0] && line[0] != '#') {
        wchar_t relative[PATH_UNITS];
        int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line, -1, relative, PATH_UNITS);
        if (units > 0)
          list_add(list, relative);
        else
          list->whole = false;
      }
      line = next;
    }
  }
  free(bytes);
  CloseHandle(file);
  if (!complete || !list->whole) {
    list_free(list);
    return false;
  }
  return true;
}

// Writes the list as folder's manifest: whole under another name first, then
// put in place, so that a manifest is either complete or the old one.
static void write_manifest(const wchar_t* folder, const FileList* list) {
  wchar_t path[PATH_UNITS], temporary[PATH_UNITS];
  if (!join_path(path, folder, BUILD_MANIFEST_NAME) || !format_text(temporary, PATH_UNITS, L"%ls.new", path)) return;
  HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  bool ok = WriteFile(file, MANIFEST_HEADER, sizeof MANIFEST_HEADER - 1, &written, NULL) != 0;
  for (size_t start = 0; ok && start < list->length;) {
    size_t end = start;
    while (list->text[end] != L'\n') end++;
    char line[PATH_UNITS * 3 + 2];
    int n = WideCharToMultiByte(CP_UTF8, 0, list->text + start, (int)(end - start), line, PATH_UNITS * 3, NULL, NULL);
    line[n++] = '\r';
    line[n++] = '\n';
    ok = WriteFile(file, line, (DWORD)n, &written, NULL) != 0;
    start = end + 1;
  }
  ok = ok && WriteFile(file, MANIFEST_END, sizeof MANIFEST_END - 1, &written, NULL) != 0;
  ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  if (!ok || !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) DeleteFileW(temporary);
}

// True for the names that every build makes and removes in its output
// folder: never the game's own, whatever a manifest says.
static bool intermediate_name(const wchar_t* relative) {
  const wchar_t* separator = wcschr(relative, L'\\');
  size_t n = separator ? (size_t)(separator - relative) : wcslen(relative);
  for (const wchar_t* name : INTERMEDIATE_IN_OUTPUT)
    if (wcslen(name) == n && _wcsnicmp(relative, name, n) == 0) return true;
  return n == wcslen(BUILD_MANIFEST_NAME) && _wcsnicmp(relative, BUILD_MANIFEST_NAME, n) == 0;
}

// Moves one file of the game's own from the set-aside folder into the
// output folder, making the folders it needs.
static bool move_into_output(const OutputPlaces* places, const wchar_t* relative, bool replace) {
  wchar_t from[PATH_UNITS], to[PATH_UNITS];
  if (!join_path(from, places->previous, relative) || !join_path(to, places->output, relative)) return false;
  wchar_t* last = wcsrchr(to, L'\\');
  *last = 0;
  create_directory_chain(to);
  *last = L'\\';
  return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

// Moves every file of the set-aside game that no build made into the output
// folder, then deletes the set-aside folder with what is left: the files the
// earlier build made. made lists the files of the output folder that a build
// made; a file of the game's own that takes the place of one of them is no
// longer the build's. Without a manifest of the set-aside game, each of its
// files that the new build did not make again is taken for the game's own.
// False when anything of the game's own stays behind (the folder then stays).
static bool carry_over_own_files(const OutputPlaces* places, FileList* made) {
  FileList theirs = {}, before = {};
  bool recorded = read_manifest(places->previous, &before);
  list_files(places->previous, &theirs);
  bool whole = theirs.whole;
  for (size_t start = 0; start < theirs.length;) {
    wchar_t relative[PATH_UNITS];
    size_t end = start;
    while (theirs.text[end] != L'\n') end++;
    memcpy(relative, theirs.text + start, (end - start) * sizeof(wchar_t));
    relative[end - start] = 0;
    start = end + 1;

    if (intermediate_name(relative) || (recorded && list_find(&before, relative) >= 0)) continue;
    wchar_t target[PATH_UNITS];
    bool taken = join_path(target, places->output, relative) && exists(target);
    if (taken && !recorded) continue;  // most likely the earlier build's own file
    if (!move_into_output(places, relative, taken)) {
      whole = false;
      continue;
    }
    if (taken) list_remove(made, relative);
  }
  list_free(&theirs);
  list_free(&before);
  if (whole) delete_tree(places->previous);
  return whole && !exists(places->previous);
}

SetAsideResult set_aside_output(OutputPlaces* places) {
  bool unsettled = exists(places->marker);
  if (exists(places->previous)) {
    if (unsettled) {
      // An earlier build was cut short and its game before it is still set
      // aside: what that build left in the output folder is its own.
      delete_tree(places->output);
      places->previous_settled = holds_manifest(places->previous);
      return exists(places->output) ? SET_ASIDE_IN_USE : SET_ASIDE_DONE;
    }
    // The last build finished but could not carry everything over: try again.
    FileList made = {};
    if (!read_manifest(places->output, &made)) list_files(places->output, &made);
    bool carried = carry_over_own_files(places, &made);
    write_manifest(places->output, &made);
    list_free(&made);
    if (!carried) return SET_ASIDE_LEFT_OVER;
  }
  // A game that an unfinished build left has no manifest; nothing at all is
  // as good as a finished game.
  places->previous_settled = !unsettled || !exists(places->output) || holds_manifest(places->output);
  // The marker comes first: if the launcher ends between the two steps, the
  // next build still finds the game in the output folder and sets it aside.
  if (!unsettled) {
    wchar_t parent[PATH_UNITS];  // the kit's build folder, which a first build has yet to make
    copy_text(parent, PATH_UNITS, places->output);
    *wcsrchr(parent, L'\\') = 0;
    create_directory_chain(parent);
    HANDLE marker = CreateFileW(places->marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker == INVALID_HANDLE_VALUE) {
      places->error = GetLastError();
      return SET_ASIDE_IN_USE;
    }
    CloseHandle(marker);
  }
  if (exists(places->output) && !MoveFileExW(places->output, places->previous, 0)) {
    places->error = GetLastError();
    if (!unsettled) DeleteFileW(places->marker);
    return SET_ASIDE_IN_USE;
  }
  return SET_ASIDE_DONE;
}

bool restore_output(const OutputPlaces* places) {
  delete_tree(places->output);
  if (exists(places->output)) return false;
  if (exists(places->previous) && !MoveFileExW(places->previous, places->output, 0)) return false;
  if (places->previous_settled) DeleteFileW(places->marker);
  return places->previous_settled;
}

bool settle_output(const OutputPlaces* places) {
  FileList made = {};
  list_files(places->output, &made);
  bool carried = !exists(places->previous) || carry_over_own_files(places, &made);
  write_manifest(places->output, &made);
  list_free(&made);
  DeleteFileW(places->marker);
  return carried;
}
