// The pace of a download over a bad network: which failures are worth another
// attempt and how long to wait before it, how fast the body comes (smoothed,
// for the stage text) and when a body comes so slowly that it counts as
// stalled. Numbers in, numbers out; times are milliseconds of a tick counter
// that may wrap, bytes are counts. No Windows header.
#pragma once
#include <stdint.h>

enum {
  RETRY_ATTEMPTS = 3,               // retries after the first attempt
  RETRY_AFTER_LONGEST_S = 60,       // a server asking for a longer wait is not waited for
  RATE_SHOWN_AFTER_MS = 1000,       // no speed before the body has run this long
  RATE_SAMPLE_MS = 500,             // the shown speed changes at most this often
};

// The pause before retry number `retry` (1 to RETRY_ATTEMPTS): 1, 4 and 10 s,
// or the server's Retry-After when it asks for longer (retry_after_s 0: none).
uint32_t retry_pause_ms(int retry, uint32_t retry_after_s);

// True for the answers that say "not now" rather than "no": 408, 429 and
// every 5xx.
bool status_is_transient(uint32_t status);

// True for the WinHTTP errors of a network that failed on the way (time-out,
// no connection, connection broken, an answer cut off) rather than an address
// or a certificate that will fail again.
bool network_error_is_transient(uint32_t error);

// Retry-After as delta-seconds (RFC 9110, 10.2.3); 0 for a date, anything
// else or none (the usual pause is used then). Values above a day read as a day.
uint32_t parse_retry_after(const char* text);

// The body's speed, smoothed so that the shown figure does not jump with
// every chunk: an exponential average of the rate over samples of at least
// RATE_SAMPLE_MS.
struct RateMeter {
  uint32_t started_ms;     // when the body began
  uint32_t sample_ms;      // when the current sample began
  uint64_t sample_bytes;   // bytes received when it began
  double bytes_per_s;      // smoothed speed, 0 until the first sample ends
};

void rate_start(RateMeter* meter, uint32_t now_ms, uint64_t bytes);
// Feeds the bytes received so far.
void rate_update(RateMeter* meter, uint32_t now_ms, uint64_t bytes);
// True once the body has run RATE_SHOWN_AFTER_MS and a speed is known.
bool rate_ready(const RateMeter* meter, uint32_t now_ms);
// Whole seconds left for remaining bytes at the smoothed speed, rounded up.
uint32_t rate_seconds_left(const RateMeter* meter, uint64_t remaining);

// A body that must bring at least min_bytes in every window_ms, or it counts
// as stalled (a server that trickles a byte now and then would otherwise hold
// the download for ever: the platform's time-out applies to each receive).
struct StallWatch {
  uint32_t window_ms;      // the window
  uint64_t min_bytes;      // what each window must bring
  uint32_t since_ms;       // when the current window began
  uint64_t since_bytes;    // bytes received when it began
};

void stall_start(StallWatch* watch, uint32_t window_ms, uint64_t min_bytes, uint32_t now_ms, uint64_t bytes);
// Feeds the bytes received so far; a window that brought enough starts anew.
void stall_update(StallWatch* watch, uint32_t now_ms, uint64_t bytes);
// True when the current window has run out without bringing enough.
bool stall_expired(const StallWatch* watch, uint32_t now_ms);
