#pragma once
// HostedControl: the base of a wrapper of a control that a window hosts: a
// dispatch object made by its class id (or handed in by the caller) and the
// wrapper's own event sink advised on the control's event interface. The
// derived wrapper names the class and the event interface, supplies its sink
// class, and turns its methods into dispatch calls through invoke().
//
// While no control is hosted, Exists() is false and invoke() answers E_FAIL,
// so the owner can say that the control is missing and go on without it.
//
// Threads: the thread that created it (controls are apartment-threaded).

#include "platform/com/com.h"
#include "platform/com/com_ptr.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/com/oleauto.h"

#include <span>
#include <utility>

namespace platform::com {

class HostedControl {
public:
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;

    bool Exists() const { return static_cast<bool>(m_control); }
    // The result of the last creation attempt (S_OK once a control is hosted).
    HRESULT CreationResult() const { return m_created; }
    // Whether the hosted control took the sink (a control may offer no events).
    bool EventsConnected() const { return m_connection.connected(); }

protected:
    HostedControl(const CLSID& clsid, const IID& eventIid) : m_clsid(clsid), m_eventIid(eventIid) {}
    ~HostedControl() { m_connection.disconnect(); }

    // Makes a control of the wrapper's class into `control`; false when it
    // cannot be made (the reason is CreationResult()).
    bool createControl(ComPtr<IDispatch>& control) {
        m_created = createInstance(m_clsid, control);
        return SUCCEEDED(m_created) && control;
    }

    // Hosts `control` in place of the one hosted before and advises a new
    // sink of class Sink, made with `sinkArgs`, on the event interface. False
    // for a null control (nothing is hosted then).
    template <typename Sink, typename... Args>
    bool hostControl(IDispatch* control, Args&&... sinkArgs) {
        m_connection.disconnect();
        m_sink.reset();
        m_control.reset();
        if (control == nullptr) return false;
        m_control = ComPtr<IDispatch>::addRef(control);
        m_created = S_OK;
        IUnknown* sink = nullptr;
        if (SUCCEEDED(Sink::createInstance(IID_IUnknown, reinterpret_cast<void**>(&sink),
                                           std::forward<Args>(sinkArgs)...))) {
            m_sink = ComPtr<IUnknown>::adopt(sink);
            m_connection.connect(control, m_eventIid, sink);
        }
        return true;
    }

    // Calls the control's method `id` with the arguments first to last.
    HRESULT invoke(DISPID id, std::span<const Variant> args, VARIANT* answer = nullptr) {
        if (!m_control) return E_FAIL;
        return invokeByDispid(m_control.get(), id, args, answer);
    }

private:
    const CLSID m_clsid;
    const IID m_eventIid;
    ComPtr<IDispatch> m_control;
    ComPtr<IUnknown> m_sink;
    SinkConnection m_connection;
    HRESULT m_created = E_FAIL;
};

}  // namespace platform::com
