// The settings file: defaults, the load rules, renumbering on save, the
// sections a save must keep, and paths of any characters.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

#include "core/state.h"
#include "library/disc_identify.h"
#include "support/temp_folder.h"

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_state();
    folder = make_temp_folder(L"settings");
    wcscpy(g_state.launcher_dir, folder.c_str());
    wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  }
  void write_ini(const std::string& text) { ASSERT_TRUE(write_bytes(g_state.settings_path, text)); }
  int read_int(const wchar_t* section, const wchar_t* key) {
    return (int)GetPrivateProfileIntW(section, key, -999, g_state.settings_path);
  }
  std::wstring read_string(const wchar_t* section, const wchar_t* key) {
    wchar_t value[PATH_UNITS];
    GetPrivateProfileStringW(section, key, L"<missing>", value, PATH_UNITS, g_state.settings_path);
    return value;
  }
  std::string missing(const char* name) {
    std::string path;
    for (wchar_t c : folder) path += (char)c;  // the temporary folder is ASCII
    return path + "\\" + name;
  }
  std::wstring folder;
};

TEST_F(SettingsTest, NoFileGivesDefaultsAndTheFirstSaveCreatesIt) {
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.entry_count, 0);
  EXPECT_EQ(g_state.selected, -1);
  EXPECT_EQ(g_state.upscaled, 1);
  EXPECT_EQ(g_state.vsync, 0);
  EXPECT_EQ(g_state.no_gs_thread, 0);
  EXPECT_EQ(g_state.no_gl_thread, 0);
  EXPECT_EQ(g_state.fps_log, 0);
  EXPECT_EQ(g_state.capture_seconds, 3);
  EXPECT_EQ(g_state.start_level, -1);
  EXPECT_EQ(g_state.minimize, 1);
  save_settings();
  EXPECT_EQ(read_int(L"library", L"count"), 0);
  EXPECT_EQ(read_int(L"library", L"selected"), -1);
  EXPECT_EQ(read_int(L"settings", L"capture_seconds"), 3);
  EXPECT_EQ(read_int(L"settings", L"start_level"), -1);
}

TEST_F(SettingsTest, LoadRules) {
  const struct {
    const char* settings;
    int capture_seconds;
    int start_level;
    int upscaled;
  } cases[] = {
      {"capture_seconds=0\nstart_level=19\n", 3, -1, 1},
      {"capture_seconds=11\nstart_level=-2\n", 3, -1, 1},
      {"capture_seconds=10\nstart_level=18\n", 10, 18, 1},
      {"capture_seconds=1\nstart_level=-1\nupscaled=0\n", 1, -1, 0},
      {"capture_seconds=many\nstart_level=x\nupscaled=7\n", 3, 0, 7},  // text reads as 0
  };
  for (const auto& c : cases) {
    reset_state();
    SetUp();
    write_ini(std::string("[settings]\n") + c.settings);
    load_settings(add_stored_disc);
    EXPECT_EQ(g_state.capture_seconds, c.capture_seconds) << c.settings;
    EXPECT_EQ(g_state.start_level, c.start_level) << c.settings;
    EXPECT_EQ(g_state.upscaled, c.upscaled) << c.settings;
  }
}

TEST_F(SettingsTest, LibraryGapsAreClosedAndSelectionClamped) {
  write_ini("[library]\ncount=3\ndisc0=" + missing("a.iso") + "\ndisc2=" + missing("c.iso") +
            "\nselected=7\nextra=kept?\n");
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 2);
  EXPECT_EQ(g_state.selected, 1);  // above the last entry: clamped to it
  EXPECT_EQ(g_state.entries[1].status, DISC_NOT_FOUND);
  save_settings();
  EXPECT_EQ(read_int(L"library", L"count"), 2);
  EXPECT_EQ(read_string(L"library", L"disc1"), std::wstring(folder + L"\\c.iso"));
  EXPECT_EQ(read_string(L"library", L"disc2"), L"<missing>");
  EXPECT_EQ(read_string(L"library", L"extra"), L"<missing>");  // the section is written anew
}

