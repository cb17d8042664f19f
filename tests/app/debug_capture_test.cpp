#include "app/DebugCapture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/NamedMutex.h"
#include "platform/fork_helper.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using uafw::DebugOutputNames;
using uafw::SendDebugOutput;
using uafw_test::ForkChild;
using uafw_test::WaitChild;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each test captures from a private channel into a temporary directory of its own.
class DebugCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/uafw_debugcapture_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        static int counter = 0;
        m_names = DebugOutputNames::Scoped("uafwtest_cap_" + std::to_string(getpid()) + "_" +
                                           std::to_string(++counter));
    }
    void TearDown() override {
        uafw::DebugOutputReceiver::RemoveObjects(m_names);
        std::filesystem::remove_all(m_dir);
    }

    std::string LogFile() const { return m_dir + "/DebugLog.txt"; }

    std::string m_dir;
    DebugOutputNames m_names;
};

TEST_F(DebugCaptureTest, OwnTextsAreWrittenByteForByteInArrivalOrder) {
    std::string allBytes;
    for (int b = 1; b < 256; ++b)
        allBytes += static_cast<char>(b);
    std::string longText;
    for (std::size_t i = 0; i < 3 * uafw::kDebugBufferSize; ++i)
        longText += static_cast<char>('a' + i % 26);
    const std::vector<std::string> texts = {"first line\n", "no line end", "\r\n", allBytes, "",
                                            longText,       "last\n"};

    DebugCapture capture(m_dir, m_names);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    std::string expected;
    for (const std::string& text : texts) {
        EXPECT_TRUE(SendDebugOutput(text, m_names)) << text.substr(0, 20);
        expected += text;
    }
    EXPECT_TRUE(capture.Stop());
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(ReadFile(LogFile()), expected);
    EXPECT_EQ(printed, "Tracing PID: " + std::to_string(getpid()) + "\n");
    EXPECT_EQ(capture.ThreadResult(), 0);
    EXPECT_TRUE(capture.StoppedThroughDone());
    EXPECT_FALSE(capture.IsDone()) << "stopping resets the done event";
}

TEST_F(DebugCaptureTest, TextsOfAnotherProcessAreLeftOut) {
    DebugCapture capture(m_dir, m_names);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    ASSERT_TRUE(SendDebugOutput("mine before\n", m_names));
    // The child's text reaches the capture (its send succeeds) but is not ours.
    const pid_t child = ForkChild([&] { return SendDebugOutput("child text\n", m_names) ? 0 : 1; });
    EXPECT_EQ(WaitChild(child), 0);
    ASSERT_TRUE(SendDebugOutput("mine after\n", m_names));
    ASSERT_TRUE(capture.Stop());
    EXPECT_EQ(ReadFile(LogFile()), "mine before\nmine after\n");
}

TEST_F(DebugCaptureTest, TextsOfConcurrentWritersAreNeitherLostNorMixed) {
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    DebugCapture capture(m_dir, m_names);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                if (!SendDebugOutput(
                        "writer " + std::to_string(t) + " line " + std::to_string(i) + "\n",
                        m_names))
                    ++failed;
        });
    for (auto& w : writers)
        w.join();
    ASSERT_TRUE(capture.Stop());
    EXPECT_EQ(failed.load(), 0);

    std::set<std::string> lines;
    std::string content = ReadFile(LogFile());
    std::size_t start = 0;
    for (std::size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.insert(content.substr(start, nl - start));
    EXPECT_EQ(start, content.size()) << "nothing after the last line end";
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(lines.count("writer " + std::to_string(t) + " line " + std::to_string(i)),
                      1u);
}

TEST_F(DebugCaptureTest, StopReturnsPromptlyWhetherOrNotTextsArrived) {
    for (const bool withText : {false, true}) {
        DebugCapture capture(m_dir, m_names);
        ASSERT_TRUE(capture.Start());
        ASSERT_TRUE(capture.WaitUntilTracing(2000));
        if (withText) {
            ASSERT_TRUE(SendDebugOutput("some text\n", m_names));
        }
        const auto start = SteadyClock::now();
        EXPECT_TRUE(capture.Stop());
        EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(500)) << withText;
        EXPECT_EQ(capture.ThreadResult(), 0);
        EXPECT_TRUE(capture.StoppedThroughDone());
    }
}

