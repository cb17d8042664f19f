#pragma once
// Runs the built program from a private copy, so that Result.txt next to it belongs to one test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace uafw_e2e {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class ToolRun : public ::testing::Test {
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
        return RunWith(args, logSwitch ? std::map<std::string, std::string>{{"UAFW_LOG", "1"}}
                                       : std::map<std::string, std::string>{});
    }

    // The same with environment variables set for the run; UAFW_LOG and UAFW_SIM are unset
    // unless given.
    RunResult RunWith(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env) {
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
            ::unsetenv("UAFW_LOG");
            ::unsetenv("UAFW_SIM");
            for (const auto& [key, value] : env)
                ::setenv(key.c_str(), value.c_str(), 1);
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

    // Replaces the private copy by another build of the program.
    void UseProgram(const fs::path& program) {
        fs::remove(m_tool);
        fs::copy_file(program, m_tool);
        fs::permissions(m_tool, fs::perms::owner_all);
    }

    fs::path m_dir;
    fs::path m_tool;
};

// Runs against one virtual chip whose state directory "chip" lies in the test's directory.
class ChipRun : public ToolRun {
protected:
    // Creates the state directory with `chipIni` as its chip.ini.
    void UseChip(const std::string& chipIni) {
        m_state = m_dir / "chip";
        fs::create_directories(m_state);
        WriteBytes(m_state / "chip.ini", chipIni);
    }
    RunResult Tool(const std::vector<std::string>& args) {
        return RunWith(args, {{"UAFW_SIM", m_state.string()}});
    }
    // One of the chip's memory files: "spi.bin", "eeprom.bin", "otp.bin".
    std::string Memory(const char* file) const { return ReadBytes(m_state / file); }
    // The prompt the program prints after its console text.
    std::string Prompt() const { return m_dir.string() + ">"; }

    fs::path m_state;
};

}  // namespace uafw_e2e
