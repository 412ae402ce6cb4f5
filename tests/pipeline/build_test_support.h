// Helpers of the build pipeline's Windows tests: work folders inside the
// build tree, the release fixtures and the loopback server that ctest
// prepares, a launcher folder with its telvar.ini, and waiting for the job.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// A host path (as CMake knows it) in Wine's Z: drive form.
std::wstring host_to_windows(const std::string& host_path);

// A fresh, empty folder for one test: <build>\tests\build\work\<name>.
std::wstring fresh_work_folder(const std::string& name);

std::wstring join(const std::wstring& folder, const std::wstring& name);
bool exists(const std::wstring& path);
bool write_file_w(const std::wstring& path, const std::string& bytes);
std::string read_file_w(const std::wstring& path);
// Names in a folder, "." and ".." left out, sorted.
std::vector<std::wstring> list_folder(const std::wstring& folder);
// One "key=value" line of the stand-in's standin_run.txt, or "" when absent.
std::string record_value(const std::wstring& kit_folder, const std::string& key);

// The stand-in interpreter built beside the tests.
std::wstring standin_interpreter();
// Release base of one fixture case on disk, and the same over HTTP.
std::wstring local_release(const std::string& name);
std::wstring http_release(const std::string& name, bool slow = false);

// A stand-in disc image of catalogue row 0 (PAL) or 1 (NTSC-U) in folder.
std::wstring write_disc(const std::wstring& folder, int row);

// Clean state, launcher_dir = folder, its telvar.ini holding the release base
// (none when empty) and any extra lines, and one library entry for disc.
void set_up_launcher(const std::wstring& folder, const std::wstring& release_base, const std::wstring& disc,
                     int row, const std::string& extra_ini = "");

// Waits until the job is no longer running; false after the time limit.
bool wait_for_job(DWORD limit_ms = 120000);
// Waits until pred() holds; false after the time limit.
template <typename Pred>
bool wait_until(Pred pred, DWORD limit_ms = 60000) {
  DWORD start = GetTickCount();
  while (!pred()) {
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(10);
  }
  return true;
}

std::wstring error_text();
std::wstring stage_text();
std::wstring profile(const std::wstring& section, const std::wstring& key);

// Records every stage text the job publishes, in order, without repeats.
struct StageLog {
  std::mutex mutex;
  std::vector<std::wstring> stages;
  void start();
  void stop();
  bool saw(const std::wstring& prefix);
};
extern StageLog g_stage_log;

// True when the process ended (or is gone) within limit_ms.
bool process_ended(DWORD pid, DWORD limit_ms);
