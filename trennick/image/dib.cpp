#include "trennick/image/dib.h"

#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Each block remembers its size ahead of the bytes the caller sees.
constexpr std::size_t kPrefix = 16;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool isInfo(const BYTE* dib) {
    DWORD size;
    std::memcpy(&size, dib, 4);
    return size == sizeof(BITMAPINFOHEADER);
}

bool isCore(const BYTE* dib) {
    DWORD size;
    std::memcpy(&size, dib, 4);
    return size == sizeof(BITMAPCOREHEADER);
}

struct Shape {
    int width = 0;
    int height = 0;  // absolute
    int bitCount = 0;
    bool topDown = false;
};

bool shapeOf(const BYTE* dib, Shape& shape) {
    if (dib == nullptr) {
        return false;
    }
    if (isInfo(dib)) {
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN ||
            (h.biCompression != BI_RGB && h.biCompression != 3)) {
            return false;
        }
        shape = {h.biWidth, std::abs(h.biHeight), h.biBitCount, h.biHeight < 0};
    } else if (isCore(dib)) {
        BITMAPCOREHEADER h;
        std::memcpy(&h, dib, sizeof h);
        if (h.bcWidth == 0 || h.bcHeight == 0) {
            return false;
        }
        shape = {h.bcWidth, h.bcHeight, h.bcBitCount, false};
    } else {
        return false;
    }
    switch (shape.bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        return shape.width <= 32767 && shape.height <= 32767;
    default:
        return false;
    }
}

}  // namespace

HDIB AllocDIB(std::size_t bytes) {
    auto* raw = static_cast<BYTE*>(std::calloc(1, kPrefix + bytes));
    if (raw == nullptr) {
        return nullptr;
    }
    std::memcpy(raw, &bytes, sizeof bytes);
    return raw + kPrefix;
}

std::size_t DIBBlockBytes(HDIB dib) {
    if (dib == nullptr) {
        return 0;
    }
    std::size_t bytes;
    std::memcpy(&bytes, dib - kPrefix, sizeof bytes);
    return bytes;
}

BOOL DestroyDIB(HDIB dib) {
    if (dib == nullptr) {
        return FALSE;
    }
    std::free(dib - kPrefix);
    return TRUE;
}

std::size_t DIBRowBytes(int width, int bitCount) {
    return ((std::size_t(width) * std::size_t(bitCount) + 31) / 32) * 4;
}

