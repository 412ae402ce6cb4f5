// What a download or an extraction hears from its caller and what it hands
// back. The transfer code reports progress and asks whether to stop through
// TransferProgress, and returns a TransferResult that names what failed with
// the figures a message needs; the caller (the build job, telvar-cli) turns
// it into the text it shows. So the transfer code knows nothing of who runs it.
#pragma once
#include <stdint.h>
#include <wchar.h>

enum { TRANSFER_DETAIL_UNITS = 512 };  // a path or address in a result, cut beyond

// A progress function gets the fraction of this transfer done (0.0 to 1.0,
// or negative when it cannot be told: only the text changes) and the stage
// text; cancelled is asked between chunks and entries. Either may be null.
struct TransferProgress {
  void (*progress)(void* context, double fraction, const wchar_t* stage);
  bool (*cancelled)(void* context);
  void* context;
  const wchar_t* label;  // begins a download's stage texts, ends an extraction's
};

enum TransferFailure {
  TRANSFER_OK = 0,
  TRANSFER_CANCELLED,        // the caller asked to stop; nothing to say
  // Download and local copy.
  TRANSFER_BAD_ADDRESS,      // detail: the address
  TRANSFER_NO_CONNECTION,    // code: the system error of the request
  TRANSFER_REFUSED,          // code: the HTTP status (0 when it could not be read)
  TRANSFER_INTERRUPTED,      // code: the system error of a read of the body
  TRANSFER_ENDED_EARLY,      // the body is shorter than its announced length
  TRANSFER_TOO_LARGE,        // limit: the most the caller allowed
  TRANSFER_NO_MEMORY,        // a memory result could not grow
  TRANSFER_SOURCE_MISSING,   // detail: the local source
  TRANSFER_READ_FAILED,      // detail: the file that could not be read
  // Both.
  TRANSFER_CANNOT_CREATE,    // detail: the file that could not be made
  TRANSFER_WRITE_FAILED,     // detail: the file written short (disk full?)
  TRANSFER_LINK,             // detail: a link in the way that could not be removed
  // Extraction.
  TRANSFER_CANNOT_OPEN,      // detail: the archive
  TRANSFER_ARCHIVE_TOO_LARGE,  // size: the archive's bytes (4 GiB or more)
  TRANSFER_ARCHIVE_NO_MEMORY,  // size: the archive's bytes
  TRANSFER_NOT_ZIP,
  TRANSFER_DAMAGED,          // damaged records, or entries sharing their bytes
  TRANSFER_NAME_TOO_LONG,    // an entry's name longer than the reader takes
  TRANSFER_ENTRY_DAMAGED,    // entry: the entry whose data do not decode
  TRANSFER_UNKNOWN_METHOD,
  TRANSFER_UNPACKED_TOO_LARGE,  // size: the files' total; limit: the most allowed
  // Download, again.
  TRANSFER_NO_SPACE,         // size: the announced bytes still to come; limit: the drive's free bytes
};

struct TransferResult {
  TransferFailure failure;
  uint32_t code;                           // system error or HTTP status, else 0
  uint64_t size;                           // bytes, see the failure
  uint64_t limit;                          // bytes, see the failure
  wchar_t detail[TRANSFER_DETAIL_UNITS];   // path or address, control characters as they are named
  wchar_t entry[TRANSFER_DETAIL_UNITS];    // an archive entry's name for a text
};

// Sets result to success: no failure, no figures, empty texts.
void clear_transfer_result(TransferResult* result);

// Sets failure and detail (cut to fit; null leaves it empty). Returns false,
// so that a failing step can end with `return transfer_failed(...)`.
bool transfer_failed(TransferResult* result, TransferFailure failure, const wchar_t* detail);

// The caller's answers, with a null function or record meaning "go on".
void report_transfer(const TransferProgress* progress, double fraction, const wchar_t* format, ...);
bool transfer_cancelled(const TransferProgress* progress);
const wchar_t* transfer_label(const TransferProgress* progress);  // "" when none