TEST_F(SettingsTest, SelectionDefaultsAndNegativeValues) {
  write_ini("[library]\ncount=1\ndisc0=" + missing("a.iso") + "\n");
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.selected, 0);  // missing key with a non-empty library

  reset_state();
  SetUp();
  write_ini("[library]\ncount=3\ndisc0=" + missing("a.iso") + "\ndisc1=" + missing("b.iso") + "\ndisc2=" +
            missing("c.iso") + "\nselected=-5\n");
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.selected, -5);  // negative means none and is kept as it is
  save_settings();
  EXPECT_EQ(read_int(L"library", L"selected"), -5);
}

TEST_F(SettingsTest, ACountBeyondTheSignedRangeStillReadsTheStoredPaths) {
  // The profile function returns the count unsigned: 4294967295 (or -1, the
  // same bits) is "more than 64", not "none", and the paths under it must not
  // be dropped and then wiped by the next save.
  for (const char* count : {"4294967295", "-1", "3000000000"}) {
    reset_state();
    SetUp();
    write_ini(std::string("[library]\ncount=") + count + "\ndisc0=" + missing("a.iso") + "\ndisc1=" +
              missing("b.iso") + "\n");
    load_settings(add_stored_disc);
    EXPECT_EQ(g_state.entry_count, 2) << count;
    save_settings();
    EXPECT_EQ(read_string(L"library", L"disc1"), folder + L"\\b.iso") << count;
  }
}

TEST_F(SettingsTest, OnlySixtyFourPathsAreRead) {
  std::string ini = "[library]\ncount=70\n";
  for (int i = 0; i < 70; i++) ini += "disc" + std::to_string(i) + "=" + missing(("d" + std::to_string(i)).c_str()) + "\n";
  write_ini(ini);
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.entry_count, 64);
  EXPECT_EQ(std::wstring(g_state.entries[63].path), folder + L"\\d63");
}

TEST_F(SettingsTest, SaveKeepsOtherSectionsAndKeys) {
  write_ini("[build]\nrelease_url=D:\\releases\nlevels=1,2\n[mox1]\nkit_version=7\nbuilt_version=7\n"
            "[settings]\nvsync=1\nmy_key=mine\n");
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.vsync, 1);
  g_state.fps_log = 1;
  save_settings();
  EXPECT_EQ(read_string(L"build", L"release_url"), L"D:\\releases");
  EXPECT_EQ(read_string(L"build", L"levels"), L"1,2");
  EXPECT_EQ(read_string(L"mox1", L"kit_version"), L"7");
  EXPECT_EQ(read_string(L"mox1", L"built_version"), L"7");
  EXPECT_EQ(read_string(L"settings", L"my_key"), L"mine");
  EXPECT_EQ(read_int(L"settings", L"fps_log"), 1);
}

TEST_F(SettingsTest, PathsOfAnyCharactersSurviveSaveAndLoad) {
  const std::wstring names[] = {L"Ünïcode диск 游戏.iso", L"emoji \U0001F680 disc.iso", L"a=b;c.iso"};
  for (const std::wstring& name : names) {
    LibraryEntry& e = g_state.entries[g_state.entry_count++];
    wcscpy(e.path, join(folder, name).c_str());
  }
  g_state.selected = 2;
  save_settings();
  // A new file starts as UTF-16 with its byte-order mark.
  EXPECT_EQ(read_bytes(g_state.settings_path).substr(0, 2), std::string("\xff\xfe"));

  std::wstring ini = g_state.settings_path;
  reset_state();
  wcscpy(g_state.settings_path, ini.c_str());
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 3);
  for (int i = 0; i < 3; i++) EXPECT_EQ(std::wstring(g_state.entries[i].path), join(folder, names[i]));
  EXPECT_EQ(g_state.selected, 2);
}

