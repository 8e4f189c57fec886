// The recorder's side of the kit requests: a kit client in a process of its
// own drives every request code against the real program connected to the
// stand-in site (another process), and the recorder's answers, the payloads it
// fills, the site's obeyed requests and the program's own state are checked.

#include "trennick/app/testing/app_test_support.h"
#include "trennick/app/testing/kit_proxy.h"
#include "common/kc_reg.h"
#include "platform/local_bus.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/testing/child_process.h"
#include "tavicore/db_lumo.h"
#include "tavicore/product_key.h"
#include "trennick/station/station_messages.h"
#include "trennick/station/frame_settings.h"
#include "trennick/app/frame_panels.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/night_tess_integration.h"
#include "trennick/kit/tess_block.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/w95_list_view.h"
#include "trennick/video/remote_wnd.h"
#include "trennick/video/video_main.h"
#include "tools/site/site_station.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

TEST(NightTessIntegration, ParentWindowTextGivesTheFiveNumbers) {
    struct Case {
        const char* text;
        VideoWindowRecord record;
    };
    const Case cases[] = {
        {"10|1|2|3|4", {10, 1, 2, 3, 4}},
        {"-5|0|640|480", {-5, 0, 640, 480, 0}},  // missing numbers are 0
        {"", {0, 0, 0, 0, 0}},
        {"7|8|9|10|11|12", {7, 8, 9, 10, 11}},   // a sixth number is not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const VideoWindowRecord r = ParseParentWindowText(c.text);
        EXPECT_EQ(std::memcmp(&r, &c.record, sizeof r), 0)
            << r.hwnd << " " << r.left << " " << r.top << " " << r.right << " " << r.bottom;
    }
    // Only the first 48 characters are read.
    const std::string longText = std::string(47, '0') + "12|3";
    EXPECT_EQ(ParseParentWindowText(longText).hwnd, 1);
}

TEST(NightTessIntegration, SerialOutDataEscapesAndItsRoom) {
    struct Case {
        std::string text;
        std::size_t room;
        std::string bytes;
    };
    const Case cases[] = {
        {"AB", 10, "AB"},
        {"A\\\\B", 10, "A\\B"},                   // two backslashes give one
        {"A\\xB", 10, std::string("A\0B", 3)},    // a backslash and a character give a zero byte
        {"A\\", 10, std::string("A\0", 2)},       // a backslash at the text's end
        {"ABCDEF", 4, "ABCD"},                    // no terminator: the room ends the text
        {"AB\\", 3, std::string("AB\0", 3)},      // a backslash at the room's end reads nothing past it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<char> room(c.room, '\0');
        std::memcpy(room.data(), c.text.data(), std::min(c.text.size(), c.room));
        EXPECT_EQ(UnescapeSerialOutData(room.data(), c.room), c.bytes);
    }
}

using Proxy = KitProxy;

std::string atText(const std::vector<BYTE>& p, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(p.data() + at), strnlen(reinterpret_cast<const char*>(p.data() + at), p.size() - at));
}
void set16(std::vector<BYTE>& p, std::size_t at, WORD v) { std::memcpy(p.data() + at, &v, 2); }
void set32(std::vector<BYTE>& p, std::size_t at, DWORD v) { std::memcpy(p.data() + at, &v, 4); }
void setText(std::vector<BYTE>& p, std::size_t at, const std::string& text) {
    std::memcpy(p.data() + at, text.c_str(), text.size() + 1);
}

