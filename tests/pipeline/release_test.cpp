// Release base, release addresses, the level list and the toolchain stamp.
#include <gtest/gtest.h>

#include "core/state.h"
#include "pipeline/build_test_support.h"
#include "pipeline/release.h"

namespace {

void use_settings(const std::wstring& folder, const std::string& ini) {
  reset_state();
  copy_text(g_state.settings_path, PATH_UNITS, join(folder, L"telvar.ini").c_str());
  write_file_w(g_state.settings_path, ini);
}

TEST(ReleaseBase, SeparatorAndTrailingSeparator) {
  std::wstring folder = fresh_work_folder("release_base");
  struct Case {
    const char* ini;
    const wchar_t* base;
    const wchar_t* separator;
    const wchar_t* description;
  } cases[] = {
      {"", L"https://github.com/project-telvar/telvar/releases/download", L"/",
       L"https://github.com/project-telvar/telvar/releases/download/mox1/mox1.json"},
      {"[build]\r\nrelease_url=http://127.0.0.1:8000/rel/\r\n", L"http://127.0.0.1:8000/rel", L"/",
       L"http://127.0.0.1:8000/rel/mox1/mox1.json"},
      {"[build]\r\nrelease_url=http://h/rel//\r\n", L"http://h/rel/", L"/", L"http://h/rel//mox1/mox1.json"},
      {"[build]\r\nrelease_url=HTTPS://H/R\r\n", L"HTTPS://H/R", L"/", L"HTTPS://H/R/mox1/mox1.json"},
      {"[build]\r\nrelease_url=D:\\releases\r\n", L"D:\\releases", L"\\", L"D:\\releases\\mox1\\mox1.json"},
      {"[build]\r\nrelease_url=D:\\releases\\\r\n", L"D:\\releases", L"\\", L"D:\\releases\\mox1\\mox1.json"},
      {"[build]\r\nrelease_url=\r\n", L"", L"\\", L"\\mox1\\mox1.json"},
      // Only the first four characters decide: "httpfiles" is a URL too.
      {"[build]\r\nrelease_url=httpfiles\\x\r\n", L"httpfiles\\x", L"/", L"httpfiles\\x/mox1/mox1.json"},
  };
  for (const Case& c : cases) {
    use_settings(folder, c.ini);
    wchar_t base[RELEASE_BASE_UNITS];
    const wchar_t* separator = nullptr;
    read_release_base(g_state.settings_path, base, &separator);
    EXPECT_STREQ(base, c.base) << c.ini;
    EXPECT_STREQ(separator, c.separator) << c.ini;
    wchar_t url[RELEASE_URL_UNITS];
    EXPECT_TRUE(release_file_url(url, base, separator, L"mox1", L"mox1.json"));
    EXPECT_STREQ(url, c.description) << c.ini;
  }
}

TEST(ReleaseBase, AddressTooLongIsReportedAsCut) {
  std::wstring base(1100, L'b');
  wchar_t url[RELEASE_URL_UNITS];
  EXPECT_TRUE(release_file_url(url, base.c_str(), L"/", L"mox1", L"mox1.json"));
  std::wstring name(120, L'n');
  EXPECT_FALSE(release_file_url(url, base.c_str(), L"/", L"mox1", name.c_str()));
  EXPECT_EQ(wcslen(url), (size_t)RELEASE_URL_UNITS - 1);
}

TEST(LevelList, SettingsThenDescriptionThenAllLevels) {
  std::wstring folder = fresh_work_folder("level_list");
  struct Case {
    const char* ini;
    const char* description_levels;
    const wchar_t* expected;
  } cases[] = {
      {"[build]\r\nlevels=3,4\r\n", "0,1", L"3,4"},
      {"[build]\r\nlevels=\r\n", "0,1", L"0,1"},
      {"", "0,1", L"0,1"},
      {"", "", L"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"},
      {"", "[1", L"[1"},  // passed on unchecked
  };
  for (const Case& c : cases) {
    use_settings(folder, c.ini);
    wchar_t levels[LEVEL_LIST_UNITS];
    read_level_list(g_state.settings_path, c.description_levels, levels);
    EXPECT_STREQ(levels, c.expected) << c.ini << " / " << c.description_levels;
  }
}

TEST(ToolchainStamp, ReadsTheFirstLineAndWritesTheBytesAlone) {
  std::wstring folder = fresh_work_folder("toolchain_stamp");
  wchar_t stamp[STAMP_UNITS];
  read_toolchain_stamp(folder.c_str(), stamp);
  EXPECT_STREQ(stamp, L"") << "missing file";

  struct Case {
    std::string file;
    std::wstring expected;
  } cases[] = {
      {"t1\r\n", L"t1"},
      {"t1\nsecond line\n", L"t1"},
      {"", L""},
      {"\xC3\xA9t\xC3\xA9", L"\u00e9t\u00e9"},
      {std::string(100, 'v'), std::wstring(63, L'v')},
  };
  for (const Case& c : cases) {
    write_file_w(join(folder, L"version.txt"), c.file);
    read_toolchain_stamp(folder.c_str(), stamp);
    EXPECT_EQ(std::wstring(stamp), c.expected) << c.file;
  }

  write_toolchain_stamp(folder.c_str(), "tools-7");
  EXPECT_EQ(read_file_w(join(folder, L"version.txt")), "tools-7");
  read_toolchain_stamp(folder.c_str(), stamp);
  EXPECT_STREQ(stamp, L"tools-7");

  // A folder that does not exist: nothing written, no failure.
  write_toolchain_stamp(join(folder, L"missing").c_str(), "x");
  EXPECT_FALSE(exists(join(folder, L"missing")));
}

}  // namespace
