#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/OperationLog.h"
#include "platform/ProgramPath.h"
#include "platform/TextCodec.h"

namespace {

namespace fs = std::filesystem;
using uafw::OperationLog;

constexpr std::uint64_t kTick = 123456;

std::string HexThreadId() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(::gettid()));
    return buf;
}

std::string Header(const std::string& name) {
    return "(" + HexThreadId() + "-" + std::to_string(kTick) + "):" + name + ":> ";
}

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Collects the composed lines under a fixed tick count; the log's state is reset around each test.
class OperationLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("uafw_log_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        OperationLog::Instance().Initialise(m_dir.string() + "/", false);
    }
    void TearDown() override {
        OperationLog::Instance().Shutdown();
        OperationLog::Instance().SetEnabledCategories(uafw::kLogAllCategories);
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    // Lines as UTF-8 (the tests write ASCII only unless they say so).
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(m_linesLock);
        return m_lines;
    }
    std::vector<std::u16string> RawLines() {
        std::lock_guard<std::mutex> guard(m_linesLock);
        return m_raw;
    }

    uafw::FakeClock m_clock{kTick};
    uafw::ScopedClock m_clockGuard{m_clock};
    std::mutex m_linesLock;
    std::vector<std::string> m_lines;
    std::vector<std::u16string> m_raw;
    uafw::ScopedLogObserver m_observer{[this](const std::u16string& line) {
        std::lock_guard<std::mutex> guard(m_linesLock);
        m_raw.push_back(line);
        m_lines.push_back(uafw::Utf16ToUtf8(line));
    }};
    fs::path m_dir;
};

TEST_F(OperationLogTest, LineHasThreadIdTickNameAndText) {
    LogScope scope("CDevFlow::DEV_OpenDevice", false, uafw::kLogDevice);
    scope.Line("open %d of %s", 5, "hub");
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], Header("CDevFlow::DEV_OpenDevice") + "open 5 of hub");
}

TEST_F(OperationLogTest, FinalLineFeedBecomesCrLf) {
    LogScope scope("CParseArg::LoadICTypeIni");
    scope.Line("Load File Data Fail!\n");
    scope.Line("two\nlines\n");
    scope.Line("inner\nonly");
    scope.Line("Fail --- Invalid parameter!\r\n");
    ASSERT_EQ(Lines().size(), 4u);
    EXPECT_EQ(Lines()[0], Header("CParseArg::LoadICTypeIni") + "Load File Data Fail!\r\n");
    // Only the final line feed is replaced.
    EXPECT_EQ(Lines()[1], Header("CParseArg::LoadICTypeIni") + "two\nlines\r\n");
    EXPECT_EQ(Lines()[2], Header("CParseArg::LoadICTypeIni") + "inner\nonly");
    // A text that ends in CR LF already keeps it; no second CR is added.
    EXPECT_EQ(Lines()[3], Header("CParseArg::LoadICTypeIni") + "Fail --- Invalid parameter!\r\n");
}

TEST_F(OperationLogTest, TickCountComesFromTheClockPort) {
    LogScope scope("A::B");
    scope.Line("x");
    m_clock.Advance(1500);
    scope.Line("y");
    ASSERT_EQ(Lines().size(), 2u);
    EXPECT_EQ(Lines()[1], "(" + HexThreadId() + "-" + std::to_string(kTick + 1500) + "):A::B:> y");
}

TEST_F(OperationLogTest, ThreadIdIsTheWritingThreadsKernelId) {
    std::string otherId;
    std::thread t([&] {
        otherId = HexThreadId();
        LogScope scope("Worker::Run");
        scope.Line("x");
    });
    t.join();
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(otherId, HexThreadId());
    EXPECT_EQ(Lines()[0], "(" + otherId + "-" + std::to_string(kTick) + "):Worker::Run:> x");
}

TEST_F(OperationLogTest, TextAndFailureHaveNoHeader) {
    LogScope scope("CParseArg::LoadICTypeIni");
    scope.Text("continued %d\n", 7);
    scope.Fail("Load File Data Fail!\n");
    scope.Fail("%s", "100%d done");
    ASSERT_EQ(Lines().size(), 3u);
    EXPECT_EQ(Lines()[0], "continued 7\r\n");
    EXPECT_EQ(Lines()[1], "----------------: Load File Data Fail!\r\n");
    // A '%' inside the formatted text is not formatted a second time.
    EXPECT_EQ(Lines()[2], "----------------: 100%d done");
}

