#pragma once
// CVideoOutNet: the network video output. A client of the network stream
// server component (ZOTCPServer, IZoNet) that serves the compressed video
// received from the site to viewers on the network; the link hands it every
// received frame unchanged and asks the site for a key frame when a viewer
// joins.
//
// Thread: the thread that created it (the component is apartment-threaded).
// Failure: without the component, or when it cannot open or serve, every
// operation does nothing and answers FALSE; a failed write loses that frame.

#include "platform/types.h"
#include "trennick/clients/zo_net_holder.h"
#include "trennick/link/av_ports.h"

namespace trennick {

class CVideoOutNet : public VideoOutNet {
public:
    // Creates the component, opens it and serves at the address ("NetOutPort").
    explicit CVideoOutNet(const char* address);
    // Uses the given component (adds a reference); null: none.
    CVideoOutNet(IZoNet* component, const char* address);
    ~CVideoOutNet() override = default;
    CVideoOutNet(const CVideoOutNet&) = delete;
    CVideoOutNet& operator=(const CVideoOutNet&) = delete;

    // Reads "ZoNetFifoSize" and "MaxBitRate" (section "Video\Network") and
    // prepares the component; FALSE when Open or FifoInit fails.
    BOOL Open();
    BOOL Connect(const char* address);
    BOOL Write(const BYTE* data, DWORD length);
    BOOL IsConnected();
    BOOL CleanBuf();
    // TRUE when the number of viewers rose (fell) since the last look.
    BOOL OnNewClientConnect();
    BOOL OnClientDisconnect();

    // VideoOutNet, as the link drives it.
    bool isClientConnected() override { return IsConnected() != FALSE; }
    bool writeFrame(const BYTE* frame, DWORD length) override { return Write(frame, length) != FALSE; }
    bool clientNewlyConnected() override { return OnNewClientConnect() != FALSE; }
    bool clientLeft() override { return OnClientDisconnect() != FALSE; }
    // Once the last viewer has gone, what was queued for it is thrown away.
    bool wantsBufferCleaned() override;
    void cleanBuffer() override { CleanBuf(); }

    bool HasComponent() const { return static_cast<bool>(m_net); }

private:
    void start(const char* address);

    ZoNetHolder m_net;
    DWORD m_connectRequested = 0;
    bool m_cleanPending = false;
};

}  // namespace trennick
