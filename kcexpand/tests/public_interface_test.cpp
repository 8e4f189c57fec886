// What a caller sees through the public header alone (no internal header is
// included here): the error code and detail of a failed packet reach the
// context's error callback.

#include "kcexpand/kcexpand.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

struct ErrorCase {
    const char* what;
    std::vector<std::uint8_t> packet;
    std::uint32_t code;
    std::uint32_t detail;
};

TEST(KcExpandPublicInterface, ACallerReadsEachErrorThroughTheCallback) {
    const ErrorCase cases[] = {
        {"a packet shorter than any head", {0x01, 0x00}, KCERR_NONE, 2},
        {"no kind of packet begins with 0x07", {0x07, 0x00, 0x05, 0x00, 0x00}, KCERR_NONE, 5},
        {"an H.263 group without its picture", {0x00, 0x00, 0x84, 0x00, 0xFF}, KCERR_NO_START_CODE, 0},
        {"an H.261 macroblock before any group", {0x00, 0x01, 0x00, 0x08, 0xFF, 0xFF}, KCERR_MB_BEFORE_GOB, 0},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        KcExpandContext* ctx = KcExpandOpen();
        ASSERT_NE(ctx, nullptr);
        BITMAPINFOHEADER format{40, 176, -144, 1, 24, 0, 0, 0, 0, 0, 0};
        const MetaItem items[] = {{KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
                                  {KCATTR_OUTPUT_MODE, 2, KCMODE_BGR24}};
        ASSERT_EQ(KcExpandSetAttributes(ctx, items, 2), 1);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> reported;
        KcExpandSetErrorCallback(
            ctx,
            [](void* user, std::uint32_t code, std::uint32_t detail) {
                static_cast<decltype(reported)*>(user)->emplace_back(code, detail);
            },
            &reported);
        std::vector<std::uint8_t> image(176 * 144 * 3);
        const std::uint32_t result =
            KcExpandBuffer(ctx, c.packet.data(), std::uint32_t(c.packet.size()), image.data());
        EXPECT_EQ(result & kKcNotPainted, kKcNotPainted);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].first, c.code);
        if (c.code == KCERR_NONE) {
            EXPECT_EQ(reported[0].second, c.detail);
        }
        KcExpandClose(ctx);
    }
}

}  // namespace
