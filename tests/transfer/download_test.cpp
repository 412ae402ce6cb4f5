// download_url against a loopback HTTP server of our own (http_fixture.py,
// started by this program) and against local files: whole bodies with and
// without an announced length, refused statuses, cut-off bodies, cancels, a
// destination that cannot be created, bad addresses and local copies. After
// every failure no destination file may remain.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/failure_words.h"
#include "core/state.h"
#include "transfer/download.h"
#include "pipeline/job_status.h"
#include "pipeline/transfer_texts.h"
#include "transfer_listener.h"

namespace {

// The fixture's body bytes: offset i holds (i * 7 + i / 65536) % 251.
std::string pattern(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; i++) out[i] = (char)((i * 7 + i / 65536) % 251);
  return out;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring format(const wchar_t* fmt, ...) {
  wchar_t text[1024];
  va_list args;
  va_start(args, fmt);
  _vsnwprintf(text, 1023, fmt, args);
  va_end(args);
  text[1023] = 0;
  return text;
}

// The Windows error code a failure text carries in brackets, 0 when it has none.
unsigned long windows_error_in(const std::wstring& text) {
  size_t at = text.find(L"(Windows error ");
  if (at == std::wstring::npos) return 0;
  return wcstoul(text.c_str() + at + 15, NULL, 10);
}

// The whole text a download failure with that code gives: its words and
// advice from the failure-words table, or the plain sentence for a code the
// table does not know.
std::wstring download_failure_text(bool stopped, const wchar_t* label, unsigned long code) {
  wchar_t text[512];
  (stopped ? describe_download_stopped : describe_download_failure)(text, 512, label, (uint32_t)code);
  return text;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool read_file(const std::wstring& path, std::string* out) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return false;
  out->clear();
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  fclose(f);
  return true;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// What the job showed after each publication or failure.
struct Heard {
  std::wstring stage;
  double progress;
};
std::vector<Heard> heard;
// Set by a test to cancel the job from inside its Nth publication.
int cancel_at_publication;

void listen() {
  heard.push_back({g_job.stage_text, g_job.progress});
  if (cancel_at_publication && (int)heard.size() == cancel_at_publication)
    InterlockedExchange(&g_job.cancel_requested, 1);
}

// A GET of our own, not through download_url, to steer the fixture.
bool fixture_get(int port, const wchar_t* path, std::string* body) {
  HINTERNET session = WinHttpOpen(L"telvar-test", WINHTTP_ACCESS_TYPE_NO_PROXY, NULL, NULL, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", (INTERNET_PORT)port, 0) : NULL;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, NULL, NULL, NULL, 0) : NULL;
  bool ok = request && WinHttpSendRequest(request, NULL, 0, NULL, 0, 0, 0) && WinHttpReceiveResponse(request, NULL);
  if (ok && body) {
    body->clear();
    char buffer[4096];
    DWORD got = 0;
    while ((ok = WinHttpReadData(request, buffer, sizeof buffer, &got)) && got) body->append(buffer, got);
  }
  if (request) WinHttpCloseHandle(request);
  if (connection) WinHttpCloseHandle(connection);
  if (session) WinHttpCloseHandle(session);
  return ok;
}

// Unix path of the fixture script and a Windows view of a Unix path (Wine
// maps the host's root to drive Z:).
std::wstring windows_view(const std::string& unix_path) {
  std::wstring out = L"Z:";
  for (char c : unix_path) out += c == '/' ? L'\\' : (wchar_t)c;
  return out;
}

class DownloadTest : public ::testing::Test {
 protected:
  static int port;
  static std::string port_file;

  // Starts the fixture through Wine's launch of host programs and waits for
  // it to announce its port. A host python other than /usr/bin/python3 can
  // be named in TELVAR_PYTHON.
  static void SetUpTestSuite() {
    port_file = std::string(TELVAR_BINARY_DIR) + "/tests/transfer/http_fixture_" +
                std::to_string(GetCurrentProcessId()) + ".port";
    DeleteFileW(windows_view(port_file).c_str());
    const char* python = getenv("TELVAR_PYTHON");
    std::wstring command = L"\"" + windows_view(python ? python : "/usr/bin/python3") + L"\" \"" +
                           widen(std::string(TELVAR_SOURCE_DIR) + "/tests/transfer/http_fixture.py") +
                           L"\" --port-file \"" + widen(port_file) + L"\" --idle-seconds 120";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, line.data(), NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process)) {
      fprintf(stderr, "could not start the HTTP fixture (error %lu)\n", GetLastError());
      return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 200 && port == 0; i++) {
      std::string text;
      if (read_file(windows_view(port_file), &text)) port = atoi(text.c_str());
      if (port == 0) Sleep(50);
    }
  }
  static void TearDownTestSuite() {
    if (port) fixture_get(port, L"/quit", NULL);
    port = 0;
  }

  void SetUp() override {
    reset_state();
    reset_job_status();
    heard.clear();
    cancel_at_publication = 0;
    set_job_listener(listen);
    // Retried failures pause a hundredth of their real pauses here.
    DownloadLimits quick = DOWNLOAD_LIMITS_DEFAULT;
    quick.pause_percent = 1;
    set_download_limits(&quick);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = format(L"%lstelvar_download_%lu", temp, GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), NULL);
  }
  void TearDown() override {
    set_job_listener(NULL);
    set_download_limits(NULL);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder_ + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring url(const wchar_t* path) { return format(L"http://127.0.0.1:%d%ls", port, path); }
  std::wstring in_folder(const wchar_t* name) { return folder_ + L"\\" + name; }
  int requests_served() {
    std::string body;
    return fixture_get(port, L"/count", &body) ? atoi(body.c_str()) : -1;
  }

  // The state a failed download must leave: false, the text (or none for a
  // cancel), nothing at the destination, no memory handed out.
  void expect_failure(bool ok, const wchar_t* text, const std::wstring& destination, char* data) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(g_job.failed, text ? 1 : 0);
    EXPECT_STREQ(g_job.error_text, text ? text : L"");
    if (!destination.empty()) {
      EXPECT_FALSE(file_exists(destination)) << "a partial file was left behind";
    }
    EXPECT_EQ(data, (char*)nullptr);
  }

