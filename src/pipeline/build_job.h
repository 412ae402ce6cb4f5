// The build job: one background worker that turns a library entry of a
// buildable disc into a built game. It fetches the release's build
// description, installs the build tools when they are missing or outdated,
// fetches and unpacks the game's build kit, runs the kit's script, removes the
// intermediate files and stamps the version it built. It reports only through
// the job status record and WM_APP_BUILD_PROGRESS; at most one job runs.
//
// Refused: an entry without a buildable catalogue row, a second job while one
// runs, and archive names from the description that are not plain file names.
// The launcher's folder is checked first (pre-flight): a folder that cannot
// hold a build fails the job at once with the reason, before anything is
// fetched or deleted; a warning goes to the status line and the build goes on.
// Memory: static path buffers of the one job; the description text is a heap
// block freed at the job's end.
#pragma once
#include <windows.h>
#include <stdint.h>

// Window thread. Starts a job for the library entry, or does nothing when the
// index is negative, a job runs, or the entry's disc cannot be built. The
// entry's disc path and catalogue row are copied for the worker, so that
// changes to the library during the build do not change what is built.
void start_build(int32_t entry_index);

// Window thread (or a console's break handler). Asks the job to stop and ends
// the build script's processes at once; never waits for the worker.
void cancel_build();

// The worker's routine. It takes no argument and returns 0; its outcome is in
// the job status record, and it posts WM_APP_BUILD_PROGRESS wParam 1 at its end.
DWORD WINAPI build_worker(void* unused);

// start_build's checks and resets without the thread: true when a job was
// prepared, after which build_worker may be called on any thread (the console
// companion runs it on its own). False with g_job.failed set when the folder's
// pre-flight refused the build (the job's error text says why).
bool prepare_build(int32_t entry_index);
