// Fetching one release file for the build job or telvar-cli: an http(s) address through
// WinHTTP, anything else as a local file copy; the bytes go to a destination
// file or into a heap block handed to the caller.
//
// Refuses: a destination that cannot be created (before any request is
// made) or that is a link which cannot be removed as itself, an address that
// does not parse, any status but 200 (and 206 to a range it asked for), a
// body shorter than its announced Content-Length, a body larger than the
// caller's limit or, announced, than its drive's free space, a read or
// write that fails. Bytes a server sends past its
// Content-Length are not kept; a Content-Length that is not a plain decimal
// number counts as none. Each refusal is one failure in the result; a cancel
// is TRANSFER_CANCELLED, also when a request fails after it. Whatever the
// outcome, a failed call leaves no destination file and no memory behind: the
// file it made is deleted through its own handle, so nothing else can be
// reached.
//
// Bad networks: each request runs on a thread of its own with WinHTTP's
// synchronous calls, and the caller's thread watches it in slices of
// WAIT_STEP_MS, so that a cancel takes effect at once at every step (resolving,
// connecting, sending, waiting for headers, reading) although none of those
// calls can be interrupted under Wine; it gives up on headers that take
// longer than the headers limit and on a body that brings less than
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
// Memory: a static chunk buffer of 1 MiB for local copies for the life of the
// process, so one download runs at a time, and a heap record with a 64 KiB
// read buffer per HTTP request, freed by whichever of the two threads lets go
// of it last (an abandoned request may finish long after its download); a
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

// ---- One request on a thread of its own ----------------------------------------

// Each attempt's request runs with WinHTTP's synchronous calls on a thread of
// its own, which writes the body as it comes; the download's thread watches
// it in slices of WAIT_STEP_MS for a cancel, the headers' limit and a stalled
// body, and publishes the progress. When it gives up, it abandons the call and
// returns at once: a call that cannot be interrupted (Wine's WinHTTP ignores
// handles closed from another thread, and in its asynchronous mode a read
// waits until the whole buffer is filled) ends by itself later, touching
// nothing of the download any more. Synchronous reads of 64 KiB also keep the
// body as fast as it was.
enum CallPhase { CALL_WAITING, CALL_HEADERS, CALL_BODY, CALL_ENDED };

struct HttpCall {
  volatile LONG refs;          // the watcher and the thread; the last to let go frees the call
  SRWLOCK lock;                // guards what follows, and the Transfer while the body is written
  HANDLE wake;                 // auto-reset: the thread changed something
  HANDLE go;                   // manual-reset: the watcher decided about the body
  Transfer* t;                 // the download, untouched once abandoned
  wchar_t host[HOST_UNITS];
  wchar_t path[URL_PATH_UNITS];
  INTERNET_PORT port;
  bool secure;
  wchar_t extra[HEADER_UNITS]; // Range and If-Range, or empty
  bool abandoned;              // the watcher gave up on the call
  bool read_body;              // the watcher's decision at CALL_HEADERS
  uint64_t expected;           // the body's announced length, 0 when not announced
  uint64_t start;              // t->done when the body began
  CallPhase phase;
  bool failed;                 // the call ended in a failure (set with phase CALL_ENDED)
  TransferFailure failure;     // which, unless store_chunk already set the result
  DWORD error;                 // the failed call's code
  HINTERNET request;           // readable by the watcher at CALL_HEADERS
  uint8_t buffer[RECEIVE_CHUNK_BYTES];
};

static void release_call(HttpCall* call) {
  if (InterlockedDecrement(&call->refs) != 0) return;
  CloseHandle(call->wake);
  CloseHandle(call->go);
  free(call);
}

