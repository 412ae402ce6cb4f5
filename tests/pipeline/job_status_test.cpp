// The build job's shared record: the progress throttle (on the real clock and
// across the tick count's wrap), the cut of long texts, what a failure leaves
// in place, and the job object handle's terminate/close order.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/state.h"
#include "pipeline/job_status.h"

namespace {

// A message-only window stands in for the launcher's window: it has a queue
// that PostMessageW can reach, and nothing is shown.
class JobStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_state();
    reset_job_status();
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_NE(window_, nullptr) << "error " << GetLastError();
    g_state.main_window = window_;
  }
  void TearDown() override {
    set_job_tick_source(NULL);
    set_job_listener(NULL);
    count_progress_messages();
    DestroyWindow(window_);
    reset_state();
    reset_job_status();
  }

  // Removes and counts the progress messages waiting for the window.
  int count_progress_messages() {
    int count = 0;
    MSG msg;
    while (PeekMessageW(&msg, window_, WM_APP_BUILD_PROGRESS, WM_APP_BUILD_PROGRESS, PM_REMOVE)) {
      EXPECT_EQ(msg.wParam, 0u);
      EXPECT_EQ(msg.lParam, 0);
      count++;
    }
    return count;
  }

  HWND window_ = NULL;
};

DWORD fake_now;
DWORD WINAPI fake_tick() { return fake_now; }

TEST_F(JobStatusTest, TwoPublicationsThirtyMillisecondsApartPostAtMostOnce) {
  // A loaded machine can oversleep past 80 ms, which makes a second post
  // correct; such a round proves nothing and is tried again.
  bool measured = false;
  for (int round = 0; round < 5 && !measured; round++) {
    Sleep(100);
    count_progress_messages();
    DWORD start = GetTickCount();
    publish_progress(0.1, L"Unpacking %ls", L"tools");
    Sleep(30);
    publish_progress(0.2, L"Unpacking %hs", "kit");
    DWORD took = GetTickCount() - start;
    // Both calls changed the record even though only one may post.
    EXPECT_STREQ(g_job.stage_text, L"Unpacking kit");
    EXPECT_DOUBLE_EQ(g_job.progress, 0.2);
    int posted = count_progress_messages();
    if (took > 80) continue;
    measured = true;
    EXPECT_EQ(posted, 1) << "the first publication posts, the second 30 ms later does not";
  }
  ASSERT_TRUE(measured) << "no round ran its two publications within 80 ms";

  // Once more than 80 ms have passed, the next publication posts again.
  Sleep(120);
  publish_progress(0.3, L"Building");
  EXPECT_EQ(count_progress_messages(), 1);
}

// now - last in unsigned 32-bit arithmetic decides; 81 ms or more posts.
TEST_F(JobStatusTest, ThrottleCountsTicksAcrossTheWrap) {
  struct Case {
    DWORD last, now;
    bool posts;
  } const cases[] = {
      {1000, 1080, false},               // exactly 80 ms: not more than 80
      {1000, 1081, true},                // 81 ms
      {1000, 1000, false},               // the same tick
      {0xFFFFFFF0u, 0x00000040u, false}, // 80 ms across the wrap
      {0xFFFFFFF0u, 0x00000041u, true},  // 81 ms across the wrap
      {0xFFFFFFB0u, 0x00000005u, true},  // 85 ms across the wrap
      {0xFFFFFFFFu, 0x00000050u, true},  // 81 ms, last tick just before the wrap
      {0x80000000u, 0x7FFFFFFFu, true},  // nearly a whole cycle later
      {0, 0x7FFFFFFFu, true},            // far from a start at 0
  };
  set_job_tick_source(fake_tick);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "last 0x" << c.last << " now 0x" << c.now);
    g_job.last_post_tick = c.last;
    fake_now = c.now;
    publish_progress(0.5, L"Building");
    EXPECT_EQ(count_progress_messages(), c.posts ? 1 : 0);
    EXPECT_EQ(g_job.last_post_tick, c.posts ? c.now : c.last);
  }
}

TEST_F(JobStatusTest, NegativeFractionChangesOnlyTheText) {
  publish_progress(0.4, L"Downloading (%.0f of %.0f MB)", 3.0, 9.0);
  publish_progress(-1.0, L"%ls (%.0f MB)", L"the build description", 2.0);
  EXPECT_STREQ(g_job.stage_text, L"the build description (2 MB)");
  EXPECT_DOUBLE_EQ(g_job.progress, 0.4);
  publish_progress(0.0, L"Again");
  EXPECT_DOUBLE_EQ(g_job.progress, 0.0);
}

