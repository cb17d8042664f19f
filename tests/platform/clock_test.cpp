#include <gtest/gtest.h>

#include "platform/Clock.h"

namespace {

TEST(FakeClockPort, SleepsAdvanceVirtualTimeOnly) {
    uafw::FakeClock fake(1000);
    uafw::ScopedClock use(fake);
    uafw::Clock().SleepMs(5000);
    EXPECT_EQ(uafw::Clock().NowMs(), 6000u);
    EXPECT_EQ(fake.SleptMs(), 5000u);
}

TEST(FakeClockPort, WaitUntilTimesOutInVirtualTime) {
    uafw::FakeClock fake;
    uafw::ScopedClock use(fake);
    int polls = 0;
    EXPECT_FALSE(uafw::Clock().WaitUntil(
        [&] {
            ++polls;
            return false;
        },
        100, 10));
    EXPECT_EQ(fake.NowMs(), 100u);
    EXPECT_EQ(polls, 11);
}

TEST(FakeClockPort, WaitUntilReturnsAsSoonAsReady) {
    uafw::FakeClock fake;
    uafw::ScopedClock use(fake);
    int polls = 0;
    EXPECT_TRUE(uafw::Clock().WaitUntil([&] { return ++polls == 3; }, 1000, 10));
    EXPECT_EQ(fake.NowMs(), 20u);
}

TEST(FakeClockPort, GuardRestoresThePreviousClock) {
    uafw::IClock* before = &uafw::Clock();
    {
        uafw::FakeClock fake;
        uafw::ScopedClock use(fake);
        EXPECT_EQ(&uafw::Clock(), &fake);
    }
    EXPECT_EQ(&uafw::Clock(), before);
}

}  // namespace
