// STAND-IN for the toolchain's Python interpreter running the build kit's
// "build.py", for tests and demos only: it is neither Python nor the build.
// Started as python\python.exe with the build command line
//   "<interpreter>" -u build.py --platform windows --region R --levels L
//                   --iso "<disc>" --repo decomp -j N
// in the kit folder, it checks that command line, records what it was given,
// and plays a scenario chosen by TELVAR_STANDIN_SCENARIO:
//   success   progress lines of every stage word with ordinary lines between
//             them, the built game and the intermediate files in the region's
//             output folder, exit code 0 (the default)
//   fail      ordinary lines, an error line, then an unfinished line without
//             a line feed; exit code TELVAR_STANDIN_EXIT (default 2)
//   hang      a progress line, then waits (and its child too) until killed
//   silent    prints nothing, exit code 2
//   longline  one line of 5,000 bytes, exit code 1
//   crlf      lines whose CR LF is split across two writes, exit code 1
//   crash     exit code 0xC0000005, as a process ended by an exception
//   many      17 numbered lines, exit code 1
//   utf8      a line with UTF-8 bytes outside ASCII, exit code 1
//   latin1    a line with 8-bit bytes that are not UTF-8, exit code 1
//   flood     exactly TELVAR_STANDIN_FLOOD_BYTES bytes of output (default
//             1 MiB): "[progress] compile 1 4" first, "[progress] compile 2 4"
//             in the middle, "[progress] link 1 1" as the last line, plain
//             lines between them; exit code 0
// TELVAR_STANDIN_DELAY_MS sets the pause between lines (default 40 ms).
//
// Every run but "flood" starts a child process of its own (this program again with
// --standin-child) that prints one line; in "hang" it waits forever, so that
// a test can see the job object end the whole process tree.
//
// Everything it and its child print is also appended to "standin_output.bin"
// in the working folder (in "hang" the two may interleave differently there).
//
// Record: "standin_run.txt" in the working folder (UTF-8, one item a line):
// command_line, working_folder, PATH, PYTHONUTF8, PYTHONDONTWRITEBYTECODE,
// PYTHONHOME, PYTHONPATH, ZIG_GLOBAL_CACHE_DIR, ZIG_LOCAL_CACHE_DIR (each
// "<unset>" when absent), pid and child_pid. Beside it "standin_env.txt" holds
// the whole environment block as this process got it, one "NAME=value" a line
// (UTF-8), in the block's own order.
//
// A command line it does not expect prints "standin: bad command line: ..."
// and exits with code 64.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static HANDLE out_handle;
static DWORD delay_ms = 40;

static HANDLE echo_file = INVALID_HANDLE_VALUE;

static void write_bytes(HANDLE handle, const char* bytes, size_t count) {
  DWORD written = 0;
  WriteFile(handle, bytes, (DWORD)count, &written, NULL);
}

// Printing: to the pipe, and the same bytes appended to "standin_output.bin"
// in the working folder, so that a test can compare the launcher's log.
static void print_bytes(HANDLE handle, const char* bytes, size_t count) {
  write_bytes(handle, bytes, count);
  if (echo_file == INVALID_HANDLE_VALUE)
    echo_file = CreateFileW(L"standin_output.bin", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (echo_file != INVALID_HANDLE_VALUE) write_bytes(echo_file, bytes, count);
}

static void say(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (n < 0) n = 0;
  if (n > (int)sizeof line - 2) n = (int)sizeof line - 2;
  line[n++] = '\n';
  print_bytes(out_handle, line, n);
}

static void pause() {
  if (delay_ms) Sleep(delay_ms);
}

static void progress(const char* word, int current, int total) {
  say("[progress] %s %d %d", word, current, total);
  pause();
}

static void to_utf8(const wchar_t* text, char* out, int capacity) {
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, capacity, NULL, NULL) <= 0) out[0] = 0;
}

static void record_variable(FILE* file, const wchar_t* name) {
  static wchar_t value[32768];
  char utf8[98304], name8[64];
  to_utf8(name, name8, sizeof name8);
  DWORD n = GetEnvironmentVariableW(name, value, 32768);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    fprintf(file, "%s=<unset>\n", name8);
    return;
  }
  to_utf8(value, utf8, sizeof utf8);
  fprintf(file, "%s=%s\n", name8, utf8);
}

