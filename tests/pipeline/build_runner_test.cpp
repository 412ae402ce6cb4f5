// The build tool runner against the stand-in interpreter: command line,
// environment, the byte-exact log, progress, outcome texts and cancelling.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/state.h"
#include "pipeline/build_job.h"
#include "pipeline/build_runner.h"
#include "pipeline/build_test_support.h"
#include "pipeline/job_status.h"

namespace {

std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += (char)c;
  return s;
}

struct RunnerFolders {
  std::wstring kit, toolchain, disc;
};

RunnerFolders prepare(const std::string& name, const wchar_t* scenario) {
  RunnerFolders f;
  std::wstring root = fresh_work_folder("runner_" + name);
  f.kit = join(root, L"games\\mox1");
  f.toolchain = join(root, L"toolchain");
  f.disc = join(root, L"disc image.iso");
  std::filesystem::create_directories(std::filesystem::path(f.kit));
  write_file_w(join(f.kit, L"build.py"), "# stand-in\n");
  write_file_w(f.disc, "disc");
  reset_state();
  reset_job_status();
  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", scenario);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"0");
  SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
  return f;
}

// The process environment block, one "NAME=value" an item, in its order.
std::vector<std::wstring> environment_now() {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* e = block; e && *e; e += wcslen(e) + 1) entries.push_back(e);
  if (block) FreeEnvironmentStringsW(block);
  return entries;
}

// The block the stand-in got (standin_env.txt), in its order.
std::vector<std::string> script_environment(const std::wstring& kit) {
  std::vector<std::string> entries;
  std::istringstream in(read_file_w(join(kit, L"standin_env.txt")));
  for (std::string line; std::getline(in, line);) entries.push_back(line);
  return entries;
}

// The name of an environment entry; a name may begin with "=" (=C:=C:\...).
template <typename S>
S entry_name(const S& entry) {
  size_t equals = entry.find('=', 1);
  return entry.substr(0, equals == S::npos ? entry.size() : equals);
}

std::string upper(std::string s) {
  for (char& c : s) c = (char)toupper((unsigned char)c);
  return s;
}

bool run(const RunnerFolders& f, const wchar_t* region = L"pal", const wchar_t* levels = L"0,1,2") {
  return run_build_tool(f.kit.c_str(), f.toolchain.c_str(), standin_interpreter().c_str(), f.disc.c_str(), region,
                        levels);
}

TEST(BuildJobCount, OneJobPerProcessorAndPerWholeOneAndAHalfGibibytes) {
  const uint64_t GIB = 1073741824ull;
  struct Case {
    int32_t processors;
    uint64_t memory;
    bool known;
    int expected;
  } cases[] = {
      {8, 16 * GIB, true, 8},
      {16, 8 * GIB, true, 5},
      {16, 3 * GIB / 2 - 1, true, 1},      // below 1.5 GiB
      {16, 3 * GIB / 2, true, 1},          // exactly one job's worth
      {16, 3 * GIB, true, 2},
      {1, 64 * GIB, true, 1},
      {0, 64 * GIB, true, 1},
      {12, 0, false, 12},                  // memory unknown: processors alone
      {1, 0, false, 1},
      {64, 1024 * GIB, true, 64},
  };
  for (const Case& c : cases)
    EXPECT_EQ(job_count_for(c.processors, c.memory, c.known), c.expected)
        << c.processors << " processors, " << c.memory << " bytes";
  int here = build_job_count();
  EXPECT_GE(here, 1);
}

