// A new, empty folder for one test under the system's temporary folder (Windows
// build only). The folder is left behind for inspection when a test fails.
#pragma once
#include <string>

// Creates <temp>\telvar-tests\<name>-<process id>-<counter> and returns it.
std::wstring make_temp_folder(const wchar_t* name);

// The same under root (made when missing, its parent must exist): for a
// launcher folder, which must not lie in the system's temporary folder, since
// the launcher refuses to build there.
std::wstring make_test_folder_in(const std::wstring& root, const wchar_t* name);

// folder\name
std::wstring join(const std::wstring& folder, const std::wstring& name);

// Writes bytes to a wide path; true on success.
bool write_bytes(const std::wstring& path, const std::string& bytes);
std::string read_bytes(const std::wstring& path);
