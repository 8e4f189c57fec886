#include "platform/com/com.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/com/error_info.h"
#include "platform/com/testing/com_test_server.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <dlfcn.h>

using platform::com::Bstr;
using platform::com::ComPtr;
using platform::com::Variant;

namespace {

// Initialises COM for the test thread and registers the servers beside the
// test program in this test's fresh home.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        platform::com::ensureServersRegistered();
    }
    void TearDown() override { CoUninitialize(); }

    ComPtr<IVlmTestThing> makeThing() {
        ComPtr<IVlmTestThing> thing;
        EXPECT_EQ(platform::com::createInstance(CLSID_VlmTestThing, thing), S_OK);
        return thing;
    }
};

// A sink for the test thing's events: records each Tick.
class TickSink : public platform::com::ComObject<TickSink, IDispatch> {
public:
    explicit TickSink(IID answersFor) : m_answersFor(answersFor) {}
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == m_answersFor) {
            return platform::com::ComObject<TickSink, IDispatch>::QueryInterface(IID_IDispatch, object);
        }
        return platform::com::ComObject<TickSink, IDispatch>::QueryInterface(riid, object);
    }
    HRESULT GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == DISPID_Tick && params->cArgs == 2 && params->rgvarg[1].vt == VT_I4 && params->rgvarg[0].vt == VT_BSTR) {
            values.push_back(params->rgvarg[1].lVal);
            texts.emplace_back(platform::com::bstrView(params->rgvarg[0].bstrVal));
        }
        return S_OK;
    }
    std::vector<LONG> values;
    std::vector<std::string> texts;

private:
    IID m_answersFor;
};

}  // namespace

TEST(ComGuid, TextFormRoundTripsAndRejectsMalformed) {
    EXPECT_EQ(guidToString(CLSID_VlmTestThing), "{6C2B8E11-40A7-4D2E-9F31-5A1077C40211}");
    struct Case { const char* text; bool ok; };
    const Case cases[] = {
        {"{6C2B8E11-40A7-4D2E-9F31-5A1077C40211}", true},
        {"{6c2b8e11-40a7-4d2e-9f31-5a1077c40211}", true},
        {"6C2B8E11-40A7-4D2E-9F31-5A1077C40211", true},
        {"{6C2B8E11-40A7-4D2E-9F31-5A1077C4021}", false},
        {"{6C2B8E11-40A7-4D2E-9F31+5A1077C40211}", false},
        {"{6C2B8E11-40A7-4D2E-9F31-5A1077C4021G}", false},
        {"(6C2B8E11-40A7-4D2E-9F31-5A1077C40211)", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        GUID parsed{};
        ASSERT_EQ(guidFromString(c.text, parsed), c.ok);
        if (c.ok) {
            EXPECT_TRUE(parsed == CLSID_VlmTestThing);
        }
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString("not a guid", &clsid), CO_E_CLASSSTRING);
    char small[10];
    EXPECT_EQ(StringFromGUID2(CLSID_VlmTestThing, small, sizeof small), 0);
}

TEST(ComBstr, KeepsLengthAndEmbeddedNul) {
    BSTR text = SysAllocStringLen("ab\0cd", 5);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 5u);
    EXPECT_EQ(text[5], '\0');
    EXPECT_EQ(std::memcmp(text, "ab\0cd", 5), 0);
    EXPECT_TRUE(SysReAllocString(&text, "longer text"));
    EXPECT_EQ(SysStringLen(text), 11u);
    SysFreeString(text);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    Bstr owned("abc");
    Bstr copy = owned;
    EXPECT_EQ(copy.view(), "abc");
    EXPECT_NE(copy.get(), owned.get());
}

