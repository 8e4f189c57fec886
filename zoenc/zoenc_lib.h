#pragma once
// The video encoder component (in-process COM class ZoVideoEncoder): turns
// 24-bit pictures into standard H.263 (baseline: sub-QCIF, QCIF, CIF) through
// libavcodec. Shared by the server and its clients.
//
// Use: Open; SetAttribute(ZOENC_ATTR_FORMAT, width, height, frames per second);
// then per picture AddImage and GetData. GetData writes a 40-byte bitmap info
// header (compression "H263", image size = the bytes of the picture) and the
// coded picture behind it. A failure of GetData whose low 16 bits are 8 means
// that no coded picture is waiting.

#include "platform/com/oleauto.h"
#include "platform/types.h"

// {6F1D2B7A-3C84-4E51-9A0B-5D2E7C9F1A63}
inline constexpr CLSID CLSID_ZoVideoEncoder = {0x6F1D2B7A, 0x3C84, 0x4E51,
                                              {0x9A, 0x0B, 0x5D, 0x2E, 0x7C, 0x9F, 0x1A, 0x63}};
// {A2C5E1F0-7B3D-4C96-8E2A-1F4B6D8C0E95}
inline constexpr IID IID_IZoEncoder = {0xA2C5E1F0, 0x7B3D, 0x4C96, {0x8E, 0x2A, 0x1F, 0x4B, 0x6D, 0x8C, 0x0E, 0x95}};

// Attributes of SetAttribute.
enum : LONG {
    ZOENC_ATTR_FORMAT = 1,    // width, height, frames per second (1 to 30); the coder restarts
    ZOENC_ATTR_KEYFRAME = 2,  // the next picture is coded whole (intra)
    ZOENC_ATTR_BITRATE = 3,   // target bits per second (10,000 to 2,000,000)
};

// The compression word of the output header: "H263" as a little-endian word.
inline constexpr DWORD kZoEncCompressionH263 = 0x33363248;
// Room a caller gives GetData: the header and the largest picture it takes.
inline constexpr DWORD kZoEncOutputBytes = 102400;

// Failures, besides E_POINTER and E_INVALIDARG.
inline constexpr HRESULT ZOENC_E_NOT_READY = hresult(0x80040008);  // nothing coded waits (low word 8)
inline constexpr HRESULT ZOENC_E_NOT_OPEN = hresult(0x80040201);   // Open or the format is missing
inline constexpr HRESULT ZOENC_E_FORMAT = hresult(0x80040202);     // not an H.263 picture size
inline constexpr HRESULT ZOENC_E_IMAGE = hresult(0x80040203);      // the image is not what the format says
inline constexpr HRESULT ZOENC_E_CODER = hresult(0x80040204);      // the coder refused
inline constexpr HRESULT ZOENC_E_ROOM = hresult(0x80040205);       // the buffer cannot hold the picture

struct IZoEncoder : IDispatch {
    static constexpr IID iid = IID_IZoEncoder;
    using Base = IDispatch;
    virtual HRESULT Open() = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT SetAttribute(LONG id, LONG a, LONG b, LONG c) = 0;
    // A packed bitmap: 40-byte header, then 24-bit rows (bottom-up for a
    // positive height, top-down for a negative one) of the format's size.
    virtual HRESULT AddImage(BYTE* image, ULONG size) = 0;
    // The next coded picture behind its header; *length the bytes written.
    virtual HRESULT GetData(BYTE* buffer, ULONG capacity, ULONG* length) = 0;

protected:
    ~IZoEncoder() = default;
};
