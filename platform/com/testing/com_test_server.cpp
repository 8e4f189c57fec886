// A small in-process server for the layer's own tests: one class with a dual
// interface, an event, and an error object.

#include "platform/com/testing/com_test_server.h"

#include "platform/com/com_server.h"
#include "platform/com/dispatch.h"
#include "platform/com/error_info.h"

#include <array>
#include <string>

namespace {

std::atomic<long> g_live{0};

class CVlmTestThing
    : public platform::com::ComObject<CVlmTestThing, platform::com::DispatchImpl<CVlmTestThing, IVlmTestThing>,
                                      platform::com::ConnectionPointContainerImpl<CVlmTestThing>> {
public:
    CVlmTestThing() { ++g_live; }
    ~CVlmTestThing() override {
        m_events.unadviseAll();
        --g_live;
    }

    static std::span<const platform::com::DispatchMember<CVlmTestThing>> dispatchMembers() {
        using platform::com::dispatchMethod;
        static const platform::com::DispatchMember<CVlmTestThing> table[] = {
            {"Add", DISPID_Add, &dispatchMethod<&CVlmTestThing::Add>},
            {"Echo", DISPID_Echo, &dispatchMethod<&CVlmTestThing::Echo>},
            {"Fail", DISPID_Fail, &dispatchMethod<&CVlmTestThing::Fail>},
            {"FireTick", DISPID_FireTick, &dispatchMethod<&CVlmTestThing::FireTick>},
            {"LiveObjects", DISPID_LiveObjects, &dispatchMethod<&CVlmTestThing::LiveObjects>},
            {"Address", DISPID_Address, &dispatchMethod<&CVlmTestThing::Address>},
        };
        return table;
    }
    std::span<platform::com::ConnectionPoint* const> connectionPoints() { return m_points; }

    HRESULT Add(LONG a, LONG b, LONG* sum) override {
        if (!sum) return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    HRESULT Echo(BSTR text, BSTR* copy) override {
        if (!copy) return E_POINTER;
        *copy = SysAllocStringLen(text, SysStringLen(text));
        return S_OK;
    }
    HRESULT Fail() override {
        return platform::com::reportError(E_FAIL, IID_IVlmTestThing, "VelmoorTest.Thing", "the thing refused");
    }
    HRESULT FireTick(LONG value) override {
        const platform::com::Variant args[] = {platform::com::Variant::i4(value),
                                               platform::com::Variant::text("tick " + std::to_string(value))};
        m_events.fire(DISPID_Tick, std::span<const platform::com::Variant>(args));
        return S_OK;
    }
    HRESULT LiveObjects(LONG* count) override {
        if (!count) return E_POINTER;
        *count = LONG(g_live.load());
        return S_OK;
    }
    HRESULT Address(VlmRecord* target, LONG value) override {
        if (!target) return E_POINTER;
        target->value = value;
        return S_OK;
    }

private:
    platform::com::ConnectionPoint m_events{*this, DIID_IVlmTestThingEvents};
    std::array<platform::com::ConnectionPoint*, 1> m_points{&m_events};
};

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CVlmTestThing>(CLSID_VlmTestThing, kVlmTestThingProgId, kVlmTestThingViProgId,
                                              "Velmoor test thing"),
};

}  // namespace

VELMOOR_COM_SERVER(kClasses)
