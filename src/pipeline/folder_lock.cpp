// Locks per launcher folder; see folder_lock.h.
#include "pipeline/folder_lock.h"

#include <string.h>
#include <wchar.h>

#include "core/state.h"
#include "core/text.h"

enum { HOLDER_UNITS = 64 };  // the build lock holder's file name, in its shared block

static HANDLE build_lock;  // the mapping while this process builds, or null

uint64_t launcher_folder_key(const wchar_t* folder) {
  // Two spellings of one folder (a relative path, a short 8.3 name, other
  // letter case, a trailing backslash) must give one key.
  wchar_t full[PATH_UNITS], longer[PATH_UNITS], upper[PATH_UNITS];
  DWORD n = GetFullPathNameW(folder, PATH_UNITS, full, NULL);
  if (n == 0 || n >= PATH_UNITS) copy_text(full, PATH_UNITS, folder);
  n = GetLongPathNameW(full, longer, PATH_UNITS);
  if (n == 0 || n >= PATH_UNITS) copy_text(longer, PATH_UNITS, full);
  size_t length = wcslen(longer);
  while (length > 0 && longer[length - 1] == L'\\') length--;
  int units = length ? LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, longer, (int)length, upper, PATH_UNITS) : 0;
  if (units <= 0) {
    memcpy(upper, longer, length * sizeof(wchar_t));
    units = (int)length;
  }
  // FNV-1a, 64 bits, over the UTF-16 units.
  uint64_t hash = 14695981039346656037ull;
  for (int i = 0; i < units; i++) {
    hash ^= (uint16_t)upper[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

static void lock_name(wchar_t (&out)[64], const wchar_t* kind, const wchar_t* folder) {
  format_text(out, 64, L"ProjectTelvar.%ls.%016llx", kind, (unsigned long long)launcher_folder_key(folder));
}

bool claim_launcher_folder(const wchar_t* folder) {
  wchar_t name[64];
  lock_name(name, L"Launcher", folder);
  // Held until the process ends; never closed.
  HANDLE mutex = CreateMutexW(NULL, FALSE, name);
  DWORD error = GetLastError();
  if (!mutex) return true;  // no lock to be had: go on alone
  if (error != ERROR_ALREADY_EXISTS) return true;
  CloseHandle(mutex);
  return false;
}

bool take_build_lock(const wchar_t* folder) {
  if (build_lock) return true;
  wchar_t name[64];
  lock_name(name, L"Build", folder);
  // The lock is the object itself: whoever made it builds, and it goes away
  // with the last handle. Its block names the holder for the refusal text.
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, HOLDER_UNITS * sizeof(wchar_t), name);
  DWORD error = GetLastError();
  if (!mapping) return true;  // no lock to be had: go on alone
  wchar_t* block = (wchar_t*)MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
  if (error != ERROR_ALREADY_EXISTS) {
    if (block) {
      wchar_t module[PATH_UNITS];
      DWORD n = GetModuleFileNameW(NULL, module, PATH_UNITS);
      module[n < PATH_UNITS ? n : PATH_UNITS - 1] = 0;
      const wchar_t* slash = wcsrchr(module, L'\\');
      copy_text(block, HOLDER_UNITS, slash ? slash + 1 : module);
      UnmapViewOfFile(block);
    }
    build_lock = mapping;
    return true;
  }
  wchar_t holder[HOLDER_UNITS] = L"";
  if (block) {
    copy_text(holder, HOLDER_UNITS, block);  // empty while the holder is still writing it
    holder[HOLDER_UNITS - 1] = 0;
    UnmapViewOfFile(block);
  }
  CloseHandle(mapping);
  LauncherState& s = g_state;
  if (holder[0])
    format_text(s.status_text, STATUS_TEXT_UNITS,
                L"Another build is running in this folder (%ls). Wait until it has finished, then try again.", holder);
  else
    copy_text(s.status_text, STATUS_TEXT_UNITS,
              L"Another build is running in this folder. Wait until it has finished, then try again.");
  s.status_is_error = true;
  return false;
}

void release_build_lock() {
  if (!build_lock) return;
  CloseHandle(build_lock);
  build_lock = NULL;
}
