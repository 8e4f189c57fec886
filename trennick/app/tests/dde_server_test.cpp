// The recorder's DDE conversation and its word to the watchdog: the execute
// strings as the frame reads them, a client on the local bus driving the real
// frame (initiate, execute, request, terminate, a block it cannot use, the
// close), and a watchdog in a process of its own that hears "IAMALIVE" at the
// period and "IAMDEAD" at the end, or hangs without holding the loop.

#include "trennick/app/testing/app_test_support.h"
#include "platform/local_bus.h"
#include "platform/process.h"
#include "platform/testing/child_process.h"
#include "tools/dde/dde_client.h"
#include "trennick/app/dde_server.h"
#include "trennick/app/frame_panels.h"
#include "trennick/station/heartbeat.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/link/packet_connection.h"
#include "trennick/net/testing/net_test_util.h"
#include "trennick/panels/file_transfer_wnd.h"
#include "trennick/panels/w95_list_view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

using K = DdeCommandKind;

struct DdeCase {
    std::string_view text;
    std::vector<DdeCommand> commands;
};

const std::string kLongNumber(kDdeMaxArgument + 1, '7');

const DdeCase kDdeCases[] = {
    {"[listen]", {{K::Listen, ""}}},
    {"[LISTEN ON][Listen Off]", {{K::ListenOn, ""}, {K::ListenOff, ""}}},
    {"[Connect 0123456]", {{K::Connect, "0123456"}}},
    {"[connect:10.0.0.1:4599]", {{K::Connect, "10.0.0.1:4599"}}},
    {"[Connect]", {}},                       // no number: nothing runs
    {"[Connect ]", {}},                      // an empty number neither
    {"[Connect 12", {}},                     // no closing bracket
    {"[Connect][Listen]", {{K::Listen, ""}}},  // the next command is no number
    {"[Connect][Connect 5]", {{K::Connect, "5"}}},
    {"[DisConnect] [Send_Business_Card]", {{K::Disconnect, ""}, {K::SendBusinessCard, ""}}},
    {"[Send_Video][Stop_Video]", {{K::SendVideo, ""}, {K::StopVideo, ""}}},
    {"[Queue_File(/tmp/a b.txt)]", {{K::QueueFile, "/tmp/a b.txt"}}},
    {"[send_file(/x/y)][Close]", {{K::SendFile, "/x/y"}, {K::Close, ""}}},
    {"[Send_File /x]", {}},                  // no parentheses
    {"[Send_File(/x]", {}},                  // no closing parenthesis
    {"[Send_File()]", {}},                   // no path
    {"[Close][Listen][Connect 5]", {{K::Close, ""}}},  // nothing acts on a closing frame
    {"junk [Unknown] [Listen] tail", {{K::Listen, ""}}},
    {"", {}},
    {std::string_view("[Listen]\0[Close]", 16), {{K::Listen, ""}}},  // the text ends at its zero
};

TEST(DdeCommands, ExecuteStringsAsTheFrameReadsThem) {
    for (const DdeCase& c : kDdeCases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(ParseDdeCommands(c.text), c.commands);
    }
    // A number or a path longer than the frame takes runs nothing; one at the
    // limit runs.
    EXPECT_TRUE(ParseDdeCommands("[Connect " + kLongNumber + "]").empty());
    EXPECT_TRUE(ParseDdeCommands("[Queue_File(" + kLongNumber + ")]").empty());
    const std::string atLimit = kLongNumber.substr(1);
    EXPECT_EQ(ParseDdeCommands("[Connect " + atLimit + "]"), (std::vector<DdeCommand>{{K::Connect, atLimit}}));
}

// The program on TCP, listening on a free port, with a clock the test turns.
struct Program {
    AnsweringUi ui;
    std::atomic<DWORD> clock{100000};
    std::unique_ptr<CKivApp> app;
    CMainFrame* frame = nullptr;

    explicit Program(const char* instance) {
        AppServices services = quietServices(&ui);
        services.clock = [this] { return clock.load(); };
        app = std::make_unique<CKivApp>(
            std::vector<std::string>{"/NOSPLASH", "/I", instance, "/P=" + std::to_string(nettest::freePort())}, "",
            services);
        EXPECT_TRUE(app->InitInstance());
        frame = app->MainFrame();
        EXPECT_TRUE(pumpUntil([&] { return frame->PostCreateDone() && frame->LoopPasses() > 2; }));
    }
    // Runs the loop for a few more passes.
    bool passes(DWORD count) {
        const DWORD until = frame->LoopPasses() + count;
        return pumpUntil([&] { return frame->LoopPasses() >= until; });
    }
    void close() {
        if (app == nullptr) return;
        if (!frame->IsDestroyed()) {
            platform::PostMessage(frame->Hwnd(), platform::WM_CLOSE, 0, 0);
            EXPECT_TRUE(pumpUntil([&] { return frame->IsDestroyed(); }));
        }
        app->ExitInstance();
        app.reset();
    }
    ~Program() { close(); }
};

