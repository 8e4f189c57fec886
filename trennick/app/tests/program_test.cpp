// The program as main() runs it, each in a child process of its own home: it
// never waits on a box without a display, and a request to end by signal
// closes it in order, the peer being told.

#include "trennick/app/testing/app_test_support.h"
#include "platform/folders.h"
#include "platform/message_window.h"
#include "platform/registry.h"
#include "common/fixed_text.h"
#include "platform/testing/child_process.h"
#include "trennick/app/kiv_app.h"
#include "trennick/app/main_frame.h"
#include "trennick/app/program.h"
#include "trennick/book/addr_book_file.h"
#include "trennick/link/cards.h"
#include "trennick/link/link_host.h"
#include "trennick/link/packet_connection.h"
#include "trennick/link/prot_list.h"
#include "trennick/net/testing/net_test_util.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace trennick;
using namespace apptest;
namespace fs = std::filesystem;

namespace {

// A home of its own for the program: its folders and the place of its
// standard error.
struct ProgramHome {
    fs::path home;
    fs::path program;
    fs::path errors;
    explicit ProgramHome(const std::string& name) {
        home = platform::homeFolder() / name;
        program = home / "program";
        errors = home / "stderr.txt";
        fs::create_directories(program);
    }
};

bool waitFor(const std::function<bool()>& done, std::chrono::seconds guard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Whether some socket of this machine listens on the TCP port (read from the
// kernel's tables, so that nothing calls the listener to find out).
bool listening(unsigned port) {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the titles
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// args: home, file for standard error, then the program's own arguments.
VELMOOR_TEST_CHILD(program) {
    ::setenv("VELMOOR_HOME", args.at(0).c_str(), 1);
    const int fd = ::open(args.at(1).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::dup2(fd, 2) < 0) return 90;
    ::close(fd);
    pinLoadedLibraries();
    return RunRecorderProgram(std::vector<std::string>(args.begin() + 2, args.end()), "");
}

// A damaged users file stops the start: without a display the stop box goes
// to standard error and the program ends with an error instead of waiting.
TEST(Program, DamagedUsersFileWithoutDisplayEndsWithTheMessage) {
    ProgramHome where("damaged");
    {
        std::ofstream out(where.program / kUsersFileName, std::ios::binary);
        out << std::string(300, 'Z');
    }
    auto child = velmoor::testing::ChildProcess::start(
        "program", {where.home.string(), where.errors.string(), "/NOSPLASH", "/I", "/U41",
                    "/P=" + std::to_string(nettest::freePort())});
    const int code = child.wait(std::chrono::seconds(30));
    EXPECT_NE(code, -1) << "the program waited on its box";
    EXPECT_NE(code, 0);
    EXPECT_LT(code, 90) << "ended by signal or could not start";
    const std::string errors = readAll(where.errors);
    EXPECT_NE(errors.find("MXRTPC32"), std::string::npos) << errors;
}

namespace {

// Runs a program as `user` on its own port that calls the program on `port`,
// giving `tick` its frame and link every few milliseconds once the frame is
// up; answers how the run ended.
int runCallingProgram(const std::string& port, const std::string& ownPort, const std::string& user,
                      const std::function<void(CMainFrame&, CPacketConnection&)>& tick) {
    AnsweringUi ui;
    AppServices services = quietServices(&ui);
    CKivApp app({"/NOSPLASH", "/I", user, "/P=" + ownPort, "/D=127.0.0.1:" + port, "/C"}, "", services);
    QTimer script;
    script.setInterval(2);
    QObject::connect(&script, &QTimer::timeout, [&] {
        CMainFrame* frame = app.MainFrame();
        if (frame == nullptr || !frame->PostCreateDone() || frame->IsDestroyed()) return;
        tick(*frame, *frame->Connection());
    });
    script.start();
    RunGuard hangGuard(60);
    return app.Run();
}

// Starts the program in a home of its own, listening on `port` as `user`;
// answers once it listens (the child's wait fails when it never did).
velmoor::testing::ChildProcess startListening(const ProgramHome& where, const std::string& port,
                                              const std::string& user) {
    auto program = velmoor::testing::ChildProcess::start(
        "program", {where.home.string(), where.errors.string(), "/NOSPLASH", "/I", user, "/P=" + port});
    EXPECT_TRUE(waitFor([&] { return listening(unsigned(std::stoul(port))); }, std::chrono::seconds(60)))
        << readAll(where.errors);
    return program;
}

}  // namespace

// args: the program's port, own port, the marker written once connected, the
// result file.
VELMOOR_TEST_CHILD(signalPeer) {
    bool told = false;
    platform::PostedMessageWatch watch([&](platform::HWND, UINT msg, WPARAM wParam, LPARAM) {
        if (msg == kMsgTokenDone && wParam == ID_DSVD_DISCONNECT) told = true;
    });
    int step = 0;
    const int code = runCallingProgram(args.at(0), args.at(1), "/U43", [&](CMainFrame& frame, CPacketConnection& link) {
        if (step == 0 && link.IsConnected()) {
            std::ofstream(args.at(2)) << "connected";
            step = 1;
        } else if (step == 1 && !link.IsConnected()) {
            platform::PostMessage(frame.Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 2;
        }
    });
    std::ofstream(args.at(3)) << "code=" << code << " step=" << step << " told=" << told;
    return code == 0 && step == 2 && told ? 0 : 10 + step;
}

// SIGTERM and SIGINT close the program as its own close does: the peer is told
// <Disconnect> and the program ends with success, not by the signal.
TEST(Program, TerminationSignalClosesInOrderAndThePeerIsTold) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ProgramHome where("signal" + std::to_string(signal));
        const std::string port = std::to_string(nettest::freePort());
        const fs::path marker = where.home / "connected";
        const fs::path result = where.home / "peer.txt";
        // The peer calls once the program listens.
        auto program = startListening(where, port, "/U42");
        ASSERT_FALSE(HasFailure());
        auto peer = velmoor::testing::ChildProcess::start(
            "signalPeer", {port, std::to_string(nettest::freePort()), marker.string(), result.string()});
        ASSERT_TRUE(waitFor([&] { return fs::exists(marker); }, std::chrono::seconds(60)))
            << readAll(where.errors);
        ASSERT_EQ(::kill(program.pid(), signal), 0);
        EXPECT_EQ(program.wait(std::chrono::seconds(30)), 0) << readAll(where.errors);
        EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0) << readAll(result);
    }
}

// A registry that cannot be read is not used: the program keeps it aside,
// starts from its defaults and tells it on standard error.
TEST(Program, DamagedSettingsAreKeptAsideAndTold) {
    ProgramHome where("settings");
    const std::string ownHome = std::getenv("VELMOOR_HOME");
    {
        // A real registry of that home, closed again, then a page overwritten.
        ::setenv("VELMOOR_HOME", where.home.c_str(), 1);
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::HKEY_CURRENT_USER, "Software\\Quennel\\Velmoor",
                                                platform::KEY_ALL_ACCESS, key),
                  ERROR_SUCCESS);
        for (int i = 0; i < 100; ++i) {
            const DWORD v = DWORD(i);
            ASSERT_EQ(key.setValue("V" + std::to_string(i), platform::REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
                      ERROR_SUCCESS);
        }
    }
    ::setenv("VELMOOR_HOME", ownHome.c_str(), 1);
    platform::RegistryKey here;
    ASSERT_EQ(platform::RegistryKey::create(platform::HKEY_CURRENT_USER, "Software", platform::KEY_ALL_ACCESS, here),
              ERROR_SUCCESS);
    {
        std::fstream db(where.home / "registry.db", std::ios::in | std::ios::out | std::ios::binary);
        db.seekp(4096);
        db << std::string(4096, 'J');
    }
    auto program = velmoor::testing::ChildProcess::start(
        "program", {where.home.string(), where.errors.string(), "/NOSPLASH", "/I", "/U44",
                    "/P=" + std::to_string(nettest::freePort())});
    ASSERT_TRUE(waitFor([&] { return readAll(where.errors).find("settings were damaged") != std::string::npos; },
                        std::chrono::seconds(60)))
        << readAll(where.errors);
    ASSERT_EQ(::kill(program.pid(), SIGTERM), 0);
    EXPECT_EQ(program.wait(std::chrono::seconds(30)), 0) << readAll(where.errors);
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(where.home)) {
        if (entry.path().filename().string().rfind("registry.db.damaged-", 0) == 0) ++kept;
    }
    EXPECT_EQ(kept, 1);
    EXPECT_TRUE(fs::exists(where.home / "registry.db"));
}

