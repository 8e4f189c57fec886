#include "tools/site/test_pattern.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace site {

namespace {

// 5 x 7 digits, a colon, a space and a C (camera); each row's low five bits, leftmost first.
constexpr std::uint8_t kGlyphs[13][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // :
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // space
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // C
};

int glyphIndex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == 'C') return 12;
    return c == ':' ? 10 : 11;
}

void fill(RgbPicture& p, int x0, int y0, int x1, int y1, const std::uint8_t (&bgr)[3]) {
    x0 = std::clamp(x0, 0, p.width);
    x1 = std::clamp(x1, 0, p.width);
    y0 = std::clamp(y0, 0, p.height);
    y1 = std::clamp(y1, 0, p.height);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) std::memcpy(p.pixel(x, y), bgr, 3);
    }
}

void text(RgbPicture& p, int x, int y, int scale, const std::string& s) {
    constexpr std::uint8_t kWhite[3] = {235, 235, 235};
    for (char c : s) {
        const auto& g = kGlyphs[glyphIndex(c)];
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if ((g[row] >> (4 - col)) & 1) {
                    fill(p, x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale, kWhite);
                }
            }
        }
        x += 6 * scale;
    }
}

std::uint8_t clip(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

int clockStripTop(int height) { return height - height / 4; }

RgbPicture drawTestPattern(int width, int height, unsigned frame, std::time_t now, int camera) {
    RgbPicture p;
    p.width = width;
    p.height = height;
    p.bgr.assign(std::size_t(width) * std::size_t(height) * 3, 0);
    const int strip = clockStripTop(height);
    const int first = ((2 * camera) % 8 + 8) % 8;
    for (int bar = 0; bar < 8; ++bar) {
        fill(p, bar * width / 8, 0, (bar + 1) * width / 8, strip, kBarColours[(first + bar) % 8]);
    }

    // A square that crosses the bars, one step per frame, back and forth.
    const int side = height / 6;
    const int travel = std::max(1, width - side);
    const int step = std::max(2, width / 44);
    const int position = int((frame * unsigned(step)) % unsigned(2 * travel));
    const int x = position < travel ? position : 2 * travel - position;
    constexpr std::uint8_t kSquare[3] = {40, 40, 40};
    fill(p, x, strip / 2 - side / 2, x + side, strip / 2 + side / 2, kSquare);

    constexpr std::uint8_t kStrip[3] = {16, 16, 16};
    fill(p, 0, strip, width, height, kStrip);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[48];
    std::snprintf(clock, sizeof clock, "C%d %02d:%02d:%02d %u", camera + 1, local.tm_hour, local.tm_min, local.tm_sec,
                  frame % 100000u);
    const int scale = std::max(1, (height - strip) / 10);
    text(p, scale * 2, strip + (height - strip - 7 * scale) / 2, scale, clock);
    return p;
}

RgbPicture drawQuadPattern(int width, int height, unsigned frame, std::time_t now) {
    RgbPicture p;
    p.width = width;
    p.height = height;
    p.bgr.assign(std::size_t(width) * std::size_t(height) * 3, 0);
    const int w = width / 2, h = height / 2;
    for (int camera = 0; camera < 4; ++camera) {
        const RgbPicture quarter = drawTestPattern(w, h, frame, now, camera);
        const int x0 = (camera % 2) * w, y0 = (camera / 2) * h;
        for (int y = 0; y < h; ++y) std::memcpy(p.pixel(x0, y0 + y), quarter.pixel(0, y), std::size_t(w) * 3);
    }
    return p;
}

YuvPicture toYuv420(const RgbPicture& picture) {
    YuvPicture out;
    out.width = picture.width & ~1;
    out.height = picture.height & ~1;
    const int w = out.width, h = out.height;
    out.y.resize(std::size_t(w) * std::size_t(h));
    out.u.resize(std::size_t(w / 2) * std::size_t(h / 2));
    out.v.resize(out.u.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = picture.pixel(x, y);
            const int b = s[0], g = s[1], r = s[2];
            out.y[std::size_t(y) * std::size_t(w) + std::size_t(x)] = clip(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
        }
    }
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            int b = 0, g = 0, r = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const std::uint8_t* s = picture.pixel(2 * x + dx, 2 * y + dy);
                    b += s[0];
                    g += s[1];
                    r += s[2];
                }
            }
            b /= 4;
            g /= 4;
            r /= 4;
            const std::size_t i = std::size_t(y) * std::size_t(w / 2) + std::size_t(x);
            out.u[i] = clip(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            out.v[i] = clip(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
    }
    return out;
}

}  // namespace site
