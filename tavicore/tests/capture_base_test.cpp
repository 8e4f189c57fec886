#include "tavicore/capture_base.h"
#include "tavicore/testing/card_test_support.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

using cardtest::FakeCard;

TEST(CZoSync, TakesOnceUntilFreedAndCopiesShareTheLock) {
    CZoSync lock;
    EXPECT_EQ(lock.TryEnterCS(), 1);
    EXPECT_EQ(lock.TryEnterCS(), 0);
    CZoSync copy(lock);
    EXPECT_EQ(copy.TryEnterCS(), 0);
    // Any thread may free it.
    std::thread([&] { copy.ExitCS(); }).join();
    EXPECT_EQ(lock.TryEnterCS(), 1);
    lock.ExitCS();
}

TEST(CLumora, CaptureLocksAreIndependentPerAdapterAndInput) {
    FakeCard card;
    EXPECT_EQ(card.TryEnterCapCritical(0, 3), 1);
    EXPECT_EQ(card.TryEnterCapCritical(0, 3), 0);
    EXPECT_EQ(card.TryEnterCapCritical(0, 4), 1);
    card.ExitCapCritical(0, 3);
    EXPECT_EQ(card.TryEnterCapCritical(0, 3), 1);
    // Never waits, whatever the time-out.
    EXPECT_EQ(card.TryEnterCriticalWithTimeout(0, 0xFFFFFFFF, nullptr, 3), 0);
    EXPECT_EQ(card.TryEnterCriticalWithTimeout(5, 0xFFFFFFFF, nullptr, 9), 1);
    EXPECT_EQ(card.TryEnterCapCritical(5, 9), 0);
}

TEST(CLumora, RefusesIndexesThatWouldReachAnotherLock) {
    struct Case { WORD adapter; WORD input; };
    constexpr Case kOutside[] = {{0, 10}, {0, 13}, {1, 65535}, {6, 0}, {65535, 0}};
    FakeCard card;
    for (const auto& c : kOutside) {
        SCOPED_TRACE(testing::Message() << c.adapter << "," << c.input);
        EXPECT_EQ(card.TryEnterCapCritical(c.adapter, c.input), 0);
        card.ExitCapCritical(c.adapter, c.input);  // ignored, must not touch memory
    }
    // (0, 13) would be (1, 3) by index: that lock is still free.
    EXPECT_EQ(card.TryEnterCapCritical(1, 3), 1);
    card.ExitCapCritical(0, 13);
    EXPECT_EQ(card.TryEnterCapCritical(1, 3), 0);
    EXPECT_EQ(card.GetVFWHWND(6), 0u);
}

TEST(CLumora, GrabSizesByStandardAndSize) {
    struct Case { WORD standard, size; LONG cx, cy; };
    constexpr Case kCases[] = {
        {1, 0, 176, 144}, {0, 0, 176, 120}, {0, 1, 352, 240}, {1, 2, 720, 576},
        {2, 7, 720, 480}, {1, 1, 352, 288}, {0, 2, 720, 480},
    };
    FakeCard card;
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.standard << "," << c.size);
        SIZE s = card.GetGrabSize(c.standard, c.size);
        EXPECT_EQ(s.cx, c.cx);
        EXPECT_EQ(s.cy, c.cy);
    }
}

TEST(CLumora, BaseOperations) {
    FakeCard card;
    EXPECT_EQ(card.IsCardDetected(), 0);
    EXPECT_EQ(card.GetBufferLengthForGrab(), 0);
    EXPECT_EQ(card.EnableCall(0), 1);
    EXPECT_EQ(card.Clean(), 1);
    EXPECT_EQ(card.Stop(), 1);
    EXPECT_EQ(card.SetIQ_VideoInput(0, 7), 1);
}

TEST(CLumora, YieldZeroHandlesWaitingEventsOnce) {
    FakeCard card;
    int handled = 0;
    QTimer::singleShot(0, [&] { ++handled; });
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ++handled; }, Qt::QueuedConnection);
    card.YieldProcess(0);
    EXPECT_EQ(handled, 2);
}

TEST(CLumora, YieldDisabledReturnsWithoutHandling) {
    FakeCard card;
    int handled = 0;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ++handled; }, Qt::QueuedConnection);
    card.DisableYield();
    card.YieldProcess(60000);  // would keep the thread busy a minute if enabled
    EXPECT_EQ(handled, 0);
    card.EnableYield();
    // A handler that disables yield ends a long yield at once.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { card.DisableYield(); },
                              Qt::QueuedConnection);
    card.YieldProcess(60000);
    EXPECT_EQ(handled, 1);
}
