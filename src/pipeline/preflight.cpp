// Checks of the launcher's folder before a build; see preflight.h.
#include "pipeline/preflight.h"

#include <windows.h>

#include "core/text.h"
#include "core/failure_words.h"

#define MOVE_ADVICE L"Move the launcher to a folder of your own, such as C:\\Games\\Telvar."

static bool system_free_space(const wchar_t* folder, uint64_t* free_bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL)) return false;
  *free_bytes = available.QuadPart;
  return true;
}

static FreeSpaceQuery free_space_query = system_free_space;

void set_free_space_query(FreeSpaceQuery query) { free_space_query = query ? query : system_free_space; }

uint64_t build_space_estimate(uint64_t toolchain_bytes, uint64_t kit_bytes) {
  uint64_t archives = toolchain_bytes + kit_bytes;
  return archives + 3 * archives + BUILD_SPACE_MARGIN_BYTES;
}

void format_bytes(wchar_t* out, size_t units, uint64_t bytes) {
  if (bytes >= (1ull << 30))
    format_text(out, units, L"%.1f GB", (double)bytes / (double)(1ull << 30));
  else
    format_text(out, units, L"%.0f MB", (double)bytes / (double)(1ull << 20));
}

static void add(PreflightReport* report, int32_t verdict, const wchar_t* format, ...) {
  if (report->count >= PREFLIGHT_FINDING_CAPACITY) return;
  PreflightFinding& f = report->findings[report->count++];
  f.verdict = verdict;
  va_list args;
  va_start(args, format);
  format_text_v(f.text, PREFLIGHT_TEXT_UNITS, format, args);
  va_end(args);
  if (verdict == PREFLIGHT_REFUSAL) report->refusals++;
}

// Explorer runs a program from a zip it shows by copying it to a temporary
// folder named after the archive ("Temp1_name.zip"); some tools keep the
// ".zip" in the folder's name.
static bool looks_like_archive(const wchar_t* path) {
  const wchar_t* component = path;
  for (const wchar_t* p = path;; p++) {
    if (*p == L'\\' || *p == 0) {
      size_t n = (size_t)(p - component);
      if (n > 4 && _wcsnicmp(p - 4, L".zip", 4) == 0) return true;
      if (n > 6 && _wcsnicmp(component, L"Temp1_", 6) == 0) return true;
      if (*p == 0) return false;
      component = p + 1;
    }
  }
}

static void check_writable(const wchar_t* dir, PreflightReport* report) {
  wchar_t probe[PATH_UNITS];
  wchar_t name[64];
  format_text(name, 64, L"telvar-write-test-%lu.tmp", (unsigned long)GetCurrentProcessId());
  if (!join_path(probe, dir, name)) return;  // the length check speaks for such a folder
  HANDLE file = CreateFileW(probe, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, NULL);
  DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  bool written = false;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD wrote = 0;
    written = WriteFile(file, "x", 1, &wrote, NULL) && wrote == 1;
    if (!written) error = GetLastError();
    CloseHandle(file);
    DeleteFileW(probe);
  }
  if (written) return;
  wchar_t code[32];
  format_windows_error(code, 32, error);
  // The folder's path comes last: it can be long, and the window shows the
  // cause and the remedy first.
  add(report, PREFLIGHT_REFUSAL, L"The launcher's folder cannot be written (%ls). " MOVE_ADVICE L" The folder is %ls.",
      code, dir);
}

static void check_space(const wchar_t* dir, uint64_t needed, PreflightReport* report) {
  uint64_t free_bytes = 0;
  report->free_known = free_space_query(dir, &free_bytes);
  report->free_bytes = report->free_known ? free_bytes : 0;
  if (!report->free_known || free_bytes >= needed) return;
  wchar_t need_text[32], free_text[32];
  format_bytes(need_text, 32, needed);
  format_bytes(free_text, 32, free_bytes);
  add(report, PREFLIGHT_REFUSAL,
      L"Not enough free space for the build: it needs about %ls and the launcher's drive has %ls free. Free some "
      L"space, or move the launcher to another drive.",
      need_text, free_text);
}

static void check_place(const wchar_t* dir, PreflightReport* report) {
  wchar_t temp[PATH_UNITS + 1], long_temp[PATH_UNITS];
  DWORD n = GetTempPathW(PATH_UNITS + 1, temp);
  bool in_temp = false;
  if (n > 0 && n < PATH_UNITS) {
    in_temp = path_lies_in(dir, temp);
    // The temporary folder is often given in its short 8.3 form.
    DWORD m = GetLongPathNameW(temp, long_temp, PATH_UNITS);
    if (!in_temp && m > 0 && m < PATH_UNITS) in_temp = path_lies_in(dir, long_temp);
  }
  if (looks_like_archive(dir)) {
    add(report, PREFLIGHT_REFUSAL,
        L"The launcher runs from inside a compressed archive, whose files Windows removes. Unpack the archive "
        L"first. " MOVE_ADVICE);
  } else if (in_temp) {
    add(report, PREFLIGHT_REFUSAL,
        L"The launcher is inside the system's temporary folder, which Windows cleans up. " MOVE_ADVICE);
  }

  static const wchar_t* const PROGRAM_FILES[] = {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"};
  for (const wchar_t* variable : PROGRAM_FILES) {
    wchar_t folder[PATH_UNITS];
    DWORD length = GetEnvironmentVariableW(variable, folder, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS || !path_lies_in(dir, folder)) continue;
    add(report, PREFLIGHT_WARNING,
        L"The launcher is under %ls, where Windows redirects or refuses what programs write. " MOVE_ADVICE, folder);
    break;
  }
}

static void check_length(const wchar_t* dir, PreflightReport* report) {
  size_t length = wcslen(dir);
  if (length + KIT_PATH_ROOM <= PATH_UNITS - 1) return;
  add(report, PREFLIGHT_REFUSAL,
      L"The launcher's folder path is %d characters long; the build kit's files need paths of up to %d more, "
      L"beyond what Windows allows (259). Move the launcher to a shorter folder, such as C:\\Games\\Telvar.",
      (int)length, (int)KIT_PATH_ROOM);
}

void preflight_build(const wchar_t* dir, uint64_t needed_bytes, PreflightReport* report) {
  memset(report, 0, sizeof *report);
  check_writable(dir, report);
  check_space(dir, needed_bytes, report);
  check_place(dir, report);
  check_length(dir, report);
}