// args: the program's port, own port, the marker written once the program
// has confirmed our card, the card's name.
VELMOOR_TEST_CHILD(cardPeer) {
    int step = 0;
    const int code = runCallingProgram(args.at(0), args.at(1), "/U45", [&](CMainFrame& frame, CPacketConnection& link) {
        if (step == 0 && link.IsConnected() && link.GetHelloAccepted() != 0) {
            tagBusinessCard card{};
            fixed_text::Write(card.name, args.at(3));
            fixed_text::Write(card.text2, "555-0146");
            link.SendMyCard(&card);
            step = 1;
        } else if (step == 1 && (link.GetCardStatus(0) & (kCardReceived | kCardSent)) == kCardReceived) {
            std::ofstream(args.at(2)) << "confirmed";
            step = 2;
        } else if (step == 2 && !link.IsConnected()) {
            platform::PostMessage(frame.Hwnd(), platform::WM_CLOSE, 0, 0);
            step = 3;
        }
    });
    return code == 0 && step == 3 ? 0 : 10 + step;
}

// A card the program confirmed to the peer is in its address book even when
// a request to end arrives right after the confirmation.
TEST(Program, ACardConfirmedToThePeerIsFiledWhenTheProgramEndsAtOnce) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ProgramHome where("card" + std::to_string(round));
        const std::string port = std::to_string(nettest::freePort());
        const fs::path confirmed = where.home / "confirmed";
        const std::string name = "Gate " + std::to_string(round);
        auto program = startListening(where, port, "/U42");
        ASSERT_FALSE(HasFailure());
        auto peer = velmoor::testing::ChildProcess::start(
            "cardPeer", {port, std::to_string(nettest::freePort()), confirmed.string(), name});
        ASSERT_TRUE(waitFor([&] { return fs::exists(confirmed); }, std::chrono::seconds(60))) << readAll(where.errors);
        ASSERT_EQ(::kill(program.pid(), SIGTERM), 0);
        EXPECT_EQ(program.wait(std::chrono::seconds(30)), 0) << readAll(where.errors);
        EXPECT_EQ(peer.wait(std::chrono::seconds(30)), 0);

        std::vector<fs::path> books;
        for (const auto& entry : fs::recursive_directory_iterator(where.home)) {
            if (entry.path().filename() == "AddrBook.kiv") books.push_back(entry.path());
        }
        ASSERT_EQ(books.size(), 1u) << "no address book was written";
        CAddrBookFile book;
        book.SetFileName(books.front().string(), 0);
        book.Load();
        const AddrBookEntry* filed = book.FindEntry(name);
        ASSERT_NE(filed, nullptr) << "the confirmed card was lost";
        EXPECT_EQ(filed->Phone(), "555-0146");
    }
}