  std::wstring folder_;
};
int DownloadTest::port;
std::string DownloadTest::port_file;

#define REQUIRE_FIXTURE() ASSERT_NE(port, 0) << "the HTTP fixture did not start (python3, " << port_file << ")"

// Either target of a download: a file, or memory handed to the caller.
enum Target { TO_FILE, TO_MEMORY };

// download_url of source over the whole bar (0 to 1), into destination or
// into data and length as target says.
bool download_to(Target target, const std::wstring& source, const std::wstring& destination, char** data,
                 uint32_t* length, const wchar_t* label) {
  return download_url(source.c_str(), target == TO_FILE ? destination.c_str() : NULL, 0.0, 1.0,
                      target == TO_MEMORY ? data : NULL, length, label);
}

// Runs one download and returns what arrived; fails the test if it failed.
std::string fetch_whole(const std::wstring& source, Target target, const std::wstring& destination,
                        const wchar_t* label) {
  char* data = nullptr;
  uint32_t length = 0xDEADBEEF;
  bool ok = download_url(source.c_str(), target == TO_FILE ? destination.c_str() : NULL, 0.2, 0.6,
                         target == TO_MEMORY ? &data : NULL, target == TO_MEMORY ? &length : NULL, label);
  EXPECT_TRUE(ok) << "error text: " << testing::PrintToString(std::wstring(g_job.error_text));
  EXPECT_EQ(g_job.failed, 0);
  std::string got;
  if (target == TO_FILE) {
    EXPECT_TRUE(read_file(destination, &got)) << "no destination file";
    return got;
  }
  if (!ok || !data) return got;
  got.assign(data, length);
  EXPECT_EQ(data[length], 0) << "the memory result is not zero-terminated";
  free(data);
  return got;
}

// Progress must stay inside the download's share of the bar and never go back.
// The first publication only names the download ("the file") and leaves the
// bar where it was.
void expect_progress_within(double from, double to) {
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard[0].stage, L"the file");
  double last = from;
  for (size_t i = 1; i < heard.size(); i++) {
    const Heard& h = heard[i];
    EXPECT_GE(h.progress, last) << testing::PrintToString(h.stage);
    EXPECT_LE(h.progress, to) << testing::PrintToString(h.stage);
    last = h.progress;
  }
}

TEST_F(DownloadTest, BodiesArriveWholeWithAndWithoutAnnouncedLength) {
  REQUIRE_FIXTURE();
  const size_t sizes[] = {0, 1, 65535, 65536, 65537, 3 * 1048576 + 5};
  // data: Content-Length; close: body ends with the connection; chunked: chunks.
  const struct {
    const wchar_t* kind;
    bool announced;
  } kinds[] = {{L"data", true}, {L"close", false}, {L"chunked", false}};
  for (const auto& kind : kinds)
    for (size_t size : sizes)
      for (Target target : {TO_FILE, TO_MEMORY}) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(kind.kind)) << " " << size
                                        << (target == TO_FILE ? " to a file" : " to memory"));
        reset_state();
        reset_job_status();
        heard.clear();
        g_job.progress = 0.25;
        copy_text(g_job.stage_text, STAGE_TEXT_UNITS, L"Starting");
        std::wstring destination = in_folder(L"body.bin");
        std::string got = fetch_whole(url(format(L"/%ls/%u", kind.kind, (unsigned)size).c_str()), target,
                                      destination, L"the file");
        EXPECT_EQ(got.size(), size);
        EXPECT_TRUE(got == pattern(size)) << "the body differs from what was served";

        double mb = size / 1048576.0;
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard[0].stage, L"the file") << "the stage names the download from its start";
        if (size == 0) {
          // No chunk: only the stage of the start, and the bar where it was.
          EXPECT_STREQ(g_job.stage_text, L"the file");
          EXPECT_DOUBLE_EQ(g_job.progress, 0.25);
        } else if (kind.announced) {
          EXPECT_EQ(std::wstring(g_job.stage_text), format(L"the file (%.0f of %.0f MB)", mb, mb));
          EXPECT_DOUBLE_EQ(g_job.progress, 0.6);
          expect_progress_within(0.2, 0.6);
        } else {
          // Unknown size: the text counts, the bar stays where it was.
          EXPECT_EQ(std::wstring(g_job.stage_text), format(L"the file (%.0f MB)", mb));
          for (const Heard& h : heard) EXPECT_DOUBLE_EQ(h.progress, 0.25);
        }
        DeleteFileW(destination.c_str());
      }
}

