// libFuzzer target: the picture collector cutting a byte stream, in chunks of
// sizes the input chooses, into pictures that each begin with a start code.

#include "ranvic/picture_collector.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    CPictureCollector collector;
    const std::size_t step = 1 + (std::size_t(data[0]) << 8 | data[1]) % 70000;
    const auto check = [](const BYTE* picture, int length) {
        if (length < 3 || length > int(CPictureCollector::kBufferBytes) || picture[0] != 0 || picture[1] != 0 ||
            (picture[2] & 0xFC) != 0x80) {
            std::abort();
        }
    };
    for (std::size_t at = 2; at < size; at += step) {
        const std::size_t n = size - at < step ? size - at : step;
        collector.Add(data + at, n, check);
    }
    return 0;
}
