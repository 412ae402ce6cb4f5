// telvar-cli doctor: one report of the launcher's state to paste into a bug
// report. The folder of telvar-cli.exe is the launcher folder, as for build.
// Sections: versions (launcher, Windows), the launcher folder (free space,
// writable, path length and depth), the release (address, whether its build
// description can be fetched and read, the versions it names), the toolchain
// (stamp, its programs), the kit (stamp, built version and game files per
// region), the library (each disc with its status) and the last lines of the
// build log. Then the findings: notes and warnings first, the findings that
// block a build last.
//
// Exit code 0 when nothing blocks a build, 1 otherwise, 2 for a usage error.
// Reads telvar.ini and writes nothing to it (a hand-written 8-bit file is not
// converted here, unlike at the launcher's start); the only file it writes is
// the write test's, which it deletes at once.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "core/state.h"
#include "pipeline/preflight.h"
#include "pipeline/release.h"
#include "pipeline/release_description.h"
#include "cli/cli.h"
#include "library/catalog.h"
#include "library/disc_identify.h"
#include "transfer/download.h"
#include "core/version.h"
#include "pipeline/job_status.h"
#include "pipeline/transfer_texts.h"

enum {
  FINDING_CAPACITY = 24,
  FINDING_UNITS = 512,
  LOG_TAIL_LINES = 12,
  LOG_TAIL_BYTES = 8192,
};

struct Finding {
  bool blocking;
  wchar_t text[FINDING_UNITS];
};

static Finding findings[FINDING_CAPACITY];
static int32_t finding_count;

static void add_finding(bool blocking, const wchar_t* format, ...) {
  if (finding_count >= FINDING_CAPACITY) return;
  Finding& f = findings[finding_count++];
  f.blocking = blocking;
  va_list args;
  va_start(args, format);
  format_text_v(f.text, FINDING_UNITS, format, args);
  va_end(args);
}

// printf-style into a line of standard output, as UTF-8.
static void say(const wchar_t* format, ...) {
  wchar_t line[1024];
  va_list args;
  va_start(args, format);
  format_text_v(line, 1024, format, args);
  va_end(args);
  print_utf8(stdout, line);
  fputs("\n", stdout);
}

static bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// ---- Versions -------------------------------------------------------------

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOW*);

static void report_versions() {
  say(L"Launcher: " TELVAR_PRODUCT_NAME " " TELVAR_VERSION_TEXT " (telvar-cli)");
  // GetVersionEx lies to programs without a manifest that names the newest
  // Windows; the kernel's own answer does not.
  OSVERSIONINFOW info;
  memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  RtlGetVersionFunction get_version = NULL;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll) get_version = (RtlGetVersionFunction)(void*)GetProcAddress(ntdll, "RtlGetVersion");
  if (get_version && get_version(&info) == 0)
    say(L"Windows: %lu.%lu build %lu%ls%ls", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
        info.szCSDVersion[0] ? L" " : L"", info.szCSDVersion);
  else
    say(L"Windows: unknown");
  // Wine says so through an export of its own; worth knowing in a report.
  if (ntdll && GetProcAddress(ntdll, "wine_get_version")) {
    typedef const char*(CDECL * WineVersion)(void);
    WineVersion wine = (WineVersion)(void*)GetProcAddress(ntdll, "wine_get_version");
    say(L"Running under Wine %hs", wine());
  }
}

// ---- Launcher folder ------------------------------------------------------

static void report_folder() {
  const wchar_t* dir = g_state.launcher_dir;
  int depth = 0;
  for (const wchar_t* p = dir; *p; p++) depth += *p == L'\\';
  say(L"");
  say(L"Launcher folder: %ls", dir);
  say(L"  path: %d characters, %d folders deep (the kit needs %d characters more, up to 259)", (int)wcslen(dir),
      depth, (int)KIT_PATH_ROOM);

  PreflightReport report;
  preflight_build(dir, build_space_estimate(0, 0), &report);
  wchar_t amount[32];
  if (report.free_known) {
    format_bytes(amount, 32, report.free_bytes);
    say(L"  free space: %ls", amount);
  } else {
    say(L"  free space: unknown");
  }
  bool unwritable = false;
  for (int32_t i = 0; i < report.count; i++)
    if (wcsstr(report.findings[i].text, L"cannot be written")) unwritable = true;
  say(L"  writable: %ls", unwritable ? L"no" : L"yes (a test file was created and deleted)");
  say(L"  settings file: %ls", exists(g_state.settings_path) ? L"telvar.ini" : L"none yet (defaults)");
  for (int32_t i = 0; i < report.count; i++)
    add_finding(report.findings[i].verdict == PREFLIGHT_REFUSAL, L"%ls", report.findings[i].text);
}

// ---- Release --------------------------------------------------------------

