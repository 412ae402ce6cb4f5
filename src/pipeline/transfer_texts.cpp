// Texts of failed transfers and the build job's transfers; see transfer_texts.h.
#include "pipeline/transfer_texts.h"

#include "core/failure_words.h"
#include "core/state.h"
#include "core/unwritable_folder.h"
#include "core/text.h"
#include "pipeline/job_status.h"

static const double BYTES_PER_MB = 1048576.0;

// What a text is made of, after its format.
enum TextArguments { WITH_WORDS, WITH_NAME, WITH_DETAIL, WITH_CODE, WITH_SIZE, WITH_LIMIT, WITH_ENTRY, WITH_SIZE_AND_LIMIT };

// A Windows error code of a download is said in words (what happened, what
// to try) by the failure-words sentences; the other texts are formats.
typedef void (*CodeSentence)(wchar_t* out, size_t units, const wchar_t* label, uint32_t error);

struct FailureText {
  TransferFailure failure;
  TextArguments arguments;  // name first, then the figure, except WITH_DETAIL: the detail alone
  const wchar_t* format;    // null for WITH_WORDS
  CodeSentence sentence;    // WITH_WORDS only: given the name and the code
};

static const FailureText FAILURE_TEXTS[] = {
    {TRANSFER_BAD_ADDRESS, WITH_DETAIL, L"Bad address: %ls", nullptr},
    {TRANSFER_NO_CONNECTION, WITH_WORDS, nullptr, describe_download_failure},
    {TRANSFER_REFUSED, WITH_CODE, L"Could not download %ls (the server answered %lu).", nullptr},
    {TRANSFER_INTERRUPTED, WITH_WORDS, nullptr, describe_download_stopped},
    {TRANSFER_ENDED_EARLY, WITH_NAME, L"The download of %ls ended early.", nullptr},
    {TRANSFER_TOO_LARGE, WITH_LIMIT, L"The download of %ls stopped: it is larger than %.0f MB.", nullptr},
    {TRANSFER_NO_MEMORY, WITH_NAME, L"Not enough memory to download %ls.", nullptr},
    {TRANSFER_SOURCE_MISSING, WITH_DETAIL, L"%ls is not there.", nullptr},
    {TRANSFER_READ_FAILED, WITH_DETAIL, L"Could not read %ls.", nullptr},
    {TRANSFER_CANNOT_CREATE, WITH_DETAIL, L"Could not write %ls.", nullptr},
    {TRANSFER_WRITE_FAILED, WITH_DETAIL, L"Could not write %ls (disk full?).", nullptr},
    {TRANSFER_LINK, WITH_DETAIL, L"%ls is a link to another place and could not be removed. Remove it and try again.", nullptr},
    {TRANSFER_CANNOT_OPEN, WITH_DETAIL, L"Could not open %ls.", nullptr},
    {TRANSFER_ARCHIVE_TOO_LARGE, WITH_SIZE, L"%ls is too large to unpack (%.0f MB).", nullptr},
    {TRANSFER_ARCHIVE_NO_MEMORY, WITH_SIZE, L"Not enough memory to unpack %ls (%.0f MB).", nullptr},
    {TRANSFER_NOT_ZIP, WITH_NAME, L"%ls is not a zip file.", nullptr},
    {TRANSFER_DAMAGED, WITH_NAME, L"%ls is damaged.", nullptr},
    {TRANSFER_NAME_TOO_LONG, WITH_NAME, L"%ls has a name too long.", nullptr},
    {TRANSFER_ENTRY_DAMAGED, WITH_ENTRY, L"%ls is damaged (%ls).", nullptr},
    {TRANSFER_UNKNOWN_METHOD, WITH_NAME, L"%ls uses an unknown compression.", nullptr},
    {TRANSFER_UNPACKED_TOO_LARGE, WITH_SIZE_AND_LIMIT,
     L"%ls is too large: its files add up to %.0f MB, more than %.0f MB.", nullptr},
    {TRANSFER_NO_SPACE, WITH_SIZE_AND_LIMIT,
     L"Not enough free space to download %ls: it needs %.0f MB and the drive has %.0f MB free.", nullptr},
};

void transfer_failure_text(const TransferResult* r, const wchar_t* name, wchar_t* out, size_t units) {
  copy_text(out, units, L"");  // success and cancel say nothing
  double size_mb = (double)r->size / BYTES_PER_MB, limit_mb = (double)r->limit / BYTES_PER_MB;
  for (const FailureText& t : FAILURE_TEXTS) {
    if (t.failure != r->failure) continue;
    switch (t.arguments) {
      case WITH_WORDS: t.sentence(out, units, name, r->code); break;
      case WITH_NAME: format_text(out, units, t.format, name); break;
      case WITH_DETAIL: format_text(out, units, t.format, r->detail); break;
      case WITH_CODE: format_text(out, units, t.format, name, (unsigned long)r->code); break;
      case WITH_SIZE: format_text(out, units, t.format, name, size_mb); break;
      case WITH_LIMIT: format_text(out, units, t.format, name, limit_mb); break;
      case WITH_ENTRY: format_text(out, units, t.format, name, r->entry); break;
      case WITH_SIZE_AND_LIMIT: format_text(out, units, t.format, name, size_mb, limit_mb); break;
    }
    return;
  }
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

// Fails the job with the result's text; a cancel stays silent. A file the
// job could not make in a folder of the launcher's that takes no new file at
// all fails every build alike: the folder is named first, with what to do,
// since the file's long path would push that out of sight.
static bool fail_job(const TransferResult* result, const wchar_t* name) {
  if (result->failure == TRANSFER_CANCELLED) return false;
  wchar_t text[ERROR_TEXT_UNITS];
  transfer_failure_text(result, name, text, ERROR_TEXT_UNITS);
  wchar_t folder[PATH_UNITS];
  if (result->failure == TRANSFER_CANNOT_CREATE &&
      unwritable_folder_holding(result->detail, g_state.launcher_dir, folder)) {
    wchar_t cause[ERROR_TEXT_UNITS];
    describe_unwritable_folder(folder, g_state.launcher_dir, cause, ERROR_TEXT_UNITS);
    fail_build(L"%ls %ls", cause, text);
    return false;
  }
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
