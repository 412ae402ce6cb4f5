// The build script's output: line splitting, progress lines and the
// remembered lines for the error text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/progress_line.h"

namespace {

struct ProgressCase {
  const char* line;
  const wchar_t* text;
  int counters;
  int first, second;
  double fraction;
};

// The fractions are the job's own: the script fills 0.32 to 0.99 of the bar.
const ProgressCase PROGRESS_CASES[] = {
    {"[progress] prepare 0 1", L"Translating the game's executable", 0, 0, 0, 0.32},
    {"[progress] prepare 1 1", L"Translating the game's executable", 0, 0, 0, 0.3736},
    {"[progress] levels 0 19", L"Translating the levels", 2, 1, 19, 0.3736},
    {"[progress] levels 4 19", L"Translating the levels", 2, 5, 19, 0.4046315789473684},
    {"[progress] levels 19 19", L"Translating the levels", 2, 20, 19, 0.521},
    {"[progress] compile 120 480", L"Compiling", 2, 120, 480, 0.633225},
    {"[progress] compile 480 480", L"Compiling", 2, 480, 480, 0.9699},
    {"[progress] link 1 1", L"Linking", 0, 1, 1, 0.9833},
    {"[progress] install 3 5", L"Finishing", 0, 3, 5, 0.99},
    {"[progress] Compile 1 2", L"Finishing", 0, 1, 2, 0.99},
    {"[progress]   levels\t2 19", L"Translating the levels", 2, 3, 19, 0.3736 + 0.67 * 0.22 * 2 / 19},
    // Counters outside 0..total are not clamped.
    {"[progress] compile 960 480", L"Compiling", 2, 960, 480, 0.32 + 0.67 * (0.3 + 0.67 * 2)},
    {"[progress] compile -480 480", L"Compiling", 2, -480, 480, 0.32 + 0.67 * (0.3 - 0.67)},
    {"[progress] levels 2147483647 2147483647", L"Translating the levels", 2, 2147483647, 2147483647, 0.521},
};

TEST(ProgressLine, MapsStageWordsOntoTheJobsFractions) {
  for (const ProgressCase& c : PROGRESS_CASES) {
    ProgressUpdate update{};
    ASSERT_EQ(parse_progress_line(c.line, &update), LINE_PROGRESS) << c.line;
    EXPECT_STREQ(update.stage->text, c.text) << c.line;
    EXPECT_NEAR(update.fraction, c.fraction, 1e-9) << c.line;
    EXPECT_EQ(update.stage->counters, c.counters) << c.line;
    if (c.counters) {
      EXPECT_EQ(update.first, c.first) << c.line;
      EXPECT_EQ(update.second, c.second) << c.line;
    }
  }
}

TEST(ProgressLine, FormatsMatchTheStageRows) {
  ProgressUpdate update{};
  parse_progress_line("[progress] levels 0 19", &update);
  EXPECT_STREQ(update.stage->format, L"%ls (%d of %d)");
  parse_progress_line("[progress] compile 120 480", &update);
  EXPECT_STREQ(update.stage->format, L"%ls (%d of %d files)");
  parse_progress_line("[progress] link 1 1", &update);
  EXPECT_STREQ(update.stage->format, L"%ls");
  // The exact double of the first example.
  parse_progress_line("[progress] levels 0 19", &update);
  EXPECT_EQ(update.fraction, 0.32 + (0.99 - 0.32) * 0.08);
}

TEST(ProgressLine, ClassifiesLinesThatDoNotParse) {
  struct Case {
    const char* line;
    LineKind kind;
  } cases[] = {
      {"[progress] levels 0 0", LINE_PROGRESS_IGNORED},
      {"[progress] levels 0 -3", LINE_PROGRESS_IGNORED},
      {"[progress] levels a b", LINE_PROGRESS_IGNORED},
      {"[progress] levels", LINE_PROGRESS_IGNORED},
      {"[progress] levels 3", LINE_PROGRESS_IGNORED},
      {"[progress]", LINE_PROGRESS_IGNORED},
      {"[progress] aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 1 2", LINE_PROGRESS_IGNORED},
      {"[progres] levels 0 19", LINE_ORDINARY},
      {" [progress] levels 0 19", LINE_ORDINARY},
      {"compiling foo.c", LINE_ORDINARY},
      {"", LINE_ORDINARY},
  };
  for (const Case& c : cases) {
    ProgressUpdate update{};
    EXPECT_EQ(parse_progress_line(c.line, &update), c.kind) << c.line;
  }
}

TEST(OutputTail, KeepsTheLastSixteenLines) {
  OutputTail tail;
  tail_reset(&tail);
  EXPECT_EQ(tail_last(&tail), nullptr);
  tail_store(&tail, "");
  EXPECT_EQ(tail_last(&tail), nullptr) << "empty lines are dropped";

  for (int i = 1; i <= 17; i++) tail_store(&tail, ("line " + std::to_string(i)).c_str());
  EXPECT_EQ(tail.count, 17u);
  EXPECT_STREQ(tail_last(&tail), "line 17");
  // Slot 0 was overwritten by line 17; slots 1..15 hold lines 2..16.
  for (int slot = 1; slot < TAIL_LINES; slot++)
    EXPECT_EQ(std::string(tail.lines[slot]), "line " + std::to_string(slot + 1));

  std::string longer(500, 'x');
  tail_store(&tail, longer.c_str());
  EXPECT_EQ(std::string(tail_last(&tail)), longer.substr(0, TAIL_LINE_BYTES - 1));

  // A cut never splits a UTF-8 character: one that fits whole is kept, one
  // that would lose its last bytes goes whole.
  const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC", clef = "\xF0\x9D\x84\x9E";
  struct Cut {
    std::string line, kept;
  } cuts[] = {
      {std::string(297, 'a') + e_acute + "z", std::string(297, 'a') + e_acute},
      {std::string(298, 'a') + e_acute, std::string(298, 'a')},
      {std::string(297, 'a') + euro, std::string(297, 'a')},
      {std::string(298, 'a') + euro, std::string(298, 'a')},
      {std::string(296, 'a') + clef, std::string(296, 'a')},
      {std::string(295, 'a') + clef + "z", std::string(295, 'a') + clef},
  };
  for (const Cut& c : cuts) {
    tail_store(&tail, c.line.c_str());
    EXPECT_EQ(std::string(tail_last(&tail)), c.kept) << c.line.size();
  }

  tail_reset(&tail);
  EXPECT_EQ(tail_last(&tail), nullptr);
}

void collect(const char* line, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(line); }

std::vector<std::string> split(const std::vector<std::string>& chunks) {
  LineSplitter splitter;
  splitter_reset(&splitter);
  std::vector<std::string> lines;
  for (const std::string& chunk : chunks) splitter_feed(&splitter, chunk.data(), chunk.size(), collect, &lines);
  return lines;
}

TEST(LineSplitter, SplitsAcrossChunks) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    V chunks;
    V lines;
  } cases[] = {
      {"line feeds", {"a\nb\n"}, {"a", "b"}},
      {"carriage return removed", {"a\r\nb\r\n"}, {"a", "b"}},
      {"CR LF split across two reads", {"abc\r", "\ndef\n"}, {"abc", "def"}},
      {"line split across reads", {"ab", "c", "d\n"}, {"abcd"}},
      {"unfinished last line not handed on", {"a\nlast"}, {"a"}},
      {"empty lines handed on as empty", {"\n\r\n"}, {"", ""}},
      {"lone CR inside a line kept", {"a\rb\n"}, {"a\rb"}},
      {"only the last CR removed", {"a\r\r\n"}, {"a\r"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.chunks), c.lines) << c.name;
}

TEST(LineSplitter, CutsAFullLineAndDropsTheByteThatDidNotFit) {
  // 5,000 bytes without a line feed, then one: 4095 bytes, one byte dropped,
  // and the remaining 904 bytes form the next line.
  std::string text;
  for (int i = 0; i < 5000; i++) text += (char)('a' + i % 26);
  std::vector<std::string> lines = split({text.substr(0, 3000), text.substr(3000), "\n"});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], text.substr(0, 4095));
  EXPECT_EQ(lines[1], text.substr(4096));
  EXPECT_EQ(lines[1].size(), 904u);

  // A full line whose 4095th byte is a carriage return loses it when cut.
  std::string cr = std::string(4094, 'x') + "\rY\n";
  lines = split({cr});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(4094, 'x'));
  EXPECT_EQ(lines[1], "");
}

}  // namespace