// The kit client: args[0] the recorder's window title, args[1] the result file,
// args[2] the site's station id.
// Drives every request and writes "name=value" lines.
VELMOOR_TEST_CHILD(kitClient) {
    Proxy proxy;
    if (!proxy.create("CorvastaProxy", "Corvasta proxy window")) return 10;
    const platform::HWND recorder = platform::FindWindow(nullptr, args.at(0).c_str());
    if (recorder == 0) return 11;
    std::ofstream out(args.at(1));
    auto fresh = [] { return std::vector<BYTE>(kTessPayloadBytes, 0); };
    auto note = [&](const std::string& name, long long value) { out << name << "=" << value << "\n"; };
    auto noteText = [&](const std::string& name, const std::string& value) { out << name << "=" << value << "\n"; };

    std::vector<BYTE> p = fresh();
    note("a0", kitRequest(recorder, proxy.hwnd(), 0, p));
    noteText("a0.id", atText(p, 0));
    note("a0.mode", at16(p, 50));
    note("a0.version", at16(p, 52) * 10000 + at16(p, 54) * 100 + at16(p, 56));

    // Every code of the table but those with an effect of their own, with an
    // empty payload: the answer only.
    for (WORD code = 1; code <= 70; ++code) {
        if (code == 1 || code == 3 || code == 11 || code == 27 || code == 28 || code == 26 || code == 47 ||
            code == 49 || code == 50 || code == 51 || code == 52 || code == 35 || code == 37 || code == 38) {
            continue;
        }
        p = fresh();
        if (code == 59 || code == 60) set32(p, 0, 0);
        note("a" + std::to_string(code), kitRequest(recorder, proxy.hwnd(), code, p));
        if (code == 4) {
            note("a4.count", at16(p, 2));
            note("a4.input", at16(p, 64));
        }
        if (code == 6 || code == 14) note("a" + std::to_string(code) + ".cameras", at16(p, 4));
        if (code == 32) note("a32.connected", at32(p, 828));
        if (code == 36) note("a36.status", at32(p, 0));
        if (code == 39) note("a39.armed", at32(p, 856));
        if (code == 40) noteText("a40.id", atText(p, kTessReceiverIdOffset));
        if (code == 41) note("a41.value", p[866]);
        if (code == 43) note("a43.adapter", at16(p, 816));
        if (code == 53) {
            note("a53.type", at16(p, 2));
            noteText("a53.name", atText(p, 20));
        }
    }
    // The site's settings fetched into the kit's own file, its progress asked meanwhile.
    const std::string kitProfile = args.at(1) + ".profile";
    p = fresh();
    setText(p, 0, kitProfile);
    note("a67.path", kitRequest(recorder, proxy.hwnd(), 67, p));
    const auto fetchGuard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(kitProfile) && std::chrono::steady_clock::now() < fetchGuard) {
        p = fresh();
        kitRequest(recorder, proxy.hwnd(), 69, p);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    note("a67.fetched", std::filesystem::exists(kitProfile) ? std::filesystem::file_size(kitProfile) : 0);
    // The site's alarms of camera 1: the event list opened for the site's
    // id, downloaded, walked in time order with each event's details, one
    // event fetched by its time; a handle never given is not found.
    p = fresh();
    set32(p, 4, 1);
    setText(p, 24, args.at(2));
    note("e55", kitRequest(recorder, proxy.hwnd(), 55, p));
    p = fresh();
    note("e56", kitRequest(recorder, proxy.hwnd(), 56, p));
    LRESULT first = 1;
    const auto listGuard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < listGuard) {
        p = fresh();
        first = kitRequest(recorder, proxy.hwnd(), 59, p);
        if (first == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    note("e59", first);
    std::vector<unsigned long long> times;
    DWORD firstLow = 0, firstHigh = 0;
    for (LRESULT found = first; found == 0; p = fresh(), found = kitRequest(recorder, proxy.hwnd(), 60, p)) {
        std::vector<BYTE> info = fresh();
        set32(info, 0, at32(p, 0));
        if (kitRequest(recorder, proxy.hwnd(), 63, info) != 0) break;
        if (times.empty()) {
            firstLow = at32(info, 12);
            firstHigh = at32(info, 16);
        }
        times.push_back((static_cast<unsigned long long>(at32(info, 16)) << 32) | at32(info, 12));
        note("e63.type" + std::to_string(times.size()), at32(info, 4) & 0xFFFF);
    }
    note("e.count", static_cast<long long>(times.size()));
    note("e.ascending", std::is_sorted(times.begin(), times.end()) ? 1 : 0);
    p = fresh();
    set32(p, 0, 0xFFFFFFF0u);
    note("e63.unknown", kitRequest(recorder, proxy.hwnd(), 63, p));
    p = fresh();
    set32(p, 12, firstLow);
    set32(p, 16, firstHigh);
    note("e58", kitRequest(recorder, proxy.hwnd(), 58, p));
    p = fresh();
    set32(p, 12, firstLow + 1);
    set32(p, 16, firstHigh);
    note("e58.unknown", kitRequest(recorder, proxy.hwnd(), 58, p));
    p = fresh();
    note("e61", kitRequest(recorder, proxy.hwnd(), 61, p));

    // An adapter that the site does not have.
    p = fresh();
    set16(p, 0, 9);
    note("a6.badAdapter", kitRequest(recorder, proxy.hwnd(), 6, p));

    // Snapshot settings: set, then read back.
    p = fresh();
    set16(p, 0, 2);
    set32(p, 4, 7);  // any non-zero is stored as 1
    set16(p, 8, 75);
    note("a3", kitRequest(recorder, proxy.hwnd(), 3, p));
    p = fresh();
    kitRequest(recorder, proxy.hwnd(), 2, p);
    note("a2.resolution", at16(p, 0));
    note("a2.compression", at32(p, 4));
    note("a2.quality", at16(p, 8));

    // Remote properties (request 26 get, 27 set).
    auto getProperty = [&](WORD property, std::vector<BYTE>& q) {
        set16(q, 840, property);
        return kitRequest(recorder, proxy.hwnd(), 26, q);
    };
    auto setProperty = [&](WORD property, std::vector<BYTE>& q) {
        set16(q, 840, property);
        return kitRequest(recorder, proxy.hwnd(), 27, q);
    };
    for (WORD property : {8, 9, 12, 13, 18, 19, 20, 21, 25, 99}) {
        p = fresh();
        note("g" + std::to_string(property), getProperty(property, p));
    }
    p = fresh();
    note("g10", getProperty(10, p));
    note("g10.connected", at32(p, 828));
    note("g10.camera", at16(p, 818));
    p = fresh();
    note("g15", getProperty(15, p));
    noteText("g15.text", atText(p, 0));
    p = fresh();
    note("g24", getProperty(24, p));
    noteText("g24.text", atText(p, 200));
    p = fresh();
    note("g17", getProperty(17, p));
    noteText("g17.text", atText(p, 100));
    p = fresh();
    set16(p, 822, 1);
    note("g14", getProperty(14, p));
    p = fresh();
    set16(p, 822, 40);
    note("g14.badRelay", getProperty(14, p));
    // Select camera 2, switch relay 1 on; a camera and a relay the site does not have.
    p = fresh();
    set16(p, 818, 2);
    note("s10", setProperty(10, p));
    p = fresh();
    set16(p, 818, 0xFFFF);
    note("s10.negative", setProperty(10, p));
    p = fresh();
    set16(p, 818, 4);
    note("s10.beyond", setProperty(10, p));
    p = fresh();
    set16(p, 822, 1);
    set16(p, 824, 1);
    note("s14", setProperty(14, p));
    p = fresh();
    set16(p, 822, 4);
    set16(p, 824, 1);
    note("s14.beyondRelays", setProperty(14, p));
    // Quality: 11 gives 100, 0 is refused; rings 1-255.
    for (WORD q : {0, 1, 10, 11, 12}) {
        p = fresh();
        set16(p, 836, q);
        note("s12." + std::to_string(q), setProperty(12, p));
    }
    for (WORD rings : {0, 7, 256}) {
        p = fresh();
        set16(p, 810, rings);
        note("s18." + std::to_string(rings), setProperty(18, p));
    }
    p = fresh();
    kitRequest(recorder, proxy.hwnd(), 26, (set16(p, 840, 18), p));
    note("g18.rings", at16(p, 810));
    // The picture size, the sequence state, the sequence's delay and cameras,
    // and the trigger tracking switched on and off again.
    p = fresh();
    set16(p, 838, 0xBEEF);
    note("g8.answer", getProperty(8, p));
    note("g8.cif", at16(p, 838));
    p = fresh();
    set32(p, 844, 0xBEEF);
    note("g19.answer", getProperty(19, p));
    note("g19.split", at32(p, 844));
    p = fresh();
    set32(p, 848, 5);
    note("s20.answer", setProperty(20, p));
    for (WORD camera : {1, 3, 16}) {
        p = fresh();
        set16(p, 820, camera);
        set32(p, 852, camera == 3 ? 1 : 0);
        note("s21." + std::to_string(camera), setProperty(21, p));
    }
    for (DWORD on : {1u, 0u}) {
        p = fresh();
        set32(p, 860, on);
        note("s25." + std::to_string(on), setProperty(25, p));
        p = fresh();
        set32(p, 860, 0xBEEF);
        note("g25." + std::to_string(on) + ".answer", getProperty(25, p));
        note("g25." + std::to_string(on), at32(p, 860));
    }
    for (WORD property : {11, 15, 99}) {
        p = fresh();
        note("s" + std::to_string(property), setProperty(property, p));
    }

    // Remote actions (request 28).
    auto action = [&](WORD code, std::vector<BYTE>& q) {
        set16(q, 0, code);
        return kitRequest(recorder, proxy.hwnd(), 28, q);
    };
    p = fresh();
    note("x0", action(0, (setText(p, 2, "127.0.0.1:1"), p)));  // dialling while connected does nothing
    p = fresh();
    note("x2", action(2, p));
    p = fresh();
    set16(p, 112, 1);
    note("x4", action(4, p));
    p = fresh();
    note("x5", action(5, (setText(p, 2, "10|1|2|3|4"), p)));
    p = fresh();
    note("x7", action(7, p));
    p = fresh();
    note("x6", action(6, p));
    p = fresh();
    set16(p, 112, 1);
    note("x26", action(26, p));
    p = fresh();
    note("x99", action(99, p));

    // Serial out: configuration, protocol, a write with escapes, a read, the end.
    p = fresh();
    set16(p, 0, 1);
    set32(p, 8, 9600);
    set16(p, 14, 8);
    note("a47", kitRequest(recorder, proxy.hwnd(), 47, p));
    p = fresh();
    note("a49", kitRequest(recorder, proxy.hwnd(), 49, (setText(p, 20, "Pelco-D"), p)));
    p = fresh();
    set16(p, 0, 1);
    setText(p, 4, "AB\\\\C\\x");
    note("a50", kitRequest(recorder, proxy.hwnd(), 50, p));
    note("a50.length", at16(p, 1004));
    p = fresh();
    set16(p, 0, 1);
    set32(p, 2, 16);
    note("a51", kitRequest(recorder, proxy.hwnd(), 51, p));
    p = fresh();
    set16(p, 0, 1);
    note("a52", kitRequest(recorder, proxy.hwnd(), 52, p));

    // Arm, disarm, cancel a receive, and the record request.
    p = fresh();
    note("a37", kitRequest(recorder, proxy.hwnd(), 37, p));
    p = fresh();
    note("a38", kitRequest(recorder, proxy.hwnd(), 38, p));
    p = fresh();
    note("a35", kitRequest(recorder, proxy.hwnd(), 35, p));
    p = fresh();
    set32(p, 832, 1);
    note("s13", setProperty(13, p));

    // A mode other than 0 is refused; mode 0 hangs up and ends the recorder.
    p = fresh();
    set16(p, 0, 3);
    set16(p, 2, 5);
    note("a11.mode5", kitRequest(recorder, proxy.hwnd(), 11, p));
    p = fresh();
    set16(p, 0, 3);
    note("a11", kitRequest(recorder, proxy.hwnd(), 11, p));
    out << "done=1\n";
    return 0;
}

std::map<std::string, std::string> readResults(const fs::path& path) {
    std::map<std::string, std::string> results;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) results[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return results;
}

TEST(NightTessIntegration, KitClientDrivesEveryRequestAgainstTheProgramConnectedToTheSite) {
    const fs::path home = std::getenv("VELMOOR_HOME");
    const std::string sitePort = std::to_string(nettest::freePort());
    LoggedSite loggedSite(sitePort, "--stream block --no-video --cameras 4 --name 'Kit site'");
    ASSERT_TRUE(loggedSite.valid()) << loggedSite.log();
    platform::Process& site = loggedSite.process();
    const fs::path siteLog = home / "site.log";

    AnsweringUi ui;
    auto app = std::make_unique<CKivApp>(callSiteArgs("71", sitePort, nettest::freePort()), "", quietServices(&ui));
    ASSERT_TRUE(app->InitInstance());
    CMainFrame* frame = app->MainFrame();
    auto* kit = dynamic_cast<CNightTessIntegration*>(app->GetTessIntegration());
    ASSERT_NE(kit, nullptr);
    // A client in this process hears what the recorder tells every client.
    Proxy listener;
    ASSERT_TRUE(listener.create("CorvastaProxy", "Corvasta listener window"));
    {
        std::vector<BYTE> hello(kTessPayloadBytes, 0);
        ASSERT_EQ(kitRequest(kit->hwnd(), listener.hwnd(), 0, hello), 0);
    }
    auto heard = [&](WORD code) { return listener.heard(code); };
    // Connected, with the site's hardware profile stored.
    ASSERT_TRUE(pumpUntil(
        [&] {
            tagHWProfile profile{};
            return frame->PostCreateDone() && frame->Connection()->IsConnected() && frame->RemoteDB() != nullptr &&
                   frame->RemoteDB()->GetHWProfiles(&profile, 0) != 0 && profile.adapters[0].camerasNumber == 4;
        },
        std::chrono::seconds(60)))
        << readAll(siteLog);
    EXPECT_EQ(kit->Frame(), frame);
    // The site's profile told the clients its serial-out protocol: none.
    ASSERT_TRUE(pumpUntil([&] { return heard(24) != nullptr; }));
    EXPECT_EQ(at16(heard(24)->payload, 2), 0);
    EXPECT_EQ(atText(heard(24)->payload, 20), "None");
    // A line that ended busy: the clients hear the disconnect reason busy (0);
    // a notice without a call result tells them nothing.
    platform::PostMessage(frame->Hwnd(), kMsgDisconnectMessage, 65018, 0);
    platform::PostMessage(frame->Hwnd(), kMsgDisconnectMessage, 65015, 0);
    ASSERT_TRUE(pumpUntil([&] { return heard(6) != nullptr; }));
    EXPECT_EQ(at16(heard(6)->payload, 0), 0);
    pumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(std::count_if(listener.received.begin(), listener.received.end(),
                            [](const Proxy::Received& n) { return n.code == 6; }),
              1);

    int videoWindowRecords = 0;
    platform::PostedMessageWatch watch([&](platform::HWND hwnd, UINT msg, WPARAM, LPARAM) {
        if (hwnd == frame->Hwnd() && msg == kMsgVideoWindowRecord) ++videoWindowRecords;
    });
    // Two alarms at the site: two events of camera 1 in its event folder.
    for (int alarm = 1; alarm <= 2; ++alarm) {
        site.kill(SIGUSR1);
        ASSERT_TRUE(pumpUntil(
            [&] {
                const std::string log = readAll(siteLog);
                std::size_t n = 0;
                for (std::size_t at = log.find("alarm on camera 1:"); at != std::string::npos;
                     at = log.find("alarm on camera 1:", at + 1)) {
                    ++n;
                }
                return n >= std::size_t(alarm);
            },
            std::chrono::seconds(60)))
            << readAll(siteLog);
    }
    const fs::path resultFile = home / "kit.txt";
    auto client = velmoor::testing::ChildProcess::start(
        "kitClient", {kit->WindowTitle(), resultFile.string(), site::SiteOptions{}.siteId});
    int clientExit = -2;
    ASSERT_TRUE(pumpUntil(
        [&] {
            if (readAll(resultFile).find("done=1") == std::string::npos) return false;
            return true;
        },
        std::chrono::seconds(120)));
    clientExit = client.wait(std::chrono::seconds(30));
    EXPECT_EQ(clientExit, 0);
    auto r = readResults(resultFile);
    SCOPED_TRACE(readAll(resultFile));

    // Registration: the instance id, remote mode, the program's version.
    EXPECT_EQ(r["a0"], "0");
    EXPECT_EQ(r["a0.id"], "71");
    EXPECT_EQ(r["a0.mode"], "3");
    EXPECT_EQ(r["a0.version"], "10000");  // "Version 1.0"
    // Not served by the recorder: 3; answered and nothing done: 0.
    for (int code : {5, 7, 8, 9, 10, 12, 15, 16, 21, 22, 23, 24, 25}) EXPECT_EQ(r["a" + std::to_string(code)], "3") << code;
    for (int code : {13, 17, 18, 19, 20, 29, 30, 31, 54}) EXPECT_EQ(r["a" + std::to_string(code)], "0") << code;
    // The site's profile: one adapter with four cameras.
    EXPECT_EQ(r["a4"], "0");
    EXPECT_EQ(r["a4.count"], "1");
    EXPECT_EQ(r["a4.input"], "1");
    EXPECT_EQ(r["a6"], "0");
    EXPECT_EQ(r["a6.cameras"], "4");
    EXPECT_EQ(r["a14.cameras"], "4");
    EXPECT_EQ(r["a6.badAdapter"], "48");
    EXPECT_EQ(r["a32.connected"], "1");
    EXPECT_EQ(r["a36"], "0");
    EXPECT_EQ(r["a36.status"], "3");  // online
    EXPECT_EQ(r["a39"], "0");
    EXPECT_EQ(r["a40"], "0");
    EXPECT_NE(r["a40.id"].find(':'), std::string::npos);
    EXPECT_EQ(r["a41.value"], "1");
    EXPECT_EQ(r["a42"], "3");
    EXPECT_EQ(r["a43"], "0");
    EXPECT_EQ(r["a43.adapter"], "0");
    EXPECT_EQ(r["a46"], "0");
    EXPECT_EQ(r["a48"], "0");
    EXPECT_EQ(r["a53"], "0");
    EXPECT_EQ(r["a53.name"], "None");
    // The event list with empty requests: no station id (14), nothing listed
    // (1 no event, 2 not found); a download and a close are done.
    EXPECT_EQ(r["a55"], "14");
    for (int code : {56, 57, 61}) EXPECT_EQ(r["a" + std::to_string(code)], "0") << code;
    for (int code : {58, 63}) EXPECT_EQ(r["a" + std::to_string(code)], "2") << code;
    for (int code : {59, 60}) EXPECT_EQ(r["a" + std::to_string(code)], "1") << code;
    // The site's two alarms of camera 1, listed oldest first and fetched.
    EXPECT_EQ(r["e55"], "0");
    EXPECT_EQ(r["e56"], "0");
    EXPECT_EQ(r["e59"], "0");
    EXPECT_EQ(r["e.count"], "2");
    EXPECT_EQ(r["e.ascending"], "1");
    EXPECT_EQ(r["e63.type1"], "1");
    EXPECT_EQ(r["e63.type2"], "1");
    EXPECT_EQ(r["e63.unknown"], "2");
    EXPECT_EQ(r["e58"], "0");
    EXPECT_EQ(r["e58.unknown"], "2");
    EXPECT_EQ(r["e61"], "0");
    EXPECT_EQ(r["a64"], "13");  // nothing arriving, type 0
    EXPECT_EQ(r["a65"], "10");
    EXPECT_EQ(r["a66"], "0");  // the audio client reports its states
    EXPECT_EQ(r["a33"], "0");
    // Profiles: a request without a path is refused; nothing in progress has no
    // percentage (0xFFFF) and nothing to cancel; a fetch lands in the kit's file.
    EXPECT_EQ(r["a67"], "44");
    EXPECT_EQ(r["a69"], "0");
    EXPECT_EQ(r["a70"], "0");
    EXPECT_EQ(r["a67.path"], "0");
    EXPECT_GT(std::stoll(r["a67.fetched"]), 0);
    // Snapshot settings round trip through the registry.
    EXPECT_EQ(r["a3"], "0");
    EXPECT_EQ(r["a2.resolution"], "2");
    EXPECT_EQ(r["a2.compression"], "1");
    EXPECT_EQ(r["a2.quality"], "75");
    // Remote properties.
    EXPECT_EQ(r["g10"], "0");
    EXPECT_EQ(r["g10.connected"], "1");
    EXPECT_EQ(r["g15"], "0");
    EXPECT_EQ(r["g15.text"], "Kit site");
    EXPECT_EQ(r["g24"], "0");
    EXPECT_FALSE(r["g24.text"].empty());
    EXPECT_EQ(r["g17"], "0");
    EXPECT_FALSE(r["g17.text"].empty());
    EXPECT_EQ(r["g14"], "0");
    EXPECT_EQ(r["g14.badRelay"], "34");
    EXPECT_EQ(r["g20"], "5");
    EXPECT_EQ(r["g99"], "5");
    EXPECT_EQ(r["s10"], "0");
    EXPECT_EQ(r["s10.negative"], "34");
    EXPECT_EQ(r["s10.beyond"], "34");
    EXPECT_EQ(r["s14"], "0");
    EXPECT_EQ(r["s14.beyondRelays"], "34");  // the site has four relays
    EXPECT_EQ(r["s12.0"], "48");
    EXPECT_EQ(r["s12.1"], "0");
    EXPECT_EQ(r["s12.10"], "0");
    EXPECT_EQ(r["s12.11"], "0");
    EXPECT_EQ(r["s12.12"], "48");
    EXPECT_EQ(r["s18.0"], "48");
    EXPECT_EQ(r["s18.7"], "0");
    EXPECT_EQ(r["s18.256"], "48");
    EXPECT_EQ(r["g18.rings"], "7");
    EXPECT_EQ(r["s11"], "3");
    EXPECT_EQ(r["s15"], "3");
    // The idle remote window shows no CIF picture; no split view runs.
    EXPECT_EQ(r["g8.answer"], "0");
    EXPECT_EQ(r["g8.cif"], "0");
    EXPECT_EQ(r["g19.answer"], "0");
    EXPECT_EQ(r["g19.split"], "0");
    // The split view's delay and cycle; a camera beyond the cycle is refused.
    EXPECT_EQ(r["s20.answer"], "0");
    EXPECT_EQ(r["s21.1"], "0");
    EXPECT_EQ(r["s21.3"], "0");
    EXPECT_EQ(r["s21.16"], "34");
    // Trigger tracking follows the kit both ways.
    EXPECT_EQ(r["s25.1"], "0");
    EXPECT_EQ(r["g25.1.answer"], "0");
    EXPECT_EQ(r["g25.1"], "1");
    EXPECT_EQ(r["s25.0"], "0");
    EXPECT_EQ(r["g25.0"], "0");
    EXPECT_EQ(r["s99"], "3");
    // Actions.
    for (const char* a : {"x0", "x2", "x4", "x5", "x6", "x7", "x26"}) EXPECT_EQ(r[a], "0") << a;
    EXPECT_EQ(r["x99"], "3");
    EXPECT_EQ(videoWindowRecords, 1);
    // Serial out: built and sent; the write's escapes make five bytes.
    for (const char* a : {"a47", "a49", "a50", "a51", "a52"}) EXPECT_EQ(r[a], "0") << a;
    EXPECT_EQ(r["a50.length"], "5");
    for (const char* a : {"a35", "a37", "a38", "s13"}) EXPECT_EQ(r[a], "0") << a;
    // The mode change: 5 is refused, 0 ends the program.
    EXPECT_EQ(r["a11.mode5"], "50");
    EXPECT_EQ(r["a11"], "0");
    EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(60)));

    // What the site obeyed: camera 2 selected, relay 1 switched on.
    EXPECT_TRUE(pumpUntil([&] {
        const std::string log = readAll(siteLog);
        return log.find("camera 2 selected") != std::string::npos && log.find("relay 1 set to 1") != std::string::npos;
    }, std::chrono::seconds(30)))
        << readAll(siteLog);
    EXPECT_EQ(frame->Settings().comms.RingsCount, 7u);
    // The end of the program resets the clients' mode, waiting for each.
    listener.received.clear();
    app->ExitInstance();
    ASSERT_NE(heard(2), nullptr);
    EXPECT_EQ(at16(heard(2)->payload, 0), 0xFFFF);
    EXPECT_EQ(at16(heard(2)->payload, 2), 0);
    app.reset();
    // The split view kept what the kit set: the delay, camera 2 out of the
    // cycle (it starts in it) and camera 4 in.
    EXPECT_EQ(ProductDwordBack("RemoteQuad", "SplitDelay", 0), 5000u);
    EXPECT_EQ(ProductDwordBack("RemoteQuad\\Adapters\\0\\Cameras\\1", "IsCameraInCycle", 9), 0u);
    EXPECT_EQ(ProductDwordBack("RemoteQuad\\Adapters\\0\\Cameras\\3", "IsCameraInCycle", 9), 1u);
    site.kill(SIGTERM);
    site.wait(30000);
}

