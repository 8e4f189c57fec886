#pragma once
// Text into the pixels of a DIB: the small stand-in for the outside
// text-to-bitmap library. The DIB is a BITMAPINFOHEADER followed by its rows
// (24 or 32 bits per pixel, rows padded to 4 bytes, bottom-up unless biHeight
// is negative). Text goes through Qt's fonts when a QGuiApplication exists,
// and through a built-in 5x7 face otherwise (headless programs), so stamps
// never depend on a display. Any thread; nothing is kept between calls.

#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"

#include <string>

// The font of a stamp (what a font handle names): face, pixel height, glyph
// width (0: the face's own), weight (400 normal, 700 bold), italic.
struct TextFont {
    std::string face = "verdana";
    int height = 12;
    int width = 0;
    int weight = 400;
    bool italic = false;
};

// Bytes of one row of the DIB (padded to 4 bytes); 0 for a bit count the text
// functions do not draw on.
TAVICORE_UI_API std::size_t DibRowBytes(const BITMAPINFOHEADER* dib);

// Stamps `text` at (x, y) from the top-left: a black outline (the text at
// (x + d, y) and (x, y + d), d = -1..2), then the text in `colour` (COLORREF,
// 0x00BBGGRR). FALSE only when there is no DIB or it has no drawable format.
// `window` is unused (kept for the callers' shape); a null font is the default.
TAVICORE_UI_API BOOL CopyTextToBitmap(BITMAPINFOHEADER* dib, void* window, const char* text, int x,
                                   int y, const TextFont* font, COLORREF colour = 0xFFFFFF);
// The same with its own colours: `outline` for the outline, `colour` for the
// text; `flags` is reserved (0).
TAVICORE_UI_API BOOL CopyTextToBitmap2(BITMAPINFOHEADER* dib, void* window, const char* text, int x,
                                    int y, const TextFont* font, COLORREF outline, COLORREF colour,
                                    int flags);
// Fills every pixel with the colour.
TAVICORE_UI_API BOOL FillBmpWithColor(BITMAPINFOHEADER* dib, void* window, COLORREF colour);
