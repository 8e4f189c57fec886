#pragma once
// CPictureCollector: cuts whole standard H.263 pictures out of the received
// bytes at their picture start codes, for the decoder server and the H.263
// decoder component. One thread at a time; nothing throws.

#include "platform/types.h"

#include <cstddef>
#include <functional>
#include <vector>

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
