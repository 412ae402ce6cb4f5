// Whole builds through start_build, from release fixtures on disk and over a
// loopback HTTP server, with the stand-in interpreter as the build script.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/state.h"
#include "pipeline/build_job.h"
#include "pipeline/build_test_support.h"
#include "pipeline/job_status.h"

namespace {

std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += (char)c;
  return s;
}

struct Launcher {
  std::wstring dir, kit, toolchain, downloads, disc;
};

Launcher launcher(const std::string& name, const std::wstring& release, int row = 0,
                  const wchar_t* scenario = L"success", const std::string& extra_ini = "") {
  Launcher l;
  l.dir = fresh_work_folder("job_" + name);
  l.kit = join(l.dir, L"games\\mox1");
  l.toolchain = join(l.dir, L"toolchain");
  l.downloads = join(l.dir, L"downloads");
  l.disc = write_disc(l.dir, row);
  set_up_launcher(l.dir, release, l.disc, row, extra_ini);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", scenario);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"0");
  SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
  return l;
}

// Starts a job for entry 0 and waits for its end.
void build(bool expect_running = true) {
  g_stage_log.start();
  start_build(0);
  EXPECT_EQ(g_job.running, expect_running ? 1 : 0);
  ASSERT_TRUE(wait_for_job());
  g_stage_log.stop();
}

// Everything a successful build of a region leaves behind.
void expect_built(const Launcher& l, const wchar_t* output, const wchar_t* stamp_key, const wchar_t* version) {
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_EQ(g_job.running, 0);
  EXPECT_EQ(stage_text(), L"Built");
  EXPECT_DOUBLE_EQ(g_job.progress, 1.0);
  EXPECT_EQ(read_file_w(join(l.toolchain, L"version.txt")), "t1");
  EXPECT_TRUE(exists(join(l.toolchain, L"python\\python.exe")));
  EXPECT_TRUE(exists(join(l.kit, L"build.py")));
  EXPECT_TRUE(exists(join(l.kit, L"data\\levels.txt")));
  std::wstring out = join(l.kit, output);
  EXPECT_EQ(list_folder(out), (std::vector<std::wstring>{L"mox1_game.dll", L"mox1_wrapper.exe"}));
  // The kit ships the stand-in game, which the stand-in build copies.
  EXPECT_EQ(read_file_w(join(out, L"mox1_wrapper.exe")), read_file_w(join(l.kit, L"standin_game.exe")));
  for (const wchar_t* gone : {L"build\\levels", L"build\\levels_us", L"build\\disc", L"zig-cache"})
    EXPECT_FALSE(exists(join(l.kit, gone))) << narrow(gone);
  EXPECT_EQ(read_file_w(join(l.kit, L"build_log.txt")), read_file_w(join(l.kit, L"standin_output.bin")));
  EXPECT_EQ(profile(L"mox1", L"kit_version"), version);
  EXPECT_EQ(profile(L"mox1", stamp_key), version);
  EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{}) << "both archives deleted";
}