TEST(BuildRunner, RunsTheScriptWithItsCommandLineAndEnvironment) {
  SetEnvironmentVariableW(L"PYTHONHOME", L"C:\\elsewhere");
  SetEnvironmentVariableW(L"PYTHONPATH", L"C:\\elsewhere\\lib");
  std::string first_path;
  for (int round = 0; round < 2; round++) {
    RunnerFolders f = prepare("success", L"success");
    g_stage_log.start();
    bool ok = run(f, L"us", L"0,1,2");
    g_stage_log.stop();
    ASSERT_TRUE(ok) << narrow(error_text());
    EXPECT_EQ(g_job.failed, 0);
    EXPECT_EQ(g_job.job_object, nullptr);

    std::string expected_line = "\"" + narrow(standin_interpreter()) +
                                "\" -u build.py --platform windows --region us --levels 0,1,2 --iso \"" +
                                narrow(f.disc) + "\" --repo decomp -j " + std::to_string(build_job_count());
    EXPECT_EQ(record_value(f.kit, "command_line"), expected_line);
    EXPECT_EQ(record_value(f.kit, "working_folder"), narrow(f.kit));
    std::string path = record_value(f.kit, "PATH");
    std::string front = narrow(f.toolchain) + "\\zig;" + narrow(f.toolchain) + "\\python;";
    EXPECT_EQ(path.compare(0, front.size(), front), 0) << path;
    // The second run starts from the launcher's own PATH again: it does not grow.
    if (round == 0) first_path = path;
    else EXPECT_EQ(path, first_path);
    EXPECT_EQ(record_value(f.kit, "PYTHONUTF8"), "1");
    EXPECT_EQ(record_value(f.kit, "PYTHONDONTWRITEBYTECODE"), "1");
    EXPECT_EQ(record_value(f.kit, "PYTHONHOME"), "<unset>");
    EXPECT_EQ(record_value(f.kit, "PYTHONPATH"), "<unset>");
    EXPECT_EQ(record_value(f.kit, "ZIG_GLOBAL_CACHE_DIR"), narrow(f.kit) + "\\zig-cache");
    EXPECT_EQ(record_value(f.kit, "ZIG_LOCAL_CACHE_DIR"), narrow(f.kit) + "\\zig-cache");

    // The log is every byte the script and its child printed, progress included.
    std::string log = read_file_w(join(f.kit, L"build_log.txt"));
    EXPECT_EQ(log, read_file_w(join(f.kit, L"standin_output.bin")));
    EXPECT_NE(log.find("[progress] levels 0 3"), std::string::npos);
    EXPECT_NE(log.find("stand-in child process"), std::string::npos);
    EXPECT_NE(log.find("warning: stand-in build"), std::string::npos) << "standard error joins the log";

    EXPECT_TRUE(g_stage_log.saw(L"Translating the game's executable"));
    EXPECT_TRUE(g_stage_log.saw(L"Translating the levels (1 of 3)"));
    EXPECT_TRUE(g_stage_log.saw(L"Translating the levels (3 of 3)"));
    EXPECT_TRUE(g_stage_log.saw(L"Compiling (24 of 24 files)"));
    EXPECT_TRUE(g_stage_log.saw(L"Linking"));
    EXPECT_EQ(stage_text(), L"Finishing");
    EXPECT_DOUBLE_EQ(g_job.progress, 0.99);
  }
}

// The launcher's own environment is what a game started later inherits: a
// build must leave it exactly as it was, and hand the script its own block,
// sorted by name as the platform expects, with everything else passed through.
TEST(BuildRunner, GivesTheScriptItsOwnEnvironmentAndLeavesTheLaunchersAlone) {
  RunnerFolders f = prepare("environment", L"success");
  SetEnvironmentVariableW(L"PYTHONHOME", L"C:\\elsewhere");
  SetEnvironmentVariableW(L"ZIG_LOCAL_CACHE_DIR", L"C:\\old cache");
  SetEnvironmentVariableW(L"TELVAR_PASSED_THROUGH", L"kept as it is = with an equals sign");
  std::vector<std::wstring> before = environment_now();

  ASSERT_TRUE(run(f)) << narrow(error_text());
  EXPECT_EQ(environment_now(), before) << "the launcher's environment changed";

  std::vector<std::string> script = script_environment(f.kit);
  ASSERT_FALSE(script.empty());
  const char* changed[] = {"PATH", "PYTHONUTF8", "PYTHONDONTWRITEBYTECODE", "PYTHONHOME", "PYTHONPATH",
                           "ZIG_GLOBAL_CACHE_DIR", "ZIG_LOCAL_CACHE_DIR"};
  // Sorted by name, as the platform expects the block. Wine's loader moves
  // the variables it sets itself (WINE..., SystemDrive, SystemRoot) to the end
  // of the block a process gets: those are left out of the order.
  std::string previous;
  for (const std::string& entry : script) {
    std::string name = upper(entry_name(entry));
    if (name.rfind("WINE", 0) == 0 || name == "SYSTEMDRIVE" || name == "SYSTEMROOT") continue;
    EXPECT_LE(previous, name) << "not sorted at " << entry;
    previous = name;
  }
  for (const std::wstring& entry : before) {
    std::string name = upper(narrow(entry_name(entry)));
    if (std::find(std::begin(changed), std::end(changed), name) != std::end(changed)) continue;
    EXPECT_NE(std::find(script.begin(), script.end(), narrow(entry)), script.end())
        << narrow(entry) << " did not reach the script";
  }
  for (const std::string& entry : script) {
    std::string name = upper(entry_name(entry));
    EXPECT_NE(name, "PYTHONHOME");
    EXPECT_NE(name, "PYTHONPATH");
  }
  EXPECT_EQ(record_value(f.kit, "ZIG_LOCAL_CACHE_DIR"), narrow(f.kit) + "\\zig-cache");
  EXPECT_EQ(record_value(f.kit, "PYTHONUTF8"), "1");
  wchar_t path[32768];
  ASSERT_GT(GetEnvironmentVariableW(L"PATH", path, 32768), 0u);
  EXPECT_EQ(record_value(f.kit, "PATH"), narrow(f.toolchain + L"\\zig;" + f.toolchain + L"\\python;" + path));
  SetEnvironmentVariableW(L"PYTHONHOME", NULL);
  SetEnvironmentVariableW(L"ZIG_LOCAL_CACHE_DIR", NULL);
  SetEnvironmentVariableW(L"TELVAR_PASSED_THROUGH", NULL);
}