WORD DIBNumColors(const BYTE* dib) {
    if (dib == nullptr) {
        return 0;
    }
    int bits = 0;
    if (isInfo(dib)) {
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        if (h.biClrUsed != 0) {
            return WORD(std::min<DWORD>(h.biClrUsed, 256));
        }
        bits = h.biBitCount;
    } else {
        BITMAPCOREHEADER h;
        std::memcpy(&h, dib, sizeof h);
        bits = h.bcBitCount;
    }
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

WORD PaletteSize(const BYTE* dib) {
    if (dib == nullptr) {
        return 0;
    }
    return WORD(DIBNumColors(dib) * (isInfo(dib) ? sizeof(RGBQUAD) : 3));
}

BYTE* FindDIBBits(BYTE* dib) {
    if (dib == nullptr) {
        return nullptr;
    }
    DWORD size;
    std::memcpy(&size, dib, 4);
    return dib + size + PaletteSize(dib);
}

std::size_t DIBTotalBytes(const BYTE* dib) {
    Shape shape;
    if (!shapeOf(dib, shape)) {
        return 0;
    }
    DWORD size;
    std::memcpy(&size, dib, 4);
    return size + PaletteSize(dib) + DIBRowBytes(shape.width, shape.bitCount) * shape.height;
}

DWORD DIBSize(HDIB dib) {
    Shape shape;
    if (!shapeOf(dib, shape)) {
        return 0;
    }
    return (DWORD(shape.height & 0xFFFF) << 16) | DWORD(shape.width & 0xFFFF);
}

HDIB BitmapToDIB(const QImage& bitmap) {
    if (bitmap.isNull()) {
        return nullptr;
    }
    int bits = 24;
    QImage source;
    if (bitmap.format() == QImage::Format_Mono || bitmap.format() == QImage::Format_MonoLSB) {
        bits = 1;
        source = bitmap.convertToFormat(QImage::Format_Mono);
    } else if (bitmap.format() == QImage::Format_Indexed8) {
        bits = bitmap.colorCount() <= 16 ? 4 : 8;
        source = bitmap;
    } else {
        source = bitmap.convertToFormat(QImage::Format_RGB888);
    }
    const int width = source.width();
    const int height = source.height();
    const std::size_t stride = DIBRowBytes(width, bits);
    const int colours = bits <= 8 ? (1 << bits) : 0;
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD) + stride * height;
    HDIB dib = AllocDIB(bytes);
    if (dib == nullptr) {
        return nullptr;
    }
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(stride * height);
    std::memcpy(dib, &h, sizeof h);
    auto* table = reinterpret_cast<RGBQUAD*>(dib + sizeof h);
    for (int i = 0; i < colours; ++i) {
        const QRgb c = i < source.colorCount() ? source.color(i) : qRgb(0, 0, 0);
        table[i] = RGBQUAD{BYTE(qBlue(c)), BYTE(qGreen(c)), BYTE(qRed(c)), 0};
    }
    BYTE* rows = FindDIBBits(dib);
    for (int y = 0; y < height; ++y) {
        const uchar* from = source.constScanLine(height - 1 - y);
        BYTE* to = rows + std::size_t(y) * stride;
        if (bits == 24) {
            for (int x = 0; x < width; ++x) {
                to[3 * x] = from[3 * x + 2];
                to[3 * x + 1] = from[3 * x + 1];
                to[3 * x + 2] = from[3 * x];
            }
        } else if (bits == 4) {
            for (int x = 0; x < width; ++x) {
                to[x / 2] |= BYTE((from[x] & 0x0F) << (x % 2 == 0 ? 4 : 0));
            }
        } else {
            std::memcpy(to, from, std::min<std::size_t>(stride, std::size_t(source.bytesPerLine())));
        }
    }
    return dib;
}

