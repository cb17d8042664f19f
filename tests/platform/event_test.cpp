#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace {

using uafw::Event;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Starts `count` threads that each wait on `event` without time-out and count their wake-ups.
std::vector<std::thread> StartWaiters(Event& event, int count, std::atomic<int>& woken) {
    std::vector<std::thread> waiters;
    for (int i = 0; i < count; ++i)
        waiters.emplace_back([&] {
            if (event.Wait())
                ++woken;
        });
    return waiters;
}

void WaitForCount(const std::atomic<int>& value, int expected) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (value.load() < expected && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
}

TEST(EventManualReset, SetReleasesEveryWaiterAndStaysSetUntilReset) {
    Event event(Event::Mode::kManualReset);
    std::atomic<int> woken{0};
    auto waiters = StartWaiters(event, 3, woken);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(woken.load(), 0);
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_TRUE(event.Wait(0)) << "still set";
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventAutoReset, SetReleasesOneWaiterAndResetsItself) {
    Event event(Event::Mode::kAutoReset);
    std::atomic<int> woken{0};
    auto waiters = StartWaiters(event, 2, woken);
    std::this_thread::sleep_for(milliseconds(20));
    event.Set();
    WaitForCount(woken, 1);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(woken.load(), 1);
    EXPECT_FALSE(event.IsSet()) << "the released waiter took the signal";
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 2);
}

TEST(EventAutoReset, SignalsDoNotAccumulate) {
    Event event(Event::Mode::kAutoReset);
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventInitialState, ConstructedSignalledIsSet) {
    for (const auto mode : {Event::Mode::kManualReset, Event::Mode::kAutoReset}) {
        Event event(mode, true);
        EXPECT_TRUE(event.Wait(0));
        EXPECT_EQ(event.IsSet(), mode == Event::Mode::kManualReset);
    }
}

TEST(EventTimedWait, TimesOutAfterTheGivenRealTime) {
    Event event(Event::Mode::kManualReset);
    const auto start = Clock::now();
    EXPECT_FALSE(event.Wait(40));
    EXPECT_GE(Clock::now() - start, milliseconds(38));
}

TEST(EventTimedWait, SetFromAnotherThreadEndsTheWaitEarly) {
    for (const auto mode : {Event::Mode::kManualReset, Event::Mode::kAutoReset}) {
        Event event(mode);
        std::thread setter([&] {
            std::this_thread::sleep_for(milliseconds(20));
            event.Set();
        });
        const auto start = Clock::now();
        EXPECT_TRUE(event.Wait(10000));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        setter.join();
        EXPECT_EQ(event.IsSet(), mode == Event::Mode::kManualReset);
    }
}

TEST(EventTimedWait, TimeOutIsMeasuredByTheClockPort) {
    uafw::FakeClock fake;
    uafw::ScopedClock use(fake);
    Event event(Event::Mode::kAutoReset);
    const auto start = Clock::now();
    EXPECT_FALSE(event.Wait(5000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(fake.NowMs(), 5000u);
    event.Set();
    EXPECT_TRUE(event.Wait(5000));
    EXPECT_EQ(fake.NowMs(), 5000u) << "a signalled event does not wait";
    EXPECT_FALSE(event.IsSet());
}

}  // namespace
