#include "trennick/clients/testing/fake_ptz_box.h"
#include "trennick/clients/zo_ptz_ui.h"
#include "trennick/clients/zo_serial_client.h"
#include "trennick/clients/zo_tiltwork.h"

#include "common/kc_reg.h"
#include "platform/com/com_object.h"
#include "platform/message_window.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace trennick;
using platform::com::ComObject;
using platform::com::ComPtr;

void setPtzEnabled(DWORD on) {
    CKcReg reg("Quennel", "Velmoor", "1.000.0", "Ptz");
    reg.SetDword(nullptr, "PtzEnabled", &on);
}

// An engine with `count` protocols "P0".."Pn"; the ones in `broken` have no
// readable baud rate.
class FakeTiltwork : public ComObject<FakeTiltwork, Izo_Tiltwork> {
public:
    FakeTiltwork(int count, std::vector<int> broken, bool failFirst = false)
        : m_count(count), m_broken(std::move(broken)), m_failFirst(failFirst) {}

    HRESULT GetFirstEnumPtz(BSTR* name) override {
        if (m_failFirst) return hresult(0x80040016);
        m_next = 0;
        return GetNextEnumPtz(name);
    }
    HRESULT GetNextEnumPtz(BSTR* name) override {
        if (m_next >= m_count) return hresult(0x80040016);
        *name = SysAllocString(("Protocol" + std::to_string(m_next++)).c_str());
        return S_OK;
    }
    HRESULT GetPtzParam_Baudrate(BSTR* p, LONG* v) override {
        const int n = std::atoi(*p + 8);
        for (int b : m_broken) {
            if (b == n) return E_FAIL;
        }
        *v = 2400 + n;
        return S_OK;
    }
    HRESULT GetPtzParam_DataBits(BSTR*, LONG* v) override { *v = 8; return S_OK; }
    HRESULT GetPtzParam_ParityBit(BSTR*, LONG* v) override { *v = 2; return S_OK; }
    HRESULT GetPtzParam_StopBits(BSTR*, LONG* v) override { *v = 1; return S_OK; }
    HRESULT GetPtzParam_SerialType(BSTR*, LONG* v) override { *v = 3; return S_OK; }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT SetActivePtz(BSTR*) override { return E_NOTIMPL; }
    HRESULT GetActivePtz(BSTR*) override { return E_NOTIMPL; }
    HRESULT SetCamera(SHORT) override { return E_NOTIMPL; }
    HRESULT GetCamera(SHORT*) override { return E_NOTIMPL; }
    HRESULT GetEngLastError(LONG*) override { return E_NOTIMPL; }
    HRESULT GetLastErrDescript(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetBufferMaxSize(SHORT*) override { return E_NOTIMPL; }
    HRESULT SendPtzCmd(SHORT, SHORT, SHORT, SHORT) override { return E_NOTIMPL; }
    HRESULT GetMaxPresetIdx(SHORT*) override { return E_NOTIMPL; }
    HRESULT GetMaxTourIdx(SHORT*) override { return E_NOTIMPL; }
    HRESULT SetZoomIn(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetZoomOut(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetAutoFocus(LONG) override { return E_NOTIMPL; }
    HRESULT SetFocusNear(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetFocusFar(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetAutoIris(LONG) override { return E_NOTIMPL; }
    HRESULT SetIrisOpen(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetIrisClose(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetAux(LONG) override { return E_NOTIMPL; }
    HRESULT SetWash(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetWipe(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetLamps(LONG) override { return E_NOTIMPL; }
    HRESULT SetPwrReset() override { return E_NOTIMPL; }
    HRESULT ClearAll() override { return E_NOTIMPL; }
    HRESULT SetVirtSpeedRange(SHORT, SHORT) override { return E_NOTIMPL; }
    HRESULT MoveLeft(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT MoveRight(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT MoveUp(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT MoveDown(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetGlobalMode(LONG) override { return E_NOTIMPL; }
    HRESULT ProgramPreset(SHORT) override { return E_NOTIMPL; }
    HRESULT MoveToPreset(SHORT) override { return E_NOTIMPL; }
    HRESULT DeletePreset(SHORT) override { return E_NOTIMPL; }
    HRESULT SetPatrol(SHORT, SHORT) override { return E_NOTIMPL; }
    HRESULT ProgramBookmark(SHORT) override { return E_NOTIMPL; }
    HRESULT MoveToBookmark(SHORT, SHORT) override { return E_NOTIMPL; }
    HRESULT ProgramTour(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT AddPresetToTour(SHORT, SHORT, SHORT, SHORT) override { return E_NOTIMPL; }
    HRESULT DeleteTour(SHORT) override { return E_NOTIMPL; }
    HRESULT MoveCamPan180(SHORT) override { return E_NOTIMPL; }
    HRESULT GetLastPtzCmd(BSTR*) override { return E_NOTIMPL; }
    HRESULT InitPtz() override { return E_NOTIMPL; }
    HRESULT GetPtzParam_DuplexMode(BSTR*, LONG*) override { return E_NOTIMPL; }
    HRESULT IsVirtActivePtz(SHORT*) override { return E_NOTIMPL; }
    HRESULT IsTiltworkError(LONG, SHORT*) override { return E_NOTIMPL; }
    HRESULT ActivateTour(LONG, SHORT) override { return E_NOTIMPL; }
    HRESULT SetInit() override { return E_NOTIMPL; }
    HRESULT SetTerm() override { return E_NOTIMPL; }
    HRESULT LinkReceiverInstanceID(BSTR) override { return E_NOTIMPL; }

private:
    int m_count;
    std::vector<int> m_broken;
    bool m_failFirst;
    int m_next = 0;
};

ComPtr<Izo_Tiltwork> makeEngine(int count, std::vector<int> broken = {}, bool failFirst = false) {
    return ComPtr<Izo_Tiltwork>::addRef(new FakeTiltwork(count, std::move(broken), failFirst));
}

int usedEntries(const PtzProtocolLists& lists, int list) {
    int n = 0;
    for (const auto& e : lists.lists[list]) n += e.used != 0;
    return n;
}

TEST(ZoTiltwork, WithoutTheEngineServerOnlyNoneIsListedAndSettingsAreWrittenBack) {
    setPtzEnabled(1);
    CZoTiltwork client;  // zo_Tiltwork is not registered here
    EXPECT_FALSE(client.HasEngine());
    EXPECT_EQ(client.PortId(), 1);
    EXPECT_EQ(client.PortStyle(), 2);
    PtzProtocolLists lists;
    std::memset(&lists, 0xAB, sizeof lists);
    client.AddRemoteProtocols(lists);
    for (int l = 0; l < kPtzProtocolLists; ++l) {
        EXPECT_EQ(usedEntries(lists, l), 1);
        EXPECT_STREQ(lists.lists[l][0].name, "None");
        EXPECT_EQ(+lists.lists[l][0].baudRate, 9600u);
        EXPECT_EQ(+lists.lists[l][0].dataBits, 5);
    }
    CKcReg reg("Quennel", "Velmoor", "1.000.0", "Ptz");
    DWORD value = 0;
    EXPECT_TRUE(reg.GetDword(nullptr, "PortStyle", &value));
    EXPECT_EQ(value, 2u);
}

TEST(ZoTiltwork, ProtocolListsFollowTheEngine) {
    struct Case {
        const char* name;
        bool enabled;
        int protocols;
        std::vector<int> broken;
        bool failFirst;
        int used;  // per list
    };
    const Case cases[] = {
        {"disabled: nothing at all", false, 5, {}, false, 0},
        {"five protocols", true, 5, {}, false, 6},
        {"sixty protocols fill entries 1-49", true, 60, {}, false, 50},
        {"unreadable parameters skip the name", true, 5, {1, 3}, false, 4},
        {"failing enumeration", true, 5, {}, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setPtzEnabled(c.enabled);
        auto engine = makeEngine(c.protocols, c.broken, c.failFirst);
        CZoTiltwork client(engine.get());
        PtzProtocolLists lists;
        std::memset(&lists, 0xAB, sizeof lists);
        client.AddRemoteProtocols(lists);
        for (int l = 0; l < kPtzProtocolLists; ++l) {
            EXPECT_EQ(usedEntries(lists, l), c.used);
        }
        if (c.used > 1) {
            const PtzProtocolEntry& e = lists.lists[3][1];
            EXPECT_STREQ(e.name, "Protocol0");
            EXPECT_EQ(+e.baudRate, 2400u);
            EXPECT_EQ(+e.dataBits, 8);
            EXPECT_EQ(+e.parity, 2);
            EXPECT_EQ(+e.serialType, 3);
            EXPECT_EQ(+e.portId, 1);
            EXPECT_EQ(+e.portStyle, 2);
        }
        if (!c.broken.empty()) {
            EXPECT_STREQ(lists.lists[0][2].name, "Protocol2");
        }
    }
}

// The PTZ box's window: keeps each WM_COPYDATA.
using ptztest::FakeBox;

TEST(ZoPtzUI, MessagesReachTheBoxInTheirRecords) {
    FakeBox box;
    ASSERT_TRUE(box.create("PtzBox", "Ptz-north"));
    {
        CZoPtzUI ui("north");
        EXPECT_EQ(ui.WindowTitle(), "Ptz-north");
        EXPECT_TRUE(ui.Started());
        ASSERT_EQ(box.messages.size(), 1u);
        EXPECT_EQ(box.messages[0].kind, kPtzBoxInstance);
        ASSERT_EQ(box.messages[0].data.size(), 264u);
        EXPECT_STREQ(reinterpret_cast<const char*>(box.messages[0].data.data()), "north");
        EXPECT_EQ(box.messages[0].data[6], 0x01);

        EXPECT_TRUE(ui.SendCommandText(77, std::string(300, 'x')));
        const auto& text = box.messages.back();
        EXPECT_EQ(text.kind, kPtzBoxCommandText);
        ASSERT_EQ(text.data.size(), 264u);
        DWORD command = 0;
        std::memcpy(&command, text.data.data(), 4);
        EXPECT_EQ(command, 77u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data.data() + 4)), std::string(259, 'x'));

        EXPECT_TRUE(ui.SendMove(5, 6));
        EXPECT_EQ(box.messages.back().kind, kPtzBoxMove);
        EXPECT_EQ(box.messages.back().data,
                  (std::vector<BYTE>{5, 0, 0, 0, 6, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}));

        EXPECT_TRUE(ui.SetCamera(3));
        EXPECT_EQ(ui.LastCamera(), 3u);
        EXPECT_EQ(box.messages.back().kind, kPtzBoxCamera);
    }
    EXPECT_EQ(box.messages.back().kind, kPtzBoxClose);
    EXPECT_TRUE(box.messages.back().data.empty());
}

TEST(ZoPtzUI, MissingBoxProgramLeavesItNotStarted) {
    CZoPtzUI ui("", "velmoor-no-such-box");
    EXPECT_EQ(ui.WindowTitle(), "Ptz");
    EXPECT_FALSE(ui.Started());
    EXPECT_FALSE(ui.SetCamera(4));
    EXPECT_EQ(ui.LastCamera(), 0u);
}

// A serial-port server whose write FIFO can be made full.
class FakeSerial : public ComObject<FakeSerial, IZoSerial> {
public:
    HRESULT SetConfig(LONG* info) override {
        std::memcpy(&config, info, sizeof config);
        return S_OK;
    }
    HRESULT GetConfig(LONG* info) override {
        std::memcpy(info, &config, sizeof config);
        return S_OK;
    }
    HRESULT Connect() override { ++connects; return S_OK; }
    HRESULT Disconnect() override { return S_OK; }
    HRESULT SendData(BYTE* d, ULONG n, ULONG* sent) override {
        sentData.insert(sentData.end(), d, d + n);
        *sent = n;
        return S_OK;
    }
    HRESULT IsOverflow(ULONG fifo, LONG* overflowing) override {
        *overflowing = fifo == kZoSerialWriteFifo && full;
        return S_OK;
    }
    HRESULT ReadData(BYTE*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT GetFIFOSize(ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT GetFIFOSizeLeft(ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT GetMaxFIFOSize(ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Clean(ULONG) override { return E_NOTIMPL; }
    HRESULT GetLatestError(ULONG*) override { return E_NOTIMPL; }
    HRESULT IsConnected(LONG*) override { return E_NOTIMPL; }
    HRESULT StopReading() override { return E_NOTIMPL; }
    HRESULT ContinueReading() override { return E_NOTIMPL; }
    HRESULT IsDSROn(LONG*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

    ZoSerialConfig config{};
    int connects = 0;
    bool full = false;
    std::vector<BYTE> sentData;
};

TEST(ZoSerial, PicturesGoToTheOpenPortUnlessItsFifoIsFull) {
    CKcReg reg("Quennel", "Velmoor", "1.000.0", "Video\\Rs232");
    DWORD port = 3;
    reg.SetDword(nullptr, "Rs232OutPort", &port);
    auto* fake = new FakeSerial;
    auto server = ComPtr<IZoSerial>::addRef(fake);
    CZoSerial client(server.get());
    const BYTE picture[] = {0, 0, 0x80, 1, 2};
    EXPECT_EQ(client.AddBuffer(picture, sizeof picture), 1);  // not open: nothing sent
    EXPECT_TRUE(fake->sentData.empty());

    client.Open();
    EXPECT_EQ(client.State(), kZoSerialOpen);
    EXPECT_EQ(fake->config.port, 3);
    EXPECT_EQ(fake->connects, 1);
    EXPECT_EQ(client.AddBuffer(picture, sizeof picture), 1);
    EXPECT_EQ(client.State(), kZoSerialSending);
    EXPECT_EQ(fake->sentData.size(), sizeof picture);
    fake->full = true;
    EXPECT_EQ(client.AddBuffer(picture, sizeof picture), 0);
    EXPECT_EQ(fake->sentData.size(), sizeof picture);

    client.Finish();
    EXPECT_EQ(client.State(), kZoSerialClosed);
    // The port value is written back for the next run.
    DWORD stored = 0;
    EXPECT_TRUE(reg.GetDword(nullptr, "WriteTotalTimeoutConstant", &stored));
    EXPECT_EQ(stored, 1u);
}

TEST(ZoSerial, WithoutTheServerEverythingIsHarmless) {
    CZoSerial client;  // ZoSerial is not registered in this home
    EXPECT_FALSE(client.HasServer());
    client.Open();
    const BYTE picture[] = {0, 0, 0x80, 1, 2};
    EXPECT_EQ(client.AddBuffer(picture, sizeof picture), 1);
    client.Finish();
    EXPECT_EQ(client.State(), kZoSerialClosed);
}

}  // namespace
