// Runs the built program from a private copy, so that Result.txt next to it belongs to one test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = fs::temp_directory_path() / ("uafw_e2e_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "work");
        m_tool = m_dir / "uafwtool";
        fs::copy_file(UAFWTOOL_PATH, m_tool);
        fs::permissions(m_tool, fs::perms::owner_all);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Runs the copy with the arguments from the "work" directory; stdout and stderr are kept.
    RunResult Run(const std::vector<std::string>& args, bool logSwitch = false) {
        const fs::path outPath = m_dir / "stdout.txt";
        const fs::path errPath = m_dir / "stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir((m_dir / "work").c_str()) != 0)
                ::_exit(126);
            std::FILE* out = std::freopen(outPath.c_str(), "w", stdout);
            std::FILE* err = std::freopen(errPath.c_str(), "w", stderr);
            if (out == nullptr || err == nullptr)
                ::_exit(126);
            std::vector<char*> argv;
            std::string program = m_tool.string();
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            if (logSwitch) {
                ::setenv("UAFW_LOG", "1", 1);
            } else {
                ::unsetenv("UAFW_LOG");
            }
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        RunResult r;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            r.status = WEXITSTATUS(status);
        r.out = ReadBytes(outPath);
        r.err = ReadBytes(errPath);
        return r;
    }

    fs::path ResultTxt() const { return m_dir / "Result.txt"; }

    fs::path m_dir;
    fs::path m_tool;
};

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

TEST_F(CommandLine, ValidCommandLineWithoutDeviceAccessFails) {
    const RunResult r = Run({"-F", "-WRITE", "fw.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "uafwtool: device access is not available in this build yet\n");
    EXPECT_EQ(ReadBytes(ResultTxt()), "fail");
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
