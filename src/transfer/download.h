// Fetching one release file over HTTP(S) with WinHTTP, or copying it from a
// local folder, to a file or into memory. Runs on the build worker; reports
// through publish_progress and fail_build, and stops when the job's cancel
// flag is set. Never leaves a partial destination file behind.
#pragma once
#include <stdint.h>
#include <wchar.h>

// destination null: the body is returned in a malloc block in *data_out
// (zero-terminated, owned by the caller) with its length in *length_out.
bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label);