// text as UTF-16 bytes without a byte-order mark, in either byte order.
static std::string unmarked_utf16(const std::wstring& text, bool big_endian) {
  std::string bytes;
  for (wchar_t unit : text) {
    char low = (char)(unit & 0xFF), high = (char)(unit >> 8);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

TEST_F(SettingsTest, AFileWrittenByHandKeepsPathsOfAnyCharacters) {
  // A user who sets the release address with a text editor leaves a file with
  // no UTF-16 byte-order mark (plain 8-bit text, or UTF-8 with its own mark).
  // The profile functions would go on writing such a file in the 8-bit code
  // page, and a path that it cannot hold would come back as question marks.
  const struct {
    const char* label;
    std::string bytes;
    std::wstring release_url;
  } cases[] = {
      {"8-bit", "[build]\r\nrelease_url=D:\\releases\r\n[mox1]\r\nkit_version=7\r\n", L"D:\\releases"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[build]\r\nrelease_url=D:\\caf\xC3\xA9\r\n[mox1]\r\nkit_version=7\r\n",
       L"D:\\caf\u00e9"},
      // Read as 8-bit text these hold nothing, and the first save used to
      // write over them.
      {"UTF-16 without mark", unmarked_utf16(L"[build]\r\nrelease_url=D:\\\u6e38\r\n[mox1]\r\nkit_version=7\r\n", false),
       L"D:\\\u6e38"},
      {"UTF-16 big-endian without mark",
       unmarked_utf16(L"[build]\r\nrelease_url=D:\\\u6e38\r\n[mox1]\r\nkit_version=7\r\n", true), L"D:\\\u6e38"},
  };
  const std::wstring names[] = {L"\u00dcn\u00efcode \u0434\u0438\u0441\u043a \u6e38\u620f.iso",
                                L"emoji \U0001F680 disc.iso"};
  for (const auto& c : cases) {
    reset_state();
    SetUp();
    write_ini(c.bytes);
    load_settings(add_stored_disc);
    for (const std::wstring& name : names) {
      LibraryEntry& e = g_state.entries[g_state.entry_count++];
      wcscpy(e.path, join(folder, name).c_str());
    }
    save_settings();

    std::wstring ini = g_state.settings_path;
    reset_state();
    wcscpy(g_state.settings_path, ini.c_str());
    load_settings(add_stored_disc);
    ASSERT_EQ(g_state.entry_count, 2) << c.label;
    for (int i = 0; i < 2; i++) EXPECT_EQ(std::wstring(g_state.entries[i].path), join(folder, names[i])) << c.label;
    // What the user wrote is still there for the build.
    EXPECT_EQ(read_string(L"build", L"release_url"), c.release_url) << c.label;
    EXPECT_EQ(read_string(L"mox1", L"kit_version"), L"7") << c.label;
  }
}

TEST_F(SettingsTest, AStoredPathTooLongForTheLibraryIsNotReadCut) {
  // The profile function cuts a value to the buffer; a cut path names another
  // file and must not become an entry. A path of 259 units still fits.
  std::string base = missing("");
  std::string fits = base + std::string(259 - base.size() - 4, 'f') + ".iso";
  std::string longer = base + std::string(300 - base.size() - 4, 'x') + ".iso";
  ASSERT_EQ(fits.size(), 259u);
  write_ini("[library]\ncount=3\ndisc0=" + longer + "\ndisc1=" + fits + "\ndisc2=" + missing("b.iso") + "\n");
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 2);
  EXPECT_EQ(std::wstring(g_state.entries[0].path), std::wstring(fits.begin(), fits.end()));
  EXPECT_EQ(std::wstring(g_state.entries[1].path), folder + L"\\b.iso");
}

TEST_F(SettingsTest, AReadOnlyFileIsLeftAsItIs) {
  // The user made the file read-only: a save never replaces it (with a UTF-16
  // copy or anything else), and says that it could not save.
  write_ini("[build]\r\nrelease_url=D:\\releases\r\n");
  ASSERT_TRUE(SetFileAttributesW(g_state.settings_path, FILE_ATTRIBUTE_READONLY));
  load_settings(add_stored_disc);
  g_state.vsync = 1;
  save_settings();
  EXPECT_EQ(read_bytes(g_state.settings_path), "[build]\r\nrelease_url=D:\\releases\r\n");
  EXPECT_EQ(std::wstring(g_state.status_text), L"Could not save the settings: telvar.ini is read-only.");
  EXPECT_NE(GetFileAttributesW(g_state.settings_path) & FILE_ATTRIBUTE_READONLY, 0u);
  SetFileAttributesW(g_state.settings_path, FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SettingsTest, ARefusedSaveBlamesTheFolderOnlyWhenItRefusesFiles) {
  // A folder named telvar.ini refuses the save with "access denied", yet the
  // launcher's folder takes files: moving the launcher would not help, so
  // the text must not send the user there.
  ASSERT_TRUE(CreateDirectoryW(g_state.settings_path, NULL));
  g_state.vsync = 1;
  save_settings();
  EXPECT_TRUE(g_state.status_is_error);
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"Could not save the settings: telvar.ini cannot be replaced (access denied). Check that no folder "
            L"or program holds that name.");
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(join(folder, L"*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_EQ(names, std::vector<std::wstring>{L"telvar.ini"}) << "the probe left nothing behind";
  RemoveDirectoryW(g_state.settings_path);
}

TEST_F(SettingsTest, AHandWrittenUtf8FileIsReadAsUtf8) {
  // Text editors save UTF-8 without a mark by default; the profile functions
  // would read such a file in the 8-bit code page and turn every non-ASCII
  // character of a path or of the release address into something else.
  const std::wstring disc = folder + L"\\\u0438\u0433\u0440\u044b \u00e9t\u00e9.iso";
  std::string disc_utf8;
  for (wchar_t c : disc) {
    if (c < 0x80) {
      disc_utf8 += (char)c;
    } else {  // two-byte sequences cover the letters used here
      disc_utf8 += (char)(0xC0 | (c >> 6));
      disc_utf8 += (char)(0x80 | (c & 0x3F));
    }
  }
  write_ini("[build]\r\nrelease_url=D:\\caf\xC3\xA9\r\n[library]\r\ncount=1\r\ndisc0=" + disc_utf8 + "\r\n");
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 1);
  EXPECT_EQ(std::wstring(g_state.entries[0].path), disc);
  EXPECT_EQ(read_string(L"build", L"release_url"), L"D:\\caf\u00e9");

  // Bytes that are not UTF-8 are still read as the profile functions read them.
  reset_state();
  SetUp();
  write_ini("[build]\r\nrelease_url=D:\\caf\xE9\r\n");
  wchar_t expected[PATH_UNITS];
  GetPrivateProfileStringW(L"build", L"release_url", L"", expected, PATH_UNITS, g_state.settings_path);
  load_settings(add_stored_disc);
  save_settings();
  EXPECT_EQ(read_string(L"build", L"release_url"), expected);
}

TEST_F(SettingsTest, AFileThatIsNoTextIsKeptAsideAndNeverWrittenOver) {
  // Bytes the profile functions cannot read: the launcher starts without
  // settings, and what the file held is kept under the first free ".bad"
  // name rather than lost to the next save.
  const std::string first("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12);  // a picture's first bytes
  const std::string second("\x00\x00\x00\x00", 4);
  const std::wstring bad = join(folder, L"telvar.ini.bad"), bad2 = join(folder, L"telvar.ini.bad2");
  write_ini(first);
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.entry_count, 0);
  EXPECT_EQ(read_bytes(bad), first);
  save_settings();
  EXPECT_EQ(read_int(L"library", L"count"), 0) << "a fresh file is written in its place";

  write_ini(second);
  load_settings(add_stored_disc);
  EXPECT_EQ(read_bytes(bad), first) << "an older file set aside is never replaced";
  EXPECT_EQ(read_bytes(bad2), second);
}

TEST_F(SettingsTest, AFileSetAsideIsAnnouncedOnceByTheNameItWasKeptAs) {
  const std::string picture("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12);
  const std::string text_after_zeros = "[build]\r\nrelease_url=D:\\r\n" + std::string(300, '\0') + "[more]\r\nk=1\r\n";
  const struct {
    const char* label;
    std::string bytes;  // null: the file that the case before left
    const wchar_t* said;
  } cases[] = {
      {"no text at all", picture,
       L"telvar.ini could not be read and was kept as telvar.ini.bad; the launcher started without its library "
       L"and settings."},
      {"no text again: the next free name", std::string("\x00\x00\x00\x00", 4),
       L"telvar.ini could not be read and was kept as telvar.ini.bad2; the launcher started without its library "
       L"and settings."},
      {"the same file at the next start", "", L""},
      {"text, then zeros, then text", text_after_zeros,
       L"Part of telvar.ini could not be read; the file as it was is kept as telvar.ini.bad3."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (!c.bytes.empty()) write_ini(c.bytes);
    g_state.status_text[0] = 0;
    g_state.status_is_error = false;
    load_settings(add_stored_disc);
    if (c.bytes.empty()) save_settings();  // as the first run leaves it
    EXPECT_EQ(std::wstring(g_state.status_text), c.said);
    EXPECT_EQ(g_state.status_is_error, c.said[0] != 0);
  }
}

TEST_F(SettingsTest, AReadableFileWithAZeroTailIsKeptAndConverted) {
  // A write cut short by a power failure leaves the file's text followed by
  // zero bytes. The text before the first zero byte is what the profile
  // functions read: its library and release address must survive. Only a
  // file with no section before its first zero byte is set aside.
  const std::string disc = missing("a.iso");
  const std::string body = "[build]\r\nrelease_url=D:\\releases\r\n[library]\r\ncount=1\r\ndisc0=" + disc + "\r\n";
  const std::string zeros(300, '\0');
  const struct {
    const char* label;
    std::string bytes;
    int entries;        // library entries read
    bool release_kept;  // release_url reads D:\releases
    bool copy_aside;    // the original bytes are also kept as telvar.ini.bad
    bool moved_aside;   // the file was set aside (telvar.ini is gone)
  } cases[] = {
      {"8-bit text and a zero tail", body + zeros, 1, true, false, false},
      {"UTF-8 with mark and a zero tail", "\xEF\xBB\xBF" + body + zeros, 1, true, false, false},
      {"cut in the middle of a key", body + "selec" + zeros, 1, true, false, false},
      {"text after the zeros", body + zeros + "[more]\r\nkey=1\r\n", 1, true, true, false},
      {"no section before the first zero", std::string("count=1\r\n") + zeros + body, 0, false, false, true},
      {"a header cut before its bracket", "[buil" + zeros + body, 0, false, false, true},
  };
  for (const auto& c : cases) {
    reset_state();
    SetUp();
    write_ini(c.bytes);
    const std::wstring bad = join(folder, L"telvar.ini.bad");
    load_settings(add_stored_disc);
    EXPECT_EQ(g_state.entry_count, c.entries) << c.label;
    EXPECT_EQ(read_string(L"build", L"release_url"), c.release_kept ? L"D:\\releases" : L"<missing>") << c.label;
    if (c.moved_aside || c.copy_aside)
      EXPECT_EQ(read_bytes(bad), c.bytes) << c.label;
    else
      EXPECT_EQ(GetFileAttributesW(bad.c_str()), INVALID_FILE_ATTRIBUTES) << c.label << ": set aside";
    if (!c.moved_aside) {
      // Converted without its zero tail: UTF-16 with a mark, no zero unit.
      std::string now = read_bytes(g_state.settings_path);
      ASSERT_GE(now.size(), 2u) << c.label;
      EXPECT_EQ(now.substr(0, 2), "\xff\xfe") << c.label;
      bool zero_unit = false;
      for (size_t i = 2; i + 1 < now.size(); i += 2) zero_unit |= now[i] == 0 && now[i + 1] == 0;
      EXPECT_FALSE(zero_unit) << c.label;
    }
  }
}

TEST_F(SettingsTest, SaveRewritesOnlyTheLibraryAndTheLaunchersSettings) {
  // Every line of other sections, comments and the user's own keys of the
  // settings section stay as they were written; section names are matched
  // regardless of letter case; the launcher's keys take the place of their
  // first line; a second library section (which the profile functions never
  // read) goes.
  write_ini("; my notes\r\n[build]\r\nrelease_url=D:\\releases\r\nlevels = 1,2\r\n"
            "[Settings]\r\nVSYNC = 1\r\nmy_key=mine\r\nvsync=1\r\n\r\n"
            "[mox1]\r\nkit_version=7\r\n[LIBRARY]\r\ncount=1\r\ndisc0=" + missing("a.iso") + "\r\nextra=x\r\n"
            "[other]\r\nk=v\r\n[library]\r\ndisc5=" + missing("z.iso"));
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 1);
  EXPECT_EQ(g_state.vsync, 1);
  g_state.vsync = 0;
  g_state.fps_log = 1;
  save_settings();
  EXPECT_EQ(g_state.status_text[0], 0) << "a save that worked says nothing";

  std::string bytes = read_bytes(g_state.settings_path);
  ASSERT_GE(bytes.size(), 2u);
  ASSERT_EQ(bytes.substr(0, 2), "\xff\xfe");
  std::string text;  // the ASCII of the UTF-16 text
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] ? '?' : bytes[i];
  EXPECT_EQ(text.find("; my notes\r\n[build]\r\nrelease_url=D:\\releases\r\nlevels = 1,2\r\n[Settings]\r\n"), 0u)
      << text;
  EXPECT_NE(text.find("\r\nvsync=0\r\nmy_key=mine\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nminimize=1\r\n\r\n[mox1]\r\nkit_version=7\r\n[library]\r\ncount=1\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[other]\r\nk=v\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("disc5"), std::string::npos) << text;
  EXPECT_EQ(text.find("extra"), std::string::npos) << text;
  EXPECT_EQ(text.find("VSYNC"), std::string::npos) << "one vsync line, written anew: " << text;
}

TEST_F(SettingsTest, AFailedSaveLeavesTheOldFileAndSaysSo) {
  // The new file cannot be made beside the old one (here a folder holds its
  // name): the old file stays byte for byte, and the status line says why.
  write_ini("[build]\r\nrelease_url=D:\\releases\r\n[library]\r\ncount=1\r\ndisc0=" + missing("a.iso") + "\r\n");
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 1);
  const std::string before = read_bytes(g_state.settings_path);
  const std::wstring blocker = join(folder, L"telvar.ini.new");
  ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), NULL));
  wcscpy(g_state.entries[g_state.entry_count++].path, join(folder, L"b.iso").c_str());
  g_state.vsync = 1;
  save_settings();
  EXPECT_EQ(read_bytes(g_state.settings_path), before);
  EXPECT_EQ(std::wstring(g_state.status_text).rfind(L"Could not save the settings: ", 0), 0u) << g_state.status_text;
  EXPECT_TRUE(g_state.status_is_error);
  RemoveDirectoryW(blocker.c_str());

  // Once the way is clear the next save writes everything.
  g_state.status_text[0] = 0;
  save_settings();
  EXPECT_EQ(g_state.status_text[0], 0) << g_state.status_text;
  EXPECT_EQ(read_int(L"library", L"count"), 2);
  EXPECT_EQ(read_int(L"settings", L"vsync"), 1);
  EXPECT_EQ(read_string(L"build", L"release_url"), L"D:\\releases");
}