// A text longer than its buffer keeps its beginning and its terminator.
TEST_F(JobStatusTest, LongTextsAreCutAtTheirBuffers) {
  struct Case {
    size_t length;
    bool error;
    size_t kept;
  } const cases[] = {
      {254, false, 254}, {255, false, 255}, {256, false, 255}, {300, false, 255},
      {510, true, 510},  {511, true, 511},  {512, true, 511},  {600, true, 511},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << (c.error ? " error" : " stage"));
    std::wstring text;
    for (size_t i = 0; i < c.length; i++) text += (wchar_t)(L'a' + i % 26);
    if (c.error) {
      fail_build(L"%ls", text.c_str());
      EXPECT_EQ(std::wstring(g_job.error_text), text.substr(0, c.kept));
      EXPECT_EQ(g_job.error_text[ERROR_TEXT_UNITS - 1], 0);
    } else {
      publish_progress(0.5, L"%ls", text.c_str());
      EXPECT_EQ(std::wstring(g_job.stage_text), text.substr(0, c.kept));
      EXPECT_EQ(g_job.stage_text[STAGE_TEXT_UNITS - 1], 0);
    }
    // The window's copy sees the same cut text.
    wchar_t stage[STAGE_TEXT_UNITS], error[ERROR_TEXT_UNITS];
    job_read_texts(stage, STAGE_TEXT_UNITS, error, ERROR_TEXT_UNITS);
    EXPECT_STREQ(c.error ? error : stage, c.error ? g_job.error_text : g_job.stage_text);
  }
}

TEST_F(JobStatusTest, FailureKeepsTheStageAndTheRunningJob) {
  g_job.running = 1;
  publish_progress(0.7, L"Unpacking %ls", L"the game's build kit");
  count_progress_messages();
  fail_build(L"Could not write %ls (disk full?).", L"C:\\t\\kit.zip");
  EXPECT_EQ(g_job.failed, 1);
  EXPECT_EQ(g_job.running, 1);
  EXPECT_STREQ(g_job.error_text, L"Could not write C:\\t\\kit.zip (disk full?).");
  EXPECT_STREQ(g_job.stage_text, L"Unpacking the game's build kit");
  EXPECT_DOUBLE_EQ(g_job.progress, 0.7);
  // A failure is read from the flag when the job ends; it posts nothing itself.
  EXPECT_EQ(count_progress_messages(), 0);
}

std::vector<std::wstring> heard;
void listen() {
  wchar_t stage[STAGE_TEXT_UNITS], error[ERROR_TEXT_UNITS];
  job_read_texts(stage, STAGE_TEXT_UNITS, error, ERROR_TEXT_UNITS);
  heard.push_back(std::wstring(stage) + L"|" + error);
}

// telvar-cli follows a job through the listener: it must hear every change,
// throttled or not, after the record holds it.
TEST_F(JobStatusTest, ListenerHearsEveryChangeAfterItIsStored) {
  heard.clear();
  set_job_listener(listen);
  publish_progress(0.1, L"one");
  publish_progress(0.2, L"two");
  fail_build(L"broken");
  std::vector<std::wstring> expected = {L"one|", L"two|", L"two|broken"};
  EXPECT_EQ(heard, expected);
}

// A process of our own, held suspended in a job object, to see a terminate land.
HANDLE start_suspended_in(HANDLE job) {
  wchar_t command[MAX_PATH + 2];
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(NULL, module, MAX_PATH);
  swprintf(command, MAX_PATH + 2, L"\"%ls\" --gtest_list_tests", module);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, NULL, NULL, &startup,
                      &process))
    return NULL;
  CloseHandle(process.hThread);
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    return NULL;
  }
  return process.hProcess;
}

TEST_F(JobStatusTest, TerminateReachesTheJobAndIsHarmlessOnceItIsClosed) {
  HANDLE job = CreateJobObjectW(NULL, NULL);
  ASSERT_NE(job, nullptr);
  HANDLE process = start_suspended_in(job);
  ASSERT_NE(process, nullptr) << "error " << GetLastError();

  job_set_object(job);
  job_terminate_object(7);
  ASSERT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(code, 7u);
  CloseHandle(process);

  job_close_object();
  EXPECT_EQ(g_job.job_object, nullptr);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(job, &flags)) << "the job object handle is still open";
  // A cancel that comes after the worker closed the handle finds nothing.
  job_terminate_object(1);
  job_close_object();
  EXPECT_EQ(g_job.job_object, nullptr);
}

}  // namespace