// The first start of a fresh home leaves the settings store near its real
// size: no write-ahead log of megabytes while the program runs, none left
// behind once it has closed. A save of the users file killed half-way left
// its temporary: the start clears it and nothing else.
TEST(Program, AFreshHomeStaysSmallAndTheUsersFileLeftoversGo) {
    ProgramHome where("fresh");
    const fs::path leftover = where.program / (std::string(kUsersFileName) + ".k3Zq9A");
    const fs::path notOurs = where.program / (std::string(kUsersFileName) + ".keep");
    std::ofstream(leftover) << "half a users file";
    std::ofstream(notOurs) << "kept";
    auto program = startListening(where, std::to_string(nettest::freePort()), "/U46");
    ASSERT_FALSE(HasFailure());
    const fs::path wal = where.home / "registry.db-wal";
    std::error_code error;
    const auto running = fs::file_size(wal, error);
    EXPECT_LT(error ? 0 : running, 1024u * 1024u) << "while running";
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(notOurs));
    EXPECT_TRUE(fs::exists(where.program / kUsersFileName));

    ASSERT_EQ(::kill(program.pid(), SIGTERM), 0);
    EXPECT_EQ(program.wait(std::chrono::seconds(30)), 0) << readAll(where.errors);
    const auto closed = fs::file_size(wal, error);
    EXPECT_EQ(error ? 0 : closed, 0u) << "after the close";
}