QImage DIBToBitmap(QWidget*, HDIB dib) {
    // The block may hold fewer bytes than a header (a peer's clipboard file
    // of a few bytes): its size field and the header it names must lie inside
    // the block before either is read.
    const std::size_t block = DIBBlockBytes(dib);
    DWORD headerBytes = 0;
    if (block < sizeof headerBytes) {
        return {};
    }
    std::memcpy(&headerBytes, dib, sizeof headerBytes);
    Shape shape;
    if (headerBytes > block || !shapeOf(dib, shape)) {
        return {};
    }
    const std::size_t total = DIBTotalBytes(dib);
    if (total == 0 || total > DIBBlockBytes(dib)) {
        return {};
    }
    const std::size_t stride = DIBRowBytes(shape.width, shape.bitCount);
    const BYTE* rows = FindDIBBits(dib);
    const int colours = DIBNumColors(dib);
    const bool info = isInfo(dib);
    QVector<QRgb> table;
    for (int i = 0; i < colours; ++i) {
        const BYTE* entry = dib + (info ? sizeof(BITMAPINFOHEADER) + 4 * i : sizeof(BITMAPCOREHEADER) + 3 * i);
        table.push_back(qRgb(entry[2], entry[1], entry[0]));
    }
    QImage image(shape.width, shape.height,
                 shape.bitCount == 1 ? QImage::Format_Mono
                 : shape.bitCount <= 8 ? QImage::Format_Indexed8
                                       : QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    if (shape.bitCount <= 8) {
        image.setColorTable(table);
    }
    for (int y = 0; y < shape.height; ++y) {
        const BYTE* from = rows + std::size_t(shape.topDown ? y : shape.height - 1 - y) * stride;
        uchar* to = image.scanLine(y);
        auto* to32 = reinterpret_cast<QRgb*>(to);
        for (int x = 0; x < shape.width; ++x) {
            switch (shape.bitCount) {
            case 1:
                break;
            case 4:
                to[x] = (from[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F;
                break;
            case 8:
                to[x] = from[x];
                break;
            case 16: {
                const unsigned p = from[2 * x] | (unsigned(from[2 * x + 1]) << 8);
                to32[x] = qRgb(int(((p >> 10) & 0x1F) << 3), int(((p >> 5) & 0x1F) << 3), int((p & 0x1F) << 3));
                break;
            }
            case 24:
                to32[x] = qRgb(from[3 * x + 2], from[3 * x + 1], from[3 * x]);
                break;
            default:
                to32[x] = qRgb(from[4 * x + 2], from[4 * x + 1], from[4 * x]);
                break;
            }
        }
        if (shape.bitCount == 1) {
            std::memcpy(to, from, std::min<std::size_t>(stride, std::size_t(image.bytesPerLine())));
        }
    }
    return image;
}

HDIB ReadDIBFile(const char* fileName) {
    if (fileName == nullptr) {
        return nullptr;
    }
    File file(std::fopen(fileName, "rb"));
    if (!file) {
        return nullptr;
    }
    BITMAPFILEHEADER fileHeader;
    if (std::fread(&fileHeader, sizeof fileHeader, 1, file.get()) != 1 ||
        fileHeader.bfType != kBitmapFileType) {
        return nullptr;
    }
    // The rest of the file, by the file's own length (the header's may lie).
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return nullptr;
    }
    const long fileBytes = std::ftell(file.get());
    if (fileBytes < long(sizeof fileHeader + sizeof(BITMAPCOREHEADER)) ||
        std::fseek(file.get(), sizeof fileHeader, SEEK_SET) != 0) {
        return nullptr;
    }
    const std::size_t bytes = std::size_t(fileBytes) - sizeof fileHeader;
    HDIB dib = AllocDIB(bytes);
    if (dib == nullptr) {
        return nullptr;
    }
    std::size_t done = 0;
    while (done < bytes) {
        const std::size_t chunk = std::min<std::size_t>(32768, bytes - done);
        if (std::fread(dib + done, 1, chunk, file.get()) != chunk) {
            DestroyDIB(dib);
            return nullptr;
        }
        done += chunk;
    }
    // The header's own size must lie inside what the file holds before the
    // header is read at that size.
    DWORD headerBytes = 0;
    std::memcpy(&headerBytes, dib, sizeof headerBytes);
    if (headerBytes > bytes) {
        DestroyDIB(dib);
        return nullptr;
    }
    const std::size_t needed = DIBTotalBytes(dib);
    if (needed == 0 || needed > bytes) {
        DestroyDIB(dib);
        return nullptr;
    }
    return dib;
}

BOOL SaveDIB(const char* fileName, HDIB dib) {
    const std::size_t total = DIBTotalBytes(dib);
    if (fileName == nullptr || total == 0 || total > DIBBlockBytes(dib)) {
        return FALSE;
    }
    File file(std::fopen(fileName, "wb"));
    if (!file) {
        return FALSE;
    }
    DWORD headerBytes;
    std::memcpy(&headerBytes, dib, 4);
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = kBitmapFileType;
    fileHeader.bfSize = DWORD(sizeof fileHeader + total);
    fileHeader.bfOffBits = DWORD(sizeof fileHeader + headerBytes + PaletteSize(dib));
    if (std::fwrite(&fileHeader, sizeof fileHeader, 1, file.get()) != 1) {
        return FALSE;
    }
    std::size_t done = 0;
    while (done < total) {
        const std::size_t chunk = std::min<std::size_t>(32768, total - done);
        if (std::fwrite(dib + done, 1, chunk, file.get()) != chunk) {
            return FALSE;
        }
        done += chunk;
    }
    return std::fclose(file.release()) == 0 ? TRUE : FALSE;
}

BOOL PaintDIB(QPainter* dc, const RECT* destination, HDIB dib, const RECT* source, DWORD) {
    if (dc == nullptr || destination == nullptr || dib == nullptr || !isInfo(dib)) {
        return FALSE;
    }
    const QImage image = DIBToBitmap(nullptr, dib);
    if (image.isNull()) {
        return FALSE;
    }
    const QRect to(destination->left, destination->top, destination->right - destination->left,
                   destination->bottom - destination->top);
    const QRect from = source != nullptr ? QRect(source->left, source->top, source->right - source->left,
                                                 source->bottom - source->top)
                                         : image.rect();
    dc->drawImage(to, image, from);
    return TRUE;
}
