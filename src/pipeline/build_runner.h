// Running the build kit's script "build.py" with the toolchain's interpreter:
// the script's environment, its command line, a job object that holds its
// whole process tree, and its joined output, which is copied byte for byte to
// "build_log.txt" in the kit folder and read for progress lines and for the
// last lines of ordinary output. Runs on the build worker.
//
// Memory: static buffers only (the saved PATH, the command line, the read and
// line buffers and the remembered lines); one run at a time.
#pragma once
#include <stdint.h>
#include <wchar.h>

enum {
  SAVED_PATH_UNITS = 8192,     // the launcher's own PATH, saved once per process
  SCRIPT_PATH_UNITS = 9000,    // the PATH the script gets
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