// The launcher folder on a small file system that the test runner mounted
// (tests/core/tmpfs_test.py, as root), named by TELVAR_SMALL_DISK.
TEST(SettingsSmallDisk, ASaveOnAFullDiskLeavesTheOldFileWhole) {
  const char* where = getenv("TELVAR_SMALL_DISK");
  if (!where || !where[0]) GTEST_SKIP() << "TELVAR_SMALL_DISK is not set (tmpfs_test.py sets it)";
  std::wstring folder(where, where + strlen(where));
  reset_state();
  wcscpy(g_state.launcher_dir, folder.c_str());
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  const std::wstring filler = join(folder, L"filler.bin");
  DeleteFileW(filler.c_str());
  DeleteFileW(g_state.settings_path);

  // Paths of 200 characters: each library line takes about 420 bytes.
  auto disc = [&](int i) {
    std::wstring name = L"disc " + std::to_wstring(i) + L" " + std::wstring(180, L'x') + L".iso";
    return join(folder, name);
  };
  std::string ini = "[build]\r\nrelease_url=D:\\releases\r\n[mox1]\r\nkit_version=7\r\n[library]\r\ncount=8\r\n";
  for (int i = 0; i < 8; i++) {
    std::wstring path = disc(i);
    ini += "disc" + std::to_string(i) + "=" + std::string(path.begin(), path.end()) + "\r\n";
  }
  ini += "selected=3\r\n";
  ASSERT_TRUE(write_bytes(g_state.settings_path, ini));
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 8);
  for (int i = 8; i < 48; i++) wcscpy(g_state.entries[g_state.entry_count++].path, disc(i).c_str());
  const std::string before = read_bytes(g_state.settings_path);

  // Fill the disk, then leave it a few kilobytes: less than the new file needs.
  HANDLE f = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  static char block[4096];
  DWORD written = 0;
  while (WriteFile(f, block, sizeof block, &written, NULL) && written == sizeof block) {
  }
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(f, &size));
  ASSERT_GT(size.QuadPart, 3 * 4096) << "the file system took almost nothing";
  size.QuadPart = size.QuadPart / 4096 * 4096 - 3 * 4096;
  SetFilePointerEx(f, size, NULL, FILE_BEGIN);
  SetEndOfFile(f);
  CloseHandle(f);

  save_settings();
  EXPECT_EQ(read_bytes(g_state.settings_path), before) << "the old file was cut";
  EXPECT_EQ(std::wstring(g_state.status_text), L"Could not save the settings: the disk is full.");
  EXPECT_EQ(GetFileAttributesW(join(folder, L"telvar.ini.new").c_str()), INVALID_FILE_ATTRIBUTES);

  // With room again, everything is saved, the other sections with it.
  ASSERT_TRUE(DeleteFileW(filler.c_str()));
  g_state.status_text[0] = 0;
  save_settings();
  EXPECT_EQ(g_state.status_text[0], 0) << g_state.status_text;
  std::wstring path = g_state.settings_path;
  reset_state();
  wcscpy(g_state.settings_path, path.c_str());
  load_settings(add_stored_disc);
  ASSERT_EQ(g_state.entry_count, 48);
  EXPECT_EQ(std::wstring(g_state.entries[47].path), disc(47));
  EXPECT_EQ(g_state.selected, 3);
  wchar_t value[PATH_UNITS];
  GetPrivateProfileStringW(L"build", L"release_url", L"", value, PATH_UNITS, path.c_str());
  EXPECT_EQ(std::wstring(value), L"D:\\releases");
  GetPrivateProfileStringW(L"mox1", L"kit_version", L"", value, PATH_UNITS, path.c_str());
  EXPECT_EQ(std::wstring(value), L"7");
  DeleteFileW(path.c_str());
}

