// libFuzzer target: one stream kind (KC_FUZZ_STREAM_KIND: 0 block packets,
// 2 H.263, 3 H.261) through the decoder's packet entry, with and without the
// payload header, painted in every output mode.

#include "kcexpand/kcexpand.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static KcExpandContext* context = KcExpandOpen();
    static std::vector<std::uint8_t> image(352 * 288 * 3);
    BITMAPINFOHEADER format{};
    format.biSize = 40;
    format.biWidth = 352;
    format.biHeight = (data[0] & 1) ? -288 : 288;
    format.biBitCount = 24;
    static RGBQUAD palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7), 0};
    format.biClrUsed = 256;
    const MetaItem items[] = {
        {KCATTR_FORMAT, 40, reinterpret_cast<std::uintptr_t>(&format)},
        {KCATTR_OUTPUT_MODE, 2, std::uintptr_t(1 + (data[0] >> 1) % 3)},
        {KCATTR_PALETTE, sizeof palette, reinterpret_cast<std::uintptr_t>(palette)},
        {KCATTR_PAYLOAD_HEADER, 2, std::uintptr_t((data[0] >> 3) & 1)},
        {KCATTR_STREAM_KIND, 2, KC_FUZZ_STREAM_KIND},
        {KCATTR_GREY, 2, std::uintptr_t((data[0] >> 4) & 1)},
    };
    KcExpandSetAttributes(context, items, 6);
    std::vector<std::uint8_t> packet(data + 1, data + size);
    // The packet's own kind byte is forced, so the bytes reach the parser under test.
    if (!packet.empty()) {
        if (KC_FUZZ_STREAM_KIND == 0) {
            packet[0] = 1;  // a block packet
        } else if (((data[0] >> 3) & 1) == 0) {
            packet[0] = 0;
        }
    }
    KcExpandPacket(context, data[0] >> 7, packet.data(), std::uint32_t(packet.size()), image.data());
    if ((data[0] & 0x60) == 0x60) {
        KcExpandSetNextAllChanged(context);
        KcExpandRedraw(context, image.data());
        RGBQUAD out[256];
        KcExpandCalculatePalette(context, 16 + data[size - 1], out);
    }
    return 0;
}
