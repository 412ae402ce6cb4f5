// Raw deflate decoder (RFC 1951) over memory; see inflate.h.
//
// What it does: decodes stored, fixed-code and dynamic-code blocks into an
// output buffer whose exact size the caller knows (a zip entry's uncompressed
// size). The whole output is in memory, so the output itself is the history
// that back-references copy from: there is no sliding window.
//
// What it refuses: every fault in the stream is a plain false result, never a
// crash or a read or write outside the two buffers: input that runs out, block
// type 3, stored blocks that do not fit, bad code counts, incomplete or
// over-subscribed code-length codes, over-subscribed literal/length or
// distance codes, codes with no symbol, symbols 286/287 and distance symbols
// 30/31, distances before the first output byte, and output that does not end
// exactly at the capacity.
//
// Memory: nothing is allocated. Huffman codes are kept in counted form (how
// many codes of each length, and the symbols in code order) in static tables:
// the fixed tables are built once per process, the dynamic ones for every
// dynamic block. Being static, they allow one decode at a time.
#include "transfer/inflate.h"

#include <string.h>

enum {
  INFLATE_MAX_BITS = 15,         // longest code (RFC 1951 3.2.7)
  INFLATE_MAX_LITLEN = 288,      // literal/length alphabet, fixed block size
  INFLATE_MAX_DIST = 30,         // distance alphabet
  INFLATE_MAX_CODELEN = 19,      // code-length alphabet
  INFLATE_DYNAMIC_LITLEN = 286,  // most literal/length codes a dynamic block may declare
  INFLATE_FIXED_LITLEN = 288,    // the fixed literal/length lengths include 286 and 287
  INFLATE_END_OF_BLOCK = 256,
};

struct InflateState {
  const uint8_t* input;     // first input byte
  uint32_t input_length;    // input bytes
  uint32_t input_position;  // next byte to load into bit_buffer
  uint32_t bit_buffer;      // bits not yet consumed, next bit lowest
  int32_t bit_count;        // valid bits in bit_buffer
  uint8_t* output;          // output buffer, also the history
  uint32_t output_capacity; // expected output size
  uint32_t output_count;    // bytes written so far
  int32_t exhausted;        // a bit was missing or no code matched: the decode fails
};

struct HuffmanTable {
  int16_t* count;   // count[n]: symbols with an n-bit code; count[0]: symbols with none
  int16_t* symbol;  // coded symbols ordered by code length, then by value
};

// Static storage for the codes: fixed ones built once, dynamic ones per block.
static int16_t fixed_litlen_count[INFLATE_MAX_BITS + 1], fixed_litlen_symbol[INFLATE_MAX_LITLEN];
static int16_t fixed_dist_count[INFLATE_MAX_BITS + 1], fixed_dist_symbol[INFLATE_MAX_DIST];
static int16_t dynamic_litlen_count[INFLATE_MAX_BITS + 1], dynamic_litlen_symbol[INFLATE_MAX_LITLEN];
static int16_t dynamic_dist_count[INFLATE_MAX_BITS + 1], dynamic_dist_symbol[INFLATE_MAX_DIST];
static HuffmanTable fixed_litlen = {fixed_litlen_count, fixed_litlen_symbol};
static HuffmanTable fixed_dist = {fixed_dist_count, fixed_dist_symbol};
static HuffmanTable dynamic_litlen = {dynamic_litlen_count, dynamic_litlen_symbol};
static HuffmanTable dynamic_dist = {dynamic_dist_count, dynamic_dist_symbol};
static bool fixed_tables_built;

// RFC 1951 3.2.5: base lengths and extra bits of symbols 257..285, base
// distances and extra bits of distance symbols 0..29.
static const uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint16_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                       193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint16_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// RFC 1951 3.2.7: the order in which the code-length code's lengths arrive.
static const uint8_t CODE_LENGTH_ORDER[INFLATE_MAX_CODELEN] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

// Loads whole input bytes above the valid bits while there is room for a
// whole byte. Loading ahead changes nothing the stream means: a stored block
// gives the unused whole bytes back (inflate_stored), and bytes after the
// final block are never looked at.
static inline void fill_bits(InflateState* s) {
  while (s->bit_count <= 24 && s->input_position < s->input_length) {
    s->bit_buffer |= (uint32_t)s->input[s->input_position++] << s->bit_count;
    s->bit_count += 8;
  }
}

// Reads n bits (1 to 13), least significant first (RFC 1951 3.1.1). When the
// input cannot supply them, the missing bits read as 0 and exhausted is set,
// so the decode fails at its next check.
static inline uint32_t read_bits(InflateState* s, int n) {
  if (s->bit_count < n) {
    fill_bits(s);
    if (s->bit_count < n) {
      s->exhausted = 1;
      uint32_t value = s->bit_buffer;
      s->bit_buffer = 0;
      s->bit_count = 0;
      return value;  // only the bits that were there; the rest are 0
    }
  }
  uint32_t value = s->bit_buffer & ((1u << n) - 1);
  s->bit_buffer >>= n;
  s->bit_count -= n;
  return value;
}

