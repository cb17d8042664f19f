// The command line without a device: parsing, run modes, Result.txt and the exit status.
#include "e2e/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using uafw_e2e::ReadBytes;
using uafw_e2e::RunResult;
using uafw_e2e::WriteBytes;

using CommandLine = uafw_e2e::ToolRun;

TEST_F(CommandLine, WithoutDashFWritesFailAndExitsZero) {
    WriteBytes(ResultTxt(), "pass and more");
    const RunResult r = Run({"-x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(ResultTxt()), "fail");
    // No console is attached in this case.
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(m_dir / "work" / "Result.txt"));
}

TEST_F(CommandLine, WrongArgumentCountLeavesResultTxtUntouched) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-f"}, {"-f", "-write", "fw.bin", "-d", "2", "extra"}}) {
        WriteBytes(ResultTxt(), "previous");
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(ReadBytes(ResultTxt()), "previous");
    }
}

TEST_F(CommandLine, NoArgumentsOrForceRestartOpenTheDialogMode) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"/forcerestart"}, {"/FORCERESTART"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "uafwtool: the main window is not available in this build yet\n");
        EXPECT_FALSE(fs::exists(ResultTxt()));
    }
}

TEST_F(CommandLine, ReadOnlyConfigIniBecomesWritableAndHasNoEffect) {
    const fs::path config = m_dir / "config.ini";
    // If it were read, "CheckVIDPID_INI" and the log would change nothing visible here, but a
    // "Debug Log" or a broken text would: the run must behave exactly as without the file.
    const std::string content = "[Vorlo Config]\r\nDebug Log=1\r\nLogType=1\r\n\x01broken\r\n";
    WriteBytes(config, content);
    fs::permissions(config, fs::perms::owner_read | fs::perms::group_read);
    const RunResult r = Run({"-x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadBytes(ResultTxt()), "fail");
    const auto perms = fs::status(config).permissions();
    EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(perms & fs::perms::group_read, fs::perms::none);
    EXPECT_EQ(ReadBytes(config), content);
    EXPECT_FALSE(fs::exists(m_dir / "DebugLog.txt"));
    EXPECT_FALSE(fs::exists(m_dir / "work" / "burn_result.txt"));
}

TEST_F(CommandLine, LogFileOnlyWithTheSwitch) {
    Run({"-f", "fw.bin"});
    EXPECT_FALSE(fs::exists(m_dir / "Log.txt"));
    Run({"-f", "fw.bin"}, true);
    const std::string bytes = ReadBytes(m_dir / "Log.txt");
    std::string expected;
    for (const char c : std::string(":> Fail --- Invalid parameter!\r\n")) {
        expected.push_back(c);
        expected.push_back('\0');
    }
    // UTF-16 little-endian without byte-order mark, starting with the line header "(".
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("(\0", 2));
    EXPECT_NE(bytes.find(expected), std::string::npos);
}

}  // namespace
