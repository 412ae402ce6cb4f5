// Reporting from the build worker to the window; see job_status.h.
#include "pipeline/job_status.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "core/state.h"
#include "core/text.h"

JobStatus g_job;

void reset_job_status() {
  // The lock is a plain SRWLOCK: all zeros is its initial state.
  memset(&g_job, 0, sizeof g_job);
  g_job.entry_index = -1;
}

// The record is ready before main runs.
static const bool job_ready = (reset_job_status(), true);

void job_entry_removed(int32_t removed) {
  LONG built = g_job.entry_index;
  if (built > removed)
    InterlockedExchange(&g_job.entry_index, built - 1);
  else if (built == removed)
    InterlockedExchange(&g_job.entry_index, -1);
}

static JobListener job_listener;

void set_job_listener(JobListener listener) { job_listener = listener; }

static JobTickSource job_tick = GetTickCount;

void set_job_tick_source(JobTickSource source) { job_tick = source ? source : GetTickCount; }

// Formats into a local buffer, so that the shared text is replaced in one
// short copy under the lock rather than written piece by piece.
static void format_into(wchar_t* shared, size_t units, const wchar_t* format, va_list args) {
  wchar_t text[ERROR_TEXT_UNITS];
  size_t n = units < (size_t)ERROR_TEXT_UNITS ? units : (size_t)ERROR_TEXT_UNITS;
  format_text_v(text, n, format, args);
  JobStatus& job = g_job;
  AcquireSRWLockExclusive(&job.lock);
  memcpy(shared, text, (wcslen(text) + 1) * sizeof(wchar_t));
  ReleaseSRWLockExclusive(&job.lock);
}

void publish_progress(double fraction, const wchar_t* format, ...) {
  JobStatus& job = g_job;
  va_list args;
  va_start(args, format);
  format_into(job.stage_text, STAGE_TEXT_UNITS, format, args);
  va_end(args);
  if (fraction >= 0.0) job.progress = fraction;

  // Unsigned subtraction: correct across the tick count's wrap at 49.7 days.
  DWORD now = job_tick();
  if ((DWORD)(now - job.last_post_tick) >= 81) {
    job.last_post_tick = now;
    // Without a window (telvar-cli) a null handle would post to this thread's
    // own queue, where nobody reads and a long build could fill it.
    if (g_state.main_window) PostMessageW(g_state.main_window, WM_APP_BUILD_PROGRESS, 0, 0);
  }
  if (job_listener) job_listener();
}

bool cancel_requested() { return g_job.cancel_requested != 0; }

void fail_build(const wchar_t* format, ...) {
  JobStatus& job = g_job;
  va_list args;
  va_start(args, format);
  format_into(job.error_text, ERROR_TEXT_UNITS, format, args);
  va_end(args);
  InterlockedExchange(&job.failed, 1);
  if (job_listener) job_listener();
}

void job_read_texts(wchar_t* stage, size_t stage_units, wchar_t* error, size_t error_units) {
  JobStatus& job = g_job;
  AcquireSRWLockShared(&job.lock);
  if (stage) {
    wcsncpy(stage, job.stage_text, stage_units);
    stage[stage_units - 1] = 0;
  }
  if (error) {
    wcsncpy(error, job.error_text, error_units);
    error[error_units - 1] = 0;
  }
  ReleaseSRWLockShared(&job.lock);
}

void job_set_object(HANDLE job_object) {
  JobStatus& job = g_job;
  AcquireSRWLockExclusive(&job.lock);
  job.job_object = job_object;
  ReleaseSRWLockExclusive(&job.lock);
}

void job_terminate_object(UINT exit_code) {
  JobStatus& job = g_job;
  AcquireSRWLockExclusive(&job.lock);
  if (job.job_object) TerminateJobObject(job.job_object, exit_code);
  ReleaseSRWLockExclusive(&job.lock);
}

void job_close_object() {
  JobStatus& job = g_job;
  AcquireSRWLockExclusive(&job.lock);
  if (job.job_object) CloseHandle(job.job_object);
  job.job_object = NULL;
  ReleaseSRWLockExclusive(&job.lock);
}
