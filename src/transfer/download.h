// Fetching one release file over HTTP(S) with WinHTTP, or copying it from a
// local folder, to a file or into memory. Runs on the build worker; reports
// through publish_progress and fail_build, and stops when the job's cancel
// flag is set. Never leaves a partial destination file behind, and never
// writes through a link standing at the destination.
#pragma once
#include <stdint.h>
#include <wchar.h>

// The most one download may bring: a description text and an archive. A body
// without an announced length stops there, and a longer announced one is
// refused before it is read.
static const uint64_t DOWNLOAD_TEXT_LIMIT = 1ull << 20;     // 1 MiB
static const uint64_t DOWNLOAD_ARCHIVE_LIMIT = 2ull << 30;  // 2 GiB

// destination null: the body is returned in a malloc block in *data_out
// (zero-terminated, owned by the caller) with its length in *length_out.
// label begins the progress texts ("Downloading the build tools"); name is
// the thing in error texts ("Could not download the build tools ...").
bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label, const wchar_t* name, uint64_t limit);

// The same with one text for progress and errors alike, and an archive's limit.
bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label);
