// A resource-language library whose look-ups misbehave: each copies a short
// text but reports it far longer than the caller's room, and its only bitmap
// claims more bytes than an int holds. For the engine library's tests.
#include <cstdint>
#include <cstring>

namespace {
constexpr char kText[] = "short";
const unsigned char kBitmap[2] = {'B', 'M'};
}  // namespace

extern "C" __attribute__((visibility("default"))) int lngSetResourceDLL() { return 1; }

extern "C" __attribute__((visibility("default"))) int lngLoadString(unsigned, char* buffer, int size) {
    if (buffer == nullptr || size < int(sizeof kText)) return 0;
    std::memcpy(buffer, kText, sizeof kText);
    return size * 4;
}

extern "C" __attribute__((visibility("default"))) int lngLoadDialogText(unsigned, unsigned, char* buffer, int size) {
    return lngLoadString(0, buffer, size);
}

extern "C" __attribute__((visibility("default"))) int lngLoadBitmap(unsigned, const unsigned char** data,
                                                                    std::uint32_t* bytes) {
    *data = kBitmap;
    *bytes = 0x80000000u;
    return 1;
}
