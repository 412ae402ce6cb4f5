// The resource ids of the launcher's artwork, shared by the resource script
// (resources/telvar.rc, which includes this file) and the C++ that draws the
// images. Plain defines, so that the resource compiler reads them too.
#pragma once

// Large artwork
#define IMAGE_BANNER 100            // the selected view's banner
#define IMAGE_WORDMARK_EMBLEM 101   // the sidebar's wordmark with its emblem
#define IMAGE_WORDMARK 102          // the wordmark alone
#define IMAGE_EMPTY_STATE 103       // the empty library's picture
#define IMAGE_TILE 104              // the star-field tile of the backdrop

// Button icons, tinted with the label's colour
#define ICON_PLUS 120
#define ICON_HAMMER 121
#define ICON_CROSS 122
#define ICON_FOLDER 123
#define ICON_DOCUMENT 124
#define ICON_PLAY 125
#define ICON_REBUILD 126
#define ICON_BIN 127
#define ICON_MAGNIFIER 128
#define ICON_GEAR 129

// Controller glyphs of the legend: the console's pad, then the PC pad's
#define GLYPH_CROSS 140
#define GLYPH_CIRCLE 141
#define GLYPH_SQUARE 142
#define GLYPH_TRIANGLE 143
#define GLYPH_L1 144
#define GLYPH_R1 145
#define GLYPH_L2 146
#define GLYPH_R2 147
#define GLYPH_START 148
#define GLYPH_SELECT 149
#define GLYPH_A 160
#define GLYPH_B 161
#define GLYPH_X 162
#define GLYPH_Y 163
#define GLYPH_LB 164
#define GLYPH_RB 165
#define GLYPH_LT 166
#define GLYPH_RT 167
#define GLYPH_MENU 168
#define GLYPH_VIEW 169