TEST(BuildJob, BuildsFromALocalReleaseAndOverHttp) {
  struct Case {
    const char* name;
    std::wstring release;
    int row;
    const wchar_t* output;
    const wchar_t* stamp;
  } cases[] = {
      {"local_pal", local_release("good"), 0, L"build\\windows", L"built_version"},
      {"local_pal_trailing_separator", local_release("good") + L"\\", 0, L"build\\windows", L"built_version"},
      {"http_pal", http_release("good"), 0, L"build\\windows", L"built_version"},
      {"http_us", http_release("good"), 1, L"build\\windows_us", L"built_version_us"},
      {"upper_case_checksums", local_release("upper"), 0, L"build\\windows", L"built_version"},
      {"no_checksums", local_release("nosum"), 0, L"build\\windows", L"built_version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(c.name, c.release, c.row);
    build();
    expect_built(l, c.output, c.stamp, L"v1");
    EXPECT_EQ(record_value(l.kit, "command_line").find(c.row ? "--region us " : "--region pal ") != std::string::npos,
              true);
    EXPECT_TRUE(g_stage_log.saw(L"Checking for the latest build files"));
    EXPECT_TRUE(g_stage_log.saw(L"Downloading the build tools"));
    EXPECT_TRUE(g_stage_log.saw(L"Checking the build tools"));
    EXPECT_TRUE(g_stage_log.saw(L"Unpacking the build tools"));
    EXPECT_TRUE(g_stage_log.saw(L"Downloading the game's build kit"));
    EXPECT_TRUE(g_stage_log.saw(L"Unpacking the build kit"));
    EXPECT_TRUE(g_stage_log.saw(L"Starting the build"));
    EXPECT_TRUE(g_stage_log.saw(L"Cleaning up"));
  }
}

TEST(BuildJob, LevelsComeFromTheSettingsThenTheDescription) {
  struct Case {
    const char* name;
    const char* release;
    std::string ini;
    const char* levels;
  } cases[] = {
      {"default", "good", "", "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"},
      {"description", "levels", "", "0,1,2"},
      {"settings", "levels", "levels=5,7\r\n", "5,7"},
  };
  for (const Case& c : cases) {
    Launcher l = launcher(std::string("levels_") + c.name, local_release(c.release), 0, L"success", c.ini);
    build();
    EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
    EXPECT_NE(record_value(l.kit, "command_line").find(std::string("--levels ") + c.levels + " --iso"),
              std::string::npos)
        << c.name;
  }
}

TEST(BuildJob, ToolchainIsFetchedOnlyWhenItsStampOrInterpreterIsMissing) {
  Launcher l = launcher("toolchain_reuse", local_release("good"));
  build();
  ASSERT_EQ(g_job.failed, 0) << narrow(error_text());
  // A marker that a fresh unpack would remove.
  std::wstring marker = join(l.toolchain, L"marker.txt");
  write_file_w(marker, "x");
  std::string first_path = record_value(l.kit, "PATH");

  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_FALSE(g_stage_log.saw(L"Downloading the build tools"));
  EXPECT_TRUE(g_stage_log.saw(L"Downloading the game's build kit")) << "the kit comes on every job";
  EXPECT_TRUE(exists(marker));
  EXPECT_EQ(record_value(l.kit, "PATH"), first_path) << "a second build does not grow PATH";

  DeleteFileW(join(l.toolchain, L"python\\python.exe").c_str());
  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_TRUE(g_stage_log.saw(L"Downloading the build tools"));
  EXPECT_FALSE(exists(marker));
  EXPECT_TRUE(exists(join(l.toolchain, L"python\\python.exe")));

  write_file_w(join(l.toolchain, L"version.txt"), "t0");
  build();
  EXPECT_TRUE(g_stage_log.saw(L"Downloading the build tools"));
  EXPECT_EQ(read_file_w(join(l.toolchain, L"version.txt")), "t1");
}

TEST(BuildJob, NewKitVersionClearsStaleOutputOfBothRegions) {
  Launcher l = launcher("new_kit", local_release("good"));
  build();
  ASSERT_EQ(g_job.failed, 0) << narrow(error_text());
  // The other region's earlier build, with its intermediate folders.
  for (const wchar_t* f : {L"build\\windows_us\\gen\\a.c", L"build\\windows_us\\obj\\a.o",
                           L"build\\windows_us\\mox1_wrapper.exe"}) {
    std::wstring path = join(l.kit, f);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    write_file_w(path, "x");
  }
  build();  // same version: the other region's folders stay
  EXPECT_TRUE(exists(join(l.kit, L"build\\windows_us\\gen\\a.c")));

  WritePrivateProfileStringW(L"build", L"release_url", local_release("v2").c_str(), g_state.settings_path);
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v2");
  EXPECT_FALSE(exists(join(l.kit, L"build\\windows_us\\gen")));
  EXPECT_FALSE(exists(join(l.kit, L"build\\windows_us\\obj")));
  EXPECT_TRUE(exists(join(l.kit, L"build\\windows_us\\mox1_wrapper.exe")));
}

TEST(BuildJob, FailuresEndWithTheirOwnText) {
  struct Case {
    const char* name;
    std::wstring release;
    const wchar_t* scenario;
    std::wstring error;
    bool toolchain_installed;
  } cases[] = {
      {"bad_tools", local_release("badtools"), L"success",
       L"The downloaded build tools are damaged (checksum). Try again.", false},
      {"bad_kit", local_release("badkit"), L"success", L"The downloaded build kit is damaged (checksum). Try again.",
       true},
      {"bad_kit_http", http_release("badkit"), L"success",
       L"The downloaded build kit is damaged (checksum). Try again.", true},
      {"invalid", local_release("invalid"), L"success", L"The build description from the release is not valid.",
       false},
      {"unsafe_name", local_release("unsafe"), L"success",
       L"The build description from the release is not valid.", false},
      {"failing_script", local_release("good"), L"fail",
       L"The build stopped (code 2): error: src/mox1_game.c:12: the stand-in was asked to fail", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(c.name, c.release, 0, c.scenario);
    build();
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(g_job.running, 0);
    EXPECT_EQ(error_text(), c.error);
    EXPECT_EQ(exists(join(l.toolchain, L"version.txt")), c.toolchain_installed);
    EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{}) << "no archive left";
    EXPECT_EQ(profile(L"mox1", L"built_version"), L"<absent>");
  }
  // A kit archive that is not a zip: the archive stays for inspection.
  Launcher l = launcher("not_zip", local_release("notzip"));
  build();
  EXPECT_EQ(error_text(), L"the build kit is not a zip file.");
  EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{L"mox1-kit-v1.zip"});
}

