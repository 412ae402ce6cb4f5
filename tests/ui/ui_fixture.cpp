// Helpers of the drawing tests; see ui_fixture.h.
#include "ui_fixture.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <string.h>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/image_assets.h"
#include "ui/main_view.h"
#include "ui/ui_state.h"
#include "pipeline/job_status.h"

namespace {

std::wstring g_empty_folder, g_built_folder;

std::wstring temp_folder(const wchar_t* name) {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(base) + L"telvar-ui-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), NULL);
  return folder;
}

void write_file(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
}

// The two folders live for the whole test program and are removed at its end.
class Folders : public ::testing::Environment {
 public:
  void SetUp() override {
    // The launcher initialises COM at start-up; image decoding needs it.
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    g_empty_folder = temp_folder(L"empty");
    g_built_folder = temp_folder(L"built");
    std::wstring game = g_built_folder;
    for (const wchar_t* part : {L"\\games", L"\\mox1", L"\\build", L"\\windows"}) {
      game += part;
      CreateDirectoryW(game.c_str(), NULL);
    }
    write_file(game + L"\\mox1_wrapper.exe");
    write_file(game + L"\\mox1_game.dll");
  }
  void TearDown() override {
    std::wstring game = g_built_folder + L"\\games\\mox1\\build\\windows";
    DeleteFileW((game + L"\\mox1_wrapper.exe").c_str());
    DeleteFileW((game + L"\\mox1_game.dll").c_str());
    RemoveDirectoryW(game.c_str());
    RemoveDirectoryW((g_built_folder + L"\\games\\mox1\\build").c_str());
    RemoveDirectoryW((g_built_folder + L"\\games\\mox1").c_str());
    RemoveDirectoryW((g_built_folder + L"\\games").c_str());
    RemoveDirectoryW(g_built_folder.c_str());
    RemoveDirectoryW(g_empty_folder.c_str());
  }
};
const auto* const folders_env = ::testing::AddGlobalTestEnvironment(new Folders);

}  // namespace

void fresh_state(float scale, bool keep_images) {
  ImageCache cache;
  NaturalSize sizes[NATURAL_SIZE_CAPACITY];
  if (!keep_images) flush_image_cache();
  for (HFONT& font : g_ui.fonts)
    if (font) DeleteObject(font);
  cache = g_ui.image_cache;
  HBRUSH brush = g_ui.background_brush;
  int32_t tile = g_ui.background_tile, size_count = g_ui.natural_size_count;
  memcpy(sizes, g_ui.natural_sizes, sizeof sizes);
  reset_state();
  reset_job_status();
  reset_ui_state();
  if (keep_images) {
    g_ui.image_cache = cache;
    g_ui.background_brush = brush;
    g_ui.background_tile = tile;
    memcpy(g_ui.natural_sizes, sizes, sizeof sizes);
    g_ui.natural_size_count = size_count;
  }
  g_state.dpi_scale = scale;
  copy_text(g_state.launcher_dir, PATH_UNITS, g_empty_folder.c_str());
  create_fonts();
}

void set_entry(int index, const wchar_t* path, const char* serial, const char* md5, int32_t row, DiscStatus status) {
  LibraryEntry& e = g_state.entries[index];
  copy_text(e.path, PATH_UNITS, path);
  lstrcpynA(e.serial, serial, SERIAL_BYTES);
  lstrcpynA(e.md5, md5, MD5_TEXT_BYTES);
  e.catalog_row = row;
  e.status = status;
}

void library_of_two(int32_t row, DiscStatus status) {
  set_entry(0, L"C:\\discs\\first.iso", "SXPE_100.01", "13f8f1eea32364baadfdd38715f5be80", row, status);
  set_entry(1, L"C:\\discs\\other.iso", "SLES_999.99", "", -1, DISC_UNKNOWN);
  g_state.entry_count = 2;
  g_state.selected = 0;
}

void use_built_folder() { copy_text(g_state.launcher_dir, PATH_UNITS, g_built_folder.c_str()); }

Canvas::Canvas(int w, int h) : width(w), height(h) {
  void* pixels = nullptr;
  dc = CreateCompatibleDC(NULL);
  bitmap = create_top_down_bitmap(w, h, &pixels);
  bits = (const uint8_t*)pixels;
  previous = SelectObject(dc, bitmap);
}

Canvas::~Canvas() {
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

void Canvas::paint() {
  RECT client = {0, 0, width, height};
  paint_window(dc, &client);
  GdiFlush();
}

COLORREF Canvas::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height || !bits) return CLR_INVALID;
  const uint8_t* p = bits + ((size_t)y * width + x) * 4;
  return RGB(p[2], p[1], p[0]);
}

namespace {
struct Recording {
  COLORREF colour = 0;
  std::vector<DrawnText> texts;
};

int CALLBACK collect(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  Recording& rec = *(Recording*)data;
  if (record->iType == EMR_SETTEXTCOLOR) {
    rec.colour = ((const EMRSETTEXTCOLOR*)record)->crColor;
  } else if (record->iType == EMR_EXTTEXTOUTW) {
    const EMREXTTEXTOUTW* out = (const EMREXTTEXTOUTW*)record;
    const wchar_t* text = (const wchar_t*)((const BYTE*)record + out->emrtext.offString);
    rec.texts.push_back({std::wstring(text, out->emrtext.nChars), rec.colour, (int)out->emrtext.ptlReference.x,
                         (int)out->emrtext.ptlReference.y});
  }
  return 1;
}
}  // namespace

std::vector<DrawnText> record_texts(int width, int height) {
  Recording rec;
  HDC dc = CreateEnhMetaFileW(NULL, NULL, NULL, NULL);
  EXPECT_NE(dc, nullptr);
  if (!dc) return rec.texts;
  RECT client = {0, 0, width, height};
  paint_window(dc, &client);
  HENHMETAFILE file = CloseEnhMetaFile(dc);
  EXPECT_NE(file, nullptr);
  if (!file) return rec.texts;
  EnumEnhMetaFile(NULL, file, collect, &rec, NULL);
  DeleteEnhMetaFile(file);
  return rec.texts;
}

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, NULL, NULL);
  return out;
}
