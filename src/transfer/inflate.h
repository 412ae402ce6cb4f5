// Raw deflate (RFC 1951) decoder over memory, into an output buffer of the
// exact expected size. Byte-level: no Windows header, no allocation.
#pragma once
#include <stdint.h>

// True only when every block up to the final one decoded and exactly
// output_capacity bytes were produced.
bool inflate_raw(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity);
