// Texts of failed transfers and the build job's transfers; see transfer_texts.h.
#include "pipeline/transfer_texts.h"

#include "core/text.h"
#include "pipeline/job_status.h"

static const double BYTES_PER_MB = 1048576.0;

void transfer_failure_text(const TransferResult* r, const wchar_t* name, wchar_t* out, size_t units) {
  unsigned long code = (unsigned long)r->code;
  double size_mb = (double)r->size / BYTES_PER_MB, limit_mb = (double)r->limit / BYTES_PER_MB;
  switch (r->failure) {
    case TRANSFER_OK:
    case TRANSFER_CANCELLED:
      copy_text(out, units, L"");
      return;
    case TRANSFER_BAD_ADDRESS:
      format_text(out, units, L"Bad address: %ls", r->detail);
      return;
    case TRANSFER_NO_CONNECTION:
      format_text(out, units, L"Could not download %ls (error %lu). Check your internet connection.", name, code);
      return;
    case TRANSFER_REFUSED:
      format_text(out, units, L"Could not download %ls (the server answered %lu).", name, code);
      return;
    case TRANSFER_INTERRUPTED:
      format_text(out, units, L"The download of %ls stopped (error %lu).", name, code);
      return;
    case TRANSFER_ENDED_EARLY:
      format_text(out, units, L"The download of %ls ended early.", name);
      return;
    case TRANSFER_TOO_LARGE:
      format_text(out, units, L"The download of %ls stopped: it is larger than %.0f MB.", name, limit_mb);
      return;
    case TRANSFER_NO_MEMORY:
      format_text(out, units, L"Not enough memory to download %ls.", name);
      return;
    case TRANSFER_SOURCE_MISSING:
      format_text(out, units, L"%ls is not there.", r->detail);
      return;
    case TRANSFER_READ_FAILED:
      format_text(out, units, L"Could not read %ls.", r->detail);
      return;
    case TRANSFER_CANNOT_CREATE:
      format_text(out, units, L"Could not write %ls.", r->detail);
      return;
    case TRANSFER_WRITE_FAILED:
      format_text(out, units, L"Could not write %ls (disk full?).", r->detail);
      return;
    case TRANSFER_LINK:
      format_text(out, units, L"%ls is a link to another place and could not be removed. Remove it and try again.",
                  r->detail);
      return;
    case TRANSFER_CANNOT_OPEN:
      format_text(out, units, L"Could not open %ls.", r->detail);
      return;
    case TRANSFER_ARCHIVE_TOO_LARGE:
      format_text(out, units, L"%ls is too large to unpack (%.0f MB).", name, size_mb);
      return;
    case TRANSFER_ARCHIVE_NO_MEMORY:
      format_text(out, units, L"Not enough memory to unpack %ls (%.0f MB).", name, size_mb);
      return;
    case TRANSFER_NOT_ZIP:
      format_text(out, units, L"%ls is not a zip file.", name);
      return;
    case TRANSFER_DAMAGED:
      format_text(out, units, L"%ls is damaged.", name);
      return;
    case TRANSFER_NAME_TOO_LONG:
      format_text(out, units, L"%ls has a name too long.", name);
      return;
    case TRANSFER_ENTRY_DAMAGED:
      format_text(out, units, L"%ls is damaged (%ls).", name, r->entry);
      return;
    case TRANSFER_UNKNOWN_METHOD:
      format_text(out, units, L"%ls uses an unknown compression.", name);
      return;
    case TRANSFER_UNPACKED_TOO_LARGE:
      format_text(out, units, L"%ls is too large: its files add up to %.0f MB, more than %.0f MB.", name, size_mb,
                  limit_mb);
      return;
  }
  format_text(out, units, L"Could not fetch or unpack %ls.", name);  // a failure this list does not know
}

// The stretch of the job's bar one transfer fills.
struct JobSpan {
  double from;
  double to;
};

static void publish_on_span(void* context, double fraction, const wchar_t* stage) {
  const JobSpan* span = (const JobSpan*)context;
  publish_progress(fraction < 0.0 ? -1.0 : span->from + (span->to - span->from) * fraction, L"%ls", stage);
}

static bool job_cancelled(void*) { return cancel_requested(); }

// Fails the job with the result's text; a cancel stays silent.
static bool fail_job(const TransferResult* result, const wchar_t* name) {
  if (result->failure == TRANSFER_CANCELLED) return false;
  wchar_t text[ERROR_TEXT_UNITS];
  transfer_failure_text(result, name, text, ERROR_TEXT_UNITS);
  fail_build(L"%ls", text);
  return false;
}

// Transfer records are too large for the worker's stack to hold lightly;
// one job runs at a time.
static TransferResult job_result;

bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label, const wchar_t* name, uint64_t limit) {
  JobSpan span = {progress_from, progress_to};
  TransferProgress progress = {publish_on_span, job_cancelled, &span, label};
  if (download_file(source, destination, limit, data_out, length_out, &progress, &job_result)) return true;
  return fail_job(&job_result, name);
}

bool download_url(const wchar_t* source, const wchar_t* destination, double progress_from, double progress_to,
                  char** data_out, uint32_t* length_out, const wchar_t* label) {
  return download_url(source, destination, progress_from, progress_to, data_out, length_out, label, label,
                      DOWNLOAD_ARCHIVE_LIMIT);
}

bool extract_zip(const wchar_t* archive, const wchar_t* destination, double progress_from, double progress_to,
                 const wchar_t* label) {
  JobSpan span = {progress_from, progress_to};
  TransferProgress progress = {publish_on_span, job_cancelled, &span, label};
  if (extract_zip_file(archive, destination, &progress, &job_result)) return true;
  return fail_job(&job_result, label);
}