struct CutCase {
    const char* what;
    int textLenFromFull;  // text length relative to the length that fills 511 characters
    bool endsInLineFeed;
    std::size_t expectedLength;
    const char* expectedEnd;
};

class OperationLogCutTest : public OperationLogTest,
                            public ::testing::WithParamInterface<CutCase> {};

TEST_P(OperationLogCutTest, LineStaysInsideTheBuffer) {
    const CutCase& c = GetParam();
    const std::string name = "CMpFlow_OTP::MP_OTPWrite";
    const int full = 511 - static_cast<int>(Header(name).size());
    const int len = full + c.textLenFromFull;
    std::string text(static_cast<std::size_t>(len - (c.endsInLineFeed ? 1 : 0)), 'a');
    if (c.endsInLineFeed)
        text += '\n';
    LogScope scope(name.c_str(), false, uafw::kLogOtp);
    scope.Line("%s", text.c_str());
    ASSERT_EQ(Lines().size(), 1u);
    const std::string line = Lines()[0];
    EXPECT_EQ(line.size(), c.expectedLength);
    EXPECT_EQ(line.rfind(Header(name), 0), 0u);
    const std::string end = c.expectedEnd;
    ASSERT_GE(line.size(), end.size());
    EXPECT_EQ(line.substr(line.size() - end.size()), end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OperationLogCutTest,
    ::testing::Values(CutCase{"much longer text is cut", 600, false, 511, "aaa"},
                      CutCase{"exactly full", 0, false, 511, "aaa"},
                      CutCase{"line feed with room for CR LF", -1, true, 511, "a\r\n"},
                      CutCase{"line feed in the last place stays LF", 0, true, 511, "a\n"},
                      CutCase{"line feed cut away", 5, true, 511, "aaa"}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST_F(OperationLogTest, CutNeverSplitsASurrogatePair) {
    const std::string name = "A::B";
    const std::size_t full = 511 - Header(name).size();
    // The emoji needs two UTF-16 characters but only one place is left.
    std::string text(full - 1, 'a');
    text += "\xF0\x9F\x98\x80";
    LogScope scope(name.c_str());
    scope.Line("%s", text.c_str());
    ASSERT_EQ(RawLines().size(), 1u);
    EXPECT_EQ(RawLines()[0].size(), 510u);
    EXPECT_EQ(RawLines()[0].back(), u'a');
}

TEST_F(OperationLogTest, LongScopeNameIsCutToo) {
    const std::string name(700, 'N');
    LogScope scope(name.c_str());
    scope.Line("text");
    ASSERT_EQ(RawLines().size(), 1u);
    EXPECT_EQ(RawLines()[0].size(), 511u);
}

TEST_F(OperationLogTest, OnlyEnabledCategoriesAreWritten) {
    EXPECT_EQ(OperationLog::Instance().EnabledCategories(), 7u);
    OperationLog::Instance().SetEnabledCategories(uafw::kLogDevice);
    LogScope shell("CParseArg::Parse_Arg", false, uafw::kLogShell);
    LogScope device("CDevFlow::DEV_CloseDevice", false, uafw::kLogDevice);
    {
        LogScope otp("CMpFlow_OTP::MP_OTPWrite", true, uafw::kLogOtp);
        otp.Line("hidden");
        otp.Fail("hidden");
    }
    shell.Line("hidden");
    shell.Text("hidden");
    shell.Fail("hidden");
    device.Line("shown");
    device.Fail("shown");
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header("CDevFlow::DEV_CloseDevice") + "shown",
                                                 "----------------: shown"}));
}

TEST_F(OperationLogTest, InitialiseEnablesAllCategories) {
    OperationLog::Instance().SetEnabledCategories(0);
    OperationLog::Instance().Initialise(m_dir.string() + "/", false);
    EXPECT_EQ(OperationLog::Instance().EnabledCategories(), uafw::kLogAllCategories);
}

