// Telling a read-only folder from other refused writes; see unwritable_folder.h.
#include "core/unwritable_folder.h"

#include <windows.h>

#include "core/text.h"

static bool is_folder(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when a new file cannot be made in folder for want of write access.
// The file deletes itself as it is closed, so nothing is left behind even if
// this process ends meanwhile.
static bool refuses_new_files(const wchar_t* folder) {
  wchar_t name[64], probe[PATH_UNITS];
  format_text(name, 64, L"telvar-write-test-%lu.tmp", (unsigned long)GetCurrentProcessId());
  if (!join_path(probe, folder, name)) return false;
  HANDLE file = CreateFileW(probe, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

bool unwritable_folder_holding(const wchar_t* path, const wchar_t* launcher_dir, wchar_t* folder) {
  folder[0] = 0;
  if (!launcher_dir[0] || !path_lies_in(path, launcher_dir)) return false;
  wchar_t place[PATH_UNITS];
  if (!copy_text(place, PATH_UNITS, path)) return false;
  // Up from the path to the first folder that is there, never above the
  // launcher's own.
  while (!is_folder(place)) {
    wchar_t* last = wcsrchr(place, L'\\');
    if (!last) return false;
    *last = 0;
    if (!path_lies_in(place, launcher_dir)) return false;
  }
  if (!refuses_new_files(place)) return false;
  copy_text(folder, PATH_UNITS, place);
  return true;
}

#define MOVE_LAUNCHER L"move the launcher to a folder you can write to, such as C:\\Games\\Telvar or one in your Documents."

void describe_unwritable_folder(const wchar_t* folder, const wchar_t* launcher_dir, wchar_t* out, size_t units) {
  size_t n = wcslen(launcher_dir);
  while (n > 0 && launcher_dir[n - 1] == L'\\') n--;
  if (wcslen(folder) <= n)
    format_text(out, units, L"The launcher's folder is read-only: " MOVE_LAUNCHER);
  else
    format_text(out, units, L"The launcher's %ls folder is read-only: make it writable, or " MOVE_LAUNCHER,
                folder + n + 1);
}
