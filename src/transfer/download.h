// Fetching one release file over HTTP(S) with WinHTTP, or copying it from a
// local folder, to a file or into memory. Reports progress and asks about a
// cancel through the caller's TransferProgress, and returns what failed in a
// TransferResult. Never leaves a partial destination file behind, and never
// writes through a link standing at the destination.
#pragma once
#include <stdint.h>
#include <wchar.h>

#include "transfer/transfer_result.h"

// The most one download may bring: a description text and an archive. A body
// without an announced length stops there, and a longer announced one is
// refused before it is read.
static const uint64_t DOWNLOAD_TEXT_LIMIT = 1ull << 20;     // 1 MiB
static const uint64_t DOWNLOAD_ARCHIVE_LIMIT = 2ull << 30;  // 2 GiB

// destination null: the body is returned in a malloc block in *data_out
// (zero-terminated, owned by the caller) with its length in *length_out.
// The stage texts are progress->label alone at the start, then
// "<label> (n of m MB)", or "<label> (n MB)" with a fraction of -1 when the
// size is not known. True when the whole body arrived; false with
// result->failure set otherwise (TRANSFER_CANCELLED after a cancel).
bool download_file(const wchar_t* source, const wchar_t* destination, uint64_t limit, char** data_out,
                   uint32_t* length_out, const TransferProgress* progress, TransferResult* result);
