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
//
// Speed: decoding a code bit by bit costs up to 15 steps per symbol, which is
// most of the time an archive takes to unpack. So each code also gets a
// lookup table indexed by its next INFLATE_FAST_BITS input bits (2 KiB each),
// and while at least INFLATE_FAST_INPUT_MARGIN input bytes remain, a block's
// symbols are decoded by inflate_codes_fast, with the bit buffer in locals
// and refilled four bytes at a time. Codes longer than the table, codes with
// no symbol, and everything near the end of the input go through the plain
// bit-at-a-time code (decode_symbol, inflate_codes), which stays the
// reference: both give the same bytes, the same result and take the same
// bits on every input (inflate_run lets the tests and a fuzzer check that).
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
  INFLATE_FAST_BITS = 10,        // input bits that index a lookup table
  INFLATE_FAST_SIZE = 1 << INFLATE_FAST_BITS,
  INFLATE_FAST_LENGTH_SHIFT = 9, // lookup entry: code length << 9 | symbol; 0 = not in the table
  INFLATE_FAST_SYMBOL_MASK = (1 << INFLATE_FAST_LENGTH_SHIFT) - 1,
  // inflate_codes_fast decodes a symbol only while this many input bytes are
  // left: one length/distance pair takes at most 48 bits, over three refills
  // that each read 4 bytes from at most 3 bytes further on.
  INFLATE_FAST_INPUT_MARGIN = 16,
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
// Lookup tables of the same codes for the fast path, built beside them.
static uint16_t fixed_litlen_fast[INFLATE_FAST_SIZE], fixed_dist_fast[INFLATE_FAST_SIZE];
static uint16_t dynamic_litlen_fast[INFLATE_FAST_SIZE], dynamic_dist_fast[INFLATE_FAST_SIZE];
static bool fixed_fast_built;

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

