// Whole builds through start_build, from release fixtures on disk and over a
// loopback HTTP server, with the stand-in interpreter as the build script.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "core/state.h"
#include "pipeline/build_job.h"
#include "pipeline/build_test_support.h"
#include "pipeline/job_status.h"
#include "pipeline/preflight.h"
#include "support/flaky_fixture.h"
#include "transfer/download.h"
#include "library/catalog.h"
#include "transfer/sha256.h"
#include "ui/draw_kit.h"
#include "ui/main_view.h"

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

// The files in downloads that are not verified archives kept for later jobs:
// a kept archive's name begins with the SHA-256 of its bytes and a '-'.
std::vector<std::wstring> unverified_files(const std::wstring& downloads) {
  std::vector<std::wstring> out;
  for (const std::wstring& name : list_folder(downloads)) {
    char digest[65] = {};
    bool verified = name.size() > 65 && name[64] == L'-' && sha256_file(join(downloads, name).c_str(), digest) &&
                    std::wstring(digest, digest + 64) == name.substr(0, 64);
    if (!verified) out.push_back(name);
  }
  return out;
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
  EXPECT_EQ(list_folder(out),
            (std::vector<std::wstring>{L"mox1_game.dll", L"mox1_wrapper.exe", L"telvar_build_files.txt"}));
  // The manifest names what the build made, whole up to its end line.
  std::string manifest = read_file_w(join(out, L"telvar_build_files.txt"));
  EXPECT_NE(manifest.find("\r\nmox1_game.dll\r\n"), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("\r\nmox1_wrapper.exe\r\n"), std::string::npos) << manifest;
  EXPECT_EQ(manifest.substr(manifest.size() - 7), "\r\n# end") << manifest;
  // The kit ships the stand-in game, which the stand-in build copies.
  EXPECT_EQ(read_file_w(join(out, L"mox1_wrapper.exe")), read_file_w(join(l.kit, L"standin_game.exe")));
  for (const wchar_t* gone : {L"build\\levels", L"build\\levels_us", L"build\\disc", L"zig-cache"})
    EXPECT_FALSE(exists(join(l.kit, gone))) << narrow(gone);
  EXPECT_EQ(read_file_w(join(l.kit, L"build_log.txt")), read_file_w(join(l.kit, L"standin_output.bin")));
  EXPECT_EQ(profile(L"mox1", L"kit_version"), version);
  EXPECT_EQ(profile(L"mox1", stamp_key), version);
  EXPECT_EQ(unverified_files(l.downloads), std::vector<std::wstring>{}) << "only verified archives stay";
}