TEST(BuildJob, UnsafeArchiveNameIsRefusedBeforeAnyDownload) {
  Launcher l = launcher("unsafe_before", local_release("unsafe"));
  build();
  EXPECT_EQ(error_text(), L"The build description from the release is not valid.");
  EXPECT_FALSE(exists(l.toolchain)) << "the toolchain was not fetched";
  EXPECT_FALSE(exists(join(l.dir, L"mox1-kit-v1.zip")));
  EXPECT_FALSE(g_stage_log.saw(L"Downloading"));
}

TEST(BuildJob, VersionWithALineBreakCannotReachTheSettingsFile) {
  Launcher l = launcher("line_break", local_release("linebreak"), 0, L"success",
                        "[library]\r\ncount=1\r\ndisc0=C:\\my disc.iso\r\n");
  ASSERT_NE(read_file_w(join(local_release("linebreak"), L"mox1\\mox1.json")).find("v1\r\n[library]"),
            std::string::npos);
  build();
  EXPECT_EQ(error_text(), L"The build description from the release is not valid.");
  EXPECT_EQ(profile(L"library", L"count"), L"1");
  EXPECT_EQ(profile(L"library", L"disc0"), L"C:\\my disc.iso");
  EXPECT_EQ(profile(L"mox1", L"kit_version"), L"<absent>");
}

TEST(BuildJob, PathsThatDoNotFitAreNeverUsed) {
  // A launcher folder so deep that the kit's longest paths would be cut.
  std::string deep = "deep_" + std::string(240 - fresh_work_folder("x").size(), 'd');
  Launcher too_deep = launcher(deep, local_release("good"));
  ASSERT_TRUE(exists(too_deep.dir)) << "the platform could not make the folder";
  build();
  EXPECT_EQ(error_text(), L"The launcher's folder path is too long to build in.");
  EXPECT_EQ(list_folder(too_deep.dir), (std::vector<std::wstring>{L"pal disc.iso", L"telvar.ini"}));

  // Deep enough that only the long kit archive name does not fit in downloads.
  std::string medium = "medium_" + std::string(150 - fresh_work_folder("x").size(), 'm');
  Launcher l = launcher(medium, local_release("longname"));
  build();
  std::wstring error = error_text();
  EXPECT_EQ(error.rfind(L"Could not write " + l.downloads + L"\\kkkk", 0), 0u) << narrow(error);
  EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{}) << "nothing written under a cut name";
  EXPECT_TRUE(exists(join(l.toolchain, L"version.txt"))) << "the tools, whose names fit, were installed";
}