// Moves the call on; false when the watcher has abandoned it.
static bool call_reached(HttpCall* call, CallPhase phase, bool failed, TransferFailure failure, DWORD error) {
  AcquireSRWLockExclusive(&call->lock);
  bool wanted = !call->abandoned;
  call->phase = phase;
  call->failed = failed;
  call->failure = failure;
  call->error = error;
  ReleaseSRWLockExclusive(&call->lock);
  SetEvent(call->wake);
  return wanted;
}

// Reads the body into the download while the watcher still wants it.
static void read_call_body(HttpCall* call) {
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(call->request, call->buffer, RECEIVE_CHUNK_BYTES, &got)) {
      call_reached(call, CALL_ENDED, true, TRANSFER_INTERRUPTED, GetLastError());
      return;
    }
    AcquireSRWLockExclusive(&call->lock);
    bool stop = call->abandoned || got == 0;
    bool stored = true;
    if (!stop) {
      Transfer* t = call->t;
      uint64_t body = t->done - call->start;
      // Bytes past the announced length are not part of the response; some
      // stacks hand them over anyway when they arrive with the headers.
      if (call->expected != 0 && got > call->expected - body) got = (DWORD)(call->expected - body);
      stored = store_chunk(t, call->buffer, got);
      stop = !stored || (call->expected != 0 && t->done - call->start == call->expected);
    }
    ReleaseSRWLockExclusive(&call->lock);
    SetEvent(call->wake);
    if (stop) {
      // A failed store has set the result itself.
      call_reached(call, CALL_ENDED, !stored, TRANSFER_OK, 0);
      return;
    }
  }
}

static DWORD WINAPI run_call(void* context) {
  HttpCall* call = (HttpCall*)context;
  HINTERNET session = NULL, connection = NULL, request = NULL;
  DWORD error = 0;
  session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
  // Older systems know no automatic proxy; their default is the next best.
  if (!session)
    session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) connection = WinHttpConnect(session, call->host, call->port, 0);
  if (connection)
    request = WinHttpOpenRequest(connection, L"GET", call->path, NULL, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, call->secure ? WINHTTP_FLAG_SECURE : 0);
  if (request) {
    WinHttpSetTimeouts(request, 0, CONNECT_WAIT_MS, RECEIVE_WAIT_MS, RECEIVE_WAIT_MS);
    // Wine would wait for headers for ever otherwise.
    DWORD wait_ms = RECEIVE_WAIT_MS;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait_ms, sizeof wait_ms);
  }
  if (!request ||
      !WinHttpSendRequest(request, call->extra[0] ? call->extra : WINHTTP_NO_ADDITIONAL_HEADERS,
                          call->extra[0] ? (DWORD)-1L : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, NULL)) {
    error = GetLastError();
    call_reached(call, CALL_ENDED, true, TRANSFER_NO_CONNECTION, error);
  } else {
    call->request = request;
    if (call_reached(call, CALL_HEADERS, false, TRANSFER_OK, 0)) {
      WaitForSingleObject(call->go, INFINITE);
      AcquireSRWLockShared(&call->lock);
      bool read = call->read_body && !call->abandoned;
      ReleaseSRWLockShared(&call->lock);
      if (read) read_call_body(call);
    }
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  release_call(call);
  return 0;
}

enum WatchEnd { WATCH_REACHED, WATCH_CANCELLED, WATCH_TIMED_OUT };

// Waits until the call has left `phase`, asking about a cancel and the
// watch's deadline every WAIT_STEP_MS; while the body comes, publishes the
// progress (once the bytes differ from `shown`, what the body began with)
// and feeds the watch.
static WatchEnd watch_call(HttpCall* call, CallPhase phase, StallWatch* watch, uint64_t total, uint64_t shown) {
  Transfer* t = call->t;
  // The chunks and the end are seen under the lock together, so the last
  // figures are always shown.
  for (;;) {
    WaitForSingleObject(call->wake, WAIT_STEP_MS);
    AcquireSRWLockShared(&call->lock);
    CallPhase now = call->phase;
    uint64_t done = t->done;
    if (phase == CALL_BODY && done != shown) {
      publish_transfer_progress(t, total);
      shown = done;
    }
    ReleaseSRWLockShared(&call->lock);
    if (phase == CALL_BODY) stall_update(watch, GetTickCount(), done);
    if (now != phase) return WATCH_REACHED;
    if (transfer_cancelled(t->progress)) return WATCH_CANCELLED;
    if (stall_expired(watch, GetTickCount())) return WATCH_TIMED_OUT;
  }
}

