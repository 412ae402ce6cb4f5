// Readability: the contrast of every (foreground, background) pair of palette
// colours that the painters draw, by the WCAG 2 formula (relative luminance of
// the sRGB components, (L1 + 0.05) / (L2 + 0.05)); and the high-contrast
// theme, where the colour roles become the system colours and the art that
// carries no information is left out.
#include <gtest/gtest.h>
#include <windows.h>

#include <math.h>

#include <set>
#include <vector>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/hit_regions.h"
#include "ui/main_view.h"
#include "ui/ui_state.h"
#include "ui_fixture.h"

namespace {

double channel(int value) {
  double c = value / 255.0;
  return c <= 0.03928 ? c / 12.92 : pow((c + 0.055) / 1.055, 2.4);
}

double luminance(COLORREF c) {
  return 0.2126 * channel(GetRValue(c)) + 0.7152 * channel(GetGValue(c)) + 0.0722 * channel(GetBValue(c));
}

double contrast(COLORREF a, COLORREF b) {
  double la = luminance(a), lb = luminance(b);
  if (la < lb) std::swap(la, lb);
  return (la + 0.05) / (lb + 0.05);
}

TEST(Contrast, TheFormulaMatchesKnownValues) {
  EXPECT_NEAR(contrast(RGB(0, 0, 0), RGB(255, 255, 255)), 21.0, 1e-9);
  EXPECT_NEAR(contrast(RGB(119, 119, 119), RGB(255, 255, 255)), 4.48, 0.01);  // the classic near miss
  EXPECT_NEAR(contrast(RGB(10, 10, 10), RGB(10, 10, 10)), 1.0, 1e-9);
}

struct Pair {
  COLORREF foreground, background;
  const char* where;
};

// Texts that carry information: at least 4.5:1.
const Pair TEXT_PAIRS[] = {
    {COLOR_TEXT, COLOR_SIDEBAR, "library row titles"},
    {COLOR_TEXT, COLOR_SURFACE_RAISED, "selected row title, hovered secondary label, chosen level"},
    {COLOR_TEXT, COLOR_SURFACE, "hovered row title, card texts, chips, secondary labels, value boxes"},
    {COLOR_TEXT, COLOR_BACKDROP, "titles, status label and stage text over the backdrop"},
    {COLOR_TEXT_SECONDARY, COLOR_SIDEBAR, "row region and status text"},
    {COLOR_TEXT_SECONDARY, COLOR_SURFACE_RAISED, "selected row region and status text"},
    {COLOR_TEXT_SECONDARY, COLOR_SURFACE, "detail labels, legend names, controller subtitle"},
    {COLOR_TEXT_SECONDARY, COLOR_BACKDROP, "hints, notes, descriptions, the status line, percentage"},
    {COLOR_TEXT_MUTED, COLOR_SIDEBAR, "LIBRARY, No games yet"},
    {COLOR_TEXT_MUTED, COLOR_SURFACE, "legend arrow, empty detail values, disabled secondary labels"},
    {COLOR_TEXT_MUTED, COLOR_SURFACE_RAISED, "muted text on a raised surface"},
    {COLOR_TEXT_MUTED, COLOR_BACKDROP, "muted text over the backdrop"},
    {COLOR_BACKDROP, COLOR_ACCENT, "primary labels, the selected segment"},
    {COLOR_BACKDROP, COLOR_ACCENT_HOVER, "hovered primary label"},
    {COLOR_ACCENT_DISABLED_TEXT, COLOR_ACCENT_DISABLED, "disabled primary label"},
    {COLOR_ERROR, COLOR_BACKDROP, "error in the status line"},
    {COLOR_ERROR, COLOR_SURFACE, "missing game files in the Disc card"},
    {COLOR_WARNING, COLOR_BACKDROP, "different revision note"},
    {COLOR_WARNING, COLOR_SURFACE, "different revision MD5 in the Disc card"},
};

// Indicators that are not text: at least 3:1 against what they sit on.
const Pair INDICATOR_PAIRS[] = {
    {COLOR_OUTLINE, COLOR_BACKDROP, "secondary button and value box outlines in the main pane"},
    {COLOR_OUTLINE, COLOR_SIDEBAR, "sidebar button outlines"},
    {COLOR_OUTLINE, COLOR_SURFACE, "outline against the control's own fill"},
    {COLOR_OUTLINE, COLOR_BACKDROP, "switch track when off"},
    {COLOR_TEXT, COLOR_OUTLINE, "switch knob on the off track"},
    {COLOR_ACCENT, COLOR_BACKDROP, "switch track when on"},
    {COLOR_BACKDROP, COLOR_ACCENT, "switch knob on the on track"},
    {COLOR_BORDER_HOVER, COLOR_OUTLINE, "hovered button outline against its resting outline"},
    {COLOR_BORDER_HOVER, COLOR_SIDEBAR, "hovered library row outline"},
    {COLOR_BORDER_HOVER, COLOR_SURFACE, "hovered segment or stepper button inside its box"},
    {COLOR_BORDER_HOVER, COLOR_BACKDROP, "hovered button outline against the backdrop"},
    {COLOR_ACCENT, COLOR_SURFACE_RAISED, "selection bar of the selected row"},
    {COLOR_ACCENT, COLOR_SURFACE, "progress fill on its track"},
    {COLOR_ACCENT, COLOR_SURFACE_RAISED, "accent outline of a chosen level"},
    {COLOR_FOCUS_RING, COLOR_BACKDROP, "focus ring in the main pane"},
    {COLOR_FOCUS_RING, COLOR_SIDEBAR, "focus ring in the sidebar"},
    {COLOR_FOCUS_RING, COLOR_SURFACE, "focus ring inside a box"},
    {COLOR_FOCUS_RING, COLOR_SURFACE_RAISED, "focus ring on a raised surface"},
};

TEST(Contrast, InformationTextReachesFourAndAHalf) {
  for (const Pair& p : TEXT_PAIRS)
    EXPECT_GE(contrast(p.foreground, p.background), 4.5) << p.where;
}

TEST(Contrast, IndicatorsReachThree) {
  for (const Pair& p : INDICATOR_PAIRS)
    EXPECT_GE(contrast(p.foreground, p.background), 3.0) << p.where;
}

TEST(Contrast, StatusDotsStandOutOnEveryRow) {
  // The dot beside a status: on a plain, hovered or selected row and over the backdrop.
  for (COLORREF dot : {COLOR_ACCENT, COLOR_ERROR, COLOR_WARNING, COLOR_SUCCESS, COLOR_TEXT_MUTED})
    for (COLORREF row : {COLOR_SIDEBAR, COLOR_SURFACE, COLOR_SURFACE_RAISED, COLOR_BACKDROP})
      EXPECT_GE(contrast(dot, row), 3.0) << std::hex << dot << " on " << row;
}

// ---- High contrast ---------------------------------------------------------------

bool g_theme_on;
bool theme_query() { return g_theme_on; }

struct HighContrastTest : ::testing::Test {
  void SetUp() override {
    saved = high_contrast_query;
    high_contrast_query = theme_query;
  }
  void TearDown() override {
    g_theme_on = false;
    read_high_contrast();
    high_contrast_query = saved;
  }
  bool (*saved)() = nullptr;
};

TEST_F(HighContrastTest, ColourRolesBecomeSystemColoursOnlyWhileTheThemeIsOn) {
  struct Role {
    COLORREF palette;
    int system;
  };
  const Role roles[] = {
      {COLOR_BACKDROP, COLOR_WINDOW},         {COLOR_SIDEBAR, COLOR_WINDOW},
      {COLOR_SURFACE, COLOR_WINDOW},          {COLOR_SURFACE_RAISED, COLOR_WINDOW},
      {COLOR_TEXT, COLOR_WINDOWTEXT},         {COLOR_TEXT_SECONDARY, COLOR_WINDOWTEXT},
      {COLOR_TEXT_MUTED, COLOR_GRAYTEXT},     {COLOR_ACCENT, COLOR_HIGHLIGHT},
      {COLOR_OUTLINE, COLOR_WINDOWTEXT},      {COLOR_BORDER, COLOR_WINDOWTEXT},
      {COLOR_BORDER_HOVER, COLOR_HIGHLIGHT},  {COLOR_ACCENT_DISABLED_TEXT, COLOR_GRAYTEXT},
      {COLOR_ERROR, COLOR_WINDOWTEXT},
  };
  fresh_state(1.0f);
  g_theme_on = false;
  read_high_contrast();
  for (const Role& r : roles) EXPECT_EQ(shown_colour(r.palette), r.palette);
  g_theme_on = true;
  read_high_contrast();
  EXPECT_TRUE(high_contrast());
  for (const Role& r : roles) EXPECT_EQ(shown_colour(r.palette), GetSysColor(r.system)) << std::hex << r.palette;
  EXPECT_EQ(shown_colour(RGB(1, 2, 3)), RGB(1, 2, 3));  // not a palette colour
  // The answer is kept until asked again.
  g_theme_on = false;
  EXPECT_TRUE(high_contrast());
  read_high_contrast();
  EXPECT_FALSE(high_contrast());
}

TEST_F(HighContrastTest, APaintUsesOnlySystemColoursAndLeavesOutTheTileAndBanner) {
  std::set<COLORREF> system_texts = {GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_GRAYTEXT),
                                     GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_WINDOW)};
  std::set<COLORREF> palette = {COLOR_BACKDROP, COLOR_TEXT, COLOR_TEXT_SECONDARY, COLOR_TEXT_MUTED, COLOR_ERROR,
                                COLOR_WARNING, COLOR_SUCCESS, COLOR_ACCENT_DISABLED_TEXT};
  for (bool on : {false, true}) {
    fresh_state(1.0f);
    g_theme_on = on;
    read_high_contrast();
    library_of_two(0, DISC_OK);
    Canvas canvas(1100, 860);
    canvas.paint();
    int L = 324, R = 1076;
    // The banner (24..174 from the top of the main pane) and the star field
    // beside the Disc card: the window colour in the theme, art otherwise.
    COLORREF banner = canvas.pixel(R - 40, 24 + 75);
    COLORREF backdrop = canvas.pixel(L - 12, 500);
    if (on) {
      EXPECT_EQ(banner, GetSysColor(COLOR_WINDOW));
      EXPECT_EQ(backdrop, GetSysColor(COLOR_WINDOW));
      EXPECT_EQ(canvas.pixel(5, 400), GetSysColor(COLOR_WINDOW)) << "sidebar";
      EXPECT_EQ(canvas.pixel(299, 400), GetSysColor(COLOR_WINDOWTEXT)) << "sidebar edge";
      EXPECT_EQ(canvas.pixel(L + 4, 198 + 24), GetSysColor(COLOR_HIGHLIGHT)) << "primary button";
    } else {
      EXPECT_NE(banner, GetSysColor(COLOR_WINDOW));
      EXPECT_EQ(canvas.pixel(5, 400), COLOR_SIDEBAR);
      EXPECT_EQ(canvas.pixel(L + 4, 198 + 24), COLOR_ACCENT);
    }
    for (bool settings : {false, true}) {
      g_state.settings_open = settings;
      for (const DrawnText& t : record_texts(1100, 860)) {
        if (on)
          EXPECT_TRUE(system_texts.count(t.colour)) << narrow(t.text) << " in " << std::hex << t.colour;
        else
          EXPECT_TRUE(palette.count(t.colour)) << narrow(t.text) << " in " << std::hex << t.colour;
      }
    }
  }
}

