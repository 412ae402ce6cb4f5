// MD5 against the test suite of RFC 1321 (appendix A.5), and the same digest
// whatever the pieces the data arrives in.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

#include "library/md5.h"

static std::string hex_of(const std::string& data) {
  char out[33];
  md5_hex(data.data(), data.size(), out);
  return out;
}

TEST(Md5, Rfc1321TestSuite) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(hex_of(c.input), c.digest) << '"' << c.input << '"';
}

// Lengths around the padding boundaries (55/56 bytes leave room for the
// length or not; 64 is one whole block), fed in uneven pieces.
TEST(Md5, PiecewiseUpdatesGiveTheOneShotDigest) {
  std::string data;
  for (int i = 0; i < 300; i++) data += (char)(i * 37 + 11);
  const size_t lengths[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 300};
  const size_t pieces[] = {1, 3, 7, 63, 64, 65};
  for (size_t length : lengths) {
    std::string one = hex_of(data.substr(0, length));
    for (size_t piece : pieces) {
      Md5Context ctx;
      md5_init(&ctx);
      for (size_t at = 0; at < length; at += piece)
        md5_update(&ctx, data.data() + at, length - at < piece ? length - at : piece);
      uint8_t digest[16];
      md5_final(&ctx, digest);
      char text[33];
      for (int i = 0; i < 16; i++) snprintf(text + 2 * i, 3, "%02x", digest[i]);
      EXPECT_EQ(std::string(text), one) << "length " << length << " in pieces of " << piece;
    }
  }
}

// md5_read_hex over a stream in memory: the reads it makes, in the order it
// makes them, and a read that fails on request.
struct MemoryStream {
  std::string bytes;
  uint64_t fail_at = UINT64_MAX;  // a read from this offset on fails
  std::vector<uint64_t> reads;    // offsets read, in order (only the reader thread reads)
  uint64_t last_end = 0;          // one past the furthest byte read
};

static bool read_memory(void* source, uint64_t offset, uint32_t n, void* buffer) {
  MemoryStream* s = (MemoryStream*)source;
  s->reads.push_back(offset);
  if (offset >= s->fail_at || offset + n > s->bytes.size()) return false;
  memcpy(buffer, s->bytes.data() + offset, n);
  s->last_end = offset + n;
  return true;
}

TEST(Md5, ReadingAheadGivesTheOneShotDigest) {
  std::string data;
  for (int i = 0; i < 5000; i++) data += (char)(i * 131 + (i >> 7));
  const uint32_t chunks[] = {64, 100, 4096};
  const uint32_t sizes[] = {0, 1, 63, 64, 65, 99, 100, 101, 1000, 4095, 4096, 4097, 4900};
  for (uint32_t chunk : chunks) {
    for (uint32_t size : sizes) {
      MemoryStream s;
      s.bytes = data;
      std::vector<uint8_t> buffers(2 * chunk);
      char out[33] = "x";
      const uint64_t offset = 7;
      ASSERT_TRUE(md5_read_hex(read_memory, &s, offset, size, buffers.data(), chunk, out)) << size;
      EXPECT_EQ(std::string(out), hex_of(data.substr(offset, size))) << "size " << size << " chunk " << chunk;
      // Each chunk once, in order, and nothing past the end.
      ASSERT_EQ(s.reads.size(), (size + chunk - 1) / chunk) << size;
      for (size_t k = 0; k < s.reads.size(); k++) EXPECT_EQ(s.reads[k], offset + k * chunk);
      EXPECT_EQ(s.last_end, size ? offset + size : 0u);
    }
  }
}

TEST(Md5, ReadingAheadStopsAtAFailedRead) {
  std::string data(1000, 'q');
  const uint64_t fail_offsets[] = {0, 64, 128, 896, 960};  // chunk starts
  for (uint64_t fail_at : fail_offsets) {
    MemoryStream s;
    s.bytes = data;
    s.fail_at = fail_at;
    std::vector<uint8_t> buffers(2 * 64);
    char out[33] = "x";
    EXPECT_FALSE(md5_read_hex(read_memory, &s, 0, 1000, buffers.data(), 64, out)) << fail_at;
    EXPECT_STREQ(out, "") << fail_at;
    ASSERT_FALSE(s.reads.empty());
    EXPECT_EQ(s.reads.back(), fail_at) << "read on after the failed read";
  }
  // A stream shorter than the size asked for fails at its end.
  MemoryStream s;
  s.bytes = data;
  std::vector<uint8_t> buffers(2 * 64);
  char out[33];
  EXPECT_FALSE(md5_read_hex(read_memory, &s, 0, 1001, buffers.data(), 64, out));
}