// Builds a counted table from n code lengths (each 0..15). Returns 0 for a
// complete code (or one with no codes at all), a positive number for an
// incomplete one and a negative number for an over-subscribed one.
static int build_table(HuffmanTable* h, const int16_t* length, int n) {
  for (int len = 0; len <= INFLATE_MAX_BITS; len++) h->count[len] = 0;
  for (int s = 0; s < n; s++) h->count[length[s]]++;
  if (h->count[0] == n) return 0;  // no codes: any decode with it fails

  int left = 1;  // codes of the current length still unused
  for (int len = 1; len <= INFLATE_MAX_BITS; len++) {
    left = 2 * left - h->count[len];
    if (left < 0) return left;
  }
  int16_t offs[INFLATE_MAX_BITS + 1];
  offs[1] = 0;
  for (int len = 1; len < INFLATE_MAX_BITS; len++) offs[len + 1] = (int16_t)(offs[len] + h->count[len]);
  for (int s = 0; s < n; s++)
    if (length[s] != 0) h->symbol[offs[length[s]]++] = (int16_t)s;
  return left;
}

// Decodes one symbol. Canonical codes arrive most significant bit first, so
// the code is grown one bit at a time and compared with the first code of
// each length. The bits are taken straight from bit_buffer, which holds at
// least 15 of them unless the input is nearly used up; only then does the
// slow path read bit by bit. Returns -1 when no code matches within 15 bits
// or a bit was missing.
static inline int decode_symbol(InflateState* s, const HuffmanTable* h) {
  if (s->bit_count < INFLATE_MAX_BITS) fill_bits(s);
  uint32_t bits = s->bit_buffer;
  int available = s->bit_count < INFLATE_MAX_BITS ? s->bit_count : INFLATE_MAX_BITS;
  int code = 0, first = 0, index = 0;
  const int16_t* count = h->count;
  for (int len = 1; len <= available; len++) {
    code |= (int)(bits & 1);
    bits >>= 1;
    int k = count[len];
    if (code - k < first) {
      s->bit_buffer >>= len;
      s->bit_count -= len;
      return h->symbol[index + code - first];
    }
    index += k;
    first = (first + k) << 1;
    code <<= 1;
  }
  // The input ran out before a code matched (a full 15 bits were present only
  // if the code has no symbol). Either way the decode fails.
  s->exhausted = 1;
  return -1;
}

// Decodes literal/length and distance symbols until the end of the block.
static bool inflate_codes(InflateState* s, const HuffmanTable* litlen, const HuffmanTable* dist) {
  uint8_t* out = s->output;
  for (;;) {
    int symbol = decode_symbol(s, litlen);
    if (symbol < 0 || s->exhausted) return false;
    if (symbol < 256) {  // a literal byte
      if (s->output_count == s->output_capacity) return false;
      out[s->output_count++] = (uint8_t)symbol;
      continue;
    }
    if (symbol == INFLATE_END_OF_BLOCK) return true;

    symbol -= 257;  // a length: 257..285; 286 and 287 never occur in valid data
    if (symbol >= 29) return false;
    uint32_t length = LENGTH_BASE[symbol] + read_bits(s, LENGTH_EXTRA[symbol]);
    int dsym = decode_symbol(s, dist);
    if (dsym < 0 || dsym >= 30) return false;
    uint32_t distance = DIST_BASE[dsym] + read_bits(s, DIST_EXTRA[dsym]);
    if (s->exhausted) return false;
    if (distance > s->output_count) return false;                        // before the first byte
    if (length > s->output_capacity - s->output_count) return false;     // beyond the capacity

    // Byte by byte when the source overlaps the bytes being written, so that
    // a distance shorter than the length repeats the most recent bytes.
    uint8_t* to = out + s->output_count;
    const uint8_t* from = to - distance;
    if (distance >= length) {
      memcpy(to, from, length);
    } else {
      for (uint32_t i = 0; i < length; i++) to[i] = from[i];
    }
    s->output_count += length;
  }
}

