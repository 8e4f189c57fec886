#include "platform/com/connection_point.h"

#include "platform/com/dispatch.h"

namespace platform::com {

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) {
        return E_POINTER;
    }
    *iid = m_iid;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) {
        return E_POINTER;
    }
    m_owner.AddRef();
    *container = &m_owner;
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) {
        return E_POINTER;
    }
    *cookie = 0;
    if (!sink) {
        return E_POINTER;
    }
    // Event interfaces are dispatch interfaces: the sink answers for the
    // event interface's id and is called through IDispatch.
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(m_iid, events.putVoid())) || !events) {
        return CONNECT_E_CANNOTCONNECT;
    }
    if (m_nextCookie == 0) {
        return CONNECT_E_ADVISELIMIT;
    }
    *cookie = m_nextCookie++;
    m_sinks.push_back(Sink{*cookie, std::move(events)});
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            Sink gone = std::move(*it);
            m_sinks.erase(it);
            return S_OK;  // the sink is released as `gone` ends
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(void** enumerator) {
    if (enumerator) {
        *enumerator = nullptr;
    }
    return E_NOTIMPL;
}

int ConnectionPoint::fire(DISPID id, std::span<const VARIANT> argsFirstToLast) {
    std::vector<Sink> sinks = m_sinks;  // a sink may unadvise while it is called
    int reached = 0;
    for (auto& sink : sinks) {
        Variant ignored;
        invokeByDispid(sink.sink.get(), id, argsFirstToLast, &ignored);
        ++reached;
    }
    return reached;
}

void ConnectionPoint::unadviseAll() {
    std::vector<Sink> gone;
    gone.swap(m_sinks);
}

HRESULT SinkConnection::connect(IUnknown* source, const IID& eventIid, IUnknown* sink) {
    disconnect();
    if (!source || !sink) {
        return E_POINTER;
    }
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(eventIid, point.put());
    if (FAILED(hr)) {
        return hr;
    }
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (FAILED(hr)) {
        return hr;
    }
    m_point = std::move(point);
    m_cookie = cookie;
    return S_OK;
}

void SinkConnection::disconnect() {
    if (m_point && m_cookie != 0) {
        m_point->Unadvise(m_cookie);
    }
    m_point.reset();
    m_cookie = 0;
}

}  // namespace platform::com
