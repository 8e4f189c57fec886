#pragma once
// The H.263 decoder component (in-process COM class H263Tmn): takes the
// received pieces of a standard H.263 stream and gives whole decoded pictures
// as packed 24-bit bitmaps. Shared by the server and its clients.
//
// Use: Open; SetAttribute (id 7, three zeros: start a new stream); then per
// received piece AddData, and GetImageData to take the newest picture. A
// picture is whole when the next picture start code arrives, so each picture
// comes out when the piece that opens the next one has been added.
// GetImageData writes a 40-byte bitmap info header (24 bits, bottom-up, the
// picture's own size: 128 x 96 and 176 x 144 as QCIF, 352 x 288 as CIF) and
// the rows behind it. A failure of GetImageData whose low 16 bits are 8 means
// that no new picture is ready.

#include "platform/com/oleauto.h"
#include "platform/types.h"

// {3B9E4C21-8F6A-4D07-B5C3-2A1E9D7F4B68}
inline constexpr CLSID CLSID_H263Tmn = {0x3B9E4C21, 0x8F6A, 0x4D07, {0xB5, 0xC3, 0x2A, 0x1E, 0x9D, 0x7F, 0x4B, 0x68}};
// {C47A0E93-1D5B-4F28-A6E4-7B3C9F0D2E15}
inline constexpr IID IID_IH263Tmn = {0xC47A0E93, 0x1D5B, 0x4F28, {0xA6, 0xE4, 0x7B, 0x3C, 0x9F, 0x0D, 0x2E, 0x15}};

// The attribute the clients set: start a new stream (the values are not used).
inline constexpr LONG kH263TmnAttrNewStream = 7;

// Failures, besides E_POINTER and E_INVALIDARG.
inline constexpr HRESULT H263TMN_E_NOT_READY = hresult(0x80040008);  // no new picture (low word 8)
inline constexpr HRESULT H263TMN_E_NOT_OPEN = hresult(0x80040301);   // Open missing, or no decoder library
inline constexpr HRESULT H263TMN_E_ROOM = hresult(0x80040302);       // the buffer cannot hold the picture

struct IH263Tmn : IDispatch {
    static constexpr IID iid = IID_IH263Tmn;
    using Base = IDispatch;
    virtual HRESULT Open() = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT SetAttribute(LONG id, LONG a, LONG b, LONG c) = 0;
    // Not used by the clients: E_NOTIMPL.
    virtual HRESULT Reserved() = 0;
    // One received piece of the stream.
    virtual HRESULT AddData(BYTE* data, ULONG length) = 0;
    // The newest whole picture, once: header and rows into the buffer.
    virtual HRESULT GetImageData(BYTE* picture, ULONG size) = 0;

protected:
    ~IH263Tmn() = default;
};
