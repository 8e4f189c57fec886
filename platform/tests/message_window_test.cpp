#include "platform/message_window.h"

#include "platform/message_window_detail.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

struct Received {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// A window that records what it gets and lets a test answer messages.
class TestWindow : public MessageWindow {
public:
    std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage;
    std::vector<Received> received;
    std::thread::id handlerThread;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        received.push_back({msg, wParam, lParam});
        handlerThread = std::this_thread::get_id();
        if (onMessage) {
            return onMessage(msg, wParam, lParam);
        }
        return MessageWindow::WindowProc(msg, wParam, lParam);
    }
};

// Runs the main thread's loop until quit, failing fast when it hangs.
int runLoop(QEventLoop& loop, int guardMs = 10000) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        ADD_FAILURE() << "loop guard fired";
        loop.exit(-1);
    });
    guard.start(guardMs);
    return loop.exec();
}

// Lets the main thread's loop handle what is queued now.
void flushLoop() {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] { loop.quit(); });
    runLoop(loop);
}

}  // namespace

TEST(MessageWindow, PostedMessagesArriveInOrderAndSendIsDirect) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    ASSERT_NE(window.hwnd(), 0u);
    EXPECT_TRUE(IsWindow(window.hwnd()));

    QEventLoop loop;
    window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
        if (msg == WM_USER + 99) {
            loop.quit();
        }
        return static_cast<LRESULT>(wParam) + 1;
    };
    for (WPARAM i = 0; i < 50; ++i) {
        ASSERT_TRUE(PostMessage(window.hwnd(), WM_USER, i, static_cast<LPARAM>(i) * 3));
    }
    ASSERT_TRUE(PostMessage(window.hwnd(), WM_USER + 99, 0, 0));
    // On the owner thread a send runs at once, ahead of what is posted.
    EXPECT_EQ(SendMessage(window.hwnd(), WM_APP, 41, 0), 42);
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_FALSE(InSendMessage());

    runLoop(loop);
    ASSERT_EQ(window.received.size(), 52u);
    for (WPARAM i = 0; i < 50; ++i) {
        EXPECT_EQ(window.received[i + 1].msg, WM_USER);
        EXPECT_EQ(window.received[i + 1].wParam, i);
        EXPECT_EQ(window.received[i + 1].lParam, static_cast<LPARAM>(i) * 3);
    }
}

TEST(MessageWindow, BadHandlesFail) {
    for (HWND bad : {HWND(0), HWND(1), HWND(0x7FFFFFF0), ~HWND(0)}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(IsWindow(bad));
        EXPECT_FALSE(PostMessage(bad, WM_USER, 0, 0));
        EXPECT_EQ(SendMessage(bad, WM_USER, 0, 0), 0);
        DWORD_PTR result = 7;
        EXPECT_EQ(SendMessageTimeout(bad, WM_USER, 0, 0, SMTO_NORMAL, 100, &result), 0);
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(SetTimer(bad, 1, 10), 0u);
        EXPECT_FALSE(KillTimer(bad, 1));
    }
    EXPECT_FALSE(ReplyMessage(1));  // not inside a sent message
}

TEST(MessageWindow, HandlesAreNotReused) {
    HWND first = 0;
    {
        TestWindow window;
        ASSERT_TRUE(window.create());
        first = window.hwnd();
    }
    EXPECT_FALSE(IsWindow(first));
    TestWindow next;
    ASSERT_TRUE(next.create());
    EXPECT_NE(next.hwnd(), first);
    EXPECT_FALSE(PostMessage(first, WM_USER, 0, 0));
}

TEST(MessageWindow, CrossThreadSendRunsOnOwnerAndCopiesData) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    std::string text;
    bool inSend = false;
    window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        inSend = InSendMessage();
        if (msg == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
            text.assign(static_cast<const char*>(cds->lpData), cds->cbData);
            return static_cast<LRESULT>(cds->dwData);
        }
        return static_cast<LRESULT>(wParam) * 2;
    };
    QEventLoop loop;
    std::atomic<LRESULT> doubled{0};
    DWORD_PTR copyResult = 0;
    LRESULT copyOk = 0;
    std::thread worker([&] {
        doubled = SendMessage(window.hwnd(), WM_USER + 1, 21, 0);
        char line[] = "a line\n";
        COPYDATASTRUCT cds{77, sizeof line, line};
        copyOk = SendMessageTimeout(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_BLOCK,
                                    kWaitForever, &copyResult);
        QMetaObject::invokeMethod(&loop, [&] { loop.quit(); });
    });
    runLoop(loop);
    worker.join();
    EXPECT_EQ(doubled.load(), 42);
    EXPECT_NE(copyOk, 0);
    EXPECT_EQ(copyResult, 77u);
    EXPECT_EQ(text, std::string("a line\n", sizeof "a line\n"));
    EXPECT_TRUE(inSend);
    EXPECT_EQ(window.handlerThread, std::this_thread::get_id());
}

