#include "platform/local_bus.h"

#include "platform/folders.h"
#include "platform/shared_memory.h"
#include "platform/testing/child_process.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using velmoor::testing::ChildProcess;

namespace {

constexpr const char* kEchoClass = "VLM-ECHO-CLASS";

enum : UINT {
    kHang = WM_USER + 7,         // the handler never returns
    kDie = WM_USER + 8,          // the process ends inside the handler
    kCallBack = WM_USER + 9,     // sends WM_COPYDATA back to the window in wParam
};

class FunctionWindow : public MessageWindow {
public:
    std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (onMessage) {
            return onMessage(msg, wParam, lParam);
        }
        return MessageWindow::WindowProc(msg, wParam, lParam);
    }
};

std::string textOf(LPARAM lParam) {
    auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (cds == nullptr || cds->cbData == 0 || static_cast<const char*>(cds->lpData)[cds->cbData - 1] != '\0') {
        return "<not a terminated text>";
    }
    return std::string(static_cast<const char*>(cds->lpData), cds->cbData - 1);
}

COPYDATASTRUCT textRecord(const std::string& text) {
    return COPYDATASTRUCT{0, static_cast<DWORD>(text.size() + 1), const_cast<char*>(text.c_str())};
}

HWND waitForWindow(const char* className, const char* title) {
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (HWND found = FindWindow(className, title)) {
            return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Runs the main thread's loop until quit, failing fast when it hangs.
void runLoop(QEventLoop& loop) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        ADD_FAILURE() << "loop guard fired";
        loop.exit(-1);
    });
    guard.start(20000);
    loop.exec();
}

}  // namespace

// Publishes a window (args: class, title, then the texts it must receive) and
// serves it until WM_CLOSE; the exit code says whether the texts came whole and
// in order. WM_COPYDATA texts, "Velmoor Test Block" (a shared block: "ping" in,
// "pong" out) and "Velmoor Test Broadcast" are recorded as texts.
VELMOOR_TEST_CHILD(bus_echo) {
    if (args.size() < 2) {
        return 90;
    }
    const UINT blockMsg = RegisterWindowMessage("Velmoor Test Block");
    const UINT broadcastMsg = RegisterWindowMessage("Velmoor Test Broadcast");
    std::vector<std::string> expected(args.begin() + 2, args.end());
    std::vector<std::string> texts;
    MessageLoop loop;
    FunctionWindow window;
    window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg == WM_COPYDATA) {
            texts.push_back(textOf(lParam));
            return static_cast<LRESULT>(texts.size());
        }
        if (msg == blockMsg) {
            if (wParam != static_cast<WPARAM>(::getppid())) {
                return -2;
            }
            auto block = SharedMemory::open(static_cast<int>(lParam), 1032);
            if (!block.valid()) {
                return -1;
            }
            auto* bytes = static_cast<char*>(block.data());
            texts.push_back(std::string(bytes, 4) + ":" + std::to_string(static_cast<unsigned char>(bytes[1031])));
            std::memcpy(bytes, "pong", 4);
            return static_cast<LRESULT>(block.size());
        }
        if (msg == broadcastMsg) {
            texts.push_back("broadcast " + std::to_string(wParam));
            return 0;
        }
        if (msg == kHang) {
            std::this_thread::sleep_for(std::chrono::minutes(5));
            return 0;
        }
        if (msg == kDie) {
            ::_exit(7);
        }
        if (msg == kCallBack) {
            std::string text = "called back";
            COPYDATASTRUCT cds = textRecord(text);
            return SendMessage(static_cast<HWND>(wParam), WM_COPYDATA, window.hwnd(),
                               reinterpret_cast<LPARAM>(&cds)) + 1;
        }
        if (msg == WM_DESTROY) {
            PostQuitMessage(texts == expected ? 0 : 1);
            for (auto& t : texts) {
                std::fprintf(stderr, "child got: %s\n", t.c_str());
            }
        }
        if (msg == WM_CLOSE) {
            window.destroy();
        }
        return 0;
    };
    if (!window.create(args[0], args[1])) {
        return 91;
    }
    return loop.run();
}

