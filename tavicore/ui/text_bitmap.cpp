#include "tavicore/ui/text_bitmap.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

struct Glyph {
    char c;
    const char* rows[7];
};

// The built-in face: upper-case letters, digits and the date's punctuation.
constexpr Glyph kGlyphs[] = {
    {' ', {"     ", "     ", "     ", "     ", "     ", "     ", "     "}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {':', {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "}},
    {'/', {"     ", "    #", "   # ", "  #  ", " #   ", "#    ", "     "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
};
constexpr Glyph kUnknown = {'?', {"#####", "#   #", "#   #", "#   #", "#   #", "#   #", "#####"}};

const Glyph& glyphOf(char c) {
    const char upper = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kGlyphs) {
        if (g.c == upper) {
            return g;
        }
    }
    return kUnknown;
}

// The DIB's rows as seen from the top of the picture.
struct DibView {
    BYTE* bits = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    std::size_t stride = 0;
    bool bottomUp = true;

    BYTE* pixel(int x, int y) const {
        const int row = bottomUp ? height - 1 - y : y;
        return bits + std::size_t(row) * stride + std::size_t(x) * bytesPerPixel;
    }
    void put(int x, int y, COLORREF colour) const {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return;
        }
        BYTE* p = pixel(x, y);
        p[0] = BYTE(colour >> 16);  // blue
        p[1] = BYTE(colour >> 8);   // green
        p[2] = BYTE(colour);        // red
    }
};

bool viewOf(BITMAPINFOHEADER* dib, DibView& view) {
    if (dib == nullptr || dib->biSize < sizeof(BITMAPINFOHEADER) || dib->biWidth <= 0 ||
        dib->biHeight == 0 || dib->biCompression != BI_RGB) {
        return false;
    }
    const std::size_t stride = DibRowBytes(dib);
    if (stride == 0) {
        return false;
    }
    view.bits = reinterpret_cast<BYTE*>(dib) + dib->biSize;
    view.width = dib->biWidth;
    view.height = std::abs(dib->biHeight);
    view.bytesPerPixel = dib->biBitCount / 8;
    view.stride = stride;
    view.bottomUp = dib->biHeight > 0;
    return true;
}

void drawBuiltIn(const DibView& view, const char* text, int x, int y, const TextFont& font,
                 COLORREF colour) {
    const int scale = std::max(1, font.height / 8);
    int penX = x;
    for (const char* p = text; *p != '\0'; ++p) {
        const Glyph& g = glyphOf(*p);
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (g.rows[row][col] != '#') {
                    continue;
                }
                for (int sy = 0; sy < scale; ++sy) {
                    for (int sx = 0; sx < scale; ++sx) {
                        view.put(penX + col * scale + sx, y + row * scale + sy, colour);
                    }
                }
            }
        }
        penX += 6 * scale;
    }
}

void drawWithQt(const DibView& view, const char* text, int x, int y, const TextFont& font,
                const COLORREF* outline, COLORREF colour) {
    QImage image(view.bits, view.width, view.height, qsizetype(view.stride),
                 view.bytesPerPixel == 3 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    QPainter painter(&image);
    if (view.bottomUp) {  // draw in picture space: the rows are stored upside down
        painter.translate(0, view.height);
        painter.scale(1, -1);
    }
    QFont qfont(QString::fromStdString(font.face));
    qfont.setPixelSize(std::max(1, font.height));
    qfont.setItalic(font.italic);
    qfont.setWeight(QFont::Weight(std::clamp(font.weight, 100, 900)));
    if (font.width > 0) {
        qfont.setStretch(std::clamp(font.width * 200 / std::max(1, font.height), 1, 4000));
    }
    painter.setFont(qfont);
    painter.setBackgroundMode(Qt::TransparentMode);
    const QString qtext = QString::fromLocal8Bit(text);
    const int baseline = y + QFontMetrics(qfont).ascent();
    auto qcolour = [](COLORREF c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); };
    if (outline != nullptr) {
        painter.setPen(qcolour(*outline));
        for (int d = -1; d <= 2; ++d) {
            painter.drawText(x + d, baseline, qtext);
            painter.drawText(x, baseline + d, qtext);
        }
    }
    painter.setPen(qcolour(colour));
    painter.drawText(x, baseline, qtext);
}

bool haveGuiFonts() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

BOOL stamp(BITMAPINFOHEADER* dib, const char* text, int x, int y, const TextFont* font,
           const COLORREF* outline, COLORREF colour) {
    DibView view;
    if (!viewOf(dib, view)) {
        return FALSE;
    }
    if (text == nullptr || *text == '\0') {
        return TRUE;
    }
    const TextFont defaults;
    const TextFont& use = font != nullptr ? *font : defaults;
    if (haveGuiFonts()) {
        drawWithQt(view, text, x, y, use, outline, colour);
        return TRUE;
    }
    if (outline != nullptr) {
        for (int d = -1; d <= 2; ++d) {
            drawBuiltIn(view, text, x + d, y, use, *outline);
            drawBuiltIn(view, text, x, y + d, use, *outline);
        }
    }
    drawBuiltIn(view, text, x, y, use, colour);
    return TRUE;
}

}  // namespace

TAVICORE_UI_API std::size_t DibRowBytes(const BITMAPINFOHEADER* dib) {
    if (dib == nullptr || dib->biWidth <= 0 || (dib->biBitCount != 24 && dib->biBitCount != 32)) {
        return 0;
    }
    return ((std::size_t(dib->biWidth) * dib->biBitCount + 31) / 32) * 4;
}

TAVICORE_UI_API BOOL CopyTextToBitmap(BITMAPINFOHEADER* dib, void*, const char* text, int x, int y,
                                   const TextFont* font, COLORREF colour) {
    const COLORREF black = 0;
    return stamp(dib, text, x, y, font, &black, colour);
}

TAVICORE_UI_API BOOL CopyTextToBitmap2(BITMAPINFOHEADER* dib, void*, const char* text, int x, int y,
                                    const TextFont* font, COLORREF outline, COLORREF colour, int) {
    return stamp(dib, text, x, y, font, &outline, colour);
}

TAVICORE_UI_API BOOL FillBmpWithColor(BITMAPINFOHEADER* dib, void*, COLORREF colour) {
    DibView view;
    if (!viewOf(dib, view)) {
        return FALSE;
    }
    for (int y = 0; y < view.height; ++y) {
        for (int x = 0; x < view.width; ++x) {
            view.put(x, y, colour);
        }
    }
    return TRUE;
}