TEST(BuildJob, BuildsFromALocalReleaseAndOverHttp) {
  struct Case {
    const char* name;
    std::wstring release;
    int row;
    const wchar_t* output;
    const wchar_t* stamp;
    size_t kept;  // archives kept in downloads: those with a checksum to name them by
  } cases[] = {
      {"local_pal", local_release("good"), 0, L"build\\windows", L"built_version", 2},
      {"local_pal_trailing_separator", local_release("good") + L"\\", 0, L"build\\windows", L"built_version", 2},
      {"http_pal", http_release("good"), 0, L"build\\windows", L"built_version", 2},
      {"http_us", http_release("good"), 1, L"build\\windows_us", L"built_version_us", 2},
      {"upper_case_checksums", local_release("upper"), 0, L"build\\windows", L"built_version", 2},
      {"no_checksums", local_release("nosum"), 0, L"build\\windows", L"built_version", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(c.name, c.release, c.row);
    build();
    expect_built(l, c.output, c.stamp, L"v1");
    EXPECT_EQ(list_folder(l.downloads).size(), c.kept);
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
  EXPECT_FALSE(g_stage_log.saw(L"Checking the build tools"));
  // The kit is unpacked on every job, from the archive the first one verified and kept.
  EXPECT_TRUE(g_stage_log.saw(L"Checking the build kit"));
  EXPECT_TRUE(g_stage_log.saw(L"Unpacking the build kit"));
  EXPECT_TRUE(exists(marker));
  EXPECT_EQ(record_value(l.kit, "PATH"), first_path) << "a second build does not grow PATH";

  DeleteFileW(join(l.toolchain, L"python\\python.exe").c_str());
  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_TRUE(g_stage_log.saw(L"Checking the build tools"));
  EXPECT_TRUE(g_stage_log.saw(L"Unpacking the build tools"));
  EXPECT_FALSE(exists(marker));
  EXPECT_TRUE(exists(join(l.toolchain, L"python\\python.exe")));

  write_file_w(join(l.toolchain, L"version.txt"), "t0");
  build();
  EXPECT_TRUE(g_stage_log.saw(L"Unpacking the build tools"));
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
       L"The build script ended with exit code 2: error: src/mox1_game.c:12: the stand-in was asked to fail", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(c.name, c.release, 0, c.scenario);
    build();
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(g_job.refused, 0) << "it started, and failed";
    EXPECT_EQ(g_job.running, 0);
    EXPECT_EQ(error_text(), c.error);
    EXPECT_EQ(exists(join(l.toolchain, L"version.txt")), c.toolchain_installed);
    EXPECT_EQ(unverified_files(l.downloads), std::vector<std::wstring>{}) << "no archive left but verified ones";
    EXPECT_EQ(profile(L"mox1", L"built_version"), L"<absent>");
  }
  // A kit archive that is not a zip: the archive stays for inspection.
  Launcher l = launcher("not_zip", local_release("notzip"));
  build();
  EXPECT_EQ(error_text(), L"the build kit is not a zip file.");
  EXPECT_EQ(unverified_files(l.downloads), std::vector<std::wstring>{L"mox1-kit-v1.zip"});
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

uint64_t g_free_bytes = 0;
bool small_drive(const wchar_t*, uint64_t* free_bytes) {
  *free_bytes = g_free_bytes;
  return true;
}

// A launcher folder that cannot hold a build is refused when the build is
// asked for, before anything is fetched or deleted: the job fails at once with
// the reason, no worker runs, and the installed kit stays as it was.
TEST(BuildJob, FolderThatCannotHoldABuildIsRefusedBeforeAnyDownload) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring in_temp = join(std::wstring(temp) + L"telvar-tests", L"job_in_temp");
  CreateDirectoryW((std::wstring(temp) + L"telvar-tests").c_str(), NULL);
  CreateDirectoryW(in_temp.c_str(), NULL);
  struct Case {
    const char* name;
    uint64_t free_bytes;   // what the drive reports
    std::wstring folder;   // the launcher's folder, or empty for the work folder
    std::wstring error;
  } cases[] = {
      {"no_space", 100ull << 20, L"",
       L"Not enough free space for the build: it needs about 2.0 GB and the launcher's drive has 100 MB free. Free "
       L"some space, or move the launcher to another drive."},
      {"in_temp", 1ull << 40, in_temp,
       L"The launcher is inside the system's temporary folder, which Windows cleans up. Move the launcher to a "
       L"folder of your own, such as C:\\Games\\Telvar."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(std::string("refused_") + c.name, http_release("good"));
    if (!c.folder.empty()) {
      // The same launcher, moved into the temporary folder.
      wcscpy(g_state.launcher_dir, c.folder.c_str());
      l.kit = join(c.folder, L"games\\mox1");
      l.toolchain = join(c.folder, L"toolchain");
      l.downloads = join(c.folder, L"downloads");
    }
    // A kit installed by an earlier build, which a build would clear.
    CreateDirectoryW(join(g_state.launcher_dir, L"games").c_str(), NULL);
    CreateDirectoryW(l.kit.c_str(), NULL);
    ASSERT_TRUE(write_file_w(join(l.kit, L"marker.txt"), "an earlier kit"));
    g_free_bytes = c.free_bytes;
    set_free_space_query(small_drive);
    copy_text(g_state.status_text, STATUS_TEXT_UNITS, L"an old message");
    build(false);
    set_free_space_query(NULL);
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(g_job.refused, 1);
    EXPECT_EQ(g_job.entry_index, 0) << "the refusal belongs to the row asked for";
    EXPECT_EQ(error_text(), c.error);
    EXPECT_EQ(stage_text(), L"");
    // No stage was started: the one report is the refusal's, with no stage text.
    EXPECT_EQ(g_stage_log.stages, std::vector<std::wstring>{L""});
    EXPECT_FALSE(exists(l.downloads)) << "nothing was fetched";
    EXPECT_FALSE(exists(l.toolchain));
    EXPECT_EQ(read_file_w(join(l.kit, L"marker.txt")), "an earlier kit") << "nothing was deleted";
    EXPECT_EQ(list_folder(l.kit), std::vector<std::wstring>{L"marker.txt"});
    // The folder's lock went with the refusal: the next build may start.
    set_free_space_query(NULL);
    if (c.folder.empty()) {
      build();
      expect_built(l, L"build\\windows", L"built_version", L"v1");
    }
  }
}

// A folder under Program Files is said in the status line, and the build goes on.
TEST(BuildJob, FolderUnderProgramFilesWarnsAndBuilds) {
  wchar_t saved[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"ProgramFiles", saved, MAX_PATH);
  Launcher l = launcher("program_files", local_release("good"));
  SetEnvironmentVariableW(L"ProgramFiles", l.dir.c_str());
  build();
  SetEnvironmentVariableW(L"ProgramFiles", n > 0 && n < MAX_PATH ? saved : NULL);
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  EXPECT_EQ(std::wstring(g_state.status_text),
            L"The launcher is under " + l.dir +
                L", where Windows redirects or refuses what programs write. Move the launcher to a folder of your "
                L"own, such as C:\\Games\\Telvar.");
  EXPECT_FALSE(g_state.status_is_error);
}

TEST(BuildJob, PathsThatDoNotFitAreNeverUsed) {
  // A launcher folder so deep that the kit's longest paths would be cut.
  std::string deep = "deep_" + std::string(240 - fresh_work_folder("x").size(), 'd');
  Launcher too_deep = launcher(deep, local_release("good"));
  ASSERT_TRUE(exists(too_deep.dir)) << "the platform could not make the folder";
  build(false);
  // The folder's check refuses it before the job's own paths are formed.
  EXPECT_EQ(error_text(), L"The launcher's folder path is " + std::to_wstring(too_deep.dir.size()) +
                              L" characters long; the build kit's files need paths of up to 120 more, beyond what "
                              L"Windows allows (259). Move the launcher to a shorter folder, such as C:\\Games\\Telvar.");
  EXPECT_EQ(list_folder(too_deep.dir), (std::vector<std::wstring>{L"pal disc.iso", L"telvar.ini"}));

  // Deep enough that only the long kit archive name does not fit in downloads,
  // and no deeper than the folder's check lets through (139 characters).
  std::string medium = "medium_" + std::string(129 - fresh_work_folder("x").size(), 'm');
  Launcher l = launcher(medium, local_release("longname"));
  ASSERT_EQ(l.dir.size(), 139u);
  build();
  std::wstring error = error_text();
  EXPECT_EQ(error.rfind(L"Could not write " + l.downloads + L"\\kkkk", 0), 0u) << narrow(error);
  EXPECT_EQ(unverified_files(l.downloads), std::vector<std::wstring>{}) << "nothing written under a cut name";
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
  LPARAM ended_job = 0;  // the job the end message names
  DWORD last_progress = 0, shortest_gap = 0xFFFFFFFF;
};
Messages messages;

LRESULT CALLBACK message_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP_BUILD_PROGRESS) {
    if (wparam == 1) {
      messages.ended++;
      messages.running_at_end = g_job.running != 0;
      messages.ended_job = lparam;
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
  g_job.serial = 41;  // the jobs before this one
  start_build(0);
  EXPECT_EQ(g_job.serial, 42);
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
  EXPECT_EQ(messages.ended_job, 42);
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

// ---- Disc images in the launcher's own folders -----------------------------

std::wstring refusal(const std::wstring& disc, const wchar_t* folder) {
  return L"A disc image is in the launcher's " + std::wstring(folder) +
         L" folder, whose files builds replace and delete. Move it to a folder of your own and add it from there. "
         L"The image is " + disc + L".";
}

TEST(BuildJob, ADiscInTheLaunchersFoldersIsRefusedBeforeAnythingIsFetchedOrDeleted) {
  struct Case {
    const char* name;
    const wchar_t* folder;      // made under the launcher folder, the disc in it
    const wchar_t* named;       // the launcher folder that holds it, as the text names it
    const wchar_t* given;       // how the library names the disc: "long", "short", "dotted", "upper"
    bool other_entry;           // the disc is a second library entry; the built one lies elsewhere
  } cases[] = {
      {"kit_folder", L"games\\mox1", L"games", L"long", false},
      {"games", L"games", L"games", L"long", false},
      {"toolchain", L"toolchain\\python", L"toolchain", L"long", false},
      {"downloads", L"downloads", L"downloads", L"long", false},
      {"short_name", L"games\\mox1", L"games", L"short", false},
      {"dotted", L"games\\mox1", L"games", L"dotted", false},
      {"upper_case", L"games\\mox1", L"games", L"upper", false},
      {"another_entry", L"games\\mox1", L"games", L"long", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launcher l = launcher(std::string("inside_") + c.name, local_release("good"));
    std::wstring folder = join(l.dir, c.folder);
    std::filesystem::create_directories(std::filesystem::path(folder));
    std::wstring image = join(folder, L"my rather long disc name.iso");
    ASSERT_TRUE(CopyFileW(l.disc.c_str(), image.c_str(), FALSE));
    std::string bytes = read_file_w(image);
    // What an earlier job left in the kit folder, which a clearing would take.
    std::filesystem::create_directories(std::filesystem::path(l.kit));
    ASSERT_TRUE(write_file_w(join(l.kit, L"from an earlier kit.txt"), "earlier"));

    std::wstring given = image;
    if (wcscmp(c.given, L"short") == 0) {
      wchar_t short_path[PATH_UNITS];
      DWORD n = GetShortPathNameW(image.c_str(), short_path, PATH_UNITS);
      ASSERT_TRUE(n > 0 && n < PATH_UNITS);
      given = short_path;
      ASSERT_NE(given, image) << "the platform gave no short name";
    } else if (wcscmp(c.given, L"dotted") == 0) {
      std::filesystem::create_directories(std::filesystem::path(join(l.dir, L"discs")));
      given = join(l.dir, L"discs\\..\\") + c.folder + L"\\my rather long disc name.iso";
    } else if (wcscmp(c.given, L"upper") == 0) {
      given = l.dir + L"\\GAMES\\MOX1\\MY RATHER LONG DISC NAME.ISO";
    }
    LibraryEntry& entry = g_state.entries[c.other_entry ? 1 : 0];
    entry = g_state.entries[0];
    copy_text(entry.path, PATH_UNITS, given.c_str());
    if (c.other_entry) g_state.entry_count = 2;

    build();
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(g_job.refused, 1) << "refused before anything was tried, not failed";
    EXPECT_EQ(error_text(), refusal(given, c.named));
    EXPECT_TRUE(read_file_w(image) == bytes) << "the image is kept";
    EXPECT_TRUE(read_file_w(l.disc) == bytes) << "the other image is kept";
    EXPECT_FALSE(g_stage_log.saw(L"Downloading"));
    EXPECT_FALSE(exists(join(l.downloads, L"mox1-kit-v1.zip")));
    EXPECT_FALSE(exists(join(l.toolchain, L"version.txt")));
    EXPECT_TRUE(exists(join(l.kit, L"from an earlier kit.txt"))) << "nothing was cleared";
    EXPECT_EQ(profile(L"mox1", L"kit_version"), L"<absent>");
  }

  // A folder whose name only begins with a managed folder's name is the
  // user's own: a disc there builds.
  Launcher l = launcher("inside_none", local_release("good"));
  std::wstring folder = join(l.dir, L"games-old");
  std::filesystem::create_directories(std::filesystem::path(folder));
  std::wstring image = join(folder, L"my disc.iso");
  ASSERT_TRUE(CopyFileW(l.disc.c_str(), image.c_str(), FALSE));
  copy_text(g_state.entries[0].path, PATH_UNITS, image.c_str());
  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_TRUE(exists(image));
}

// ---- A rebuild and the game that was there before ---------------------------

// Every file and folder under folder, by relative path, with its bytes.
std::map<std::wstring, std::string> tree_of(const std::wstring& folder) {
  std::map<std::wstring, std::string> tree;
  std::error_code error;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder, error)) {
    std::wstring relative = item.path().wstring().substr(folder.size() + 1);
    tree[relative] = item.is_directory() ? "<folder>" : read_file_w(item.path().wstring());
  }
  return tree;
}

// What lies in the kit's build folder beside the intermediate folders that
// a build script leaves there whether it succeeds or not.
std::vector<std::wstring> beside_the_intermediates(const Launcher& l) {
  std::vector<std::wstring> names;
  for (const std::wstring& name : list_folder(join(l.kit, L"build")))
    if (name != L"levels" && name != L"levels_us" && name != L"disc") names.push_back(name);
  return names;
}

// What the game keeps in its folder, which no build makes.
void add_the_games_own_files(const std::wstring& game) {
  std::filesystem::create_directories(std::filesystem::path(join(game, L"saves")));
  ASSERT_TRUE(write_file_w(join(game, L"saves\\slot1.sav"), "slot one"));
  ASSERT_TRUE(write_file_w(join(game, L"mox1.cfg"), "fullscreen=1"));
  ASSERT_TRUE(write_file_w(join(game, L"mox1_log.txt"), "the game's log"));
}

void expect_the_games_own_files(const std::wstring& game) {
  EXPECT_EQ(read_file_w(join(game, L"saves\\slot1.sav")), "slot one");
  EXPECT_EQ(read_file_w(join(game, L"mox1.cfg")), "fullscreen=1");
  EXPECT_EQ(read_file_w(join(game, L"mox1_log.txt")), "the game's log");
}

// How the script is stopped once it has written the new game (its link stage).
enum StopMode { STOP_CANCEL, STOP_FAIL, STOP_CANCEL_WITH_A_FILE_HELD };
StopMode stop_mode;
bool stopped;
HANDLE held_file = INVALID_HANDLE_VALUE;
std::wstring held_path;

void stop_at_link() {
  if (stopped || stage_text().rfind(L"Linking", 0) != 0) return;
  stopped = true;
  if (stop_mode == STOP_CANCEL_WITH_A_FILE_HELD)
    held_file = CreateFileW(held_path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (stop_mode == STOP_FAIL)
    job_terminate_object(1);  // the script ends with code 1, and nobody asked for it
  else
    cancel_build();
}

void build_stopped_at_link(StopMode mode, const std::wstring& held = L"") {
  stop_mode = mode;
  stopped = false;
  held_path = held;
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"20");
  set_job_listener(stop_at_link);  // in place of the stage log's
  start_build(0);
  bool ended = wait_for_job();
  set_job_listener(NULL);
  ASSERT_TRUE(ended);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"0");
  EXPECT_TRUE(stopped) << "the script never reached its link stage";
}

TEST(BuildJob, AFailedOrCancelledRebuildLeavesThePreviousGameAsItWas) {
  for (StopMode mode : {STOP_CANCEL, STOP_FAIL}) {
    SCOPED_TRACE(mode == STOP_CANCEL ? "cancelled" : "failed");
    Launcher l = launcher(mode == STOP_CANCEL ? "rebuild_cancelled" : "rebuild_failed", local_release("good"));
    build();
    ASSERT_EQ(g_job.failed, 0) << narrow(error_text());
    std::wstring game = join(l.kit, L"build\\windows");
    add_the_games_own_files(game);
    // So that a file the new build replaces differs from the one before.
    ASSERT_TRUE(write_file_w(join(game, L"mox1_game.dll"), "the previous build's library"));
    std::map<std::wstring, std::string> before = tree_of(game);

    build_stopped_at_link(mode);
    EXPECT_EQ(g_job.failed, 1);
    if (mode == STOP_CANCEL)
      EXPECT_EQ(error_text(), L"Build cancelled.");
    else
      EXPECT_EQ(error_text().rfind(L"The build script ended with exit code 1: ", 0), 0u) << narrow(error_text());
    EXPECT_EQ(tree_of(game), before);
    EXPECT_EQ(beside_the_intermediates(l), std::vector<std::wstring>{L"windows"});
    EXPECT_EQ(std::wstring(status_label(0).text), L"Ready to play");
    EXPECT_EQ(profile(L"mox1", L"built_version"), L"v1");
  }
}

TEST(BuildJob, ARebuildKeepsEveryFileTheGameKeepsInItsFolder) {
  Launcher l = launcher("rebuild_keeps", local_release("good"));
  build();
  ASSERT_EQ(g_job.failed, 0) << narrow(error_text());
  std::wstring game = join(l.kit, L"build\\windows");
  add_the_games_own_files(game);
  ASSERT_TRUE(write_file_w(join(game, L"mox1_game.dll"), "the previous build's library"));

  build();  // the same release again
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  expect_the_games_own_files(game);
  EXPECT_EQ(read_file_w(join(game, L"mox1_game.dll")), "stand-in placeholder for mox1_game.dll\n")
      << "what the build makes is made again";

  // A game built before builds left their manifest: every file of it that
  // the new build does not make again is taken for the game's own, but for
  // the intermediate folders that a cut-short build of that time left.
  ASSERT_TRUE(DeleteFileW(join(game, L"telvar_build_files.txt").c_str()));
  std::filesystem::create_directories(std::filesystem::path(join(game, L"obj")));
  ASSERT_TRUE(write_file_w(join(game, L"obj\\part.o"), "left by a build cut short"));
  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  expect_the_games_own_files(game);
  EXPECT_FALSE(exists(join(game, L"obj")));
  EXPECT_TRUE(exists(join(game, L"telvar_build_files.txt")));

  WritePrivateProfileStringW(L"build", L"release_url", local_release("v2").c_str(), g_state.settings_path);
  build();  // a new kit version, whose stale output is cleared
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_EQ(profile(L"mox1", L"built_version"), L"v2");
  expect_the_games_own_files(game);

  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", L"fail");
  build();
  EXPECT_EQ(g_job.failed, 1);
  expect_the_games_own_files(game);
  EXPECT_EQ(std::wstring(status_label(0).text), L"Ready to play");
  EXPECT_EQ(beside_the_intermediates(l), std::vector<std::wstring>{L"windows"});
}

TEST(BuildJob, APreviousGameThatCannotBePutBackIsNotReadyToPlay) {
  Launcher l = launcher("rebuild_unrestorable", local_release("good"));
  build();
  ASSERT_EQ(g_job.failed, 0) << narrow(error_text());
  std::wstring game = join(l.kit, L"build\\windows");
  add_the_games_own_files(game);

  // A file of the new build that another program holds open: the failed
  // build's output cannot all go, so the game before it cannot come back.
  build_stopped_at_link(STOP_CANCEL_WITH_A_FILE_HELD, join(game, L"mox1_wrapper.exe"));
  ASSERT_NE(held_file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(error_text(), L"Build cancelled.");
  EXPECT_EQ(std::wstring(status_label(0).text), L"Last build failed");
  EXPECT_EQ(status_label(0).colour, COLOR_ERROR);
  CloseHandle(held_file);
  held_file = INVALID_HANDLE_VALUE;
  EXPECT_EQ(std::wstring(status_label(0).text), L"Last build failed") << "until a build succeeds";

  // The next build starts from the game that was set aside, and keeps what
  // the game kept in its folder.
  build();
  EXPECT_EQ(g_job.failed, 0) << narrow(error_text());
  EXPECT_EQ(std::wstring(status_label(0).text), L"Ready to play");
  expect_the_games_own_files(game);
  EXPECT_EQ(beside_the_intermediates(l), std::vector<std::wstring>{L"windows"});
}

// ---- The end of a job -------------------------------------------------------

// A cancel that arrives once the script has finished, while the job cleans
// up and stamps the build, comes too late: the game is built and the job
// says so.
void cancel_when_cleaning_up() {
  if (stage_text() == L"Cleaning up") cancel_build();
}

TEST(BuildJob, ACancelAfterTheScriptFinishedReportsTheBuild) {
  Launcher l = launcher("cancel_cleaning_up", local_release("good"));
  set_job_listener(cancel_when_cleaning_up);
  start_build(0);
  bool ended = wait_for_job();
  set_job_listener(NULL);
  ASSERT_TRUE(ended);
  EXPECT_EQ(g_job.cancel_requested, 1);
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  EXPECT_EQ(error_text(), L"");
}

// Over a server of ours that logs every request and cuts on request.
class BuildOverFlakyServer : public ::testing::Test {
 protected:
  static FlakyServer server;
  static void SetUpTestSuite() {
    server.start("build", std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/releases");
  }
  static void TearDownTestSuite() { server.stop(); }
  void SetUp() override {
    ASSERT_NE(server.port, 0) << "flaky_server.py did not start";
    ASSERT_TRUE(server.get(L"/control?clear=1"));
    DownloadLimits quick = DOWNLOAD_LIMITS_DEFAULT;
    quick.pause_percent = 1;
    set_download_limits(&quick);
  }
  void TearDown() override { set_download_limits(NULL); }

  // The archive requests of the log (the description is asked for on every job).
  std::vector<LoggedRequest> archive_requests() {
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : server.log())
      if (r.path.size() > 4 && r.path.compare(r.path.size() - 4, 4, ".zip") == 0) out.push_back(r);
    return out;
  }
};
FlakyServer BuildOverFlakyServer::server;

TEST_F(BuildOverFlakyServer, ARebuildOfTheSameVersionMakesNoArchiveRequest) {
  Launcher l = launcher("rebuild_kept", server.url(L"/good/"));
  server.forget_log();
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  EXPECT_EQ(archive_requests().size(), 2u) << "the tools and the kit, once each";
  EXPECT_EQ(list_folder(l.downloads).size(), 2u);

  server.forget_log();
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  EXPECT_EQ(archive_requests().size(), 0u);
  EXPECT_EQ(server.log().size(), 1u) << "the description alone";
  EXPECT_TRUE(g_stage_log.saw(L"Checking the build kit"));
  EXPECT_FALSE(g_stage_log.saw(L"Downloading the game's build kit"));

  // A kept archive whose bytes changed is no longer taken: it is fetched again.
  std::vector<std::wstring> kept = list_folder(l.downloads);
  for (const std::wstring& name : kept)
    if (name.find(L"kit") != std::wstring::npos) {
      std::string bytes = read_file_w(join(l.downloads, name));
      bytes[bytes.size() / 2] ^= 0x20;
      write_file_w(join(l.downloads, name), bytes);
    }
  server.forget_log();
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  std::vector<LoggedRequest> requests = archive_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].path.find("kit"), std::string::npos);
  EXPECT_EQ(list_folder(l.downloads), kept) << "the kit kept again under its checksum";

  // A new version: the kit of v1 is named by no description any more.
  WritePrivateProfileStringW(L"build", L"release_url", server.url(L"/v2/").c_str(), g_state.settings_path);
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v2");
  for (const std::wstring& name : list_folder(l.downloads))
    EXPECT_EQ(name.find(L"kit-v1"), std::wstring::npos) << "the old kit was not deleted: " << narrow(name);
}

