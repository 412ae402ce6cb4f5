// Kept parts of the frame: a paint that copies a kept part back gives the very
// pixels of a paint that draws everything, through the changes the window
// goes through (hover, a build's progress, another disc, a new result of
// identification, a game built meanwhile, a new size, scale or theme), and a
// part is kept at all, so that the comparison is not between two fresh paints.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../support/temp_folder.h"
#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/hit_regions.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "ui/paint_cache.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"
#include "ui_fixture.h"

namespace {

std::vector<uint8_t> pixels_of(const Canvas& canvas) {
  GdiFlush();
  return std::vector<uint8_t>(canvas.bits, canvas.bits + (size_t)canvas.width * canvas.height * 4);
}

// "" when equal, else where the first differing pixel is.
std::string first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width) {
  if (a.size() != b.size()) return "sizes differ";
  for (size_t i = 0; i < a.size(); i += 4)
    if (memcmp(&a[i], &b[i], 4) != 0) {
      size_t p = i / 4;
      return "pixel (" + std::to_string(p % width) + ", " + std::to_string(p / width) + ") differs";
    }
  return "";
}

bool g_theme_high_contrast;
bool theme_query() { return g_theme_high_contrast; }

struct Step {
  const char* name;
  std::function<void(std::unique_ptr<Canvas>&)> change;
  bool kept;  // whether the paint after the change may copy the kept cards back
};

TEST(PaintCache, KeptPartsGiveThePixelsOfAFreshPaint) {
  fresh_state(1.0f);
  // The launcher's folder is one the test may build a game in.
  std::wstring launcher = make_temp_folder(L"paint-cache");
  copy_text(g_state.launcher_dir, PATH_UNITS, launcher.c_str());
  library_of_two(0, DISC_OK);
  set_entry(2, L"C:\\discs\\usa.iso", "SXUS_100.02", "55ca922993aff426916b4722f34fdc96", 1, DISC_OK);
  g_state.entry_count = 3;
  bool (*saved_query)() = high_contrast_query;
  g_theme_high_contrast = false;
  high_contrast_query = theme_query;
  read_high_contrast();

  const Step steps[] = {
      {"nothing changed", [](std::unique_ptr<Canvas>&) {}, true},
      {"the pointer over Settings", [](std::unique_ptr<Canvas>&) { g_ui.hovered_id = CMD_OPEN_SETTINGS; }, true},
      {"a build at 30 %",
       [](std::unique_ptr<Canvas>&) {
         g_ui.hovered_id = 0;
         g_job.running = 1;
         g_job.entry_index = 0;
         g_job.progress = 0.3;
       },
       true},
      {"the build at 60 %", [](std::unique_ptr<Canvas>&) { g_job.progress = 0.6; }, true},
      {"the build ended", [](std::unique_ptr<Canvas>&) { g_job.running = 0; }, true},
      {"another disc selected", [](std::unique_ptr<Canvas>&) { g_state.selected = 2; }, false},
      {"the first disc again", [](std::unique_ptr<Canvas>&) { g_state.selected = 0; }, false},
      {"the selected disc identified anew",
       [](std::unique_ptr<Canvas>&) {
         lstrcpynA(g_state.entries[0].md5, "00000000000000000000000000000001", MD5_TEXT_BYTES);
         g_state.entries[0].status = DISC_OTHER_REVISION;
       },
       false},
      {"its game built in the same launcher folder",
       [&launcher](std::unique_ptr<Canvas>&) {
         std::wstring game = launcher;
         for (const wchar_t* part : {L"\\games", L"\\mox1", L"\\build", L"\\windows"}) {
           game += part;
           CreateDirectoryW(game.c_str(), NULL);
         }
         ASSERT_TRUE(write_bytes(game + L"\\mox1_wrapper.exe", "stand-in"));
         ASSERT_TRUE(write_bytes(game + L"\\mox1_game.dll", "stand-in"));
       },
       false},
      {"a narrower, lower window", [](std::unique_ptr<Canvas>& c) { c.reset(new Canvas(1100, 720)); }, false},
      {"too low for the legend", [](std::unique_ptr<Canvas>& c) { c.reset(new Canvas(1100, 600)); }, false},
      {"back to 1280 x 860", [](std::unique_ptr<Canvas>& c) { c.reset(new Canvas(1280, 860)); }, false},
      // The scale alone: fonts made anew, the image cache not emptied.
      {"scale 1.5",
       [](std::unique_ptr<Canvas>&) {
         g_state.dpi_scale = 1.5f;
         create_fonts();
       },
       false},
      {"a high-contrast theme",
       [](std::unique_ptr<Canvas>&) {
         g_theme_high_contrast = true;
         read_high_contrast();
       },
       false},
      {"nothing changed in it", [](std::unique_ptr<Canvas>&) {}, true},
  };

  // Wide enough that the note under the buttons of a disc not built yet is
  // one line in any font, as the build's note is: a note that needs another
  // line moves the cards, and then nothing kept can be restored.
  std::unique_ptr<Canvas> canvas(new Canvas(1280, 860));
  canvas->paint();
  for (const Step& step : steps) {
    step.change(canvas);
    int32_t before = painted_parts_restored();
    canvas->paint();
    EXPECT_EQ(painted_parts_restored() > before, step.kept) << step.name;
    std::vector<uint8_t> painted = pixels_of(*canvas);
    int32_t regions = g_ui.hit_region_count;
    flush_paint_cache();
    canvas->paint();
    EXPECT_EQ(first_difference(painted, pixels_of(*canvas), canvas->width), "") << step.name;
    EXPECT_EQ(g_ui.hit_region_count, regions) << step.name;
  }

  high_contrast_query = saved_query;
  read_high_contrast();
  flush_paint_cache();
}

// A paint into a metafile records drawing calls, and a clipped paint leaves
// pixels undrawn: neither may be kept, or a later paint would copy back a
// picture with holes.
TEST(PaintCache, PaintsThatCannotBeReadBackWholeKeepNothing) {
  fresh_state(1.0f);
  library_of_two(0, DISC_OK);
  flush_paint_cache();
  Canvas canvas(1100, 860);

  std::vector<DrawnText> texts = record_texts(1100, 860);  // a metafile paint first
  EXPECT_FALSE(texts.empty());
  int32_t before = painted_parts_restored();
  canvas.paint();
  EXPECT_EQ(painted_parts_restored(), before) << "a metafile paint kept the cards";

  // A paint clipped to the top half, as a repaint of part of a window would
  // be (a meta region, which the painter's own clips cannot lift): the
  // cards' lower part is never drawn.
  flush_paint_cache();
  int saved = SaveDC(canvas.dc);
  HRGN top_half = CreateRectRgn(0, 0, 1100, 430);
  SelectClipRgn(canvas.dc, top_half);
  SetMetaRgn(canvas.dc);
  canvas.paint();
  RestoreDC(canvas.dc, saved);
  DeleteObject(top_half);
  before = painted_parts_restored();
  canvas.paint();
  EXPECT_EQ(painted_parts_restored(), before) << "a clipped paint kept the cards";
  std::vector<uint8_t> drawn = pixels_of(canvas);
  before = painted_parts_restored();
  canvas.paint();  // now from the whole paint just made
  EXPECT_GT(painted_parts_restored(), before);
  EXPECT_EQ(first_difference(drawn, pixels_of(canvas), 1100), "");
  flush_paint_cache();
}

}  // namespace