// Beyond its cap the log keeps its head and its tail with a line saying how
// much was left out, while every progress line is still read, the ones in the
// part left out and the last one included.
TEST(BuildRunner, LogKeepsItsFirstAndLastPartsBeyondItsCap) {
  const uint64_t cap = 65536;
  const uint32_t keep = 4096;
  set_build_log_limits(cap, keep);
  struct Case {
    const char* name;
    int64_t output;  // bytes the script prints
    bool cut;
  } cases[] = {
      {"below the cap", (int64_t)cap - 5000, false},
      {"exactly the cap", (int64_t)cap, false},
      {"one byte over", (int64_t)cap + 1, true},
      {"a mebibyte", 1 << 20, true},
  };
  for (const Case& c : cases) {
    RunnerFolders f = prepare("log_cap", L"flood");
    SetEnvironmentVariableW(L"TELVAR_STANDIN_FLOOD_BYTES", std::to_wstring(c.output).c_str());
    g_stage_log.start();
    bool ok = run(f);
    g_stage_log.stop();
    ASSERT_TRUE(ok) << c.name << ": " << narrow(error_text());
    std::string all = read_file_w(join(f.kit, L"standin_output.bin"));
    std::string log = read_file_w(join(f.kit, L"build_log.txt"));
    uint64_t total = all.size();
    ASSERT_EQ(total, (uint64_t)c.output) << c.name;
    if (!c.cut) {
      EXPECT_EQ(log, all) << c.name;
    } else {
      ASSERT_GE(log.size(), 2u * keep) << c.name;
      EXPECT_EQ(log.substr(0, keep), all.substr(0, keep)) << c.name;
      EXPECT_EQ(log.substr(log.size() - keep), all.substr(all.size() - keep)) << c.name;
      std::string between = log.substr(keep, log.size() - 2 * keep);
      std::string count = std::to_string(total - 2 * keep);
      EXPECT_NE(between.find(" " + count + " bytes"), std::string::npos) << c.name << ": " << between;
      EXPECT_EQ(between.back(), '\n') << c.name;
      EXPECT_LT(between.size(), 200u) << c.name;
    }
    EXPECT_TRUE(g_stage_log.saw(L"Compiling (1 of 4 files)")) << c.name;
    EXPECT_TRUE(g_stage_log.saw(L"Compiling (2 of 4 files)")) << c.name << ": the middle line is read";
    EXPECT_EQ(stage_text(), L"Linking") << c.name << ": the last line is read";
  }
  set_build_log_limits(0, 0);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_FLOOD_BYTES", NULL);
}

