// The chat window over a real link: two stations in this process on loopback.

#include "panels_test_support.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/panels/chat_wnd.h"

#include <QLineEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace trennick;
using namespace panelstest;
using nettest::Station;

namespace {

QColor lineColour(QTextEdit& view, int block) {
    QTextCursor cursor(view.document()->findBlockByNumber(block));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    return cursor.charFormat().foreground().color();
}

}  // namespace

TEST(ChatWindow, LinesGoBothWaysInTheirColoursAndIntoTheCapture) {
    uitest::installLanguage();
    const WORD port = nettest::freePort();
    Station listener(true, port);
    Station caller(false, nettest::freePort());
    ASSERT_TRUE(listener.open());
    ASSERT_TRUE(caller.open());
    ChatSettings callerSettings, listenerSettings;
    int closed = 0;
    CChat callerChat(caller.link, callerSettings, [&] { ++closed; });
    CChat listenerChat(listener.link, listenerSettings, [] {});
    caller.link.SetChatWindow(&callerChat);
    listener.link.SetChatWindow(&listenerChat);

    // Typed while the link is down: shown grey, not sent.
    QTest::keyClicks(&callerChat.Input(), "nobody hears this");
    QTest::keyClick(&callerChat.Input(), Qt::Key_Return);
    EXPECT_EQ(callerChat.Conversation(), ">> nobody hears this\r\n");
    EXPECT_TRUE(callerChat.Input().text().isEmpty());
    EXPECT_EQ(lineColour(callerChat.View(), 0), QColor(128, 128, 128));

    const std::string address = "127.0.0.1:" + std::to_string(port);
    caller.link.ConnectToRemote(address.c_str(), "listener");
    auto both = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            caller.pass();
            listener.pass();
        }
        return true;
    };
    ASSERT_TRUE(both([&] { return caller.link.IsConnected() && listener.link.IsConnected(); }));

    const std::string capture = (platform::homeFolder() / "chat.txt").string();
    writeFile(capture, "old contents that the capture replaces");
    listenerChat.UpdateTitle("Control Room");
    ASSERT_TRUE(listenerChat.StartCapture(capture));
    EXPECT_TRUE(listenerSettings.capture);

    callerChat.Input().setText("hello from the caller");
    callerChat.SendInput();
    ASSERT_TRUE(both([&] { return !listenerChat.Conversation().empty(); }));
    EXPECT_EQ(listenerChat.Conversation(), "<< hello from the caller\r\n");
    EXPECT_EQ(lineColour(listenerChat.View(), 0), QColor(255, 0, 0));
    listenerChat.Input().setText("hello from the listener");
    listenerChat.SendInput();
    ASSERT_TRUE(both([&] { return callerChat.Conversation().find("<< hello from the listener") != std::string::npos; }));
    EXPECT_EQ(lineColour(callerChat.View(), 2), QColor(255, 0, 0));
    uitest::saveScreenshot(&callerChat, "chat_caller");
    uitest::saveScreenshot(&listenerChat, "chat_listener");

    const std::string kept = readAll(capture);
    EXPECT_EQ(kept.rfind("Chat with Control Room on ", 0), 0u) << kept;
    EXPECT_EQ(kept.find("old contents"), std::string::npos);
    EXPECT_NE(kept.find("\r\n<< hello from the caller\r\n>> hello from the listener\r\n"), std::string::npos) << kept;
    listenerChat.OnCommand(ID_CHAT_CAPTURE);
    EXPECT_FALSE(listenerChat.Capturing());

    // An empty text is ignored; the input holds at most 512 characters.
    listenerChat.OnReceiveText("");
    EXPECT_EQ(listenerChat.Conversation().find("<< \r\n"), std::string::npos);
    listenerChat.Input().setText(QString(600, 'x'));
    EXPECT_EQ(listenerChat.Input().text().size(), kChatInputChars);

    EXPECT_TRUE(callerChat.IsCommandEnabled(ID_CHAT_CLEAR));
    callerChat.OnCommand(ID_CHAT_CLEAR);
    EXPECT_FALSE(callerChat.IsCommandEnabled(ID_CHAT_CLEAR));
    callerChat.OnCommand(ID_CHAT_CLOSE);
    EXPECT_EQ(closed, 1);
    caller.link.SetChatWindow(nullptr);
    listener.link.SetChatWindow(nullptr);
}

TEST(ChatWindow, CaptureThatCannotBeCreatedStaysOff) {
    uitest::installLanguage();
    Station station(false, nettest::freePort());
    ChatSettings settings;
    CChat chat(station.link, settings, [] {});
    EXPECT_FALSE(chat.StartCapture((platform::homeFolder() / "no" / "such" / "folder" / "chat.txt").string()));
    EXPECT_FALSE(chat.Capturing());
    EXPECT_FALSE(settings.capture);
}
