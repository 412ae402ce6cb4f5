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

#include <new>

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

// ---- Decoding ahead ----------------------------------------------------------
// A helper thread decodes the big pictures of the first frame into plain
// memory while the window thread makes the window. Each record passes from
// PREFETCH_WAITING to PREFETCH_DECODING (the helper took it) to PREFETCH_DONE,
// or to PREFETCH_TAKEN when the window thread took it: the pixels when done,
// or the work itself when the helper had not begun it. The window thread
// waits only for an image the helper is decoding at that moment, which it
// would otherwise have to decode itself from the start.

enum PrefetchState : LONG { PREFETCH_WAITING, PREFETCH_DECODING, PREFETCH_DONE, PREFETCH_TAKEN };

struct PrefetchedImage {
  int id;
  LONG state;                  // PrefetchState
  UINT width, height;          // natural size, once decoded
  WICPixelFormatGUID format;   // the decoder's own pixel format
  BYTE* pixels;                // width * 4 * height bytes from the process heap; null when it failed
};

static SRWLOCK g_prefetch_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE g_prefetch_ready = CONDITION_VARIABLE_INIT;
static PrefetchedImage g_prefetch[IMAGE_PREFETCH_CAPACITY];
static int g_prefetch_count;
static bool g_prefetch_ended;     // end_image_prefetch ran: nothing more is kept
static int g_prefetch_used;       // images the window thread took decoded

// The helper's decode of one image: the frame's pixels as the decoder gives
// them, so that scaling them afterwards gives exactly what scaling the frame
// gives. Only 32-bit formats are kept; anything else is left to the window
// thread's usual path.
static void decode_ahead(IWICImagingFactory* wic, PrefetchedImage* image) {
  UINT width = 0, height = 0;
  WICPixelFormatGUID format = {};
  BYTE* pixels = NULL;
  IWICBitmapFrameDecode* frame = load_image_frame_with(wic, image->id);
  if (frame && SUCCEEDED(frame->GetSize(&width, &height)) && SUCCEEDED(frame->GetPixelFormat(&format)) &&
      width >= 1 && width <= IMAGE_SIDE_MAX && height >= 1 && height <= IMAGE_SIDE_MAX &&
      (IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA) || IsEqualGUID(format, GUID_WICPixelFormat32bppPBGRA) ||
       IsEqualGUID(format, GUID_WICPixelFormat32bppBGR))) {
    UINT stride = width * 4, total = stride * height;
    pixels = (BYTE*)HeapAlloc(GetProcessHeap(), 0, total);
    if (pixels && FAILED(frame->CopyPixels(NULL, stride, total, pixels))) {
      HeapFree(GetProcessHeap(), 0, pixels);
      pixels = NULL;
    }
  }
  if (frame) frame->Release();
  AcquireSRWLockExclusive(&g_prefetch_lock);
  if (g_prefetch_ended && pixels) {
    HeapFree(GetProcessHeap(), 0, pixels);  // nobody will ask for it any more
    pixels = NULL;
  }
  image->width = width;
  image->height = height;
  image->format = format;
  image->pixels = pixels;
  image->state = PREFETCH_DONE;
  WakeAllConditionVariable(&g_prefetch_ready);
  ReleaseSRWLockExclusive(&g_prefetch_lock);
}

static DWORD WINAPI prefetch_thread(LPVOID) {
  // WIC objects belong to the thread that made them: this thread has its own
  // apartment and factory, and hands over plain memory only.
  HRESULT com = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  IWICImagingFactory* wic = make_factory();
  for (int i = 0; i < g_prefetch_count; i++) {
    AcquireSRWLockExclusive(&g_prefetch_lock);
    bool mine = g_prefetch[i].state == PREFETCH_WAITING && !g_prefetch_ended;
    if (mine) g_prefetch[i].state = PREFETCH_DECODING;
    ReleaseSRWLockExclusive(&g_prefetch_lock);
    if (mine) decode_ahead(wic, &g_prefetch[i]);
  }
  if (wic) wic->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

bool start_image_prefetch(const int* ids, int count) {
  if (g_prefetch_count > 0 || count < 1) return false;  // once per process
  if (count > IMAGE_PREFETCH_CAPACITY) count = IMAGE_PREFETCH_CAPACITY;
  for (int i = 0; i < count; i++) {
    memset(&g_prefetch[i], 0, sizeof g_prefetch[i]);
    g_prefetch[i].id = ids[i];
    g_prefetch[i].state = PREFETCH_WAITING;
  }
  g_prefetch_count = count;  // before the thread starts: it reads the list unlocked
  HANDLE thread = CreateThread(NULL, 0, prefetch_thread, NULL, 0, NULL);
  if (!thread) {
    g_prefetch_count = 0;
    return false;
  }
  CloseHandle(thread);  // never joined: it ends after its last image
  return true;
}

// The record of id, or null. Under the lock.
static PrefetchedImage* prefetch_record(int id) {
  for (int i = 0; i < g_prefetch_count; i++)
    if (g_prefetch[i].id == id) return &g_prefetch[i];
  return NULL;
}

// Window side: id's record once the helper is done with it, waiting while it
// decodes; null when there is none or the helper had not begun it (which
// then leaves it to the caller). Under the lock.
static PrefetchedImage* finished_prefetch(int id) {
  PrefetchedImage* image = prefetch_record(id);
  if (!image) return NULL;
  if (image->state == PREFETCH_WAITING) image->state = PREFETCH_TAKEN;
  while (image->state == PREFETCH_DECODING) SleepConditionVariableSRW(&g_prefetch_ready, &g_prefetch_lock, INFINITE, 0);
  return image->state == PREFETCH_DONE ? image : NULL;
}

// The helper's pixels as a source for the scaler, read in place: wrapping
// them in a WIC bitmap would copy the banner's 11 MB once more. Owns the
// pixels and frees them with its last reference.
class MemorySource : public IWICBitmapSource {
 public:
  MemorySource(UINT width, UINT height, const WICPixelFormatGUID& format, BYTE* pixels)
      : refs_(1), width_(width), height_(height), format_(format), pixels_(pixels) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IWICBitmapSource))) {
      *out = static_cast<IWICBitmapSource*>(this);
      AddRef();
      return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      HeapFree(GetProcessHeap(), 0, pixels_);
      delete this;
    }
    return (ULONG)left;
  }
  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
    if (!width || !height) return E_INVALIDARG;
    *width = width_;
    *height = height_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (!format) return E_INVALIDARG;
    *format = format_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
    if (!x || !y) return E_INVALIDARG;
    *x = 96.0;
    *y = 96.0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* out) override {
    WICRect whole = {0, 0, (INT)width_, (INT)height_};
    const WICRect& r = rect ? *rect : whole;
    if (!out || r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 || (UINT)r.X + (UINT)r.Width > width_ ||
        (UINT)r.Y + (UINT)r.Height > height_)
      return E_INVALIDARG;
    UINT row = (UINT)r.Width * 4;
    if (r.Height == 0 || row == 0) return S_OK;
    if (stride < row || (UINT64)stride * (UINT)(r.Height - 1) + row > size) return E_INVALIDARG;
    for (INT y = 0; y < r.Height; y++)
      memcpy(out + (size_t)stride * (size_t)y, pixels_ + ((size_t)(r.Y + y) * width_ + (size_t)r.X) * 4, row);
    return S_OK;
  }

 private:
  virtual ~MemorySource() {}
  LONG refs_;
  UINT width_, height_;
  WICPixelFormatGUID format_;
  BYTE* pixels_;
};

