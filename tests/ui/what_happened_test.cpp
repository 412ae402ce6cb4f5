// The selected row and the message line say what happened last: a build that
// failed or was cancelled, a game that is playing, a disc image that is gone,
// and a command's answer that came after a failed build's error.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/state.h"
#include "core/text.h"
#include "pipeline/build_job.h"
#include "pipeline/folder_lock.h"
#include "pipeline/preflight.h"
#include "support/temp_folder.h"
#include "pipeline/job_status.h"
#include "ui/draw_kit.h"
#include "ui/main_view.h"
#include "ui/ui_fixture.h"

namespace {

TEST(RowStatus, SaysWhatHappenedLast) {
  struct Case {
    const char* name;
    bool built;
    int failed_entry;  // entry of the job that ended failed, -1 for none
    bool cancelled;    // that job was cancelled
    int running;       // entry whose game runs, -1 for none
    const wchar_t* text;
    COLORREF colour;
  };
  const Case cases[] = {
      {"not built, nothing happened", false, -1, false, -1, L"Ready to build", COLOR_ACCENT},
      {"its first build failed", false, 0, false, -1, L"Build failed", COLOR_ERROR},
      {"its first build was cancelled", false, 0, true, -1, L"Build cancelled", COLOR_WARNING},
      {"another entry's build failed", false, 1, false, -1, L"Ready to build", COLOR_ACCENT},
      // A rebuild that failed gave the game from before it back: it plays.
      {"built, a rebuild failed", true, 0, false, -1, L"Ready to play", COLOR_SUCCESS},
      {"its game runs", true, -1, false, 0, L"Playing now", COLOR_SUCCESS},
      {"another entry's game runs", true, -1, false, 1, L"Ready to play", COLOR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_state(1.0f);
    library_of_two(0, DISC_OK);
    if (c.built) use_built_folder();
    g_job.failed = c.failed_entry >= 0;
    g_job.entry_index = c.failed_entry;
    g_job.cancel_requested = c.cancelled;
    g_state.running_entry = c.running;
    StatusLabel label = status_label(0);
    EXPECT_STREQ(label.text, c.text);
    EXPECT_EQ(label.colour, c.colour);
  }
  g_state.running_entry = -1;
}

// A build refused before it started (the launcher's folder cannot hold one)
// did not fail: nothing was tried. The row says that it cannot be built
// where the launcher is, and a build that did start and fail still reads as
// failed.
TEST(RowStatus, ARefusedBuildIsNotCalledFailed) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  // The test's launcher folder lies in the system's temporary folder, which
  // the checks before a build refuse.
  ASSERT_FALSE(prepare_build(0));
  ASSERT_EQ(g_job.failed, 1);
  StatusLabel label = status_label(0);
  EXPECT_STREQ(label.text, L"Cannot build here");
  EXPECT_EQ(label.colour, COLOR_ERROR);

  // The next job that starts, in a folder the checks let through, clears the
  // refusal: its own failure reads as a failure.
  wchar_t program[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, program, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  *wcsrchr(program, L'\\') = 0;  // beside the test program, outside the temporary folder
  std::wstring folder = make_test_folder_in(std::wstring(program) + L"\\refusal-work", L"launcher");
  copy_text(g_state.launcher_dir, PATH_UNITS, folder.c_str());
  set_free_space_query([](const wchar_t*, uint64_t* free_bytes) {
    *free_bytes = 1ull << 40;
    return true;
  });
  bool started = prepare_build(0);
  set_free_space_query(nullptr);
  ASSERT_TRUE(started);
  fail_build(L"The downloaded build kit is damaged (checksum). Try again.");
  release_build_lock();
  g_job.running = 0;
  EXPECT_STREQ(status_label(0).text, L"Build failed");
}

// Drawn whole, or cut with an ellipsis at the line's end.
static bool drawn(const std::vector<DrawnText>& texts, const std::wstring& text) {
  for (const DrawnText& d : texts) {
    if (d.text == text) return true;
    size_t cut = d.text.size() >= 4 && d.text.compare(d.text.size() - 3, 3, L"...") == 0 ? 3
                 : !d.text.empty() && d.text.back() == L'\u2026'                           ? 1
                                                                                           : 0;
    if (cut && d.text.size() - cut > 20 && text.compare(0, d.text.size() - cut, d.text, 0, d.text.size() - cut) == 0)
      return true;
  }
  return false;
}

TEST(MessageLine, SaysWhatHappenedLast) {
  const std::wstring gone =
      L"The disc image is gone. Put it back, or remove this entry and add it from where it is now: "
      L"C:\\discs\\first.iso";
  struct Case {
    const char* name;
    DiscStatus status;
    bool failed;            // the selected entry's build ended with an error
    const wchar_t* status_text;
    std::wstring shown;     // what the message line must show
    std::wstring hidden;    // what it must not
  };
  const Case cases[] = {
      // A command answered after the build had failed (Open log with no log
      // yet): its answer is the newer one, and a click must never seem to do nothing.
      {"a command after a failed build", DISC_OK, true, L"No build log yet.", L"No build log yet.",
       L"Could not download the kit."},
      {"a failed build alone", DISC_OK, true, L"", L"Could not download the kit.", L""},
      {"a disc image that is gone", DISC_NOT_FOUND, false, L"", gone, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh_state(1.0f);
    library_of_two(0, c.status);
    if (c.failed) {
      g_job.entry_index = 0;
      fail_build(L"Could not download the kit.");
    }
    copy_text(g_state.status_text, STATUS_TEXT_UNITS, c.status_text);
    std::vector<DrawnText> texts = record_texts(1100, 860);
    EXPECT_TRUE(drawn(texts, c.shown)) << narrow(c.shown);
    if (!c.hidden.empty()) {
      EXPECT_FALSE(drawn(texts, c.hidden)) << narrow(c.hidden);
    }
  }
}

TEST(DiscCard, AnImageBeingCheckedSaysSoRatherThanNone) {
  // Until the worker answers, "none" would claim the disc has no boot file.
  fresh_state(1.0f);
  library_of_two(-1, DISC_CHECKING);
  g_state.entries[0].serial[0] = 0;
  g_state.entries[0].md5[0] = 0;
  std::vector<DrawnText> texts = record_texts(1100, 860);
  EXPECT_FALSE(drawn(texts, L"none"));
  int checking = 0;
  for (const DrawnText& d : texts) checking += d.text == L"Checking\u2026";
  EXPECT_GE(checking, 3) << "the row, the boot executable and the MD5";
}

}  // namespace
