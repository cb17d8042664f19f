#include <gtest/gtest.h>

#include "sim/ChipConfig.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using uafw::sim::BootMemory;
using uafw::sim::ChipConfig;
using uafw::sim::ParseChipConfig;
using uafw::sim::SignatureOutcome;

ChipConfig Parsed(const std::string& text) {
    ChipConfig c;
    std::string error;
    EXPECT_TRUE(ParseChipConfig(text, c, error)) << error;
    return c;
}

TEST(ChipIni, EmptyTextIsTheDefaultKsc7050) {
    const ChipConfig c = Parsed("");
    EXPECT_EQ(c.chipId, 0xD011);
    EXPECT_EQ(c.vid, 0x1209);
    EXPECT_EQ(c.pid, 0x7050);
    EXPECT_EQ(c.rev, 0x0100);
    EXPECT_EQ(c.memory, BootMemory::Flash);
}

struct TypeCase {
    const char* type;
    std::uint16_t id;
    std::uint16_t pid;
};

class ChipIniTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ChipIniTypes, TypeGivesItsChipIdAndProductId) {
    const TypeCase& t = GetParam();
    const ChipConfig c = Parsed(std::string("[chip]\ntype = ") + t.type + "\n");
    EXPECT_EQ(c.chipId, t.id);
    EXPECT_EQ(c.pid, t.pid);
}

INSTANTIATE_TEST_SUITE_P(
    All, ChipIniTypes,
    ::testing::Values(TypeCase{"KSC7020", 0x7011, 0x7020}, TypeCase{"KSC7040", 0xB011, 0x7040},
                      TypeCase{"KSC7042", 0xF011, 0x7042}, TypeCase{"ksc7050", 0xD011, 0x7050},
                      TypeCase{"KSC7032", 0xE011, 0x7032}, TypeCase{"KSC7080", 0x1011, 0x7080}));

TEST(ChipIni, IntegersAcceptDecimalAndHexadecimal) {
    const ChipConfig c = Parsed(
        "; a comment\n[chip]\nid = 0x7110\npid=4660\nflash_size = 0x80000\nreenum_ms = 250\n"
        "memory = eeprom16\nproduct = \"My Chip\"\n[faults]\nfail_transfer = 0x10\n"
        "otp_fail = 0x10, 18 ,0x3FFF\nsignature = busy\nnever_return = 1\n"
        "otp_power_cut = 3\notp_power_cut_bytes = 0x20\notp_unplug_after = 7\n");
    EXPECT_EQ(c.chipId, 0x7110);
    EXPECT_EQ(c.pid, 4660);
    EXPECT_EQ(c.flashSize, 0x80000u);
    EXPECT_EQ(c.reenumMs, 250u);
    EXPECT_EQ(c.memory, BootMemory::Eeprom16);
    EXPECT_EQ(c.EffectiveEepromSize(), 0x10000u);
    EXPECT_EQ(c.product, "My Chip");
    EXPECT_EQ(c.faults.failTransfer, 16u);
    EXPECT_EQ(c.faults.otpFail, (std::vector<std::uint16_t>{0x10, 18, 0x3FFF}));
    EXPECT_EQ(c.faults.signature, SignatureOutcome::Busy);
    EXPECT_TRUE(c.faults.neverReturn);
    EXPECT_EQ(c.faults.otpPowerCut, 3u);
    EXPECT_EQ(c.faults.otpPowerCutBytes, 0x20u);
    EXPECT_EQ(c.faults.otpUnplugAfter, 7u);
}

struct BadCase {
    const char* text;
    const char* message;  // a part of the error text
};

class ChipIniErrors : public ::testing::TestWithParam<BadCase> {};

TEST_P(ChipIniErrors, AreRejectedWithAClearMessage) {
    ChipConfig c;
    std::string error;
    EXPECT_FALSE(ParseChipConfig(GetParam().text, c, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    All, ChipIniErrors,
    ::testing::Values(BadCase{"[chip]\nflsh_size = 1\n",
                              "line 2: unknown key 'flsh_size' in section [chip]"},
                      BadCase{"[faults]\nunplug = 3\n", "unknown key 'unplug' in section [faults]"},
                      BadCase{"[chips]\n", "unknown section [chips]"},
                      BadCase{"type = KSC7050\n", "outside a section"},
                      BadCase{"[chip]\nvid = 0x1G09\n", "'0x1G09' of key 'vid' is not an integer"},
                      BadCase{"[chip]\npid = 0x10000\n", "out of range"},
                      BadCase{"[chip]\ntype = KSC9999\n", "names no chip type"},
                      BadCase{"[chip]\nmemory = tape\n", "names no memory kind"},
                      BadCase{"[chip]\nport = 1..2\n", "is not a port path"},
                      BadCase{"[faults]\nsignature = maybe\n", "pass, fail or busy"},
                      BadCase{"[faults]\notp_fail = 0x4000\n", "no OTP address"},
                      BadCase{"[chip]\nflash_size = 1000\n", "flash_size must be a multiple"}));

TEST(ChipIni, UnknownKeyStopsTheBackendWithTheDirectoryInTheMessage) {
    simtest::TempDir dir;
    dir.Write("chip.ini", "[chip]\ntype = KSC7050\nerase_time = 5\n");
    std::string error;
    auto backend = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
    EXPECT_FALSE(backend);
    EXPECT_NE(error.find(dir.Path()), std::string::npos) << error;
    EXPECT_NE(error.find("unknown key 'erase_time'"), std::string::npos) << error;
}

}  // namespace