TEST_F(DownloadTest, OnlyStatus200IsAccepted) {
  REQUIRE_FIXTURE();
  const unsigned statuses[] = {404, 500, 403, 201, 204, 206};
  for (unsigned status : statuses)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::Message() << status << (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      reset_job_status();
      std::wstring destination = in_folder(L"refused.bin");
      // A destination that already held something is replaced, then removed.
      ASSERT_TRUE(write_file(destination, "old"));
      char* data = nullptr;
      uint32_t length = 0;
      bool ok = download_to(target, url(format(L"/status/%u", status).c_str()),
                            destination, &data, &length, L"the build description");
      std::wstring text = format(L"Could not download the build description (the server answered %u).", status);
      expect_failure(ok, text.c_str(), target == TO_FILE ? destination : L"", data);
      DeleteFileW(destination.c_str());
    }
}

// A connection that closes before the announced length is a cut-off file,
// never a finished download.
TEST_F(DownloadTest, BodyShorterThanAnnouncedFails) {
  REQUIRE_FIXTURE();
  const struct {
    unsigned announced, sent;
  } cases[] = {{1000, 0}, {1000, 999}, {300000, 70000}};
  for (const auto& c : cases)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::Message() << c.sent << " of " << c.announced
                                      << (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      reset_job_status();
      std::wstring destination = in_folder(L"short.bin");
      char* data = nullptr;
      uint32_t length = 0;
      bool ok = download_to(target, url(format(L"/short/%u/%u", c.announced, c.sent).c_str()),
                            destination, &data, &length, L"the game's build kit");
      expect_failure(ok, L"The download of the game's build kit ended early.", target == TO_FILE ? destination : L"",
                     data);
    }
}

// A connection reset in the middle of the body (a dropped network) is a read
// that fails: its own text, and nothing kept, whether or not a length was
// announced.
TEST_F(DownloadTest, ConnectionResetMidBodyFailsWithTheReadText) {
  REQUIRE_FIXTURE();
  for (unsigned announced : {0u, 300000u})
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::Message() << "announced " << announced << (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      reset_job_status();
      std::wstring destination = in_folder(L"reset.bin");
      char* data = nullptr;
      uint32_t length = 0;
      bool ok = download_to(target, url(format(L"/reset/%u/70000", announced).c_str()),
                            destination, &data, &length, L"the game's build kit");
      EXPECT_FALSE(ok);
      std::wstring error = g_job.error_text;
      unsigned long code = windows_error_in(error);
      EXPECT_NE(code, 0u) << testing::PrintToString(error);
      EXPECT_EQ(error, download_failure_text(true, L"the game's build kit", code));
      if (target == TO_FILE) {
        EXPECT_FALSE(file_exists(destination)) << "a partial file was left behind";
      }
      EXPECT_EQ(data, (char*)nullptr);
    }
}

// A server that sends more than its Content-Length: the bytes after the
// announced length are not part of the response, so only the announced
// bytes arrive and the bar never runs past the download's share.
TEST_F(DownloadTest, BodyLongerThanAnnouncedKeepsTheAnnouncedBytes) {
  REQUIRE_FIXTURE();
  const struct {
    unsigned announced, sent;
  } cases[] = {{10, 1000}, {70000, 300000}};
  for (const auto& c : cases)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::Message() << c.sent << " sent, " << c.announced << " announced"
                                      << (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      reset_job_status();
      heard.clear();
      std::wstring destination = in_folder(L"long.bin");
      std::string got = fetch_whole(url(format(L"/long/%u/%u", c.announced, c.sent).c_str()), target, destination,
                                    L"the file");
      EXPECT_EQ(got.size(), c.announced);
      EXPECT_TRUE(got == pattern(c.announced)) << "the body differs from the announced bytes";
      EXPECT_DOUBLE_EQ(g_job.progress, 0.6);
      expect_progress_within(0.2, 0.6);
      DeleteFileW(destination.c_str());
    }
}

TEST_F(DownloadTest, CancelBetweenChunksIsSilentAndLeavesNothing) {
  REQUIRE_FIXTURE();
  for (Target target : {TO_FILE, TO_MEMORY}) {
    SCOPED_TRACE(target == TO_FILE ? "to a file" : "to memory");
    reset_state();
    reset_job_status();
    heard.clear();
    // The start, then two chunks: the cancel comes with the second.
    cancel_at_publication = 3;
    std::wstring destination = in_folder(L"cancelled.bin");
    char* data = nullptr;
    uint32_t length = 0;
    bool ok = download_to(target, url(L"/data/3000000"), destination, &data, &length, L"the file");
    expect_failure(ok, nullptr, target == TO_FILE ? destination : L"", data);
    // It stopped at the cancel rather than reading the rest of the body.
    EXPECT_EQ(heard.size(), 3u);
  }
}