// The environment block in its own order, so that a test can see what was
// passed (and how it was sorted), not only the variables it asks for.
static void write_environment() {
  FILE* file = _wfopen(L"standin_env.txt", L"wb");
  if (!file) return;
  wchar_t* block = GetEnvironmentStringsW();
  static char utf8[98304];
  for (const wchar_t* entry = block; entry && *entry; entry += wcslen(entry) + 1) {
    to_utf8(entry, utf8, sizeof utf8);
    fprintf(file, "%s\n", utf8);
  }
  if (block) FreeEnvironmentStringsW(block);
  fclose(file);
}

static void write_record(DWORD child_pid) {
  write_environment();
  FILE* file = _wfopen(L"standin_run.txt", L"wb");
  if (!file) return;
  static char utf8[65536];
  to_utf8(GetCommandLineW(), utf8, sizeof utf8);
  fprintf(file, "command_line=%s\n", utf8);
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  to_utf8(folder, utf8, sizeof utf8);
  fprintf(file, "working_folder=%s\n", utf8);
  const wchar_t* names[] = {L"PATH", L"PYTHONUTF8", L"PYTHONDONTWRITEBYTECODE", L"PYTHONHOME", L"PYTHONPATH",
                            L"ZIG_GLOBAL_CACHE_DIR", L"ZIG_LOCAL_CACHE_DIR"};
  for (const wchar_t* name : names) record_variable(file, name);
  fprintf(file, "pid=%lu\n", (unsigned long)GetCurrentProcessId());
  fprintf(file, "child_pid=%lu\n", (unsigned long)child_pid);
  fclose(file);
}

