#pragma once
// The stand-in site's synthetic cameras: a moving test pattern with a clock.
// Colour bars, a white square that crosses the picture, and a black strip
// with the camera's number, the time of day and the frame number in large
// digits, so that a picture shows at a glance that it is live, which camera
// it shows and which frame it is. Each camera's bars begin with a colour of
// its own; the quad picture shows four cameras at once.

#include <cstdint>
#include <ctime>
#include <vector>

namespace site {

// A 24-bit picture, rows top-down, pixels blue, green, red.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;  // width * height * 3
    std::uint8_t* pixel(int x, int y) { return bgr.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3; }
    const std::uint8_t* pixel(int x, int y) const {
        return bgr.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
    }
};

// A picture in planar YUV 4:2:0 (BT.601, studio range); width and height even.
struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v;
};

// The colours of the bars, left to right: white, yellow, cyan, green,
// magenta, red, blue, black (blue, green, red).
inline constexpr std::uint8_t kBarColours[8][3] = {{235, 235, 235}, {16, 235, 235}, {235, 235, 16}, {16, 235, 16},
                                                   {235, 16, 235},  {16, 16, 235},  {235, 16, 16},  {16, 16, 16}};

// The pattern of camera `camera` (0-based) in frame `frame` at wall-clock
// time `now`: its bars begin with colour 2 x camera (modulo 8).
RgbPicture drawTestPattern(int width, int height, unsigned frame, std::time_t now, int camera = 0);

// Cameras 1 to 4 in the quarters of one picture: 1 and 2 above, 3 and 4 below.
RgbPicture drawQuadPattern(int width, int height, unsigned frame, std::time_t now);

// The strip with the clock covers the rows from this one down.
int clockStripTop(int height);

YuvPicture toYuv420(const RgbPicture& picture);

}  // namespace site
