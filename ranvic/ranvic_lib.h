#pragma once
// RanvicLib: the H.263 decoder server's class and interface, shared by the
// server and its clients (the engine library's frame drawer, the main program).

#include "platform/com/oleauto.h"
#include "platform/types.h"

// The H.263 decoder server (in-process COM class ZOH263DEC). Dual interface;
// operations in slot order after IDispatch's.
inline constexpr CLSID CLSID_ZOH263DEC = {0x940384FA, 0x7619, 0x4BD4,
                                         {0x8C, 0xD1, 0x97, 0x19, 0x81, 0xD8, 0xD5, 0x33}};
inline constexpr IID IID_IZOH263DEC = {0x59DAEFF0, 0x44C3, 0x4E73,
                                      {0x81, 0x0A, 0xD9, 0x97, 0xEE, 0x8C, 0x74, 0xD6}};
// {3C0E29B1-6A0B-4E8F-9D52-2B7C1A6F04D3}
inline constexpr GUID LIBID_RanvicLib = {0x3C0E29B1, 0x6A0B, 0x4E8F,
                                        {0x9D, 0x52, 0x2B, 0x7C, 0x1A, 0x6F, 0x04, 0xD3}};

// Stream types of Init and SetType.
inline constexpr DWORD kZoStreamStandardH263 = 0;
inline constexpr DWORD kZoStreamBlockTransform = 1;

// Last error codes (GetLastErr).
enum : DWORD {
    ZOH263DECERR_NONE = 0,
    ZOH263DECERR_FIFO = 1,
    ZOH263DECERR_NOT_STARTED = 3,
    ZOH263DECERR_EXPAND_FAILED = 4,
    ZOH263DECERR_ALLOCATE = 5,
};

// States (GetState).
enum : DWORD { ZOH263DEC_IDLE = 0, ZOH263DEC_RUNNING = 1, ZOH263DEC_STOPPED = 2 };

// The image that GetData copies: the 40-byte header and room for 720 x 576
// pixels of 3 bytes.
inline constexpr DWORD kZoImagePixelBytes = 720 * 576 * 3;
inline constexpr DWORD kZoImageBytes = 40 + kZoImagePixelBytes;

struct IZOH263DEC : IDispatch {
    static constexpr IID iid = IID_IZOH263DEC;
    using Base = IDispatch;
    virtual HRESULT Init(DWORD type) = 0;
    virtual HRESULT Finish() = 0;
    virtual HRESULT Go() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Clean() = 0;
    virtual HRESULT AddBuffer(BYTE* buffer, DWORD size) = 0;
    virtual HRESULT GetBuffer(BYTE* buffer, DWORD size) = 0;
    virtual HRESULT GetData(BYTE* buffer, DWORD size) = 0;
    virtual HRESULT IsUpdated(DWORD* updated) = 0;
    virtual HRESULT GetLastErr(DWORD* error) = 0;
    virtual HRESULT GetState(DWORD* state) = 0;
    virtual HRESULT GetBufferSize(DWORD* size) = 0;
    virtual HRESULT SetAttribute(SHORT width, SHORT height) = 0;
    virtual HRESULT IsReady(DWORD* ready) = 0;
    virtual HRESULT SetType(DWORD type) = 0;

protected:
    ~IZOH263DEC() = default;
};
