// The runner puts virtual chips of state directories behind usbdevfs and starts a program whose
// libusb then finds them: the cross-process path the shipped program takes in end-to-end tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct ShellRun {
    int status = -1;
    std::string output;
};

// Runs the command line without the test's own preload: the runner sets it up for its child.
ShellRun Shell(const std::string& command) {
    ShellRun run;
    FILE* pipe = popen(("env -u LD_PRELOAD -u UMOCKDEV_DIR " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        run.output += buffer.data();
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto* dir : {&dirA_, &dirB_}) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "uafw-run-XXXXXX").string();
            ASSERT_NE(mkdtemp(pattern.data()), nullptr);
            *dir = pattern;
        }
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dirA_, ec);
        std::filesystem::remove_all(dirB_, ec);
    }
    std::string dirA_;
    std::string dirB_;
};

TEST_F(Runner, ProgramUnderTheRunnerReachesTheChipsThroughLibusb) {
    std::ofstream(dirB_ + "/chip.ini") << "[chip]\npid = 0x7040\nport = 2.3\n";
    const ShellRun run =
        Shell(std::string(UAFW_RUNNER) + " " + dirA_ + ":" + dirB_ + " " + UAFW_PROBE);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("1-1 1209:7050 if0 QUORVEX\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1-2.3 1209:7040 if0 QUORVEX\n"), std::string::npos) << run.output;
}

TEST_F(Runner, TwoChipsCannotShareAPort) {
    std::ofstream(dirB_ + "/chip.ini") << "[chip]\nport = 1.3\n";  // port 1 would need a hub
    const ShellRun run =
        Shell(std::string(UAFW_RUNNER) + " " + dirA_ + ":" + dirB_ + " " + UAFW_PROBE);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("taken"), std::string::npos) << run.output;
}

TEST_F(Runner, ExitStatusIsTheProgramsAndBrokenSetupsAreRefused) {
    EXPECT_EQ(Shell(std::string(UAFW_RUNNER) + " " + dirA_ + " sh -c 'exit 7'").status, 7);
    std::ofstream(dirA_ + "/chip.ini") << "[chip]\nno_such_key = 1\n";
    const ShellRun broken = Shell(std::string(UAFW_RUNNER) + " " + dirA_ + " true");
    EXPECT_EQ(broken.status, 2) << broken.output;
    EXPECT_EQ(Shell(std::string(UAFW_RUNNER) + " " + dirB_ + " /nonexistent/program").status, 127);
}

TEST_F(Runner, WithoutChipsTheProgramFindsNone) {
    std::ofstream(dirA_ + "/chip.ini") << "[chip]\nattached = 0\n";
    const ShellRun run = Shell(std::string(UAFW_RUNNER) + " " + dirA_ + " " + UAFW_PROBE);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output.find("QUORVEX"), std::string::npos) << run.output;
}

}  // namespace