TEST_F(DebugCaptureTest, StopReturnsPromptlyWhenNoTextCanReachTheCapture) {
    DebugCapture capture(m_dir, m_names);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    // Another writer keeps the channel, so the stop's own wake-up record cannot get through.
    uafw::NamedMutex writerLock(m_names.writerLock);
    ASSERT_EQ(writerLock.Wait(0), uafw::MutexWait::kAcquired);
    const auto start = SteadyClock::now();
    EXPECT_TRUE(capture.Stop());
    EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(capture.StoppedThroughDone());
    writerLock.Release();
}

TEST_F(DebugCaptureTest, SecondStartReplacesTheFile) {
    DebugCapture capture(m_dir, m_names);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    ASSERT_TRUE(SendDebugOutput("first run, a long text\n", m_names));
    ASSERT_TRUE(capture.Stop());
    ASSERT_EQ(ReadFile(LogFile()), "first run, a long text\n");

    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    ASSERT_TRUE(SendDebugOutput("second\n", m_names));
    ASSERT_TRUE(capture.Stop());
    EXPECT_EQ(ReadFile(LogFile()), "second\n");
}

TEST_F(DebugCaptureTest, StartingARunningCaptureBeginsANewFile) {
    DebugCapture capture(m_dir, m_names);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    ASSERT_TRUE(SendDebugOutput("old\n", m_names));
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    ASSERT_TRUE(SendDebugOutput("new\n", m_names));
    ASSERT_TRUE(capture.Stop());
    EXPECT_EQ(ReadFile(LogFile()), "new\n");
}

TEST_F(DebugCaptureTest, FailedChannelSetUpPrintsItsMessageAndStopStillReturns) {
    struct Case {
        int badObject;  // 0 buffer-ready semaphore, 1 data-ready semaphore, 2 buffer
        const char* printed;
    } cases[] = {
        {0, "ERROR: CreateEvent DBWIN_BUFFER_READY\\n"},
        {1, "ERROR: CreateEvent DBWIN_DATA_READY\\n"},
        {2, "ERROR: CreateFileMapping DBWIN_BUFFER\\n"},
    };
    for (const Case& c : cases) {
        DebugOutputNames names = m_names;
        std::string* bad[] = {&names.bufferReady, &names.dataReady, &names.buffer};
        *bad[c.badObject] += "/bad";  // a slash inside a name is refused by the system
        DebugCapture capture(m_dir, names);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(capture.Start());
        const auto start = SteadyClock::now();
        EXPECT_TRUE(capture.Stop());
        EXPECT_LT(SteadyClock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(capture.ThreadResult(), 1);
        EXPECT_FALSE(capture.StoppedThroughDone()) << "set-up failures do not report done";
    }
}

TEST_F(DebugCaptureTest, CaptureFileThatCannotBeCreatedEndsTheThreadQuietly) {
    DebugCapture capture(m_dir + "/missing/dir", m_names);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(capture.Start());
    EXPECT_TRUE(capture.Stop());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(capture.ThreadResult(), 0);
    EXPECT_FALSE(capture.StoppedThroughDone());
    EXPECT_FALSE(SendDebugOutput("nobody listens\n", m_names)) << "no channel was created";
}

TEST_F(DebugCaptureTest, DefaultChannelIsTheSystemOneThatOutputDebugStringUses) {
    DebugCapture capture(m_dir);
    EXPECT_EQ(capture.LogPath(), m_dir + "/DebugLog.txt");
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(capture.WaitUntilTracing(2000));
    uafw::OutputDebugString("through the system channel\n");
    ASSERT_TRUE(capture.Stop());
    EXPECT_EQ(ReadFile(LogFile()), "through the system channel\n");
}

TEST(DebugCaptureDefaults, WritesIntoTheProgramDirectory) {
    DebugCapture capture;
    EXPECT_EQ(capture.LogPath(), uafw::ProgramDirectory() + "DebugLog.txt");
}

}  // namespace
