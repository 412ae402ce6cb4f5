// Fetching one release file for the build job or telvar-cli: an http(s) address through
// WinHTTP, anything else as a local file copy; the bytes go to a destination
// file or into a heap block handed to the caller.
//
// Refuses: a destination that cannot be created (before any request is
// made) or that is a link which cannot be removed as itself, an address that
// does not parse, any status but 200 (and 206 to a range it asked for), a
// body shorter than its announced Content-Length, a body larger than the
// caller's limit, a read or write that fails. Bytes a server sends past its
// Content-Length are not kept; a Content-Length that is not a plain decimal
// number counts as none. Each refusal is one failure in the result; a cancel
// is TRANSFER_CANCELLED, also when a request fails after it. Whatever the
// outcome, a failed call leaves no destination file and no memory behind: the
// file it made is deleted through its own handle, so nothing else can be
// reached.
//
// Bad networks: WinHTTP runs in its asynchronous mode, so the worker never
// sits inside a call it cannot leave; it waits on the steps in slices of
// WAIT_STEP_MS and asks about a cancel between them, and gives up on headers
// that take longer than the headers limit and on a body that brings less than
// its minimum in a window (Wine waits for ever otherwise, and Windows only per
// receive). Failures of the way (time-out, no connection, broken connection,
// a body cut short, 408, 429, 5xx) are tried again up to RETRY_ATTEMPTS times
// after growing pauses. To a file, the body goes to "<destination>.partial";
// with a length and a validator from the server a record beside it lets the
// next attempt, of this call or a later one, ask for the rest with Range and
// If-Range. A server that answers the whole file instead, a changed validator,
// a 416 or a record that does not match starts from zero; a permanent failure
// deletes partial and record, and only a whole body is moved to the
// destination, where the caller checks its checksum.
//
// Memory: two static chunk buffers for the life of the process (1 MiB for
// local copies, 64 KiB per HTTP read), so one download runs at a time; a
// memory result is one malloc block that doubles as it grows and always ends
// with a zero byte, so a text document can be read as a C string.
#include "transfer/download.h"

#include <windows.h>
#include <winhttp.h>
#include <stdlib.h>
#include <string.h>

#include "core/file_place.h"
#include "core/text.h"
#include "transfer/resume_record.h"
#include "transfer/retry_pace.h"

enum {
  COPY_CHUNK_BYTES = 1048576,
  RECEIVE_CHUNK_BYTES = 65536,
  HOST_UNITS = 256,
  URL_PATH_UNITS = 2048,
  HEADER_UNITS = 512,        // one response header's value, or the request's added headers
  WAIT_STEP_MS = 100,        // how often a wait asks whether the caller cancelled
  RECEIVE_WAIT_MS = 30000,   // WinHTTP's own time-outs, the same as ours on Windows
  CONNECT_WAIT_MS = 60000,
};

static uint8_t copy_buffer[COPY_CHUNK_BYTES];
static uint8_t receive_buffer[RECEIVE_CHUNK_BYTES];

static const double BYTES_PER_MB = 1048576.0;

const DownloadLimits DOWNLOAD_LIMITS_DEFAULT = {60000, 30000, 1024, 100};
static DownloadLimits limits = DOWNLOAD_LIMITS_DEFAULT;

void set_download_limits(const DownloadLimits* given) { limits = given ? *given : DOWNLOAD_LIMITS_DEFAULT; }

// One call's bookkeeping.
struct Transfer {
  const wchar_t* destination;  // file being written, or null when collecting in memory
  const TransferProgress* progress;  // the caller's progress and cancel
  TransferResult* result;      // what failed
  uint64_t limit;              // the most bytes this download may bring
  HANDLE file;                 // open destination, or INVALID_HANDLE_VALUE
  char* data;                  // memory result, or null while empty
  size_t data_length;          // bytes in data
  size_t data_capacity;        // bytes allocated for data
  uint64_t done;               // bytes received or copied so far (a resumed partial's included)
  // Resuming, for an HTTP download to a file in a folder.
  bool resumable;              // partial and record are used
  HANDLE partial;              // the partial body, open for appending, or INVALID_HANDLE_VALUE
  wchar_t partial_path[PLACE_UNITS];
  wchar_t record_path[PLACE_UNITS];
  wchar_t partial_place[PLACE_UNITS];  // where partial_path must lie, empty: cannot tell
  wchar_t record_place[PLACE_UNITS];
  ResumeRecord record;         // what the partial belongs to
  bool record_kept;            // record is on disk and describes the partial
  bool restarted;              // a resume was refused once and the file started from zero
  // The attempt's outcome for the retry loop.
  bool transient;              // the failure may pass: worth another attempt
  uint32_t retry_after_s;      // the server's Retry-After, 0 when none
  RateMeter meter;             // the body's speed
};

