// Raw deflate (RFC 1951) decoder over memory, into an output buffer of the
// exact expected size. Byte-level: no Windows header, no allocation.
#pragma once
#include <stdint.h>

// True only when every block up to the final one decoded and exactly
// output_capacity bytes were produced.
bool inflate_raw(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity);

// The two ways the decoder can take Huffman codes: the table-driven fast path
// that inflate_raw uses, and the plain bit-at-a-time decoding it falls back
// to near the ends of the buffers. The plain one stays the reference that the
// fast path must agree with on every input.
enum InflateDecoder { INFLATE_FAST, INFLATE_REFERENCE };

// What one decode did: the result, the bytes written (on failure: before it
// stopped) and the input bits taken (bits loaded ahead and not used are not
// counted; when the input ran out, all of it).
struct InflateOutcome {
  bool ok;                // as inflate_raw's result
  uint32_t output_count;  // bytes written to the output
  uint32_t input_bits;    // input bits taken
};

// inflate_raw with the chosen decoder, telling what it did; for tests that
// hold the two decoders against each other.
InflateOutcome inflate_run(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity,
                           InflateDecoder decoder);