TEST(DdeServer, ClientDrivesTheRealFrame) {
    Program program("/U61");
    CMainFrame& frame = *program.frame;
    ASSERT_NE(frame.DdeServer(), nullptr);
    EXPECT_EQ(platform::FindWindow(kDdeWindowClass, "Velmoor"), frame.DdeServer()->hwnd());

    // Another application name gets no answer; the service's own, in any case, does.
    velmoor::dde::DdeClient other{std::chrono::milliseconds(500)};
    EXPECT_FALSE(other.Connect("Othermoor"));
    velmoor::dde::DdeClient client;
    ASSERT_TRUE(client.Connect("vELMOOR"));
    EXPECT_EQ(client.Topic(), "Velmoor");

    // A request echoes its item.
    EXPECT_EQ(client.Request("Status"), std::optional<std::string>("Status\r"));

    // Listening again, written in lower case, leaves the link listening; "[Listen On]"
    // while it listens does nothing more.
    CPacketConnection& link = *frame.Connection();
    ASSERT_TRUE(link.IsListeningFor(2));
    EXPECT_EQ(client.Execute("[listen][Listen On]"), kDdeAckAcknowledged);
    EXPECT_TRUE(link.IsListeningFor(2));

    // A block too short to name itself is refused.
    EXPECT_EQ(client.ExecuteBlock({1, 2}, 0), 0);

    // A file to send joins the file transfer window's queue.
    const fs::path file = fs::path(std::getenv("VELMOOR_HOME")) / "queued.txt";
    std::ofstream(file) << "for the peer";
    EXPECT_EQ(client.Execute("[Queue_File(" + file.string() + ")]"), kDdeAckAcknowledged);
    ASSERT_NE(frame.Panels(), nullptr);
    CFileTransfer* transfer = frame.Panels()->TransferWindow();
    ASSERT_NE(transfer, nullptr);
    ASSERT_EQ(transfer->Queue().GetItemCount(), 1);
    EXPECT_EQ(transfer->Queue().GetItemText(0, 0), file.string());

    // The end of the conversation marks the user interface hidden.
    EXPECT_EQ(frame.UiHidden(), 0);
    client.Terminate();
    ASSERT_TRUE(pumpUntil([&] { return frame.UiHidden() == 1; }));

    // "[Close]" closes the frame, and the connect after it runs nothing.
    velmoor::dde::DdeClient closer;
    ASSERT_TRUE(closer.Connect("Velmoor"));
    EXPECT_EQ(closer.Execute("[Close][Connect 127.0.0.1:1]"), kDdeAckAcknowledged);
    ASSERT_TRUE(pumpUntil([&] { return frame.IsDestroyed(); }));
    EXPECT_FALSE(link.IsConnecting());
    EXPECT_EQ(platform::FindWindow(kDdeWindowClass, nullptr), platform::HWND{0});
    program.close();
}

// A watchdog: a window of the watchdog's class that writes each text it
// receives to args[0] (one per line; "bad" when the count misses the zero),
// until "IAMDEAD". With args[1] "hang" it never runs its loop.
VELMOOR_TEST_CHILD(watchdog) {
    class Watchdog : public platform::MessageWindow {
    public:
        explicit Watchdog(std::string path) : m_path(std::move(path)) {}
        bool dead = false;

    protected:
        LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
            if (msg != platform::WM_COPYDATA) return MessageWindow::WindowProc(msg, wParam, lParam);
            const auto* copy = reinterpret_cast<const platform::COPYDATASTRUCT*>(lParam);
            const auto* text = static_cast<const char*>(copy->lpData);
            std::string line = "bad";
            if (copy->dwData == 0 && copy->cbData > 0 && text[copy->cbData - 1] == '\0' &&
                std::strlen(text) + 1 == copy->cbData) {
                line = text;
            }
            std::ofstream(m_path, std::ios::app) << line << "\n";
            if (line == kHeartbeatDead) dead = true;
            return 1;
        }

    private:
        std::string m_path;
    };
    Watchdog watchdog(args.at(0));
    if (!watchdog.create(kWatchdogClass, "Gantrel")) return 2;
    std::ofstream(args.at(0) + ".ready") << "ready";
    if (args.at(1) == "hang") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    return pumpUntil([&] { return watchdog.dead; }, std::chrono::seconds(120)) ? 0 : 3;
}

