// Deflate writer for the tests; see deflate_writer.h.
#include "deflate_writer.h"

static const int LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const int LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const int DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                  193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const int DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const int CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void BitWriter::bits(uint32_t value, int count) {
  for (int i = 0; i < count; i++) {
    pending |= ((value >> i) & 1) << pending_count;
    if (++pending_count == 8) {
      out.push_back((char)pending);
      pending = 0;
      pending_count = 0;
    }
  }
}

void BitWriter::code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; i--) bits((code >> i) & 1, 1);
}

void BitWriter::align() {
  if (pending_count) bits(0, 8 - pending_count);
}

void BitWriter::raw(const std::string& bytes) {
  align();
  out += bytes;
}

std::string BitWriter::finish() {
  align();
  return out;
}

void stored_block(BitWriter& w, bool final, const std::string& data, int nlen) {
  w.bits(final ? 1 : 0, 1);
  w.bits(0, 2);
  w.align();
  uint32_t len = (uint32_t)data.size();
  uint32_t n = nlen < 0 ? (~len & 0xFFFF) : (uint32_t)nlen;
  w.bits(len, 16);
  w.bits(n, 16);
  w.raw(data);
}

void fixed_symbol(BitWriter& w, int symbol) {
  if (symbol < 144) w.code(0x30 + symbol, 8);
  else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
  else if (symbol < 280) w.code(symbol - 256, 7);
  else w.code(0xC0 + symbol - 280, 8);
}

void fixed_match(BitWriter& w, int length, int distance) {
  int l = 28;
  while (LENGTH_BASE[l] > length) l--;
  fixed_symbol(w, 257 + l);
  w.bits(length - LENGTH_BASE[l], LENGTH_EXTRA[l]);
  int d = 29;
  while (DIST_BASE[d] > distance) d--;
  w.code(d, 5);
  w.bits(distance - DIST_BASE[d], DIST_EXTRA[d]);
}

std::vector<uint32_t> canonical_codes(const std::vector<int>& lengths) {
  int count[16] = {0};
  for (int l : lengths) count[l]++;
  count[0] = 0;
  uint32_t next[16] = {0};
  uint32_t code = 0;
  for (int bits = 1; bits < 16; bits++) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); s++)
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  return codes;
}

DynamicCodes dynamic_header(BitWriter& w, bool final, const std::vector<int>& litlen_lengths,
                            const std::vector<int>& dist_lengths) {
  w.bits(final ? 1 : 0, 1);
  w.bits(2, 2);
  w.bits((uint32_t)litlen_lengths.size() - 257, 5);
  w.bits((uint32_t)dist_lengths.size() - 1, 5);
  w.bits(19 - 4, 4);
  for (int i = 0; i < 19; i++) w.bits(CODE_LENGTH_ORDER[i] < 16 ? 4 : 0, 3);
  // Sixteen 4-bit codes: the code of length value v is v itself.
  for (int l : litlen_lengths) w.code(l, 4);
  for (int l : dist_lengths) w.code(l, 4);
  DynamicCodes codes;
  codes.litlen_lengths = litlen_lengths;
  codes.dist_lengths = dist_lengths;
  codes.litlen_codes = canonical_codes(litlen_lengths);
  codes.dist_codes = canonical_codes(dist_lengths);
  return codes;
}
