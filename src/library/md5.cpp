// MD5 (RFC 1321). The four rounds are written out step by step, as in the
// RFC's reference code, so that the compiler keeps A to D in registers and
// the step constants become immediate operands. The program is 32-bit x86,
// which has seven registers to spare, so the steps are shaped to need few
// and to let independent work overlap:
//  - the message words are read straight from the input (x86 reads
//    unaligned little-endian words as they are), never copied into a block
//    array that would take stack stores and loads on every step;
//  - in each step the word and the constant are added to A before the round
//    function is ready, so that addition is off the critical path;
//  - G is taken as (~z & y) + (z & x) (the two halves never share a bit, so
//    OR and + agree), whose first half waits for neither the newest register;
//  - H and I likewise combine the two older registers first.
// Blocks that have to be put together from pieces go through ctx->block.
#include "library/md5.h"

#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

// A little-endian word at any address.
static inline uint32_t load_le32(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t word;
  memcpy(&word, p, 4);
  return word;
#else
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
#endif
}

static inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One step of each round (RFC 1321 section 3.4): a = b + ((a + f(b,c,d) + X[k] + T[i]) <<< s).
#define MD5_F_STEP(a, b, c, d, k, t, s)                  \
  (a) += load_le32(p + 4 * (k)) + (uint32_t)(t);          \
  (a) += (d) ^ ((b) & ((c) ^ (d)));                      \
  (a) = rotl((a), (s)) + (b)
#define MD5_G_STEP(a, b, c, d, k, t, s)                  \
  (a) += load_le32(p + 4 * (k)) + (uint32_t)(t);          \
  (a) += (~(d) & (c));                                   \
  (a) += ((d) & (b));                                    \
  (a) = rotl((a), (s)) + (b)
#define MD5_H_STEP(a, b, c, d, k, t, s)                  \
  (a) += load_le32(p + 4 * (k)) + (uint32_t)(t);          \
  (a) += ((c) ^ (d)) ^ (b);                              \
  (a) = rotl((a), (s)) + (b)
#define MD5_I_STEP(a, b, c, d, k, t, s)                  \
  (a) += load_le32(p + 4 * (k)) + (uint32_t)(t);          \
  (a) += (c) ^ ((b) | ~(d));                             \
  (a) = rotl((a), (s)) + (b)