TEST(BuildJob, CancelDuringADownloadLeavesNoArchive) {
  Launcher l = launcher("cancel_download", http_release("good", true));
  start_build(0);
  ASSERT_TRUE(wait_until([] { return stage_text().rfind(L"Downloading the build tools", 0) == 0; }));
  Sleep(300);
  cancel_build();
  ASSERT_TRUE(wait_for_job(10000));
  EXPECT_EQ(g_job.failed, 1);
  EXPECT_EQ(g_job.cancel_requested, 1);
  EXPECT_EQ(error_text(), L"Build cancelled.");
  EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{});
  EXPECT_FALSE(exists(join(l.toolchain, L"version.txt")));
}

// Cancels the job from inside the worker as soon as it says it checks the
// downloaded tools, that is while it computes their checksum.
void cancel_when_checking_tools() {
  if (stage_text() == L"Checking the build tools") InterlockedExchange(&g_job.cancel_requested, 1);
}

TEST(BuildJob, CancelDuringTheToolsChecksumKeepsTheInstalledTools) {
  Launcher l = launcher("cancel_checksum", local_release("good"));
  // Older tools with their stamp: the release's t1 replaces them, unless the
  // user stops the job first.
  std::filesystem::create_directories(std::filesystem::path(join(l.toolchain, L"python")));
  ASSERT_TRUE(write_file_w(join(l.toolchain, L"python\\python.exe"), "old interpreter"));
  ASSERT_TRUE(write_file_w(join(l.toolchain, L"version.txt"), "t0"));
  set_job_listener(cancel_when_checking_tools);
  start_build(0);
  bool ended = wait_for_job();
  set_job_listener(NULL);
  ASSERT_TRUE(ended);
  EXPECT_EQ(error_text(), L"Build cancelled.");
  EXPECT_EQ(read_file_w(join(l.toolchain, L"version.txt")), "t0") << "nothing was deleted after the cancel";
  EXPECT_EQ(read_file_w(join(l.toolchain, L"python\\python.exe")), "old interpreter");
  EXPECT_FALSE(exists(l.kit));
}

TEST(BuildJob, CancelDuringTheScriptEndsItsProcessTree) {
  Launcher l = launcher("cancel_script", local_release("good"), 0, L"hang");
  start_build(0);
  ASSERT_TRUE(wait_until([&] { return !record_value(l.kit, "child_pid").empty() && g_job.job_object; }));
  Sleep(200);
  EXPECT_EQ(g_job.running, 1);
  cancel_build();
  ASSERT_TRUE(wait_for_job(10000));
  EXPECT_EQ(error_text(), L"Build cancelled.");
  EXPECT_EQ(g_job.failed, 1);
  EXPECT_TRUE(process_ended((DWORD)std::stoul(record_value(l.kit, "pid")), 3000));
  EXPECT_TRUE(process_ended((DWORD)std::stoul(record_value(l.kit, "child_pid")), 3000));
  EXPECT_EQ(profile(L"mox1", L"built_version"), L"<absent>");
  EXPECT_EQ(g_job.job_object, nullptr);
}

TEST(BuildJob, StartBuildRefusesWhatCannotBeBuilt) {
  Launcher l = launcher("refused", local_release("good"));
  for (int row : {-1, 2, 3, 8}) {
    g_state.entries[0].catalog_row = row;
    copy_text(g_job.stage_text, STAGE_TEXT_UNITS, L"untouched");
    start_build(0);
    EXPECT_EQ(g_job.running, 0) << row;
    EXPECT_EQ(stage_text(), L"untouched") << row;
  }
  g_state.entries[0].catalog_row = 0;
  start_build(-1);
  start_build(5);  // past the library's entries
  EXPECT_EQ(g_job.running, 0);
  EXPECT_EQ(stage_text(), L"untouched");
  EXPECT_FALSE(exists(l.downloads)) << "no worker ran";

  // While a job runs, a second start changes nothing.
  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", L"hang");
  copy_text(g_state.status_text, STATUS_TEXT_UNITS, L"an old message");
  g_job.failed = 1;
  start_build(0);
  EXPECT_EQ(g_job.running, 1);
  EXPECT_EQ(g_job.failed, 0);
  EXPECT_EQ(g_job.entry_index, 0);
  EXPECT_STREQ(g_state.status_text, L"");
  EXPECT_EQ(error_text(), L"");
  ASSERT_TRUE(wait_until([&] { return g_job.job_object != nullptr; }));
  g_state.entries[1] = g_state.entries[0];
  g_state.entry_count = 2;
  start_build(1);
  EXPECT_EQ(g_job.entry_index, 0);
  cancel_build();
  ASSERT_TRUE(wait_for_job(10000));
  EXPECT_EQ(error_text(), L"Build cancelled.");
}