// The partial's record has no home on the Transfer's stack: it is large.
static Transfer transfer;

// Appends to the memory result, keeping one byte free for the terminating
// zero and growing to twice the needed size, so a long body costs a handful
// of reallocations rather than one per chunk.
static bool append_to_memory(Transfer* t, const uint8_t* bytes, uint32_t count) {
  uint64_t needed = (uint64_t)t->data_length + count + 1;
  if (needed > t->data_capacity) {
    uint64_t capacity = needed * 2;
    char* grown = capacity <= SIZE_MAX ? (char*)realloc(t->data, (size_t)capacity) : NULL;
    if (!grown) return transfer_failed(t->result, TRANSFER_NO_MEMORY, NULL);
    t->data = grown;
    t->data_capacity = (size_t)capacity;
  }
  memcpy(t->data + t->data_length, bytes, count);
  t->data_length += count;
  return true;
}

static bool fail_too_large(const Transfer* t) {
  t->result->limit = t->limit;
  return transfer_failed(t->result, TRANSFER_TOO_LARGE, NULL);
}

// A request that fails after a cancel failed because of it.
static bool fail_unless_cancelled(const Transfer* t, TransferFailure failure, DWORD error) {
  if (transfer_cancelled(t->progress)) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
  t->result->code = (uint32_t)error;
  return transfer_failed(t->result, failure, NULL);
}

static bool store_chunk(Transfer* t, const uint8_t* bytes, uint32_t count) {
  // A server that never says how much it sends, or a local file that keeps
  // growing, must not fill the disk or the memory.
  if (t->done + count > t->limit) return fail_too_large(t);
  t->done += count;
  HANDLE out = t->partial != INVALID_HANDLE_VALUE ? t->partial : t->file;
  if (out == INVALID_HANDLE_VALUE) return append_to_memory(t, bytes, count);
  DWORD written = 0;
  if (!WriteFile(out, bytes, count, &written, NULL) || written != count)
    return transfer_failed(t->result, TRANSFER_WRITE_FAILED, t->destination);
  return true;
}

// total 0: the size is unknown, so only the text changes and the bar stays.
// The speed joins the text once the body has come for a second; the last
// publication of a whole body shows the figures alone.
static void publish_transfer_progress(Transfer* t, uint64_t total) {
  const wchar_t* label = transfer_label(t->progress);
  uint32_t now = GetTickCount();
  rate_update(&t->meter, now, t->done);
  bool with_rate = rate_ready(&t->meter, now) && (total == 0 || t->done < total);
  double done_mb = (double)t->done / BYTES_PER_MB, rate_mb = t->meter.bytes_per_s / BYTES_PER_MB;
  if (total == 0) {
    if (with_rate)
      report_transfer(t->progress, -1.0, L"%ls (%.0f MB, %.1f MB/s)", label, done_mb, rate_mb);
    else
      report_transfer(t->progress, -1.0, L"%ls (%.0f MB)", label, done_mb);
    return;
  }
  double fraction = (double)t->done / (double)total, total_mb = (double)total / BYTES_PER_MB;
  if (!with_rate) {
    report_transfer(t->progress, fraction, L"%ls (%.0f of %.0f MB)", label, done_mb, total_mb);
    return;
  }
  uint32_t left = rate_seconds_left(&t->meter, total - t->done);
  if (left < 100)
    report_transfer(t->progress, fraction, L"%ls (%.0f of %.0f MB, %.1f MB/s, about %u s left)", label, done_mb,
                    total_mb, rate_mb, (unsigned)left);
  else
    report_transfer(t->progress, fraction, L"%ls (%.0f of %.0f MB, %.1f MB/s, about %u min left)", label, done_mb,
                    total_mb, rate_mb, (unsigned)((left + 59) / 60));
}

// Copies an open local file to the destination or into memory.
static bool copy_local(Transfer* t, const wchar_t* source, HANDLE input) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(input, &size)) size.QuadPart = 0;
  if ((uint64_t)size.QuadPart > t->limit) return fail_too_large(t);
  rate_start(&t->meter, GetTickCount(), 0);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, copy_buffer, COPY_CHUNK_BYTES, &got, NULL))
      return transfer_failed(t->result, TRANSFER_READ_FAILED, source);
    if (got == 0) return true;
    if (transfer_cancelled(t->progress)) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    if (!store_chunk(t, copy_buffer, got)) return false;
    if (size.QuadPart != 0) publish_transfer_progress(t, (uint64_t)size.QuadPart);
  }
}

