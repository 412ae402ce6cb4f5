// libFuzzer target for the deflate decoder. The first four bytes choose the
// output capacity (below 1 MiB); the rest is the stream. A decode that
// succeeds is repeated and must give the same bytes (the fixed tables are
// built once and the dynamic ones rebuilt per block, so nothing may leak
// from one call into the next). The sanitizers catch any access outside the
// two buffers, which are allocated at their exact sizes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t capacity = ((uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16) & 0xFFFFF;
  if (data[3] & 1) capacity &= 0xFFF;  // keep many cases small and fast
  const uint8_t* stream_bytes = data + 4;
  uint32_t stream_length = (uint32_t)(size - 4);
  // The stream in a block of its own exact size, so a read past its end is caught.
  uint8_t* stream = (uint8_t*)malloc(stream_length ? stream_length : 1);
  memcpy(stream, stream_bytes, stream_length);
  uint8_t* first = (uint8_t*)malloc(capacity ? capacity : 1);
  uint8_t* second = (uint8_t*)malloc(capacity ? capacity : 1);
  bool ok = inflate_raw(stream, stream_length, first, capacity);
  if (ok) {
    if (!inflate_raw(stream, stream_length, second, capacity) || memcmp(first, second, capacity) != 0) abort();
  }
  free(second);
  free(first);
  free(stream);
  return 0;
}
