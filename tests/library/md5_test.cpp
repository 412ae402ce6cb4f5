// MD5 against the test suite of RFC 1321 (appendix A.5), and the same digest
// whatever the pieces the data arrives in.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

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
