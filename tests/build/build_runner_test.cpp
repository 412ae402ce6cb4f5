// The build tool runner against the stand-in interpreter: command line,
// environment, the byte-exact log, progress, outcome texts and cancelling.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/state.h"
#include "build/build_job.h"
#include "build/build_runner.h"
#include "build/build_test_support.h"

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
  SetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", scenario);
  SetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", L"0");
  SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", NULL);
  return f;
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
    EXPECT_EQ(g_state.job.failed, 0);
    EXPECT_EQ(g_state.job.job_object, nullptr);

    std::string expected_line = "\"" + narrow(standin_interpreter()) +
                                "\" -u build.py --platform windows --region us --levels 0,1,2 --iso \"" +
                                narrow(f.disc) + "\" --repo decomp -j " + std::to_string(build_job_count());
    EXPECT_EQ(record_value(f.kit, "command_line"), expected_line);
    EXPECT_EQ(record_value(f.kit, "working_folder"), narrow(f.kit));
    std::string path = record_value(f.kit, "PATH");
    std::string front = narrow(f.toolchain) + "\\zig;" + narrow(f.toolchain) + "\\python;";
    EXPECT_EQ(path.compare(0, front.size(), front), 0) << path;
    // The second run starts from the saved PATH again: it does not grow.
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
    EXPECT_DOUBLE_EQ(g_state.job.progress, 0.99);
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
      {L"fail", nullptr, L"The build stopped (code 2): error: src/mox1_game.c:12: the stand-in was asked to fail"},
      {L"fail", L"0xFFFFFFFF",
       L"The build stopped (code 4294967295): error: src/mox1_game.c:12: the stand-in was asked to fail"},
      {L"silent", nullptr, L"The build stopped (code 2): no output"},
      {L"crlf", nullptr, L"The build stopped (code 1): last line"},
      {L"crash", nullptr, L"The build stopped (code 3221225477): about to fail hard"},
      {L"many", nullptr, L"The build stopped (code 1): line 17"},
      {L"longline", nullptr, L"The build stopped (code 1): " + std::wstring(long_tail.begin(), long_tail.end())},
      // The script's UTF-8 reads as such; bytes that are not UTF-8 pass through one to one.
      {L"utf8", nullptr, L"The build stopped (code 1): erreur: fichier \u00e9t\u00e9 introuvable"},
      {L"latin1", nullptr, L"The build stopped (code 1): erreur: fichier \u00e9t\u00e9 introuvable"},
  };
  for (const Case& c : cases) {
    RunnerFolders f = prepare("fail", c.scenario);
    if (c.exit_code) SetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", c.exit_code);
    EXPECT_FALSE(run(f));
    EXPECT_EQ(g_state.job.failed, 1);
    EXPECT_EQ(error_text(), c.error) << narrow(c.scenario);
    EXPECT_EQ(read_file_w(join(f.kit, L"build_log.txt")), read_file_w(join(f.kit, L"standin_output.bin")))
        << narrow(c.scenario);
    EXPECT_EQ(g_state.job.job_object, nullptr);
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
  EXPECT_EQ(g_state.job.job_object, nullptr);
}

TEST(BuildRunner, CancelEndsTheWholeProcessTreeAtOnce) {
  for (bool cancel_first : {false, true}) {
    RunnerFolders f = prepare(cancel_first ? "cancel_first" : "cancel", L"hang");
    if (cancel_first) g_state.job.cancel_requested = 1;
    bool result = true;
    std::thread worker([&] { result = run(f); });
    if (!cancel_first) {
      ASSERT_TRUE(wait_until([&] { return !record_value(f.kit, "child_pid").empty() && g_state.job.job_object; }));
      Sleep(200);
      EXPECT_EQ(g_state.job.running, 0) << "the runner alone does not mark a job";
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
    EXPECT_EQ(g_state.job.failed, 0) << "a cancel sets no text here";
    EXPECT_EQ(error_text(), L"");
    EXPECT_EQ(g_state.job.job_object, nullptr);
    std::string pid = record_value(f.kit, "pid"), child = record_value(f.kit, "child_pid");
    ASSERT_FALSE(pid.empty());
    ASSERT_FALSE(child.empty());
    EXPECT_NE(child, "0");
    EXPECT_TRUE(process_ended((DWORD)std::stoul(pid), 3000)) << "the interpreter ended";
    EXPECT_TRUE(process_ended((DWORD)std::stoul(child), 3000)) << "its child ended too";
  }
}

}  // namespace