// A job whose kit download is cut over and over keeps the partial for the
// next job. Damaged in between (a disk error, another program), the partial
// is resumed, the whole fails its checksum and nothing of it stays.
TEST_F(BuildOverFlakyServer, ACorruptedPartialEndsInAChecksumFailureAndACleanDownloadsFolder) {
  Launcher l = launcher("corrupt_partial", server.url(L"/good/"));
  ASSERT_TRUE(server.get(L"/control?only=kit&cut=1000&cuts=4"));
  build();
  EXPECT_EQ(g_job.failed, 1);
  EXPECT_EQ(error_text(), L"The download of the build kit ended early.");
  EXPECT_TRUE(g_stage_log.saw(L"Connection lost; trying again (3 of 3)\u2026"));
  std::wstring partial, record;
  for (const std::wstring& name : list_folder(l.downloads)) {
    if (name.size() > 8 && name.compare(name.size() - 8, 8, L".partial") == 0) partial = join(l.downloads, name);
    if (name.size() > 12 && name.compare(name.size() - 12, 12, L".partial.txt") == 0) record = join(l.downloads, name);
  }
  ASSERT_FALSE(partial.empty()) << "the interrupted kit download was not kept";
  ASSERT_FALSE(record.empty());
  std::string bytes = read_file_w(partial);
  ASSERT_EQ(bytes.size(), 4000u);
  bytes[100] ^= 0x55;
  ASSERT_TRUE(write_file_w(partial, bytes));

  ASSERT_TRUE(server.get(L"/control?clear=1"));
  server.forget_log();
  build();
  EXPECT_EQ(g_job.failed, 1);
  EXPECT_EQ(error_text(), L"The downloaded build kit is damaged (checksum). Try again.");
  std::vector<LoggedRequest> requests = archive_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "bytes=4000-") << "the partial was resumed";
  EXPECT_EQ(requests[0].status, 206);
  EXPECT_FALSE(exists(partial));
  EXPECT_FALSE(exists(record));
  EXPECT_EQ(unverified_files(l.downloads), std::vector<std::wstring>{}) << "nothing but the verified tools";

  // And the next job starts from zero and builds.
  server.forget_log();
  build();
  expect_built(l, L"build\\windows", L"built_version", L"v1");
  requests = archive_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "");
}

}  // namespace