// Fills a lookup table for the codes of h that are at most INFLATE_FAST_BITS
// long. The input holds a code's first bit lowest, so a code sits in the
// table at its bit-reversed value, repeated for every value of the bits that
// follow it. Entries no such code reaches stay 0: a longer code or no code at
// all, which decode_symbol sorts out.
static void build_fast_table(const HuffmanTable* h, uint16_t* fast) {
  memset(fast, 0, INFLATE_FAST_SIZE * sizeof *fast);
  uint32_t code = 0;  // the first canonical code of the current length (RFC 1951 3.2.2)
  int index = 0;      // the first symbol of the current length
  for (int len = 1; len <= INFLATE_FAST_BITS; len++) {
    for (int k = 0; k < h->count[len]; k++, code++, index++) {
      uint32_t reversed = 0;
      for (int bit = 0; bit < len; bit++) reversed |= ((code >> bit) & 1u) << (len - 1 - bit);
      uint16_t entry = (uint16_t)(len << INFLATE_FAST_LENGTH_SHIFT | h->symbol[index]);
      for (uint32_t at = reversed; at < INFLATE_FAST_SIZE; at += 1u << len) fast[at] = entry;
    }
    code <<= 1;
  }
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

static inline uint32_t load_le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// inflate_codes with lookup tables, for as long as at least
// INFLATE_FAST_INPUT_MARGIN input bytes remain; then the rest of the block
// goes to inflate_codes. The checks and their order are inflate_codes' own,
// so a fault fails at the same symbol with the same bytes written.
//
// The bit buffer lives in locals (stores through the output pointer could
// otherwise alias the state and force it back to memory on every byte). A
// refill loads four bytes at once and keeps the whole bytes that fit: after
// it, 24 to 31 bits are valid. Bits above the valid ones may then hold the
// start of the next input byte; they are masked off before the state goes
// back to the plain code, which expects zeros there.
static bool inflate_codes_fast(InflateState* s, const HuffmanTable* litlen, const uint16_t* litlen_fast,
                               const HuffmanTable* dist, const uint16_t* dist_fast) {
  const uint8_t* in = s->input;
  const uint32_t in_length = s->input_length;
  uint32_t position = s->input_position;
  uint32_t bits = s->bit_buffer;
  uint32_t nbits = (uint32_t)s->bit_count;
  uint8_t* const out = s->output;
  const uint32_t capacity = s->output_capacity;
  uint32_t count = s->output_count;
  bool result = false;

#define FAST_REFILL()                        \
  do {                                       \
    bits |= load_le32(in + position) << nbits; \
    position += (31 - nbits) >> 3;           \
    nbits |= 24;                             \
  } while (0)
#define FAST_SAVE()                                                   \
  do {                                                                \
    s->input_position = position;                                     \
    s->bit_buffer = nbits >= 32 ? bits : bits & ((1u << nbits) - 1);  \
    s->bit_count = (int32_t)nbits;                                    \
    s->output_count = count;                                          \
  } while (0)
#define FAST_LOAD()                      \
  do {                                   \
    position = s->input_position;        \
    bits = s->bit_buffer;                \
    nbits = (uint32_t)s->bit_count;      \
  } while (0)
// One symbol of a code into out: from its fast entry when the code is
// short, else (a long code, or none) from the careful decoder, which takes
// the state as it stands; -1 when no code matches.
#define FAST_SYMBOL(out, fast, table)                          \
  do {                                                         \
    uint32_t entry_ = (fast)[bits & (INFLATE_FAST_SIZE - 1)];  \
    if (entry_ != 0) {                                         \
      uint32_t length_ = entry_ >> INFLATE_FAST_LENGTH_SHIFT;  \
      bits >>= length_;                                        \
      nbits -= length_;                                        \
      (out) = (int)(entry_ & INFLATE_FAST_SYMBOL_MASK);        \
    } else {                                                   \
      FAST_SAVE();                                             \
      (out) = decode_symbol(s, (table));                       \
      FAST_LOAD();                                             \
    }                                                          \
  } while (0)

  for (;;) {
    if (in_length - position < INFLATE_FAST_INPUT_MARGIN) {
      FAST_SAVE();
      return inflate_codes(s, litlen, dist);
    }
    FAST_REFILL();
    int symbol;
    FAST_SYMBOL(symbol, litlen_fast, litlen);
    if (symbol < 0) break;
    if (symbol < 256) {  // a literal byte
      if (count == capacity) break;
      out[count++] = (uint8_t)symbol;
      continue;
    }
    if (symbol == INFLATE_END_OF_BLOCK) {
      result = true;
      break;
    }

    symbol -= 257;
    if (symbol >= 29) break;
    uint32_t extra = LENGTH_EXTRA[symbol];  // at most 5 of the 9 or more bits left
    uint32_t length = LENGTH_BASE[symbol] + (bits & ((1u << extra) - 1));
    bits >>= extra;
    nbits -= extra;

    FAST_REFILL();
    int dsym;
    FAST_SYMBOL(dsym, dist_fast, dist);
    if (dsym < 0) break;
    if (dsym >= 30) break;
    extra = DIST_EXTRA[dsym];
    if (nbits < extra) FAST_REFILL();
    uint32_t distance = DIST_BASE[dsym] + (bits & ((1u << extra) - 1));
    bits >>= extra;
    nbits -= extra;
    if (distance > count) break;                  // before the first byte
    if (length > capacity - count) break;         // beyond the capacity

    // Exactly length bytes are written, never more, so that a decode that
    // fails later leaves the same bytes as the plain path. Four at a time
    // when the source lies at least four back (each group then reads bytes
    // already written); one value when it is the byte just before; else one
    // at a time, which repeats the most recent bytes as the format asks.
    // (Eight at a time when it lies at least eight back.)
    uint8_t* to = out + count;
    const uint8_t* from = to - distance;
    count += length;
    if (distance >= 8) {
      for (; length >= 8; length -= 8, to += 8, from += 8) memcpy(to, from, 8);
      if (length >= 4) {
        memcpy(to, from, 4);
        length -= 4, to += 4, from += 4;
      }
      while (length--) *to++ = *from++;
    } else if (distance >= 4) {
      for (; length >= 4; length -= 4, to += 4, from += 4) memcpy(to, from, 4);
      while (length--) *to++ = *from++;
    } else if (distance == 1) {
      memset(to, *from, length);
    } else {
      while (length--) *to++ = *from++;
    }
  }
  FAST_SAVE();
  return result;
#undef FAST_REFILL
#undef FAST_SAVE
#undef FAST_LOAD
#undef FAST_SYMBOL
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
static bool inflate_fixed(InflateState* s, InflateDecoder decoder) {
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
  if (decoder == INFLATE_REFERENCE) return inflate_codes(s, &fixed_litlen, &fixed_dist);
  if (!fixed_fast_built) {
    build_fast_table(&fixed_litlen, fixed_litlen_fast);
    build_fast_table(&fixed_dist, fixed_dist_fast);
    fixed_fast_built = true;
  }
  return inflate_codes_fast(s, &fixed_litlen, fixed_litlen_fast, &fixed_dist, fixed_dist_fast);
}

// BTYPE 10 (RFC 1951 3.2.7): the block first describes its own codes.
static bool inflate_dynamic(InflateState* s, InflateDecoder decoder) {
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
  if (decoder == INFLATE_REFERENCE) return inflate_codes(s, &dynamic_litlen, &dynamic_dist);
  build_fast_table(&dynamic_litlen, dynamic_litlen_fast);
  build_fast_table(&dynamic_dist, dynamic_dist_fast);
  return inflate_codes_fast(s, &dynamic_litlen, dynamic_litlen_fast, &dynamic_dist, dynamic_dist_fast);
}

// The block loop (RFC 1951 3.2.3).
static bool inflate_blocks(InflateState* s, InflateDecoder decoder) {
  uint32_t final_block;
  do {
    final_block = read_bits(s, 1);
    uint32_t type = read_bits(s, 2);
    if (s->exhausted) return false;
    bool ok;
    if (type == 0) {
      ok = inflate_stored(s);
    } else if (type == 1) {
      ok = inflate_fixed(s, decoder);
    } else if (type == 2) {
      ok = inflate_dynamic(s, decoder);
    } else {
      ok = false;  // BTYPE 11 is reserved
    }
    if (!ok) return false;
  } while (!final_block);
  return s->output_count == s->output_capacity;
}

InflateOutcome inflate_run(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity,
                           InflateDecoder decoder) {
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
  InflateOutcome outcome;
  outcome.ok = inflate_blocks(&s, decoder);
  outcome.output_count = s.output_count;
  outcome.input_bits = s.input_position * 8 - (uint32_t)s.bit_count;
  return outcome;
}

bool inflate_raw(const uint8_t* input, uint32_t input_length, uint8_t* output, uint32_t output_capacity) {
  return inflate_run(input, input_length, output, output_capacity, INFLATE_FAST).ok;
}