TEST(BuildJob, EndingKeepsAFailureTextAndReportsACancelOtherwise) {
  // The worker runs on this thread here, with the cancel flag already set.
  struct Case {
    const char* name;
    std::wstring release;
    std::wstring error;
  } cases[] = {
      // The missing description fails before the copy looks at the flag:
      // that failure keeps its own text.
      {"failure_then_cancel", local_release("absent"), L"is not there."},
      // The copy stops at its first chunk: only the cancel is left to report.
      {"cancel_alone", local_release("good"), L"Build cancelled."},
  };
  for (const Case& c : cases) {
    Launcher l = launcher(c.name, c.release);
    ASSERT_TRUE(prepare_build(0));
    g_job.cancel_requested = 1;
    build_worker(NULL);
    EXPECT_EQ(g_job.running, 0) << c.name;
    EXPECT_EQ(g_job.failed, 1) << c.name;
    std::wstring error = error_text();
    EXPECT_GE(error.size(), c.error.size()) << c.name;
    EXPECT_EQ(error.substr(error.size() - std::min(error.size(), c.error.size())), c.error) << c.name;
    EXPECT_EQ(list_folder(l.downloads), std::vector<std::wstring>{}) << c.name;
  }
}

// The window learns of the end by one wParam 1 message, posted after running
// went to 0; progress messages come at most every 80 ms.
struct Messages {
  int progress = 0, ended = 0;
  bool running_at_end = true;
  DWORD last_progress = 0, shortest_gap = 0xFFFFFFFF;
};
Messages messages;

LRESULT CALLBACK message_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP_BUILD_PROGRESS) {
    if (wparam == 1) {
      messages.ended++;
      messages.running_at_end = g_job.running != 0;
    } else {
      DWORD now = GetTickCount();
      if (messages.progress++ > 0 && now - messages.last_progress < messages.shortest_gap)
        messages.shortest_gap = now - messages.last_progress;
      messages.last_progress = now;
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(BuildJob, PostsOneEndMessageAfterRunningIsCleared) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = message_window;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.lpszClassName = L"TelvarBuildJobTest";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, L"TelvarBuildJobTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                GetModuleHandleW(NULL), NULL);
  ASSERT_NE(window, nullptr);

  Launcher l = launcher("messages", local_release("good"));
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"5");
  g_state.main_window = window;
  messages = Messages();
  start_build(0);
  DWORD start = GetTickCount();
  MSG msg;
  while (messages.ended == 0 && GetTickCount() - start < 120000) {
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(5);
  }
  Sleep(200);
  while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  g_state.main_window = NULL;
  DestroyWindow(window);

  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_EQ(messages.ended, 1);
  EXPECT_FALSE(messages.running_at_end);
  EXPECT_GT(messages.progress, 0);
  // Posting times, not arrival times, are throttled; arrival gaps can only
  // shrink by the time a message waited, which is short here.
  EXPECT_GE(messages.shortest_gap, 40u);
}

TEST(BuildJob, BuildsTheDiscItWasStartedWith) {
  // The library changes while the build runs: the build keeps its own copy.
  Launcher l = launcher("library_changes", local_release("good"), 0);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"20");
  start_build(0);
  copy_text(g_state.entries[0].path, PATH_UNITS, L"Z:\\somewhere\\else.iso");
  g_state.entries[0].catalog_row = 1;
  ASSERT_TRUE(wait_for_job());
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  std::string line = record_value(l.kit, "command_line");
  EXPECT_NE(line.find("--region pal --levels"), std::string::npos);
  EXPECT_NE(line.find("--iso \"" + narrow(l.disc) + "\""), std::string::npos);
}

}  // namespace
