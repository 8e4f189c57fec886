#pragma once
// Connection points: how an object delivers events to the sinks its clients
// hand it. A client asks the object's IConnectionPointContainer for the point
// of an event interface, then Advise(sink) gives it a cookie and Unadvise(cookie)
// ends the delivery. Sinks are dispatch interfaces: the source fires an event by
// calling each sink's Invoke with the event's dispatch id.
//
//   class CThing : public ComObject<CThing, DispatchImpl<CThing, IThing>,
//                                   ConnectionPointContainerImpl<CThing>> {
//       ConnectionPoint m_events{*this, DIID__IThingEvents};
//   public:
//       std::span<ConnectionPoint* const> connectionPoints() { ... return {&m_eventsPtr, 1}; }
//   };
//
// A point is used on its object's thread. A sink may Unadvise from inside an
// event: firing works on a copy of the sink list.

#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"

#include <span>
#include <vector>

inline constexpr IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
    static constexpr IID iid = IID_IConnectionPoint;
    using Base = IUnknown;
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    // The sink must answer QueryInterface for the point's interface
    // (CONNECT_E_CANNOTCONNECT otherwise). The cookie is never 0.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    // CONNECT_E_NOCONNECTION for an unknown cookie.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    // Enumerators are not offered: E_NOTIMPL.
    virtual HRESULT EnumConnections(void** enumerator) = 0;

protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
    static constexpr IID iid = IID_IConnectionPointContainer;
    using Base = IUnknown;
    // Enumerators are not offered: E_NOTIMPL.
    virtual HRESULT EnumConnectionPoints(void** enumerator) = 0;
    // CONNECT_E_NOCONNECTION when the object has no point for riid.
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

namespace platform::com {

// One connection point, a member of the object that sources the events. Its
// reference count is the owner's: it lives exactly as long as the owner.
class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer& owner, const IID& eventIid) : m_owner(owner), m_iid(eventIid) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;
    ~ConnectionPoint() = default;

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }
    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumConnections(void** enumerator) override;

    const IID& eventIid() const { return m_iid; }
    std::size_t sinkCount() const { return m_sinks.size(); }

    // Calls every sink's Invoke(id) with the arguments given first-to-last.
    // Returns the number of sinks reached.
    // The arguments stay the caller's.
    int fire(DISPID id, std::span<const VARIANT> argsFirstToLast = {});
    int fire(DISPID id, std::span<const Variant> argsFirstToLast) {
        std::vector<VARIANT> plain(argsFirstToLast.begin(), argsFirstToLast.end());
        return fire(id, std::span<const VARIANT>(plain));
    }

    // Drops every sink (the owner calls it when it goes away).
    void unadviseAll();

private:
    struct Sink {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    IConnectionPointContainer& m_owner;
    IID m_iid;
    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;
};

// The container part of an object with events; T provides
// std::span<ConnectionPoint* const> connectionPoints().
template <class T>
class ConnectionPointContainerImpl : public IConnectionPointContainer {
public:
    HRESULT EnumConnectionPoints(void** enumerator) override {
        if (enumerator) {
            *enumerator = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (!point) {
            return E_POINTER;
        }
        *point = nullptr;
        for (ConnectionPoint* candidate : static_cast<T&>(*this).connectionPoints()) {
            if (candidate->eventIid() == riid) {
                candidate->AddRef();
                *point = candidate;
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
};

// Client side: advises a sink on an object's point for eventIid and remembers
// the cookie; Unadvise happens in disconnect() or at the end.
class SinkConnection {
public:
    SinkConnection() = default;
    SinkConnection(const SinkConnection&) = delete;
    SinkConnection& operator=(const SinkConnection&) = delete;
    ~SinkConnection() { disconnect(); }

    HRESULT connect(IUnknown* source, const IID& eventIid, IUnknown* sink);
    void disconnect();
    bool connected() const { return m_cookie != 0; }

private:
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

}  // namespace platform::com
