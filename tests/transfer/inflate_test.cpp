// The raw deflate decoder against what zlib writes and against hand-made
// streams that hold one fault each.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "deflate_writer.h"
#include "fixtures.h"
#include "transfer/inflate.h"

namespace {

// Decodes into a buffer of exactly capacity bytes, guarded on both sides so
// that a write outside the buffer shows up even without a sanitizer.
bool decode(const std::string& stream, uint32_t capacity, std::string* out = nullptr) {
  const size_t guard = 64;
  std::vector<uint8_t> buffer(capacity + 2 * guard, 0xA5);
  bool ok = inflate_raw((const uint8_t*)stream.data(), (uint32_t)stream.size(), buffer.data() + guard, capacity);
  const std::vector<uint8_t> untouched(guard, 0xA5);
  EXPECT_TRUE(memcmp(buffer.data(), untouched.data(), guard) == 0) << "written before the buffer";
  EXPECT_TRUE(memcmp(buffer.data() + guard + capacity, untouched.data(), guard) == 0) << "written after the buffer";
  if (out) out->assign((const char*)buffer.data() + guard, capacity);
  return ok;
}

InflateCases& zlib_cases() {
  static InflateCases cases;
  static bool loaded = load_inflate_cases(&cases);
  EXPECT_TRUE(loaded) << "inflate_cases.bin missing: " << fixture_path("inflate_cases.bin");
  return cases;
}

TEST(InflateZlib, DecodesEveryStreamZlibWrites) {
  InflateCases& cases = zlib_cases();
  ASSERT_GE(cases.streams.size(), 400u);
  for (const InflateCase& c : cases.streams) {
    std::string out;
    uint32_t size = (uint32_t)c.expected->size();
    EXPECT_TRUE(decode(c.stream, size, &out)) << c.name;
    EXPECT_TRUE(out == *c.expected) << c.name << ": output differs";
    // The capacity must be met exactly: one byte less or more fails.
    if (size > 0) {
      EXPECT_FALSE(decode(c.stream, size - 1)) << c.name;
    }
    EXPECT_FALSE(decode(c.stream, size + 1)) << c.name;
  }
}

TEST(InflateZlib, EveryTruncationFails) {
  InflateCases& cases = zlib_cases();
  for (const InflateCase& c : cases.streams) {
    // Every prefix of small streams, a spread of cut points of large ones
    // (the last bytes always, where the final block ends).
    size_t n = c.stream.size();
    size_t step = n <= 400 ? 1 : n / 8;
    for (size_t cut = n > 8 ? n - 8 : 0; cut < n; cut++)
      EXPECT_FALSE(decode(c.stream.substr(0, cut), (uint32_t)c.expected->size())) << c.name << " cut at " << cut;
    for (size_t cut = 0; cut < n; cut += step)
      EXPECT_FALSE(decode(c.stream.substr(0, cut), (uint32_t)c.expected->size())) << c.name << " cut at " << cut;
  }
}

TEST(InflateZlib, TrailingBytesAfterTheFinalBlockAreIgnored) {
  InflateCases& cases = zlib_cases();
  for (size_t i = 0; i < cases.streams.size(); i += 7) {
    const InflateCase& c = cases.streams[i];
    std::string out;
    EXPECT_TRUE(decode(c.stream + std::string("\xFF\x00\x13garbage", 10), (uint32_t)c.expected->size(), &out))
        << c.name;
    EXPECT_TRUE(out == *c.expected) << c.name;
  }
}

// Literal/length lengths for a dynamic block: 'a'..'d', the end of block and
// symbol 257 (length 4), all 3 bits... adjusted by the case.
std::vector<int> lengths_with(std::initializer_list<std::pair<int, int>> set, int n = 258) {
  std::vector<int> lengths(n, 0);
  for (auto& p : set) lengths[p.first] = p.second;
  return lengths;
}

struct HandCase {
  const char* name;
  std::string (*make)();
  uint32_t capacity;
  bool ok;
  const char* output;  // checked when ok; null: not checked
};

std::string empty_input() { return std::string(); }
std::string empty_fixed_block() {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  fixed_symbol(w, 256);
  return w.finish();
}
std::string stored_len0() {
  BitWriter w;
  stored_block(w, true, "");
  return w.finish();
}
std::string stored_bad_nlen() {
  BitWriter w;
  stored_block(w, true, "abc", 0x1234);
  return w.finish();
}
std::string stored_len_past_input() {
  BitWriter w;
  stored_block(w, true, "abcdef");
  std::string s = w.finish();
  return s.substr(0, s.size() - 1);
}
std::string stored_then_fixed() {  // a stored block after bits, then a fixed block
  BitWriter w;
  w.bits(0, 1);
  w.bits(1, 2);
  fixed_symbol(w, 'x');
  fixed_symbol(w, 256);
  stored_block(w, false, "yz");
  w.bits(1, 1);
  w.bits(1, 2);
  fixed_symbol(w, '!');
  fixed_symbol(w, 256);
  return w.finish();
}
std::string block_type_3() {
  BitWriter w;
  w.bits(1, 1);
  w.bits(3, 2);
  return w.finish() + std::string(8, '\0');
}
std::string fixed_with(void (*body)(BitWriter&)) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  body(w);
  fixed_symbol(w, 256);
  return w.finish();
}
std::string distance_to_first_byte() {
  return fixed_with([](BitWriter& w) {
    for (char c : std::string("abc")) fixed_symbol(w, c);
    fixed_match(w, 3, 3);
  });
}
std::string distance_before_first_byte() {
  return fixed_with([](BitWriter& w) {
    for (char c : std::string("abc")) fixed_symbol(w, c);
    fixed_match(w, 3, 4);
  });
}
std::string length_258_distance_1() {
  return fixed_with([](BitWriter& w) {
    fixed_symbol(w, 'q');
    fixed_match(w, 258, 1);
  });
}
std::string overlapping_copy() {  // distance 2, length 7: "ab" becomes "ababababa"
  return fixed_with([](BitWriter& w) {
    fixed_symbol(w, 'a');
    fixed_symbol(w, 'b');
    fixed_match(w, 7, 2);
  });
}
std::string literal_symbol(int symbol) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  fixed_symbol(w, 'a');
  fixed_symbol(w, symbol);
  w.code(0, 5);
  fixed_symbol(w, 256);
  return w.finish() + std::string(4, '\0');
}
std::string symbol_286() { return literal_symbol(286); }
std::string symbol_287() { return literal_symbol(287); }
std::string distance_code(int code) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  for (char c : std::string("abcd")) fixed_symbol(w, c);
  fixed_symbol(w, 257);
  w.code(code, 5);
  fixed_symbol(w, 256);
  return w.finish() + std::string(4, '\0');
}
std::string distance_30() { return distance_code(30); }
std::string distance_31() { return distance_code(31); }
std::string non_final_then_nothing() {
  BitWriter w;
  w.bits(0, 1);
  w.bits(1, 2);
  fixed_symbol(w, 'a');
  fixed_symbol(w, 256);
  return w.finish();
}