// ---- WinHTTP's asynchronous steps -------------------------------------------

// What WinHTTP's callback hands to the waiting download. Each request gets a
// new generation as its context; a callback of an abandoned request (one
// closed after a cancel or a time-out, which Wine may still finish later)
// carries an older one and is ignored.
struct HttpSignal {
  HANDLE event;               // set when a step of the current request ended
  volatile LONG generation;   // the current request's context
  volatile DWORD status;      // the callback status that ended the step
  volatile DWORD error;       // REQUEST_ERROR's code
  volatile DWORD bytes;       // DATA_AVAILABLE's count or READ_COMPLETE's length
};
static HttpSignal http_signal;

static void CALLBACK on_http_status(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  if ((LONG)context != http_signal.generation) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      http_signal.bytes = info ? *(DWORD*)info : 0;
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      http_signal.bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      http_signal.error = info ? ((WINHTTP_ASYNC_RESULT*)info)->dwError : (DWORD)ERROR_WINHTTP_INTERNAL_ERROR;
      break;
    default:
      return;
  }
  http_signal.status = status;
  SetEvent(http_signal.event);
}

enum StepEnd { STEP_DONE, STEP_FAILED, STEP_CANCELLED, STEP_TIMED_OUT };

// Readies the signal for the next step; call before starting it.
static void arm_step() {
  http_signal.status = 0;
  http_signal.error = 0;
  http_signal.bytes = 0;
  ResetEvent(http_signal.event);
}

// Waits for the step to end with `expected`, asking about a cancel and the
// watch's deadline every WAIT_STEP_MS. *error: the failure's code.
static StepEnd wait_step(const Transfer* t, DWORD expected, const StallWatch* watch, DWORD* error) {
  for (;;) {
    if (WaitForSingleObject(http_signal.event, WAIT_STEP_MS) == WAIT_OBJECT_0) {
      if (http_signal.status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
        *error = http_signal.error;
        return STEP_FAILED;
      }
      if (http_signal.status == expected) return STEP_DONE;
    }
    if (transfer_cancelled(t->progress)) return STEP_CANCELLED;
    if (stall_expired(watch, GetTickCount())) return STEP_TIMED_OUT;
  }
}

// Fails the attempt after a step that did not end well.
static bool fail_step(Transfer* t, StepEnd end, TransferFailure failure, DWORD error) {
  if (end == STEP_CANCELLED) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
  if (end == STEP_TIMED_OUT) error = ERROR_WINHTTP_TIMEOUT;
  t->transient = failure == TRANSFER_INTERRUPTED || network_error_is_transient(error);
  return fail_unless_cancelled(t, failure, error);
}

// Reads the response body of an accepted request. expected 0: not announced.
// total: the whole file's length for the progress (expected plus what a
// resumed partial holds), 0 when not known.
static bool receive_body(Transfer* t, HINTERNET request, uint64_t expected, uint64_t total) {
  uint64_t start = t->done;
  StallWatch watch;
  stall_start(&watch, limits.stall_window_ms, limits.stall_min_bytes, GetTickCount(), t->done);
  rate_start(&t->meter, GetTickCount(), t->done);
  for (;;) {
    DWORD error = 0;
    arm_step();
    if (!WinHttpQueryDataAvailable(request, NULL)) return fail_step(t, STEP_FAILED, TRANSFER_INTERRUPTED, GetLastError());
    StepEnd end = wait_step(t, WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &watch, &error);
    if (end != STEP_DONE) return fail_step(t, end, TRANSFER_INTERRUPTED, error);
    DWORD available = http_signal.bytes;
    if (available == 0) break;
    // The read takes only what is there, so it never waits on the network,
    // and a request abandoned in a wait never writes into the buffer later.
    arm_step();
    DWORD ask = available < (DWORD)RECEIVE_CHUNK_BYTES ? available : (DWORD)RECEIVE_CHUNK_BYTES;
    if (!WinHttpReadData(request, receive_buffer, ask, NULL))
      return fail_step(t, STEP_FAILED, TRANSFER_INTERRUPTED, GetLastError());
    end = wait_step(t, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, &watch, &error);
    if (end != STEP_DONE) return fail_step(t, end, TRANSFER_INTERRUPTED, error);
    DWORD got = http_signal.bytes;
    if (got == 0) break;
    // Bytes past the announced length are not part of the response; some
    // stacks hand them over anyway when they arrive with the headers.
    uint64_t body = t->done - start;
    if (expected != 0 && got > expected - body) got = (DWORD)(expected - body);
    if (!store_chunk(t, receive_buffer, got)) return false;
    stall_update(&watch, GetTickCount(), t->done);
    publish_transfer_progress(t, total);
    if (transfer_cancelled(t->progress)) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    if (expected != 0 && t->done - start == expected) break;
  }
  // A connection that closes early ends the body like a complete one does;
  // only the announced length tells a cut-off file from a whole one.
  if (expected != 0 && t->done - start < expected) {
    t->transient = true;
    return transfer_failed(t->result, TRANSFER_ENDED_EARLY, NULL);
  }
  return true;
}