// A link where the log goes (host links, made by the runner_links fixture:
// Wine shows a host link to a file as a plain file and writes through it).
// The log is never written through it: a link that cannot be removed stops
// the job with a text before the script runs, and nothing outside changes.
TEST(BuildRunner, NeverWritesTheLogThroughALink) {
  std::wstring root = host_to_windows(std::string(TELVAR_BINARY_DIR) + "/tests/pipeline/runner_links");
  std::wstring outside = join(root, L"outside");
  if (!exists(join(outside, L"precious.txt")))
    GTEST_SKIP() << "the host links are not there (made by the runner_links fixture)";
  struct Case {
    const wchar_t* kit;
    const wchar_t* target;  // in outside
  } cases[] = {
      {L"kit_file_link", L"precious.txt"},
      {L"kit_dangling_link", L"not_there.txt"},
  };
  for (const Case& c : cases) {
    RunnerFolders f = prepare("log_link", L"success");
    f.kit = join(root, c.kit);
    write_file_w(join(f.kit, L"build.py"), "# stand-in\n");
    DeleteFileW(join(f.kit, L"standin_run.txt").c_str());
    EXPECT_FALSE(run(f)) << narrow(c.kit);
    std::wstring log = join(f.kit, L"build_log.txt");
    EXPECT_EQ(error_text(), L"The build log cannot be written: " + log +
                                L" is a link that could not be removed. Remove it, then build again.")
        << narrow(c.kit);
    EXPECT_FALSE(exists(join(f.kit, L"standin_run.txt"))) << narrow(c.kit) << ": the script must not run";
    EXPECT_EQ(read_file_w(join(outside, L"precious.txt")), "keep") << narrow(c.kit);
    EXPECT_FALSE(exists(join(outside, L"not_there.txt"))) << narrow(c.kit);
    EXPECT_EQ(g_job.job_object, nullptr);
  }
}

