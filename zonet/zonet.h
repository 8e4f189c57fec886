#pragma once
// CZoNetServer: the network stream server object (ZONET.ZOTCPServer). A
// serving thread accepts viewers on a TCP port, sends them the queued
// records within the bit-rate limit, and collects the records they send.
//
// Threads: the interface is called on the creating thread; the serving
// thread shares the queues, the viewers' count and the state with it under
// one mutex. A viewer that falls behind by more than the queue's size misses
// records rather than holding the others up. Failures come back as
// HRESULTs; nothing throws.

#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"
#include "zonet/zonet_lib.h"

#include <memory>
#include <span>

class CZoNetServer
    : public platform::com::ComObject<CZoNetServer, platform::com::DispatchImpl<CZoNetServer, IZoNet>> {
public:
    CZoNetServer();
    ~CZoNetServer() override;

    static std::span<const platform::com::DispatchMember<CZoNetServer>> dispatchMembers();

    HRESULT Open(LONG reserved) override;
    HRESULT Close() override;
    HRESULT Connect(LONG reserved, BSTR address) override;
    HRESULT Disconnect() override;
    HRESULT GetLocalPort(LONG* port) override;
    HRESULT GetFifoUsed(LONG* bytes) override;
    HRESULT Read(BYTE* buffer, LONG capacity, LONG* length) override;
    HRESULT Write(BYTE* data, LONG length, LONG* queued) override;
    HRESULT GetState(LONG* state) override;
    HRESULT FifoInit(LONG size) override;
    HRESULT GetMaxBitRate(LONG* rate) override;
    HRESULT FifoFree() override;
    HRESULT CleanBuf(LONG reserved) override;
    HRESULT SetMaxBitRate(LONG rate) override;
    HRESULT GetClientCount(LONG* count) override;

private:
    struct Server;
    std::unique_ptr<Server> m_server;
};