DWORD WINAPI cancel_after_400_ms(void*) {
  Sleep(400);
  InterlockedExchange(&g_job.cancel_requested, 1);
  return 0;
}

// The window cancels from its own thread while the worker waits in a read of
// a body that trickles in; the download ends when that read returns.
TEST_F(DownloadTest, CancelFromAnotherThreadStopsASlowBody) {
  REQUIRE_FIXTURE();
  std::wstring destination = in_folder(L"slow.bin");
  HANDLE canceller = CreateThread(NULL, 0, cancel_after_400_ms, NULL, 0, NULL);
  ASSERT_NE(canceller, nullptr);
  DWORD start = GetTickCount();
  // 20 MB at 20 KB/s would take over 15 minutes.
  bool ok = download_url(url(L"/trickle/20000000").c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
  DWORD took = GetTickCount() - start;
  WaitForSingleObject(canceller, INFINITE);
  CloseHandle(canceller);
  expect_failure(ok, nullptr, destination, nullptr);
  EXPECT_LT(took, 10000u);
  EXPECT_FALSE(heard.empty()) << "the body never started, so nothing was cut mid-body";
}

// A server that goes quiet, before its headers or in the middle of the body:
// the wait is bounded (the platform's receive time of 30 s), so a cancel
// given meanwhile ends the download, silently, instead of after the server
// gives up or never. The fixture stays quiet for 75 s.
TEST_F(DownloadTest, CancelWhileTheServerIsSilentEndsTheDownloadQuietly) {
  REQUIRE_FIXTURE();
  const wchar_t* paths[] = {L"/silent/75", L"/stall/100000/1000/75"};
  for (const wchar_t* path : paths) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
    reset_state();
    reset_job_status();
    heard.clear();
    std::wstring destination = in_folder(L"silent.bin");
    HANDLE canceller = CreateThread(NULL, 0, cancel_after_400_ms, NULL, 0, NULL);
    ASSERT_NE(canceller, nullptr);
    DWORD start = GetTickCount();
    bool ok = download_url(url(path).c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
    DWORD took = GetTickCount() - start;
    WaitForSingleObject(canceller, INFINITE);
    CloseHandle(canceller);
    expect_failure(ok, nullptr, destination, nullptr);
    EXPECT_LT(took, 50000u) << "the download waited for the server to give up";
  }
}

TEST_F(DownloadTest, DestinationThatCannotBeCreatedFailsBeforeAnyRequest) {
  REQUIRE_FIXTURE();
  std::wstring local_source = in_folder(L"present.bin");
  ASSERT_TRUE(write_file(local_source, "present"));
  std::wstring missing_folder = in_folder(L"no such folder\\kit.zip");
  const std::wstring sources[] = {url(L"/data/100"), local_source, in_folder(L"absent.bin")};
  for (const std::wstring& source : sources) {
    SCOPED_TRACE(testing::PrintToString(source));
    reset_state();
    reset_job_status();
    int before = requests_served();
    ASSERT_GE(before, 0);
    bool ok = download_url(source.c_str(), missing_folder.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
    // The text names the destination, not the label.
    expect_failure(ok, (L"Could not write " + missing_folder + L".").c_str(), missing_folder, nullptr);
    EXPECT_EQ(requests_served(), before) << "a request was made";
  }
  std::string still;
  EXPECT_TRUE(read_file(local_source, &still) && still == "present");
}

TEST_F(DownloadTest, AddressesThatDoNotParseAreNamedAsGiven) {
  REQUIRE_FIXTURE();
  // Anything starting with "http", in any case, is an address.
  const std::wstring sources[] = {
      L"http", L"httpdocs\\kit.zip", L"http:kit.zip", L"HTTPS:/", L"http://" + std::wstring(300, L'h') + L"/x",
  };
  for (const std::wstring& source : sources) {
    SCOPED_TRACE(testing::PrintToString(source));
    reset_state();
    reset_job_status();
    std::wstring destination = in_folder(L"bad.bin");
    bool ok = download_url(source.c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
    expect_failure(ok, (L"Bad address: " + source).substr(0, ERROR_TEXT_UNITS - 1).c_str(), destination, nullptr);
  }
}

TEST_F(DownloadTest, SchemeInAnyCaseGoesThroughHttp) {
  REQUIRE_FIXTURE();
  for (const wchar_t* scheme : {L"HTTP", L"hTtP"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(scheme)));
    reset_state();
    reset_job_status();
    std::wstring source = format(L"%ls://127.0.0.1:%d/data/1000", scheme, port);
    EXPECT_TRUE(fetch_whole(source, TO_MEMORY, L"", L"the file") == pattern(1000));
  }
}

// Both end before a response: nothing listens on port 1 of the loopback
// address, and the fixture speaks no TLS, so an https address to it must not
// quietly fall back to plain HTTP.
TEST_F(DownloadTest, ConnectionThatFailsAsksToCheckTheConnection) {
  REQUIRE_FIXTURE();
  const std::wstring sources[] = {L"http://127.0.0.1:1/kit.zip", format(L"https://127.0.0.1:%d/data/10", port)};
  for (const std::wstring& source : sources) {
    SCOPED_TRACE(testing::PrintToString(source));
    reset_state();
    reset_job_status();
    std::wstring destination = in_folder(L"unreachable.bin");
    bool ok = download_url(source.c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"Downloading the build tools",
                           L"the build tools", DOWNLOAD_ARCHIVE_LIMIT);
    EXPECT_FALSE(ok);
    std::wstring error = g_job.error_text;
    unsigned long code = windows_error_in(error);
    EXPECT_NE(code, 0u) << testing::PrintToString(error);
    EXPECT_EQ(error, download_failure_text(false, L"the build tools", code));
    // Whether or not the table knows the code, the text says what to try.
    EXPECT_NE(error.find(L"). "), std::wstring::npos) << testing::PrintToString(error);
    EXPECT_FALSE(file_exists(destination));
  }
}

TEST_F(DownloadTest, LocalCopiesArriveWhole) {
  const size_t sizes[] = {0, 1, 1048575, 1048576, 1048577, 2 * 1048576 + 300000};
  for (size_t size : sizes)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::Message() << size << (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      reset_job_status();
      heard.clear();
      g_job.progress = 0.25;
      copy_text(g_job.stage_text, STAGE_TEXT_UNITS, L"Starting");
      std::wstring source = in_folder(L"source.bin");
      std::wstring destination = in_folder(L"copy.bin");
      ASSERT_TRUE(write_file(source, pattern(size)));
      std::string got = fetch_whole(source, target, destination, L"the file");
      EXPECT_EQ(got.size(), size);
      EXPECT_TRUE(got == pattern(size)) << "the copy differs from the source";
      ASSERT_FALSE(heard.empty());
      EXPECT_EQ(heard[0].stage, L"the file") << "the stage names the copy from its start";
      EXPECT_DOUBLE_EQ(heard[0].progress, 0.25) << "the start leaves the bar where it was";
      if (size == 0) {
        EXPECT_EQ(heard.size(), 1u) << "progress for an empty file";
        EXPECT_DOUBLE_EQ(g_job.progress, 0.25);
      } else {
        double mb = size / 1048576.0;
        EXPECT_EQ(std::wstring(g_job.stage_text), format(L"the file (%.0f of %.0f MB)", mb, mb));
        EXPECT_DOUBLE_EQ(g_job.progress, 0.6);
        EXPECT_EQ(heard.size(), 1 + (size + 1048575) / 1048576) << "the start, then one publication per 1 MiB chunk";
        expect_progress_within(0.2, 0.6);
      }
      DeleteFileW(destination.c_str());
    }
}

TEST_F(DownloadTest, MissingLocalSourceIsNamedAsGiven) {
  std::wstring destination = in_folder(L"copy.bin");
  const std::wstring sources[] = {in_folder(L"absent.zip"), L"relative\\nothing here.zip", L"Q:/no/drive.zip"};
  for (const std::wstring& source : sources)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::PrintToString(source));
      reset_state();
      reset_job_status();
      char* data = nullptr;
      uint32_t length = 0;
      bool ok = download_to(target, source, destination, &data, &length, L"the file");
      expect_failure(ok, (source + L" is not there.").c_str(), target == TO_FILE ? destination : L"", data);
    }
}

