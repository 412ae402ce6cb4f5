// The drawing kit on its own: the scale rule, the seven fonts, and the
// button's centring, pressed offset and region.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui_fixture.h"
#include "ui/ui_state.h"
#include "ui/hit_regions.h"

namespace {

TEST(DrawKit, ScaleRuleRoundsEachLengthOnItsOwn) {
  struct Case {
    float scale;
    int n, device;
  };
  const Case cases[] = {{1.0f, 0, 0},     {1.0f, 171, 171}, {1.25f, 6, 8},    {1.25f, 3, 4},
                        {1.25f, 68, 85},  {1.5f, 1, 2},     {1.5f, 115, 173}, {1.5f, 116, 174},
                        {1.5f, 197, 296}, {1.75f, 7, 12},   {2.0f, 300, 600}, {1.5f, -3, -4}};
  for (const Case& c : cases) {
    g_state.dpi_scale = c.scale;
    EXPECT_EQ(px(c.n), c.device) << c.n << " at " << c.scale;
  }
  // Each constant on its own: 24 + 12 at 1.25 is 30 + 15, not px(36) = 45.
  g_state.dpi_scale = 1.25f;
  EXPECT_EQ(px(24) + px(12), 45);
  g_state.dpi_scale = 1.1f;
  EXPECT_NE(px(24) + px(12), px(36));
}

TEST(DrawKit, SevenFontsAtTheScaleAndTheOldOnesFreed) {
  struct Role {
    FontRole role;
    int size, weight;
  };
  const Role roles[] = {{FONT_TITLE, 30, 600}, {FONT_HEADING, 15, 600}, {FONT_BODY, 14, 400},
                        {FONT_STRONG, 15, 600}, {FONT_SMALL, 12, 400},  {FONT_WORDMARK, 17, 700},
                        {FONT_CONTROL, 14, 600}};
  for (float scale : {1.0f, 1.5f, 2.25f}) {
    fresh_state(scale);
    HFONT before[FONT_COUNT];
    for (int i = 0; i < FONT_COUNT; i++) before[i] = g_ui.fonts[i];
    create_fonts();
    for (const Role& r : roles) {
      HFONT font = g_ui.fonts[r.role];
      ASSERT_NE(font, nullptr);
      LOGFONTW info = {};
      ASSERT_EQ(GetObjectW(font, sizeof info, &info), (int)sizeof info);
      EXPECT_EQ(info.lfHeight, -px(r.size)) << r.role << " at " << scale;
      EXPECT_EQ(info.lfWeight, r.weight) << r.role;
      EXPECT_EQ(info.lfQuality, CLEARTYPE_QUALITY);
      EXPECT_STREQ(info.lfFaceName, L"Segoe UI");
      EXPECT_EQ(GetObjectType(before[r.role]), 0u) << "the font made before was not deleted";
    }
    // Heading and strong share their parameters but are two handles.
    EXPECT_NE(g_ui.fonts[FONT_HEADING], g_ui.fonts[FONT_STRONG]);
  }
}

// Draws one button into a metafile and returns its texts.
std::vector<DrawnText> button_texts(RECT rect, const wchar_t* label, bool primary, bool enabled, int icon) {
  std::vector<DrawnText> out;
  HDC dc = CreateEnhMetaFileW(NULL, NULL, NULL, NULL);
  draw_button(dc, rect, label, CMD_OPEN_SETTINGS, 0, primary, enabled, icon);
  HENHMETAFILE file = CloseEnhMetaFile(dc);
  struct Sink {
    static int CALLBACK collect(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
      if (record->iType == EMR_EXTTEXTOUTW) {
        const EMREXTTEXTOUTW* t = (const EMREXTTEXTOUTW*)record;
        const wchar_t* text = (const wchar_t*)((const BYTE*)record + t->emrtext.offString);
        ((std::vector<DrawnText>*)data)
            ->push_back({std::wstring(text, t->emrtext.nChars), 0, (int)t->emrtext.ptlReference.x,
                         (int)t->emrtext.ptlReference.y});
      }
      return 1;
    }
  };
  EnumEnhMetaFile(NULL, file, Sink::collect, &out, NULL);
  DeleteEnhMetaFile(file);
  return out;
}

int label_width(const wchar_t* label, FontRole font) {
  HDC dc = CreateCompatibleDC(NULL);
  SelectObject(dc, g_ui.fonts[font]);
  SIZE size = {};
  GetTextExtentPoint32W(dc, label, (int)wcslen(label), &size);
  DeleteDC(dc);
  return size.cx;
}

TEST(DrawKit, ButtonCentresIconAndLabelTogether) {
  struct Case {
    const wchar_t* label;
    bool primary;
    int icon;
    RECT rect;
  };
  const Case cases[] = {
      {L"Settings", false, 129, {100, 10, 300, 50}},
      {L"Build", true, 121, {324, 198, 494, 246}},
      {L"Done", false, 0, {986, 28, 1076, 60}},
      // Wider than its button: still centred, running past both edges, whole.
      {L"A label far wider than the button it sits in", false, 0, {100, 10, 140, 50}},
      {L"A label far wider than the button it sits in", true, 120, {100, 10, 140, 50}},
  };
  for (float scale : {1.0f, 1.5f}) {
    fresh_state(scale);
    for (const Case& c : cases) {
      int cx = label_width(c.label, c.primary ? FONT_STRONG : FONT_CONTROL);
      int content = cx + (c.icon ? px(18) + px(8) : 0);
      int x = (c.rect.left + c.rect.right - content) / 2 + (c.icon ? px(18) + px(8) : 0);
      std::vector<DrawnText> texts = button_texts(c.rect, c.label, c.primary, true, c.icon);
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_EQ(texts[0].text, c.label);
      EXPECT_EQ(texts[0].x, x) << narrow(c.label) << " at " << scale;
      if (cx > c.rect.right - c.rect.left) {
        EXPECT_LT(texts[0].x, c.rect.left);
      }
    }
  }
}

TEST(DrawKit, OnlyAnEnabledButtonRecordsItsRegion) {
  fresh_state(1.0f);
  Canvas canvas(200, 100);
  RECT rect = {10, 10, 110, 50};
  draw_button(canvas.dc, rect, L"Off", CMD_REBUILD, 0, false, false, 126);
  EXPECT_EQ(g_ui.hit_region_count, 0);
  draw_button(canvas.dc, rect, L"On", CMD_REBUILD, 3, true, true, 126);
  ASSERT_EQ(g_ui.hit_region_count, 1);
  EXPECT_TRUE(EqualRect(&g_ui.hit_regions[0].rect, &rect));
  EXPECT_EQ(g_ui.hit_regions[0].id, CMD_REBUILD);
  EXPECT_EQ(g_ui.hit_regions[0].arg, 3);
  // Pressed elsewhere (another argument): drawn and recorded in place.
  g_ui.hovered_id = CMD_REBUILD;
  g_ui.hovered_arg = 3;
  g_ui.pressed_id = CMD_REBUILD;
  g_ui.pressed_arg = 4;
  draw_button(canvas.dc, rect, L"On", CMD_REBUILD, 3, true, true, 126);
  ASSERT_EQ(g_ui.hit_region_count, 2);
  EXPECT_TRUE(EqualRect(&g_ui.hit_regions[1].rect, &rect));
  // Pressed and hovered: moved down by px(1).
  g_ui.pressed_arg = 3;
  draw_button(canvas.dc, rect, L"On", CMD_REBUILD, 3, true, true, 126);
  ASSERT_EQ(g_ui.hit_region_count, 3);
  EXPECT_EQ(g_ui.hit_regions[2].rect.top, 11);
  EXPECT_EQ(g_ui.hit_regions[2].rect.bottom, 51);
  // Pressed while disabled: no move, no region.
  draw_button(canvas.dc, rect, L"Off", CMD_REBUILD, 3, true, false, 126);
  EXPECT_EQ(g_ui.hit_region_count, 3);
}

TEST(DrawKit, TheRegionListStopsAtItsCapacity) {
  fresh_state(1.0f);
  Canvas canvas(200, 100);
  for (int i = 0; i < HIT_REGION_CAPACITY + 5; i++)
    draw_button(canvas.dc, RECT{0, 0, 10, 10}, L"x", CMD_SELECT_ENTRY, i, false, true, 0);
  EXPECT_EQ(g_ui.hit_region_count, HIT_REGION_CAPACITY);
  EXPECT_EQ(g_ui.hit_regions[HIT_REGION_CAPACITY - 1].arg, HIT_REGION_CAPACITY - 1);
}

}  // namespace
