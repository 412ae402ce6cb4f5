// Parts of a frame kept between paints. A part whose pixels follow from a
// few inputs (the selected disc's detail cards, say) is drawn once, its
// rectangle copied aside with the inputs it was drawn from, and copied back
// by the next paint that would draw it from the same inputs. Every paint
// still draws the whole client area; a kept part only saves the drawing.
//
// What it refuses: a part is kept only from a memory DC whose clip lets the
// whole rectangle be drawn (a metafile records calls, not pixels; a clipped
// paint would keep a partial picture), and only restored into a memory DC.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

enum PaintPart {
  PAINT_PART_DETAILS,  // the selected disc's "Disc" card and controller legend
  PAINT_PART_COUNT,
};

enum { PAINT_KEY_BYTES = 2048 };  // the most input bytes a part is keyed on

// True when the part was kept for exactly these inputs at area (and at the
// scale and colours in force now): its pixels are copied into dc at area and
// the caller draws nothing there. The caller's key must hold everything the
// part's pixels depend on besides the scale, the colour scheme and what lies
// beneath area, which must be the backdrop alone.
bool restore_painted_part(HDC dc, PaintPart part, RECT area, const void* key, size_t key_bytes);

// Copies area of dc aside as the part's pixels for key, right after the
// caller drew the part there. Nothing when dc cannot be read back whole or
// the key is larger than PAINT_KEY_BYTES.
void keep_painted_part(HDC dc, PaintPart part, RECT area, const void* key, size_t key_bytes);

// Forgets every kept part and frees its bitmap (a change of scale or colours
// does this through flush_image_cache; tests do it to paint afresh).
void flush_paint_cache();

// How many times a part was restored since the process started: tests and
// the paint benchmark tell a kept part from a drawn one with it.
int32_t painted_parts_restored();
