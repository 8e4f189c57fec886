#include "ranvic/picture_collector.h"

#include <algorithm>
#include <cstring>

CPictureCollector::CPictureCollector()
    : m_current(kBufferBytes), m_completed(kBufferBytes), m_work(kBufferBytes) {}

void CPictureCollector::append(const BYTE* bytes, std::size_t count) {
    // Bytes before the first start code belong to no picture; the rest of an
    // over-long picture is dropped up to the next start code.
    if (m_overflow || m_currentLength == 0) {
        return;
    }
    if (std::size_t(m_currentLength) + count > kBufferBytes) {
        m_currentLength = 0;
        m_overflow = true;
        return;
    }
    std::memcpy(m_current.data() + m_currentLength, bytes, count);
    m_currentLength += int(count);
}

void CPictureCollector::Add(const BYTE* chunk, std::size_t length, const PictureSink& sink) {
    while (length > 0) {
        // The chunk and the carried bytes must fit the work buffer: slice it.
        const std::size_t slice = std::min(length, kBufferBytes - std::size_t(m_carry));
        std::memcpy(m_work.data() + m_carry, chunk, slice);
        const std::size_t total = std::size_t(m_carry) + slice;
        m_carry = 0;
        process(total, sink);
        chunk += slice;
        length -= slice;
    }
}

void CPictureCollector::process(std::size_t total, const PictureSink& sink) {
    const BYTE* w = m_work.data();
    std::size_t pos = 0;
    std::size_t i = 0;
    for (;;) {
        const void* zero = i < total ? std::memchr(w + i, 0, total - i) : nullptr;
        if (zero == nullptr) {
            append(w + pos, total - pos);
            return;
        }
        const std::size_t p = std::size_t(static_cast<const BYTE*>(zero) - w);
        if (p + 2 >= total) {
            // A possible start code at the end: carry it to the next chunk.
            append(w + pos, p - pos);
            m_carry = int(total - p);
            std::memmove(m_work.data(), w + p, std::size_t(m_carry));
            return;
        }
        if (w[p + 1] != 0 || (w[p + 2] & 0xFC) != 0x80) {
            i = p + 1;
            continue;
        }
        append(w + pos, p - pos);
        if (m_currentLength > 0) {
            std::memcpy(m_completed.data(), m_current.data(), std::size_t(m_currentLength));
            m_completedLength = m_currentLength;
            sink(m_completed.data(), m_completedLength);
        }
        m_overflow = false;
        std::memcpy(m_current.data(), w + p, 3);
        m_currentLength = 3;
        pos = i = p + 3;
    }
}
