#include "platform/NamedMutex.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Wait.h"
#include "platform/fork_helper.h"

namespace {

using uafw::MutexWait;
using uafw::NamedMutex;
using uafw_test::ForkChild;
using uafw_test::ProcessSignal;
using uafw_test::WaitChild;

// Each test gets a lock name of its own and removes the lock afterwards.
class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        m_name = "uafwtest_mutex_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    }
    void TearDown() override { NamedMutex::Remove(m_name); }

    // What another thread of this process gets when it waits `ms` for the lock.
    MutexWait WaitFromOtherThread(std::uint32_t ms) {
        MutexWait result = MutexWait::kFailed;
        std::thread other([&] {
            NamedMutex lock(m_name);
            result = lock.Wait(ms);
            if (result == MutexWait::kAcquired || result == MutexWait::kAbandoned)
                lock.Release();
        });
        other.join();
        return result;
    }

    // What another process gets when it waits `ms` for the lock (-1 when it failed to run).
    int WaitFromOtherProcess(std::uint32_t ms) {
        const pid_t child = ForkChild([&] {
            NamedMutex lock(m_name);
            const MutexWait result = lock.Wait(ms);
            return static_cast<int>(result);
        });
        return WaitChild(child);
    }

    std::string m_name;
};

TEST(NamedMutexNames, SharedMemoryNameKeepsOnlyPortableCharacters) {
    struct Case {
        const char* name;
        const char* shm;
    } cases[] = {
        {"ICOperateSync_2014_3_28", "/uafw_mutex_ICOperateSync_2014_3_28"},
        {"RefCountMutex_2021_07_08", "/uafw_mutex_RefCountMutex_2021_07_08"},
        {"Global\\Sync Lock", "/uafw_mutex_Global_Sync_Lock"},
        {"a/b:c*d", "/uafw_mutex_a_b_c_d"},
        {"v1.2-x", "/uafw_mutex_v1.2-x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NamedMutex::SharedMemoryName(c.name), c.shm) << c.name;
}

TEST(NamedMutexNames, OverlongNamesStayDistinctAndFitTheSystemLimit) {
    const std::string base(400, 'x');
    const std::string a = NamedMutex::SharedMemoryName(base + "a");
    const std::string b = NamedMutex::SharedMemoryName(base + "b");
    EXPECT_NE(a, b);
    EXPECT_LT(a.size(), 255u);
    EXPECT_EQ(a.find('/', 1), std::string::npos);
}

TEST_F(NamedMutexTest, IsRecursiveForTheOwningThread) {
    NamedMutex lock(m_name);
    ASSERT_TRUE(lock.IsOpen());
    ASSERT_EQ(lock.Wait(0), MutexWait::kAcquired);
    ASSERT_EQ(lock.Wait(0), MutexWait::kAcquired);
    EXPECT_EQ(WaitFromOtherThread(20), MutexWait::kTimedOut);
    ASSERT_TRUE(lock.Release());
    EXPECT_EQ(WaitFromOtherThread(20), MutexWait::kTimedOut) << "one hold is still open";
    ASSERT_TRUE(lock.Release());
    EXPECT_EQ(WaitFromOtherThread(20), MutexWait::kAcquired);
    EXPECT_FALSE(lock.Release()) << "releasing a lock the thread does not own";
}

TEST_F(NamedMutexTest, ObjectsOfTheSameNameShareOneLockAndOtherNamesDoNot) {
    NamedMutex first(m_name);
    ASSERT_EQ(first.Wait(0), MutexWait::kAcquired);
    EXPECT_EQ(WaitFromOtherThread(20), MutexWait::kTimedOut);

    const std::string otherName = m_name + "_other";
    MutexWait other = MutexWait::kFailed;
    std::thread([&] {
        NamedMutex lock(otherName);
        other = lock.Wait(0);
        lock.Release();
    }).join();
    NamedMutex::Remove(otherName);
    EXPECT_EQ(other, MutexWait::kAcquired);
    first.Release();
}

TEST_F(NamedMutexTest, AnotherProcessHoldingTheLockMakesTheWaitTimeOut) {
    ProcessSignal locked, finish;
    const pid_t child = ForkChild([&] {
        NamedMutex lock(m_name);
        if (lock.Wait(1000) != MutexWait::kAcquired)
            return 1;
        locked.Notify();
        finish.Wait(5000);
        lock.Release();
        return 0;
    });
    ASSERT_TRUE(locked.Wait(5000));

    NamedMutex lock(m_name);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lock.Wait(60), MutexWait::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));

    finish.Notify();
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(lock.Wait(1000), MutexWait::kAcquired) << "the child released it";
    lock.Release();
}

