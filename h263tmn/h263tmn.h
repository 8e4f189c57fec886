#pragma once
// CH263Tmn: the H.263 decoder object (H263TMN.H263Tmn). Pictures are cut out
// of the received pieces at their start codes and decoded by the standard
// H.263 decoder library bound at run time. One object per stream, used on one
// thread at a time. Failures come back as HRESULTs; nothing throws.

#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "h263tmn/h263tmn_lib.h"

#include <memory>
#include <span>
#include <vector>

class ZoCodecBinding;
class CPictureCollector;

class CH263Tmn : public platform::com::ComObject<CH263Tmn, platform::com::DispatchImpl<CH263Tmn, IH263Tmn>> {
public:
    CH263Tmn();
    ~CH263Tmn() override;

    static std::span<const platform::com::DispatchMember<CH263Tmn>> dispatchMembers();

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT SetAttribute(LONG id, LONG a, LONG b, LONG c) override;
    HRESULT Reserved() override;
    HRESULT AddData(BYTE* data, ULONG length) override;
    HRESULT GetImageData(BYTE* picture, ULONG size) override;

private:
    void decode(const BYTE* picture, int length);

    std::unique_ptr<ZoCodecBinding> m_decoder;
    std::unique_ptr<CPictureCollector> m_collector;
    std::vector<BYTE> m_rows;  // the newest picture, bottom-up
    int m_width = 0;
    int m_height = 0;
    bool m_ready = false;
};
