// The build job's shared record: what the window learns about the job that
// runs on the worker thread. Plain data; the reporting functions are in
// job_status.cpp.
#pragma once
#include <windows.h>
#include <stdint.h>

enum { STAGE_TEXT_UNITS = 256, ERROR_TEXT_UNITS = 512 };

struct JobStatus {
  volatile LONG running;            // 1 while a job exists
  volatile LONG cancel_requested;   // 1 once the user asked the job to stop
  volatile LONG failed;             // 1 once the job has an error text
  volatile LONG entry_index;        // library entry being built or last built, -1 before any
  double progress;                  // fraction of the whole job done, 0.0 to 1.0
  wchar_t stage_text[STAGE_TEXT_UNITS];  // what the job is doing now
  wchar_t error_text[ERROR_TEXT_UNITS];  // why the job failed, or "Build cancelled."
  HANDLE job_object;                // job object of the build script's process tree, or null
  DWORD last_post_tick;             // GetTickCount of the last progress message
};