// Copying a file onto itself must not empty it and then delete it.
TEST_F(DownloadTest, CopyOntoItselfKeepsTheSource) {
  std::wstring source = in_folder(L"kit.zip");
  ASSERT_TRUE(write_file(source, pattern(5000)));
  const std::wstring destinations[] = {source, folder_ + L"\\.\\kit.zip"};
  for (const std::wstring& destination : destinations) {
    SCOPED_TRACE(testing::PrintToString(destination));
    reset_state();
    reset_job_status();
    bool ok = download_url(source.c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::wstring(g_job.error_text), L"Could not write " + destination + L".");
    std::string kept;
    EXPECT_TRUE(read_file(source, &kept) && kept == pattern(5000)) << "the source was damaged";
  }
}

// A pipe whose writer hangs up mid-stream stands in for a local source that
// fails while being read (a network share dropping, a failing disk): the copy
// must fail with the source's name rather than pass a cut file off as whole.
DWORD WINAPI serve_then_hang_up(void* pipe) {
  if (ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
    std::string start = pattern(1000);
    DWORD written = 0;
    WriteFile(pipe, start.data(), (DWORD)start.size(), &written, NULL);
    Sleep(200);
    DisconnectNamedPipe(pipe);
  }
  return 0;
}

TEST_F(DownloadTest, LocalSourceThatFailsWhileReadIsNamed) {
  std::wstring source = format(L"\\\\.\\pipe\\telvar_download_%lu", GetCurrentProcessId());
  for (Target target : {TO_FILE, TO_MEMORY}) {
    SCOPED_TRACE(target == TO_FILE ? "to a file" : "to memory");
    reset_state();
    reset_job_status();
    HANDLE pipe = CreateNamedPipeW(source.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                   0, NULL);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    HANDLE writer = CreateThread(NULL, 0, serve_then_hang_up, pipe, 0, NULL);
    ASSERT_NE(writer, nullptr);
    std::wstring destination = in_folder(L"from_pipe.bin");
    char* data = nullptr;
    uint32_t length = 0;
    bool ok = download_to(target, source, destination, &data, &length, L"the file");
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    CloseHandle(pipe);
    expect_failure(ok, (L"Could not read " + source + L".").c_str(), target == TO_FILE ? destination : L"", data);
  }
}