TEST(LocalBus, FindsAndTalksToWindowOfAnotherProcess) {
    std::vector<std::string> childArgs = {kEchoClass, "Echo one"};
    for (int i = 0; i < 20; ++i) {
        childArgs.push_back("sent " + std::to_string(i));
    }
    childArgs.push_back("ping:171");
    for (int i = 0; i < 5; ++i) {
        childArgs.push_back("posted " + std::to_string(i));
    }
    auto child = ChildProcess::start("bus_echo", childArgs);
    HWND hwnd = waitForWindow(kEchoClass, nullptr);
    ASSERT_NE(hwnd, 0u);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(windowProcessId(hwnd), static_cast<DWORD>(child.pid()));

    struct Lookup {
        const char* className;
        const char* title;
        bool found;
    };
    const Lookup lookups[] = {
        {kEchoClass, nullptr, true},     {"vlm-echo-class", nullptr, true}, {nullptr, "ECHO ONE", true},
        {kEchoClass, "Echo one", true},  {kEchoClass, "Echo two", false},   {"VLM-OTHER", nullptr, false},
        {nullptr, "Echo", false},
    };
    for (const auto& lookup : lookups) {
        SCOPED_TRACE(std::string(lookup.className ? lookup.className : "-") + "/" + (lookup.title ? lookup.title : "-"));
        EXPECT_EQ(FindWindow(lookup.className, lookup.title), lookup.found ? hwnd : 0u);
    }

    for (int i = 0; i < 20; ++i) {
        std::string text = "sent " + std::to_string(i);
        COPYDATASTRUCT cds = textRecord(text);
        ASSERT_EQ(SendMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), i + 1);
    }

    // A shared block: the receiver maps it through its own descriptor and answers in it.
    auto block = SharedMemory::create(1032);
    ASSERT_TRUE(block.valid());
    std::memcpy(block.data(), "ping", 4);
    static_cast<unsigned char*>(block.data())[1031] = 171;
    UINT blockMsg = RegisterWindowMessage("Velmoor Test Block");
    EXPECT_EQ(SendMessageFd(hwnd, blockMsg, static_cast<WPARAM>(::getpid()), block.fd()), 1032);
    EXPECT_EQ(std::memcmp(block.data(), "pong", 4), 0);

    for (int i = 0; i < 5; ++i) {
        std::string text = "posted " + std::to_string(i);
        COPYDATASTRUCT cds = textRecord(text);
        ASSERT_TRUE(PostMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    }
    ASSERT_TRUE(PostMessage(hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(FindWindow(kEchoClass, nullptr), 0u);
}

TEST(LocalBus, WindowGoneWhenItsProcessIsKilled) {
    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Doomed"});
    HWND hwnd = waitForWindow(kEchoClass, "Doomed");
    ASSERT_NE(hwnd, 0u);
    child.kill();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(windowProcessId(hwnd), 0u);
    EXPECT_EQ(FindWindow(kEchoClass, nullptr), 0u);
    // The dead window's files are cleaned up by the look-up.
    for (const auto& entry : std::filesystem::directory_iterator(runtimeFolder() / "bus")) {
        EXPECT_TRUE(entry.path().filename() == "handles" || entry.path().filename() == "messages")
            << entry.path();
    }
}

// A look-up that found nothing is remembered while the bus folder stays as it
// was; a window published afterwards (by another process) is found at once,
// and a remembered miss for one name hides no other name.
TEST(LocalBus, AWindowPublishedAfterAMissedLookUpIsFound) {
    EXPECT_EQ(FindWindow(kEchoClass, "Late"), 0u);
    // An older folder, so the miss is remembered.
    const std::filesystem::path folder = runtimeFolder() / "bus";
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const timespec older[2] = {{now.tv_sec - 10, 0}, {now.tv_sec - 10, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), older, 0), 0);
    EXPECT_EQ(FindWindow(kEchoClass, "Late"), 0u);
    EXPECT_EQ(FindWindow(nullptr, "Late"), 0u);

    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Late"});
    const HWND hwnd = waitForWindow(kEchoClass, "Late");
    ASSERT_NE(hwnd, 0u);
    EXPECT_EQ(windowProcessId(hwnd), static_cast<DWORD>(child.pid()));
    EXPECT_EQ(FindWindow(nullptr, "late"), hwnd);
    ASSERT_TRUE(PostMessage(hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
    EXPECT_EQ(FindWindow(kEchoClass, "Late"), 0u);
}

TEST(LocalBus, SenderIsReleasedWhenReceiverHangsOrDies) {
    auto hanging = ChildProcess::start("bus_echo", {kEchoClass, "Hanging"});
    auto dying = ChildProcess::start("bus_echo", {kEchoClass, "Dying"});
    HWND hangingHwnd = waitForWindow(kEchoClass, "Hanging");
    HWND dyingHwnd = waitForWindow(kEchoClass, "Dying");
    ASSERT_NE(hangingHwnd, 0u);
    ASSERT_NE(dyingHwnd, 0u);

    DWORD_PTR result = 5;
    EXPECT_EQ(SendMessageTimeout(hangingHwnd, kHang, 0, 0, SMTO_BLOCK, 200, &result), 0);
    EXPECT_EQ(result, 0u);
    // Without a time-out the wait still ends when the receiver's process does.
    EXPECT_EQ(SendMessageTimeout(dyingHwnd, kDie, 0, 0, SMTO_NORMAL, kWaitForever, &result), 0);
    EXPECT_EQ(dying.wait(std::chrono::seconds(20)), 7);
}

TEST(LocalBus, ReceiverMaySendBackWhileSenderWaits) {
    FunctionWindow own;
    ASSERT_TRUE(own.create("VLM-PARENT-CLASS", "Parent"));
    std::string heard;
    own.onMessage = [&](UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg == WM_COPYDATA) {
            heard = textOf(lParam);
            return 41;
        }
        return 0;
    };
    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Caller"});
    HWND hwnd = waitForWindow(kEchoClass, "Caller");
    ASSERT_NE(hwnd, 0u);
    // This thread runs no loop: the child's send back is served by the wait.
    EXPECT_EQ(SendMessage(hwnd, kCallBack, own.hwnd(), 0), 42);
    EXPECT_EQ(heard, "called back");
    ASSERT_TRUE(PostMessage(hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
}

TEST(LocalBus, BroadcastReachesPublishedWindowsOnly) {
    UINT broadcastMsg = RegisterWindowMessage("Velmoor Test Broadcast");
    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Listener", "broadcast 5"});
    ASSERT_NE(waitForWindow(kEchoClass, "Listener"), 0u);

    FunctionWindow published;
    FunctionWindow hidden;
    ASSERT_TRUE(published.create("VLM-LOCAL-CLASS", "Local"));
    ASSERT_TRUE(hidden.create());
    std::vector<std::string> got;
    QEventLoop loop;
    published.onMessage = [&](UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        if (msg == broadcastMsg) {
            got.push_back("published " + std::to_string(wParam));
            loop.quit();
        }
        return 0;
    };
    hidden.onMessage = [&](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == broadcastMsg) {
            got.push_back("hidden");
        }
        return 0;
    };
    EXPECT_EQ(FindWindow(nullptr, "Local"), published.hwnd());
    ASSERT_TRUE(PostMessage(HWND_BROADCAST, broadcastMsg, 5, 0));
    runLoop(loop);
    EXPECT_EQ(got, std::vector<std::string>{"published 5"});
    ASSERT_TRUE(PostMessage(FindWindow(kEchoClass, "Listener"), WM_CLOSE, 0, 0));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);

    unpublishWindow(published.hwnd());
    EXPECT_EQ(FindWindow(nullptr, "Local"), 0u);
    EXPECT_TRUE(IsWindow(published.hwnd()));
}

// ---- requests that do not follow the protocol ----

namespace {

#pragma pack(push, 1)
struct RawRequest {
    std::uint32_t magic = 0x53554256;
    std::uint16_t version = 1;
    std::uint16_t kind = 1;
    std::uint32_t target = 0;
    std::uint32_t msg = WM_COPYDATA;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::uint64_t dwData = 0;
    std::uint32_t dataBytes = 0;
    std::uint32_t flags = 2;
};
#pragma pack(pop)
static_assert(sizeof(RawRequest) == 48);

int connectRaw(HWND hwnd) {
    char name[16];
    std::snprintf(name, sizeof name, "%08lx", static_cast<unsigned long>(hwnd));
    std::string path = (runtimeFolder() / "bus" / name).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendWithFds(int socket, const void* bytes, std::size_t size, const std::vector<int>& fds) {
    iovec part{const_cast<void*>(bytes), size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    std::vector<char> control(CMSG_SPACE(sizeof(int) * fds.size()));
    if (!fds.empty()) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    return ::sendmsg(socket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

// True when the peer closes the connection without answering.
bool closedWithoutAnswer(int socket) {
    pollfd entry{socket, POLLIN, 0};
    if (::poll(&entry, 1, 15000) != 1) {
        return false;
    }
    char byte;
    return ::recv(socket, &byte, 1, 0) <= 0;
}

}  // namespace

TEST(LocalBus, MalformedRequestsAreRefused) {
    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Target", "good"});
    HWND hwnd = waitForWindow(kEchoClass, "Target");
    ASSERT_NE(hwnd, 0u);
    int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    struct Case {
        const char* name;
        std::function<void(RawRequest&)> change;
        int fdsWithHeader;
    };
    const Case cases[] = {
        {"bad magic", [](RawRequest& r) { r.magic = 0x12345678; }, 0},
        {"bad version", [](RawRequest& r) { r.version = 2; }, 0},
        {"unknown kind", [](RawRequest& r) { r.kind = 9; }, 0},
        {"other target", [&](RawRequest& r) { r.target = static_cast<std::uint32_t>(hwnd + 1); }, 0},
        {"data over the limit", [](RawRequest& r) { r.dataBytes = kMaxCopyDataBytes + 1; }, 0},
        {"huge data", [](RawRequest& r) { r.dataBytes = 0xFFFFFFFF; }, 0},
        {"data without WM_COPYDATA", [](RawRequest& r) { r.msg = WM_USER; r.flags = 0; r.dataBytes = 4; }, 0},
        {"copy flag on another message", [](RawRequest& r) { r.msg = WM_USER; }, 0},
        {"unknown flag", [](RawRequest& r) { r.flags |= 0x100; }, 0},
        {"descriptor promised, none sent", [](RawRequest& r) { r.msg = WM_USER; r.flags = 1; }, 0},
        {"descriptor sent, not promised", [](RawRequest& r) { r.msg = WM_USER; r.flags = 0; }, 1},
        {"two descriptors", [](RawRequest& r) { r.msg = WM_USER; r.flags = 1; }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawRequest request;
        request.target = static_cast<std::uint32_t>(hwnd);
        c.change(request);
        int socket = connectRaw(hwnd);
        ASSERT_GE(socket, 0);
        std::vector<int> fds(static_cast<std::size_t>(c.fdsWithHeader), spare);
        ASSERT_TRUE(sendWithFds(socket, &request, sizeof request, fds));
        EXPECT_TRUE(closedWithoutAnswer(socket));
        ::close(socket);
    }
    ::close(spare);

    // A peer that stops half-way through a header, one that leaves mid-data, and
    // one that only connects: none of them holds up a proper sender.
    int stalled = connectRaw(hwnd);
    ASSERT_GE(stalled, 0);
    RawRequest request;
    request.target = static_cast<std::uint32_t>(hwnd);
    ASSERT_EQ(::send(stalled, &request, 20, MSG_NOSIGNAL), 20);
    {
        int leaving = connectRaw(hwnd);
        request.dataBytes = 100;
        ASSERT_TRUE(sendWithFds(leaving, &request, sizeof request, {}));
        ASSERT_EQ(::send(leaving, "0123456789", 10, MSG_NOSIGNAL), 10);
        ::close(leaving);
        ::close(connectRaw(hwnd));
    }
    std::string text = "good";
    COPYDATASTRUCT cds = textRecord(text);
    EXPECT_EQ(SendMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 1);
    ::close(stalled);

    // Only the proper text arrived.
    ASSERT_TRUE(PostMessage(hwnd, WM_CLOSE, 0, 0));
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
}

TEST(LocalBus, CopyDataLimitIsCheckedBySender) {
    auto child = ChildProcess::start("bus_echo", {kEchoClass, "Limit"});
    HWND hwnd = waitForWindow(kEchoClass, "Limit");
    ASSERT_NE(hwnd, 0u);
    std::vector<char> big(kMaxCopyDataBytes + 1, 'x');
    COPYDATASTRUCT tooBig{0, static_cast<DWORD>(big.size()), big.data()};
    EXPECT_EQ(SendMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&tooBig)), 0);
    EXPECT_FALSE(PostMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&tooBig)));
    COPYDATASTRUCT noPointer{0, 10, nullptr};
    EXPECT_EQ(SendMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&noPointer)), 0);
    // The largest allowed block arrives whole.
    std::vector<char> largest(kMaxCopyDataBytes, 'y');
    largest.back() = '\0';
    COPYDATASTRUCT fits{0, static_cast<DWORD>(largest.size()), largest.data()};
    EXPECT_EQ(SendMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&fits)), 1);
}

