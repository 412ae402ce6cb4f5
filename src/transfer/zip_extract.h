// Unpacking a zip archive into a folder with our own zip reader and inflate
// decoder. Runs on the build worker; reports through publish_progress and
// fail_build, and stops between entries when the job's cancel flag is set.
// Entries whose names could reach outside the destination are skipped.
#pragma once
#include <wchar.h>

bool extract_zip(const wchar_t* archive, const wchar_t* destination, double progress_from, double progress_to,
                 const wchar_t* label);
