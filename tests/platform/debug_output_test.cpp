#include "platform/DebugOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/NamedMutex.h"
#include "platform/fork_helper.h"

namespace {

using uafw::DebugOutputNames;
using uafw::DebugOutputReceiver;
using uafw::DebugRecord;
using uafw::SendDebugOutput;
using DataWait = uafw::DebugOutputReceiver::DataWait;
using OpenResult = uafw::DebugOutputReceiver::OpenResult;
using SteadyClock = std::chrono::steady_clock;

// Each test gets a private channel and removes its objects afterwards.
class DebugOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        m_names = DebugOutputNames::Scoped("uafwtest_dbg_" + std::to_string(getpid()) + "_" +
                                           std::to_string(++counter));
    }
    void TearDown() override { DebugOutputReceiver::RemoveObjects(m_names); }

    // Receives the next record within a second, offering the buffer first.
    static bool Receive(DebugOutputReceiver& receiver, DebugRecord& record) {
        receiver.SignalBufferReady();
        if (receiver.WaitDataReady(1000) != DataWait::kData)
            return false;
        record = receiver.ReadRecord();
        return true;
    }

    DebugOutputNames m_names;
};

TEST_F(DebugOutputTest, WithoutCaptureObjectsTheWriterReturnsAtOnce) {
    const auto start = SteadyClock::now();
    EXPECT_FALSE(SendDebugOutput("nobody listens\n", m_names));
    EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(DebugOutputTest, ObjectsLeftByAnEndedCaptureDoNotHoldTheWriterUp) {
    {
        DebugOutputReceiver receiver(m_names);
        ASSERT_EQ(receiver.Open(), OpenResult::kOk);
        receiver.SignalBufferReady();
    }
    const auto start = SteadyClock::now();
    EXPECT_FALSE(SendDebugOutput("nobody listens any more\n", m_names));
    EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(DebugOutputTest, RecordCarriesTheWritersProcessIdAndText) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    bool sent = false;
    std::thread writer([&] { sent = SendDebugOutput("hello\r\n\x01\xFF", m_names); });
    ASSERT_EQ(receiver.WaitDataReady(1000), DataWait::kData);
    const DebugRecord record = receiver.ReadRecord();
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(record.processId, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(record.text, "hello\r\n\x01\xFF");
}

TEST_F(DebugOutputTest, AForkedWritersRecordCarriesItsOwnProcessId) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    const pid_t child =
        uafw_test::ForkChild([&] { return SendDebugOutput("from the child", m_names) ? 0 : 1; });
    ASSERT_EQ(receiver.WaitDataReady(2000), DataWait::kData);
    const DebugRecord record = receiver.ReadRecord();
    EXPECT_EQ(uafw_test::WaitChild(child), 0);
    EXPECT_EQ(record.processId, static_cast<std::uint32_t>(child));
    EXPECT_EQ(record.text, "from the child");
}

TEST_F(DebugOutputTest, TextEndsAtItsFirstZeroByte) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    std::thread writer([&] { SendDebugOutput(std::string("shown\0hidden", 12), m_names); });
    ASSERT_EQ(receiver.WaitDataReady(1000), DataWait::kData);
    writer.join();
    EXPECT_EQ(receiver.ReadRecord().text, "shown");
}

TEST_F(DebugOutputTest, LongTextArrivesWholeInBufferSizedRecords) {
    std::string text;
    for (std::size_t i = 0; i < 2 * uafw::kDebugTextCapacity + 100; ++i)
        text += static_cast<char>('A' + i % 26);
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    bool sent = false;
    std::thread writer([&] { sent = SendDebugOutput(text, m_names); });
    std::string received;
    int records = 0;
    DebugRecord record;
    while (received.size() < text.size() && Receive(receiver, record)) {
        EXPECT_LE(record.text.size(), uafw::kDebugTextCapacity);
        received += record.text;
        ++records;
    }
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(records, 3);
    EXPECT_EQ(received, text);
}

TEST_F(DebugOutputTest, EmptyTextSendsOneEmptyRecord) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    std::thread writer([&] { SendDebugOutput("", m_names); });
    ASSERT_EQ(receiver.WaitDataReady(1000), DataWait::kData);
    writer.join();
    const DebugRecord record = receiver.ReadRecord();
    EXPECT_EQ(record.processId, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(record.text, "");
}