TEST(MessageWindow, ThreadsSendingToEachOtherDoNotDeadlock) {
    TestWindow mainWindow;
    ASSERT_TRUE(mainWindow.create());
    mainWindow.onMessage = [](UINT, WPARAM wParam, LPARAM) -> LRESULT { return static_cast<LRESULT>(wParam) + 100; };

    std::atomic<HWND> workerHwnd{0};
    std::atomic<bool> ready{false};
    std::thread worker([&] {
        MessageLoop messageLoop;
        TestWindow window;
        window.create();
        // Asked by the main thread, it asks the main thread back before answering.
        window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
            if (msg == WM_USER) {
                return SendMessage(mainWindow.hwnd(), WM_USER, wParam, 0) + 1000;
            }
            return 0;
        };
        workerHwnd = window.hwnd();
        ready = true;
        EXPECT_EQ(messageLoop.run(), 5);
    });
    while (!ready) {
        std::this_thread::yield();
    }
    // The main thread runs no loop while it waits: only the send wait serves it.
    EXPECT_EQ(SendMessage(workerHwnd, WM_USER, 1, 0), 1101);
    EXPECT_TRUE(PostMessage(workerHwnd, WM_QUIT, 5, 0));
    worker.join();
    EXPECT_FALSE(IsWindow(workerHwnd));
}

TEST(MessageWindow, DestroyReleasesWaitingSenderAndDropsPosted) {
    auto window = std::make_unique<TestWindow>();
    ASSERT_TRUE(window->create());
    HWND hwnd = window->hwnd();

    // A posted message with a descriptor and one with data, never delivered.
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    ASSERT_TRUE(PostMessageFd(hwnd, WM_USER + 2, 0, pipeEnds[1]));
    char bytes[] = "dropped";
    COPYDATASTRUCT cds{1, sizeof bytes, bytes};
    ASSERT_TRUE(PostMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));

    std::atomic<bool> sent{false};
    LRESULT result = -1;
    std::thread sender([&] {
        result = SendMessage(hwnd, WM_USER + 3, 0, 0);
        sent = true;
    });
    // Wait until the send is queued for this (not pumping) thread.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (detail::queuedSentMessages() == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::yield();
    }
    ASSERT_EQ(detail::queuedSentMessages(), 1u);
    window->destroy();
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(window->received.size(), 1u);
    EXPECT_EQ(window->received[0].msg, WM_DESTROY);

    flushLoop();
    EXPECT_EQ(window->received.size(), 1u);
    window.reset();
    // The layer's copy of the pipe's write end is closed: reading meets the end.
    ::close(pipeEnds[1]);
    char c;
    EXPECT_EQ(::read(pipeEnds[0], &c, 1), 0);
    ::close(pipeEnds[0]);
}

TEST(MessageWindow, DescriptorIsOwnDuringCallAndClosedAfter) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    QEventLoop loop;
    std::vector<int> seen;
    window.onMessage = [&](UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        int fd = static_cast<int>(lParam);
        seen.push_back(fd);
        EXPECT_EQ(::write(fd, "x", 1), 1);
        if (msg == WM_USER + 1) {
            loop.quit();
        }
        return 5;
    };
    EXPECT_EQ(SendMessageFd(window.hwnd(), WM_USER, 0, pipeEnds[1]), 5);
    ASSERT_TRUE(PostMessageFd(window.hwnd(), WM_USER + 1, 0, pipeEnds[1]));
    runLoop(loop);
    ASSERT_EQ(seen.size(), 2u);
    for (int fd : seen) {
        EXPECT_NE(fd, pipeEnds[1]);  // the handler's own descriptor
    }
    ::close(pipeEnds[1]);
    char buffer[4];
    EXPECT_EQ(::read(pipeEnds[0], buffer, sizeof buffer), 2);
    EXPECT_EQ(::read(pipeEnds[0], buffer, sizeof buffer), 0);  // every copy closed
    ::close(pipeEnds[0]);
}

TEST(MessageWindow, SendTimesOutWhenOwnerDoesNotAnswer) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    std::string late;
    window.onMessage = [&](UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
            late.assign(static_cast<const char*>(cds->lpData), cds->cbData);
        }
        return 1;
    };
    LRESULT ok = 1;
    DWORD_PTR result = 9;
    std::thread sender([&] {
        std::string text = "still here";
        COPYDATASTRUCT cds{0, static_cast<DWORD>(text.size()), text.data()};
        ok = SendMessageTimeout(window.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 50,
                                &result);
        text.assign(text.size(), '#');  // the sender's memory changes after it gave up
    });
    sender.join();  // this thread runs no loop meanwhile
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(result, 0u);
    flushLoop();  // the late message is handled from its own copy
    EXPECT_EQ(late, "still here");
}