// What may already stand at the log's name: an older log is replaced, also
// while another program shows it (holding it open, sharing it for writing but
// not for deleting); one held without sharing it for writing, or a folder of
// that name, is left as it is and the build runs without a log.
TEST(BuildRunner, ReplacesAnOlderLogAndLeavesWhatItCannotReplace) {
  struct Case {
    const char* name;
    bool folder;   // a folder named build_log.txt, else an older log file
    DWORD shared;  // the older log is held open with this sharing; 0: not held
    bool replaced;
  } cases[] = {
      {"older log", false, 0, true},
      {"log shown in an editor", false, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"log held for reading only", false, FILE_SHARE_READ, false},
      {"folder", true, 0, false},
  };
  for (const Case& c : cases) {
    RunnerFolders f = prepare("log_in_the_way", L"success");
    std::wstring log = join(f.kit, L"build_log.txt");
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.folder) {
      std::filesystem::create_directories(std::filesystem::path(log));
      write_file_w(join(log, L"inside.txt"), "kept");
    } else {
      write_file_w(log, "older log");
      if (c.shared)
        held = CreateFileW(log.c_str(), GENERIC_READ, c.shared, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    EXPECT_TRUE(run(f)) << c.name << ": " << narrow(error_text());
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (c.folder)
      EXPECT_EQ(read_file_w(join(log, L"inside.txt")), "kept") << c.name;
    else if (c.replaced)
      EXPECT_EQ(read_file_w(log), read_file_w(join(f.kit, L"standin_output.bin"))) << c.name;
    else
      EXPECT_EQ(read_file_w(log), "older log") << c.name;
  }
}

TEST(BuildRunner, FailedScriptsNameTheirLastLine) {
  std::string five_thousand;
  for (int i = 0; i < 5000; i++) five_thousand += (char)('a' + i % 26);
  std::string long_tail = five_thousand.substr(4096, 299);
  struct Case {
    const wchar_t* scenario;
    const wchar_t* exit_code;  // TELVAR_STANDIN_EXIT, or null
    std::wstring error;
  } cases[] = {
      {L"fail", nullptr, L"The build script ended with exit code 2: error: src/mox1_game.c:12: the stand-in was asked to fail"},
      {L"fail", L"0xFFFFFFFF",
       L"The build tools crashed (0xFFFFFFFF): error: src/mox1_game.c:12: the stand-in was asked to fail"},
      {L"silent", nullptr, L"The build script ended with exit code 2: no output"},
      {L"crlf", nullptr, L"The build script ended with exit code 1: last line"},
      {L"crash", nullptr,
       L"The build tools crashed: it touched memory it may not use (a crash) (0xC0000005): about to fail hard"},
      {L"many", nullptr, L"The build script ended with exit code 1: line 17"},
      {L"longline", nullptr, L"The build script ended with exit code 1: " + std::wstring(long_tail.begin(), long_tail.end())},
      // The script's UTF-8 reads as such; bytes that are not UTF-8 pass through one to one.
      {L"utf8", nullptr, L"The build script ended with exit code 1: erreur: fichier \u00e9t\u00e9 introuvable"},
      {L"latin1", nullptr, L"The build script ended with exit code 1: erreur: fichier \u00e9t\u00e9 introuvable"},
  };
  for (const Case& c : cases) {
    RunnerFolders f = prepare("fail", c.scenario);
    if (c.exit_code) SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", c.exit_code);
    EXPECT_FALSE(run(f));
    EXPECT_EQ(g_job.failed, 1);
    EXPECT_EQ(error_text(), c.error) << narrow(c.scenario);
    EXPECT_EQ(read_file_w(join(f.kit, L"build_log.txt")), read_file_w(join(f.kit, L"standin_output.bin")))
        << narrow(c.scenario);
    EXPECT_EQ(g_job.job_object, nullptr);
  }
  // The unfinished last line is in the log but not in the text.
  RunnerFolders f = prepare("fail", L"fail");
  run(f);
  std::string log = read_file_w(join(f.kit, L"build_log.txt"));
  EXPECT_EQ(log.substr(log.size() - 23), "an unfinished last line");
}

TEST(BuildRunner, MissingInterpreterLeavesAnEmptyLog) {
  RunnerFolders f = prepare("missing", L"success");
  std::wstring missing = join(f.toolchain, L"python\\python.exe");
  EXPECT_FALSE(run_build_tool(f.kit.c_str(), f.toolchain.c_str(), missing.c_str(), f.disc.c_str(), L"pal", L"0"));
  std::wstring error = error_text();
  EXPECT_EQ(error, L"Could not start the build tools: the program's folder is missing (Windows error 3). Build "
                   L"again, and check whether your antivirus software removed a file.")
      << narrow(error);
  EXPECT_TRUE(exists(join(f.kit, L"build_log.txt")));
  EXPECT_EQ(read_file_w(join(f.kit, L"build_log.txt")), "");
  EXPECT_EQ(g_job.job_object, nullptr);
}

TEST(BuildRunner, CancelEndsTheWholeProcessTreeAtOnce) {
  for (bool cancel_first : {false, true}) {
    RunnerFolders f = prepare(cancel_first ? "cancel_first" : "cancel", L"hang");
    if (cancel_first) g_job.cancel_requested = 1;
    bool result = true;
    std::thread worker([&] { result = run(f); });
    if (!cancel_first) {
      ASSERT_TRUE(wait_until([&] { return !record_value(f.kit, "child_pid").empty() && g_job.job_object; }));
      Sleep(200);
      EXPECT_EQ(g_job.running, 0) << "the runner alone does not mark a job";
      DWORD start = GetTickCount();
      cancel_build();
      worker.join();
      EXPECT_LT(GetTickCount() - start, 5000u);
    } else {
      // Asked to stop before the script could run: it never gets going.
      DWORD start = GetTickCount();
      worker.join();
      EXPECT_LT(GetTickCount() - start, 5000u);
      EXPECT_FALSE(result);
      EXPECT_EQ(error_text(), L"");
      EXPECT_EQ(record_value(f.kit, "pid"), "") << "the script never ran";
      continue;
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(g_job.failed, 0) << "a cancel sets no text here";
    EXPECT_EQ(error_text(), L"");
    EXPECT_EQ(g_job.job_object, nullptr);
    std::string pid = record_value(f.kit, "pid"), child = record_value(f.kit, "child_pid");
    ASSERT_FALSE(pid.empty());
    ASSERT_FALSE(child.empty());
    EXPECT_NE(child, "0");
    EXPECT_TRUE(process_ended((DWORD)std::stoul(pid), 3000)) << "the interpreter ended";
    EXPECT_TRUE(process_ended((DWORD)std::stoul(child), 3000)) << "its child ended too";
  }
}

}  // namespace

namespace {

// Wine 8 nests job objects whenever asked, so a job that cannot take the
// script is reached through the call itself: the platform's own
// AssignProcessToJobObject, but given a handle to the job without the right
// to assign a process, which the platform refuses (access denied), as
// Windows refuses a launcher that runs inside a job that forbids nesting.
LONG refused_assignments;
BOOL WINAPI assign_refused(HANDLE job, HANDLE process) {
  HANDLE weak = NULL;
  if (!DuplicateHandle(GetCurrentProcess(), job, GetCurrentProcess(), &weak, JOB_OBJECT_QUERY, FALSE, 0))
    return FALSE;
  BOOL ok = AssignProcessToJobObject(weak, process);
  DWORD error = GetLastError();
  CloseHandle(weak);
  if (!ok) InterlockedIncrement(&refused_assignments);
  SetLastError(error);
  return ok;
}

void end_if_running(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!process) return;
  TerminateProcess(process, 1);
  CloseHandle(process);
}

DWORD recorded_pid(const std::wstring& kit, const char* key) {
  std::string value = record_value(kit, key);
  return value.empty() ? 0 : (DWORD)std::stoul(value);
}

// The folders of prepare() for a work folder that already exists.
RunnerFolders folders_in(const std::wstring& root) {
  return RunnerFolders{join(root, L"games\\mox1"), join(root, L"toolchain"), join(root, L"disc image.iso")};
}

TEST(BuildRunnerOutsideJob, CancelEndsTheScriptAndItsChildren) {
  RunnerFolders f = prepare("outside_cancel", L"hang");
  set_job_assign_function(assign_refused);
  LONG refused = refused_assignments;
  std::atomic<bool> done{false};
  bool result = true;
  std::thread worker([&] {
    result = run(f);
    done = true;
  });
  bool started = wait_until([&] { return recorded_pid(f.kit, "child_pid") != 0; }, 30000);
  EXPECT_TRUE(started);
  EXPECT_GT(refused_assignments, refused) << "the job was meant to refuse the script";
  DWORD pid = recorded_pid(f.kit, "pid"), child = recorded_pid(f.kit, "child_pid");
  Sleep(200);
  cancel_build();
  bool ended = wait_until([&] { return done.load(); }, 10000);
  EXPECT_TRUE(ended) << "the cancel did not stop a script outside its job";
  if (!ended) {  // so that the test itself can end
    end_if_running(child);
    end_if_running(pid);
  }
  worker.join();
  set_job_assign_function(NULL);
  EXPECT_FALSE(result);
  EXPECT_EQ(error_text(), L"");
  EXPECT_TRUE(process_ended(pid, 3000)) << "the interpreter ended";
  EXPECT_TRUE(process_ended(child, 3000)) << "its child ended too";
  end_if_running(child);
}

// Run by the test below in a process of its own: starts a build whose job
// cannot take the script, and leaves the program the way the launcher does
// when its window closes (its entry point returns, which runs exit()).
TEST(BuildRunnerOutsideJob, HelperLeavesDuringABuild) {
  wchar_t root[MAX_PATH];
  if (!GetEnvironmentVariableW(L"TELVAR_RUNNER_EXIT_ROOT", root, MAX_PATH))
    GTEST_SKIP() << "run by LauncherExitEndsTheScript in a process of its own";
  set_job_assign_function(assign_refused);
  RunnerFolders f = folders_in(root);
  std::thread([f] { run(f); }).detach();
  wait_until([&] { return recorded_pid(f.kit, "child_pid") != 0; }, 30000);
  Sleep(200);
  exit(0);
}

TEST(BuildRunnerOutsideJob, LauncherExitEndsTheScript) {
  RunnerFolders f = prepare("outside_exit", L"hang");
  std::wstring root = f.kit.substr(0, f.kit.size() - wcslen(L"\\games\\mox1"));
  SetEnvironmentVariableW(L"TELVAR_RUNNER_EXIT_ROOT", root.c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(NULL, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" --gtest_filter=BuildRunnerOutsideJob.HelperLeavesDuringABuild";
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION helper;
  BOOL started = CreateProcessW(self, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &helper);
  SetEnvironmentVariableW(L"TELVAR_RUNNER_EXIT_ROOT", NULL);
  ASSERT_TRUE(started);
  CloseHandle(helper.hThread);
  EXPECT_EQ(WaitForSingleObject(helper.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(helper.hProcess, &code);
  CloseHandle(helper.hProcess);
  EXPECT_EQ(code, 0u);
  DWORD pid = recorded_pid(f.kit, "pid"), child = recorded_pid(f.kit, "child_pid");
  ASSERT_NE(pid, 0u) << "the helper's script never ran";
  EXPECT_TRUE(process_ended(pid, 3000)) << "the interpreter outlived the launcher";
  EXPECT_TRUE(process_ended(child, 3000)) << "its child outlived the launcher";
  end_if_running(child);
  end_if_running(pid);
}

}  // namespace