// Dynamic blocks through the writer: a, b, end of block and symbol 257 get codes.
std::string dynamic_block(const std::vector<int>& litlen, const std::vector<int>& dist, bool use_distance) {
  BitWriter w;
  DynamicCodes codes = dynamic_header(w, true, litlen, dist);
  auto lit = [&](int s) { w.code(codes.litlen_codes[s], codes.litlen_lengths[s]); };
  lit('a');
  lit('b');
  if (use_distance) {
    lit(257);  // length 3
    w.code(codes.dist_codes[1], codes.dist_lengths[1]);  // distance 2
  }
  lit(256);
  return w.finish();
}
std::string dynamic_complete() {
  return dynamic_block(lengths_with({{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}), {1, 1}, true);
}
std::string dynamic_incomplete_litlen() {  // codes left unused are fine until met
  return dynamic_block(lengths_with({{'a', 2}, {'b', 2}, {256, 3}, {257, 3}}), {2, 2}, true);
}
std::string dynamic_literals_only() {  // no distance codes at all
  return dynamic_block(lengths_with({{'a', 2}, {'b', 2}, {256, 1}}), {0}, false);
}
std::string dynamic_no_end_of_block() {
  BitWriter w;
  dynamic_header(w, true, lengths_with({{'a', 1}, {'b', 1}}), {1, 1});
  w.code(0, 1);
  return w.finish() + std::string(8, '\0');
}
std::string dynamic_oversubscribed_litlen() {
  return dynamic_block(lengths_with({{'a', 1}, {'b', 1}, {256, 1}, {257, 2}}), {1, 1}, false);
}
std::string dynamic_oversubscribed_distance() {
  return dynamic_block(lengths_with({{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}), {1, 1, 1}, false);
}
std::string dynamic_unused_code_met() {  // the incomplete code's free code 111 arrives
  BitWriter w;
  DynamicCodes codes = dynamic_header(w, true, lengths_with({{'a', 1}, {'b', 2}, {256, 3}}), {0});
  w.code(codes.litlen_codes['a'], 1);
  w.code(7, 3);
  return w.finish() + std::string(8, '\0');
}
std::string dynamic_raw_header(int hlit, int hdist, int hclen, const std::vector<int>& cl_lengths,
                               const std::vector<std::pair<int, int>>& cl_symbols_with_extra) {
  static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  BitWriter w;
  w.bits(1, 1);
  w.bits(2, 2);
  w.bits(hlit, 5);
  w.bits(hdist, 5);
  w.bits(hclen, 4);
  for (int i = 0; i < hclen + 4; i++) w.bits(cl_lengths[order[i]], 3);
  std::vector<uint32_t> codes = canonical_codes(cl_lengths);
  for (auto& s : cl_symbols_with_extra) {
    w.code(codes[s.first], cl_lengths[s.first]);
    if (s.first == 16) w.bits(s.second, 2);
    if (s.first == 17) w.bits(s.second, 3);
    if (s.first == 18) w.bits(s.second, 7);
  }
  return w.finish() + std::string(64, '\0');
}
// Code-length code: 0..15 with 5 bits would be incomplete; these give 16, 17,
// 18 and 1..15 complete codes: 16/17/18 and 0 of length 2 each.
std::vector<int> cl_repeat_code() {
  std::vector<int> l(19, 0);
  l[16] = 2;
  l[17] = 2;
  l[18] = 2;
  l[1] = 2;
  return l;
}
std::string dynamic_too_many_litlen() { return dynamic_raw_header(30, 0, 15, std::vector<int>(19, 4), {}); }
std::string dynamic_too_many_dist() { return dynamic_raw_header(0, 30, 15, std::vector<int>(19, 4), {}); }
std::string dynamic_oversubscribed_cl() { return dynamic_raw_header(0, 0, 15, std::vector<int>(19, 1), {}); }
std::string dynamic_incomplete_cl() {
  std::vector<int> l(19, 0);
  l[1] = 2;
  l[2] = 2;
  l[3] = 2;
  return dynamic_raw_header(0, 0, 15, l, {});
}
std::string dynamic_repeat_first() { return dynamic_raw_header(0, 0, 15, cl_repeat_code(), {{16, 0}}); }
std::string dynamic_repeat_past_end() {  // 257 + 1 lengths; 138 + 127 zeros pass 258
  return dynamic_raw_header(0, 0, 15, cl_repeat_code(), {{18, 127}, {18, 127}});
}
std::string dynamic_empty_cl() { return dynamic_raw_header(0, 0, 15, std::vector<int>(19, 0), {}); }

const std::string K258(258, 'q');
const HandCase HAND_CASES[] = {
    {"empty input", empty_input, 0, false, nullptr},
    {"empty final fixed block", empty_fixed_block, 0, true, ""},
    {"empty fixed block, capacity 1", empty_fixed_block, 1, false, nullptr},
    {"stored LEN 0", stored_len0, 0, true, ""},
    {"stored NLEN not the complement", stored_bad_nlen, 3, true, "abc"},
    {"stored LEN past the input", stored_len_past_input, 6, false, nullptr},
    {"stored LEN past the capacity", stored_bad_nlen, 2, false, nullptr},
    {"fixed, stored after unaligned bits, fixed", stored_then_fixed, 4, true, "xyz!"},
    {"block type 3", block_type_3, 0, false, nullptr},
    {"non-final block and no more input", non_final_then_nothing, 1, false, nullptr},
    {"distance reaching the first byte", distance_to_first_byte, 6, true, "abcabc"},
    {"distance one before the first byte", distance_before_first_byte, 6, false, nullptr},
    {"length 258 at distance 1", length_258_distance_1, 259, true, nullptr},
    {"overlapping copy repeats", overlapping_copy, 9, true, "ababababa"},
    {"match past the capacity", overlapping_copy, 8, false, nullptr},
    {"fixed symbol 286", symbol_286, 4, false, nullptr},
    {"fixed symbol 287", symbol_287, 4, false, nullptr},
    {"fixed distance code 30", distance_30, 7, false, nullptr},
    {"fixed distance code 31", distance_31, 7, false, nullptr},
    {"dynamic, complete codes", dynamic_complete, 5, true, "ababa"},
    {"dynamic, incomplete codes", dynamic_incomplete_litlen, 5, true, "ababa"},
    {"dynamic, no distance codes", dynamic_literals_only, 2, true, "ab"},
    {"dynamic, end of block without code", dynamic_no_end_of_block, 1, false, nullptr},
    {"dynamic, over-subscribed literal/length", dynamic_oversubscribed_litlen, 2, false, nullptr},
    {"dynamic, over-subscribed distance", dynamic_oversubscribed_distance, 2, false, nullptr},
    {"dynamic, unused code met", dynamic_unused_code_met, 1, false, nullptr},
    {"dynamic, HLIT 30 (287 codes)", dynamic_too_many_litlen, 0, false, nullptr},
    {"dynamic, HDIST 30 (31 codes)", dynamic_too_many_dist, 0, false, nullptr},
    {"dynamic, over-subscribed code-length code", dynamic_oversubscribed_cl, 0, false, nullptr},
    {"dynamic, incomplete code-length code", dynamic_incomplete_cl, 0, false, nullptr},
    {"dynamic, empty code-length code", dynamic_empty_cl, 0, false, nullptr},
    {"dynamic, repeat with nothing before", dynamic_repeat_first, 0, false, nullptr},
    {"dynamic, repeat past the lengths", dynamic_repeat_past_end, 0, false, nullptr},
};

TEST(InflateHandMade, EachCase) {
  for (const HandCase& c : HAND_CASES) {
    std::string out;
    EXPECT_EQ(decode(c.make(), c.capacity, &out), c.ok) << c.name;
    if (c.ok && c.output) {
      EXPECT_EQ(out, c.output) << c.name;
    }
  }
  std::string out;
  ASSERT_TRUE(decode(length_258_distance_1(), 259, &out));
  EXPECT_EQ(out, "q" + K258);
}

TEST(InflateHandMade, StoredBlockOf65535Bytes) {
  std::string data(65535, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = (char)(i * 131 + (i >> 8));
  BitWriter w;
  stored_block(w, false, data);
  stored_block(w, true, "");
  std::string out;
  ASSERT_TRUE(decode(w.finish(), 65535, &out));
  EXPECT_TRUE(out == data);
}

TEST(InflateHandMade, FixedTablesGiveTheSameResultEveryTime) {
  // The fixed tables are built once; later streams must not see them changed
  // by a dynamic block decoded in between.
  std::string first, second;
  ASSERT_TRUE(decode(overlapping_copy(), 9, &first));
  ASSERT_TRUE(decode(dynamic_complete(), 5));
  ASSERT_TRUE(decode(overlapping_copy(), 9, &second));
  EXPECT_EQ(first, second);
}

// The table-driven fast path against the plain bit-at-a-time decoding it
// stands in for: same result, same bytes written, same input bits taken, and
// the rest of the buffer left alike, on the zlib streams whole, cut short,
// given the wrong capacity and with a byte damaged, and on the hand-made
// faults. (fuzz_inflate_differential does the same on fuzzed input.)
void expect_same_as_reference(const std::string& stream, uint32_t capacity, const std::string& label) {
  std::vector<uint8_t> fast(capacity + 1, 0x3C), reference(capacity + 1, 0x3C);
  const uint8_t* in = (const uint8_t*)stream.data();
  InflateOutcome a = inflate_run(in, (uint32_t)stream.size(), fast.data(), capacity, INFLATE_FAST);
  InflateOutcome b = inflate_run(in, (uint32_t)stream.size(), reference.data(), capacity, INFLATE_REFERENCE);
  EXPECT_EQ(a.ok, b.ok) << label;
  EXPECT_EQ(a.output_count, b.output_count) << label;
  EXPECT_EQ(a.input_bits, b.input_bits) << label;
  EXPECT_TRUE(fast == reference) << label << ": buffers differ";
}

TEST(InflateFastPath, AgreesWithTheReferenceOnTheZlibStreams) {
  InflateCases& cases = zlib_cases();
  ASSERT_GE(cases.streams.size(), 400u);
  size_t large = 0;
  for (size_t i = 0; i < cases.streams.size(); i++) {
    const InflateCase& c = cases.streams[i];
    const std::string& s = c.stream;
    uint32_t size = (uint32_t)c.expected->size();
    if (s.size() > 1000) large++;
    expect_same_as_reference(s, size, c.name);
    expect_same_as_reference(s, size + 1, c.name + " capacity+1");
    if (size > 0) expect_same_as_reference(s, size / 2, c.name + " capacity/2");
    // The reference decoder is slow under the sanitizers: the faults go to
    // every fourth stream (fuzz_inflate_differential covers the rest).
    if (i % 4 != 0 || s.empty()) continue;
    expect_same_as_reference(s.substr(0, s.size() / 2), size, c.name + " cut in half");
    expect_same_as_reference(s.substr(0, s.size() - 1), size, c.name + " cut by a byte");
    // A damaged byte: mostly a fault somewhere in the middle of a block,
    // met while the fast path is running.
    for (size_t at : {s.size() / 3, s.size() * 2 / 3}) {
      std::string damaged = s;
      damaged[at] = (char)(damaged[at] ^ (0x11 << (i / 4 % 4)));
      expect_same_as_reference(damaged, size, c.name + " damaged at " + std::to_string(at));
    }
  }
  EXPECT_GE(large, 50u) << "too few streams long enough for the fast path";
}

TEST(InflateFastPath, AgreesWithTheReferenceOnTheHandMadeFaults) {
  for (const HandCase& c : HAND_CASES) {
    std::string stream = c.make();
    expect_same_as_reference(stream, c.capacity, c.name);
    // Padded, so that the same fault is met while enough input remains for the fast path.
    expect_same_as_reference(stream + std::string(40, '\x00'), c.capacity, std::string(c.name) + " padded");
    expect_same_as_reference(stream + std::string(40, '\xFF'), c.capacity, std::string(c.name) + " padded");
  }
  expect_same_as_reference(length_258_distance_1(), 259, "length 258 at distance 1");
}

// Matches whose source overlaps what they write, at each short distance and
// around the widths the fast path copies in: the output must repeat the
// last distance bytes. Literals follow, so that the match is decoded while
// enough input remains for the fast path.
TEST(InflateFastPath, OverlappingMatchesRepeatTheLastBytes) {
  for (int distance = 1; distance <= 9; distance++) {
    for (int length : {3, 4, 5, 7, 8, 9, 12, 258}) {
      std::string expected;
      for (int k = 0; k < distance; k++) expected += (char)('a' + k);
      for (int k = 0; k < length; k++) expected += expected[expected.size() - distance];
      const std::string tail(40, 'z');
      expected += tail;
      BitWriter w;
      w.bits(1, 1);  // the final block, fixed codes
      w.bits(1, 2);
      for (int k = 0; k < distance; k++) fixed_symbol(w, 'a' + k);
      fixed_match(w, length, distance);
      for (char c : tail) fixed_symbol(w, (uint8_t)c);
      fixed_symbol(w, 256);
      std::string stream = w.finish();
      std::string label = "distance " + std::to_string(distance) + " length " + std::to_string(length);
      std::string out;
      EXPECT_TRUE(decode(stream, (uint32_t)expected.size(), &out)) << label;
      EXPECT_EQ(out, expected) << label;
      expect_same_as_reference(stream, (uint32_t)expected.size(), label);
    }
  }
}

}  // namespace
