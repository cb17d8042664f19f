// Production-line runs of the built program against a virtual chip with OTP memory: the OTP
// usage report of "-detect" and the OTP read-back of "-dumpotp", checked on the console, in the
// dump file, in Result.txt and in the exit status, with the chip's OTP left as it was.
#include "e2e/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using uafw_e2e::ReadBytes;
using uafw_e2e::RunResult;
using uafw_e2e::WriteBytes;

constexpr std::size_t kOtpSize = 0x4000;
constexpr std::size_t kVdTable = 0x3F70;
constexpr unsigned kChipCode = 25;  // the virtual chip's KSC7050

// An OTP image of chip code 25: header (memory kind 0x60, chip byte with boot option 2), the
// version and EEPROM-info blocks, a code descriptor with `codeData` bytes, a VID/PID block and a
// manufacturer string.
std::string OtpImage(std::size_t codeData) {
    std::string image{'\x60', '\xA5', static_cast<char>(kChipCode << 3 | 2), 0, 0, 5};
    image += std::string("\x06\x2F\x50\x70\x60\x10\x03\x08\xC2", 9);
    const std::size_t n = codeData + 8;
    image += {'\xFF', '\xE7', static_cast<char>(n),        static_cast<char>(n >> 8),
              23,     0,      static_cast<char>(codeData), static_cast<char>(codeData >> 8)};
    for (std::size_t i = 0; i < codeData; ++i)
        image += static_cast<char>((i * 7 % 251) + 1);
    image += std::string("\x08\x04\x09\x12\x50\x70\x00\x01", 8);
    image += std::string("\x0B\x01\x09\x03Tavenic", 11);
    image[3] = static_cast<char>(image.size());
    image[4] = static_cast<char>(image.size() >> 8);
    return image;
}

void PutVd(std::string& otp, int index, unsigned start, unsigned length, unsigned char flag) {
    const std::size_t at = kVdTable + 5 * static_cast<std::size_t>(index);
    otp[at] = static_cast<char>(start >> 8);
    otp[at + 1] = static_cast<char>(start);
    otp[at + 2] = static_cast<char>(length >> 8);
    otp[at + 3] = static_cast<char>(length);
    otp[at + 4] = static_cast<char>(flag);
}

// The OTP as a download of `image` leaves it: the code block at 0 and the configuration block
// behind it, each with its prefix, recorded in VD entries 0 and 1.
std::string ProgrammedOtp(const std::string& image, std::size_t codeData) {
    const std::size_t n = codeData + 8;
    const std::size_t total = image.size();
    std::string code = image.substr(0, 15 + n);
    code[2] = static_cast<char>(kChipCode << 3 | 3);
    code[3] = static_cast<char>(15 + n);
    code[4] = static_cast<char>((15 + n) >> 8);
    code[5] = 3;
    std::string config = image.substr(0, 15) + image.substr(15 + n);
    config[2] = static_cast<char>(kChipCode << 3 | 1);
    config[3] = static_cast<char>(total - n);
    config[4] = static_cast<char>((total - n) >> 8);
    config[5] = 4;
    std::string otp(kOtpSize, '\0');
    otp.replace(0, code.size(), code);
    otp.replace(code.size(), config.size(), config);
    PutVd(otp, 0, 0, static_cast<unsigned>(code.size()), 0x55);
    PutVd(otp, 1, static_cast<unsigned>(code.size()), static_cast<unsigned>(config.size()), 0xAA);
    return otp;
}

class OtpLine : public uafw_e2e::ChipRun {
protected:
    void SetUp() override {
        ChipRun::SetUp();
        UseChip("[chip]\nmemory = otp\nreenum_ms = 20\n");
    }
    std::string Otp() const { return Memory("otp.bin"); }
    std::string ResultTail() const {
        const std::string result = ReadBytes(ResultTxt());
        return result.size() >= 4 ? result.substr(result.size() - 4) : result;
    }
};

