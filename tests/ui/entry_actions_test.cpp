// What a library entry can do, asked without a window: the table of
// entry_actions, and the commands that follow it.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/commands.h"
#include "core/state.h"
#include "pipeline/job_status.h"
#include "support/temp_folder.h"
#include "ui/entry_actions.h"
#include "ui/hit_regions.h"
#include "ui_fixture.h"

namespace {

const uint32_t P = ENTRY_PLAY, B = ENTRY_BUILD, RB = ENTRY_REBUILD, LOG = ENTRY_OPEN_LOG,
               FOLDER = ENTRY_GAME_FOLDER, RM = ENTRY_REMOVE, NB = ENTRY_NOT_BUILT, RUNS = ENTRY_GAME_RUNS;

std::string flag_names(uint32_t flags) {
  static const char* const NAMES[] = {"play", "build", "rebuild", "log", "folder", "remove", "not-built", "runs"};
  std::string out;
  for (int i = 0; i < 8; i++)
    if (flags & (1u << i)) out += std::string(out.empty() ? "" : " ") + NAMES[i];
  return out.empty() ? "none" : out;
}

enum { NO_JOB = -1, JOB_HERE = 0, JOB_OTHER = 1 };

TEST(EntryActionsTest, FollowTheDiscTheGameFilesTheRunningGameAndTheJob) {
  // Entry 0 is the disc under test, entry 1 another disc (of other_row).
  struct Case {
    const char* what;
    int32_t row;
    DiscStatus status;
    bool built;
    int32_t running;  // running_entry
    int job;          // NO_JOB, JOB_HERE, JOB_OTHER
    int32_t other_row;
    uint32_t expected;
  } cases[] = {
      {"built, nothing else happens", 0, DISC_OK, true, -1, NO_JOB, -1, P | RB | LOG | FOLDER | RM},
      {"another revision, built", 0, DISC_OTHER_REVISION, true, -1, NO_JOB, -1, P | RB | LOG | FOLDER | RM},
      {"not built", 0, DISC_OK, false, -1, NO_JOB, -1, B | RB | NB | LOG | FOLDER | RM},
      {"NTSC-U, another revision, not built", 1, DISC_OTHER_REVISION, false, -1, NO_JOB, -1,
       B | RB | NB | LOG | FOLDER | RM},
      {"its own game runs", 0, DISC_OK, true, 0, NO_JOB, -1, RUNS | LOG | FOLDER},
      {"another entry's game runs", 0, DISC_OK, true, 1, NO_JOB, -1, LOG | FOLDER | RM},
      {"not built while another game runs", 0, DISC_OK, false, 1, NO_JOB, -1, NB | LOG | FOLDER | RM},
      {"not built while another disc builds", 0, DISC_OK, false, -1, JOB_OTHER, -1, NB | LOG | FOLDER | RM},
      {"being built itself", 0, DISC_OK, true, -1, JOB_HERE, -1, LOG | FOLDER},
      {"another disc of its row builds its files", 0, DISC_OK, true, -1, JOB_OTHER, 0, LOG | FOLDER | RM},
      {"another row builds", 0, DISC_OK, true, -1, JOB_OTHER, 1, P | LOG | FOLDER | RM},
      {"known but not supported yet", 2, DISC_UNSUPPORTED, false, -1, NO_JOB, -1, RM},
      {"unknown disc", -1, DISC_UNKNOWN, false, -1, NO_JOB, -1, RM},
      {"image gone", -1, DISC_NOT_FOUND, false, -1, NO_JOB, -1, RM},
      {"not an image", -1, DISC_NOT_PS2, true, -1, NO_JOB, -1, RM},
      {"an unknown disc whose game was started before it changed", -1, DISC_UNKNOWN, false, 0, NO_JOB, -1, RUNS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fresh_state(1.0f);
    library_of_two(c.row, c.status);
    g_state.entries[1].catalog_row = c.other_row;
    if (c.built) use_built_folder();
    g_state.running_entry = c.running;
    if (c.job != NO_JOB) {
      g_job.running = 1;
      g_job.entry_index = c.job;
    }
    uint32_t actions = entry_actions(0);
    EXPECT_EQ(actions, c.expected) << flag_names(actions) << " instead of " << flag_names(c.expected);
  }
}

TEST(EntryActionsTest, AnIndexThatNamesNoEntryCanDoNothing) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  use_built_folder();
  for (int32_t index : {-1, 2, (int32_t)LIBRARY_CAPACITY, INT32_MIN}) EXPECT_EQ(entry_actions(index), 0u) << index;
}

// A launcher folder whose release address is a local folder that does not
// exist, so that a build that starts fails at once and never goes online.
class EntryCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_state(1.0f);
    folder = make_temp_folder(L"entry-commands");
    wcscpy(g_state.launcher_dir, folder.c_str());
    wcscpy(g_state.settings_path, join(folder, L"telvar.ini").c_str());
    WritePrivateProfileStringW(L"build", L"release_url", join(folder, L"no-release").c_str(),
                               g_state.settings_path);
    library_of_two(0, DISC_OK);  // not built: the launcher folder is empty
  }
  void TearDown() override {
    for (int i = 0; i < 200 && g_job.running; i++) Sleep(50);  // a job that started ends at once
  }
  std::wstring folder;
};

TEST_F(EntryCommandsTest, ThePrimaryActionStartsNoBuildWhileAGameRuns) {
  // Building replaces files a running game may share (both discs of a row
  // build into one kit); the Build button is drawn disabled then, and the
  // command asked by other means must not build either.
  g_state.running_entry = 1;
  ASSERT_EQ(entry_actions(0) & ENTRY_BUILD, 0u);
  dispatch_command(CMD_PRIMARY_ACTION, 0);
  EXPECT_EQ(g_job.running, 0);
  EXPECT_EQ(g_job.entry_index, -1) << "a job was prepared";
}

TEST_F(EntryCommandsTest, CommandsForAnEntryThatCanDoNothingChangeNothing) {
  library_of_two(-1, DISC_UNKNOWN);
  for (int32_t id : {CMD_PRIMARY_ACTION, CMD_OPEN_LOG, CMD_OPEN_GAME_FOLDER}) {
    SCOPED_TRACE(id);
    dispatch_command(id, 0);
    EXPECT_EQ(g_job.entry_index, -1);
    EXPECT_EQ(g_state.running_entry, -1);
    EXPECT_STREQ(g_state.status_text, L"");
  }
  wchar_t log[PATH_UNITS];
  EXPECT_FALSE(choose_log_path(0, log));
}

}  // namespace
