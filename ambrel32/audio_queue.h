#pragma once
// CAudioQue: the byte queue between a wave device and the codec, a circular
// buffer of 64,000 bytes. Push takes all of its bytes or none; Pop takes up
// to what is queued. Every operation holds the queue's lock, so the client's
// thread, the worker thread and the device's callback may use it at once.

#include "platform/types.h"

#include <array>
#include <mutex>

class CAudioQue {
public:
    static constexpr DWORD kCapacity = 64000;

    // False, and nothing queued, when fewer than n bytes are free.
    bool Push(const BYTE* data, DWORD n);
    // Takes up to n bytes into `out`; how many were taken.
    DWORD Pop(BYTE* out, DWORD n);
    void Clear();
    DWORD Size();

private:
    std::mutex m_lock;
    std::array<BYTE, kCapacity> m_bytes{};
    DWORD m_count = 0;
    DWORD m_read = 0;
    DWORD m_write = 0;
};
