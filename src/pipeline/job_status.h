// The build job's shared record: what the window learns about the job that
// runs on the worker thread, and the two ways worker-side code reports.
//
// The worker writes the texts and the window reads them while painting. The
// texts are formatted outside the record and copied in under a small lock, and
// the window copies them out under the same lock (job_read_texts), so a frame
// never shows a half-rewritten text. The same lock guards the job object
// handle, so a cancel can never terminate a handle the worker has closed.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

enum { STAGE_TEXT_UNITS = 256, ERROR_TEXT_UNITS = 512 };

struct JobStatus {
  volatile LONG running;            // 1 while a job exists
  volatile LONG cancel_requested;   // 1 once the user asked the job to stop
  volatile LONG failed;             // 1 once the job has an error text
  volatile LONG refused;            // 1 when the job was refused before it started: nothing was tried
  volatile LONG entry_index;        // library entry being built or last built, -1 before any
  double progress;                  // fraction of the whole job done, 0.0 to 1.0
  wchar_t stage_text[STAGE_TEXT_UNITS];  // what the job is doing now
  wchar_t error_text[ERROR_TEXT_UNITS];  // why the job failed, or "Build cancelled."
  HANDLE job_object;                // job object of the build script's process tree, or null
  DWORD last_post_tick;             // GetTickCount of the last progress message
  SRWLOCK lock;                     // guards stage_text, error_text and job_object
  volatile LONG serial;             // number of the current or last job, counted from 1; 0 before any
};

// The one job's record, in static storage; the window reads it, the worker
// writes it.
extern JobStatus g_job;

// Sets the record to its value at process start: no job, none built yet
// (tests reuse one process).
void reset_job_status();

// Window side, after a library entry was removed: the build's entry index
// follows its entry, so that the progress block and the error text stay with
// the right row; a finished build's outcome leaves with its own entry instead
// of moving to the next one.
void job_entry_removed(int32_t removed);

// Worker side. Sets the stage text (formatted, cut at 255 units) and, when
// fraction >= 0, the progress; posts WM_APP_BUILD_PROGRESS (wParam 0) to the
// window when more than 80 ms passed since the last post.
void publish_progress(double fraction, const wchar_t* format, ...);

// Worker side. Sets the error text (cut at 511 units) and failed = 1.
void fail_build(const wchar_t* format, ...);

// Worker side. True once the user asked the job to stop.
bool cancel_requested();

// Window side: copies both texts as one consistent pair. Either may be null.
void job_read_texts(wchar_t* stage, size_t stage_units, wchar_t* error, size_t error_units);

// The job object of the running build script: stored, terminated and closed
// under the lock, so that terminate never meets a closed handle.
void job_set_object(HANDLE job);
void job_terminate_object(UINT exit_code);   // no-op when there is none
void job_close_object();                     // closes it and sets it to null

// A program without a window (telvar-cli) follows the job through this hook,
// called on the worker after every publish_progress and fail_build.
typedef void (*JobListener)(void);
void set_job_listener(JobListener listener);

// The clock the progress throttle reads: GetTickCount, unless a test puts
// another in its place to reach the tick count's wrap; null restores it.
typedef DWORD(WINAPI* JobTickSource)(void);
void set_job_tick_source(JobTickSource source);
