// What is retried and after how long, the smoothed speed and time left, and
// the stall rule, with the tick counter's wrap-around.
#include <gtest/gtest.h>

#include "transfer/retry_pace.h"

namespace {

TEST(RetryPace, OnlyNotNowAnswersAndBrokenConnectionsAreRetried) {
  const struct {
    uint32_t status;
    bool transient;
  } statuses[] = {{200, false}, {206, false}, {400, false}, {403, false}, {404, false}, {410, false}, {416, false},
                  {408, true},  {429, true},  {500, true},  {502, true},  {503, true},  {504, true},  {599, true},
                  {600, false}};
  for (const auto& s : statuses) EXPECT_EQ(status_is_transient(s.status), s.transient) << s.status;
  const struct {
    uint32_t error;
    bool transient;
  } errors[] = {{12002, true},  {12029, true},  {12030, true},  {12152, true},  {10053, true},
                {10054, true},  {10060, true},  {10061, true},  {12005, false}, {12006, false},
                {12007, false}, {12045, false}, {12175, false}, {10013, false}, {0, false}};
  for (const auto& e : errors) EXPECT_EQ(network_error_is_transient(e.error), e.transient) << e.error;
}

TEST(RetryPace, PausesGrowAndAServerMayAskForLonger) {
  const struct {
    int retry;
    uint32_t retry_after_s;
    uint32_t pause_ms;
  } cases[] = {
      {1, 0, 1000}, {2, 0, 4000}, {3, 0, 10000},
      {1, 3, 3000},    // the server's wait, longer than ours
      {3, 2, 10000},   // shorter than ours: ours
      {0, 0, 1000}, {9, 0, 10000},  // out of range: the nearest
  };
  for (const auto& c : cases)
    EXPECT_EQ(retry_pause_ms(c.retry, c.retry_after_s), c.pause_ms) << c.retry << " " << c.retry_after_s;
}

TEST(RetryPace, RetryAfterReadsOnlyDelaySeconds) {
  const struct {
    const char* text;
    uint32_t seconds;
  } cases[] = {{"3", 3}, {" 120 ", 120}, {"0", 0}, {"", 0}, {"-5", 0}, {"2.5", 0},
               {"Fri, 11 Dec 2026 18:00:00 GMT", 0}, {"99999999999999999999999", 86400}};
  for (const auto& c : cases) EXPECT_EQ(parse_retry_after(c.text), c.seconds) << c.text;
}

TEST(RetryPace, SpeedIsShownAfterASecondAndSmoothed) {
  RateMeter meter;
  const uint32_t start = 0xFFFFFC00u;  // the tick counter wraps during the body
  rate_start(&meter, start, 1000);
  rate_update(&meter, start + 400, 1000 + 400000);  // too short a sample: not taken
  EXPECT_FALSE(rate_ready(&meter, start + 400));
  rate_update(&meter, start + 500, 1000 + 1000000);  // 2 MB/s
  EXPECT_DOUBLE_EQ(meter.bytes_per_s, 2000000.0);
  EXPECT_FALSE(rate_ready(&meter, start + 999)) << "not before a second";
  EXPECT_TRUE(rate_ready(&meter, start + 1000));
  // A burst at 10 MB/s moves the figure only part of the way.
  rate_update(&meter, start + 1000, 1000 + 1000000 + 5000000);
  EXPECT_GT(meter.bytes_per_s, 2000000.0);
  EXPECT_LT(meter.bytes_per_s, 5000000.0);
  double shown = meter.bytes_per_s;
  EXPECT_EQ(rate_seconds_left(&meter, (uint64_t)(shown * 9)), 9u);
  EXPECT_EQ(rate_seconds_left(&meter, (uint64_t)(shown * 9) + 1), 10u) << "rounded up";
  RateMeter idle;
  rate_start(&idle, 0, 0);
  EXPECT_EQ(rate_seconds_left(&idle, 100), 0u) << "no speed, no estimate";
}

TEST(RetryPace, ABodyThatTricklesStalls) {
  StallWatch watch;
  const uint32_t start = 0xFFFFF000u;
  stall_start(&watch, 30000, 1024, start, 0);
  // A byte every 29 s never fills a window.
  uint64_t bytes = 0;
  uint32_t now = start;
  for (int i = 0; i < 2; i++) {
    now += 29000;
    bytes += 1;
    stall_update(&watch, now, bytes);
  }
  EXPECT_TRUE(stall_expired(&watch, now)) << "58 s and 2 bytes";
  // A steady slow body keeps its window open.
  stall_start(&watch, 30000, 1024, start, 0);
  for (now = start, bytes = 0; now - start < 120000; now += 10000) {
    bytes += 512;
    stall_update(&watch, now, bytes);
    EXPECT_FALSE(stall_expired(&watch, now)) << (now - start);
  }
}

}  // namespace
