// Pre-flight checks of a launcher folder, each refusal and warning with the
// folder or the free space that causes it; the free-space query replaced
// through its seam where a full drive cannot be made.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/text.h"
#include "pipeline/preflight.h"
#include "support/temp_folder.h"

namespace {

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? (char)c : '?';
  return out;
}

// A folder of the build tree, outside the system's temporary folder.
std::wstring work_folder(const wchar_t* name) {
  std::string unix_path = std::string(TELVAR_BINARY_DIR) + "/tests/cli/preflight_work";
  std::wstring folder = L"Z:";
  for (char c : unix_path) folder += c == '/' ? L'\\' : (wchar_t)c;
  CreateDirectoryW(folder.c_str(), NULL);
  folder = join(folder, name);
  CreateDirectoryW(folder.c_str(), NULL);
  return folder;
}

uint64_t g_free = 0;
bool g_known = true;
bool fake_free_space(const wchar_t*, uint64_t* free_bytes) {
  *free_bytes = g_free;
  return g_known;
}

std::wstring only_text(const PreflightReport& r, int32_t verdict) {
  std::wstring all;
  for (int32_t i = 0; i < r.count; i++)
    if (r.findings[i].verdict == verdict) all += std::wstring(all.empty() ? L"" : L" | ") + r.findings[i].text;
  return all;
}

class Preflight : public ::testing::Test {
 protected:
  void TearDown() override {
    set_free_space_query(NULL);
    SetEnvironmentVariableW(L"ProgramFiles", saved_program_files.empty() ? NULL : saved_program_files.c_str());
  }
  void SetUp() override {
    wchar_t value[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ProgramFiles", value, MAX_PATH);
    if (n > 0 && n < MAX_PATH) saved_program_files = value;
  }
  std::wstring saved_program_files;
};

TEST_F(Preflight, AHealthyFolderPassesAndKeepsNothingOfTheWriteTest) {
  std::wstring folder = work_folder(L"healthy");
  PreflightReport r;
  preflight_build(folder.c_str(), build_space_estimate(0, 0), &r);
  EXPECT_EQ(r.count, 0) << narrow(r.findings[0].text);
  EXPECT_TRUE(r.free_known);
  EXPECT_GT(r.free_bytes, 0u);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(join(folder, L"*.tmp").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(Preflight, EachRefusalAndWarningSaysItsCauseAndRemedy) {
  std::wstring base = work_folder(L"cases");
  std::wstring archive = join(base, L"Temp1_telvar.zip");
  CreateDirectoryW(archive.c_str(), NULL);
  std::wstring programs = join(base, L"Programs");
  CreateDirectoryW(programs.c_str(), NULL);
  std::wstring under_programs = join(programs, L"Telvar");
  CreateDirectoryW(under_programs.c_str(), NULL);
  std::wstring deep = base;
  while (deep.size() + KIT_PATH_ROOM <= PATH_UNITS - 1) {  // one name past what fits, wherever the test runs
    deep = join(deep, L"a deep folder name");
    CreateDirectoryW(deep.c_str(), NULL);
  }
  std::wstring temp = make_temp_folder(L"preflight");
  std::wstring missing = join(base, L"no such folder");

  struct Case {
    const char* name;
    std::wstring folder;
    uint64_t free_bytes;
    bool known;
    bool program_files;  // ProgramFiles names the folder's parent
    std::wstring refusal;
    std::wstring warning;
  } cases[] = {
      {"not enough space", base, 1ull << 30, true, false,
       L"Not enough free space for the build: it needs about 2.6 GB and the launcher's drive has 1.0 GB free. Free "
       L"some space, or move the launcher to another drive.",
       L""},
      {"space in megabytes", base, 300ull << 20, true, false,
       L"Not enough free space for the build: it needs about 2.6 GB and the launcher's drive has 300 MB free. Free "
       L"some space, or move the launcher to another drive.",
       L""},
      {"just enough space", base, build_space_estimate(100ull << 20, 50ull << 20), true, false, L"", L""},
      {"space unknown", base, 0, false, false, L"", L""},
      {"cannot be written", missing, 100ull << 30, true, false,
       L"The launcher's folder cannot be written (Windows error 3). Move the launcher to a folder of your own, "
       L"such as C:\\Games\\Telvar. The folder is " + missing + L".",
       L""},
      {"temporary folder", temp, 100ull << 30, true, false,
       L"The launcher is inside the system's temporary folder, which Windows cleans up. Move the launcher to a "
       L"folder of your own, such as C:\\Games\\Telvar.",
       L""},
      {"compressed archive", archive, 100ull << 30, true, false,
       L"The launcher runs from inside a compressed archive, whose files Windows removes. Unpack the archive first. "
       L"Move the launcher to a folder of your own, such as C:\\Games\\Telvar.",
       L""},
      {"program files", under_programs, 100ull << 30, true, true, L"",
       L"The launcher is under " + programs +
           L", where Windows redirects or refuses what programs write. Move the launcher to a folder of your own, "
           L"such as C:\\Games\\Telvar."},
      {"too deep", deep, 100ull << 30, true, false,
       L"The launcher's folder path is " + std::to_wstring(deep.size()) +
           L" characters long; the build kit's files need paths of up to 120 more, beyond what Windows allows "
           L"(259). Move the launcher to a shorter folder, such as C:\\Games\\Telvar.",
       L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_free = c.free_bytes;
    g_known = c.known;
    set_free_space_query(fake_free_space);
    SetEnvironmentVariableW(L"ProgramFiles", c.program_files ? programs.c_str() : L"C:\\Program Files");
    PreflightReport r;
    preflight_build(c.folder.c_str(), build_space_estimate(100ull << 20, 50ull << 20), &r);
    EXPECT_EQ(only_text(r, PREFLIGHT_REFUSAL), c.refusal) << narrow(only_text(r, PREFLIGHT_REFUSAL));
    EXPECT_EQ(only_text(r, PREFLIGHT_WARNING), c.warning) << narrow(only_text(r, PREFLIGHT_WARNING));
    EXPECT_EQ(r.refusals, c.refusal.empty() ? 0 : 1);
    EXPECT_EQ(r.free_known, c.known);
  }
  // Nothing was made where the folder was missing.
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PreflightEstimate, ArchivesUnpackedAndAMargin) {
  EXPECT_EQ(build_space_estimate(0, 0), BUILD_SPACE_MARGIN_BYTES);
  EXPECT_EQ(build_space_estimate(100, 50), 600 + BUILD_SPACE_MARGIN_BYTES);
  struct Case {
    uint64_t bytes;
    const wchar_t* text;
  } cases[] = {{0, L"0 MB"}, {300ull << 20, L"300 MB"}, {1ull << 30, L"1.0 GB"}, {(5ull << 30) / 2, L"2.5 GB"}};
  for (const Case& c : cases) {
    wchar_t out[32];
    format_bytes(out, 32, c.bytes);
    EXPECT_STREQ(out, c.text);
  }
}

}  // namespace
