#pragma once
// CZOH263DEC: the H.263 decoder server object (RANVIC.ZOH263DEC).
//
// Decodes a compressed live-video stream into one 24-bit image that the
// client copies out: stream type 1 through the block-transform decoder, any
// other type as standard H.263 through zocodec. Synchronous mode decodes
// inside AddBuffer; asynchronous mode (registry WorkMode 1) queues the bytes
// in a FIFO that a decoder thread drains. The object is used on the thread
// that created it; the decoder thread shares the image under the image lock.
// Failures return S_FALSE and keep a code for GetLastErr; nothing throws.

#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "ranvic/ranvic_lib.h"

#include <memory>
#include <span>
#include <string>

namespace ranvic {
struct DecoderShared;
class DecoderThread;
}  // namespace ranvic

class CZOH263DEC : public platform::com::ComObject<CZOH263DEC, platform::com::DispatchImpl<CZOH263DEC, IZOH263DEC>> {
public:
    CZOH263DEC();
    ~CZOH263DEC() override;

    static std::span<const platform::com::DispatchMember<CZOH263DEC>> dispatchMembers();

    HRESULT Init(DWORD type) override;
    HRESULT Finish() override;
    HRESULT Go() override;
    HRESULT Stop() override;
    HRESULT Clean() override;
    HRESULT AddBuffer(BYTE* buffer, DWORD size) override;
    HRESULT GetBuffer(BYTE* buffer, DWORD size) override;
    HRESULT GetData(BYTE* buffer, DWORD size) override;
    HRESULT IsUpdated(DWORD* updated) override;
    HRESULT GetLastErr(DWORD* error) override;
    HRESULT GetState(DWORD* state) override;
    HRESULT GetBufferSize(DWORD* size) override;
    HRESULT SetAttribute(SHORT width, SHORT height) override;
    HRESULT IsReady(DWORD* ready) override;
    HRESULT SetType(DWORD type) override;

    // How long AddBuffer waits for room in a full FIFO, and Finish for the
    // decoder thread, before it gives up.
    static constexpr int kWriteWaitMs = 2000;
    static constexpr int kThreadStopWaitMs = 10000;

private:
    void ReadRegParams();
    void CloseWorkThread();
    void StartWorkThread();
    void DecodeNimbraSyncrony(const BYTE* data, DWORD size);
    void DecodeStandartSyncrony(const BYTE* data, DWORD size);

    std::shared_ptr<ranvic::DecoderShared> m_shared;
    std::unique_ptr<ranvic::DecoderThread> m_thread;
    DWORD m_state = ZOH263DEC_IDLE;
    std::string m_moduleFolder;
};