// Processes whole 64-byte blocks (RFC 1321 section 3.4).
static void md5_blocks(uint32_t state[4], const uint8_t* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  while (blocks--) {
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_F_STEP(a, b, c, d, 0, 0xd76aa478, 7);
    MD5_F_STEP(d, a, b, c, 1, 0xe8c7b756, 12);
    MD5_F_STEP(c, d, a, b, 2, 0x242070db, 17);
    MD5_F_STEP(b, c, d, a, 3, 0xc1bdceee, 22);
    MD5_F_STEP(a, b, c, d, 4, 0xf57c0faf, 7);
    MD5_F_STEP(d, a, b, c, 5, 0x4787c62a, 12);
    MD5_F_STEP(c, d, a, b, 6, 0xa8304613, 17);
    MD5_F_STEP(b, c, d, a, 7, 0xfd469501, 22);
    MD5_F_STEP(a, b, c, d, 8, 0x698098d8, 7);
    MD5_F_STEP(d, a, b, c, 9, 0x8b44f7af, 12);
    MD5_F_STEP(c, d, a, b, 10, 0xffff5bb1, 17);
    MD5_F_STEP(b, c, d, a, 11, 0x895cd7be, 22);
    MD5_F_STEP(a, b, c, d, 12, 0x6b901122, 7);
    MD5_F_STEP(d, a, b, c, 13, 0xfd987193, 12);
    MD5_F_STEP(c, d, a, b, 14, 0xa679438e, 17);
    MD5_F_STEP(b, c, d, a, 15, 0x49b40821, 22);

    MD5_G_STEP(a, b, c, d, 1, 0xf61e2562, 5);
    MD5_G_STEP(d, a, b, c, 6, 0xc040b340, 9);
    MD5_G_STEP(c, d, a, b, 11, 0x265e5a51, 14);
    MD5_G_STEP(b, c, d, a, 0, 0xe9b6c7aa, 20);
    MD5_G_STEP(a, b, c, d, 5, 0xd62f105d, 5);
    MD5_G_STEP(d, a, b, c, 10, 0x02441453, 9);
    MD5_G_STEP(c, d, a, b, 15, 0xd8a1e681, 14);
    MD5_G_STEP(b, c, d, a, 4, 0xe7d3fbc8, 20);
    MD5_G_STEP(a, b, c, d, 9, 0x21e1cde6, 5);
    MD5_G_STEP(d, a, b, c, 14, 0xc33707d6, 9);
    MD5_G_STEP(c, d, a, b, 3, 0xf4d50d87, 14);
    MD5_G_STEP(b, c, d, a, 8, 0x455a14ed, 20);
    MD5_G_STEP(a, b, c, d, 13, 0xa9e3e905, 5);
    MD5_G_STEP(d, a, b, c, 2, 0xfcefa3f8, 9);
    MD5_G_STEP(c, d, a, b, 7, 0x676f02d9, 14);
    MD5_G_STEP(b, c, d, a, 12, 0x8d2a4c8a, 20);

    MD5_H_STEP(a, b, c, d, 5, 0xfffa3942, 4);


    MD5_H_STEP(d, a, b, c, 8, 0x8771f681, 11);
    MD5_H_STEP(c, d, a, b, 11, 0x6d9d6122, 16);

    MD5_H_STEP(b, c, d, a, 14, 0xfde5380c, 23);
    MD5_H_STEP(a, b, c, d, 1, 0xa4beea44, 4);

    MD5_H_STEP(d, a, b, c, 4, 0x4bdecfa9, 11);
    MD5_H_STEP(c, d, a, b, 7, 0xf6bb4b60, 16);

    MD5_H_STEP(b, c, d, a, 10, 0xbebfbc70, 23);
    MD5_H_STEP(a, b, c, d, 13, 0x289b7ec6, 4);

    MD5_H_STEP(d, a, b, c, 0, 0xeaa127fa, 11);
    MD5_H_STEP(c, d, a, b, 3, 0xd4ef3085, 16);

    MD5_H_STEP(b, c, d, a, 6, 0x04881d05, 23);
    MD5_H_STEP(a, b, c, d, 9, 0xd9d4d039, 4);

    MD5_H_STEP(d, a, b, c, 12, 0xe6db99e5, 11);
    MD5_H_STEP(c, d, a, b, 15, 0x1fa27cf8, 16);

    MD5_H_STEP(b, c, d, a, 2, 0xc4ac5665, 23);

    MD5_I_STEP(a, b, c, d, 0, 0xf4292244, 6);
    MD5_I_STEP(d, a, b, c, 7, 0x432aff97, 10);
    MD5_I_STEP(c, d, a, b, 14, 0xab9423a7, 15);
    MD5_I_STEP(b, c, d, a, 5, 0xfc93a039, 21);
    MD5_I_STEP(a, b, c, d, 12, 0x655b59c3, 6);
    MD5_I_STEP(d, a, b, c, 3, 0x8f0ccc92, 10);
    MD5_I_STEP(c, d, a, b, 10, 0xffeff47d, 15);
    MD5_I_STEP(b, c, d, a, 1, 0x85845dd1, 21);
    MD5_I_STEP(a, b, c, d, 8, 0x6fa87e4f, 6);
    MD5_I_STEP(d, a, b, c, 15, 0xfe2ce6e0, 10);
    MD5_I_STEP(c, d, a, b, 6, 0xa3014314, 15);
    MD5_I_STEP(b, c, d, a, 13, 0x4e0811a1, 21);
    MD5_I_STEP(a, b, c, d, 4, 0xf7537e82, 6);
    MD5_I_STEP(d, a, b, c, 11, 0xbd3af235, 10);
    MD5_I_STEP(c, d, a, b, 2, 0x2ad7d2bb, 15);
    MD5_I_STEP(b, c, d, a, 9, 0xeb86d391, 21);

    a += a0; b += b0; c += c0; d += d0;
    p += 64;
  }
  state[0] = a; state[1] = b; state[2] = c; state[3] = d;
}

void md5_init(Md5Context* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->length = 0;
}

