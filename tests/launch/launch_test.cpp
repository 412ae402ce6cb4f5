// Starting the stand-in game through launch_game with the real window: the
// command line, the working folder, the eight TQA_ variables across launches,
// the exit report, the window minimised and restored, and the refusals.
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <sstream>
#include <string>

#include "core/state.h"
#include "launch/game_launch.h"
#include "library/catalog.h"
#include "support/window_harness.h"

// The stand-in's record: "name=value" lines.
static std::map<std::string, std::string> parse_record(const std::string& text) {
  std::map<std::string, std::string> items;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t equals = line.find('=');
    if (equals != std::string::npos) items[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return items;
}

static std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (char)c;  // the test folders are ASCII
  return out;
}

TEST(UpscaleFactorTest, HeightOver448RoundedUpWithinTwoToFour) {
  struct Case {
    int height, factor;
  } cases[] = {{0, 2},    {480, 2},  {720, 2},  {896, 2},  {897, 3},  {1080, 3},
               {1344, 3}, {1345, 4}, {1440, 4}, {1792, 4}, {2160, 4}, {4320, 4}};
  for (const Case& c : cases) EXPECT_EQ(upscale_factor_for_height(c.height), c.factor) << c.height;
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = open_launcher_window(L"launch");
    ASSERT_TRUE(g_state.main_window != NULL) << "no window: is DISPLAY an X server?";
    SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
    SetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", NULL);
    disc = join(folder, L"game disc.iso");
    write_disc(disc, "SXPE_100.01");
    ASSERT_EQ(add_entry(disc), 0);
    ASSERT_EQ(g_state.entries[0].status, DISC_OK);
  }
  void TearDown() override {
    pump_until([] { return g_state.running_entry < 0; }, 10000);
    SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
    SetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", NULL);
    close_launcher_window();
  }
  std::wstring record() { return join(game_dir, L"game_record.txt"); }
  bool wait_for_exit() { return pump_until([] { return g_state.running_entry < 0; }, 10000); }
  std::wstring folder, disc, game_dir;
};

