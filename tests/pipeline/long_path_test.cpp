// A launcher whose own PATH is 8192 characters or longer: the build script
// gets the compiler and interpreter folders in front of that PATH, whole. A
// program of its own, so that no other test meets the long PATH.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/state.h"
#include "pipeline/build_runner.h"
#include "pipeline/build_test_support.h"

namespace {

TEST(BuildRunnerLongPath, ScriptGetsTheWholePathAfterTheToolchainFolders) {
  std::wstring root = fresh_work_folder("long_path");
  std::wstring kit = join(root, L"kit"), toolchain = join(root, L"toolchain"), disc = join(root, L"disc.iso");
  std::filesystem::create_directories(std::filesystem::path(kit));
  write_file_w(join(kit, L"build.py"), "# stand-in\n");
  write_file_w(disc, "disc");
  reset_state();
  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", L"success");
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"0");

  wchar_t original[8192];
  DWORD n = GetEnvironmentVariableW(L"PATH", original, 8192);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 8192u);
  std::wstring long_path = std::wstring(original) + L";";
  while (long_path.size() < 8200) long_path += L"C:\\not\\a\\folder;";
  SetEnvironmentVariableW(L"PATH", long_path.c_str());

  bool ok = run_build_tool(kit.c_str(), toolchain.c_str(), standin_interpreter().c_str(), disc.c_str(), L"pal", L"0");
  EXPECT_TRUE(ok) << std::string(error_text().begin(), error_text().end());
  std::string expected;
  for (wchar_t c : toolchain + L"\\zig;" + toolchain + L"\\python;" + long_path) expected += (char)c;
  EXPECT_EQ(record_value(kit, "PATH"), expected);
  wchar_t after[16384];
  EXPECT_EQ(GetEnvironmentVariableW(L"PATH", after, 16384), long_path.size());
  EXPECT_EQ(std::wstring(after), long_path) << "the launcher's own PATH is left as it was";
}

}  // namespace
