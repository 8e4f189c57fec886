#include "platform/com/hosted_control.h"

#include "platform/com/com_object.h"
#include "platform/com/testing/com_test_server.h"

#include <gtest/gtest.h>
#include <vector>

using platform::com::ComPtr;
using platform::com::Variant;

namespace {

// The event sink of the test thing's host: notes the value of each Tick.
class TickRecorder : public platform::com::ComObject<TickRecorder, IDispatch> {
public:
    explicit TickRecorder(std::vector<LONG>* ticks) : m_ticks(ticks) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        const IID& asked = riid == DIID_IVlmTestThingEvents ? IID_IDispatch : riid;
        return platform::com::ComObject<TickRecorder, IDispatch>::QueryInterface(asked, object);
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == DISPID_Tick && params->cArgs == 2 && params->rgvarg[1].vt == VT_I4) {
            m_ticks->push_back(params->rgvarg[1].lVal);
        }
        return S_OK;
    }

private:
    std::vector<LONG>* m_ticks;
};

// A wrapper of the test thing, hosted as a window hosts its control.
class ThingHost : public platform::com::HostedControl {
public:
    explicit ThingHost(const CLSID& clsid = CLSID_VlmTestThing) : HostedControl(clsid, DIID_IVlmTestThingEvents) {}
    bool Create(std::vector<LONG>* ticks) {
        ComPtr<IDispatch> control;
        return createControl(control) && Attach(control.get(), ticks);
    }
    bool Attach(IDispatch* control, std::vector<LONG>* ticks) { return hostControl<TickRecorder>(control, ticks); }
    HRESULT Add(LONG a, LONG b, LONG* sum) {
        const Variant args[] = {Variant::i4(a), Variant::i4(b), Variant::ref(VT_I4, sum)};
        return invoke(DISPID_Add, args);
    }
    HRESULT FireTick(LONG value) {
        const Variant args[] = {Variant::i4(value)};
        return invoke(DISPID_FireTick, args);
    }
};

class HostedControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
    }
    void TearDown() override { CoUninitialize(); }

    static ComPtr<IDispatch> makeThing() {
        ComPtr<IDispatch> thing;
        EXPECT_EQ(platform::com::createInstance(CLSID_VlmTestThing, thing), S_OK);
        return thing;
    }
    static void fire(IDispatch* thing, LONG value) {
        const Variant args[] = {Variant::i4(value)};
        EXPECT_EQ(platform::com::invokeByDispid(thing, DISPID_FireTick, std::span<const Variant>(args)), S_OK);
    }
};

}  // namespace

TEST_F(HostedControlTest, ControlMadeByItsClassTakesCallsAndItsEventsReachTheSink) {
    std::vector<LONG> ticks;
    ThingHost host;
    EXPECT_FALSE(host.Exists());
    ASSERT_TRUE(host.Create(&ticks));
    EXPECT_TRUE(host.Exists());
    EXPECT_EQ(host.CreationResult(), S_OK);
    EXPECT_TRUE(host.EventsConnected());
    LONG sum = 0;
    EXPECT_EQ(host.Add(2, 40, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    EXPECT_EQ(host.FireTick(7), S_OK);
    EXPECT_EQ(ticks, std::vector<LONG>{7});
}

TEST_F(HostedControlTest, ClassThatIsNotInstalledLeavesNothingHosted) {
    std::vector<LONG> ticks;
    ThingHost host(CLSID_VlmNeverRegistered);
    EXPECT_FALSE(host.Create(&ticks));
    EXPECT_FALSE(host.Exists());
    EXPECT_EQ(host.CreationResult(), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(host.EventsConnected());
    LONG sum = -1;
    EXPECT_EQ(host.Add(1, 1, &sum), E_FAIL);
    EXPECT_EQ(sum, -1);
}

TEST_F(HostedControlTest, AnotherControlReplacesTheFirstAndNoneLeavesNothing) {
    ComPtr<IDispatch> first = makeThing();
    ComPtr<IDispatch> second = makeThing();
    std::vector<LONG> firstTicks, secondTicks;
    ThingHost host;
    ASSERT_TRUE(host.Attach(first.get(), &firstTicks));
    fire(first.get(), 1);
    ASSERT_TRUE(host.Attach(second.get(), &secondTicks));
    fire(first.get(), 2);  // the first control's sink was taken off
    fire(second.get(), 3);
    EXPECT_EQ(firstTicks, std::vector<LONG>{1});
    EXPECT_EQ(secondTicks, std::vector<LONG>{3});

    EXPECT_FALSE(host.Attach(nullptr, &firstTicks));
    EXPECT_FALSE(host.Exists());
    EXPECT_FALSE(host.EventsConnected());
    fire(second.get(), 4);
    EXPECT_EQ(secondTicks, std::vector<LONG>{3});
}

TEST_F(HostedControlTest, EventsStopWhenTheHostGoes) {
    ComPtr<IDispatch> thing = makeThing();
    std::vector<LONG> ticks;
    {
        ThingHost host;
        ASSERT_TRUE(host.Attach(thing.get(), &ticks));
        fire(thing.get(), 5);
    }
    fire(thing.get(), 6);
    EXPECT_EQ(ticks, std::vector<LONG>{5});
}
