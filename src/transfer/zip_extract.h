// Unpacking a zip archive into a folder with our own zip reader and inflate
// decoder. Reports "Unpacking <label> (n of m files)" through the caller's
// TransferProgress, stops between entries when it says cancelled, and returns
// what failed in a TransferResult. Entries whose names could reach outside
// the destination are skipped.
#pragma once
#include <wchar.h>

#include "transfer/transfer_result.h"

// True when every entry was handled; false with result->failure set
// otherwise (TRANSFER_CANCELLED after a cancel, the detail and entry names
// with control characters replaced).
bool extract_zip_file(const wchar_t* archive, const wchar_t* destination, const TransferProgress* progress,
                      TransferResult* result);
