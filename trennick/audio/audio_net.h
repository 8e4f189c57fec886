#pragma once
// The network audio input and output: clients of the network stream server
// component (ZOTCPServer, IZoNet) through which other programs on the network
// hand the talk channel its outgoing coded speech (CAudioInNet) and take the
// speech received from the site (CAudioOutNet). Each serves at its configured
// address; "connected" means a program is attached.
//
// Thread: the one that created it (the user-interface thread). Without the
// component, or when it cannot open or serve, every operation does nothing
// and answers 0; the audio client then uses the sound card alone.

#include "platform/types.h"
#include "trennick/clients/zo_net_holder.h"

namespace trennick {

class CAudioNet {
public:
    CAudioNet(const CAudioNet&) = delete;
    CAudioNet& operator=(const CAudioNet&) = delete;

    // True while the component reports a program attached (state 3).
    bool IsConnected() { return m_net.IsConnected(); }
    bool HasComponent() const { return static_cast<bool>(m_net); }

protected:
    // Creates and opens the component ("ZoNetFifoSize" of section "Audio" and
    // the given rate) and serves at the address. `who` names it in traces.
    CAudioNet(const char* who, const char* address, DWORD maxBitRate);
    ~CAudioNet() = default;

    ZoNetHolder m_net;
};

class CAudioInNet : public CAudioNet {
public:
    explicit CAudioInNet(const char* address);
    // Takes the coded speech that has arrived, at most `capacity` bytes; 1 on
    // success (`length` may be 0), 0 when not connected or on failure. A
    // record larger than `capacity` is dropped, so it never stops the input.
    int Read(BYTE* buffer, DWORD capacity, DWORD& length);
};

class CAudioOutNet : public CAudioNet {
public:
    explicit CAudioOutNet(const char* address);
    // Hands one frame's coded speech on; 1, or 0 when not connected or on failure.
    int Write(const BYTE* data, DWORD length);
    // True when the number of attached programs rose (fell) since the last look.
    bool OnNewClientConnect() { return m_net.ClientsRose(); }
    bool OnClientDisconnect() { return m_net.ClientsFell(); }
};

}  // namespace trennick