// Window side: the decoded image as a source to scale, taken from the helper;
// null when it has none for id.
static IWICBitmapSource* take_prefetched(int id) {
  AcquireSRWLockExclusive(&g_prefetch_lock);
  PrefetchedImage* image = finished_prefetch(id);
  PrefetchedImage taken = {};
  if (image) {
    taken = *image;
    image->pixels = NULL;
    image->state = PREFETCH_TAKEN;
  }
  ReleaseSRWLockExclusive(&g_prefetch_lock);
  if (!taken.pixels) return NULL;
  MemorySource* source = new (std::nothrow) MemorySource(taken.width, taken.height, taken.format, taken.pixels);
  if (!source) {
    HeapFree(GetProcessHeap(), 0, taken.pixels);
    return NULL;
  }
  g_prefetch_used++;
  return source;
}

// Window side: the natural size the helper found for id, waiting while it
// decodes; false when it has none.
static bool prefetched_size(int id, int* width, int* height) {
  AcquireSRWLockExclusive(&g_prefetch_lock);
  PrefetchedImage* image = prefetch_record(id);
  // Only a record being decoded or done knows its size; one still waiting
  // is not claimed here, so that the paint that needs its pixels decodes it.
  bool known = false;
  if (image) {
    while (image->state == PREFETCH_DECODING)
      SleepConditionVariableSRW(&g_prefetch_ready, &g_prefetch_lock, INFINITE, 0);
    known = image->state == PREFETCH_DONE && image->pixels;
    if (known) {
      *width = (int)image->width;
      *height = (int)image->height;
    }
  }
  ReleaseSRWLockExclusive(&g_prefetch_lock);
  return known;
}

void end_image_prefetch() {
  AcquireSRWLockExclusive(&g_prefetch_lock);
  g_prefetch_ended = true;
  for (int i = 0; i < g_prefetch_count; i++) {
    PrefetchedImage& image = g_prefetch[i];
    if (image.state == PREFETCH_WAITING) image.state = PREFETCH_TAKEN;
    if (image.pixels) HeapFree(GetProcessHeap(), 0, image.pixels);
    image.pixels = NULL;
  }
  ReleaseSRWLockExclusive(&g_prefetch_lock);
}

int images_taken_decoded() { return g_prefetch_used; }

int images_decoded_ahead() {
  AcquireSRWLockShared(&g_prefetch_lock);
  int done = 0;
  for (int i = 0; i < g_prefetch_count; i++) done += g_prefetch[i].state == PREFETCH_DONE && g_prefetch[i].pixels;
  ReleaseSRWLockShared(&g_prefetch_lock);
  return done;
}

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

static HBITMAP decode_scaled(int id, int width, int height, bool tinted, COLORREF tint) {
  IWICImagingFactory* wic = factory();
  if (!wic) return NULL;
  IWICBitmapSource* frame = take_prefetched(id);
  if (!frame) frame = load_image_frame(id);
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
  int ahead_w = 0, ahead_h = 0;
  DWORD size = 0;
  const BYTE* bytes = resource_bytes(id, &size);
  if (prefetched_size(id, &ahead_w, &ahead_h)) {
    w = (UINT)ahead_w;
    h = (UINT)ahead_h;
  } else if (!bytes || !png_header_size(bytes, size, &w, &h)) {
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

void draw_cover_image(HDC dc, int id, RECT rect, int anchor_percent) {
  int bw = rect.right - rect.left, bh = rect.bottom - rect.top;
  if (bw <= 0 || bh <= 0) return;
  int nw = 0, nh = 0;
  if (!natural_size(id, &nw, &nh)) return;
  double f = (double)bw / nw;
  if ((double)bh / nh > f) f = (double)bh / nh;
  int sw = (int)(nw * f + 0.999), sh = (int)(nh * f + 0.999);

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