// BTYPE 00 (RFC 1951 3.2.4): LEN, NLEN, then LEN bytes copied as they are.
// NLEN is not compared with LEN.
static bool inflate_stored(InflateState* s) {
  // Drop the partial byte; whole bytes loaded ahead go back to the input.
  s->input_position -= (uint32_t)(s->bit_count / 8);
  s->bit_buffer = 0;
  s->bit_count = 0;

  if (s->input_length - s->input_position < 4) return false;
  const uint8_t* p = s->input + s->input_position;
  uint32_t len = (uint32_t)p[0] | (uint32_t)p[1] << 8;
  if (s->input_length - s->input_position - 4 < len) return false;
  if (len > s->output_capacity - s->output_count) return false;
  memcpy(s->output + s->output_count, p + 4, len);
  s->input_position += 4 + len;
  s->output_count += len;
  return true;
}

// BTYPE 01 (RFC 1951 3.2.6): the fixed codes, built on first use.
static bool inflate_fixed(InflateState* s) {
  if (!fixed_tables_built) {
    int16_t lengths[INFLATE_FIXED_LITLEN];
    int sym = 0;
    for (; sym < 144; sym++) lengths[sym] = 8;
    for (; sym < 256; sym++) lengths[sym] = 9;
    for (; sym < 280; sym++) lengths[sym] = 7;
    for (; sym < INFLATE_FIXED_LITLEN; sym++) lengths[sym] = 8;
    build_table(&fixed_litlen, lengths, INFLATE_FIXED_LITLEN);
    // Only symbols 0..29 get a code: the 5-bit codes 30 and 31 stay unmatched.
    for (sym = 0; sym < INFLATE_MAX_DIST; sym++) lengths[sym] = 5;
    build_table(&fixed_dist, lengths, INFLATE_MAX_DIST);
    fixed_tables_built = true;
  }
  return inflate_codes(s, &fixed_litlen, &fixed_dist);
}

// BTYPE 10 (RFC 1951 3.2.7): the block first describes its own codes.
static bool inflate_dynamic(InflateState* s) {
  int16_t lengths[INFLATE_DYNAMIC_LITLEN + INFLATE_MAX_DIST];
  int nlen = (int)read_bits(s, 5) + 257;
  int ndist = (int)read_bits(s, 5) + 1;
  int ncode = (int)read_bits(s, 4) + 4;
  if (s->exhausted || nlen > INFLATE_DYNAMIC_LITLEN || ndist > INFLATE_MAX_DIST) return false;

  // The code-length code; it borrows the literal/length table until the
  // lengths it describes are read.
  int index = 0;
  for (; index < ncode; index++) lengths[CODE_LENGTH_ORDER[index]] = (int16_t)read_bits(s, 3);
  for (; index < INFLATE_MAX_CODELEN; index++) lengths[CODE_LENGTH_ORDER[index]] = 0;
  if (s->exhausted) return false;
  if (build_table(&dynamic_litlen, lengths, INFLATE_MAX_CODELEN) != 0) return false;

  index = 0;
  while (index < nlen + ndist) {
    int symbol = decode_symbol(s, &dynamic_litlen);
    if (symbol < 0 || s->exhausted) return false;
    if (symbol < 16) {
      lengths[index++] = (int16_t)symbol;
      continue;
    }
    int16_t repeated = 0;
    int times;
    if (symbol == 16) {  // the previous length 3..6 times
      if (index == 0) return false;
      repeated = lengths[index - 1];
      times = 3 + (int)read_bits(s, 2);
    } else if (symbol == 17) {  // 3..10 zeros
      times = 3 + (int)read_bits(s, 3);
    } else {  // 18: 11..138 zeros
      times = 11 + (int)read_bits(s, 7);
    }
    if (s->exhausted || index + times > nlen + ndist) return false;
    while (times--) lengths[index++] = repeated;
  }

  if (lengths[INFLATE_END_OF_BLOCK] == 0) return false;  // the block could never end
  // Incomplete codes are accepted: a code without a symbol fails when met.
  if (build_table(&dynamic_litlen, lengths, nlen) < 0) return false;
  if (build_table(&dynamic_dist, lengths + nlen, ndist) < 0) return false;
  return inflate_codes(s, &dynamic_litlen, &dynamic_dist);
}

bool inflate_raw(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity) {
  InflateState s;
  s.input = input;
  s.input_length = input_length;
  s.input_position = 0;
  s.bit_buffer = 0;
  s.bit_count = 0;
  s.output = output;
  s.output_capacity = output_capacity;
  s.output_count = 0;
  s.exhausted = 0;

  uint32_t final_block;
  do {
    final_block = read_bits(&s, 1);
    uint32_t type = read_bits(&s, 2);
    if (s.exhausted) return false;
    bool ok;
    if (type == 0) {
      ok = inflate_stored(&s);
    } else if (type == 1) {
      ok = inflate_fixed(&s);
    } else if (type == 2) {
      ok = inflate_dynamic(&s);
    } else {
      ok = false;  // BTYPE 11 is reserved
    }
    if (!ok) return false;
  } while (!final_block);
  return s.output_count == s.output_capacity;
}
