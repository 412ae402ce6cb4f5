// Fetching one release file for the build job or telvar-cli: an http(s) address through
// synchronous WinHTTP, anything else as a local file copy; the bytes go to a
// destination file or into a heap block handed to the caller.
//
// Refuses: a destination that cannot be created (before any request is
// made) or that is a link which cannot be removed as itself, an address that
// does not parse, any status but 200, a body shorter than its announced
// Content-Length, a body larger than the caller's limit, a read or write that
// fails. Bytes a server sends past its Content-Length are not kept; a
// Content-Length that is not a plain decimal number counts as none. Each
// refusal is one failure in the result; a cancel is TRANSFER_CANCELLED, also
// when a request fails after it (the cancel closed it). Whatever the outcome, a
// failed call leaves no destination file and no memory behind: the file it
// made is deleted through its own handle, so nothing else can be reached.
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

enum {
  COPY_CHUNK_BYTES = 1048576,
  RECEIVE_CHUNK_BYTES = 65536,
  HOST_UNITS = 256,
  URL_PATH_UNITS = 2048,
  LENGTH_TEXT_UNITS = 32,
  RESPONSE_WAIT_MS = 30000,  // longest wait for a response's headers
};

static uint8_t copy_buffer[COPY_CHUNK_BYTES];
static uint8_t receive_buffer[RECEIVE_CHUNK_BYTES];

static const double BYTES_PER_MB = 1048576.0;

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
  uint64_t done;               // bytes received or copied so far
};


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
  if (t->file == INVALID_HANDLE_VALUE) return append_to_memory(t, bytes, count);
  DWORD written = 0;
  if (!WriteFile(t->file, bytes, count, &written, NULL) || written != count)
    return transfer_failed(t->result, TRANSFER_WRITE_FAILED, t->destination);
  return true;
}

// total 0: the size is unknown, so only the text changes and the bar stays.
static void publish_transfer_progress(const Transfer* t, uint64_t total) {
  const wchar_t* label = transfer_label(t->progress);
  if (total == 0) {
    report_transfer(t->progress, -1.0, L"%ls (%.0f MB)", label, (double)t->done / BYTES_PER_MB);
    return;
  }
  report_transfer(t->progress, (double)t->done / (double)total, L"%ls (%.0f of %.0f MB)", label,
                  (double)t->done / BYTES_PER_MB, (double)total / BYTES_PER_MB);
}

// Copies an open local file to the destination or into memory.
static bool copy_local(Transfer* t, const wchar_t* source, HANDLE input) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(input, &size)) size.QuadPart = 0;
  if ((uint64_t)size.QuadPart > t->limit) return fail_too_large(t);
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

// Reads the response body of an accepted request. expected 0: not announced.
static bool receive_body(Transfer* t, HINTERNET request, uint64_t expected) {
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request, receive_buffer, RECEIVE_CHUNK_BYTES, &got)) {
      DWORD error = GetLastError();
      // A read that ends after the user cancelled is the cancel, not a fault.
      return fail_unless_cancelled(t, TRANSFER_INTERRUPTED, error);
    }
    if (got == 0) break;
    // Bytes past the announced length are not part of the response; some
    // stacks hand them over anyway when they arrive with the headers.
    if (expected != 0 && got > expected - t->done) got = (DWORD)(expected - t->done);
    if (!store_chunk(t, receive_buffer, got)) return false;
    publish_transfer_progress(t, expected);
    if (transfer_cancelled(t->progress)) return transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    if (expected != 0 && t->done == expected) break;
  }
  // A connection that closes early ends the body like a complete one does;
  // only the announced length tells a cut-off file from a whole one.
  if (expected != 0 && t->done < expected) return transfer_failed(t->result, TRANSFER_ENDED_EARLY, NULL);
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

  HINTERNET session = NULL, connection = NULL, request = NULL;
  bool ok = false;
  DWORD status = 0, size = 0;
  wchar_t length_text[LENGTH_TEXT_UNITS];
  uint64_t expected = 0;

  session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                        WINHTTP_NO_PROXY_BYPASS, 0);
  // Older systems know no automatic proxy; their default is the next best.
  if (!session)
    session = WinHttpOpen(L"ProjectTelvar/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) connection = WinHttpConnect(session, host, parts.nPort, 0);
  if (connection)
    request = WinHttpOpenRequest(connection, L"GET", path, NULL, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  // Windows gives up on a server that sends no headers after its 30 s receive
  // time; Wine would wait for ever, and a cancel given meanwhile with it.
  if (request) {
    DWORD wait_ms = RESPONSE_WAIT_MS;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait_ms, sizeof wait_ms);
  }
  if (!request || !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, NULL)) {
    DWORD error = GetLastError();
    fail_unless_cancelled(t, TRANSFER_NO_CONNECTION, error);
    goto done;
  }

  // A status that cannot be read stays 0 and is refused like any other.
  size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  size = sizeof length_text;
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, length_text, &size,
                          WINHTTP_NO_HEADER_INDEX))
    expected = parse_content_length(length_text);
  if (status != 200) {
    t->result->code = (uint32_t)status;
    transfer_failed(t->result, TRANSFER_REFUSED, NULL);
    goto done;
  }
  if (expected > t->limit) {
    fail_too_large(t);
    goto done;
  }
  if (transfer_cancelled(t->progress)) {
    transfer_failed(t->result, TRANSFER_CANCELLED, NULL);
    goto done;
  }
  ok = receive_body(t, request, expected);

done:
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return ok;
}

// Creates the destination where its path says, never through a link. False
// with the failure set.
static bool create_destination(Transfer* t) {
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
  }
  if (result == PLACE_LINK) return transfer_failed(t->result, TRANSFER_LINK, t->destination);
  if (result != PLACE_OK) return transfer_failed(t->result, TRANSFER_CANNOT_CREATE, t->destination);
  return true;
}

bool download_file(const wchar_t* source, const wchar_t* destination, uint64_t limit, char** data_out,
                   uint32_t* length_out, const TransferProgress* progress, TransferResult* result) {
  clear_transfer_result(result);
  Transfer t;
  memset(&t, 0, sizeof t);
  t.destination = destination;
  t.progress = progress;
  t.result = result;
  t.limit = limit;
  t.file = INVALID_HANDLE_VALUE;

  // "HTTPS://..." is an address too.
  bool is_url = _wcsnicmp(source, L"http", 4) == 0;
  // A local source is opened before the destination is created: were both one
  // file, creating the destination first would empty the source and the
  // clean-up would then delete it. Held open, it makes that creation fail.
  HANDLE input = INVALID_HANDLE_VALUE;
  if (!is_url) input = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);

  if (destination && !create_destination(&t)) {
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
  if (!ok) {
    free(t.data);
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
