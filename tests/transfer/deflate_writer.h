// A small deflate writer for the tests: hand-made streams with exactly the
// blocks, codes and faults a test needs (RFC 1951 bit order).
#pragma once
#include <stdint.h>
#include <string>
#include <vector>

struct BitWriter {
  std::string out;
  uint32_t pending = 0;  // bits not yet a whole byte
  int pending_count = 0;

  // Value bits, least significant first (header fields, extra bits).
  void bits(uint32_t value, int count);
  // A Huffman code, most significant bit first.
  void code(uint32_t code, int length);
  // Pads to the byte boundary with zero bits.
  void align();
  // align() then the bytes as they are.
  void raw(const std::string& bytes);
  std::string finish();
};

// A stored block: header bits, alignment, LEN, NLEN (the complement unless
// given) and the data.
void stored_block(BitWriter& w, bool final, const std::string& data, int nlen = -1);

// Fixed-code symbols (RFC 1951 3.2.6); the block header is the caller's.
void fixed_symbol(BitWriter& w, int symbol);
// A match of length 3..258 at distance 1..32768 with fixed codes.
void fixed_match(BitWriter& w, int length, int distance);

// Canonical codes for a set of lengths (RFC 1951 3.2.2).
std::vector<uint32_t> canonical_codes(const std::vector<int>& lengths);

// The header of a dynamic block whose literal/length and distance lengths are
// sent one code-length symbol each (no repeats) with a complete code-length
// code of 4-bit codes for 0..15. Returns the codes of both alphabets.
struct DynamicCodes {
  std::vector<int> litlen_lengths, dist_lengths;
  std::vector<uint32_t> litlen_codes, dist_codes;
};
DynamicCodes dynamic_header(BitWriter& w, bool final, const std::vector<int>& litlen_lengths,
                            const std::vector<int>& dist_lengths);
