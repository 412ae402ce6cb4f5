// Release addresses, the level list and the toolchain stamp; see release.h.
#include "pipeline/release.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

const wchar_t DEFAULT_RELEASE_BASE[] = L"https://github.com/project-telvar/telvar/releases/download/";
const wchar_t DEFAULT_LEVEL_LIST[] = L"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18";

static const wchar_t TOOLCHAIN_STAMP_NAME[] = L"version.txt";

void utf8_to_wide(const char* text, wchar_t* out, int units) {
  // Every caller's buffer has as many units as the text's field has bytes,
  // so a conversion never runs out of room; a failure leaves the text empty.
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, out, units) <= 0) out[0] = 0;
}

// A folder path that starts from the current folder: no drive ("D:"), no
// root ("\" or "/") and no share ("\\server").
static bool is_relative_folder(const wchar_t* path) {
  if (path[0] == L'\\' || path[0] == L'/') return false;
  return !(path[0] && path[1] == L':');
}

void read_release_base(const wchar_t* settings_path, wchar_t (&base)[RELEASE_BASE_UNITS],
                       const wchar_t** separator) {
  GetPrivateProfileStringW(BUILD_SECTION, L"release_url", DEFAULT_RELEASE_BASE, base, RELEASE_BASE_UNITS,
                           settings_path);
  *separator = _wcsnicmp(base, L"http", 4) == 0 ? L"/" : L"\\";
  size_t length = wcslen(base);
  if (length > 0 && (base[length - 1] == L'\\' || base[length - 1] == L'/')) base[length - 1] = 0;

  // A relative folder is taken from the launcher's folder (the settings
  // file's), not from the current folder, which is whatever the shortcut,
  // script or shell that started the launcher left: the release must not
  // change with it. An empty base is the launcher's folder itself.
  const wchar_t* last_slash = wcsrchr(settings_path, L'\\');
  if ((*separator)[0] == L'/' || !is_relative_folder(base) || !last_slash) return;
  wchar_t relative[RELEASE_BASE_UNITS];
  copy_text(relative, RELEASE_BASE_UNITS, base);
  int folder_units = (int)(last_slash - settings_path);
  // A result cut by the buffer is far beyond the 259 units a folder path may
  // have, so it names nothing that could be read.
  if (relative[0])
    format_text(base, RELEASE_BASE_UNITS, L"%.*ls\\%ls", folder_units, settings_path, relative);
  else
    format_text(base, RELEASE_BASE_UNITS, L"%.*ls", folder_units, settings_path);
}

bool release_file_url(wchar_t (&out)[RELEASE_URL_UNITS], const wchar_t* base, const wchar_t* separator,
                      const wchar_t* game_id, const wchar_t* file_name) {
  return format_text(out, RELEASE_URL_UNITS, L"%ls%ls%ls%ls%ls", base, separator, game_id, separator, file_name);
}

void read_level_list(const wchar_t* settings_path, const char* description_levels,
                     wchar_t (&out)[LEVEL_LIST_UNITS]) {
  GetPrivateProfileStringW(BUILD_SECTION, L"levels", L"", out, LEVEL_LIST_UNITS, settings_path);
  if (out[0]) return;
  if (description_levels[0]) utf8_to_wide(description_levels, out, LEVEL_LIST_UNITS);
  if (!out[0]) copy_text(out, LEVEL_LIST_UNITS, DEFAULT_LEVEL_LIST);
}

void read_toolchain_stamp(const wchar_t* toolchain_folder, wchar_t (&out)[STAMP_UNITS]) {
  out[0] = 0;
  wchar_t path[PATH_UNITS];
  if (!join_path(path, toolchain_folder, TOOLCHAIN_STAMP_NAME)) return;
  FILE* file = _wfopen(path, L"r");
  if (!file) return;
  char line[STAMP_UNITS] = {0};
  if (!fgets(line, sizeof line, file)) line[0] = 0;
  fclose(file);
  line[strcspn(line, "\r\n")] = 0;
  utf8_to_wide(line, out, STAMP_UNITS);
}

void write_toolchain_stamp(const wchar_t* toolchain_folder, const char* toolchain_version) {
  wchar_t path[PATH_UNITS];
  if (!join_path(path, toolchain_folder, TOOLCHAIN_STAMP_NAME)) return;
  FILE* file = _wfopen(path, L"w");
  if (!file) return;
  fputs(toolchain_version, file);
  fclose(file);
}
