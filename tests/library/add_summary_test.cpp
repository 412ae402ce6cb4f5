// The one status line that sums up an add: counts, singular and plural, the
// reasons in a fixed order, and a stopped search. The adds that produce each
// count are driven through the window in tests/app/library_test.cpp.
#include <gtest/gtest.h>
#include <string>

#include "core/state.h"
#include "library/library.h"

TEST(AddSummary, CountsAndReasonsInOneLine) {
  const struct {
    AddCounts counts;  // added, listed, not_image, full, too_long, cancelled, unsearched
    const wchar_t* line;
  } cases[] = {
      {{0, 0, 0, 0, 0, false, 0}, L"Added no disc images."},
      {{1, 0, 0, 0, 0, false, 0}, L"Added 1 disc image."},
      {{3, 1, 1, 0, 0, false, 0}, L"Added 3 disc images; skipped 2: 1 already listed, 1 not a disc image."},
      {{0, 2, 0, 0, 0, false, 0}, L"Added no disc images; skipped 2: 2 already listed."},
      {{0, 0, 2, 0, 0, false, 0}, L"Added no disc images; skipped 2: 2 not disc images."},
      {{64, 0, 0, 136, 0, false, 0}, L"Added 64 disc images; skipped 136: 136 with no room left (the library holds 64)."},
      {{1, 0, 0, 0, 1, false, 0}, L"Added 1 disc image; skipped 1: 1 with a path longer than Windows allows."},
      {{0, 0, 0, 0, 2, false, 0}, L"Added no disc images; skipped 2: 2 with paths longer than Windows allows."},
      {{2, 1, 1, 1, 1, false, 0},
       L"Added 2 disc images; skipped 4: 1 already listed, 1 not a disc image, 1 with no room left (the library "
       L"holds 64), 1 with a path longer than Windows allows."},
      {{5, 0, 0, 0, 0, true, 0}, L"Search stopped. Added 5 disc images."},
      {{0, 3, 0, 0, 0, true, 0}, L"Search stopped. Added no disc images; skipped 3: 3 already listed."},
      {{2, 0, 0, 0, 0, false, 1},
       L"Added 2 disc images. 1 folder was not searched (too many searches at once): add it again."},
      {{0, 1, 0, 0, 0, false, 3},
       L"Added no disc images; skipped 1: 1 already listed. 3 folders were not searched (too many searches at "
       L"once): add them again."},
  };
  for (const auto& c : cases) {
    wchar_t line[STATUS_TEXT_UNITS];
    describe_added(c.counts, line, STATUS_TEXT_UNITS);
    EXPECT_EQ(std::wstring(line), c.line);
  }
}
