#pragma once
// CAudioCodec: one open G.723.1 speech codec, the library sx5363s loaded and
// its entry points bound by name. One per open direction, used by the thread
// of its owner. Open traces and returns false on any failure.

#include "platform/library.h"
#include "sx5363s/sx5363s.h"

class CAudioCodec {
public:
    CAudioCodec() = default;
    ~CAudioCodec() { Close(); }
    CAudioCodec(const CAudioCodec&) = delete;
    CAudioCodec& operator=(const CAudioCodec&) = delete;

    // Loads the library, binds its seven entry points and opens a codec.
    bool Open();
    void Close();

    // 480 bytes of PCM into one frame at `frame`; false on a codec error.
    bool Encode(const BYTE* pcm, BYTE* frame, DWORD& produced);
    // One frame (its size by its first byte, all of it readable) into the
    // first 480 bytes of `pcm` (room for 500); `used` is the frame's size.
    bool Decode(const BYTE* frame, BYTE* pcm, DWORD& used);

private:
    using OpenFn = LONG (*)(SX5363_HANDLE*);
    using CloseFn = LONG (*)(SX5363_HANDLE*);
    using InitFn = LONG (*)(SX5363_HANDLE);
    using CodeFn = LONG (*)(SX5363_HANDLE, LONG, const BYTE*, BYTE*, DWORD*);

    HMODULE m_library = nullptr;
    SX5363_HANDLE m_handle = nullptr;
    OpenFn m_open = nullptr;
    CloseFn m_close = nullptr;
    InitFn m_initEncod = nullptr;
    InitFn m_initDecod = nullptr;
    CodeFn m_encode53 = nullptr;
    CodeFn m_encode63 = nullptr;
    CodeFn m_decode = nullptr;
};