TEST_F(NamedMutexTest, TimeOutIsMeasuredByTheClockPort) {
    ProcessSignal locked, finish;
    const pid_t child = ForkChild([&] {
        NamedMutex lock(m_name);
        if (lock.Wait(1000) != MutexWait::kAcquired)
            return 1;
        locked.Notify();
        finish.Wait(5000);
        return 0;
    });
    ASSERT_TRUE(locked.Wait(5000));
    {
        uafw::FakeClock fake;
        uafw::ScopedClock use(fake);
        NamedMutex lock(m_name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(lock.Wait(10000), MutexWait::kTimedOut);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_GE(fake.NowMs(), 10000u);
    }
    finish.Notify();
    EXPECT_EQ(WaitChild(child), 0);
}

TEST_F(NamedMutexTest, OwnerProcessDyingHoldingItAbandonsTheLockToTheNextWaiter) {
    const pid_t child = ForkChild([&] {
        // Never closed: the process ends while it holds the lock.
        auto* lock = new NamedMutex(m_name);
        return lock->Wait(1000) == MutexWait::kAcquired ? 0 : 1;
    });
    ASSERT_EQ(WaitChild(child), 0);

    NamedMutex lock(m_name);
    ASSERT_EQ(lock.Wait(1000), MutexWait::kAbandoned);
    EXPECT_EQ(WaitFromOtherProcess(30), static_cast<int>(MutexWait::kTimedOut))
        << "the abandoned wait made this process the owner";
    ASSERT_TRUE(lock.Release());
    EXPECT_EQ(lock.Wait(1000), MutexWait::kAcquired) << "the lock is consistent again";
    ASSERT_TRUE(lock.Release());
    EXPECT_EQ(WaitFromOtherProcess(30), static_cast<int>(MutexWait::kAcquired));
}

TEST_F(NamedMutexTest, OwnerDyingDuringTheWaitEndsItAsAbandoned) {
    ProcessSignal locked;
    const pid_t child = ForkChild([&] {
        auto* lock = new NamedMutex(m_name);  // never closed
        if (lock->Wait(1000) != MutexWait::kAcquired)
            return 1;
        locked.Notify();
        usleep(50 * 1000);
        return 0;  // ends holding it while the parent waits
    });
    ASSERT_TRUE(locked.Wait(5000));
    NamedMutex lock(m_name);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lock.Wait(5000), MutexWait::kAbandoned);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_TRUE(lock.Release());
}

TEST_F(NamedMutexTest, OwnerThreadEndingHoldingItAbandonsTheLock) {
    NamedMutex holder(m_name);
    std::thread([&] { ASSERT_EQ(holder.Wait(0), MutexWait::kAcquired); }).join();
    NamedMutex lock(m_name);
    EXPECT_EQ(lock.Wait(100), MutexWait::kAbandoned);
    EXPECT_TRUE(lock.Release());
}

TEST_F(NamedMutexTest, ClosingTheObjectGivesUpTheHoldsOfItsThread) {
    {
        NamedMutex lock(m_name);
        ASSERT_EQ(lock.Wait(0), MutexWait::kAcquired);
        ASSERT_EQ(lock.Wait(0), MutexWait::kAcquired);
    }
    EXPECT_EQ(WaitFromOtherThread(20), MutexWait::kAcquired);
}

TEST_F(NamedMutexTest, ProcessesCreatingTheLockAtOnceAllShareOneWorkingLock) {
    constexpr int kProcesses = 4;
    constexpr int kRounds = 300;
    // A counter incremented without atomics: only mutual exclusion keeps every increment.
    auto* counter = static_cast<volatile int*>(
        mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(counter, MAP_FAILED);
    *counter = 0;
    ProcessSignal go;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(ForkChild([&] {
            go.Wait(5000);
            NamedMutex lock(m_name);  // every child creates or opens it at the same moment
            for (int round = 0; round < kRounds; ++round) {
                if (lock.Wait(5000) != MutexWait::kAcquired)
                    return 1;
                const int value = *counter;
                sched_yield();
                *counter = value + 1;
                lock.Release();
            }
            return 0;
        }));
    }
    go.Notify();
    for (const pid_t child : children)
        EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(*counter, kProcesses * kRounds);
    munmap(const_cast<int*>(counter), sizeof(int));
}

TEST_F(NamedMutexTest, LockThatCannotBeOpenedFailsEveryWait) {
    // A directory where the lock's shared-memory object belongs cannot be opened as one.
    const std::string path = "/dev/shm" + NamedMutex::SharedMemoryName(m_name);
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    {
        NamedMutex lock(m_name);
        EXPECT_FALSE(lock.IsOpen());
        EXPECT_EQ(lock.Wait(10), MutexWait::kFailed);
        EXPECT_FALSE(lock.Release());
    }
    rmdir(path.c_str());
}

}  // namespace