TEST(ComVariant, ChangeTypeConvertsOrRefuses) {
    struct Case { Variant from; VARTYPE to; HRESULT hr; const char* text; };
    Case cases[] = {
        {Variant::i4(70000), VT_I2, DISP_E_OVERFLOW, ""},
        {Variant::i4(-5), VT_I2, S_OK, "-5"},
        {Variant::text(" 42 "), VT_I4, S_OK, "42"},
        {Variant::text("4x"), VT_I4, DISP_E_TYPEMISMATCH, ""},
        {Variant::r8(2.5), VT_I4, S_OK, "2"},
        {Variant::boolean(true), VT_I2, S_OK, "-1"},
        {Variant::i2(7), VT_BSTR, S_OK, "7"},
        {Variant::i8(1LL << 40), VT_I4, DISP_E_OVERFLOW, ""},
        {Variant::text("False"), VT_BOOL, S_OK, "False"},
        // The edges of 64 bits: 2^63 does not fit, -2^63 does.
        {Variant::r8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW, ""},
        {Variant::text("9223372036854775807.5"), VT_I8, DISP_E_OVERFLOW, ""},
        {Variant::r8(-9223372036854775808.0), VT_I8, S_OK, "-9223372036854775808"},
        {Variant::r8(4294967295.4), VT_UI4, S_OK, "4294967295"},
        {Variant::r8(4294967295.6), VT_UI4, DISP_E_OVERFLOW, ""},
    };
    for (auto& c : cases) {
        Variant out;
        ASSERT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.hr) << c.text;
        if (c.hr == S_OK) {
            Variant asText;
            ASSERT_EQ(VariantChangeType(&asText, &out, 0, VT_BSTR), S_OK);
            EXPECT_EQ(platform::com::bstrView(asText.bstrVal), c.text);
        }
    }
    // A copy owns its own text.
    Variant a = Variant::text("owned");
    Variant b = a;
    EXPECT_NE(a.bstrVal, b.bstrVal);
    VariantClear(&a);
    EXPECT_EQ(platform::com::bstrView(b.bstrVal), "owned");
}

