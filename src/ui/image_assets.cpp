// Image assets: PNG resources decoded in place from the executable with WIC,
// scaled with the Fant filter to the exact device size a view asks for,
// converted to premultiplied BGRA in a top-down DIB section, optionally
// recoloured to a silhouette of one tint, and kept in a cache of at most
// IMAGE_CACHE_CAPACITY bitmaps that is emptied whole when full. An image with
// no transparent pixel is copied rather than blended: the same pixels, faster.
//
// Refuses sizes outside 1..IMAGE_SIDE_MAX; a missing resource or a failing
// decoder gives no bitmap and the caller draws its fallback. Memory: the
// cache records and natural sizes live in the state record; the bitmaps are
// GDI DIB sections; the WIC factory is made once and kept for the process.
#include "ui/image_assets.h"

#include <string.h>

#include "core/state.h"
#include "ui/draw_kit.h"
#include "ui/ui_state.h"
#include "ui/image_ids.h"
#include "ui/paint_cache.h"

// CLSID_WICImagingFactory1 and IID_IWICImagingFactory, spelled out so that
// the factory class does not depend on which one the headers default to.
static const GUID CLSID_FACTORY1 = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
static const GUID IID_FACTORY = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};

static IWICImagingFactory* g_factory;  // the window thread's, made on first use, never released

static IWICImagingFactory* make_factory() {
  void* made = NULL;
  if (FAILED(CoCreateInstance(CLSID_FACTORY1, NULL, CLSCTX_INPROC_SERVER, IID_FACTORY, &made))) return NULL;
  return (IWICImagingFactory*)made;
}

static IWICImagingFactory* factory() {
  if (!g_factory) g_factory = make_factory();
  return g_factory;
}

HBITMAP create_top_down_bitmap(int width, int height, void** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(NULL, &info, DIB_RGB_COLORS, bits, NULL, 0);
}

