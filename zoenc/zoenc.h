#pragma once
// CZoVideoEncoder: the video encoder object (ZOENC.ZoVideoEncoder) over
// libavcodec's H.263 coder. One coder per object, used on one thread at a
// time. Failures come back as HRESULTs; nothing throws.

#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "zoenc/zoenc_lib.h"

#include <memory>
#include <span>

class CZoVideoEncoder
    : public platform::com::ComObject<CZoVideoEncoder, platform::com::DispatchImpl<CZoVideoEncoder, IZoEncoder>> {
public:
    CZoVideoEncoder();
    ~CZoVideoEncoder() override;

    static std::span<const platform::com::DispatchMember<CZoVideoEncoder>> dispatchMembers();

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT SetAttribute(LONG id, LONG a, LONG b, LONG c) override;
    HRESULT AddImage(BYTE* image, ULONG size) override;
    HRESULT GetData(BYTE* buffer, ULONG capacity, ULONG* length) override;

private:
    struct Coder;
    HRESULT startCoder();
    std::unique_ptr<Coder> m_coder;
    bool m_open = false;
    int m_width = 0;
    int m_height = 0;
    int m_rate = 10;
    int m_bitRate = 256000;
    bool m_keyNext = true;
};
