// libFuzzer target: arbitrary bytes as a compressed record must be decoded or
// refused, never crash, hang or write outside the target record.

#include "qel/qel.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int kWidth = 64;
    constexpr int kHeight = 64;
    std::vector<uint8_t> source(sizeof(BITMAPINFOHEADER) + size);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(source.data());
    header->biSize = 40;
    header->biWidth = kWidth;
    header->biHeight = kHeight;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = static_cast<DWORD>(size);
    if (size > 0) {
        std::memcpy(source.data() + sizeof(BITMAPINFOHEADER), data, size);
    }
    std::vector<uint8_t> target(sizeof(BITMAPINFOHEADER) + kWidth * kHeight * 3);
    char* text = nullptr;
    QEL_Decompress(header, reinterpret_cast<BITMAPINFOHEADER*>(target.data()), &text);

    // The motion reader takes the same bytes as a frame.
    QelMotionContext context{};
    if (QEL_open_lib(&context) == 1) {
        QEL_set_history(&context, 2);
        if (QEL_open_image(&context, data, static_cast<DWORD>(size)) == 1) {
            int mcu = -1;
            QEL_compare(&context, &mcu, 1);
            QEL_close_image(&context);
        }
        QEL_close_lib(&context);
    }
    return 0;
}