// A traced step with several ways out.
int TracedStep(int path) {
    LogScope scope("CMpFlow_OTP::MP_OTPWrite", true, uafw::kLogOtp);
    if (path == 0)
        return 10;
    scope.Line("working\n");
    if (path == 1)
        return 11;
    for (int i = 0; i < 3; ++i) {
        if (i == path - 2)
            return 20 + i;
    }
    return 99;
}

TEST_F(OperationLogTest, ExitTraceClosesEveryReturnPath) {
    const std::string h = Header("CMpFlow_OTP::MP_OTPWrite");
    for (int path = 0; path < 6; ++path) {
        SCOPED_TRACE(path);
        {
            std::lock_guard<std::mutex> guard(m_linesLock);
            m_lines.clear();
        }
        TracedStep(path);
        const auto lines = Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.front(), h + "START --->>>\r\n");
        EXPECT_EQ(lines.back(), h + "EXIT <<<---\r\n");
        EXPECT_EQ(lines.size(), path == 0 ? 2u : 3u);
    }
}

TEST_F(OperationLogTest, ScopeWithoutExitTraceWritesNothingByItself) {
    { LogScope scope("CParseArg::Parse_Arg"); }
    EXPECT_TRUE(Lines().empty());
}

TEST_F(OperationLogTest, InitialiseMakesAReadOnlyLogWritableAndDoesNotOpenIt) {
    const fs::path log = m_dir / "Log.txt";
    { std::ofstream(log) << "old"; }
    fs::permissions(log, fs::perms::owner_read | fs::perms::group_read);
    OperationLog::Instance().Initialise(m_dir.string() + "/", false);
    EXPECT_EQ(OperationLog::Instance().FilePath(), log.string());
    const auto perms = fs::status(log).permissions();
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(perms & fs::perms::group_read, fs::perms::none);
    EXPECT_FALSE(OperationLog::Instance().FileOutput());
    LogScope("A::B").Line("dropped\n");
    EXPECT_EQ(ReadBytes(log), "old");
}

TEST_F(OperationLogTest, FileOutputWritesUtf16WithoutByteOrderMark) {
    OperationLog::Instance().Initialise(m_dir.string() + "/", true);
    ASSERT_TRUE(OperationLog::Instance().FileOutput());
    LogScope scope("A::B");
    scope.Line("M\xC3\xBCller\n");
    scope.Fail("x");
    OperationLog::Instance().Shutdown();
    EXPECT_FALSE(OperationLog::Instance().FileOutput());
    scope.Line("after shut-down");

    std::string expected;
    for (const char16_t c :
         uafw::Utf8ToUtf16(Header("A::B") + "M\xC3\xBCller\r\n" + "----------------: x")) {
        expected.push_back(static_cast<char>(c & 0xFF));
        expected.push_back(static_cast<char>(c >> 8));
    }
    const std::string bytes = ReadBytes(m_dir / "Log.txt");
    EXPECT_EQ(bytes, expected);
    // "ü" is one UTF-16 character, 0x00FC.
    EXPECT_NE(bytes.find(std::string("\xFC\x00", 2)), std::string::npos);
}

TEST_F(OperationLogTest, EnvironmentSwitchTurnsTheFileOn) {
    const std::string programLog = uafw::ProgramDirectory() + "Log.txt";
    const bool existed = fs::exists(programLog);
    ::unsetenv("UAFW_LOG");
    OperationLog::Instance().Initialise();
    EXPECT_FALSE(OperationLog::Instance().FileOutput());
    EXPECT_EQ(OperationLog::Instance().FilePath(), programLog);
    ::setenv("UAFW_LOG", "0", 1);
    OperationLog::Instance().Initialise();
    EXPECT_FALSE(OperationLog::Instance().FileOutput());
    ::setenv("UAFW_LOG", "1", 1);
    OperationLog::Instance().Initialise();
    EXPECT_TRUE(OperationLog::Instance().FileOutput());
    OperationLog::Instance().Shutdown();
    ::unsetenv("UAFW_LOG");
    if (!existed)
        fs::remove(programLog);
}

}  // namespace
