// Fetching one release file over HTTP(S) with WinHTTP, or copying it from a
// local folder, to a file or into memory. Reports progress and asks about a
// cancel through the caller's TransferProgress, and returns what failed in a
// TransferResult. Never leaves a partial destination file behind, and never
// writes through a link standing at the destination. An HTTP download to a
// file keeps what it has in "<destination>.partial" beside a record
// "<destination>.partial.txt" while it is interrupted, so that the next call
// for the same address asks only for the rest; failures of the network on the
// way are tried again a few times, each time resuming.
#pragma once
#include <stdint.h>
#include <wchar.h>

#include "transfer/transfer_result.h"

// The most one download may bring: a description text and an archive. A body
// without an announced length stops there, and a longer announced one is
// refused before it is read.
static const uint64_t DOWNLOAD_TEXT_LIMIT = 1ull << 20;     // 1 MiB
static const uint64_t DOWNLOAD_ARCHIVE_LIMIT = 2ull << 30;  // 2 GiB

// Names beside the destination: the partial body and its resume record.
#define DOWNLOAD_PARTIAL_SUFFIX L".partial"
#define DOWNLOAD_RECORD_SUFFIX L".partial.txt"

// The waits of an HTTP download. The defaults suit real networks; tests
// shorten them so that a retried failure does not cost its real pauses.
struct DownloadLimits {
  uint32_t headers_ms;        // from the request's start to its headers, all told
  uint32_t stall_window_ms;   // a body must bring stall_min_bytes in every window this long
  uint32_t stall_min_bytes;
  uint32_t pause_percent;     // of the pauses before retries (100: 1, 4 and 10 s)
};
extern const DownloadLimits DOWNLOAD_LIMITS_DEFAULT;
// Sets the limits of the downloads that follow (null: the defaults).
void set_download_limits(const DownloadLimits* limits);

// destination null: the body is returned in a malloc block in *data_out
// (zero-terminated, owned by the caller) with its length in *length_out.
// The stage texts are progress->label alone at the start, then
// "<label> (n of m MB)", or "<label> (n MB)" with a fraction of -1 when the
// size is not known; once the body has come for a second the speed and the
// time left follow ("<label> (12 of 40 MB, 3.1 MB/s, about 9 s left)").
// Before a retry the stage says so ("Connection lost; trying again (2 of 3)…"). True when the whole body arrived; false with
// result->failure set otherwise (TRANSFER_CANCELLED after a cancel).
bool download_file(const wchar_t* source, const wchar_t* destination, uint64_t limit, char** data_out,
                   uint32_t* length_out, const TransferProgress* progress, TransferResult* result);
