// libFuzzer target that holds the deflate decoder's table-driven fast path
// against its plain bit-at-a-time decoding, the reference. The input is laid
// out as for fuzz_inflate: the first four bytes choose the output capacity
// (below 1 MiB), the rest is the stream. Both decoders run on the same stream
// into buffers filled alike beforehand; they must agree on everything they
// can be seen to do: the result, the bytes written (and where they stopped),
// the input bits taken, and every byte of the buffer, written or not.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t capacity = ((uint32_t)data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16) & 0xFFFFF;
  if (data[3] & 1) capacity &= 0xFFF;  // keep many cases small and fast
  const uint8_t fill = data[3];
  uint32_t stream_length = (uint32_t)(size - 4);
  // The stream in a block of its own exact size, so a read past its end is caught.
  uint8_t* stream = (uint8_t*)malloc(stream_length ? stream_length : 1);
  memcpy(stream, data + 4, stream_length);
  uint8_t* fast = (uint8_t*)malloc(capacity ? capacity : 1);
  uint8_t* reference = (uint8_t*)malloc(capacity ? capacity : 1);
  memset(fast, fill, capacity);
  memset(reference, fill, capacity);

  InflateOutcome a = inflate_run(stream, stream_length, fast, capacity, INFLATE_FAST);
  InflateOutcome b = inflate_run(stream, stream_length, reference, capacity, INFLATE_REFERENCE);
  if (a.ok != b.ok || a.output_count != b.output_count || a.input_bits != b.input_bits ||
      memcmp(fast, reference, capacity) != 0) {
    fprintf(stderr, "disagreement: fast ok=%d wrote %u took %u bits; reference ok=%d wrote %u took %u bits\n",
            a.ok, a.output_count, a.input_bits, b.ok, b.output_count, b.input_bits);
    abort();
  }
  free(reference);
  free(fast);
  free(stream);
  return 0;
}
