// Release base, release addresses, the level list and the toolchain stamp.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/state.h"
#include "pipeline/build_test_support.h"
#include "pipeline/build_tree.h"
#include "pipeline/release.h"
#include "pipeline/release_description.h"

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

// A relative local base names a folder beside the launcher, not one in
// whatever folder the launcher was started from (a shortcut, a script or a
// shell gives any current folder).
TEST(ReleaseBase, RelativeFolderIsTheLaunchersNotTheCurrentOne) {
  std::wstring launcher = fresh_work_folder("relative_base");
  std::wstring elsewhere = fresh_work_folder("relative_base_elsewhere");
  for (const std::wstring& top : {launcher, elsewhere}) {
    std::filesystem::create_directories(std::filesystem::path(join(top, L"releases\\mox1")));
    std::filesystem::create_directories(std::filesystem::path(join(top, L"mox1")));
    std::string whose = top == launcher ? "the launcher's" : "the current folder's";
    write_file_w(join(top, L"releases\\mox1\\mox1.json"), whose + " release");
    write_file_w(join(top, L"mox1\\mox1.json"), whose + " folder");
  }
  wchar_t saved[PATH_UNITS];
  ASSERT_GT(GetCurrentDirectoryW(PATH_UNITS, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.c_str()));

  struct Case {
    const char* ini;
    const wchar_t* base;  // below the launcher's folder; nullptr: the folder itself
    const char* found;
  } cases[] = {
      {"[build]\r\nrelease_url=releases\r\n", L"releases", "the launcher's release"},
      {"[build]\r\nrelease_url=.\\releases\\\r\n", L".\\releases", "the launcher's release"},
      {"[build]\r\nrelease_url=releases/\r\n", L"releases", "the launcher's release"},
      {"[build]\r\nrelease_url=..\\relative_base\\releases\r\n", L"..\\relative_base\\releases",
       "the launcher's release"},
      // An empty base is the launcher's folder itself.
      {"[build]\r\nrelease_url=\r\n", nullptr, "the launcher's folder"},
  };
  for (const Case& c : cases) {
    use_settings(launcher, c.ini);
    wchar_t base[RELEASE_BASE_UNITS];
    const wchar_t* separator = nullptr;
    read_release_base(g_state.settings_path, base, &separator);
    EXPECT_STREQ(separator, L"\\") << c.ini;
    EXPECT_EQ(std::wstring(base), c.base ? join(launcher, c.base) : launcher) << c.ini;
    wchar_t url[RELEASE_URL_UNITS];
    EXPECT_TRUE(release_file_url(url, base, separator, L"mox1", L"mox1.json"));
    EXPECT_EQ(read_file_w(url), c.found) << c.ini;
  }
  // Rooted and absolute bases stay as they are.
  for (const wchar_t* absolute : {L"D:\\releases", L"\\\\server\\share\\releases", L"\\releases", L"/releases"}) {
    use_settings(launcher, "");
    WritePrivateProfileStringW(L"build", L"release_url", absolute, g_state.settings_path);
    wchar_t base[RELEASE_BASE_UNITS];
    const wchar_t* separator = nullptr;
    read_release_base(g_state.settings_path, base, &separator);
    EXPECT_STREQ(base, absolute);
  }
  SetCurrentDirectoryW(saved);
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

// A repeated build of the same release keeps its build output: the kit
// stamp written by one job reads back from the settings file equal to the
// version of the same description at the next job. The profile functions drop
// blanks and a pair of quotes around a value, so a version that would lose
// them must be trimmed or refused before it becomes a stamp.
TEST(KitStamp, RepeatedBuildOfTheSameReleaseKeepsItsOutput) {
  std::wstring folder = fresh_work_folder("kit_stamp_round_trip");
  use_settings(folder, "[settings]\r\nfullscreen=0\r\n");
  struct Case {
    const char* version;  // as the description's JSON text writes it
    bool accepted;        // a version the release may well carry: it must be read
  } cases[] = {
      {"7.1.0", true},
      {" 7.1.0 ", true},
      {"  v 1 (beta) ", true},
      {"7.1.0   ", true},
      {"\xC3\xA9t\xC3\xA9 ", true},
      {"7.1 \\\"final\\\" b2", true},
      {"\\\"7.1.0\\\"", false},
      {"'7.1.0'", false},
      {"7.1.0\\u00a0", false},
      {"\\u30007.1.0", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string text = std::string("{\"version\": \"") + c.version +
                       "\", \"toolchain_file\": \"t.zip\", \"kit_file\": \"k.zip\"}";
    ReleaseDescription desc;
    bool valid = parse_release_description(text.c_str(), &desc);
    if (c.accepted) {
      EXPECT_TRUE(valid) << c.version;
    }
    if (!valid) continue;
    std::wstring kit = join(folder, L"kit" + std::to_wstring(n++));
    std::wstring kept = join(kit, L"build\\windows\\obj\\kept.o");
    std::filesystem::create_directories(std::filesystem::path(kit + L"\\build\\windows\\obj"));
    write_file_w(kept, "object");
    wchar_t version[STAMP_UNITS];
    utf8_to_wide(desc.version, version, STAMP_UNITS);
    clear_stale_output(kit.c_str(), L"mox1", version);  // the first job: no stamp yet
    ASSERT_TRUE(exists(kept));
    clear_stale_output(kit.c_str(), L"mox1", version);  // the same release again
    EXPECT_TRUE(exists(kept)) << c.version << ": the stamp read back as \""
                              << std::string(desc.version) << "\" differs";
    WritePrivateProfileStringW(L"mox1", NULL, NULL, g_state.settings_path);
  }
  EXPECT_GT(n, 0);
}

}  // namespace
