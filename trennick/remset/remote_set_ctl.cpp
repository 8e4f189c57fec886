#include "trennick/remset/remote_set_ctl.h"

#include "common/lumo_deb.h"
#include "platform/com/com_object.h"
#include "platform/com/dispatch.h"

#include <vector>

namespace trennick {

struct _DRemoteSetCtlEvents : IDispatch {
    static constexpr IID iid = DIID__DRemoteSetCtlEvents;
    using Base = IDispatch;

protected:
    ~_DRemoteSetCtlEvents() = default;
};

// The event sink the wrapper advises on the control.
class CRemoteSetCtl::Sink
    : public platform::com::ComObject<Sink, platform::com::DispatchImpl<Sink, _DRemoteSetCtlEvents>> {
public:
    explicit Sink(RemoteSetCtlEvents events) : m_events(std::move(events)) {}

    static std::span<const platform::com::DispatchMember<Sink>> dispatchMembers() {
        using platform::com::dispatchMethod;
        static const platform::com::DispatchMember<Sink> table[] = {
            {"Created", 1, &dispatchMethod<&Sink::Created>},   {"Destructed", 2, &dispatchMethod<&Sink::Destructed>},
            {"Upload", 3, &dispatchMethod<&Sink::Upload>},     {"DownLoad", 4, &dispatchMethod<&Sink::DownLoad>},
            {"Cancel", 5, &dispatchMethod<&Sink::Cancel>},
        };
        return table;
    }
    HRESULT Created() { return fire(m_events.created); }
    HRESULT Destructed() { return fire(m_events.destructed); }
    HRESULT Upload() { return fire(m_events.upload); }
    HRESULT DownLoad() { return fire(m_events.download); }
    HRESULT Cancel() { return fire(m_events.cancel); }

private:
    static HRESULT fire(const std::function<void()>& handler) {
        if (handler) handler();
        return S_OK;
    }
    RemoteSetCtlEvents m_events;
};

CRemoteSetCtl::CRemoteSetCtl() : HostedControl(CLSID_RemoteSetCtl, DIID__DRemoteSetCtlEvents) {}

bool CRemoteSetCtl::Create(const RemoteSetCtlEvents& events) {
    platform::com::ComPtr<IDispatch> control;
    if (!createControl(control)) {
        LUMO_TRACE(3, "CRemoteSetCtl::Create the remote settings editor control is not available (0x%08X)",
                   unsigned(CreationResult()));
        return false;
    }
    return Attach(control.get(), events);
}

bool CRemoteSetCtl::Attach(IDispatch* control, const RemoteSetCtlEvents& events) {
    if (!hostControl<Sink>(control, events)) return false;
    if (!EventsConnected()) LUMO_TRACE(3, "CRemoteSetCtl::Attach the control offers no events");
    return true;
}

bool CRemoteSetCtl::call(DISPID id, std::initializer_list<platform::com::Variant> args) {
    if (!Exists()) return false;
    const std::vector<platform::com::Variant> list(args);
    const HRESULT hr = invoke(id, list);
    if (FAILED(hr)) LUMO_TRACE(3, "CRemoteSetCtl: dispatch id %d failed (0x%08X)", int(id), unsigned(hr));
    return SUCCEEDED(hr);
}

bool CRemoteSetCtl::SetRSDB(IUnknown* store) {
    platform::com::Variant v;
    v.vt = VT_UNKNOWN;
    v.punkVal = store;
    if (store != nullptr) store->AddRef();
    return call(1, {v});
}
bool CRemoteSetCtl::Refresh() { return call(2, {}); }
bool CRemoteSetCtl::UpdateData(LONG type, LONG value) {
    return call(3, {platform::com::Variant::i4(type), platform::com::Variant::i4(value)});
}
bool CRemoteSetCtl::UserMessage(LONG code, const std::string& text, LONG first, LONG second) {
    return call(4, {platform::com::Variant::i4(code), platform::com::Variant::text(text), platform::com::Variant::i4(first),
                    platform::com::Variant::i4(second)});
}
bool CRemoteSetCtl::CreateUI() { return call(5, {}); }
bool CRemoteSetCtl::DestroyUI() { return call(6, {}); }

}  // namespace trennick
