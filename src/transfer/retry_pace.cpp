// Retries, speed and stalls of a download; see retry_pace.h.
#include "transfer/retry_pace.h"

static const uint32_t RETRY_PAUSES_MS[RETRY_ATTEMPTS] = {1000, 4000, 10000};
static const uint32_t DAY_S = 86400;
static const double RATE_WEIGHT = 0.3;  // the newest sample's share of the shown speed

uint32_t retry_pause_ms(int retry, uint32_t retry_after_s) {
  if (retry < 1) retry = 1;
  if (retry > RETRY_ATTEMPTS) retry = RETRY_ATTEMPTS;
  uint32_t pause = RETRY_PAUSES_MS[retry - 1];
  if (retry_after_s > DAY_S) retry_after_s = DAY_S;
  return retry_after_s * 1000u > pause ? retry_after_s * 1000u : pause;
}

bool status_is_transient(uint32_t status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

bool network_error_is_transient(uint32_t error) {
  switch (error) {
    case 12002:  // ERROR_WINHTTP_TIMEOUT
    case 12029:  // ERROR_WINHTTP_CANNOT_CONNECT (refused, unreachable)
    case 12030:  // ERROR_WINHTTP_CONNECTION_ERROR (reset, broken)
    case 12152:  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE (an answer cut off in its headers)
    // Some stacks (Wine's among them) pass the socket's own error on.
    case 10053:  // WSAECONNABORTED
    case 10054:  // WSAECONNRESET
    case 10060:  // WSAETIMEDOUT
    case 10061:  // WSAECONNREFUSED
      return true;
    default:
      return false;
  }
}

uint32_t parse_retry_after(const char* text) {
  while (*text == ' ' || *text == '\t') text++;
  uint64_t value = 0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    if (value <= DAY_S) value = value * 10 + (uint64_t)(*text - '0');
    digits++;
  }
  while (*text == ' ' || *text == '\t') text++;
  if (digits == 0 || *text) return 0;
  return value > DAY_S ? DAY_S : (uint32_t)value;
}

void rate_start(RateMeter* meter, uint32_t now_ms, uint64_t bytes) {
  meter->started_ms = now_ms;
  meter->sample_ms = now_ms;
  meter->sample_bytes = bytes;
  meter->bytes_per_s = 0.0;
}

void rate_update(RateMeter* meter, uint32_t now_ms, uint64_t bytes) {
  uint32_t elapsed = now_ms - meter->sample_ms;  // unsigned: a wrapped counter still gives the span
  if (elapsed < RATE_SAMPLE_MS) return;
  double rate = (double)(bytes - meter->sample_bytes) * 1000.0 / (double)elapsed;
  meter->bytes_per_s = meter->bytes_per_s > 0.0 ? meter->bytes_per_s + RATE_WEIGHT * (rate - meter->bytes_per_s) : rate;
  meter->sample_ms = now_ms;
  meter->sample_bytes = bytes;
}

bool rate_ready(const RateMeter* meter, uint32_t now_ms) {
  return now_ms - meter->started_ms >= RATE_SHOWN_AFTER_MS && meter->bytes_per_s > 0.0;
}

uint32_t rate_seconds_left(const RateMeter* meter, uint64_t remaining) {
  if (meter->bytes_per_s <= 0.0) return 0;
  double seconds = (double)remaining / meter->bytes_per_s;
  if (seconds > 4e9) return 4000000000u;
  uint32_t whole = (uint32_t)seconds;
  return (double)whole < seconds ? whole + 1 : whole;
}

void stall_start(StallWatch* watch, uint32_t window_ms, uint64_t min_bytes, uint32_t now_ms, uint64_t bytes) {
  watch->window_ms = window_ms;
  watch->min_bytes = min_bytes;
  watch->since_ms = now_ms;
  watch->since_bytes = bytes;
}

void stall_update(StallWatch* watch, uint32_t now_ms, uint64_t bytes) {
  if (bytes - watch->since_bytes < watch->min_bytes) return;
  watch->since_ms = now_ms;
  watch->since_bytes = bytes;
}

bool stall_expired(const StallWatch* watch, uint32_t now_ms) { return now_ms - watch->since_ms > watch->window_ms; }
