#pragma once
// Packed DIBs: one block holding a bitmap header (40-byte info header or
// 12-byte core header), the colour table and the pixel rows, bottom-up, each
// row padded to 4 bytes. A block is made by the functions here and freed by
// DestroyDIB. Any thread; a block belongs to one thread at a time.

#include "platform/types.h"

#include <QImage>

#include <cstddef>

class QPainter;
class QWidget;

// A packed DIB block; null when there is none.
using HDIB = BYTE*;

#pragma pack(push, 1)
struct BITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPCOREHEADER) == 12);

// A zero-filled block of `bytes`; null when it cannot be had.
HDIB AllocDIB(std::size_t bytes);
// The size of a block made here; 0 for null.
std::size_t DIBBlockBytes(HDIB dib);

// The DIB of an image: 1, 4 or 8 bits with its colour table for indexed
// images of that depth, else 24 bits. Null on failure.
HDIB BitmapToDIB(const QImage& bitmap);
BOOL DestroyDIB(HDIB dib);
// Height in the high 16 bits, width in the low 16 bits; 0 for no block.
DWORD DIBSize(HDIB dib);
// The image of a DIB (monochrome DIBs give a monochrome image); a null image
// for no block or one that does not hold what its header says.
QImage DIBToBitmap(QWidget* window, HDIB dib);
// Reads a bitmap file ("BM" header, then the rest of the file) into a new
// block, checking that the header, colour table and rows are all there.
HDIB ReadDIBFile(const char* fileName);
// Writes a bitmap file: the 14-byte header, then the block's header, colour
// table and rows.
BOOL SaveDIB(const char* fileName, HDIB dib);
// Stretches the source rectangle (rows counted from the top) of an info-header
// DIB onto the destination rectangle; FALSE for a core header.
BOOL PaintDIB(QPainter* dc, const RECT* destination, HDIB dib, const RECT* source, DWORD rop);
BYTE* FindDIBBits(BYTE* dib);
WORD DIBNumColors(const BYTE* dib);
WORD PaletteSize(const BYTE* dib);
// Bytes of one pixel row: ((bits x width + 31) / 32) x 4.
std::size_t DIBRowBytes(int width, int bitCount);
// Bytes the header, colour table and rows of a DIB take; 0 when the header
// makes no sense (unknown size, bit count or dimensions).
std::size_t DIBTotalBytes(const BYTE* dib);