TEST_F(LaunchTest, TwoLaunchesSetAndRemoveEveryVariable) {
  game_dir = install_standin_game(folder);
  HWND window = g_state.main_window;
  struct Case {
    const char* name;
    int32_t upscaled, vsync, no_gs_thread, no_gl_thread, fps_log, capture_seconds, start_level, minimize;
    std::map<std::string, std::string> variables;
  } cases[] = {
      {"everything on, native", 0, 1, 1, 1, 1, 3, 7, 1,
       {{"TQA_RENDERER", "gl"}, {"TQA_SCALE", "1"}, {"TQA_VSYNC", "1"}, {"TQA_MTGS", "0"},
        {"TQA_GLTHREAD", "0"}, {"TQA_FPSLOG", "1"}, {"TQA_GSREC_N", "150"}, {"TQA_LEVEL", "7@1"}}},
      {"everything off, upscaled", 1, 0, 0, 0, 0, 10, -1, 0,
       {{"TQA_RENDERER", "gl"},
        {"TQA_SCALE", std::to_string(upscale_factor_for_height(GetSystemMetrics(SM_CYSCREEN)))},
        {"TQA_GSREC_N", "500"}}},
      {"level 0, capture 1", 0, 0, 0, 0, 0, 1, 0, 0,
       {{"TQA_RENDERER", "gl"}, {"TQA_SCALE", "1"}, {"TQA_GSREC_N", "50"}, {"TQA_LEVEL", "0@1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(record().c_str());
    LauncherState& s = g_state;
    s.upscaled = c.upscaled;
    s.vsync = c.vsync;
    s.no_gs_thread = c.no_gs_thread;
    s.no_gl_thread = c.no_gl_thread;
    s.fps_log = c.fps_log;
    s.capture_seconds = c.capture_seconds;
    s.start_level = c.start_level;
    s.minimize = c.minimize;
    wcscpy(s.status_text, L"an earlier error");
    s.status_is_error = true;

    launch_game(0);
    EXPECT_EQ(s.running_entry, 0);
    EXPECT_TRUE(s.game_process != NULL);
    EXPECT_STREQ(s.status_text, L"");
    EXPECT_FALSE(s.status_is_error);
    EXPECT_EQ(IsIconic(window) != 0, c.minimize != 0);
    ASSERT_TRUE(wait_for_exit());
    EXPECT_FALSE(IsIconic(window));
    EXPECT_STREQ(s.status_text, L"");  // exit code 0 leaves the status line alone

    std::map<std::string, std::string> seen = parse_record(read_bytes(record()));
    std::string application = narrow(join(game_dir, L"mox1_wrapper.exe"));
    EXPECT_EQ(seen["command_line"], "\"" + application + "\" - \"" + narrow(disc) + "\"");
    EXPECT_EQ(seen["working_folder"], narrow(game_dir));
    std::map<std::string, std::string> variables;
    for (const auto& item : seen)
      if (item.first.compare(0, 4, "TQA_") == 0) variables.insert(item);
    EXPECT_EQ(variables, c.variables);
  }
}

TEST_F(LaunchTest, AFailedExitIsReportedInWordsAndTheWindowRestored) {
  game_dir = install_standin_game(folder);
  // The real game's process ends with each code; crash codes are explained
  // with their code in hex, the game's own codes are said to be exit codes.
  struct Case {
    const wchar_t* exit;
    const wchar_t* status;
  } cases[] = {
      {L"0xC0000005", L"The game closed: it touched memory it may not use (a crash) (0xC0000005). Open log shows "
                      L"what happened; please add it to a bug report."},
      {L"0xC0000135", L"The game closed: a library (DLL) it needs is missing (0xC0000135). Build again, and check "
                      L"whether your antivirus software removed a file."},
      {L"0xC000013A", L"The game closed: it was ended with Ctrl+C or its console window was closed (0xC000013A). "
                      L"Nothing is wrong if you closed it yourself."},
      {L"0xC0004321", L"The game closed with an error (0xC0004321). Open log shows what happened."},
      {L"3", L"The game closed with exit code 3. Open log shows what happened."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.exit));
    SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", c.exit);
    g_state.minimize = 1;
    launch_game(0);
    ASSERT_EQ(g_state.running_entry, 0);
    EXPECT_TRUE(IsIconic(g_state.main_window));
    ASSERT_TRUE(wait_for_exit());
    EXPECT_EQ(std::wstring(g_state.status_text), c.status) << narrow(g_state.status_text);
    EXPECT_TRUE(g_state.status_is_error);
    EXPECT_EQ(g_state.game_process, (HANDLE)NULL);
    EXPECT_FALSE(IsIconic(g_state.main_window));
  }
}

TEST_F(LaunchTest, ASecondLaunchWhileTheGameRunsDoesNothing) {
  game_dir = install_standin_game(folder);
  std::wstring other = join(folder, L"other.iso");
  write_disc(other, "SXPE_100.01");
  ASSERT_EQ(add_entry(other), 1);
  HANDLE hold = CreateEventW(NULL, TRUE, FALSE, L"telvar-launch-test-hold");
  ASSERT_TRUE(hold != NULL);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", L"telvar-launch-test-hold");
  g_state.minimize = 0;

  launch_game(0);
  ASSERT_EQ(g_state.running_entry, 0);
  HANDLE first = g_state.game_process;
  // The record can be deleted once the game has written and closed it.
  ASSERT_TRUE(pump_until([&] { return DeleteFileW(record().c_str()) != 0; }, 10000));

  launch_game(0);
  launch_game(1);
  g_state.selected = 1;
  SendMessageW(g_state.main_window, WM_KEYDOWN, VK_RETURN, 0);
  pump_for(500);
  EXPECT_EQ(GetFileAttributesW(record().c_str()), INVALID_FILE_ATTRIBUTES);  // no second game
  EXPECT_EQ(g_state.running_entry, 0);
  EXPECT_EQ(g_state.game_process, first);

  SetEvent(hold);
  EXPECT_TRUE(wait_for_exit());
  CloseHandle(hold);
  // Once it has ended, the next launch starts.
  SetEnvironmentVariableW(L"TELVAR_STANDIN_HOLD", NULL);
  launch_game(1);
  EXPECT_EQ(g_state.running_entry, 1);
  EXPECT_TRUE(wait_for_exit());
}

TEST_F(LaunchTest, MissingGameFilesAreReported) {
  wchar_t expected_folder[PATH_UNITS];
  game_folder(0, expected_folder);
  EXPECT_EQ(std::wstring(expected_folder), join(folder, L"games\\mox1\\build\\windows"));
  launch_game(0);
  EXPECT_EQ(g_state.running_entry, -1);
  EXPECT_EQ(std::wstring(g_state.status_text), L"The game files are not in " + std::wstring(expected_folder));
  EXPECT_TRUE(g_state.status_is_error);

  // The program without its library counts as missing too.
  game_dir = install_standin_game(folder);
  DeleteFileW(join(game_dir, L"mox1_game.dll").c_str());
  g_state.status_text[0] = 0;
  launch_game(0);
  EXPECT_EQ(g_state.running_entry, -1);
  EXPECT_EQ(std::wstring(g_state.status_text), L"The game files are not in " + game_dir);
}

TEST_F(LaunchTest, AProgramThatCannotStartIsReportedInWordsWithTheErrorCode) {
  game_dir = install_standin_game(folder);
  ASSERT_TRUE(write_bytes(join(game_dir, L"mox1_wrapper.exe"), "not a program"));
  launch_game(0);
  EXPECT_EQ(g_state.running_entry, -1);
  EXPECT_EQ(g_state.game_process, (HANDLE)NULL);
  EXPECT_TRUE(g_state.status_is_error);
  // A file that is no program: the cause in words, the Windows error kept.
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"Could not start mox1_wrapper.exe: the file is not a valid Windows program (Windows error 193). It is "
            L"damaged or incomplete; build again.")
      << "status: " << narrow(g_state.status_text);
  wchar_t renderer[8] = L"";
  GetEnvironmentVariableW(L"TQA_RENDERER", renderer, 8);
  EXPECT_STREQ(renderer, L"gl");  // the variables stay set
}

TEST_F(LaunchTest, DiscsThatAreNoLongerPlayableStartNothing) {
  game_dir = install_standin_game(folder);
  std::wstring revision = join(folder, L"revision.iso");
  write_disc(revision, "SXPE_100.01", false);
  ASSERT_EQ(add_entry(revision), 1);
  std::wstring unsupported = join(folder, L"japan.iso");
  write_disc(unsupported, "SXPJ_100.03");
  ASSERT_EQ(add_entry(unsupported), 2);
  g_state.minimize = 0;

  // Another revision of a buildable disc starts.
  launch_game(1);
  EXPECT_EQ(g_state.entries[1].status, DISC_OTHER_REVISION);
  EXPECT_EQ(g_state.running_entry, 1);
  ASSERT_TRUE(wait_for_exit());
  DeleteFileW(record().c_str());

  // The image replaced by something else since it was added; an unsupported
  // disc; indexes that name no entry: silently nothing.
  ASSERT_TRUE(write_bytes(disc, std::string(40000, 'x')));
  wcscpy(g_state.status_text, L"kept");
  for (int index : {0, 2, -1, 3, 64}) {
    SCOPED_TRACE(index);
    launch_game(index);
    EXPECT_EQ(g_state.running_entry, -1);
    EXPECT_STREQ(g_state.status_text, L"kept");
  }
  EXPECT_EQ(g_state.entries[0].status, DISC_NOT_PS2);
  pump_for(200);
  EXPECT_EQ(GetFileAttributesW(record().c_str()), INVALID_FILE_ATTRIBUTES);
}