TEST_F(OtpLine, DumpOtpSavesTheNewestBlocksAsOneImage) {
    const std::string image = OtpImage(900);
    const std::string otp = ProgrammedOtp(image, 900);
    WriteBytes(m_state / "otp.bin", otp);

    const RunResult dump = Tool({"-f", "-dumpotp", "otp_dump.bin"});

    EXPECT_EQ(dump.status, 0) << dump.out << dump.err;
    EXPECT_EQ(dump.out, "\nBegin to Dump OTP!\r\nDump OTP pass!\r\n" + Prompt());
    EXPECT_EQ(ResultTail(), "pass");
    // Joined again, the two blocks give back the image they were cut from.
    EXPECT_TRUE(ReadBytes(m_dir / "work" / "otp_dump.bin") == image);
    EXPECT_TRUE(Otp() == otp);
}

TEST_F(OtpLine, WriteProgramsBothBlocksAndDumpGivesTheImageBack) {
    const std::string image = OtpImage(1200);
    WriteBytes(m_dir / "work" / "otp_fw.bin", image);

    const RunResult write = Tool({"-f", "-write", "otp_fw.bin"});

    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_EQ(write.out, "\nBegin to Write fw!\r\nWrite fw pass!\r\n" + Prompt());
    EXPECT_EQ(ResultTail(), "pass");
    EXPECT_TRUE(Otp() == ProgrammedOtp(image, 1200));

    const RunResult dump = Tool({"-f", "-dumpotp", "otp_dump.bin"});
    EXPECT_EQ(dump.status, 0) << dump.out << dump.err;
    EXPECT_TRUE(ReadBytes(m_dir / "work" / "otp_dump.bin") == image);
}

TEST_F(OtpLine, DumpOtpOfAnEmptyOtpSavesNothingAndReportsIt) {
    const RunResult dump = Tool({"-f", "-dumpotp", "otp_dump.bin"});

    // Nothing to dump is a failed dump: "OTP Code Not Exist!" is the result, no file is written.
    EXPECT_EQ(dump.status, 1) << dump.out << dump.err;
    EXPECT_EQ(dump.out, "\nBegin to Dump OTP!\r\nDump OTP fail!\r\n" + Prompt());
    EXPECT_FALSE(fs::exists(m_dir / "work" / "otp_dump.bin"));
    EXPECT_TRUE(Otp() == std::string(kOtpSize, '\0'));
}

TEST_F(OtpLine, DetectReportsTheOtpUsageForTheImage) {
    // 3224 bytes used in two blocks, 14 VD entries free; an image of 1000 bytes fits 13 times.
    std::string otp(kOtpSize, '\0');
    PutVd(otp, 0, 0, 3000, 0x55);
    PutVd(otp, 1, 3000, 224, 0xAA);
    WriteBytes(m_state / "otp.bin", otp);
    std::string image = OtpImage(1000 - 15 - 8 - 19);
    ASSERT_EQ(image.size(), 1000u);
    WriteBytes(m_dir / "work" / "otp_fw.bin", image);

    const RunResult detect = Tool({"-f", "-detect", "otp_fw.bin"});

    EXPECT_EQ(detect.status, 0) << detect.out << detect.err;
    EXPECT_EQ(detect.out,
              "\nBegin to Check OTP Status!\r\nUsed OTP Space: 3.15 KB\nFree OTP Space: 12.70 "
              "KB\nRemaining Programmable Times: 13.\r\n" +
                  Prompt());
    EXPECT_EQ(ResultTail(), "pass");
    EXPECT_TRUE(Otp() == otp);
}

TEST_F(OtpLine, DetectOnAnEmptyOtpIsLimitedByTheFreeBytes) {
    const std::string image = OtpImage(4000);
    WriteBytes(m_dir / "work" / "otp_fw.bin", image);

    const RunResult detect = Tool({"-f", "-detect", "otp_fw.bin"});

    EXPECT_EQ(detect.status, 0) << detect.out << detect.err;
    // 16224 free bytes hold 3 images of 4042 bytes plus one more: 4.
    EXPECT_EQ(detect.out,
              "\nBegin to Check OTP Status!\r\nUsed OTP Space: 0.00 KB\nFree OTP Space: 15.84 "
              "KB\nRemaining Programmable Times: " +
                  std::to_string(16224 / image.size()) + ".\r\n" + Prompt());
}

TEST_F(OtpLine, DetectWithoutItsImageFileFails) {
    const RunResult detect = Tool({"-f", "-detect", "missing.bin"});

    EXPECT_EQ(detect.status, 1) << detect.out << detect.err;
    EXPECT_EQ(detect.out, "\n" + Prompt());
    EXPECT_EQ(ResultTail(), "fail");
}

}  // namespace
