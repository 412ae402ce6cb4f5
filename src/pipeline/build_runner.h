// Running the build kit's script "build.py" with the toolchain's interpreter:
// the script's own environment block (the launcher's environment is never
// changed, so a game started later does not inherit the toolchain's), its
// command line, a job object that holds its whole process tree, and its
// joined output, which is copied to "build_log.txt" in the kit folder (byte
// for byte up to a cap, its first and last part beyond) and read whole for
// progress lines and for the last lines of ordinary output. Runs on the build
// worker.
//
// Refuses to write the log through a link at its name: a link that cannot be
// removed stops the job. When the job object cannot take the script, the
// runner ends the script's processes itself on a cancel, at the run's end and
// when the launcher exits.
//
// Memory: static buffers (the command line, the read and line buffers, the
// remembered lines, the log's kept tail of at most 1 MiB, the process tree of
// a script outside its job) and one heap block for the environment, released
// within the run; one run at a time.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <wchar.h>

enum {
  COMMAND_LINE_UNITS = 4096,   // the script's command line
  READ_CHUNK_BYTES = 4096,     // one read from the pipe
};

// The number handed to the script with "-j": one job per processor, and no
// more than one per whole 1.5 GiB of memory; at least 1.
int build_job_count();
// The rule itself: the smaller of the processor count and one job per whole
// 1.5 GiB of memory, at least 1; the processor count alone when the memory
// figure is unknown.
int job_count_for(int32_t processors, uint64_t total_memory, bool memory_known);

// Runs the script in kit_folder and waits for it. True when it ended with
// code 0 and no cancel was requested; false with the job's error text set, or
// false without a text after a cancel.
bool run_build_tool(const wchar_t* kit_folder, const wchar_t* toolchain_folder, const wchar_t* interpreter,
                    const wchar_t* disc_path, const wchar_t* region_word, const wchar_t* level_list);

// The build log holds everything the script prints up to BUILD_LOG_CAP_BYTES;
// beyond that it keeps the first and the last BUILD_LOG_KEEP_BYTES with a line
// between them that says how many bytes were left out.
const uint64_t BUILD_LOG_CAP_BYTES = 64ull << 20;
const uint32_t BUILD_LOG_KEEP_BYTES = 1u << 20;
// Tests: a smaller cap and kept part (keep at most BUILD_LOG_KEEP_BYTES, and
// less than half the cap); 0, 0 restores the real ones.
void set_build_log_limits(uint64_t cap_bytes, uint32_t keep_bytes);

// Tests: the call that puts the script into its job object, in place of
// AssignProcessToJobObject, to reach a job that cannot take the script; null
// restores the platform's.
typedef BOOL(WINAPI* JobAssignFunction)(HANDLE job, HANDLE process);
void set_job_assign_function(JobAssignFunction assign);