TEST(MessageWindow, ReplyMessageReleasesSenderEarly) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    std::atomic<bool> senderBack{false};
    LRESULT result = 0;
    QEventLoop loop;
    window.onMessage = [&](UINT, WPARAM, LPARAM) -> LRESULT {
        EXPECT_TRUE(ReplyMessage(42));
        EXPECT_FALSE(ReplyMessage(43));
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!senderBack && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
        EXPECT_TRUE(senderBack);  // released before this handler returned
        loop.quit();
        return 7;
    };
    std::thread sender([&] {
        result = SendMessage(window.hwnd(), WM_USER, 0, 0);
        senderBack = true;
    });
    runLoop(loop);
    sender.join();
    EXPECT_EQ(result, 42);
}

TEST(MessageWindow, TimersDeliverUntilKilled) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    QEventLoop loop;
    int ticks7 = 0;
    int ticks9 = 0;
    window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (msg != WM_TIMER) {
            return 0;
        }
        EXPECT_EQ(lParam, 0);
        if (wParam == 7 && ++ticks7 == 3) {
            EXPECT_TRUE(KillTimer(window.hwnd(), 7));
            EXPECT_FALSE(KillTimer(window.hwnd(), 7));
        }
        if (wParam == 9) {
            ++ticks9;
            // Timer 9 was started from another thread; stop when both are done.
            if (ticks7 >= 3 && ticks9 >= 2) {
                KillTimer(window.hwnd(), 9);
                loop.quit();
            }
        }
        return 0;
    };
    EXPECT_EQ(SetTimer(window.hwnd(), 7, 5), 7u);
    std::thread other([&] { EXPECT_EQ(SetTimer(window.hwnd(), 9, 20), 9u); });
    other.join();
    runLoop(loop);
    EXPECT_EQ(ticks7, 3);  // none after KillTimer
    EXPECT_EQ(SetTimer(window.hwnd(), 0, 10), 1u);  // id 0 is a valid timer
    EXPECT_TRUE(KillTimer(window.hwnd(), 0));
    window.destroy();
    EXPECT_EQ(SetTimer(window.hwnd(), 3, 10), 0u);
}

TEST(MessageWindow, CloseDestroysAndDestroyDeliversWmDestroy) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    HWND hwnd = window.hwnd();
    EXPECT_EQ(SendMessage(hwnd, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(window.hwnd(), 0u);
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0].msg, WM_CLOSE);
    EXPECT_EQ(window.received[1].msg, WM_DESTROY);
    window.destroy();  // twice is harmless
    EXPECT_EQ(window.received.size(), 2u);
}

TEST(MessageWindow, WorkerLoopEndsWithPostQuitMessage) {
    std::atomic<HWND> hwnd{0};
    std::atomic<bool> ready{false};
    int code = 0;
    std::vector<WPARAM> order;
    std::thread worker([&] {
        MessageLoop loop;
        TestWindow window;
        window.create();
        window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM) -> LRESULT {
            if (msg == WM_USER) {
                order.push_back(wParam);
                if (wParam == 3) {
                    PostQuitMessage(12);
                }
            }
            if (msg == WM_TIMER) {
                KillTimer(window.hwnd(), wParam);
                PostMessage(window.hwnd(), WM_USER, 3, 0);
            }
            return 0;
        };
        hwnd = window.hwnd();
        ready = true;
        code = loop.run();
    });
    while (!ready) {
        std::this_thread::yield();
    }
    PostMessage(hwnd, WM_USER, 1, 0);
    PostMessage(hwnd, WM_USER, 2, 0);
    SetTimer(hwnd, 4, 10);
    worker.join();
    EXPECT_EQ(code, 12);
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));
}

TEST(MessageWindow, QuitBeforeRunEndsItAtOnce) {
    MessageLoop loop;
    loop.quit(3);
    flushLoop();
    EXPECT_EQ(loop.run(), 3);
}

TEST(MessageWindow, OtherThreadsHammeringADyingWindowAreSafe) {
    auto window = std::make_unique<TestWindow>();
    ASSERT_TRUE(window->create());
    const HWND hwnd = window->hwnd();
    QEventLoop loop;
    std::atomic<int> handled{0};
    window->onMessage = [&](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_COPYDATA && ++handled == 200) {
            loop.quit();
        }
        return 1;
    };
    std::atomic<bool> stop{false};
    std::atomic<int> failedAfterDestroy{0};
    std::atomic<bool> destroyed{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            char text[] = "payload";
            COPYDATASTRUCT cds{static_cast<ULONG_PTR>(t), sizeof text, text};
            while (!stop) {
                bool wasDestroyed = destroyed;
                bool posted = PostMessage(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
                SetTimer(hwnd, 1, 1000);
                SendMessageTimeout(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 1, nullptr);
                if (wasDestroyed && !posted) {
                    ++failedAfterDestroy;
                }
            }
        });
    }
    runLoop(loop);
    window->destroy();
    destroyed = true;
    while (failedAfterDestroy < 40) {
        std::this_thread::yield();
    }
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    flushLoop();  // whatever was still queued for the dead window is dropped
    window.reset();
    EXPECT_FALSE(IsWindow(hwnd));
}