TEST_F(DebugOutputTest, OfferingTheBufferTwiceGivesOneWriterOneTurn) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    receiver.SignalBufferReady();
    EXPECT_TRUE(SendDebugOutput("first", m_names));
    const auto start = SteadyClock::now();
    EXPECT_FALSE(SendDebugOutput("second", m_names)) << "the unread record must not be replaced";
    EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(1)) << "the writer gives up soon";
    ASSERT_EQ(receiver.WaitDataReady(0), DataWait::kData);
    EXPECT_EQ(receiver.ReadRecord().text, "first");
}

TEST_F(DebugOutputTest, WriterGivesUpWhenAnotherWriterKeepsTheChannel) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    uafw::NamedMutex writerLock(m_names.writerLock);
    ASSERT_EQ(writerLock.Wait(0), uafw::MutexWait::kAcquired);
    bool sent = true;
    std::thread([&] {
        const auto start = SteadyClock::now();
        sent = SendDebugOutput("blocked", m_names);
        EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(1));
    }).join();
    writerLock.Release();
    EXPECT_FALSE(sent);
    EXPECT_EQ(receiver.WaitDataReady(0), DataWait::kTimedOut);
}

TEST_F(DebugOutputTest, WaitWithoutAWriterTimesOut) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    receiver.SignalBufferReady();
    const auto start = SteadyClock::now();
    EXPECT_EQ(receiver.WaitDataReady(30), DataWait::kTimedOut);
    EXPECT_GE(SteadyClock::now() - start, std::chrono::milliseconds(28));
}

TEST_F(DebugOutputTest, RecordWithoutTerminatorEndsAtTheBufferEnd) {
    DebugOutputReceiver receiver(m_names);
    ASSERT_EQ(receiver.Open(), OpenResult::kOk);
    // A foreign writer that fills the whole buffer without a terminator.
    const int fd = shm_open(m_names.buffer.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    void* view = mmap(nullptr, uafw::kDebugBufferSize, PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(view, MAP_FAILED);
    const std::uint32_t pid = 1234;
    std::memcpy(view, &pid, sizeof pid);
    std::memset(static_cast<char*>(view) + sizeof pid, 'x', uafw::kDebugBufferSize - sizeof pid);
    munmap(view, uafw::kDebugBufferSize);

    const DebugRecord record = receiver.ReadRecord();
    EXPECT_EQ(record.processId, 1234u);
    EXPECT_EQ(record.text, std::string(uafw::kDebugBufferSize - sizeof pid, 'x'));
}

TEST_F(DebugOutputTest, StaleRecordOfAnEndedCaptureIsNotDeliveredToTheNextOne) {
    {
        DebugOutputReceiver receiver(m_names);
        ASSERT_EQ(receiver.Open(), OpenResult::kOk);
        receiver.SignalBufferReady();
        ASSERT_TRUE(SendDebugOutput("never read", m_names));
    }
    DebugOutputReceiver next(m_names);
    ASSERT_EQ(next.Open(), OpenResult::kOk);
    EXPECT_EQ(next.WaitDataReady(20), DataWait::kTimedOut);
}

TEST_F(DebugOutputTest, OpenReportsTheFirstObjectThatCannotBeCreated) {
    // A slash inside a name is refused by the system.
    struct Case {
        int badObject;  // 0 buffer-ready semaphore, 1 data-ready semaphore, 2 buffer
        OpenResult expected;
    } cases[] = {
        {0, OpenResult::kBufferReadyFailed},
        {1, OpenResult::kDataReadyFailed},
        {2, OpenResult::kMappingFailed},
    };
    for (const Case& c : cases) {
        DebugOutputNames names = m_names;
        std::string* bad[] = {&names.bufferReady, &names.dataReady, &names.buffer};
        *bad[c.badObject] += "/bad";
        DebugOutputReceiver receiver(names);
        EXPECT_EQ(receiver.Open(), c.expected) << c.badObject;
        EXPECT_FALSE(receiver.IsOpen());
        EXPECT_EQ(receiver.WaitDataReady(0), DataWait::kFailed);
    }
}

}  // namespace