void md5_update(Md5Context* ctx, const void* data, size_t size) {
  const uint8_t* p = (const uint8_t*)data;
  size_t used = (size_t)(ctx->length % 64);
  ctx->length += size;
  if (used) {
    size_t take = 64 - used < size ? 64 - used : size;
    memcpy(ctx->block + used, p, take);
    p += take;
    size -= take;
    if (used + take < 64) return;
    md5_blocks(ctx->state, ctx->block, 1);
  }
  md5_blocks(ctx->state, p, size / 64);
  memcpy(ctx->block, p + size / 64 * 64, size % 64);
}

void md5_final(Md5Context* ctx, uint8_t digest[16]) {
  // Padding (RFC 1321 section 3.1-3.2): a 1 bit, zeros up to 56 mod 64, then
  // the message length in bits as 64-bit little-endian.
  uint64_t bits = ctx->length * 8;
  static const uint8_t pad[64] = {0x80};
  size_t used = (size_t)(ctx->length % 64);
  md5_update(ctx, pad, used < 56 ? 56 - used : 120 - used);
  uint8_t tail[8];
  for (int i = 0; i < 8; i++) tail[i] = (uint8_t)(bits >> (8 * i));
  md5_update(ctx, tail, 8);
  for (int i = 0; i < 4; i++)
    for (int k = 0; k < 4; k++) digest[4 * i + k] = (uint8_t)(ctx->state[i] >> (8 * k));
}

void md5_finish_hex(Md5Context* ctx, char out[33]) {
  static const char hex[] = "0123456789abcdef";
  uint8_t digest[16];
  md5_final(ctx, digest);
  for (int i = 0; i < 16; i++) {
    out[2 * i] = hex[digest[i] >> 4];
    out[2 * i + 1] = hex[digest[i] & 15];
  }
  out[32] = 0;
}

void md5_hex(const void* data, size_t size, char out[33]) {
  Md5Context ctx;
  md5_init(&ctx);
  md5_update(&ctx, data, size);
  md5_finish_hex(&ctx, out);
}

// The hand-over between the reader thread and the hashing thread: chunk k
// goes into half k % 2; the reader may run at most two chunks ahead of the
// hashing, and stops at the first failed read.
struct Md5Pipeline {
  std::mutex lock;
  std::condition_variable changed;
  uint32_t chunks_read = 0;    // chunks read whole so far
  uint32_t chunks_hashed = 0;  // chunks hashed so far
  bool read_failed = false;    // a read failed: no more chunks come
};

static uint32_t chunk_length(uint32_t size, uint32_t chunk_bytes, uint32_t k) {
  uint32_t start = k * chunk_bytes;
  return size - start < chunk_bytes ? size - start : chunk_bytes;
}

bool md5_read_hex(Md5ReadFunction read, void* source, uint64_t offset, uint32_t size, uint8_t* buffers,
                  uint32_t chunk_bytes, char out[33]) {
  out[0] = 0;
  const uint32_t chunks = size / chunk_bytes + (size % chunk_bytes ? 1 : 0);
  Md5Pipeline pipe;
  std::thread reader([&] {
    for (uint32_t k = 0; k < chunks; k++) {
      {
        std::unique_lock<std::mutex> hold(pipe.lock);
        pipe.changed.wait(hold, [&] { return k - pipe.chunks_hashed < 2; });  // its half is free
      }
      uint8_t* half = buffers + (size_t)(k % 2) * chunk_bytes;
      bool ok = read(source, offset + (uint64_t)k * chunk_bytes, chunk_length(size, chunk_bytes, k), half);
      std::lock_guard<std::mutex> hold(pipe.lock);
      if (!ok) pipe.read_failed = true;
      else pipe.chunks_read = k + 1;
      pipe.changed.notify_all();
      if (!ok) return;
    }
  });

  Md5Context ctx;
  md5_init(&ctx);
  bool complete = true;
  for (uint32_t k = 0; k < chunks; k++) {
    {
      std::unique_lock<std::mutex> hold(pipe.lock);
      pipe.changed.wait(hold, [&] { return pipe.chunks_read > k || pipe.read_failed; });
      if (pipe.chunks_read <= k) {
        complete = false;
        break;
      }
    }
    md5_update(&ctx, buffers + (size_t)(k % 2) * chunk_bytes, chunk_length(size, chunk_bytes, k));
    std::lock_guard<std::mutex> hold(pipe.lock);
    pipe.chunks_hashed = k + 1;
    pipe.changed.notify_all();
  }
  reader.join();
  if (complete) md5_finish_hex(&ctx, out);
  return complete;
}
