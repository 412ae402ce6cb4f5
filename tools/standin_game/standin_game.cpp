// STAND-IN for the built game (mox1_wrapper.exe), for tests and demos only:
// it is not the game. It writes what the launcher handed it into
// "game_record.txt" beside itself (UTF-8, one item a line):
//   command_line=<its whole command line>
//   working_folder=<its current folder>
//   TQA_...=<value>   for every TQA_ variable of its environment, in the
//                     environment's order (the eight that are absent are not
//                     listed)
// Then, if TELVAR_STANDIN_HOLD names an event, it waits for that event (at
// most a minute) so that a test can keep it running; and it exits with the
// code in TELVAR_STANDIN_EXIT (decimal or 0x-hex), 0 when that is unset.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void write_utf8(HANDLE file, const wchar_t* text) {
  char bytes[8192];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
  if (n <= 1) return;
  DWORD written = 0;
  WriteFile(file, bytes, (DWORD)(n - 1), &written, NULL);
}

static void write_line(HANDLE file, const wchar_t* name, const wchar_t* value) {
  write_utf8(file, name);
  write_utf8(file, L"=");
  write_utf8(file, value);
  write_utf8(file, L"\n");
}

static bool record_launch() {
  wchar_t record[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, record, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  wchar_t* slash = wcsrchr(record, L'\\');
  if (!slash || (size_t)(slash - record) + 17 >= MAX_PATH) return false;
  wcscpy(slash + 1, L"game_record.txt");

  HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  write_line(file, L"command_line", GetCommandLineW());
  wchar_t folder[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, folder);
  write_line(file, L"working_folder", folder);

  wchar_t* environment = GetEnvironmentStringsW();
  for (wchar_t* item = environment; item && *item; item += wcslen(item) + 1) {
    if (wcsncmp(item, L"TQA_", 4) != 0) continue;
    write_utf8(file, item);
    write_utf8(file, L"\n");
  }
  if (environment) FreeEnvironmentStringsW(environment);
  CloseHandle(file);
  return true;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (!record_launch()) return 2;

  wchar_t text[64];
  if (GetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", text, 64) - 1 < 63) {
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, text);
    if (release) {
      WaitForSingleObject(release, 60000);
      CloseHandle(release);
    }
  }
  DWORD code = 0;
  if (GetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", text, 64) - 1 < 63) code = wcstoul(text, NULL, 0);
  return (int)code;
}
