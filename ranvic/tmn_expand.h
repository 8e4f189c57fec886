#pragma once
// Standard H.263 pictures: the binding of the zocodec library (CTMNExpand) and
// the picture collector that cuts whole pictures out of the received bytes at
// their picture start codes.

#include "platform/library.h"
#include "platform/types.h"
#include "zocodec/zocodec.h"

#include <cstddef>
#include <functional>
#include <vector>

class CTMNExpand {
public:
    // Binds "zocodec.dll" by the ordinary library search.
    CTMNExpand();
    // Binds zocodec.dll in the folder.
    explicit CTMNExpand(const char* folder);
    ~CTMNExpand();
    CTMNExpand(const CTMNExpand&) = delete;
    CTMNExpand& operator=(const CTMNExpand&) = delete;

    // Decodes one whole picture into 24-bit pixels; 0 on failure (also
    // without the library).
    int ExpandBuffer(const BYTE* picture, int length, BYTE* output);
    // 3 for 352 x 288, else 2; 0 without the library.
    int SetFormat(int width, int height);
    bool bound() const { return m_api != nullptr; }

private:
    void bind(const char* file);

    IZoCodecApi* m_api = nullptr;
    HMODULE m_module = nullptr;
};

// Cuts pictures out of a byte stream. A picture begins with its start code
// (00 00 and a byte 0x80 to 0x83) and ends where the next one begins; it is
// handed out when the next start code arrives. Bytes before the first start
// code and pictures longer than 65,536 bytes are dropped; chunks of any length
// are taken in slices.
class CPictureCollector {
public:
    static constexpr std::size_t kBufferBytes = 65536;

    CPictureCollector();

    using PictureSink = std::function<void(const BYTE* picture, int length)>;
    // Feeds the chunk; calls `sink` for each picture it completes.
    void Add(const BYTE* chunk, std::size_t length, const PictureSink& sink);
    // Forgets the picture being collected.
    void Reset() { m_currentLength = 0; }
    int carry() const { return m_carry; }

private:
    void process(std::size_t total, const PictureSink& sink);
    void append(const BYTE* bytes, std::size_t count);

    std::vector<BYTE> m_current;
    std::vector<BYTE> m_completed;
    std::vector<BYTE> m_work;
    int m_currentLength = 0;
    int m_completedLength = 0;
    int m_carry = 0;
    bool m_overflow = false;
};