// ---- registered messages ----

namespace {

UINT fnvSlot(const std::string& lower) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : lower) {
        hash = (hash ^ c) * 16777619u;
    }
    return 0xC000 + hash % 0x4000;
}

// Two names whose hashes meet, so the shared table must tell them apart.
std::pair<std::string, std::string> collidingNames() {
    std::map<UINT, std::string> seen;
    for (int i = 0;; ++i) {
        std::string name = "probe " + std::to_string(i);
        auto [it, fresh] = seen.emplace(fnvSlot(name), name);
        if (!fresh) {
            return {it->second, name};
        }
    }
}

}  // namespace

// Registers the names given (name, expected id, name, expected id...) in that
// order; exit code 0 when every id matches.
VELMOOR_TEST_CHILD(register_names) {
    int mismatches = 0;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        UINT id = RegisterWindowMessage(args[i].c_str());
        if (std::to_string(id) != args[i + 1]) {
            std::fprintf(stderr, "%s: %u, parent had %s\n", args[i].c_str(), id, args[i + 1].c_str());
            ++mismatches;
        }
    }
    return mismatches;
}

TEST(LocalBus, RegisteredMessagesAgreeAcrossProcesses) {
    auto [first, second] = collidingNames();
    std::vector<std::string> names = {"Corvasta TESS OUT", "Corvasta TESS IN", "WM_CorvastaEvent", first, second};
    std::vector<UINT> ids;
    std::set<UINT> distinct;
    for (const auto& name : names) {
        UINT id = RegisterWindowMessage(name.c_str());
        EXPECT_GE(id, 0xC000u) << name;
        EXPECT_LE(id, 0xFFFFu) << name;
        ids.push_back(id);
        distinct.insert(id);
    }
    EXPECT_EQ(distinct.size(), names.size());
    EXPECT_EQ(RegisterWindowMessage("corvasta tess out"), ids[0]);
    EXPECT_EQ(RegisterWindowMessage("Corvasta TESS OUT"), ids[0]);

    // The other process asks in the opposite order and gets the same numbers.
    std::vector<std::string> childArgs;
    for (std::size_t i = names.size(); i-- > 0;) {
        childArgs.push_back(names[i]);
        childArgs.push_back(std::to_string(ids[i]));
    }
    auto child = ChildProcess::start("register_names", childArgs);
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);

    for (const char* bad : {"", "line\nbreak"}) {
        EXPECT_EQ(RegisterWindowMessage(bad), 0u) << bad;
    }
    EXPECT_EQ(RegisterWindowMessage(nullptr), 0u);
    EXPECT_EQ(RegisterWindowMessage(std::string(256, 'n').c_str()), 0u);
    EXPECT_NE(RegisterWindowMessage(std::string(255, 'n').c_str()), 0u);
}

