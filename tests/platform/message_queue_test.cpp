#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace {

using uafw::MessageQueue;
using uafw::ThreadMessage;
using GetResult = uafw::MessageQueue::GetResult;

TEST(MessageQueueOrder, DeliversOneAtATimeInArrivalOrderWithTheirParameters) {
    MessageQueue queue;
    const std::uintptr_t bigW = std::numeric_limits<std::uintptr_t>::max();
    const std::intptr_t negativeL = std::numeric_limits<std::intptr_t>::min();
    ASSERT_TRUE(queue.Post(0x431, 1, 2));
    ASSERT_TRUE(queue.Post(0x43C, bigW, negativeL));
    ASSERT_TRUE(queue.Post(0x441));
    EXPECT_EQ(queue.Pending(), 3u);

    ThreadMessage m;
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.message, 0x431u);
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_EQ(m.lParam, 2);
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.message, 0x43Cu);
    EXPECT_EQ(m.wParam, bigW);
    EXPECT_EQ(m.lParam, negativeL);
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.message, 0x441u);
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 0);
    EXPECT_EQ(queue.Pending(), 0u);
}

TEST(MessageQueueOrder, ManyPostersLoseNothingAndKeepEachPostersOrder) {
    constexpr int kPosters = 4;
    constexpr int kEach = 2000;
    MessageQueue queue;
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([&queue, p] {
            for (int i = 0; i < kEach; ++i)
                queue.Post(0x400 + p, static_cast<std::uintptr_t>(i), p);
        });
    std::vector<int> next(kPosters, 0);
    int taken = 0;
    ThreadMessage m;
    while (taken < kPosters * kEach && queue.Get(m, 5000) == GetResult::kMessage) {
        const int p = static_cast<int>(m.lParam);
        ASSERT_GE(p, 0);
        ASSERT_LT(p, kPosters);
        ASSERT_EQ(m.message, static_cast<std::uint32_t>(0x400 + p));
        ASSERT_EQ(m.wParam, static_cast<std::uintptr_t>(next[p])) << "poster " << p;
        ++next[p];
        ++taken;
    }
    for (auto& t : posters)
        t.join();
    EXPECT_EQ(taken, kPosters * kEach);
}

TEST(MessageQueueQuit, MessagesBeforeTheQuitAreDeliveredThenGetReportsTheEnd) {
    MessageQueue queue;
    queue.Post(0x431);
    queue.Post(0x43D, 7);
    queue.PostQuit(3);
    EXPECT_FALSE(queue.Post(0x441)) << "nobody takes a message after the quit";

    ThreadMessage m;
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.message, 0x431u);
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.message, 0x43Du);
    EXPECT_FALSE(queue.Get(m));
    EXPECT_EQ(m.message, MessageQueue::kQuit);
    EXPECT_FALSE(queue.Get(m)) << "the end stays";
    EXPECT_EQ(queue.Get(m, 10), GetResult::kQuit);
    EXPECT_EQ(queue.ExitCode(), 3);
}

TEST(MessageQueueQuit, PostingTheQuitMessageIsAQuit) {
    MessageQueue queue;
    ASSERT_TRUE(queue.Post(MessageQueue::kQuit, 5));
    queue.PostQuit(9);  // a second quit changes nothing
    ThreadMessage m;
    EXPECT_FALSE(queue.Get(m));
    EXPECT_EQ(queue.ExitCode(), 5);
}

TEST(MessageQueueWait, BlockingGetWakesForAMessageFromAnotherThread) {
    MessageQueue queue;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.Post(0x431, 42);
    });
    ThreadMessage m;
    ASSERT_TRUE(queue.Get(m));
    EXPECT_EQ(m.wParam, 42u);
    poster.join();

    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.PostQuit();
    });
    EXPECT_FALSE(queue.Get(m));
    quitter.join();
}

TEST(MessageQueueWait, TimedGetOnAnEmptyQueueTimesOut) {
    MessageQueue queue;
    ThreadMessage m;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(queue.Get(m, 30), GetResult::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(28));
    EXPECT_EQ(queue.Get(m, 0), GetResult::kTimedOut);
    queue.Post(0x417);
    EXPECT_EQ(queue.Get(m, 0), GetResult::kMessage);
    EXPECT_EQ(m.message, 0x417u);
}

TEST(MessageQueueWait, TimedGetIsMeasuredByTheClockPort) {
    uafw::FakeClock fake;
    uafw::ScopedClock use(fake);
    MessageQueue queue;
    ThreadMessage m;
    EXPECT_EQ(queue.Get(m, 8000), GetResult::kTimedOut);
    EXPECT_EQ(fake.NowMs(), 8000u);
    queue.Post(0x413, 100);
    EXPECT_EQ(queue.Get(m, 8000), GetResult::kMessage);
    EXPECT_EQ(m.wParam, 100u);
    EXPECT_EQ(fake.NowMs(), 8000u);
}

}  // namespace