static void report_release(ReleaseDescription* desc, bool* described) {
  *described = false;
  wchar_t base[RELEASE_BASE_UNITS];
  const wchar_t* separator = L"/";
  read_release_base(g_state.settings_path, base, &separator);
  wchar_t named[RELEASE_BASE_UNITS];
  GetPrivateProfileStringW(BUILD_SECTION, L"release_url", L"", named, RELEASE_BASE_UNITS, g_state.settings_path);
  say(L"");
  say(L"Release: %ls%ls", base, named[0] ? L"" : L" (the default: telvar.ini names none)");

  const wchar_t* game_id = CATALOG[0].game_id;
  wchar_t name[64], address[RELEASE_URL_UNITS];
  format_text(name, 64, L"%ls.json", game_id);
  if (!release_file_url(address, base, separator, game_id, name)) {
    add_finding(true, L"The release address is too long to form the description's address.");
    return;
  }
  say(L"  description: %ls", address);

  // Fetched as a build fetches it, with the same limit and the same texts.
  char* text = NULL;
  uint32_t length = 0;
  TransferResult result;
  if (!download_file(address, NULL, DOWNLOAD_TEXT_LIMIT, &text, &length, NULL, &result)) {
    wchar_t error[ERROR_TEXT_UNITS];
    transfer_failure_text(&result, L"the build description", error, ERROR_TEXT_UNITS);
    say(L"  fetched: no");
    add_finding(true, L"The release's build description cannot be fetched: %ls Check release_url in telvar.ini.",
                error[0] ? error : L"(no reason given)");
    return;
  }
  bool valid = parse_release_description(text, desc);
  free(text);
  say(L"  fetched: yes, %lu bytes", (unsigned long)length);
  if (!valid) {
    say(L"  read: no");
    add_finding(true, L"The release's build description is not valid; the release server holds a damaged file.");
    return;
  }
  *described = true;
  say(L"  read: yes; version %hs, build tools %hs", desc->version, desc->toolchain_version);
  say(L"  archives: %hs, %hs", desc->toolchain_file, desc->kit_file);
}

// ---- Toolchain and kit ----------------------------------------------------

static void report_toolchain(const ReleaseDescription* desc, bool described) {
  wchar_t toolchain[PATH_UNITS], interpreter[PATH_UNITS], compiler[PATH_UNITS];
  join_path(toolchain, g_state.launcher_dir, L"toolchain");
  join_path(interpreter, toolchain, L"python\\python.exe");
  join_path(compiler, toolchain, L"zig");
  wchar_t stamp[STAMP_UNITS];
  read_toolchain_stamp(toolchain, stamp);
  bool has_interpreter = exists(interpreter), has_compiler = exists(compiler);
  say(L"");
  say(L"Build tools: %ls", toolchain);
  say(L"  stamp (version.txt): %ls", stamp[0] ? stamp : L"none");
  say(L"  python\\python.exe: %ls", has_interpreter ? L"present" : L"missing");
  say(L"  zig: %ls", has_compiler ? L"present" : L"missing");
  if (stamp[0] && (!has_interpreter || !has_compiler))
    add_finding(false, L"The build tools (%ls) are incomplete: the next build downloads them again.", stamp);
  if (described && stamp[0]) {
    wchar_t wanted[STAMP_UNITS];
    utf8_to_wide(desc->toolchain_version, wanted, STAMP_UNITS);
    if (wcscmp(wanted, stamp) != 0)
      add_finding(false, L"The build tools %ls are older than the release's %ls: the next build updates them.", stamp,
                  wanted);
  }
}

static void report_kit() {
  const wchar_t* game_id = CATALOG[0].game_id;
  wchar_t kit[PATH_UNITS];
  format_text(kit, PATH_UNITS, L"%ls\\games\\%ls", g_state.launcher_dir, game_id);
  wchar_t stamp[STAMP_UNITS];
  GetPrivateProfileStringW(game_id, KIT_STAMP_KEY, L"", stamp, STAMP_UNITS, g_state.settings_path);
  say(L"");
  say(L"Build kit: %ls", kit);
  say(L"  stamp: %ls", stamp[0] ? stamp : L"none");
  for (int32_t row = 0; row < 2; row++) {
    const CatalogEntry& entry = CATALOG[row];
    wchar_t built[STAMP_UNITS];
    GetPrivateProfileStringW(game_id, entry.region_suffix ? L"built_version_us" : L"built_version", L"", built,
                             STAMP_UNITS, g_state.settings_path);
    wchar_t folder[PATH_UNITS];
    game_folder(row, folder);
    bool present = game_files_present(row);
    say(L"  %ls: built %ls; game files %ls%ls", entry.region, built[0] ? built : L"never",
        present ? L"present in " : L"missing", present ? folder : L"");
  }
}

// ---- Library --------------------------------------------------------------

static const wchar_t* const STATUS_WORDS[] = {
    L"supported disc", L"different disc revision", L"not supported yet",
    L"unknown PS2 disc", L"not a PS2 disc image", L"disc image not found",
};