TEST(LocalBus, PublishChecksItsInput) {
    FunctionWindow window;
    ASSERT_TRUE(window.create());
    struct Case {
        const char* name;
        HWND hwnd;
        std::string className;
        std::string title;
        bool ok;
    };
    const Case cases[] = {
        {"plain", window.hwnd(), "VLM-A", "Title A", true},
        {"again, renamed", window.hwnd(), "VLM-B", "Title B", true},
        {"class too long", window.hwnd(), std::string(kMaxClassNameBytes + 1, 'c'), "t", false},
        {"title too long", window.hwnd(), "VLM-C", std::string(kMaxWindowTitleBytes + 1, 't'), false},
        {"no window", 0, "VLM-D", "t", false},
        {"not a window of this process", window.hwnd() + 1000, "VLM-E", "t", false},
        {"longest names", window.hwnd(), std::string(kMaxClassNameBytes, 'c'), std::string(kMaxWindowTitleBytes, 't'),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(publishWindow(c.hwnd, c.className, c.title), c.ok);
        if (c.ok) {
            EXPECT_EQ(FindWindow(c.className.c_str(), c.title.c_str()), window.hwnd());
        }
    }
    EXPECT_EQ(FindWindow("VLM-A", nullptr), 0u);  // renamed

    FunctionWindow refused;
    EXPECT_FALSE(refused.create(std::string(kMaxClassNameBytes + 1, 'c'), "t"));
    EXPECT_EQ(refused.hwnd(), 0u);

    HWND hwnd = window.hwnd();
    window.destroy();
    EXPECT_EQ(FindWindow(nullptr, nullptr), 0u);
    for (const auto& entry : std::filesystem::directory_iterator(runtimeFolder() / "bus")) {
        EXPECT_TRUE(entry.path().filename() == "handles") << entry.path() << " left behind by " << hwnd;
    }
}
