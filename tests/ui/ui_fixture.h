// Shared helpers of the drawing tests: a clean state at a chosen scale, library
// entries made by hand, a folder holding a built game, a 32-bit memory canvas
// to paint into, and a recorder of the texts a paint draws.
#pragma once
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "core/library_types.h"

// Frees the fonts, resets the state record and makes the fonts again at
// scale. launcher_dir is an empty folder: no game is built. The scaled images
// carry over unless keep_images is false (then the cache starts empty and no
// natural size is known), so that painting tests do not decode the art anew
// for every case.
void fresh_state(float scale, bool keep_images = true);

void set_entry(int index, const wchar_t* path, const char* serial, const char* md5, int32_t row, DiscStatus status);

// Entry 0 (selected) is the disc under test, entry 1 an unknown disc.
void library_of_two(int32_t row, DiscStatus status);

// Points launcher_dir at a folder that holds the built game of rows 0 and 1.
void use_built_folder();

// A top-down 32-bit DIB section selected into a memory DC.
struct Canvas {
  Canvas(int width, int height);
  ~Canvas();
  void paint();  // paint_window over the whole canvas
  COLORREF pixel(int x, int y) const;
  HDC dc = NULL;
  HBITMAP bitmap = NULL;
  HGDIOBJ previous = NULL;
  const uint8_t* bits = nullptr;
  int width, height;
};

struct DrawnText {
  std::wstring text;
  COLORREF colour;
  int x = 0, y = 0;  // reference point of the drawn line
};

// Paints into an enhanced metafile and returns every text drawn, in order,
// with the text colour in force when it was drawn.
std::vector<DrawnText> record_texts(int width, int height);

std::string narrow(const std::wstring& text);
