// Helpers of the build pipeline's Windows tests; see build_test_support.h.
#include "pipeline/build_test_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/state.h"
#include "support/iso_builder.h"
#include "pipeline/job_status.h"

std::wstring host_to_windows(const std::string& host_path) {
  std::wstring out = L"Z:";
  for (char c : host_path) out += c == '/' ? L'\\' : (wchar_t)(unsigned char)c;
  return out;
}

std::wstring join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

std::wstring fresh_work_folder(const std::string& name) {
  std::wstring folder = host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/work/" + name);
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  std::filesystem::create_directories(folder, error);
  return folder;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool write_file_w(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  return (bool)out;
}

std::string read_file_w(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::wstring> list_folder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(folder, error))
    names.push_back(item.path().filename().wstring());
  std::sort(names.begin(), names.end());
  return names;
}

std::string record_value(const std::wstring& kit_folder, const std::string& key) {
  std::istringstream in(read_file_w(join(kit_folder, L"standin_run.txt")));
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
  return "";
}

std::wstring standin_interpreter() {
  return host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tools/standin_python/standin_python.exe");
}

std::wstring local_release(const std::string& name) {
  return host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/releases/" + name);
}

std::wstring http_release(const std::string& name, bool slow) {
  std::string port = read_file_w(host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/server/port"));
  std::string base = "http://127.0.0.1:" + port + (slow ? "/slow/" : "/") + name + "/";
  return std::wstring(base.begin(), base.end());
}

std::wstring write_disc(const std::wstring& folder, int row) {
  const char* serial = row == 0 ? "SXPE_100.01" : "SXUS_100.02";
  std::wstring path = join(folder, row == 0 ? L"pal disc.iso" : L"us disc.iso");
  write_file_w(path, build_disc(serial, reference_boot_file(serial)));
  return path;
}

void set_up_launcher(const std::wstring& folder, const std::wstring& release_base, const std::wstring& disc,
                     int row, const std::string& extra_ini) {
  reset_state();
  reset_job_status();
  copy_text(g_state.launcher_dir, PATH_UNITS, folder.c_str());
  join_path(g_state.settings_path, g_state.launcher_dir, L"telvar.ini");
  if (!release_base.empty())
    WritePrivateProfileStringW(L"build", L"release_url", release_base.c_str(), g_state.settings_path);
  if (!extra_ini.empty()) {
    std::string ini = read_file_w(g_state.settings_path) + extra_ini;
    write_file_w(g_state.settings_path, ini);
  }
  LibraryEntry& entry = g_state.entries[0];
  copy_text(entry.path, PATH_UNITS, disc.c_str());
  entry.catalog_row = row;
  entry.status = DISC_OK;
  g_state.entry_count = 1;
  g_state.selected = 0;
}

bool wait_for_job(DWORD limit_ms) {
  return wait_until([] { return g_job.running == 0; }, limit_ms);
}

std::wstring error_text() {
  wchar_t text[ERROR_TEXT_UNITS];
  job_read_texts(NULL, 0, text, ERROR_TEXT_UNITS);
  return text;
}

std::wstring stage_text() {
  wchar_t text[STAGE_TEXT_UNITS];
  job_read_texts(text, STAGE_TEXT_UNITS, NULL, 0);
  return text;
}

std::wstring profile(const std::wstring& section, const std::wstring& key) {
  wchar_t value[256];
  GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<absent>", value, 256, g_state.settings_path);
  return value;
}

StageLog g_stage_log;

static void record_stage() {
  std::wstring stage = stage_text();
  std::lock_guard<std::mutex> hold(g_stage_log.mutex);
  if (g_stage_log.stages.empty() || g_stage_log.stages.back() != stage) g_stage_log.stages.push_back(stage);
}

void StageLog::start() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    stages.clear();
  }
  set_job_listener(record_stage);
}

void StageLog::stop() { set_job_listener(NULL); }

bool StageLog::saw(const std::wstring& prefix) {
  std::lock_guard<std::mutex> hold(mutex);
  for (const std::wstring& s : stages)
    if (s.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

bool process_ended(DWORD pid, DWORD limit_ms) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return true;
  bool ended = WaitForSingleObject(process, limit_ms) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}