// Leaves the call to itself: from now on it touches nothing of the download.
static bool abandon_call(Transfer* t, HttpCall* call, WatchEnd end, TransferFailure failure) {
  AcquireSRWLockExclusive(&call->lock);
  call->abandoned = true;
  ReleaseSRWLockExclusive(&call->lock);
  SetEvent(call->go);
  release_call(call);
  if (end == WATCH_CANCELLED) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
  t->transient = true;  // the headers' limit or a stalled body: a time-out
  return fail_unless_cancelled(t, failure, ERROR_WINHTTP_TIMEOUT);
}

// Tells the waiting call whether to read the body, and lets go of it unless it does.
static void decide_body(HttpCall* call, bool read, uint64_t expected) {
  AcquireSRWLockExclusive(&call->lock);
  call->read_body = read;
  call->expected = expected;
  call->start = call->t->done;
  if (read) call->phase = CALL_BODY;
  ReleaseSRWLockExclusive(&call->lock);
  SetEvent(call->go);
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

// A body the drive cannot hold would fill it and then fail half written:
// with its length announced, it is refused before it is written. False with
// the failure set; a drive that does not say how much is free is trusted.
static bool room_for_body(Transfer* t, uint64_t coming) {
  wchar_t folder[PLACE_UNITS];
  copy_text(folder, PLACE_UNITS, t->partial_path);
  wchar_t* name = wcsrchr(folder, L'\\');
  if (!name || coming == 0) return true;
  name[1] = 0;  // the folder with its separator, as the drive's root needs it
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL) || available.QuadPart >= coming) return true;
  t->result->size = coming;
  t->result->limit = available.QuadPart;
  return transfer_failed(t->result, TRANSFER_NO_SPACE, t->destination);
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
    if (*total > t->limit) {
      fail_too_large(t);
      return ATTEMPT_FAILED;
    }
    return room_for_body(t, *expected) ? ATTEMPT_DONE : ATTEMPT_FAILED;
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
    if (!room_for_body(t, *expected)) return ATTEMPT_FAILED;
    query_header(request, WINHTTP_QUERY_ETAG, etag);
    query_header(request, WINHTTP_QUERY_LAST_MODIFIED, modified);
    keep_record(t, source, *expected, etag, modified);
  }
  return ATTEMPT_DONE;
}