// Likewise a destination that stops taking bytes (a full disk): a pipe whose
// reader hangs up after the first bytes.
DWORD WINAPI take_then_hang_up(void* pipe) {
  if (ConnectNamedPipe(pipe, NULL) || GetLastError() == ERROR_PIPE_CONNECTED) {
    char buffer[1000];
    DWORD got = 0;
    ReadFile(pipe, buffer, sizeof buffer, &got, NULL);
    DisconnectNamedPipe(pipe);
  }
  return 0;
}

TEST_F(DownloadTest, DestinationThatStopsTakingBytesIsNamed) {
  REQUIRE_FIXTURE();
  std::wstring local_source = in_folder(L"big.bin");
  ASSERT_TRUE(write_file(local_source, pattern(3 * 1048576)));
  std::wstring destination = format(L"\\\\.\\pipe\\telvar_download_out_%lu", GetCurrentProcessId());
  const std::wstring sources[] = {url(L"/data/3000000"), local_source};
  for (const std::wstring& source : sources) {
    SCOPED_TRACE(testing::PrintToString(source));
    reset_state();
    reset_job_status();
    HANDLE pipe = CreateNamedPipeW(destination.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                   0, NULL);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    HANDLE reader = CreateThread(NULL, 0, take_then_hang_up, pipe, 0, NULL);
    ASSERT_NE(reader, nullptr);
    bool ok = download_url(source.c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"the file");
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    CloseHandle(pipe);
    expect_failure(ok, (L"Could not write " + destination + L" (disk full?).").c_str(), L"", nullptr);
  }
}

TEST_F(DownloadTest, CancelDuringALocalCopyLeavesNothing) {
  std::wstring source = in_folder(L"big.bin");
  ASSERT_TRUE(write_file(source, pattern(3 * 1048576)));
  for (Target target : {TO_FILE, TO_MEMORY}) {
    SCOPED_TRACE(target == TO_FILE ? "to a file" : "to memory");
    reset_state();
    reset_job_status();
    heard.clear();
    cancel_at_publication = 2;  // the start, then the first chunk
    std::wstring destination = in_folder(L"copy.bin");
    char* data = nullptr;
    uint32_t length = 0;
    bool ok = download_to(target, source, destination, &data, &length, L"the file");
    expect_failure(ok, nullptr, target == TO_FILE ? destination : L"", data);
    EXPECT_EQ(heard.size(), 2u) << "the copy went on after the cancel";
  }
}

// The build job's labels begin its progress texts ("Downloading the build
// tools (3 of 40 MB)") and would read wrong in its errors; the errors name the
// thing itself.
TEST_F(DownloadTest, ErrorTextsNameTheThingAndProgressKeepsTheLabel) {
  REQUIRE_FIXTURE();
  const struct {
    std::wstring source;
    const wchar_t* text;  // the whole text, or its beginning when a code follows
    bool whole;
  } cases[] = {
      {url(L"/status/404"), L"Could not download the build tools (the server answered 404).", true},
      {url(L"/short/1000/999"), L"The download of the build tools ended early.", true},
      {url(L"/reset/300000/70000"), L"The download of the build tools stopped", false},
      {L"http://127.0.0.1:1/kit.zip", L"Could not download the build tools", false},
  };
  for (const auto& c : cases)
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::PrintToString(c.source) + (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      std::wstring destination = in_folder(L"tools.zip");
      char* data = nullptr;
      uint32_t length = 0;
      bool ok = download_url(c.source.c_str(), target == TO_FILE ? destination.c_str() : NULL, 0.0, 1.0,
                             target == TO_MEMORY ? &data : NULL, &length, L"Downloading the build tools",
                             L"the build tools", DOWNLOAD_ARCHIVE_LIMIT);
      EXPECT_FALSE(ok);
      std::wstring error = g_job.error_text;
      if (c.whole) {
        EXPECT_EQ(error, c.text);
      } else {
        EXPECT_EQ(error.substr(0, wcslen(c.text)), c.text) << testing::PrintToString(error);
        EXPECT_NE(windows_error_in(error), 0u) << testing::PrintToString(error);
      }
      EXPECT_EQ(error.find(L"Downloading"), std::wstring::npos) << testing::PrintToString(error);
      if (target == TO_FILE) {
        EXPECT_FALSE(file_exists(destination));
      }
      EXPECT_EQ(data, (char*)nullptr);
    }
  reset_state();
  heard.clear();
  char* data = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(download_url(url(L"/data/1000").c_str(), NULL, 0.0, 1.0, &data, &length,
                           L"Downloading the build description", L"the build description", DOWNLOAD_TEXT_LIMIT));
  free(data);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front().stage, L"Downloading the build description");
  EXPECT_EQ(heard.back().stage, L"Downloading the build description (0 of 0 MB)");
}

