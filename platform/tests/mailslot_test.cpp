#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/mailslot.h"
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono_literals;
using platform::MailslotClient;
using platform::MailslotServer;

namespace {

std::string messageText(int i) {
    // Sizes vary from 0 to several kilobytes, so a message that merged with or
    // split from its neighbour would show.
    return std::string(static_cast<std::size_t>((i * 97) % 5000), static_cast<char>('a' + i % 26)) +
           std::to_string(i);
}

}  // namespace

VELMOOR_TEST_CHILD(mailslotWriter) {
    MailslotClient client(args.at(0));
    if (!client.isOpen()) {
        return 3;
    }
    for (int i = 0; i < 300; ++i) {
        std::string text = messageText(i);
        if (!client.write(text.data(), static_cast<DWORD>(text.size()))) {
            return 4;
        }
    }
    return 0;
}

VELMOOR_TEST_CHILD(mailslotOwner) {
    MailslotServer server("\\\\.\\mailslot\\Owned", 0);
    if (!server.isOpen()) {
        return 3;
    }
    for (;;) {
        std::vector<char> message;
        server.read(message, 0xFFFFFFFF);
    }
}

TEST(MailslotName, EveryTargetIsTheLocalMailslot) {
    struct Case {
        const char* name;
        const char* local;  // nullptr: not a mailslot name
    };
    const Case cases[] = {
        {"\\\\.\\mailslot\\LumoDebWin", "lumodebwin"},
        {"\\\\*\\mailslot\\LumoDebWin", "lumodebwin"},
        {"\\\\WORKGROUP\\MAILSLOT\\LumoDebWin", "lumodebwin"},
        {"\\\\.\\mailslot\\a\\b", "a\\b"},
        {"LumoDebWin", "lumodebwin"},
        {"\\\\\\mailslot\\x", nullptr},
        {"\\\\.\\pipe\\x", nullptr},
        {"\\\\.\\mailslot\\", nullptr},
        {"a\\b", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto local = platform::mailslotLocalName(c.name);
        ASSERT_EQ(local.has_value(), c.local != nullptr);
        if (c.local) {
            EXPECT_EQ(*local, c.local);
        }
    }
}

TEST(Mailslot, MessagesFromAnotherProcessArriveWholeAndInOrder) {
    MailslotServer server("\\\\.\\mailslot\\LumoDebWin", 0);
    ASSERT_TRUE(server.isOpen());
    auto child = velmoor::testing::ChildProcess::start("mailslotWriter", {"\\\\*\\mailslot\\lumodebwin"});
    std::vector<char> message;
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(server.read(message, 20000), MailslotServer::ReadResult::Message) << i;
        ASSERT_EQ(std::string(message.begin(), message.end()), messageText(i));
    }
    EXPECT_EQ(child.wait(20s), 0);
    EXPECT_EQ(server.read(message, 0), MailslotServer::ReadResult::TimedOut);
}

TEST(Mailslot, OpenFailsWithoutAServer) {
    {
        MailslotClient client("\\\\*\\mailslot\\Nobody");
        EXPECT_FALSE(client.isOpen());
        EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_FALSE(client.write("x", 1));
    }
    // A server that died leaves its socket file: still no mailslot, and a new
    // server can take the name.
    auto owner = velmoor::testing::ChildProcess::start("mailslotOwner");
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!MailslotClient("Owned").isOpen()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    }
    MailslotServer second("Owned", 0);
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    owner.kill();
    EXPECT_FALSE(MailslotClient("Owned").isOpen());
    MailslotServer third("Owned", 0);
    EXPECT_TRUE(third.isOpen());
    EXPECT_TRUE(MailslotClient("\\\\.\\mailslot\\owned").isOpen());
}

TEST(Mailslot, ServerMaximumAndWriterLimit) {
    MailslotServer server("Small", 16);
    ASSERT_TRUE(server.isOpen());
    MailslotServer remote("\\\\HOST\\mailslot\\Small2", 0);  // a server is always local
    EXPECT_FALSE(remote.isOpen());
    MailslotClient client("\\\\*\\mailslot\\Small");
    ASSERT_TRUE(client.isOpen());
    EXPECT_TRUE(client.write("0123456789abcdefX", 17));  // too large for this mailslot: dropped
    EXPECT_TRUE(client.write("0123456789abcdef", 16));
    EXPECT_TRUE(client.write("", 0));
    std::string huge(platform::kMailslotMaxMessageBytes + 1, 'h');
    EXPECT_FALSE(client.write(huge.data(), static_cast<DWORD>(huge.size())));
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::vector<char> message;
    ASSERT_EQ(server.read(message, 5000), MailslotServer::ReadResult::Message);
    EXPECT_EQ(std::string(message.begin(), message.end()), "0123456789abcdef");
    ASSERT_EQ(server.read(message, 5000), MailslotServer::ReadResult::Message);
    EXPECT_TRUE(message.empty());
    EXPECT_EQ(server.read(message, 0), MailslotServer::ReadResult::TimedOut);
}

TEST(Mailslot, ReaderThatStopsReadingCannotHangAWriter) {
    MailslotServer server("Stalled", 0);
    ASSERT_TRUE(server.isOpen());
    MailslotClient client("Stalled");
    ASSERT_TRUE(client.isOpen());
    client.setWriteTimeoutMs(10);
    std::string line(1000, 'x');
    int written = 0;
    while (client.write(line.data(), static_cast<DWORD>(line.size()))) {
        ASSERT_LT(++written, 1000000) << "the queue never filled";
    }
    EXPECT_EQ(platform::GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_GT(written, 0);
    std::vector<char> message;
    EXPECT_EQ(server.read(message, 0), MailslotServer::ReadResult::Message);
    EXPECT_TRUE(client.write(line.data(), static_cast<DWORD>(line.size())));  // room again
}

TEST(Mailslot, WorksUnderAHomeWithAVeryLongPath) {
    auto home = platform::homeFolder() / std::string(90, 'h') / std::string(90, 'i');
    ::setenv("VELMOOR_HOME", home.c_str(), 1);
    MailslotServer server("Deep", 0);
    ASSERT_TRUE(server.isOpen());
    MailslotClient client("Deep");
    ASSERT_TRUE(client.isOpen());
    EXPECT_TRUE(client.write("deep", 4));
    std::vector<char> message;
    ASSERT_EQ(server.read(message, 5000), MailslotServer::ReadResult::Message);
    EXPECT_EQ(std::string(message.begin(), message.end()), "deep");
}