static bool file_exists(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct BuildArgs {
  const wchar_t* region;
  const wchar_t* levels;
  const wchar_t* iso;
  int jobs;
};

static int bad_command_line(const char* problem) {
  say("standin: bad command line: %s", problem);
  return 64;
}

// The command line the launcher forms; any difference is a fault.
static int check_arguments(int argc, wchar_t** argv, BuildArgs* args) {
  if (argc != 15) return bad_command_line("expected 14 arguments");
  if (wcscmp(argv[1], L"-u") != 0) return bad_command_line("-u missing");
  if (wcscmp(argv[2], L"build.py") != 0) return bad_command_line("build.py missing");
  if (!file_exists(L"build.py")) return bad_command_line("build.py is not in the working folder");
  if (wcscmp(argv[3], L"--platform") != 0 || wcscmp(argv[4], L"windows") != 0)
    return bad_command_line("--platform windows missing");
  if (wcscmp(argv[5], L"--region") != 0 || (wcscmp(argv[6], L"pal") != 0 && wcscmp(argv[6], L"us") != 0))
    return bad_command_line("--region pal or us missing");
  if (wcscmp(argv[7], L"--levels") != 0 || !argv[8][0]) return bad_command_line("--levels missing");
  if (wcscmp(argv[9], L"--iso") != 0) return bad_command_line("--iso missing");
  if (!file_exists(argv[10])) return bad_command_line("the disc image is not there");
  if (wcscmp(argv[11], L"--repo") != 0 || wcscmp(argv[12], L"decomp") != 0)
    return bad_command_line("--repo decomp missing");
  if (wcscmp(argv[13], L"-j") != 0 || _wtoi(argv[14]) < 1) return bad_command_line("-j with a count missing");
  args->region = argv[6];
  args->levels = argv[8];
  args->iso = argv[10];
  args->jobs = _wtoi(argv[14]);
  return 0;
}

static DWORD start_child(bool hold) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(NULL, self, MAX_PATH);
  wchar_t line[MAX_PATH + 64];
  _snwprintf(line, MAX_PATH + 64, L"\"%ls\" --standin-child %ls", self, hold ? L"hold" : L"quick");
  line[MAX_PATH + 63] = 0;
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  // The child inherits our standard handles: the launcher's pipe.
  if (!CreateProcessW(self, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 0;
  CloseHandle(process.hThread);
  if (!hold) WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

static int run_child(const wchar_t* mode) {
  say("stand-in child process %lu started", (unsigned long)GetCurrentProcessId());
  if (wcscmp(mode, L"hold") == 0) Sleep(INFINITE);
  return 0;
}

static void write_file(const wchar_t* path, const char* text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  write_bytes(file, text, strlen(text));
  CloseHandle(file);
}

static void make_folder_with_file(const wchar_t* folder, const wchar_t* name, const char* text) {
  CreateDirectoryW(folder, NULL);
  wchar_t path[MAX_PATH];
  _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, name);
  path[MAX_PATH - 1] = 0;
  write_file(path, text);
}

// The built game and everything a real build leaves beside it.
static void write_outputs(const wchar_t* region) {
  bool pal = wcscmp(region, L"pal") == 0;
  wchar_t out[MAX_PATH], path[MAX_PATH];
  _snwprintf(out, MAX_PATH, pal ? L"build\\windows" : L"build\\windows_%ls", region);
  CreateDirectoryW(L"build", NULL);
  CreateDirectoryW(out, NULL);

  _snwprintf(path, MAX_PATH, L"%ls\\mox1_wrapper.exe", out);
  // The kit may ship the stand-in game; then the build "produces" it.
  if (!file_exists(L"standin_game.exe") || !CopyFileW(L"standin_game.exe", path, FALSE))
    write_file(path, "stand-in placeholder for mox1_wrapper.exe\n");
  _snwprintf(path, MAX_PATH, L"%ls\\mox1_game.dll", out);
  write_file(path, "stand-in placeholder for mox1_game.dll\n");

  const wchar_t* folders[] = {L"gen", L"gen.new", L"obj", L"region"};
  for (const wchar_t* name : folders) {
    _snwprintf(path, MAX_PATH, L"%ls\\%ls", out, name);
    make_folder_with_file(path, L"part.txt", "intermediate\n");
  }
  const wchar_t* files[] = {L"mox1_game.pdb", L"mox1_wrapper.pdb", L"asm_stubs.c.lib"};
  for (const wchar_t* name : files) {
    _snwprintf(path, MAX_PATH, L"%ls\\%ls", out, name);
    write_file(path, "intermediate\n");
  }
  make_folder_with_file(pal ? L"build\\levels" : L"build\\levels_us", L"level0.bin", "level\n");
  make_folder_with_file(L"build\\disc", L"SYSTEM.CNF", "extracted\n");
  make_folder_with_file(L"zig-cache", L"cache.txt", "cache\n");
}

static int count_levels(const wchar_t* levels) {
  int count = 1;
  for (const wchar_t* p = levels; *p; p++)
    if (*p == L',') count++;
  return count;
}

static int play_success(const BuildArgs& args) {
  char region[16], iso[1024];
  to_utf8(args.region, region, sizeof region);
  to_utf8(args.iso, iso, sizeof iso);
  say("build.py (stand-in): region %s, %d jobs, disc %s", region, args.jobs, iso);
  progress("prepare", 0, 1);
  say("Translating the game's executable");
  progress("prepare", 1, 1);
  int levels = count_levels(args.levels);
  for (int i = 0; i < levels; i++) {
    say("level %d translated", i);
    progress("levels", i, levels);
  }
  int files = 24;
  for (int i = 0; i <= files; i++) {
    if (i < files) say("cc src/file_%02d.c", i);
    progress("compile", i, files);
  }
  write_outputs(args.region);
  // Standard error reaches the launcher through the same pipe.
  const char warning[] = "warning: stand-in build, the game is a placeholder\n";
  print_bytes(GetStdHandle(STD_ERROR_HANDLE), warning, sizeof warning - 1);
  progress("link", 0, 1);
  progress("link", 1, 1);
  progress("install", 1, 1);
  say("Build finished.");
  return 0;
}

// Exactly `total` bytes of output in large writes, with progress lines at the
// start, in the middle and at the very end, so that a test can cap the log
// and still see every progress line parsed.
static int play_flood(DWORD total) {
  static const char first[] = "[progress] compile 1 4\n", middle[] = "[progress] compile 2 4\n",
                    last[] = "[progress] link 1 1\n";
  const DWORD chunk_bytes = 65536;
  char* chunk = (char*)malloc(chunk_bytes);
  if (!chunk) return 1;
  DWORD body = total > sizeof last - 1 ? total - (DWORD)(sizeof last - 1) : 0;
  bool middle_done = false;
  DWORD sent = 0;
  int line = 0;
  while (sent < body) {
    DWORD filled = 0;
    // Whole lines in each write (a progress line is never split here), so a
    // chunk is sent once another line might not fit.
    while (chunk_bytes - filled >= 80 && sent + filled < body) {
      DWORD at = sent + filled;
      char text[80];
      int n;
      if (at == 0) {
        n = (int)strlen(first);
        memcpy(text, first, n);
      } else if (!middle_done && at >= body / 2) {
        n = (int)strlen(middle);
        memcpy(text, middle, n);
        middle_done = true;
      } else {
        n = snprintf(text, sizeof text, "flood line %09d of the stand-in's endless output ......\n", line++);
      }
      if ((DWORD)n > body - at) {
        // Cut to end the body exactly, still with a line feed.
        n = (int)(body - at);
        text[n - 1] = '\n';
      }
      memcpy(chunk + filled, text, n);
      filled += n;
    }
    print_bytes(out_handle, chunk, filled);
    sent += filled;
  }
  print_bytes(out_handle, last, sizeof last - 1);
  free(chunk);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  out_handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (argc == 3 && wcscmp(argv[1], L"--standin-child") == 0) return run_child(argv[2]);

  wchar_t text[64];
  if (GetEnvironmentVariableW(L"TELVAR_STANDIN_DELAY_MS", text, 64) > 0) delay_ms = (DWORD)_wtoi(text);
  wchar_t scenario[64] = L"success";
  GetEnvironmentVariableW(L"TELVAR_STANDIN_SCENARIO", scenario, 64);
  bool hang = wcscmp(scenario, L"hang") == 0;

  BuildArgs args;
  int bad = check_arguments(argc, argv, &args);
  if (bad) {
    write_record(0);
    return bad;
  }
  if (wcscmp(scenario, L"silent") == 0) {
    write_record(0);
    return 2;
  }
  // The flood's output is exactly the size asked for: no child line in it.
  write_record(wcscmp(scenario, L"flood") == 0 ? 0 : start_child(hang));

  if (wcscmp(scenario, L"fail") == 0) {
    int code = 2;
    if (GetEnvironmentVariableW(L"TELVAR_STANDIN_EXIT", text, 64) > 0) code = (int)wcstoul(text, NULL, 0);
    progress("prepare", 0, 1);
    say("compiling src/mox1_game.c");
    say("error: src/mox1_game.c:12: the stand-in was asked to fail");
    const char unfinished[] = "an unfinished last line";
    print_bytes(out_handle, unfinished, sizeof unfinished - 1);
    return code;
  }
  if (hang) {
    progress("prepare", 0, 1);
    say("waiting until the launcher ends this build");
    Sleep(INFINITE);
  }
  if (wcscmp(scenario, L"longline") == 0) {
    static char line[5001];
    for (int i = 0; i < 5000; i++) line[i] = (char)('a' + i % 26);
    line[5000] = '\n';
    print_bytes(out_handle, line, 2500);
    pause();
    print_bytes(out_handle, line + 2500, 2501);
    return 1;
  }
  if (wcscmp(scenario, L"crlf") == 0) {
    print_bytes(out_handle, "first line\r", 11);
    pause();
    print_bytes(out_handle, "\nlast line\r", 11);
    pause();
    print_bytes(out_handle, "\n", 1);
    return 1;
  }
  if (wcscmp(scenario, L"crash") == 0) {
    say("about to fail hard");
    ExitProcess(0xC0000005u);
  }
  if (wcscmp(scenario, L"utf8") == 0) {
    say("erreur: fichier \xC3\xA9t\xC3\xA9 introuvable");
    return 1;
  }
  if (wcscmp(scenario, L"latin1") == 0) {
    say("erreur: fichier \xE9t\xE9 introuvable");
    return 1;
  }
  if (wcscmp(scenario, L"flood") == 0) {
    DWORD total = 1u << 20;
    if (GetEnvironmentVariableW(L"TELVAR_STANDIN_FLOOD_BYTES", text, 64) > 0) total = (DWORD)wcstoul(text, NULL, 0);
    return play_flood(total);
  }
  if (wcscmp(scenario, L"many") == 0) {
    for (int i = 1; i <= 17; i++) say("line %d", i);
    return 1;
  }
  return play_success(args);
}
