#include "trennick/image/avi_clip.h"

#include "trennick/image/dib.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

namespace {

constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiRle8 = 1;

DWORD le32(const BYTE* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }
WORD le16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }
bool isTag(const BYTE* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// One chunk inside a range of the file: its tag, where its data starts and
// its length, checked to lie inside the range.
struct Chunk {
    const BYTE* tag;
    std::size_t data;
    std::size_t length;
};

// The chunks of [begin, end): each header and data checked against the range;
// nullopt when one runs past it.
std::optional<std::vector<Chunk>> chunksOf(const std::vector<BYTE>& file, std::size_t begin, std::size_t end) {
    std::vector<Chunk> chunks;
    std::size_t at = begin;
    while (end - at >= 8) {
        const std::size_t length = le32(&file[at + 4]);
        if (length > end - at - 8) return std::nullopt;
        chunks.push_back(Chunk{&file[at], at + 8, length});
        // Chunks are padded to an even length; the pad may be missing at the end.
        at += 8 + length + (length & 1);
        if (at > end) at = end;
    }
    return chunks;
}

// The bitmap format of the video stream and its palette.
struct Format {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    DWORD compression = 0;
    std::vector<BYTE> palette;  // 4 bytes a colour, as in the file
};

bool fail(std::string* why, const char* text) {
    if (why != nullptr) *why = text;
    return false;
}

// A packed DIB of `format` with `bits` (rows bottom-up, as in the file).
QImage imageOf(const Format& format, int bitCount, const BYTE* bits) {
    const std::size_t colours = bitCount == 8 ? format.palette.size() / 4 : 0;
    const std::size_t rows = DIBRowBytes(format.width, bitCount) * std::size_t(format.height);
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + colours * 4 + rows;
    std::unique_ptr<BYTE, decltype(&DestroyDIB)> dib(AllocDIB(bytes), &DestroyDIB);
    if (dib == nullptr) return {};
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = format.width;
    header.biHeight = format.height;
    header.biPlanes = 1;
    header.biBitCount = WORD(bitCount);
    header.biCompression = kBiRgb;
    header.biSizeImage = DWORD(rows);
    header.biClrUsed = DWORD(colours);
    std::memcpy(dib.get(), &header, sizeof header);
    if (colours != 0) std::memcpy(dib.get() + sizeof header, format.palette.data(), colours * 4);
    std::memcpy(dib.get() + sizeof header + colours * 4, bits, rows);
    return DIBToBitmap(nullptr, dib.get()).copy();
}

// Decodes one 8-bit run-length frame over `pixels` (the frame before, rows
// bottom-up with their padding). Every write is checked against the picture;
// false for a frame that runs past it or past its data.
bool decodeRle8(const BYTE* data, std::size_t length, int width, int height, std::vector<BYTE>& pixels) {
    const std::size_t stride = DIBRowBytes(width, 8);
    std::size_t at = 0;
    int x = 0, y = 0;
    while (at + 2 <= length) {
        const BYTE count = data[at];
        const BYTE value = data[at + 1];
        at += 2;
        if (count != 0) {
            if (y >= height || x + count > width) return false;
            std::memset(&pixels[std::size_t(y) * stride + std::size_t(x)], value, count);
            x += count;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of the picture
            return true;
        case 2:  // move right and up
            if (at + 2 > length) return false;
            x += data[at];
            y += data[at + 1];
            at += 2;
            if (x > width || y > height) return false;
            break;
        default: {  // `value` pixels as they stand, padded to an even length
            const std::size_t n = value;
            if (at + n > length || y >= height || x + int(n) > width) return false;
            std::memcpy(&pixels[std::size_t(y) * stride + std::size_t(x)], data + at, n);
            x += int(n);
            at += n + (n & 1);
            break;
        }
        }
    }
    // A frame may end without its end mark.
    return true;
}

}  // namespace

bool CAviClip::Open(const std::string& path, std::string* why) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return fail(why, "the clip cannot be opened");
    const std::streamoff size = in.tellg();
    if (size < 12 || size > std::streamoff(kMaxFileBytes)) return fail(why, "the clip's size is out of bounds");
    std::vector<BYTE> file(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(file.data()), size)) return fail(why, "the clip cannot be read");
    return Load(file, why);
}

void CAviClip::Close() {
    m_frames.clear();
    m_size = QSize();
    m_periodMs = 100;
}

QImage CAviClip::Frame(int index) const {
    if (index < 0 || index >= FrameCount()) return {};
    return m_frames[std::size_t(index)];
}

