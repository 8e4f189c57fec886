#pragma once
// ZoNetHolder: the holding of one network stream server component
// (ZOTCPServer, IZoNet) that the program's network outputs and inputs share:
// it creates the component (or takes one given), opens it with its queue and
// rate limits, serves at an address, answers whether a program is attached,
// notices programs joining and leaving, and at the end disconnects, frees the
// queue, closes and releases the component.
//
// Thread: the one that created it (the component is apartment-threaded).
// Failure: without the component every operation does nothing and answers
// false; each failure is traced with the holder's name. Nothing throws.

#include "platform/com/com_ptr.h"
#include "platform/types.h"
#include "zonet/zonet_lib.h"

namespace trennick {

class ZoNetHolder {
public:
    // Creates the component; `who` (a literal) names the client in traces.
    explicit ZoNetHolder(const char* who);
    // Uses the given component (adds a reference); null: none.
    ZoNetHolder(const char* who, IZoNet* component);
    ~ZoNetHolder();
    ZoNetHolder(const ZoNetHolder&) = delete;
    ZoNetHolder& operator=(const ZoNetHolder&) = delete;

    // Open, then the queue of `fifoBytes` and the rate limit; false when Open
    // or the queue fails (a refused rate limit is only traced).
    bool Open(DWORD fifoBytes, DWORD maxBitRate);
    // Serves at the address ("host:port" or a port).
    bool Connect(const char* address);
    // True while the component reports a program attached (state 3).
    bool IsConnected();
    // IsConnected, traced with the operation's name when not.
    bool ConnectedFor(const char* operation);
    // True when the number of attached programs rose (fell) since the last look.
    bool ClientsRose();
    bool ClientsFell();
    LONG Clients() const { return m_clients; }

    IZoNet* get() const { return m_pIZoNet.get(); }
    explicit operator bool() const { return static_cast<bool>(m_pIZoNet); }
    const char* Who() const { return m_who; }

private:
    LONG clientCount();

    const char* m_who;
    platform::com::ComPtr<IZoNet> m_pIZoNet;
    bool m_comInitialised = false;
    LONG m_clients = 0;
};

}  // namespace trennick