static void report_library() {
  // The launcher's own keys, read as it reads them; nothing is converted or
  // written.
  UINT count = GetPrivateProfileIntW(L"library", L"count", 0, g_state.settings_path);
  if (count > LIBRARY_CAPACITY) count = LIBRARY_CAPACITY;
  say(L"");
  say(L"Library: %u disc%ls", count, count == 1 ? L"" : L"s");
  for (UINT i = 0; i < count; i++) {
    wchar_t key[16], path[PATH_UNITS + 1];
    format_text(key, 16, L"disc%u", i);
    DWORD length = GetPrivateProfileStringW(L"library", key, L"", path, PATH_UNITS + 1, g_state.settings_path);
    if (!path[0] || length >= PATH_UNITS) {
      say(L"  %u: (empty or too long a path)", i);
      continue;
    }
    LibraryEntry entry;
    memset(&entry, 0, sizeof entry);
    if (!full_disc_path(path, entry.path)) {
      say(L"  %u: the full path is longer than 259 characters: %ls", i, path);
      continue;
    }
    identify_disc(&entry);
    const CatalogEntry* row = entry.catalog_row >= 0 ? &CATALOG[entry.catalog_row] : NULL;
    if (row)
      say(L"  %u: %ls (%ls, %ls): %ls", i, STATUS_WORDS[entry.status], row->title, row->region, entry.path);
    else
      say(L"  %u: %ls: %ls", i, STATUS_WORDS[entry.status], entry.path);
    if (row && entry.status == DISC_OTHER_REVISION)
      say(L"     boot file %hs has MD5 %hs; the supported revision's is %hs", entry.serial,
          entry.md5[0] ? entry.md5 : "(not computed)", row->md5);
  }
}

// ---- Build log ------------------------------------------------------------

static void report_log() {
  wchar_t log[PATH_UNITS];
  format_text(log, PATH_UNITS, L"%ls\\games\\%ls\\build_log.txt", g_state.launcher_dir, CATALOG[0].game_id);
  say(L"");
  HANDLE file = CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    say(L"Build log: none (%ls)", log);
    return;
  }
  static char tail[LOG_TAIL_BYTES + 1];
  LARGE_INTEGER size;
  DWORD got = 0;
  if (GetFileSizeEx(file, &size)) {
    LARGE_INTEGER from;
    from.QuadPart = size.QuadPart > LOG_TAIL_BYTES ? size.QuadPart - LOG_TAIL_BYTES : 0;
    if (SetFilePointerEx(file, from, NULL, FILE_BEGIN)) ReadFile(file, tail, LOG_TAIL_BYTES, &got, NULL);
  }
  CloseHandle(file);
  tail[got] = 0;
  say(L"Build log: last lines of %ls", log);
  // The last LOG_TAIL_LINES lines, each as the script wrote it (a final line
  // without its line feed included); control bytes show as "?".
  int lines = 0;
  int32_t start = (int32_t)got;
  if (start > 0 && tail[start - 1] == '\n') start--;
  while (start > 0 && lines < LOG_TAIL_LINES) {
    start--;
    if (tail[start] == '\n') lines++;
  }
  if (tail[start] == '\n') start++;
  for (char* line = tail + start; *line;) {
    char* end = strchr(line, '\n');
    if (end) *end = 0;
    fputs("  | ", stdout);
    for (char* c = line; *c; c++)
      if (*c != '\r') fputc((unsigned char)*c < 0x20 && *c != '\t' ? '?' : *c, stdout);
    fputs("\n", stdout);
    if (!end) break;
    line = end + 1;
  }
}

int cmd_doctor(int argc, wchar_t** argv) {
  (void)argv;
  if (argc != 0) {
    fputs("usage: telvar-cli doctor\n", stderr);
    return EXIT_USAGE;
  }
  locate_launcher();
  finding_count = 0;

  say(L"Project Telvar doctor");
  report_versions();
  report_folder();
  ReleaseDescription desc;
  memset(&desc, 0, sizeof desc);
  bool described = false;
  report_release(&desc, &described);
  report_toolchain(&desc, described);
  report_kit();
  report_library();
  report_log();

  say(L"");
  int32_t blocking = 0;
  for (int32_t i = 0; i < finding_count; i++) blocking += findings[i].blocking;
  say(L"Findings: %d", (int)finding_count);
  for (int32_t i = 0; i < finding_count; i++)
    if (!findings[i].blocking) say(L"  warning: %ls", findings[i].text);
  for (int32_t i = 0; i < finding_count; i++)
    if (findings[i].blocking) say(L"  blocks a build: %ls", findings[i].text);
  if (blocking == 0) say(L"Nothing blocks a build.");
  fflush(stdout);
  return blocking == 0 ? EXIT_OK : EXIT_FAILED;
}
