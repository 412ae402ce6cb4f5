// libFuzzer target for the deflate decoder. The first four bytes choose the
// output capacity (below 1 MiB); the rest is the stream. A decode that
// succeeds is repeated and must give the same bytes (the fixed tables are
// built once and the dynamic ones rebuilt per block, so nothing may leak
// from one call into the next). The sanitizers catch any access outside the
// two buffers, which are allocated at their exact sizes.
//
// Where zlib is at hand (TELVAR_FUZZ_ZLIB), it is the reference: a stream
// that zlib decodes to its end must decode here too, to the same bytes. The
// other direction does not hold: this decoder accepts what zlib refuses on
// purpose (a stored block's NLEN is not compared, incomplete codes pass).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "transfer/inflate.h"

#ifdef TELVAR_FUZZ_ZLIB
#include <zlib.h>

// zlib's raw inflate of the whole stream; true when it reached the end of the
// final block, with the output in out (at most capacity bytes) and its size.
static bool zlib_decode(const uint8_t* stream, uint32_t length, uint8_t* out, uint32_t capacity, uint32_t* size) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) abort();
  z.next_in = (Bytef*)stream;
  z.avail_in = length;
  z.next_out = out;
  z.avail_out = capacity;
  int result = inflate(&z, Z_FINISH);
  *size = capacity - z.avail_out;
  inflateEnd(&z);
  return result == Z_STREAM_END;
}
#endif

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
#ifdef TELVAR_FUZZ_ZLIB
  // Whatever size zlib finds is the capacity given to this decoder.
  static uint8_t reference[1u << 20];
  uint32_t reference_size = 0;
  if (zlib_decode(stream, stream_length, reference, sizeof reference, &reference_size)) {
    uint8_t* ours = (uint8_t*)malloc(reference_size ? reference_size : 1);
    if (!inflate_raw(stream, stream_length, ours, reference_size) || memcmp(ours, reference, reference_size) != 0)
      abort();
    free(ours);
  }
#endif
  free(second);
  free(first);
  free(stream);
  return 0;
}