// The announced length: plain decimal digits, with blanks around them at
// most. A sign, another character or a value of 20 digits or more is no
// length at all (0): "-1" read as unsigned would announce 16 million TB.
static uint64_t parse_content_length(const wchar_t* text) {
  while (*text == L' ' || *text == L'\t') text++;
  uint64_t value = 0;
  int digits = 0;
  for (; *text >= L'0' && *text <= L'9'; text++) {
    if (++digits >= 20) return 0;
    value = value * 10 + (uint64_t)(*text - L'0');
  }
  while (*text == L' ' || *text == L'\t') text++;
  return digits > 0 && *text == 0 ? value : 0;
}

// A response header as 8-bit text (the ones read here are ASCII by their
// grammar; anything else makes them unusable, which is what they then are).
// Empty when absent or too long.
static void query_header(HINTERNET request, DWORD which, char (&out)[RESUME_VALIDATOR_BYTES]) {
  wchar_t text[HEADER_UNITS];
  DWORD size = sizeof text;
  out[0] = 0;
  if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX))
    return;
  size_t i = 0;
  for (; text[i] && i + 1 < RESUME_VALIDATOR_BYTES; i++) {
    if (text[i] > 0x7e) {
      out[0] = 0;
      return;
    }
    out[i] = (char)text[i];
  }
  out[text[i] ? 0 : i] = 0;
}

// ---- The partial file and its record ----------------------------------------

// Truncates the partial to nothing, for a body that starts from zero.
static bool empty_partial(Transfer* t) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  t->done = 0;
  if (SetFilePointerEx(t->partial, zero, NULL, FILE_BEGIN) && SetEndOfFile(t->partial)) return true;
  return transfer_failed(t->result, TRANSFER_WRITE_FAILED, t->destination);
}

static void forget_record(Transfer* t) {
  DeleteFileW(t->record_path);
  memset(&t->record, 0, sizeof t->record);
  t->record_kept = false;
}

// Writes the record for the body that now begins; without a validator and a
// length nothing can be resumed, and no record stays.
static void keep_record(Transfer* t, const wchar_t* source, uint64_t length, const char* etag,
                        const char* last_modified) {
  forget_record(t);
  ResumeRecord& r = t->record;
  WideCharToMultiByte(CP_UTF8, 0, source, -1, r.address, RESUME_ADDRESS_BYTES, NULL, NULL);
  r.address[RESUME_ADDRESS_BYTES - 1] = 0;
  r.length = length;
  if (etag_is_strong(etag)) strcpy(r.etag, etag);
  if (validator_is_plain(last_modified)) strcpy(r.last_modified, last_modified);
  char text[RESUME_RECORD_BYTES];
  size_t size = format_resume_record(&r, text, sizeof text);
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0, written = 0;
  if (size && create_file_in_place(t->record_path, t->record_place, &file, &error) == PLACE_OK) {
    t->record_kept = WriteFile(file, text, (DWORD)size, &written, NULL) && written == size;
    if (t->record_kept) CloseHandle(file);
    else discard_file(file);
  }
  if (!t->record_kept) memset(&t->record, 0, sizeof t->record);
}