namespace {

// Counts its own destruction, so a test sees that nothing leaks or is freed twice.
struct Tracked {
    explicit Tracked(int value, std::atomic<int>& freed) : value(value), freed(freed) {}
    ~Tracked() { ++freed; }
    int value;
    std::atomic<int>& freed;
};

}  // namespace

TEST(MessageWindow, PostedDataIsTakenOnceAndFreedWhenNobodyTakesIt) {
    TestWindow window;
    ASSERT_TRUE(window.create());
    std::atomic<int> freed{0};
    std::vector<int> taken;
    int wrongTypeNulls = 0;
    QEventLoop loop;
    window.onMessage = [&](UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        switch (msg) {
        case WM_USER: {  // takes its block; a second take gets nothing
            auto value = TakePostedData<Tracked>(lParam);
            EXPECT_EQ(TakePostedData<Tracked>(lParam), nullptr);
            if (value != nullptr) taken.push_back(value->value);
            break;
        }
        case WM_USER + 1:  // asks for another type: gets nothing, the block is still freed
            if (TakePostedData<std::string>(lParam) == nullptr) ++wrongTypeNulls;
            break;
        case WM_USER + 2:  // a plain number is never taken for a block
            EXPECT_EQ(TakePostedData<Tracked>(lParam), nullptr);
            break;
        case WM_USER + 99:
            loop.quit();
            break;
        default:  // not handled: the block goes with the message
            break;
        }
        (void)wParam;
        return 0;
    };
    ASSERT_TRUE(PostMessageOwned(window.hwnd(), WM_USER, 0, std::make_unique<Tracked>(7, freed)));
    ASSERT_TRUE(PostMessageOwned(window.hwnd(), WM_USER + 1, 0, std::make_unique<Tracked>(8, freed)));
    ASSERT_TRUE(PostMessageOwned(window.hwnd(), WM_USER + 5, 0, std::make_unique<Tracked>(9, freed)));
    ASSERT_TRUE(PostMessage(window.hwnd(), WM_USER + 2, 0, 12345));
    // From another thread, as the link's reader threads post.
    std::thread poster([&] {
        EXPECT_TRUE(PostMessageOwned(window.hwnd(), WM_USER, 0, std::make_unique<Tracked>(10, freed)));
    });
    poster.join();
    ASSERT_TRUE(PostMessage(window.hwnd(), WM_USER + 99, 0, 0));
    runLoop(loop);

    EXPECT_EQ(taken, (std::vector<int>{7, 10}));
    EXPECT_EQ(wrongTypeNulls, 1);
    EXPECT_EQ(freed.load(), 4);
    // Outside a delivery nothing names a block.
    EXPECT_EQ(CurrentPostedData(window.received.back().lParam), nullptr);
}

TEST(MessageWindow, PostedDataOfADeadWindowIsFreed) {
    std::atomic<int> freed{0};
    {
        auto window = std::make_unique<TestWindow>();
        ASSERT_TRUE(window->create());
        const HWND hwnd = window->hwnd();
        ASSERT_TRUE(PostMessageOwned(hwnd, WM_USER, 0, std::make_unique<Tracked>(1, freed)));
        window.reset();  // destroyed before delivery
        flushLoop();
        EXPECT_EQ(freed.load(), 1);
        // A post to a window that is gone fails and frees the data at once.
        EXPECT_FALSE(PostMessageOwned(hwnd, WM_USER, 0, std::make_unique<Tracked>(2, freed)));
        EXPECT_EQ(freed.load(), 2);
    }
    EXPECT_FALSE(PostMessageOwned(HWND(0), WM_USER, 0, std::make_unique<Tracked>(3, freed)));
    EXPECT_EQ(freed.load(), 3);
    flushLoop();
    EXPECT_EQ(freed.load(), 3);
}

TEST(MessageWindow, PostedDataScopeLetsAHandlerBeCalledDirectly) {
    std::atomic<int> freed{0};
    PostedBlock<Tracked> block(std::make_unique<Tracked>(4, freed));
    {
        PostedDataScope scope(&block);
        {
            PostedDataScope inner(nullptr);  // a nested delivery without data hides the outer block
            EXPECT_EQ(TakePostedData<Tracked>(scope.lParam()), nullptr);
        }
        auto value = TakePostedData<Tracked>(scope.lParam());
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->value, 4);
    }
    EXPECT_EQ(freed.load(), 1);
}
