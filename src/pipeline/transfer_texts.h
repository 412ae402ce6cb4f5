// The build job's side of the transfers: what a failed download or
// extraction says to the user, and the job's own calls of them, which show
// their progress on a stretch of the job's bar, stop at the job's cancel and
// fail the job with the text.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "transfer/download.h"
#include "transfer/zip_extract.h"

// The text for a failed transfer; name is what was fetched or unpacked, as
// the texts name it ("the build tools"). Empty for success and for a cancel,
// which is silent. Cut to fit out[units].
void transfer_failure_text(const TransferResult* result, const wchar_t* name, wchar_t* out, size_t units);

// download_file for the build job: progress from progress_from to
// progress_to of the job's bar, label begins the stage texts and name is the
// thing in error texts ("Could not download the build tools ..."). False
// with the job failed (or silently after a cancel).
bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label, const wchar_t* name, uint64_t limit);

// The same with one text for progress and errors alike, and an archive's limit.
bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label);

// extract_zip_file for the build job, likewise; label names the archive in
// both the stage and the error texts.
bool extract_zip(const wchar_t* archive, const wchar_t* destination, double progress_from, double progress_to,
                 const wchar_t* label);