// One attempt: the call is started on its thread and watched up to its
// headers, which decide what the body is; then the body is watched until it
// has come, stops coming, or the caller cancels.
static AttemptEnd attempt_http(Transfer* t, const wchar_t* source, const URL_COMPONENTS* parts) {
  HttpCall* call = (HttpCall*)calloc(1, sizeof *call);
  if (!call) {
    transfer_failed(t->result, TRANSFER_NO_MEMORY, NULL);
    return ATTEMPT_FAILED;
  }
  InitializeSRWLock(&call->lock);
  call->refs = 2;
  call->t = t;
  call->phase = CALL_WAITING;
  copy_text(call->host, HOST_UNITS, parts->lpszHostName);
  copy_text(call->path, URL_PATH_UNITS, parts->lpszUrlPath);
  call->port = parts->nPort;
  call->secure = parts->nScheme == INTERNET_SCHEME_HTTPS;
  bool asked_range = t->partial != INVALID_HANDLE_VALUE && t->done > 0 && t->record_kept;
  if (asked_range && !format_text(call->extra, HEADER_UNITS, L"Range: bytes=%llu-\r\nIf-Range: %hs\r\n",
                                  (unsigned long long)t->done, resume_validator(&t->record))) {
    asked_range = false;  // a validator too long to send: the whole file
    call->extra[0] = 0;
  }
  call->wake = CreateEventW(NULL, FALSE, FALSE, NULL);
  call->go = CreateEventW(NULL, TRUE, FALSE, NULL);
  HANDLE thread = call->wake && call->go ? CreateThread(NULL, 0, run_call, call, 0, NULL) : NULL;
  if (!thread) {
    DWORD error = GetLastError();
    if (call->wake) CloseHandle(call->wake);
    if (call->go) CloseHandle(call->go);
    free(call);
    fail_unless_cancelled(t, TRANSFER_NO_CONNECTION, error);
    return ATTEMPT_FAILED;
  }
  CloseHandle(thread);

  // The headers' limit counts from the start: a server that trickles them a
  // byte at a time must not keep the download for ever.
  StallWatch watch;
  stall_start(&watch, limits.headers_ms, 1, GetTickCount(), 0);
  WatchEnd end = watch_call(call, CALL_WAITING, &watch, 0, 0);
  if (end != WATCH_REACHED) {
    abandon_call(t, call, end, TRANSFER_NO_CONNECTION);
    return ATTEMPT_FAILED;
  }
  if (call->phase == CALL_ENDED) {
    // No headers: the connection, the request or the wait for them failed.
    t->transient = network_error_is_transient(call->error);
    fail_unless_cancelled(t, TRANSFER_NO_CONNECTION, call->error);
    release_call(call);
    return ATTEMPT_FAILED;
  }

  uint64_t expected = 0, total = 0;
  AttemptEnd outcome = take_response(t, call->request, source, asked_range, &expected, &total);
  if (outcome == ATTEMPT_DONE && transfer_cancelled(t->progress)) {
    transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    outcome = ATTEMPT_FAILED;
  }
  if (outcome != ATTEMPT_DONE) {
    decide_body(call, false, 0);
    release_call(call);
    return outcome;
  }

  rate_start(&t->meter, GetTickCount(), t->done);
  stall_start(&watch, limits.stall_window_ms, limits.stall_min_bytes, GetTickCount(), t->done);
  uint64_t start = t->done;
  decide_body(call, true, expected);
  // The body may be written whole before the watch begins: what it began
  // with is what has been shown.
  end = watch_call(call, CALL_BODY, &watch, total, start);
  if (end != WATCH_REACHED) {
    abandon_call(t, call, end, TRANSFER_INTERRUPTED);
    return ATTEMPT_FAILED;
  }
  // The call has ended: what it left is the watcher's alone now.
  bool failed = call->failed;
  TransferFailure failure = call->failure;
  DWORD error = call->error;
  release_call(call);
  if (failed) {
    // A store that failed (too large, a write, memory) set the result itself.
    if (failure == TRANSFER_OK) return ATTEMPT_FAILED;
    t->transient = true;  // the body stopped coming
    fail_unless_cancelled(t, failure, error);
    return ATTEMPT_FAILED;
  }
  if (transfer_cancelled(t->progress)) {
    transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    return ATTEMPT_FAILED;
  }
  // A connection that closes early ends the body like a complete one does;
  // only the announced length tells a cut-off file from a whole one.
  if (expected != 0 && t->done - start < expected) {
    t->transient = true;
    transfer_failed(t->result, TRANSFER_ENDED_EARLY, NULL);
    return ATTEMPT_FAILED;
  }
  return ATTEMPT_DONE;
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
  // A partial that did not fit the drive stays too: it is whole as far as it
  // goes, and the next attempt, with room made, goes on from it.
  bool interrupted = t->result->failure == TRANSFER_CANCELLED || t->result->failure == TRANSFER_NO_SPACE ||
                     t->transient;
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
