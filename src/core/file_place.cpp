// Files and folders opened only where their path says; see file_place.h.
//
// Why through handles: CREATE_ALWAYS on a file link empties and writes its
// target, and a delete by name removes what a host link points to under
// Wine. So a file is made with CREATE_NEW (which follows nothing: a link at
// the path, even one to nowhere, makes it fail), and whatever already stands
// at the path is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), checked to
// be at its own place, and only then deleted through that handle.
#include "core/file_place.h"

#include <string.h>
#include <wchar.h>

#include "core/text.h"

bool handle_is_at(HANDLE handle, const wchar_t* expected) {
  if (!expected[0]) return true;
  wchar_t place[PLACE_UNITS];
  DWORD length = GetFinalPathNameByHandleW(handle, place, PLACE_UNITS, 0);
  if (length == 0 || length >= PLACE_UNITS) return false;
  return CompareStringOrdinal(expected, -1, place, -1, TRUE) == CSTR_EQUAL;
}

bool folder_place(const wchar_t* folder, wchar_t* place) {
  place[0] = 0;
  HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD length = GetFinalPathNameByHandleW(handle, place, PLACE_UNITS, 0);
  CloseHandle(handle);
  if (length >= PLACE_UNITS) return false;
  if (length == 0) place[0] = 0;
  return true;
}

bool join_place(wchar_t* expected, const wchar_t* place, const wchar_t* relative) {
  if (!place[0]) {
    expected[0] = 0;
    return true;
  }
  if (!relative[0]) return copy_text(expected, PLACE_UNITS, place);
  bool root = place[wcslen(place) - 1] == L'\\';  // a drive root keeps its separator
  return format_text(expected, PLACE_UNITS, root ? L"%ls%ls" : L"%ls\\%ls", place, relative);
}

void discard_file(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
}

// Removes what stands at path as itself: a file, or a link of any kind, but
// never a real folder and never anything that a link points to.
static PlaceResult remove_in_place(const wchar_t* path, const wchar_t* expected, DWORD* error) {
  // Where the platform cannot tell places, a link cannot be told from a file
  // either, and deleting through it could reach its target: nothing goes.
  if (!expected[0]) {
    *error = ERROR_ACCESS_DENIED;
    return PLACE_FAILED;
  }
  HANDLE handle = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return PLACE_FAILED;
  }
  PlaceResult result = PLACE_OK;
  BY_HANDLE_FILE_INFORMATION info;
  memset(&info, 0, sizeof info);
  if (!handle_is_at(handle, expected)) {
    result = PLACE_LINK;  // the platform opened the target: the link itself cannot be reached
  } else if (!GetFileInformationByHandle(handle, &info)) {
    *error = GetLastError();
    result = PLACE_FAILED;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
             !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    *error = ERROR_ACCESS_DENIED;  // a real folder is never removed here
    result = PLACE_FAILED;
  } else {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) {
      *error = GetLastError();
      result = PLACE_FAILED;
    }
  }
  CloseHandle(handle);
  return result;
}

PlaceResult create_file_in_place(const wchar_t* path, const wchar_t* expected, HANDLE* file, DWORD* error) {
  *file = INVALID_HANDLE_VALUE;
  *error = 0;
  // Two rounds: the first may find something in the way and remove it.
  for (int round = 0; round < 2; round++) {
    HANDLE handle = CreateFileW(path, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
      if (handle_is_at(handle, expected)) {
        *file = handle;
        return PLACE_OK;
      }
      discard_file(handle);  // made somewhere else: take back what was made
      return PLACE_LINK;
    }
    DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || round == 1) {
      *error = code;
      return PLACE_FAILED;
    }
    PlaceResult removed = remove_in_place(path, expected, error);
    // Something stands at the path that cannot be opened even as itself: a
    // link to nothing, which the platform follows.
    if (removed == PLACE_FAILED && (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND))
      return PLACE_LINK;
    if (removed != PLACE_OK) return removed;
  }
  return PLACE_FAILED;
}

PlaceResult make_folder_in_place(const wchar_t* path, const wchar_t* expected, DWORD* error) {
  *error = 0;
  for (int round = 0; round < 2; round++) {
    CreateDirectoryW(path, NULL);  // an existing folder is fine; what stands there is checked next
    HANDLE handle = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return PLACE_FAILED;
    }
    bool here = handle_is_at(handle, expected);
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0, sizeof info);
    bool folder = GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    if (here) {
      if (folder) return PLACE_OK;
      *error = ERROR_DIRECTORY;  // a file in the way
      return PLACE_FAILED;
    }
    if (round == 1) return PLACE_LINK;
    PlaceResult removed = remove_in_place(path, expected, error);
    if (removed != PLACE_OK) return removed;
  }
  return PLACE_FAILED;
}

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