// Reads the record beside the partial; false when there is none that reads.
static bool read_record(Transfer* t) {
  HANDLE file = CreateFileW(t->record_path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  char text[RESUME_RECORD_BYTES];
  DWORD got = 0;
  bool ok = handle_is_at(file, t->record_place) && ReadFile(file, text, sizeof text, &got, NULL) &&
            got < sizeof text && parse_resume_record(text, got, &t->record);
  CloseHandle(file);
  return ok;
}

// Opens the partial to go on from, when its record names this address and
// it holds less than the whole; otherwise makes it afresh (an old one and its
// record deleted). False with the failure set when it cannot be made.
static bool open_partial(Transfer* t, const wchar_t* source) {
  char address[RESUME_ADDRESS_BYTES];
  WideCharToMultiByte(CP_UTF8, 0, source, -1, address, RESUME_ADDRESS_BYTES, NULL, NULL);
  address[RESUME_ADDRESS_BYTES - 1] = 0;
  if (read_record(t) && strcmp(t->record.address, address) == 0) {
    t->partial = CreateFileW(t->partial_path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    size.QuadPart = 0;
    bool usable = t->partial != INVALID_HANDLE_VALUE && handle_is_at(t->partial, t->partial_place) &&
                  GetFileSizeEx(t->partial, &size) && size.QuadPart > 0 && (uint64_t)size.QuadPart < t->record.length;
    LARGE_INTEGER end;
    end.QuadPart = 0;
    if (usable && SetFilePointerEx(t->partial, end, NULL, FILE_END)) {
      t->done = (uint64_t)size.QuadPart;
      t->record_kept = true;
      return true;
    }
    if (t->partial != INVALID_HANDLE_VALUE) CloseHandle(t->partial);
    t->partial = INVALID_HANDLE_VALUE;
  }
  forget_record(t);
  DWORD error = 0;
  PlaceResult made = create_file_in_place(t->partial_path, t->partial_place, &t->partial, &error);
  if (made == PLACE_LINK) return transfer_failed(t->result, TRANSFER_LINK, t->partial_path);
  if (made != PLACE_OK) return transfer_failed(t->result, TRANSFER_CANNOT_CREATE, t->partial_path);
  t->done = 0;
  return true;
}

// ---- One request -------------------------------------------------------------

enum AttemptEnd { ATTEMPT_DONE, ATTEMPT_FAILED, ATTEMPT_RESTART };

// Checks a 206 answer against the partial it is meant to complete.
static bool range_fits(const Transfer* t, const char* content_range, uint64_t announced) {
  uint64_t first = 0, last = 0, total = 0;
  return parse_content_range(content_range, &first, &last, &total) && first == t->done && last + 1 == total &&
         total == t->record.length && (announced == 0 || announced == last - first + 1);
}

// The response's status and headers decide what the body is: the rest of the
// partial (206), the whole file again (200: the partial starts from zero), or
// no body at all. Sets expected (the body's announced length) and total.
static AttemptEnd take_response(Transfer* t, HINTERNET request, const wchar_t* source, bool asked_range,
                                uint64_t* expected, uint64_t* total) {
  DWORD status = 0, size = sizeof status;
  // A status that cannot be read stays 0 and is refused like any other.
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  char length_text[RESUME_VALIDATOR_BYTES], etag[RESUME_VALIDATOR_BYTES], modified[RESUME_VALIDATOR_BYTES];
  char range[RESUME_VALIDATOR_BYTES], retry_after[RESUME_VALIDATOR_BYTES];
  query_header(request, WINHTTP_QUERY_CONTENT_LENGTH, length_text);
  wchar_t wide_length[RESUME_VALIDATOR_BYTES];
  for (int i = 0;; i++)
    if (!(wide_length[i] = (wchar_t)(unsigned char)length_text[i])) break;
  *expected = parse_content_length(wide_length);

  if (asked_range && status == 206) {
    query_header(request, WINHTTP_QUERY_CONTENT_RANGE, range);
    if (!range_fits(t, range, *expected)) {
      // Not the rest of this partial: start again from nothing.
      t->result->code = status;
      transfer_failed(t->result, TRANSFER_REFUSED, NULL);
      forget_record(t);
      return empty_partial(t) ? ATTEMPT_RESTART : ATTEMPT_FAILED;
    }
    if (*expected == 0) *expected = t->record.length - t->done;
    *total = t->record.length;
    if (*total <= t->limit) return ATTEMPT_DONE;
    fail_too_large(t);
    return ATTEMPT_FAILED;
  }
  if (asked_range && status == 416) {
    // The server knows no such range of this file: whatever the partial holds, it is not its beginning.
    t->result->code = status;
    transfer_failed(t->result, TRANSFER_REFUSED, NULL);
    forget_record(t);
    return empty_partial(t) ? ATTEMPT_RESTART : ATTEMPT_FAILED;
  }
  if (status != 200) {
    query_header(request, WINHTTP_QUERY_RETRY_AFTER, retry_after);
    t->retry_after_s = parse_retry_after(retry_after);
    t->transient = status_is_transient(status) && t->retry_after_s <= RETRY_AFTER_LONGEST_S;
    t->result->code = (uint32_t)status;
    transfer_failed(t->result, TRANSFER_REFUSED, NULL);
    return ATTEMPT_FAILED;
  }
  if (*expected > t->limit) {
    fail_too_large(t);
    return ATTEMPT_FAILED;
  }
  *total = *expected;
  if (t->partial != INVALID_HANDLE_VALUE) {
    // The whole file: a server that ignores Range, or one whose file changed
    // since the partial began. What the partial held is dropped.
    if (t->done && !empty_partial(t)) return ATTEMPT_FAILED;
    query_header(request, WINHTTP_QUERY_ETAG, etag);
    query_header(request, WINHTTP_QUERY_LAST_MODIFIED, modified);
    keep_record(t, source, *expected, etag, modified);
  }
  return ATTEMPT_DONE;
}

// Opens the session, connection and request of one attempt, sends it and
// waits for its headers; then takes the body. Handles are closed on every
// way out, in reverse order; a step still running in WinHTTP after a cancel
// or a time-out is abandoned with them.
static AttemptEnd attempt_http(Transfer* t, const wchar_t* source, const URL_COMPONENTS* parts) {
  HINTERNET session = NULL, connection = NULL, request = NULL;
  AttemptEnd outcome = ATTEMPT_FAILED;
  DWORD error = 0;
  StepEnd end = STEP_FAILED;
  StallWatch headers_watch;
  uint64_t expected = 0, total = 0;
  wchar_t extra[HEADER_UNITS];
  extra[0] = 0;
  bool asked_range = t->partial != INVALID_HANDLE_VALUE && t->done > 0 && t->record_kept;
  if (asked_range && !format_text(extra, HEADER_UNITS, L"Range: bytes=%llu-\r\nIf-Range: %hs\r\n",
                                  (unsigned long long)t->done, resume_validator(&t->record)))
    asked_range = false, extra[0] = 0;  // a validator too long to send: the whole file

  session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  // Older systems know no automatic proxy; their default is the next best.
  if (!session)
    session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (session &&
      WinHttpSetStatusCallback(session, on_http_status, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS, 0) ==
          WINHTTP_INVALID_STATUS_CALLBACK) {
    error = GetLastError();
    WinHttpCloseHandle(session);
    session = NULL;
  }
  if (session) connection = WinHttpConnect(session, parts->lpszHostName, parts->nPort, 0);
  if (connection)
    request = WinHttpOpenRequest(connection, L"GET", parts->lpszUrlPath, NULL, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 parts->nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!request) {
    if (!error) error = GetLastError();
    fail_step(t, STEP_FAILED, TRANSFER_NO_CONNECTION, error);
    goto done;
  }
  WinHttpSetTimeouts(request, 0, CONNECT_WAIT_MS, RECEIVE_WAIT_MS, RECEIVE_WAIT_MS);

  // The headers' limit counts from the start: a server that trickles them a
  // byte at a time must not keep the download for ever.
  stall_start(&headers_watch, limits.headers_ms, 1, GetTickCount(), 0);
  InterlockedIncrement(&http_signal.generation);
  arm_step();
  if (!WinHttpSendRequest(request, extra[0] ? extra : WINHTTP_NO_ADDITIONAL_HEADERS, extra[0] ? (DWORD)-1L : 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, (DWORD_PTR)http_signal.generation)) {
    fail_step(t, STEP_FAILED, TRANSFER_NO_CONNECTION, GetLastError());
    goto done;
  }
  end = wait_step(t, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, &headers_watch, &error);
  if (end == STEP_DONE) {
    arm_step();
    if (!WinHttpReceiveResponse(request, NULL)) {
      end = STEP_FAILED;
      error = GetLastError();
    } else {
      end = wait_step(t, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, &headers_watch, &error);
    }
  }
  if (end != STEP_DONE) {
    fail_step(t, end, TRANSFER_NO_CONNECTION, error);
    goto done;
  }

  outcome = take_response(t, request, source, asked_range, &expected, &total);
  if (outcome != ATTEMPT_DONE) goto done;
  if (transfer_cancelled(t->progress)) {
    transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    outcome = ATTEMPT_FAILED;
    goto done;
  }
  outcome = receive_body(t, request, expected, total) ? ATTEMPT_DONE : ATTEMPT_FAILED;

done:
  // No callback of an abandoned step may reach the next request's wait.
  InterlockedIncrement(&http_signal.generation);
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return outcome;
}

// Waits before a retry, ending at once on a cancel; false after a cancel.
static bool pause_before_retry(Transfer* t, int retry) {
  bool busy = t->result->failure == TRANSFER_REFUSED;
  report_transfer(t->progress, -1.0,
                  busy ? L"The server is busy; trying again (%d of %d)\u2026"
                       : L"Connection lost; trying again (%d of %d)\u2026",
                  retry, (int)RETRY_ATTEMPTS);
  uint32_t pause = (uint32_t)((uint64_t)retry_pause_ms(retry, t->retry_after_s) * limits.pause_percent / 100);
  DWORD start = GetTickCount();
  while (GetTickCount() - start < pause) {
    if (transfer_cancelled(t->progress)) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    DWORD left = pause - (GetTickCount() - start);
    Sleep(left < (DWORD)WAIT_STEP_MS ? left : (DWORD)WAIT_STEP_MS);
  }
  return !transfer_cancelled(t->progress) || transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
}

static bool fetch_http(Transfer* t, const wchar_t* source) {
  wchar_t host[HOST_UNITS];
  wchar_t path[URL_PATH_UNITS];
  URL_COMPONENTS parts;
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = HOST_UNITS;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = URL_PATH_UNITS;
  if (!WinHttpCrackUrl(source, 0, 0, &parts)) return transfer_failed(t->result, TRANSFER_BAD_ADDRESS, source);
  if (!http_signal.event) http_signal.event = CreateEventW(NULL, FALSE, FALSE, NULL);
  if (!http_signal.event) return fail_unless_cancelled(t, TRANSFER_NO_CONNECTION, GetLastError());
  if (t->resumable && !open_partial(t, source)) return false;

  // A pipe or device destination cannot be rewound: one attempt only.
  bool can_retry = t->resumable || t->file == INVALID_HANDLE_VALUE;
  for (int retry = 0;; retry++) {
    clear_transfer_result(t->result);
    t->transient = false;
    t->retry_after_s = 0;
    if (!t->resumable) {
      t->done = 0;  // memory starts again from nothing
      t->data_length = 0;
    }
    AttemptEnd end = attempt_http(t, source, &parts);
    if (end == ATTEMPT_DONE) return true;
    if (end == ATTEMPT_RESTART && !t->restarted) {
      // The partial could not be resumed; the whole file is asked for once
      // more, without counting as a retry.
      t->restarted = true;
      retry--;
      continue;
    }
    if (end == ATTEMPT_RESTART) return false;  // refused twice: the answer's status is the failure
    if (t->result->failure == TRANSFER_CANCELLED || !t->transient || !can_retry || retry >= RETRY_ATTEMPTS)
      return false;
    if (!pause_before_retry(t, retry + 1)) return false;
  }
}

// ---- The destination ---------------------------------------------------------

// Creates the destination where its path says, never through a link. False
// with the failure set. For a file in a folder, also names the partial and
// its record beside it and where they must lie.
static bool create_destination(Transfer* t, bool resumable) {
  wchar_t full[PLACE_UNITS], folder[PLACE_UNITS], place[PLACE_UNITS], expected[PLACE_UNITS];
  DWORD error = 0;
  PlaceResult result = PLACE_FAILED;
  DWORD length = GetFullPathNameW(t->destination, PLACE_UNITS, full, NULL);
  wchar_t* name = length > 0 && length < PLACE_UNITS ? wcsrchr(full, L'\\') : NULL;
  if (name && wcsncmp(full, L"\\\\.\\", 4) == 0) {
    // A device ("\\.\pipe\...", NUL) is no file in a folder and can be no
    // link: it is opened as it is, and never deleted.
    t->file = CreateFileW(full, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    result = t->file != INVALID_HANDLE_VALUE ? PLACE_OK : PLACE_FAILED;
  } else if (name) {
    size_t folder_length = (size_t)(name - full);
    memcpy(folder, full, folder_length * sizeof(wchar_t));
    folder[folder_length] = 0;
    if (folder_length == 2) wcscat(folder, L"\\");  // "C:" alone is the current folder of drive C
    // A folder that cannot be opened holds no file either: the creation
    // below fails and says so.
    if (!folder_place(folder, place)) place[0] = 0;
    if (join_place(expected, place, name + 1))
      result = create_file_in_place(full, expected, &t->file, &error);
    // The partial and its record need room for their longer names; without
    // it the download goes straight to the destination, as a local copy does.
    t->resumable = resumable && result == PLACE_OK &&
                   format_text(t->partial_path, PLACE_UNITS, L"%ls%ls", full, DOWNLOAD_PARTIAL_SUFFIX) &&
                   format_text(t->record_path, PLACE_UNITS, L"%ls%ls", full, DOWNLOAD_RECORD_SUFFIX);
    // An empty place (the platform cannot tell) stays empty for them too.
    if (t->resumable && expected[0])
      t->resumable = format_text(t->partial_place, PLACE_UNITS, L"%ls%ls", expected, DOWNLOAD_PARTIAL_SUFFIX) &&
                     format_text(t->record_place, PLACE_UNITS, L"%ls%ls", expected, DOWNLOAD_RECORD_SUFFIX);
  }
  if (result == PLACE_LINK) return transfer_failed(t->result, TRANSFER_LINK, t->destination);
  if (result != PLACE_OK) return transfer_failed(t->result, TRANSFER_CANNOT_CREATE, t->destination);
  return true;
}

// After a whole body: the partial becomes the destination, and its record goes.
static bool settle_partial(Transfer* t) {
  CloseHandle(t->partial);
  t->partial = INVALID_HANDLE_VALUE;
  // The empty destination made at the start held the name; it gives way to the body.
  discard_file(t->file);
  t->file = INVALID_HANDLE_VALUE;
  if (!MoveFileExW(t->partial_path, t->destination, 0)) {
    // The partial stays with its record: whole and resumable next time.
    return transfer_failed(t->result, TRANSFER_CANNOT_CREATE, t->destination);
  }
  forget_record(t);
  return true;
}

// After a failure: an interruption keeps a partial that can be resumed; a
// permanent failure, or a partial with no record, leaves nothing.
static void leave_partial(Transfer* t) {
  bool interrupted = t->result->failure == TRANSFER_CANCELLED || t->transient;
  if (interrupted && t->record_kept && t->done > 0) {
    CloseHandle(t->partial);
  } else {
    discard_file(t->partial);
    forget_record(t);
  }
  t->partial = INVALID_HANDLE_VALUE;
}

bool download_file(const wchar_t* source, const wchar_t* destination, uint64_t limit, char** data_out,
                   uint32_t* length_out, const TransferProgress* progress, TransferResult* result) {
  clear_transfer_result(result);
  Transfer& t = transfer;
  memset(&t, 0, sizeof t);
  t.destination = destination;
  t.progress = progress;
  t.result = result;
  t.limit = limit;
  t.file = INVALID_HANDLE_VALUE;
  t.partial = INVALID_HANDLE_VALUE;

  // "HTTPS://..." is an address too.
  bool is_url = _wcsnicmp(source, L"http", 4) == 0;
  // A local source is opened before the destination is created: were both one
  // file, creating the destination first would empty the source and the
  // clean-up would then delete it. Held open, it makes that creation fail.
  HANDLE input = INVALID_HANDLE_VALUE;
  if (!is_url) input = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);

  if (destination && !create_destination(&t, is_url)) {
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    return false;
  }
  // The stage shows what is being fetched from the start: a server that is
  // slow to answer must not leave the previous stage's text on the bar.
  report_transfer(progress, -1.0, L"%ls", transfer_label(progress));

  bool ok = false;
  if (is_url) {
    ok = fetch_http(&t, source);
  } else if (input == INVALID_HANDLE_VALUE) {
    transfer_failed(result, TRANSFER_SOURCE_MISSING, source);
  } else {
    ok = copy_local(&t, source, input);
    CloseHandle(input);
  }

  // A cancel that came during the last chunk still wins.
  if (ok && transfer_cancelled(progress)) ok = transfer_failed(result, TRANSFER_CANCELLED, NULL);
  if (ok && t.partial != INVALID_HANDLE_VALUE) ok = settle_partial(&t);
  if (!ok) {
    free(t.data);
    if (t.partial != INVALID_HANDLE_VALUE) leave_partial(&t);
    // Deleted through the handle that made it: never anything a link reaches.
    if (t.file != INVALID_HANDLE_VALUE) discard_file(t.file);
    return false;
  }
  if (t.file != INVALID_HANDLE_VALUE) CloseHandle(t.file);
  if (data_out) {
    // An empty body still gives a block: the caller reads a zero-terminated text.
    if (!t.data) t.data = (char*)malloc(1);
    if (!t.data) return transfer_failed(result, TRANSFER_NO_MEMORY, NULL);
    t.data[t.data_length] = 0;
    *data_out = t.data;
    if (length_out) *length_out = (uint32_t)t.data_length;
  } else {
    free(t.data);
  }
  return true;
}
