// Downloads over a bad network, against flaky_server.py: a body cut short
// resumes with one Range request and ends byte-equal to the source; a server
// that ignores Range, a changed validator, a 416 and a record of another
// address start from zero; what passes is retried with its pauses and what
// does not is not; headers or a body that trickle are cut off; and a cancel
// ends every kind of wait within a second.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/flaky_fixture.h"
#include "support/temp_folder.h"
#include "transfer/download.h"
#include "transfer/resume_record.h"

namespace {

std::string pattern(size_t offset, size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; i++) {
    size_t at = offset + i;
    out[i] = (char)((at * 7 + at / 65536) % 251);
  }
  return out;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? (char)c : '?';
  return out;
}

// What a download told its caller: every stage text, and a cancel flag the
// test (or another thread) sets.
struct Listener {
  std::vector<std::wstring> stages;
  volatile LONG cancel = 0;
  bool saw(const std::wstring& prefix) const {
    for (const std::wstring& s : stages)
      if (s.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

void heard(void* context, double, const wchar_t* stage) {
  std::vector<std::wstring>& stages = ((Listener*)context)->stages;
  if (stages.empty() || stages.back() != stage) stages.push_back(stage);
}
bool cancelled(void* context) { return ((Listener*)context)->cancel != 0; }

class ResumeTest : public ::testing::Test {
 protected:
  static FlakyServer server;

  static void SetUpTestSuite() { server.start("resume", ""); }
  static void TearDownTestSuite() { server.stop(); }

  void SetUp() override {
    ASSERT_NE(server.port, 0) << "flaky_server.py did not start";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"telvar_resume_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), NULL);
    destination_ = folder_ + L"\\kit.zip";
    partial_ = destination_ + DOWNLOAD_PARTIAL_SUFFIX;
    record_ = destination_ + DOWNLOAD_RECORD_SUFFIX;
    quick(1);
    ASSERT_TRUE(server.get(L"/control?clear=1"));
    server.forget_log();
  }
  void TearDown() override {
    set_download_limits(NULL);
    for (const std::wstring& f : {destination_, partial_, record_}) DeleteFileW(f.c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  // The real waits, with the pauses at percent of theirs.
  void quick(uint32_t percent) {
    DownloadLimits limits = DOWNLOAD_LIMITS_DEFAULT;
    limits.pause_percent = percent;
    set_download_limits(&limits);
  }

  bool fetch(const std::wstring& path, Listener* listener, TransferResult* result) {
    TransferProgress progress = {heard, cancelled, listener, L"the kit"};
    return download_file(server.url(path).c_str(), destination_.c_str(), DOWNLOAD_ARCHIVE_LIMIT, NULL, NULL,
                         &progress, result);
  }

  // Nothing of this download may stay where a later one could take it up.
  void expect_nothing_left() {
    EXPECT_FALSE(exists(destination_));
    EXPECT_FALSE(exists(partial_));
    EXPECT_FALSE(exists(record_));
  }

  std::wstring folder_, destination_, partial_, record_;
};
FlakyServer ResumeTest::server;

const size_t BIG = 50u << 20;            // 50 MiB
const size_t CUT = BIG / 10 * 6;         // 60 %

TEST_F(ResumeTest, ABodyCutAt60PercentResumesWithOneRangeRequest) {
  ASSERT_TRUE(server.get((L"/control?cut=" + std::to_wstring(CUT)).c_str()));
  Listener listener;
  TransferResult result;
  DWORD start = GetTickCount();
  bool ok = fetch(L"/pattern/" + std::to_wstring(BIG), &listener, &result);
  DWORD took = GetTickCount() - start;
  ASSERT_TRUE(ok) << result.failure << " " << result.code;
  printf("50 MiB, cut at 60 %% and resumed: %lu ms\n", took);
  std::string body = read_bytes(destination_);
  ASSERT_EQ(body.size(), BIG);
  EXPECT_TRUE(body == pattern(0, BIG)) << "the resumed file differs from the source";
  EXPECT_FALSE(exists(partial_));
  EXPECT_FALSE(exists(record_));
  std::vector<LoggedRequest> log = server.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].range, "");
  EXPECT_EQ(log[0].sent, (long long)CUT);
  EXPECT_EQ(log[1].range, "bytes=" + std::to_string(CUT) + "-");
  EXPECT_EQ(log[1].if_range, "\"v1\"");
  EXPECT_EQ(log[1].status, 206);
  EXPECT_EQ(log[1].sent, (long long)(BIG - CUT)) << "only the rest was sent";
  EXPECT_TRUE(listener.saw(L"Connection lost; trying again (1 of 3)\u2026"));
  EXPECT_EQ(listener.stages.back(), L"the kit (50 of 50 MB)");
}

// A body that takes some seconds shows its speed and the time left once it
// has run for a second; the server paces it, so the figures are known.
TEST_F(ResumeTest, ALongBodyShowsItsSpeedAndTimeLeft) {
  const size_t size = 6u << 20;
  ASSERT_TRUE(server.get(L"/control?pace=2097152"));  // 2 MiB a second: about 3 s
  Listener listener;
  TransferResult result;
  ASSERT_TRUE(fetch(L"/pattern/" + std::to_wstring(size), &listener, &result)) << result.failure;
  int with_speed = 0;
  for (const std::wstring& s : listener.stages) {
    unsigned done = 0, total = 0, left = 0;
    float rate = 0;
    if (swscanf(s.c_str(), L"the kit (%u of %u MB, %f MB/s, about %u s left)", &done, &total, &rate, &left) != 4)
      continue;
    with_speed++;
    EXPECT_EQ(total, 6u) << narrow(s);
    EXPECT_GT(rate, 1.0f) << narrow(s);
    EXPECT_LT(rate, 3.0f) << narrow(s);
    EXPECT_LE(left, 4u) << narrow(s);
  }
  EXPECT_GT(with_speed, 0) << "no speed in " << listener.stages.size() << " stages";
  EXPECT_EQ(listener.stages.back(), L"the kit (6 of 6 MB)");
}

// The partial and its record outlive a download that ran out of retries; the
// next download of the same address takes them up, unless the server's
// answer says the bytes no longer belong to the file.
TEST_F(ResumeTest, ALaterDownloadResumesOrStartsFromZeroAsTheServerSays) {
  const size_t size = 5u << 20, cut = 1u << 20;
  const struct {
    const char* name;
    const wchar_t* control;  // between the two downloads
    const char* range;       // what the second download asks for
    std::vector<int> statuses;  // its requests' answers
  } cases[] = {
      {"resumed", L"/control?clear=1", "bytes=4194304-", {206}},
      {"server ignores Range", L"/control?range=ignore", "bytes=4194304-", {200}},
      {"file changed", L"/control?etag=v2", "bytes=4194304-", {200}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(server.get(L"/control?clear=1"));
    // Four cuts of 1 MiB each: the first attempt and its three retries.
    ASSERT_TRUE(server.get((L"/control?cut=" + std::to_wstring(cut) + L"&cuts=4").c_str()));
    Listener first;
    TransferResult result;
    EXPECT_FALSE(fetch(L"/pattern/" + std::to_wstring(size), &first, &result));
    EXPECT_EQ(result.failure, TRANSFER_ENDED_EARLY);
    EXPECT_FALSE(exists(destination_));
    EXPECT_TRUE(read_bytes(partial_) == pattern(0, 4 * cut)) << "the partial holds what arrived";
    EXPECT_TRUE(exists(record_));
    ASSERT_TRUE(server.get(c.control));
    server.forget_log();
    Listener second;
    ASSERT_TRUE(fetch(L"/pattern/" + std::to_wstring(size), &second, &result)) << result.failure;
    EXPECT_TRUE(read_bytes(destination_) == pattern(0, size));
    EXPECT_FALSE(exists(partial_));
    EXPECT_FALSE(exists(record_));
    std::vector<LoggedRequest> log = server.log();
    ASSERT_EQ(log.size(), c.statuses.size());
    EXPECT_EQ(log[0].range, c.range);
    for (size_t i = 0; i < log.size(); i++) EXPECT_EQ(log[i].status, c.statuses[i]) << i;
    DeleteFileW(destination_.c_str());
  }
}

// Records made by hand with the record writer: one the server's file no
// longer fits (416), one of another address, one whose partial is as long as
// the file it names. None may be appended to.
TEST_F(ResumeTest, APartialTheServerOrTheRecordDisownsStartsFromZero) {
  const size_t size = 500000;
  const struct {
    const char* name;
    std::string address;  // the record's
    uint64_t length;      // the record's
    size_t partial;       // bytes in the partial (garbage)
    std::vector<int> statuses;
    bool ranged;          // the first request asked for a range
  } cases[] = {
      {"past the end: 416", "/pattern/500000", 1000000, 600000, {416, 200}, true},
      {"another address", "/pattern/400000", 500000, 1000, {200}, false},
      {"a partial as long as its file", "/pattern/500000", 500000, 500000, {200}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResumeRecord record;
    memset(&record, 0, sizeof record);
    std::string address = narrow(server.url(std::wstring(c.address.begin(), c.address.end())));
    strcpy(record.address, address.c_str());
    record.length = c.length;
    strcpy(record.etag, "\"v1\"");
    char text[RESUME_RECORD_BYTES];
    size_t n = format_resume_record(&record, text, sizeof text);
    ASSERT_GT(n, 0u);
    ASSERT_TRUE(write_bytes(record_, std::string(text, n)));
    ASSERT_TRUE(write_bytes(partial_, std::string(c.partial, 'x')));
    server.forget_log();
    Listener listener;
    TransferResult result;
    ASSERT_TRUE(fetch(L"/pattern/" + std::to_wstring(size), &listener, &result)) << result.failure;
    EXPECT_TRUE(read_bytes(destination_) == pattern(0, size)) << "garbage of the partial kept";
    EXPECT_FALSE(exists(partial_));
    EXPECT_FALSE(exists(record_));
    std::vector<LoggedRequest> log = server.log();
    ASSERT_EQ(log.size(), c.statuses.size());
    for (size_t i = 0; i < log.size(); i++) EXPECT_EQ(log[i].status, c.statuses[i]) << i;
    EXPECT_EQ(!log[0].range.empty(), c.ranged);
    EXPECT_EQ(log.back().range, "");
    DeleteFileW(destination_.c_str());
  }
}

TEST_F(ResumeTest, WhatMayPassIsRetriedAndWhatWillNotIsNot) {
  const struct {
    const char* name;
    const wchar_t* control;
    bool ok;
    size_t requests;
    std::vector<std::wstring> stages;  // retry texts that must have been shown
    uint32_t pause_percent;
    DWORD at_least_ms;                 // the pauses a retry must have waited
    const char* failure;               // "" on success; else the failure and status
  } cases[] = {
      {"three 503s then 200", L"/control?fail=503&fails=3", true, 4,
       {L"The server is busy; trying again (1 of 3)\u2026", L"The server is busy; trying again (2 of 3)\u2026",
        L"The server is busy; trying again (3 of 3)\u2026"}, 1, 0, ""},
      {"four 503s", L"/control?fail=503&fails=4", false, 4, {}, 1, 0, "refused 503"},
      {"404", L"/control?fail=404", false, 1, {}, 1, 0, "refused 404"},
      {"403", L"/control?fail=403", false, 1, {}, 1, 0, "refused 403"},
      {"408", L"/control?fail=408", true, 2, {}, 1, 0, ""},
      {"429 with Retry-After: 2 s, not our 1 s", L"/control?fail=429&retry_after=2", true, 2, {}, 100, 1900, ""},
      {"429 asking for an hour", L"/control?fail=429&retry_after=3600", false, 1, {}, 1, 0, "refused 429"},
      {"connection reset", L"/control?cut=100000&reset=1", true, 2,
       {L"Connection lost; trying again (1 of 3)\u2026"}, 1, 0, ""},
      {"the full pauses: 1 and 4 s", L"/control?fail=500&fails=2", true, 3, {}, 100, 4900, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(server.get(L"/control?clear=1"));
    ASSERT_TRUE(server.get(c.control));
    server.forget_log();
    quick(c.pause_percent);
    Listener listener;
    TransferResult result;
    DWORD start = GetTickCount();
    bool ok = fetch(L"/pattern/300000", &listener, &result);
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(ok, c.ok) << "failure " << result.failure << ", code " << result.code;
    EXPECT_EQ(server.log().size(), c.requests);
    for (const std::wstring& stage : c.stages) EXPECT_TRUE(listener.saw(stage)) << narrow(stage);
    EXPECT_GE(took, c.at_least_ms);
    if (c.ok) {
      EXPECT_TRUE(read_bytes(destination_) == pattern(0, 300000));
    } else {
      EXPECT_EQ("refused " + std::to_string(result.code), c.failure);
      EXPECT_EQ(result.failure, TRANSFER_REFUSED);
      expect_nothing_left();
    }
    DeleteFileW(destination_.c_str());
  }
}

// Headers that come a byte a second would take over a minute; a body that
// brings a byte now and then would hold the download for ever. Both are cut
// off (limits shortened here: 2 s for the headers, 1 KiB per 2 s for the
// body), counted as time-outs and retried, then fail.
TEST_F(ResumeTest, TrickleIsCutOffByTheOverallLimits) {
  const struct {
    const char* name;
    const wchar_t* path;
    TransferFailure failure;
  } cases[] = {
      {"headers", L"/trickle-headers", TRANSFER_NO_CONNECTION},
      {"body", L"/trickle-body/100000", TRANSFER_INTERRUPTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DownloadLimits limits = DOWNLOAD_LIMITS_DEFAULT;
    limits.headers_ms = 2000;
    limits.stall_window_ms = 2000;
    limits.stall_min_bytes = 1024;
    limits.pause_percent = 1;
    set_download_limits(&limits);
    server.forget_log();
    Listener listener;
    TransferResult result;
    DWORD start = GetTickCount();
    EXPECT_FALSE(fetch(c.path, &listener, &result));
    DWORD took = GetTickCount() - start;
    printf("%s trickle: failed after %lu ms\n", c.name, took);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.code, 12002u) << "a time-out";
    EXPECT_LT(took, 4 * 2000u + 3000u) << "four attempts of 2 s and short pauses";
    EXPECT_TRUE(listener.saw(L"Connection lost; trying again (3 of 3)\u2026"));
    EXPECT_EQ(server.log().size(), 4u);
  }
}

struct CancelRun {
  FlakyServer* server;
  std::wstring url;
  std::wstring destination;
  Listener listener;
  TransferResult result;
  bool ok;
};

DWORD WINAPI run_download(void* context) {
  CancelRun* run = (CancelRun*)context;
  TransferProgress progress = {heard, cancelled, &run->listener, L"the kit"};
  run->ok = download_file(run->url.c_str(), run->destination.c_str(), DOWNLOAD_ARCHIVE_LIMIT, NULL, NULL, &progress,
                          &run->result);
  return 0;
}

// The cancel comes from another thread, as the window's does, while the
// download waits: for a connection (a port whose backlog is full), for the
// headers of a server that accepted and says nothing, for headers that
// trickle, for a body that has stopped. Each must end within a second.
TEST_F(ResumeTest, ACancelEndsEveryWaitWithinASecond) {
  FlakyServer deaf;
  ASSERT_TRUE(deaf.start("deaf", "", "--never-accept --idle-seconds 40"));
  const struct {
    const char* name;
    std::wstring url;
  } cases[] = {
      {"connect never accepted", deaf.url(L"/kit.zip")},
      {"accepted, never answered", server.url(L"/silent")},
      {"headers trickle", server.url(L"/trickle-headers")},
      {"body stalled", server.url(L"/trickle-body/100000")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CancelRun run;
    run.server = &server;
    run.url = c.url;
    run.destination = destination_;
    run.ok = true;
    HANDLE thread = CreateThread(NULL, 0, run_download, &run, 0, NULL);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 1500), (DWORD)WAIT_TIMEOUT) << "the download did not wait";
    DWORD asked = GetTickCount();
    InterlockedExchange(&run.listener.cancel, 1);
    DWORD waited = WaitForSingleObject(thread, 10000);
    DWORD latency = GetTickCount() - asked;
    CloseHandle(thread);
    ASSERT_EQ(waited, (DWORD)WAIT_OBJECT_0);
    printf("cancel while %s: %lu ms\n", c.name, latency);
    EXPECT_LT(latency, 1000u);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.result.failure, TRANSFER_CANCELLED);
    EXPECT_FALSE(exists(destination_));
  }
  // A cancel ends a pause before a retry as well.
  ASSERT_TRUE(server.get(L"/control?fail=503&fails=2"));
  quick(100);
  CancelRun run;
  run.url = server.url(L"/pattern/1000");
  run.destination = destination_;
  run.ok = true;
  HANDLE thread = CreateThread(NULL, 0, run_download, &run, 0, NULL);
  ASSERT_NE(thread, nullptr);
  Sleep(700);  // inside the first pause of 1 s
  DWORD asked = GetTickCount();
  InterlockedExchange(&run.listener.cancel, 1);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), (DWORD)WAIT_OBJECT_0);
  DWORD latency = GetTickCount() - asked;
  CloseHandle(thread);
  printf("cancel during a pause: %lu ms\n", latency);
  EXPECT_LT(latency, 1000u);
  EXPECT_EQ(run.result.failure, TRANSFER_CANCELLED);
  EXPECT_TRUE(run.listener.saw(L"The server is busy; trying again (1 of 3)\u2026"));
}

}  // namespace