bool CAviClip::Load(const std::vector<BYTE>& file, std::string* why) {
    Close();
    if (file.size() < 12 || file.size() > kMaxFileBytes || !isTag(&file[0], "RIFF") || !isTag(&file[8], "AVI ")) {
        return fail(why, "not an AVI file");
    }
    const std::size_t riffEnd = std::min<std::size_t>(file.size(), 8 + std::size_t(le32(&file[4])));
    const auto top = chunksOf(file, 12, riffEnd);
    if (!top) return fail(why, "a chunk runs past the file");

    DWORD microSecondsPerFrame = 0;
    std::optional<Format> format;
    const Chunk* movi = nullptr;
    for (const Chunk& chunk : *top) {
        if (!isTag(chunk.tag, "LIST") || chunk.length < 4) continue;
        const BYTE* kind = &file[chunk.data];
        if (isTag(kind, "movi")) {
            movi = &chunk;
            continue;
        }
        if (!isTag(kind, "hdrl")) continue;
        const auto header = chunksOf(file, chunk.data + 4, chunk.data + chunk.length);
        if (!header) return fail(why, "a header chunk runs past its list");
        for (const Chunk& h : *header) {
            if (isTag(h.tag, "avih") && h.length >= 40) microSecondsPerFrame = le32(&file[h.data]);
            if (!isTag(h.tag, "LIST") || h.length < 4 || !isTag(&file[h.data], "strl") || format) continue;
            const auto stream = chunksOf(file, h.data + 4, h.data + h.length);
            if (!stream) return fail(why, "a stream chunk runs past its list");
            bool video = false;
            for (const Chunk& s : *stream) {
                if (isTag(s.tag, "strh") && s.length >= 4) video = isTag(&file[s.data], "vids");
                if (!isTag(s.tag, "strf") || !video) continue;
                if (s.length < sizeof(BITMAPINFOHEADER)) return fail(why, "the video format is cut");
                const BYTE* f = &file[s.data];
                Format found;
                const LONG width = LONG(le32(f + 4));
                const LONG height = LONG(le32(f + 8));
                found.bitCount = le16(f + 14);
                found.compression = le32(f + 16);
                if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
                    return fail(why, "the picture size is out of bounds");
                }
                found.width = int(width);
                found.height = int(height);
                const bool rgb = found.compression == kBiRgb &&
                                 (found.bitCount == 8 || found.bitCount == 24 || found.bitCount == 32);
                const bool rle = found.compression == kBiRle8 && found.bitCount == 8;
                if (!rgb && !rle) return fail(why, "the frames are of a kind this reader does not play");
                if (found.bitCount == 8) {
                    const DWORD headerBytes = le32(f);
                    DWORD colours = le32(f + 32);
                    if (colours == 0) colours = 256;
                    if (headerBytes < sizeof(BITMAPINFOHEADER) || colours > 256 ||
                        std::size_t(headerBytes) + std::size_t(colours) * 4 > s.length) {
                        return fail(why, "the palette is cut or too large");
                    }
                    found.palette.assign(f + headerBytes, f + headerBytes + colours * 4);
                }
                format = found;
            }
        }
    }
    if (!format) return fail(why, "the clip has no video stream");
    if (movi == nullptr) return fail(why, "the clip has no frames");

    // The frames of stream 0, also inside "rec " lists.
    std::vector<Chunk> frames;
    const auto moviChunks = chunksOf(file, movi->data + 4, movi->data + movi->length);
    if (!moviChunks) return fail(why, "a frame runs past its list");
    for (const Chunk& c : *moviChunks) {
        if (isTag(c.tag, "LIST") && c.length >= 4 && isTag(&file[c.data], "rec ")) {
            const auto inner = chunksOf(file, c.data + 4, c.data + c.length);
            if (!inner) return fail(why, "a frame runs past its list");
            frames.insert(frames.end(), inner->begin(), inner->end());
        } else {
            frames.push_back(c);
        }
    }
    const std::size_t stride = DIBRowBytes(format->width, format->compression == kBiRle8 ? 8 : format->bitCount);
    const std::size_t frameBytes = stride * std::size_t(format->height);
    std::vector<BYTE> pixels(format->compression == kBiRle8 ? frameBytes : 0, 0);
    std::vector<QImage> decoded;
    for (const Chunk& c : frames) {
        if (!(c.tag[0] == '0' && c.tag[1] == '0' && (c.tag[2] == 'd') && (c.tag[3] == 'b' || c.tag[3] == 'c'))) {
            continue;
        }
        if (int(decoded.size()) >= kMaxFrames ||
            (decoded.size() + 1) * std::size_t(format->width) * std::size_t(format->height) > kMaxPixels) {
            return fail(why, "the clip has too many frames");
        }
        const BYTE* data = &file[c.data];
        if (c.length == 0) {
            // An empty frame repeats the one before.
            if (!decoded.empty()) decoded.push_back(decoded.back());
            continue;
        }
        if (format->compression == kBiRle8) {
            if (!decodeRle8(data, c.length, format->width, format->height, pixels)) {
                return fail(why, "a run-length frame runs past its picture");
            }
            decoded.push_back(imageOf(*format, 8, pixels.data()));
        } else {
            if (c.length < frameBytes) return fail(why, "a frame is shorter than its picture");
            decoded.push_back(imageOf(*format, format->bitCount, data));
        }
        if (decoded.back().isNull()) return fail(why, "a frame could not be decoded");
    }
    if (decoded.empty()) return fail(why, "the clip has no frames");
    m_frames = std::move(decoded);
    m_size = QSize(format->width, format->height);
    m_periodMs = std::clamp<DWORD>(microSecondsPerFrame / 1000, 10, 10000);
    return true;
}
