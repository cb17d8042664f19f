// Production-line runs of the built program against virtual chips that keep their code in a
// 16-bit or 8-bit I2C EEPROM: write, verify and erase reach the EEPROM (not the SPI flash), the
// tag is in place after a write, and -dumpspi still reads the SPI flash.
#include "e2e/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using uafw_e2e::ReadBytes;
using uafw_e2e::RunResult;
using uafw_e2e::WriteBytes;

// An EEPROM image: a configuration area at offset 0 (memory kind 0x12 or 0x11, signature 0xA5,
// chip code) and a pattern behind it.
std::string EepromImage(char kind, int chipCode, std::size_t length, int seed) {
    std::string image(length, '\xFF');
    const char header[6] = {kind, '\xA5', static_cast<char>(chipCode << 3), 6, 0, 0};
    image.replace(0, 6, header, 6);
    for (std::size_t i = 6; i < length; ++i)
        image[i] = static_cast<char>(i * 7 + static_cast<std::size_t>(seed));
    return image;
}

struct EepromChip {
    const char* name;
    const char* chipIni;
    char kind;
    int chipCode;
    std::size_t imageLength;
};

class EepromLine : public uafw_e2e::ChipRun, public ::testing::WithParamInterface<EepromChip> {
protected:
    void SetUp() override {
        ChipRun::SetUp();
        UseChip(GetParam().chipIni);
    }
    std::string Image(int seed) const {
        return EepromImage(GetParam().kind, GetParam().chipCode, GetParam().imageLength, seed);
    }
    std::string Eeprom() const { return Memory("eeprom.bin"); }
    std::string Flash() const { return Memory("spi.bin"); }
    static bool AllErased(const std::string& bytes) {
        return bytes.find_first_not_of('\xFF') == std::string::npos;
    }
};

TEST_P(EepromLine, WriteLandsInTheEepromWithItsTagAndVerifyPasses) {
    const std::string image = Image(1);
    WriteBytes(m_dir / "work" / "fw.bin", image);

    const RunResult write = Tool({"-f", "-write", "fw.bin"});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_EQ(write.out, "\nBegin to Write fw!\r\nWrite fw pass!\r\n" + Prompt());
    EXPECT_EQ(ReadBytes(ResultTxt()),
              "Begin to Write fw!\r\nWrite fw pass!\r\n" + Prompt() + "pass");
    const std::string eeprom = Eeprom();
    ASSERT_GE(eeprom.size(), image.size());
    EXPECT_TRUE(eeprom.substr(0, image.size()) == image);
    EXPECT_EQ(eeprom[1], '\xA5');
    EXPECT_TRUE(AllErased(Flash())) << "the SPI flash is not the chip's memory here";

    const RunResult verify = Tool({"-f", "-verify", "fw.bin"});
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, "\nBegin to Verify fw!\r\nVerify fw pass!\r\n" + Prompt());

    // The chip now runs the EEPROM image; its version is read back.
    const RunResult version = Tool({"-f", "-version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.find("Current FW Version: N/A"), std::string::npos) << version.out;
}

TEST_P(EepromLine, VerifyAgainstADifferingImageFails) {
    WriteBytes(m_dir / "work" / "fw.bin", Image(1));
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);
    std::string other = Image(1);
    other[0x100] = static_cast<char>(other[0x100] ^ 0x01);
    WriteBytes(m_dir / "work" / "other.bin", other);

    const RunResult verify = Tool({"-f", "-verify", "other.bin"});

    EXPECT_EQ(verify.status, 1);
    EXPECT_EQ(verify.out, "\nBegin to Verify fw!\r\nVerify fw fail!\r\n" + Prompt());
    const std::string result = ReadBytes(ResultTxt());
    EXPECT_EQ(result.substr(result.size() - 4), "fail");
}

TEST_P(EepromLine, EraseWithTheImageErasesTheEeprom) {
    WriteBytes(m_dir / "work" / "fw.bin", Image(1));
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);

    const RunResult erase = Tool({"-f", "-erase", "fw.bin"});

    EXPECT_EQ(erase.status, 0) << erase.out;
    EXPECT_EQ(erase.out, "\nBegin to Erase!\r\nErase pass!\r\n" + Prompt());
    EXPECT_TRUE(AllErased(Eeprom()));
}

TEST_P(EepromLine, EraseWithoutImageErasesTheSpiFlashOnly) {
    const std::string image = Image(1);
    WriteBytes(m_dir / "work" / "fw.bin", image);
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);

    const RunResult erase = Tool({"-f", "-erase"});

    // Without an image the tool cannot tell the chip's memory kind: the erase goes to the flow
    // of the device's built-in image, the SPI flash.
    EXPECT_EQ(erase.status, 0) << erase.out;
    EXPECT_TRUE(Eeprom().substr(0, image.size()) == image);
    EXPECT_TRUE(AllErased(Flash().substr(0, 0x10000)));
}

TEST_P(EepromLine, DumpSpiReadsTheSpiFlashNotTheEeprom) {
    WriteBytes(m_dir / "work" / "fw.bin", Image(1));
    ASSERT_EQ(Tool({"-f", "-write", "fw.bin"}).status, 0);

    const RunResult dump = Tool({"-f", "-dumpspi", "dump.bin"});

    EXPECT_EQ(dump.status, 0) << dump.out;
    EXPECT_EQ(dump.out, "\nBegin to Dump SPI!\r\nDump SPI pass!\r\n" + Prompt());
    EXPECT_TRUE(ReadBytes(m_dir / "work" / "dump.bin") == Flash().substr(0, 0x10000));
}

TEST_P(EepromLine, ImageForAnotherChipIsRefusedAndTheEepromUntouched) {
    WriteBytes(m_dir / "work" / "fw.bin",
               EepromImage(GetParam().kind, GetParam().chipCode + 1, GetParam().imageLength, 1));

    const RunResult write = Tool({"-f", "-write", "fw.bin"});

    EXPECT_EQ(write.status, 1) << write.out;
    EXPECT_NE(write.out.find("Write fw fail!\r\n"), std::string::npos) << write.out;
    EXPECT_TRUE(AllErased(Eeprom()));
    EXPECT_TRUE(AllErased(Flash()));
}

INSTANTIATE_TEST_SUITE_P(
    Chips, EepromLine,
    ::testing::Values(
        EepromChip{"Ksc7050SixteenBit",
                   "[chip]\ntype = KSC7050\nmemory = eeprom16\nreenum_ms = 20\n", 0x12, 25, 0x800},
        EepromChip{"Ksc7050EightBit", "[chip]\ntype = KSC7050\nmemory = eeprom8\nreenum_ms = 20\n",
                   0x11, 25, 0x400},
        // The KSC7020 keeps its configuration area at 0xAE00: a short EEPROM image has it at 0.
        EepromChip{"Ksc7020SixteenBit",
                   "[chip]\ntype = KSC7020\nmemory = eeprom16\nreenum_ms = 20\n", 0x12, 17, 0x800}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