velmoor::testing::ChildProcess startWatchdog(const fs::path& file, const char* mode) {
    auto child = velmoor::testing::ChildProcess::start("watchdog", {file.string(), mode});
    EXPECT_TRUE(pumpUntil([&] { return fs::exists(file.string() + ".ready"); }, std::chrono::seconds(60)));
    EXPECT_NE(platform::FindWindow(kWatchdogClass, nullptr), platform::HWND{0});
    return child;
}

TEST(Heartbeat, WatchdogHearsAliveAtThePeriodAndDeadAtTheEnd) {
    const fs::path heard = fs::path(std::getenv("VELMOOR_HOME")) / "heard.txt";
    auto watchdog = startWatchdog(heard, "answer");
    Program program("/U62");
    // Running passes alone send nothing; nor does exactly the period.
    ASSERT_TRUE(program.passes(5));
    program.clock += kHeartbeatPeriodMs;
    ASSERT_TRUE(program.passes(5));
    EXPECT_EQ(readAll(heard), "");
    // Past the period: one "IAMALIVE", then nothing until the period has passed again.
    program.clock += 1;
    ASSERT_TRUE(pumpUntil([&] { return readAll(heard) == "IAMALIVE\n"; })) << readAll(heard);
    program.clock += kHeartbeatPeriodMs / 2;
    ASSERT_TRUE(program.passes(5));
    EXPECT_EQ(readAll(heard), "IAMALIVE\n");
    program.clock += kHeartbeatPeriodMs / 2 + 1;
    ASSERT_TRUE(pumpUntil([&] { return readAll(heard) == "IAMALIVE\nIAMALIVE\n"; })) << readAll(heard);
    program.close();
    EXPECT_EQ(readAll(heard), "IAMALIVE\nIAMALIVE\nIAMDEAD\n");
    EXPECT_EQ(watchdog.wait(std::chrono::seconds(30)), 0);
}

TEST(Heartbeat, HungWatchdogDoesNotHoldTheLoop) {
    const fs::path heard = fs::path(std::getenv("VELMOOR_HOME")) / "heard.txt";
    auto watchdog = startWatchdog(heard, "hang");
    Program program("/U63");
    program.clock += kHeartbeatPeriodMs + 1;
    // The loop goes on well within the time a plain send would wait.
    const auto guard = std::chrono::milliseconds(platform::kRemoteSendTimeoutMs / 3);
    const DWORD until = program.frame->LoopPasses() + 20;
    EXPECT_TRUE(pumpUntil([&] { return program.frame->LoopPasses() >= until; }, guard));
    // Without a watchdog the heartbeat sends nothing.
    watchdog.kill();
    watchdog.wait(std::chrono::seconds(10));
    EXPECT_FALSE(NotifyShell(kHeartbeatAlive, program.frame->Hwnd()));
    program.close();
}

}  // namespace

namespace {

// Runs velmoor-dde with the arguments, its output into `out`.
platform::Process runDde(const std::vector<std::string>& args, const fs::path& out) {
    const auto program = platform::findProgram("velmoor-dde");
    if (!program) return {};
    std::string command = "exec \"" + program->string() + "\"";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " > \"" + out.string() + "\" 2>&1";
    return platform::Process::start("sh", {"-c", command});
}

// Runs the loop until the process ends; its exit code, -1 when it did not end.
int finish(platform::Process& process) {
    platform::ProcessExit end;
    const bool ended = pumpUntil(
        [&] {
            end = process.wait(0);
            return end.kind != platform::ProcessExit::Kind::Running;
        },
        std::chrono::seconds(60));
    return ended && end.kind == platform::ProcessExit::Kind::Exited ? end.code : -1;
}

// velmoor-dde in a process of its own: no recorder is told; a request prints
// the echoed item; "[Close]" ends the program.
TEST(DdeServer, VelmoorDdeProcessDrivesTheProgram) {
    const fs::path home = std::getenv("VELMOOR_HOME");
    platform::Process none = runDde({"--timeout", "2000", "execute", "[Listen]"}, home / "none.txt");
    ASSERT_TRUE(none.valid());
    EXPECT_EQ(finish(none), 2) << readAll(home / "none.txt");

    Program program("/U64");
    platform::Process request = runDde({"request", "Status"}, home / "request.txt");
    EXPECT_EQ(finish(request), 0) << readAll(home / "request.txt");
    EXPECT_EQ(readAll(home / "request.txt"), "Status\r\n");
    platform::Process close = runDde({"execute", "[Close]"}, home / "close.txt");
    EXPECT_EQ(finish(close), 0) << readAll(home / "close.txt");
    EXPECT_EQ(readAll(home / "close.txt"), "ack 0x8000\n");
    EXPECT_TRUE(pumpUntil([&] { return program.frame->IsDestroyed(); }));
}

}  // namespace
