// Temporary folders and whole-file I/O for the Windows tests.
#include "support/temp_folder.h"

#include <windows.h>
#include <stdio.h>

std::wstring join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

std::wstring make_temp_folder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return make_test_folder_in(std::wstring(temp) + L"telvar-tests", name);
}

std::wstring make_test_folder_in(const std::wstring& root, const wchar_t* name) {
  static int counter = 0;
  CreateDirectoryW(root.c_str(), NULL);
  // Wine reuses process ids, so a folder of this name may be left from an
  // earlier run: take the next name until one is really new.
  for (;;) {
    std::wstring folder = root + L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++counter);
    if (CreateDirectoryW(folder.c_str(), NULL)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return folder;  // the test fails on its first write
  }
}

bool write_bytes(const std::wstring& path, const std::string& bytes) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

std::string read_bytes(const std::wstring& path) {
  std::string bytes;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return bytes;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  fclose(f);
  return bytes;
}