TEST_F(HighContrastTest, TheOffSwitchStaysVisible) {
  // The knob and the track's outline share the window text colour in the
  // theme, so the off track is hollow: its middle shows the window colour.
  fresh_state(1.0f);
  g_theme_on = true;
  read_high_contrast();
  g_state.settings_open = true;
  g_state.vsync = 0;
  Canvas canvas(1100, 860);
  canvas.paint();
  int y = 24 + 52 + 34 + 66;  // the VSync row
  int track_left = 1076 - 44, mid_y = y + 4 + 11;
  EXPECT_EQ(canvas.pixel(track_left + 28, mid_y), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(canvas.pixel(track_left + 11, mid_y), GetSysColor(COLOR_WINDOWTEXT)) << "knob";
  EXPECT_EQ(canvas.pixel(track_left + 20, y + 4), GetSysColor(COLOR_WINDOWTEXT)) << "track outline";
}

const UiItem* item_of(int32_t id) {
  for (int i = 0; i < g_ui.item_count; i++)
    if (g_ui.items[i].id == id) return &g_ui.items[i];
  return nullptr;
}

TEST_F(HighContrastTest, FocusRingAndDisabledPrimaryButtonKeepToTheSystemColours) {
  // The primary button, enabled (a disc ready to build, the keyboard focus
  // on it) and disabled (a disc this launcher cannot build). The ring lies
  // px(3) outside the button on the window colour, so only the window text
  // colour is sure to show against it; a disabled button's outline is the
  // grey text of its label, or its shape would vanish into a black face on a
  // black window.
  struct Case {
    DiscStatus status;
    bool enabled;
  };
  for (const Case c : {Case{DISC_OK, true}, Case{DISC_UNSUPPORTED, false}}) {
    fresh_state(1.0f);
    g_theme_on = true;
    read_high_contrast();
    library_of_two(0, c.status);
    g_ui.focus_id = CMD_PRIMARY_ACTION;
    g_ui.focus_arg = 0;
    g_ui.focus_visible = true;
    Canvas canvas(1100, 860);
    canvas.paint();
    const UiItem* button = item_of(CMD_PRIMARY_ACTION);
    ASSERT_NE(button, nullptr) << c.status;
    EXPECT_EQ((button->flags & UI_ITEM_DISABLED) == 0, c.enabled) << c.status;
    int mid_y = (button->rect.top + button->rect.bottom) / 2;
    int left = button->rect.left;
    if (c.enabled) {
      // The ring is drawn after the items are recorded, so one paint shows
      // it; a disabled button never holds the focus.
      EXPECT_EQ(canvas.pixel(left - 3, mid_y), GetSysColor(COLOR_WINDOWTEXT)) << "outer ring";
      EXPECT_EQ(canvas.pixel(left - 2, mid_y), GetSysColor(COLOR_WINDOWTEXT)) << "inner ring";
    }
    EXPECT_EQ(canvas.pixel(left - 1, mid_y), GetSysColor(COLOR_WINDOW)) << "gap, status " << c.status;
    COLORREF face = GetSysColor(c.enabled ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
    COLORREF edge = c.enabled ? face : GetSysColor(COLOR_GRAYTEXT);
    EXPECT_EQ(canvas.pixel(left, mid_y), edge) << "outline, status " << c.status;
    EXPECT_EQ(canvas.pixel(left + 4, mid_y), face) << "face, status " << c.status;
  }
}

}  // namespace