TEST_F(ComTest, CreatesRegisteredClassAndRefusesOthers) {
    ComPtr<IVlmTestThing> thing = makeThing();
    ASSERT_TRUE(thing);
    LONG sum = 0;
    EXPECT_EQ(thing->Add(2, 40, &sum), S_OK);
    EXPECT_EQ(sum, 42);

    // The registry names the library beside the program.
    std::string path = platform::com::inprocServerPath(CLSID_VlmTestThing);
    EXPECT_EQ(std::filesystem::path(path).filename(), "libvelmoor_com_test_server.so");
    EXPECT_EQ(std::filesystem::path(path).parent_path(), platform::executableFolder());

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_VlmNeverRegistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(thing.queryInterface(outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_VlmTestThing, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_VlmTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IErrorInfo, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // Every interface of the object leads back to the same identity.
    ComPtr<IDispatch> dispatch;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(thing.queryInterface(dispatch), S_OK);
    ASSERT_EQ(thing.queryInterface(container), S_OK);
    ComPtr<IUnknown> a, b;
    dispatch.queryInterface(a);
    container.queryInterface(b);
    EXPECT_EQ(a.get(), b.get());

    CLSID byName{};
    EXPECT_EQ(CLSIDFromProgID(kVlmTestThingProgId, &byName), S_OK);
    EXPECT_TRUE(byName == CLSID_VlmTestThing);
    EXPECT_EQ(CLSIDFromProgID(kVlmTestThingViProgId, &byName), S_OK);
    EXPECT_EQ(CLSIDFromProgID("VelmoorTest.Nothing", &byName), REGDB_E_CLASSNOTREG);
}

TEST(ComCreate, NeedsInitialisationAndRegistration) {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_VlmTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    // A fresh home knows no class until the servers are registered.
    EXPECT_EQ(CoCreateInstance(CLSID_VlmTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_GE(platform::com::ensureServersRegistered(), 1);
    EXPECT_EQ(platform::com::ensureServersRegistered(), 0);  // nothing left to do
    // The libraries registration looked into stay loaded: none is unloaded
    // after its code ran.
    const std::string library = platform::com::inprocServerPath(CLSID_VlmTestThing);
    ASSERT_FALSE(library.empty());
    void* stillLoaded = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(stillLoaded, nullptr);
    if (stillLoaded != nullptr) ::dlclose(stillLoaded);
    ASSERT_EQ(CoCreateInstance(CLSID_VlmTestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
    CoUninitialize();
}

namespace {

// args: a library's path. Exit 1 when, after the servers were registered at
// start as a program does, this process has that library loaded; 0 when not.
VELMOOR_TEST_CHILD(com_start_loads_library) {
    platform::com::ensureServersRegistered();
    void* loaded = ::dlopen(args.at(0).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (loaded != nullptr) ::dlclose(loaded);
    return loaded != nullptr ? 1 : 0;
}

int startLoads(const std::string& library) {
    return velmoor::testing::ChildProcess::start("com_start_loads_library", {library}).wait(std::chrono::seconds(60));
}

}  // namespace

// A start after the servers were registered does not load a library again
// while its file is unchanged and its classes are still registered to it;
// a library that changed, or whose classes went, is checked (and registered)
// again.
TEST(ComRegistration, StartLoadsOnlyLibrariesThatChanged) {
    platform::com::ensureServersRegistered();
    const std::string library = platform::com::inprocServerPath(CLSID_VlmTestThing);
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(startLoads(library), 0);

    // The file remembered is not the file there now.
    platform::RegistryKey record;
    ASSERT_EQ(platform::RegistryKey::open(platform::HKEY_CLASSES_ROOT,
                                          "ServerLibraries\\" + std::filesystem::path(library).filename().string(),
                                          platform::KEY_ALL_ACCESS, record),
              ERROR_SUCCESS);
    const char other[] = "1 2.3 4";
    ASSERT_EQ(record.setValue("File", platform::REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other - 1),
              ERROR_SUCCESS);
    EXPECT_EQ(startLoads(library), 1);
    EXPECT_EQ(startLoads(library), 0);  // checked and remembered again

    // Its classes were unregistered: registered again at the next start.
    ASSERT_EQ(platform::com::unregisterServerLibrary(library), S_OK);
    EXPECT_EQ(platform::com::inprocServerPath(CLSID_VlmTestThing), "");
    EXPECT_EQ(startLoads(library), 1);
    EXPECT_EQ(platform::com::inprocServerPath(CLSID_VlmTestThing), library);
    EXPECT_EQ(startLoads(library), 0);
}

TEST_F(ComTest, RegistrationProgramRegistersAndUnregisters) {
    const std::string program = (platform::executableFolder() / "velmoor-regsvr").string();
    const std::string library = platform::com::inprocServerPath(CLSID_VlmTestThing);
    ASSERT_FALSE(library.empty());
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    ASSERT_EQ(std::system((program + " /u '" + library + "'").c_str()), 0);
    EXPECT_EQ(platform::com::inprocServerPath(CLSID_VlmTestThing), "");
    CLSID byName{};
    EXPECT_EQ(CLSIDFromProgID(kVlmTestThingProgId, &byName), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(std::system((program + " '" + library + "'").c_str()), 0);
    EXPECT_EQ(platform::com::inprocServerPath(CLSID_VlmTestThing), library);
    EXPECT_NE(std::system((program + " /nonexistent/libnothing.so").c_str()), 0);
}

TEST_F(ComTest, DispatchFindsNamesAndConvertsArguments) {
    ComPtr<IVlmTestThing> thing = makeThing();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(thing.queryInterface(dispatch), S_OK);

    char name[] = "aDd";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(platform::com::IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, DISPID_Add);
    char unknown[] = "Subtract";
    names[0] = unknown;
    EXPECT_EQ(dispatch->GetIDsOfNames(platform::com::IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    // Add(2, "40") with the sum as the result (retval), and by reference.
    Variant result;
    Variant args[] = {Variant::i2(2), Variant::text("40")};
    ASSERT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Add, std::span<const Variant>(args), &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);
    LONG sum = 0;
    Variant byRef[] = {Variant::i4(1), Variant::i4(2), Variant::ref(VT_I4, &sum)};
    ASSERT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Add, std::span<const Variant>(byRef)), S_OK);
    EXPECT_EQ(sum, 3);

    Variant echoed;
    Variant echoArgs[] = {Variant::text("hello")};
    ASSERT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Echo, std::span<const Variant>(echoArgs), &echoed), S_OK);
    ASSERT_EQ(echoed.vt, VT_BSTR);
    EXPECT_EQ(platform::com::bstrView(echoed.bstrVal), "hello");

    // An address passed as a number reaches the caller's variable.
    VlmRecord target{0};
    Variant addressArgs[] = {Variant::i8(reinterpret_cast<std::intptr_t>(&target)), Variant::i4(77)};
    ASSERT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Address, std::span<const Variant>(addressArgs)), S_OK);
    EXPECT_EQ(target.value, 77);

    Variant tooMany[] = {Variant::i4(1), Variant::i4(2), Variant::i4(3), Variant::i4(4)};
    EXPECT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Add, std::span<const Variant>(tooMany)), DISP_E_BADPARAMCOUNT);
    Variant wrong[] = {Variant::text("two"), Variant::i4(2)};
    EXPECT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Add, std::span<const Variant>(wrong), &result), DISP_E_TYPEMISMATCH);
    Variant wrongRef[] = {Variant::i4(1), Variant::i4(2), Variant::ref(VT_I2, &sum)};
    EXPECT_EQ(platform::com::invokeByDispid(dispatch.get(), DISPID_Add, std::span<const Variant>(wrongRef)), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(platform::com::invokeByDispid(dispatch.get(), 99, std::span<const VARIANT>()), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ComTest, ConnectionPointDeliversEventsUntilUnadvised) {
    ComPtr<IVlmTestThing> thing = makeThing();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(thing.queryInterface(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID_IVlmTestThingEvents, point.put()), S_OK);
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IVlmTestThing, none.put()), CONNECT_E_NOCONNECTION);

    // A new object has no reference yet: addRef takes the first one.
    auto sink = ComPtr<TickSink>::addRef(new TickSink(DIID_IVlmTestThingEvents));
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->unknown(), &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    thing->FireTick(5);
    thing->FireTick(6);
    ASSERT_EQ(sink->values, (std::vector<LONG>{5, 6}));
    EXPECT_EQ(sink->texts[1], "tick 6");

    EXPECT_EQ(point->Unadvise(cookie + 100), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    thing->FireTick(7);
    EXPECT_EQ(sink->values.size(), 2u);

    // A sink that lacks the event interface cannot connect.
    auto stranger = ComPtr<TickSink>::addRef(new TickSink(IID_IVlmTestThing));
    EXPECT_EQ(point->Advise(stranger->unknown(), &cookie), CONNECT_E_CANNOTCONNECT);

    // The client helper connects and disconnects the same way.
    platform::com::SinkConnection connection;
    ASSERT_EQ(connection.connect(thing.get(), DIID_IVlmTestThingEvents, sink->unknown()), S_OK);
    thing->FireTick(8);
    connection.disconnect();
    thing->FireTick(9);
    EXPECT_EQ(sink->values, (std::vector<LONG>{5, 6, 8}));
}

TEST_F(ComTest, ErrorInfoCarriesDescriptionOnce) {
    ComPtr<IVlmTestThing> thing = makeThing();
    EXPECT_EQ(thing->Fail(), E_FAIL);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr description;
    ASSERT_EQ(info->GetDescription(description.put()), S_OK);
    EXPECT_EQ(description.view(), "the thing refused");
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_TRUE(guid == IID_IVlmTestThing);
    ComPtr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, again.put()), S_FALSE);
    EXPECT_FALSE(again);
}

TEST_F(ComTest, ObjectsGoAwayWithTheirLastReference) {
    ComPtr<IVlmTestThing> first = makeThing();
    LONG live = 0;
    {
        ComPtr<IVlmTestThing> second = makeThing();
        ComPtr<IVlmTestThing> copy = second;
        first->LiveObjects(&live);
        EXPECT_EQ(live, 2);
    }
    first->LiveObjects(&live);
    EXPECT_EQ(live, 1);
    // A library with a live object is not unloaded.
    CoFreeUnusedLibraries();
    first->LiveObjects(&live);
    EXPECT_EQ(live, 1);
}