TEST_F(SettingsTest, TheWindowPlaceSurvivesSaveAndLoadAndOtherLinesStay) {
  // The window section is the launcher's: written anew in place of the first
  // one (a second one goes), added at the end when missing, and left as the
  // file has it while the place is unknown.
  const std::string others = "; notes\r\n[build]\r\nrelease_url=D:\\r\r\n[mox1]\r\nkit_version=7\r\n";
  write_ini(others + "[Window]\r\nx=1\r\nwidth=5\r\nheight=3\r\nmine=keep?\r\n[other]\r\nk=v\r\n[window]\r\ny=9\r\n");
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.window_width, 5);
  g_state.window_x = -1300;  // a monitor left of the primary one
  g_state.window_y = 40;
  g_state.window_width = 1024;
  g_state.window_height = 700;
  g_state.window_maximized = 1;
  ASSERT_TRUE(save_settings());
  std::string bytes = read_bytes(g_state.settings_path);
  std::string text;  // the ASCII of the UTF-16 text
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] ? '?' : bytes[i];
  EXPECT_EQ(text.find(others), 0u) << text;
  EXPECT_NE(text.find("[window]\r\nx=-1300\r\ny=40\r\nwidth=1024\r\nheight=700\r\nmaximized=1\r\n[other]\r\nk=v\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("y=9"), std::string::npos) << text;
  EXPECT_EQ(text.find("mine"), std::string::npos) << text;

  reset_state();
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.window_x, -1300);
  EXPECT_EQ(g_state.window_y, 40);
  EXPECT_EQ(g_state.window_width, 1024);
  EXPECT_EQ(g_state.window_height, 700);
  EXPECT_EQ(g_state.window_maximized, 1);

  // No section: one is added after the others once the place is known.
  write_ini(others);
  reset_state();
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.window_width, 0);
  ASSERT_TRUE(save_settings());
  EXPECT_EQ(read_int(L"window", L"width"), -999) << "an unknown place is not written";
  g_state.window_width = 800;
  g_state.window_height = 600;
  ASSERT_TRUE(save_settings());
  EXPECT_EQ(read_int(L"window", L"width"), 800);
  EXPECT_EQ(read_int(L"window", L"height"), 600);
  EXPECT_EQ(read_int(L"window", L"maximized"), 0);
  EXPECT_EQ(read_int(L"mox1", L"kit_version"), 7);

  // A place that is no size reads as unknown, and the file's lines stay.
  write_ini("[window]\r\nx=3\r\nwidth=0\r\nheight=-4\r\nmaximized=1\r\n");
  reset_state();
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  load_settings(add_stored_disc);
  EXPECT_EQ(g_state.window_x, 0);
  EXPECT_EQ(g_state.window_width, 0);
  EXPECT_EQ(g_state.window_maximized, 0);
  ASSERT_TRUE(save_settings());
  EXPECT_EQ(read_int(L"window", L"x"), 3);
  EXPECT_EQ(read_int(L"window", L"height"), -4);
}

// Run by tmpfs_test.py, which mounts a folder read-only (as root)
// with a telvar.ini in it and names it in TELVAR_READ_ONLY_FOLDER.
TEST(SettingsReadOnlyFolder, AFailedSaveNamesTheFolderAndSaysWhatToDo) {
  const char* where = getenv("TELVAR_READ_ONLY_FOLDER");
  if (!where || !where[0]) GTEST_SKIP() << "TELVAR_READ_ONLY_FOLDER is not set (tmpfs_test.py sets it)";
  std::wstring folder(where, where + strlen(where));
  reset_state();
  wcscpy(g_state.launcher_dir, folder.c_str());
  wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
  const std::string before = read_bytes(g_state.settings_path);
  load_settings(add_stored_disc);
  g_state.vsync = 1;
  save_settings();
  EXPECT_TRUE(g_state.status_is_error);
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"Could not save the settings. The launcher's folder is read-only: move the launcher to a folder you "
            L"can write to, such as C:\\Games\\Telvar or one in your Documents.");
  EXPECT_EQ(read_bytes(g_state.settings_path), before);
}