// The bytes of the RCDATA resource id, mapped for the life of the process;
// null when there is none.
static const BYTE* resource_bytes(int id, DWORD* size) {
  HRSRC info = FindResourceW(NULL, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return NULL;
  HGLOBAL loaded = LoadResource(NULL, info);
  const BYTE* bytes = loaded ? (const BYTE*)LockResource(loaded) : NULL;
  *size = SizeofResource(NULL, info);
  return bytes && *size > 0 ? bytes : NULL;
}

// The frame of the resource, decoded by the factory wic (each thread that
// decodes has its own).
static IWICBitmapFrameDecode* load_image_frame_with(IWICImagingFactory* wic, int id) {
  if (!wic) return NULL;
  DWORD size = 0;
  const BYTE* bytes = resource_bytes(id, &size);
  if (!bytes) return NULL;

  IWICStream* stream = NULL;
  IWICBitmapDecoder* decoder = NULL;
  IWICBitmapFrameDecode* frame = NULL;
  // The resource stays mapped for the life of the process, so the stream
  // reads it in place without a copy.
  if (SUCCEEDED(wic->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromMemory((BYTE*)bytes, size)) &&
      SUCCEEDED(wic->CreateDecoderFromStream(stream, NULL, WICDecodeMetadataCacheOnDemand, &decoder))) {
    if (FAILED(decoder->GetFrame(0, &frame))) frame = NULL;
  }
  if (decoder) decoder->Release();
  if (stream) stream->Release();
  return frame;
}

IWICBitmapFrameDecode* load_image_frame(int id) { return load_image_frame_with(factory(), id); }

// Recolours premultiplied pixels to a silhouette of their own alpha in the
// tint: each channel becomes floor(a * c / 255). (a * c * 32897) >> 23 gives
// exactly that quotient for every a and c in 0..255 without a division.
static void tint_pixels(uint8_t* bgra, size_t pixels, COLORREF tint) {
  uint32_t r = GetRValue(tint), g = GetGValue(tint), b = GetBValue(tint);
  for (size_t i = 0; i < pixels; i++, bgra += 4) {
    uint32_t a = bgra[3];
    bgra[0] = (uint8_t)((a * b * 32897u) >> 23);
    bgra[1] = (uint8_t)((a * g * 32897u) >> 23);
    bgra[2] = (uint8_t)((a * r * 32897u) >> 23);
  }
}

// The image at width x height, scaled from the decoder's frame and tinted
// when asked, decoded with the factory wic (each thread that decodes has its
// own; GDI's bitmaps serve every thread).
static HBITMAP decode_scaled_with(IWICImagingFactory* wic, int id, int width, int height, bool tinted,
                                  COLORREF tint) {
  IWICBitmapFrameDecode* frame = load_image_frame_with(wic, id);
  if (!frame) return NULL;
  IWICBitmapScaler* scaler = NULL;
  IWICFormatConverter* converter = NULL;
  HBITMAP bitmap = NULL;
  void* bits = NULL;
  if (SUCCEEDED(wic->CreateBitmapScaler(&scaler)) &&
      SUCCEEDED(scaler->Initialize(frame, (UINT)width, (UINT)height, WICBitmapInterpolationModeFant)) &&
      SUCCEEDED(wic->CreateFormatConverter(&converter)) &&
      SUCCEEDED(converter->Initialize(scaler, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, NULL,
                                      0.0, WICBitmapPaletteTypeCustom))) {
    bitmap = create_top_down_bitmap(width, height, &bits);  // top-down rows, as WIC writes them
    if (bitmap) {
      UINT stride = (UINT)width * 4;
      UINT total = stride * (UINT)height;  // at most 8192 * 8192 * 4, below 2^32
      if (FAILED(converter->CopyPixels(NULL, stride, total, (BYTE*)bits))) {
        DeleteObject(bitmap);
        bitmap = NULL;
      } else if (tinted) {
        GdiFlush();
        tint_pixels((uint8_t*)bits, (size_t)width * (size_t)height, tint);
      }
    }
  }
  if (converter) converter->Release();
  if (scaler) scaler->Release();
  frame->Release();
  return bitmap;
}

// ---- Decoding ahead ----------------------------------------------------------
// A helper thread decodes and scales the big pictures of the first frame
// while the window thread reads the library and makes the window. Each record
// passes from PREFETCH_WAITING to PREFETCH_DECODING (the helper took it) to
// PREFETCH_DONE, or to PREFETCH_TAKEN when the window thread took it: the
// bitmap when done, or the work itself when the helper had not begun it. The
// window thread waits only for an image the helper is at that moment, which
// it would otherwise have to decode itself from the start.

enum PrefetchState : LONG { PREFETCH_WAITING, PREFETCH_DECODING, PREFETCH_DONE, PREFETCH_TAKEN };

struct PrefetchedImage {
  ImageRequest request;  // id and the size it is made at, untinted
  LONG state;            // PrefetchState
  HBITMAP bitmap;        // PREFETCH_DONE: the image, or null when it could not be made
};

static SRWLOCK g_prefetch_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE g_prefetch_ready = CONDITION_VARIABLE_INIT;
static PrefetchedImage g_prefetch[IMAGE_PREFETCH_CAPACITY];
static int g_prefetch_count;
static bool g_prefetch_ended;     // end_image_prefetch ran: nothing more is kept
static int g_prefetch_used;       // images the window thread took from the helper

static DWORD WINAPI prefetch_thread(LPVOID) {
  // WIC objects belong to the thread that made them: this thread has its own
  // apartment and factory, and hands over GDI bitmaps only.
  HRESULT com = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  IWICImagingFactory* wic = make_factory();
  for (int i = 0; i < g_prefetch_count && wic; i++) {
    PrefetchedImage& image = g_prefetch[i];
    AcquireSRWLockExclusive(&g_prefetch_lock);
    bool mine = image.state == PREFETCH_WAITING && !g_prefetch_ended;
    if (mine) image.state = PREFETCH_DECODING;
    ReleaseSRWLockExclusive(&g_prefetch_lock);
    if (!mine) continue;
    HBITMAP bitmap = decode_scaled_with(wic, image.request.id, image.request.width, image.request.height, false, 0);
    AcquireSRWLockExclusive(&g_prefetch_lock);
    if (g_prefetch_ended && bitmap) {
      DeleteObject(bitmap);  // nobody will ask for it any more
      bitmap = NULL;
    }
    image.bitmap = bitmap;
    image.state = PREFETCH_DONE;
    WakeAllConditionVariable(&g_prefetch_ready);
    ReleaseSRWLockExclusive(&g_prefetch_lock);
  }
  // Without a factory nothing was made: what is left waits for the window.
  AcquireSRWLockExclusive(&g_prefetch_lock);
  for (int i = 0; i < g_prefetch_count; i++)
    if (g_prefetch[i].state == PREFETCH_WAITING) g_prefetch[i].state = PREFETCH_TAKEN;
  WakeAllConditionVariable(&g_prefetch_ready);
  ReleaseSRWLockExclusive(&g_prefetch_lock);
  if (wic) wic->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

bool start_image_prefetch(const ImageRequest* images, int count) {
  if (g_prefetch_count > 0 || count < 1) return false;  // once per process
  if (count > IMAGE_PREFETCH_CAPACITY) count = IMAGE_PREFETCH_CAPACITY;
  int kept = 0;
  for (int i = 0; i < count; i++) {
    const ImageRequest& r = images[i];
    if (r.width < 1 || r.width > IMAGE_SIDE_MAX || r.height < 1 || r.height > IMAGE_SIDE_MAX) continue;
    memset(&g_prefetch[kept], 0, sizeof g_prefetch[kept]);
    g_prefetch[kept].request = r;
    g_prefetch[kept].state = PREFETCH_WAITING;
    kept++;
  }
  if (kept == 0) return false;
  g_prefetch_count = kept;  // before the thread starts: it reads the list unlocked
  HANDLE thread = CreateThread(NULL, 0, prefetch_thread, NULL, 0, NULL);
  if (!thread) {
    g_prefetch_count = 0;
    return false;
  }
  CloseHandle(thread);  // never joined: it ends after its last image
  return true;
}

// Window side: the helper's bitmap of id at exactly width x height untinted,
// waiting while the helper makes it; null when it has none (the caller then
// decodes it). A record the helper has not begun is taken from it, so that
// the two never decode the same image.
static HBITMAP take_prefetched(int id, int width, int height, bool tinted) {
  if (tinted) return NULL;
  HBITMAP bitmap = NULL;
  AcquireSRWLockExclusive(&g_prefetch_lock);
  for (int i = 0; i < g_prefetch_count; i++) {
    PrefetchedImage& image = g_prefetch[i];
    if (image.request.id != id || image.request.width != width || image.request.height != height) continue;
    if (image.state == PREFETCH_WAITING) image.state = PREFETCH_TAKEN;
    while (image.state == PREFETCH_DECODING)
      SleepConditionVariableSRW(&g_prefetch_ready, &g_prefetch_lock, INFINITE, 0);
    if (image.state == PREFETCH_DONE) {
      bitmap = image.bitmap;
      image.bitmap = NULL;
      image.state = PREFETCH_TAKEN;
    }
    break;
  }
  ReleaseSRWLockExclusive(&g_prefetch_lock);
  if (bitmap) g_prefetch_used++;
  return bitmap;
}

void end_image_prefetch() {
  AcquireSRWLockExclusive(&g_prefetch_lock);
  g_prefetch_ended = true;
  for (int i = 0; i < g_prefetch_count; i++) {
    PrefetchedImage& image = g_prefetch[i];
    if (image.state == PREFETCH_WAITING) image.state = PREFETCH_TAKEN;
    if (image.bitmap) DeleteObject(image.bitmap);
    image.bitmap = NULL;
  }
  ReleaseSRWLockExclusive(&g_prefetch_lock);
}

int images_taken_decoded() { return g_prefetch_used; }

int images_decoded_ahead() {
  AcquireSRWLockShared(&g_prefetch_lock);
  int done = 0;
  for (int i = 0; i < g_prefetch_count; i++) done += g_prefetch[i].state == PREFETCH_DONE && g_prefetch[i].bitmap;
  ReleaseSRWLockShared(&g_prefetch_lock);
  return done;
}

static HBITMAP decode_scaled(int id, int width, int height, bool tinted, COLORREF tint) {
  HBITMAP bitmap = take_prefetched(id, width, height, tinted);
  if (bitmap) return bitmap;
  IWICImagingFactory* wic = factory();
  return wic ? decode_scaled_with(wic, id, width, height, tinted, tint) : NULL;
}

// True when every pixel of the width x height premultiplied bitmap has alpha
// 255. Such an image (the banner, the tile) covers what lies beneath it
// whole: AlphaBlend would give each pixel the image's own value, which a
// plain copy gives at a fraction of the cost.
static bool every_pixel_opaque(HBITMAP bitmap, int width, int height) {
  DIBSECTION dib;
  if (GetObjectW(bitmap, sizeof dib, &dib) != (int)sizeof dib || !dib.dsBm.bmBits) return false;
  GdiFlush();
  const uint8_t* pixel = (const uint8_t*)dib.dsBm.bmBits;
  size_t count = (size_t)width * (size_t)height;
  for (size_t i = 0; i < count; i++, pixel += 4)
    if (pixel[3] != 255) return false;
  return true;
}

// The cache record of the image at this size and tint, decoded when missing;
// null when it cannot be made.
static const CachedImage* scaled_image_record(int id, int width, int height, bool tinted, COLORREF tint) {
  if (width < 1 || width > IMAGE_SIDE_MAX || height < 1 || height > IMAGE_SIDE_MAX) return NULL;
  ImageCache& cache = g_ui.image_cache;
  for (int i = 0; i < cache.count; i++) {
    const CachedImage& r = cache.records[i];
    if (r.id == id && r.width == width && r.height == height && r.tinted == (tinted ? 1 : 0) &&
        (!tinted || r.tint == tint))
      return &r;
  }
  HBITMAP bitmap = decode_scaled(id, width, height, tinted, tint);
  if (!bitmap) return NULL;
  if (cache.count >= IMAGE_CACHE_CAPACITY) flush_image_cache();
  CachedImage& r = cache.records[cache.count++];
  r.id = id;
  r.width = width;
  r.height = height;
  r.tinted = tinted ? 1 : 0;
  r.tint = tinted ? tint : 0;
  r.bitmap = bitmap;
  r.opaque = every_pixel_opaque(bitmap, width, height) ? 1 : 0;
  return &r;
}

HBITMAP get_scaled_image(int id, int width, int height, bool tinted, COLORREF tint) {
  const CachedImage* r = scaled_image_record(id, width, height, tinted, tint);
  return r ? r->bitmap : NULL;
}

bool draw_image(HDC dc, int id, int width, int height, int sx, int sy, int dw, int dh, int x, int y,
                bool tinted, COLORREF tint) {
  const CachedImage* r = scaled_image_record(id, width, height, tinted, tint);
  if (!r) return false;
  HDC memory = CreateCompatibleDC(dc);
  if (!memory) return false;
  HGDIOBJ previous = SelectObject(memory, r->bitmap);
  // Equal source and destination sizes: the scaler made this size, nothing stretches.
  if (r->opaque) {
    BitBlt(dc, x, y, dw, dh, memory, sx, sy, SRCCOPY);
  } else {
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, dw, dh, memory, sx, sy, dw, dh, blend);
  }
  SelectObject(memory, previous);
  DeleteDC(memory);
  return true;
}

bool draw_image(HDC dc, int id, int width, int height, int x, int y) {
  return draw_image(dc, id, width, height, 0, 0, width, height, x, y, false, 0);
}

// The width and height of a PNG's IHDR chunk, which must come first.
static bool png_header_size(const BYTE* bytes, DWORD size, UINT* width, UINT* height) {
  static const BYTE signature[16] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (size < 24 || memcmp(bytes, signature, sizeof signature) != 0) return false;
  *width = (UINT)bytes[16] << 24 | (UINT)bytes[17] << 16 | (UINT)bytes[18] << 8 | bytes[19];
  *height = (UINT)bytes[20] << 24 | (UINT)bytes[21] << 16 | (UINT)bytes[22] << 8 | bytes[23];
  return true;
}

// The natural size of an image, measured once and remembered while there is room.
static bool natural_size(int id, int* width, int* height) {
  for (int i = 0; i < g_ui.natural_size_count; i++) {
    if (g_ui.natural_sizes[i].id == id) {
      *width = g_ui.natural_sizes[i].width;
      *height = g_ui.natural_sizes[i].height;
      return true;
    }
  }
  // The PNG header holds the size: decoding the image for it (the whole of
  // it, with some decoders) would cost as much as the picture itself.
  UINT w = 0, h = 0;
  DWORD size = 0;
  const BYTE* bytes = resource_bytes(id, &size);
  if (!bytes || !png_header_size(bytes, size, &w, &h)) {
    IWICBitmapFrameDecode* frame = load_image_frame(id);
    if (!frame) return false;
    HRESULT hr = frame->GetSize(&w, &h);
    frame->Release();
    if (FAILED(hr)) return false;
  }
  if (w == 0 || h == 0) return false;
  *width = (int)w;
  *height = (int)h;
  if (g_ui.natural_size_count < NATURAL_SIZE_CAPACITY) {
    NaturalSize& n = g_ui.natural_sizes[g_ui.natural_size_count++];
    n.id = id;
    n.width = (int)w;
    n.height = (int)h;
  }
  return true;
}

void draw_cover_image(HDC dc, int id, RECT rect) { draw_cover_image(dc, id, rect, 50); }

bool cover_image_size(int id, int bw, int bh, int* sw, int* sh) {
  int nw = 0, nh = 0;
  if (bw <= 0 || bh <= 0 || !natural_size(id, &nw, &nh)) return false;
  double f = (double)bw / nw;
  if ((double)bh / nh > f) f = (double)bh / nh;
  *sw = (int)(nw * f + 0.999);
  *sh = (int)(nh * f + 0.999);
  return true;
}

void draw_cover_image(HDC dc, int id, RECT rect, int anchor_percent) {
  int bw = rect.right - rect.left, bh = rect.bottom - rect.top;
  int sw = 0, sh = 0;
  if (!cover_image_size(id, bw, bh, &sw, &sh)) return;

  // Keep one size of this image: resizing the window would otherwise fill
  // the cache with a banner per width.
  ImageCache& cache = g_ui.image_cache;
  for (int i = 0; i < cache.count;) {
    CachedImage& r = cache.records[i];
    if (r.id == id && !r.tinted && (r.width != sw || r.height != sh)) {
      DeleteObject(r.bitmap);
      cache.records[i] = cache.records[--cache.count];
      continue;
    }
    i++;
  }
  // The crop keeps the right edge (where the sun rises); of the height it
  // keeps the anchor's row where a fitted image would show it.
  if (anchor_percent < 0) anchor_percent = 0;
  if (anchor_percent > 100) anchor_percent = 100;
  int sy = (int)((long long)(sh - bh) * anchor_percent / 100);
  draw_image(dc, id, sw, sh, sw - bw, sy, bw, bh, rect.left, rect.top, false, 0);
}

HBRUSH get_background_brush() {
  int tile = px(171);
  if (g_ui.background_brush && g_ui.background_tile == tile) return g_ui.background_brush;
  if (g_ui.background_brush) DeleteObject(g_ui.background_brush);
  g_ui.background_brush = NULL;
  g_ui.background_tile = 0;
  HBITMAP bitmap = get_scaled_image(IMAGE_TILE, tile, tile, false, 0);
  if (bitmap) {
    g_ui.background_brush = CreatePatternBrush(bitmap);
    if (g_ui.background_brush) g_ui.background_tile = tile;
  }
  return g_ui.background_brush;
}

void flush_image_cache() {
  // Kept parts of the frame hold pixels of these images at this scale.
  flush_paint_cache();
  // The brush goes first: it tiles one of the bitmaps below.
  if (g_ui.background_brush) DeleteObject(g_ui.background_brush);
  g_ui.background_brush = NULL;
  g_ui.background_tile = 0;
  ImageCache& cache = g_ui.image_cache;
  for (int i = 0; i < cache.count; i++) DeleteObject(cache.records[i].bitmap);
  cache.count = 0;
}