// The kit against the program connected to a site that sends live video: the
// picture-size requests (remote property and remote action 8 CIF, 9 QCIF)
// reach the site, the quality becomes the remote window's frame rate, and a
// settings upload is refused while nothing would send it (auto-send off) and
// told done once the site took it.
TEST(NightTessIntegration, PictureSizeQualityAndSettingsUploadReachTheSite) {
    const fs::path home = std::getenv("VELMOOR_HOME");
    const std::string sitePort = std::to_string(nettest::freePort());
    const auto siteProgram = platform::findProgram("velmoor-site");
    ASSERT_TRUE(siteProgram.has_value());
    const fs::path siteLog = home / "site.log";
    platform::Process site = platform::Process::start(
        "sh", {"-c", "exec \"" + siteProgram->string() + "\" --port " + sitePort + " --cameras 1 > \"" +
                         siteLog.string() + "\" 2>&1"});
    ASSERT_TRUE(site.valid());
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("listening on port") != std::string::npos; },
                          std::chrono::seconds(60)))
        << readAll(siteLog);
    AnsweringUi ui;
    auto app = std::make_unique<CKivApp>(
        std::vector<std::string>{"/NOSPLASH", "/I", "/U72", "/P=" + std::to_string(nettest::freePort()),
                                 "/D=127.0.0.1:" + sitePort, "/C"},
        "", quietServices(&ui));
    ASSERT_TRUE(app->InitInstance());
    CMainFrame* frame = app->MainFrame();
    auto* kit = dynamic_cast<CNightTessIntegration*>(app->GetTessIntegration());
    ASSERT_NE(kit, nullptr);
    Proxy proxy;
    ASSERT_TRUE(proxy.create("CorvastaProxy", "Corvasta kit window"));
    std::vector<BYTE> p(kTessPayloadBytes, 0);
    ASSERT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), 0, p), 0);
    // The site's video runs.
    ASSERT_TRUE(pumpUntil([&] { return readAll(siteLog).find("video accepted") != std::string::npos; },
                          std::chrono::seconds(60)))
        << readAll(siteLog);
    auto count = [&](const std::string& text) {
        const std::string log = readAll(siteLog);
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    };
    // The size the site sends now: the last one it told.
    auto siteSize = [&] {
        const std::string log = readAll(siteLog);
        return log.rfind("352x288") != std::string::npos &&
                       (log.rfind("176x144") == std::string::npos || log.rfind("352x288") > log.rfind("176x144"))
                   ? std::string("352x288")
                   : std::string("176x144");
    };
    struct SizeRequest {
        WORD request;  // 27 set a remote property, 28 a remote action
        std::size_t codeAt;
    };
    for (const SizeRequest& r : {SizeRequest{27, 840}, SizeRequest{28, 0}, SizeRequest{27, 840}, SizeRequest{28, 0}}) {
        const std::string wanted = siteSize() == "352x288" ? "176x144" : "352x288";
        SCOPED_TRACE(std::to_string(r.request) + " for " + wanted);
        const std::size_t before = count("picture size now " + wanted);
        p.assign(kTessPayloadBytes, 0);
        set16(p, r.codeAt, wanted == "352x288" ? 8 : 9);
        ASSERT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), r.request, p), 0);
        ASSERT_TRUE(pumpUntil([&] { return count("picture size now " + wanted) > before; }, std::chrono::seconds(30)))
            << readAll(siteLog);
    }
    // Quality 3 is the frame rate 10 x 3 - 10 of the remote window.
    CRemoteWnd* remote = frame->VideoMain()->RemoteWnd();
    ASSERT_NE(remote, nullptr);
    p.assign(kTessPayloadBytes, 0);
    set16(p, 840, 12);
    set16(p, 836, 3);
    EXPECT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), 27, p), 0);
    EXPECT_TRUE(pumpUntil([&] {
        RemoteVideoSettings shown;
        remote->GetVideoSettings(shown);
        return shown.frameRate == 20;
    }));

    // The site's settings fetched into the kit's file, then sent back.
    const std::string profile = (home / "kit.profile").string();
    p.assign(kTessPayloadBytes, 0);
    setText(p, 0, profile);
    ASSERT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), 67, p), 0);
    ASSERT_TRUE(pumpUntil([&] { return fs::exists(profile); }, std::chrono::seconds(60))) << readAll(siteLog);
    auto uploadsDone = [&] {
        return std::count_if(proxy.received.begin(), proxy.received.end(),
                             [](const Proxy::Received& n) { return n.code == kTessSetProfileDone; });
    };
    BYTE& autoSend = frame->Settings().caldrin.Flags[0];
    autoSend = 0;
    p.assign(kTessPayloadBytes, 0);
    setText(p, 0, profile);
    EXPECT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), 68, p), TESS_ERROR_OPERATION_FAILED)
        << "the file would wait in the queue for ever";
    ASSERT_NE(frame->Panels(), nullptr);
    CFileTransfer* window = frame->Panels()->TransferWindow();
    EXPECT_TRUE(window == nullptr || window->Queue().GetItemCount() == 0) << "nothing is left in the queue";
    autoSend = 1;
    p.assign(kTessPayloadBytes, 0);
    setText(p, 0, profile);
    ASSERT_EQ(kitRequest(kit->hwnd(), proxy.hwnd(), 68, p), 0);
    ASSERT_TRUE(pumpUntil([&] { return uploadsDone() == 1; }, std::chrono::seconds(60))) << readAll(siteLog);
    const auto done = std::find_if(proxy.received.begin(), proxy.received.end(),
                                   [](const Proxy::Received& n) { return n.code == kTessSetProfileDone; });
    EXPECT_EQ(atText(done->payload, 0), profile);
    EXPECT_EQ(at16(done->payload, 260), 1);
    EXPECT_EQ(count("bytes taken"), 1u) << readAll(siteLog);

    platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }, std::chrono::seconds(60)));
    app->ExitInstance();
    app.reset();
    site.kill(SIGTERM);
    site.wait(30000);
}

}  // namespace
