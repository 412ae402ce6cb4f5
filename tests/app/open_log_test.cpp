// Open log always answers, through the real window: it opens the log, or
// says why it cannot (no log yet, of the game or of the build; the shell
// could not open it); and a failed build's end leaves the message line to the
// build's error until a command says something newer.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "app/commands.h"
#include "core/state.h"
#include "pipeline/job_status.h"
#include "support/window_harness.h"
#include "ui/hit_regions.h"

class OpenLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = open_launcher_window(L"open_log");
    ASSERT_TRUE(g_state.main_window != NULL) << "no window: is DISPLAY an X server?";
  }
  void TearDown() override {
    reset_job_status();
    close_launcher_window();
  }
  std::wstring folder;
};

static bool txt_files_have_a_program() {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".txt", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST_F(OpenLogTest, OpenLogAlwaysAnswers) {
  std::wstring disc = join(folder, L"pal.iso");
  write_disc(disc, "SXPE_100.01");
  ASSERT_EQ(add_entry(disc), 0);
  g_state.selected = 0;
  const std::wstring game_log = join(folder, L"games\\mox1\\build\\windows\\mox1_log.txt");
  struct Case {
    const char* name;
    bool built, with_log, failed;
    std::wstring text;
    bool error;
  } cases[] = {
      {"not built, no build log", false, false, false,
       L"No build log yet: it is written once a build runs the build script.", false},
      {"its build failed before the build script ran", false, false, true,
       L"No build log yet: it is written once a build runs the build script.", false},
      {"built, no game log", true, false, false, L"No log yet: it is written when the game runs.", false},
      // Windows says 1155 (no association); Wine tries the log as a program and says 193.
      {"built, the shell has no program for the log", true, true, false,
       L"Could not open " + game_log + L": no program is set to open .txt files (Windows error *). Open it with a text editor.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.with_log && txt_files_have_a_program()) {
      ADD_FAILURE() << "this Wine prefix opens .txt files: the shell's refusal cannot be shown here";
      continue;
    }
    if (c.built) install_standin_game(folder);
    if (c.with_log) {
      ASSERT_TRUE(write_bytes(game_log, "frame timings\r\n"));
    }
    g_job.failed = c.failed;
    g_job.entry_index = c.failed ? 0 : -1;
    wcscpy(g_state.status_text, L"earlier");
    g_state.status_is_error = !c.error;
    dispatch_command(CMD_OPEN_LOG, 0);
    std::wstring said = g_state.status_text;
    size_t any = c.text.find(L'*');
    if (any == std::wstring::npos) {
      EXPECT_EQ(said, c.text);
    } else {  // the code in brackets is the platform's
      std::wstring before = c.text.substr(0, any), after = c.text.substr(any + 1);
      EXPECT_TRUE(said.size() > before.size() + after.size() && said.compare(0, before.size(), before) == 0 &&
                  said.compare(said.size() - after.size(), after.size(), after) == 0)
          << testing::PrintToString(said);
    }
    EXPECT_EQ(g_state.status_is_error, c.error);
  }
}

TEST_F(OpenLogTest, AFailedBuildsEndLeavesTheMessageLineToItsError) {
  wcscpy(g_state.status_text, L"Added 2 disc images.");
  g_job.serial = 7;
  g_job.failed = 1;
  g_job.entry_index = 0;
  SendMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 1, 7);
  EXPECT_STREQ(g_state.status_text, L"") << "an older text would hide the build's error";
  EXPECT_FALSE(g_state.status_is_error);

  // A build that succeeded says so in the status line, as before.
  g_job.serial = 8;
  g_job.failed = 0;
  SendMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 1, 8);
  EXPECT_STREQ(g_state.status_text, L"Built. Ready to play.");
}
