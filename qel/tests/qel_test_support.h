#pragma once
// Image records for the stills and motion tests.

#include "platform/types.h"
#include "qel/qel.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace qeltest {

// A 24-bit record: header followed by bottom-up rows without padding.
inline std::vector<BYTE> makeRecord(int width, int height, WORD bits = 24) {
    const std::size_t bytes = std::size_t(width) * height * (bits / 8);
    std::vector<BYTE> record(sizeof(BITMAPINFOHEADER) + bytes);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(record.data());
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = bits;
    header->biSizeImage = DWORD(bytes);
    return record;
}

inline BITMAPINFOHEADER* headerOf(std::vector<BYTE>& record) {
    return reinterpret_cast<BITMAPINFOHEADER*>(record.data());
}

inline BYTE* pixelsOf(std::vector<BYTE>& record) { return record.data() + 40; }

// Smooth gradients with a bright square whose top-left corner is (squareX, squareY)
// counted from the top of the picture.
inline std::vector<BYTE> scene(int width, int height, int squareX, int squareY, int squareSize = 16) {
    std::vector<BYTE> record = makeRecord(width, height);
    BYTE* pixels = pixelsOf(record);
    for (int y = 0; y < height; ++y) {
        BYTE* row = pixels + std::size_t(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x) {
            BYTE b = BYTE(x * 255 / width), g = BYTE(y * 255 / height), r = BYTE(96);
            if (x >= squareX && x < squareX + squareSize && y >= squareY && y < squareY + squareSize) {
                b = 250;
                g = 250;
                r = 20;
            }
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
    return record;
}

// Compresses a 24-bit record through the library; the JPEG bytes or empty.
inline std::vector<BYTE> compress(std::vector<BYTE> source, int quality = 90) {
    std::vector<BYTE> target(source.size() + 40);
    char* text = nullptr;
    if (!QEL_Compress(headerOf(source), reinterpret_cast<BITMAPINFOHEADER*>(target.data()), &text,
                      quality)) {
        return {};
    }
    const DWORD size = reinterpret_cast<BITMAPINFOHEADER*>(target.data())->biSizeImage;
    return std::vector<BYTE>(target.begin() + 40, target.begin() + 40 + size);
}

// A compressed record around JPEG bytes, with the header of a picture of that size.
inline std::vector<BYTE> jpegRecord(const std::vector<BYTE>& jpeg, int width, int height) {
    std::vector<BYTE> record(40 + jpeg.size());
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(record.data());
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = 0x4745504A;
    header->biSizeImage = DWORD(jpeg.size());
    if (!jpeg.empty()) {
        std::memcpy(record.data() + 40, jpeg.data(), jpeg.size());
    }
    return record;
}

inline double meanAbsDifference(const BYTE* a, const BYTE* b, std::size_t bytes) {
    double sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        sum += std::abs(int(a[i]) - int(b[i]));
    }
    return bytes == 0 ? 0 : sum / double(bytes);
}

}  // namespace qeltest
