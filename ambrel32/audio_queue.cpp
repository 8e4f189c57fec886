#include "ambrel32/audio_queue.h"

#include <algorithm>
#include <cstring>

bool CAudioQue::Push(const BYTE* data, DWORD n) {
    std::lock_guard lock(m_lock);
    if (data == nullptr || n > kCapacity - m_count) {
        return false;
    }
    const DWORD first = std::min(n, kCapacity - m_write);
    std::memcpy(m_bytes.data() + m_write, data, first);
    std::memcpy(m_bytes.data(), data + first, n - first);
    m_write = (m_write + n) % kCapacity;
    m_count += n;
    return true;
}

DWORD CAudioQue::Pop(BYTE* out, DWORD n) {
    std::lock_guard lock(m_lock);
    n = std::min(n, m_count);
    if (out == nullptr || n == 0) {
        return 0;
    }
    const DWORD first = std::min(n, kCapacity - m_read);
    std::memcpy(out, m_bytes.data() + m_read, first);
    std::memcpy(out + first, m_bytes.data(), n - first);
    m_read = (m_read + n) % kCapacity;
    m_count -= n;
    return n;
}

void CAudioQue::Clear() {
    std::lock_guard lock(m_lock);
    m_count = m_read = m_write = 0;
}

DWORD CAudioQue::Size() {
    std::lock_guard lock(m_lock);
    return m_count;
}
