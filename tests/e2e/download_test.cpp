// Production-line runs of the built program against virtual chips: write, verify, erase,
// version and the dumps, checked in the chip's memory files, on the console, in Result.txt and
// in the exit status.
#include "e2e/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using uafw_e2e::ReadBytes;
using uafw_e2e::RunResult;
using uafw_e2e::WriteBytes;

// The image the chip ships with in these tests: the built-in KSC7050 image as the build
// generated it, with a recognisable pattern in its code.
std::string TestImage(char fill) {
    std::string image = ReadBytes(UAFW_BUILTIN_IMAGE_DIR "/3023.bin");
    for (std::size_t i = 0x2000; i < 0x2400 && i < image.size(); ++i)
        image[i] = static_cast<char>(fill + (i & 0x0F));
    return image;
}

class Download : public uafw_e2e::ChipRun {
protected:
    void SetUp() override {
        ChipRun::SetUp();
        // An erased KSC7050 that re-enumerates quickly, so each run takes little real time.
        UseChip("[chip]\ntype = KSC7050\nreenum_ms = 20\n");
    }

    // The line-test build: "LogType" set, devices opened by position.
    RunResult LineTool(const std::vector<std::string>& args, const std::string& sim = "") {
        UseProgram(UAFWTOOL_LINE_PATH);
        RunResult r = RunWith(args, {{"UAFW_SIM", sim.empty() ? m_state.string() : sim}});
        UseProgram(UAFWTOOL_PATH);
        return r;
    }
    std::string BurnResult() const { return ReadBytes(m_dir / "work" / "burn_result.txt"); }
    std::string Flash() const { return Memory("spi.bin"); }
};

TEST_F(Download, WriteLandsInFlashAndVerifyPasses) {
    const std::string image = TestImage('A');
    WriteBytes(m_dir / "work" / "fw.bin", image);

    const RunResult write = Tool({"-f", "-write", "fw.bin"});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_EQ(write.out, "\nBegin to Write fw!\r\nWrite fw pass!\r\n" + Prompt());
    EXPECT_EQ(ReadBytes(ResultTxt()),
              "Begin to Write fw!\r\nWrite fw pass!\r\n" + Prompt() + "pass");
    const std::string flash = Flash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(flash.substr(0, image.size()) == image);

    const RunResult verify = Tool({"-f", "-verify", "fw.bin"});
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.out, "\nBegin to Verify fw!\r\nVerify fw pass!\r\n" + Prompt());
    EXPECT_EQ(ReadBytes(ResultTxt()).substr(ReadBytes(ResultTxt()).size() - 4), "pass");
}

TEST_F(Download, VerifyAgainstADifferentImageFails) {
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    ASSERT_EQ(Tool({"-f", "fw.bin"}).status, 0);
    WriteBytes(m_dir / "work" / "other.bin", TestImage('a'));
    const RunResult verify = Tool({"-f", "-verify", "other.bin"});
    EXPECT_EQ(verify.status, 1);
    EXPECT_EQ(verify.out, "\nBegin to Verify fw!\r\nVerify fw fail!\r\n" + Prompt());
    const std::string result = ReadBytes(ResultTxt());
    EXPECT_EQ(result.substr(result.size() - 4), "fail");
}

TEST_F(Download, EraseLeavesTheFlashErased) {
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);
    const RunResult erase = Tool({"-f", "-erase"});
    EXPECT_EQ(erase.status, 0) << erase.out;
    EXPECT_EQ(erase.out, "\nBegin to Erase!\r\nErase pass!\r\n" + Prompt());
    const std::string flash = Flash();
    ASSERT_GE(flash.size(), 0x10000u);
    EXPECT_TRUE(flash.substr(0, 0x10000) == std::string(0x10000, '\xFF'));
}

TEST_F(Download, VersionPrintsTheRunningFirmwareAndWritesFail) {
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);
    const RunResult version = Tool({"-f", "-version"});
    // The version action has no verdict of its own: Result.txt says "fail", the status stays 0.
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("Begin to Get FW Ver!\r\nCurrent FW Version: "), std::string::npos);
    EXPECT_EQ(version.out.find("Current FW Version: N/A"), std::string::npos) << version.out;
    const std::string result = ReadBytes(ResultTxt());
    EXPECT_EQ(result.substr(result.size() - 4), "fail");
}

TEST_F(Download, DumpSpiWritesTheFirst64KiB) {
    const std::string image = TestImage('A');
    WriteBytes(m_dir / "work" / "fw.bin", image);
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);
    const RunResult dump = Tool({"-f", "-dumpspi", "dump.bin"});
    EXPECT_EQ(dump.status, 0) << dump.out;
    EXPECT_EQ(dump.out, "\nBegin to Dump SPI!\r\nDump SPI pass!\r\n" + Prompt());
    EXPECT_TRUE(ReadBytes(m_dir / "work" / "dump.bin") == Flash().substr(0, 0x10000));
}

// A dump that cannot be saved did not happen: the run fails instead of reporting a good dump.
TEST_F(Download, DumpThatCannotBeSavedFails) {
    WriteBytes(m_dir / "work" / "blocker", "a file where the dump's directory should be");
    const RunResult dump = Tool({"-f", "-dumpspi", "blocker/dump.bin"});
    EXPECT_EQ(dump.status, 1) << dump.out;
    EXPECT_NE(dump.out.find("Dump SPI fail!\r\n"), std::string::npos) << dump.out;
    const std::string result = ReadBytes(ResultTxt());
    EXPECT_EQ(result.substr(result.size() - 4), "fail");
}