DWORD WINAPI watch_stage_then_cancel(void* seen) {
  Sleep(400);
  job_read_texts((wchar_t*)seen, STAGE_TEXT_UNITS, NULL, 0);
  InterlockedExchange(&g_job.cancel_requested, 1);
  return 0;
}

// While a server is slow to answer, the bar must already name this download,
// not whatever the stage before it showed.
TEST_F(DownloadTest, TheStageNamesTheDownloadFromItsStart) {
  REQUIRE_FIXTURE();
  // The server reads the request and answers nothing (the download ends
  // with the platform's 30 s wait for a response, as a cancel then does).
  for (const wchar_t* path : {L"/silent/75"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
    reset_state();
    heard.clear();
    copy_text(g_job.stage_text, STAGE_TEXT_UNITS, L"the build description (0 of 0 MB)");
    g_job.progress = 0.01;
    wchar_t seen[STAGE_TEXT_UNITS] = {};
    HANDLE watcher = CreateThread(NULL, 0, watch_stage_then_cancel, seen, 0, NULL);
    ASSERT_NE(watcher, nullptr);
    bool ok = download_url(url(path).c_str(), in_folder(L"tools.zip").c_str(), 0.01, 0.2, NULL, NULL,
                           L"Downloading the build tools");
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(seen, L"Downloading the build tools");
    EXPECT_DOUBLE_EQ(g_job.progress, 0.01) << "the start leaves the bar where it was";
  }
}

// A Content-Length that is no plain number says nothing about the body: read
// as an unsigned number, "-1" announced 16 million terabytes.
TEST_F(DownloadTest, ContentLengthThatIsNoNumberCountsAsUnknown) {
  REQUIRE_FIXTURE();
  for (const wchar_t* length_text : {L"-1"})
    for (Target target : {TO_FILE, TO_MEMORY}) {
      SCOPED_TRACE(testing::PrintToString(std::wstring(length_text)) + (target == TO_FILE ? " to a file" : " to memory"));
      reset_state();
      heard.clear();
      g_job.progress = 0.25;
      std::wstring destination = in_folder(L"odd_length.bin");
      std::string got =
          fetch_whole(url(format(L"/length/%ls/70000", length_text).c_str()), target, destination, L"the file");
      EXPECT_TRUE(got == pattern(70000)) << got.size() << " bytes arrived";
      for (const Heard& h : heard) {
        EXPECT_EQ(h.stage.find(L" of "), std::wstring::npos) << testing::PrintToString(h.stage);
        EXPECT_DOUBLE_EQ(h.progress, 0.25) << "an unknown length leaves the bar";
      }
      EXPECT_STREQ(g_job.stage_text, L"the file (0 MB)");
      DeleteFileW(destination.c_str());
    }
}

// A body without a length stops at the limit of what is fetched; a longer
// announced length is refused before the body is read. Nothing is kept.
TEST_F(DownloadTest, BodiesStopAtTheLimitOfWhatIsFetched) {
  REQUIRE_FIXTURE();
  std::wstring local = in_folder(L"big_description.json");
  ASSERT_TRUE(write_file(local, pattern(1048577)));
  std::wstring local_fits = in_folder(L"description.json");
  ASSERT_TRUE(write_file(local_fits, pattern(1048576)));
  const wchar_t* text_refused = L"The download of the build description stopped: it is larger than 1 MB.";
  const struct {
    std::wstring source;
    Target target;
    uint64_t limit;
    const wchar_t* name;
    const wchar_t* text;  // null: succeeds
  } cases[] = {
      {url(L"/close/1048576"), TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", nullptr},
      {url(L"/close/1048577"), TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", text_refused},
      {url(L"/chunked/3000000"), TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", text_refused},
      {url(L"/close/1048577"), TO_FILE, DOWNLOAD_TEXT_LIMIT, L"the build description", text_refused},
      {url(L"/data/1048577"), TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", text_refused},
      {local, TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", text_refused},
      {local_fits, TO_MEMORY, DOWNLOAD_TEXT_LIMIT, L"the build description", nullptr},
      {url(L"/data/2147483649"), TO_FILE, DOWNLOAD_ARCHIVE_LIMIT, L"the build kit",
       L"The download of the build kit stopped: it is larger than 2048 MB."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.source) + (c.target == TO_FILE ? " to a file" : " to memory"));
    reset_state();
    std::wstring destination = in_folder(L"limited.bin");
    char* data = nullptr;
    uint32_t length = 0;
    DWORD start = GetTickCount();
    bool ok = download_url(c.source.c_str(), c.target == TO_FILE ? destination.c_str() : NULL, 0.0, 1.0,
                           c.target == TO_MEMORY ? &data : NULL, &length, L"Downloading", c.name, c.limit);
    if (!c.text) {
      EXPECT_TRUE(ok) << testing::PrintToString(std::wstring(g_job.error_text));
      EXPECT_EQ(length, 1048576u);
      free(data);
      continue;
    }
    expect_failure(ok, c.text, c.target == TO_FILE ? destination : L"", data);
    EXPECT_LT(GetTickCount() - start, 20000u) << "the refused body was read anyway";
  }
}

// Host links (make_transfer_links.py) where archives are downloaded: a link
// to a file, and a link to nothing. The download never writes into what a
// link points to and never makes a file there; where the platform cannot
// remove the link itself (Wine opens a host link only at its target), the
// download stops and says so.
TEST_F(DownloadTest, LinksAtTheDestinationAreNeverWrittenThrough) {
  REQUIRE_FIXTURE();
  std::wstring links = windows_view(std::string(TELVAR_BINARY_DIR) + "/tests/transfer/links");
  if (!file_exists(links + L"\\downloads\\kit.zip"))
    GTEST_SKIP() << "the host links are not there (made by the transfer_links fixture)";
  std::wstring local = in_folder(L"new.zip");
  ASSERT_TRUE(write_file(local, "new archive"));
  const std::wstring sources[] = {local, url(L"/data/5000")};
  for (const wchar_t* name : {L"kit.zip", L"dangling.zip"})
    for (const std::wstring& source : sources) {
      std::wstring destination = links + L"\\downloads\\" + name;
      SCOPED_TRACE(testing::PrintToString(destination) + " from " + testing::PrintToString(source));
      reset_state();
      bool ok = download_url(source.c_str(), destination.c_str(), 0.0, 1.0, NULL, NULL, L"Downloading the build kit",
                             L"the build kit", DOWNLOAD_ARCHIVE_LIMIT);
      std::string kept;
      EXPECT_TRUE(read_file(links + L"\\outside\\precious.zip", &kept) && kept == "keep zip")
          << "the download reached the link's target";
      EXPECT_FALSE(file_exists(links + L"\\outside\\never.zip")) << "a file was made where a link points";
      if (ok) {
        // The platform removed the link itself: a real file stands there now.
        DWORD attributes = GetFileAttributesW(destination.c_str());
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
      } else {
        std::wstring error = g_job.error_text;
        std::wstring link_text =
            destination + L" is a link to another place and could not be removed. Remove it and try again.";
        // A link to nothing may show as a path that cannot be written.
        if (std::wstring(name) == L"dangling.zip" && error == L"Could not write " + destination + L".") continue;
        EXPECT_EQ(error, link_text);
      }
    }
}

}  // namespace

// download_file tells its own caller what happened, in a result record with
// the figures a text needs; the build job is not touched.
TEST_F(DownloadTest, TheResultNamesWhatFailedWithoutTheJob) {
  REQUIRE_FIXTURE();
  struct Case {
    const char* what;
    std::wstring source;
    uint64_t limit;
    bool cancel;
    TransferFailure failure;
    uint32_t code;
    std::wstring detail;
  };
  std::wstring missing = in_folder(L"missing.bin");
  const Case cases[] = {
      {"refused status", url(L"/status/404"), 1000, false, TRANSFER_REFUSED, 404, L""},
      {"over the limit", url(L"/data/2000"), 1000, false, TRANSFER_TOO_LARGE, 0, L""},
      {"cut-off body", url(L"/short/1000/400"), 10000, false, TRANSFER_ENDED_EARLY, 0, L""},
      {"missing source", missing, 1000, false, TRANSFER_SOURCE_MISSING, 0, missing},
      {"bad address", L"http://", 1000, false, TRANSFER_BAD_ADDRESS, 0, L"http://"},
      {"cancelled", url(L"/data/1000"), 10000, true, TRANSFER_CANCELLED, 0, L""},
  };
  for (const Case& c : cases) {
    TransferListener listener;
    const TransferProgress* progress = listen_to_transfer(&listener, L"the part", c.cancel);
    TransferResult result;
    std::wstring destination = in_folder(L"part.bin");
    EXPECT_FALSE(download_file(c.source.c_str(), destination.c_str(), c.limit, NULL, NULL, progress, &result))
        << c.what;
    EXPECT_EQ(result.failure, c.failure) << c.what;
    EXPECT_EQ(result.code, c.code) << c.what;
    EXPECT_EQ(std::wstring(result.detail), c.detail) << c.what;
    if (c.failure == TRANSFER_TOO_LARGE) {
      EXPECT_EQ(result.limit, 1000u) << c.what;
    }
    EXPECT_FALSE(file_exists(destination)) << c.what;
    EXPECT_EQ(g_job.failed, 0) << c.what;
    EXPECT_STREQ(g_job.error_text, L"") << c.what;
  }

  // A whole body: the label first with no fraction, then the share done of
  // this download alone, ending at 1.
  TransferListener listener;
  const TransferProgress* progress = listen_to_transfer(&listener, L"the part", false);
  TransferResult result;
  char* data = NULL;
  uint32_t length = 0;
  ASSERT_TRUE(download_file(url(L"/data/1000").c_str(), NULL, 10000, &data, &length, progress, &result));
  free(data);
  EXPECT_EQ(result.failure, TRANSFER_OK);
  EXPECT_EQ(length, 1000u);
  ASSERT_GE(listener.stages.size(), 2u);
  EXPECT_EQ(listener.stages.front(), L"the part");
  EXPECT_LT(listener.fractions.front(), 0.0);
  EXPECT_EQ(listener.stages.back(), L"the part (0 of 0 MB)");
  EXPECT_DOUBLE_EQ(listener.fractions.back(), 1.0);
  EXPECT_STREQ(g_job.stage_text, L"") << "the job's stage is not the download's";
}
