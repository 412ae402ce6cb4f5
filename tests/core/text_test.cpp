// The bounded text helpers: what a cut keeps, and that it never keeps half of
// a two-unit character.
#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

TEST(BoundedText, CutsAtTheCapacityAndNeverSplitsAPair) {
  const std::wstring clef = L"\U0001D11E";  // two UTF-16 units
  struct Case {
    std::wstring text;
    size_t capacity;
    std::wstring kept;
    bool whole;
  } cases[] = {
      {L"abc", 4, L"abc", true},
      {L"abcd", 4, L"abc", false},
      {L"ab" + clef, 5, L"ab" + clef, true},
      {L"ab" + clef, 4, L"ab", false},         // the pair straddles the cut: dropped whole
      {L"a" + clef + L"z", 4, L"a" + clef, false},  // the pair ends at the cut: kept
      {clef, 2, L"", false},
      {L"", 1, L"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << " length " << c.text.size());
    wchar_t out[16];
    wmemset(out, L'#', 16);
    EXPECT_EQ(copy_text(out, c.capacity, c.text.c_str()), c.whole);
    EXPECT_EQ(std::wstring(out), c.kept);
    wmemset(out, L'#', 16);
    EXPECT_EQ(format_text(out, c.capacity, L"%ls", c.text.c_str()), c.whole);
    EXPECT_EQ(std::wstring(out), c.kept);
  }
  wchar_t out[8];
  EXPECT_FALSE(format_text(out, 0, L"x"));
  EXPECT_FALSE(copy_text(out, 0, L"x"));
}

TEST(BoundedText, PathLiesInComparesWholeComponents) {
  const struct {
    const wchar_t* path;
    const wchar_t* folder;
    bool inside;
  } cases[] = {
      {L"C:\\Games", L"C:\\Games", true},
      {L"C:\\Games\\Telvar\\telvar.ini", L"C:\\Games", true},
      {L"c:\\games\\telvar", L"C:\\GAMES\\", true},       // case and a trailing backslash
      {L"C:\\GamesX\\telvar", L"C:\\Games", false},       // not on a component boundary
      {L"C:\\Game", L"C:\\Games", false},
      {L"C:\\Games", L"", false},                          // an empty folder holds nothing
      {L"C:\\Games", L"\\\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(path_lies_in(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
  }
}