TEST_F(Download, NoDeviceEndsWithGetIcInfoFail) {
    WriteBytes(m_state / "chip.ini", "[chip]\nattached = 0\n");
    const RunResult r = Tool({"-f", "-write", "fw.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nCannot find Tavenic USB Audio!\nGet IC Info Fail\n" + Prompt());
    EXPECT_EQ(ReadBytes(ResultTxt()), "Cannot find Tavenic USB Audio!\r\nfail");
}

TEST_F(Download, ImageWithoutConfigurationAreaIsRefusedAndFlashUntouched) {
    ASSERT_EQ(Tool({"-f", "-erase"}).status, 0);
    const std::string before = Flash();
    WriteBytes(m_dir / "work" / "junk.bin", std::string(0x10000, '\x5A'));
    const RunResult r = Tool({"-f", "-write", "junk.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Write fw fail!\r\n"), std::string::npos) << r.out;
    EXPECT_TRUE(Flash() == before);
}

TEST_F(Download, MissingFileFallsBackToTheChipsBuiltInImage) {
    ASSERT_EQ(Tool({"-f", "-erase"}).status, 0);
    const RunResult r = Tool({"-f", "-write", "missing.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string builtin = ReadBytes(UAFW_BUILTIN_IMAGE_DIR "/3023.bin");
    EXPECT_TRUE(Flash().substr(0, builtin.size()) == builtin);
}

TEST_F(Download, WrongChipImageIsRefusedAndFlashUntouched) {
    ASSERT_EQ(Tool({"-f", "-erase"}).status, 0);
    const std::string before = Flash();
    // The KSC7040 image on a KSC7050.
    WriteBytes(m_dir / "work" / "fw7040.bin", ReadBytes(UAFW_BUILTIN_IMAGE_DIR "/3018.bin"));
    const RunResult r = LineTool({"-f", "-write", "fw7040.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Write fw fail!\r\n"), std::string::npos) << r.out;
    EXPECT_NE(BurnResult().find("Fail,    41715:\r\n"), std::string::npos) << BurnResult();
    EXPECT_TRUE(Flash() == before);
}

TEST_F(Download, BurnResultRecordsEveryRunUnderOneHeader) {
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    WriteBytes(m_dir / "work" / "other.bin", TestImage('a'));
    ASSERT_EQ(LineTool({"-f", "-write", "fw.bin"}).status, 0);
    EXPECT_EQ(LineTool({"-f", "-verify", "other.bin"}).status, 1);
    const std::string table = BurnResult();
    const std::string header =
        "Update date       Update Time       Serial number              Result   ErrCode\r\n"
        "================  ================  =========================  =======  =======\r\n";
    ASSERT_EQ(table.substr(0, header.size()), header);
    EXPECT_EQ(table.find("Update date", 1), std::string::npos);
    const std::string rows = table.substr(header.size());
    // Date, time, the device's manufacturer text padded to 27, verdict and code.
    const std::size_t firstEnd = rows.find("\r\n");
    ASSERT_NE(firstEnd, std::string::npos);
    const std::string first = rows.substr(0, firstEnd);
    const std::string second = rows.substr(firstEnd + 2, rows.size() - firstEnd - 4);
    EXPECT_EQ(first.substr(36), "Tavenic,                   Pass,    0:");
    EXPECT_EQ(second.substr(36), "Tavenic,                   Fail,    41709:");
    EXPECT_EQ(first[10], ',');
    EXPECT_EQ(first[26], ',');
}

TEST_F(Download, DevicePositionPicksTheChipOnTheCommandLine) {
    const fs::path second = m_dir / "chip2";
    fs::create_directories(second);
    WriteBytes(m_state / "chip.ini", "[chip]\ntype = KSC7050\nport = 1\nreenum_ms = 20\n");
    WriteBytes(second / "chip.ini", "[chip]\ntype = KSC7050\nport = 2\nreenum_ms = 20\n");
    const std::string both = m_state.string() + ":" + second.string();
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    ASSERT_EQ(LineTool({"-f", "-write", "fw.bin", "-d", "0"}, both).status, 0);
    ASSERT_EQ(LineTool({"-f", "-write", "fw.bin", "-d", "1"}, both).status, 0);
    const RunResult r = LineTool({"-f", "-erase", "-d", "1"}, both);
    EXPECT_EQ(r.status, 0) << r.out;
    // Only the second chip was erased.
    EXPECT_TRUE(ReadBytes(second / "spi.bin").substr(0, 0x10000) == std::string(0x10000, '\xFF'));
    EXPECT_TRUE(Flash().substr(0, 0x10000) == TestImage('A').substr(0, 0x10000));
    // Positions 2, 3 and 4 hold no device.
    const RunResult none = LineTool({"-f", "-erase", "-d", "2"}, both);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("Get IC Info Fail\n"), std::string::npos) << none.out;
}

TEST_F(Download, DeviceOutsideTheIdentityListIsRefused) {
    WriteBytes(m_state / "chip.ini", "[chip]\ntype = KSC7050\npid = 0x7777\nreenum_ms = 20\n");
    WriteBytes(m_dir / "work" / "fw.bin", TestImage('A'));
    const RunResult r = Tool({"-f", "-write", "fw.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Check VID/PID Mismatch!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Get IC Info Fail\n"), std::string::npos);
    const std::string flash = Flash();
    EXPECT_TRUE(flash.substr(0, 0x10000) == std::string(0x10000, '\xFF'));
}

TEST_F(Download, UnloadableSimulatorStateIsReportedNotIgnored) {
    WriteBytes(m_state / "chip.ini", "[chip]\nno_such_key = 1\n");
    const RunResult r = Tool({"-f", "-erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no_such_key"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(ResultTxt()), "fail");
}

}  // namespace
