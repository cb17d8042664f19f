// SPI write protection against the virtual chip: the pin register pair of every family, the flash
// status register behind it, and what the flash then accepts; the family-0x1010 probe.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "flow/MpFlow4.h"
#include "flow/SpiWriteProtect.h"
#include "flow_fixture.h"

namespace {

using uafw::flowtest::FlowSimFixture;

struct FamilyCase {
    std::uint16_t chipId;
    SpiWriteProtectPins pins;
};

std::string CaseName(const ::testing::TestParamInfo<FamilyCase>& info) {
    char text[32];
    std::snprintf(text, sizeof(text), "Id%04X", info.param.chipId);
    return text;
}

class WriteProtectFamily : public FlowSimFixture, public ::testing::WithParamInterface<FamilyCase> {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        char chip[64];
        std::snprintf(chip, sizeof(chip), "[chip]\nid = 0x%04X\n", GetParam().chipId);
        Start({chip});
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    }

    // Whether a program of one byte reaches the flash.
    bool FlashTakesAWrite(std::uint32_t address) {
        const std::uint8_t zero = 0x00;
        DA_SpiWrite(DA_GetDeviceNode(), address, 1, &zero, 0);
        return Chip().FlashBytes()[address] == 0x00;
    }

    CMpFlow4 m_flow;
};

TEST_P(WriteProtectFamily, OffAndOnDriveThePinRegistersAndTheStatusRegister) {
    const SpiWriteProtectPins pins = GetParam().pins;
    EXPECT_EQ(CSpiWriteProtect::PinsFor(GetParam().chipId), pins);
    // Other bits of the pin registers are kept.
    SetChipByte(pins.enable, static_cast<std::uint8_t>(~pins.bit & 0x42));
    SetChipByte(pins.level, 0x24);

    // The chip powers up protected: status register 0x8C, the flash refuses to program.
    ASSERT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_FALSE(FlashTakesAWrite(0x1000));

    ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
    EXPECT_EQ(ChipByte(pins.enable), static_cast<std::uint8_t>((~pins.bit & 0x42) | pins.bit));
    EXPECT_EQ(ChipByte(pins.level), static_cast<std::uint8_t>(0x24 | pins.bit));
    EXPECT_EQ(Chip().FlashStatus(), 0x00);
    EXPECT_TRUE(FlashTakesAWrite(0x1000));

    ASSERT_EQ(m_flow.MP_SPIWriteProtectOn(), 1);
    EXPECT_EQ(ChipByte(pins.enable), static_cast<std::uint8_t>((~pins.bit & 0x42) | pins.bit));
    EXPECT_EQ(ChipByte(pins.level), static_cast<std::uint8_t>(0x24 & ~pins.bit));
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_FALSE(FlashTakesAWrite(0x1001));

    // With the pin driven low the status register is locked; off raises the pin first.
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
    EXPECT_EQ(Chip().FlashStatus(), 0x00);
    EXPECT_TRUE(FlashTakesAWrite(0x1001));
    EXPECT_EQ(m_flow.m_dwAccessFlags, 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, WriteProtectFamily,
                         ::testing::Values(FamilyCase{0x7011, {0xFEA0, 0xFEA6, 0x01}},  // legacy
                                           FamilyCase{0x3011, {0xFEA0, 0xFEA6, 0x01}},  // legacy
                                           FamilyCase{0xFF56, {0x0404, 0x0406, 0x01}},
                                           FamilyCase{0x8051, {0x0404, 0x0406, 0x01}},
                                           FamilyCase{0x7012, {0x0650, 0x0652, 0x01}},
                                           FamilyCase{0xE011, {0x0505, 0x0507, 0x01}},
                                           FamilyCase{0xB011, {0xFEC0, 0xFEC6, 0x01}},
                                           FamilyCase{0xC013, {0xFEC0, 0xFEC6, 0x01}},
                                           FamilyCase{0xD011, {0xFEC0, 0xFEC6, 0x01}},
                                           FamilyCase{0xF011, {0xFEC0, 0xFEC6, 0x01}},
                                           FamilyCase{0x1011, {0x050C, 0x0512, 0x10}}),
                         CaseName);

class WriteProtect1010 : public FlowSimFixture {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        Start({"[chip]\ntype = KSC7080\n"});
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    }
    CMpFlow4 m_flow;
};

TEST_F(WriteProtect1010, PositiveProbeDrivesBothPairsOffAndLeavesProtectionAloneOn) {
    SetChipByte(0x050F, 0x20 | 0x01);  // bits 5-6 = 1
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
    EXPECT_EQ(ChipByte(0x050A) & 0x80, 0x80);
    EXPECT_EQ(ChipByte(0x0510) & 0x80, 0x80);
    EXPECT_EQ(ChipByte(0x050C) & 0x10, 0x10);
    EXPECT_EQ(ChipByte(0x0512) & 0x10, 0x10);
    EXPECT_EQ(ChipByte(0x051B), 0x15);  // the probe's closing write
    EXPECT_EQ(Chip().FlashStatus(), 0x00);

    SetChipByte(0x051B, 0x00);
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOn(), 1);
    EXPECT_EQ(ChipByte(0x0512) & 0x10, 0x10);  // the pin stays high
    EXPECT_EQ(Chip().FlashStatus(), 0x00);     // no status register write
    EXPECT_EQ(ChipByte(0x051B), 0x15);         // but the probe ran
}

TEST_F(WriteProtect1010, NegativeProbeUsesOnlyTheFamilyPair) {
    SetChipByte(0x050F, 0x40);  // bits 5-6 = 2
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
    EXPECT_EQ(ChipByte(0x050A), 0x00);
    EXPECT_EQ(ChipByte(0x0510), 0x00);
    EXPECT_EQ(ChipByte(0x0512) & 0x10, 0x10);
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOn(), 1);
    EXPECT_EQ(ChipByte(0x050C) & 0x10, 0x10);
    EXPECT_EQ(ChipByte(0x0512) & 0x10, 0x00);
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
}

TEST_F(FlowSimFixture, WriteProtectionFailsWithoutDevice) {
    Start({"[chip]\n"});
    CMpFlow4 flow;
    EXPECT_EQ(flow.MP_SPIWriteProtectOff(), 0);
    EXPECT_EQ(flow.MP_SPIWriteProtectOn(), 0);
}

TEST_F(FlowSimFixture, WriteProtectionFailsWhenAPinRegisterCannotBeRead) {
    // Every register read (vendor request 0x25) is refused.
    Start({"[chip]\n[faults]\nfail_request = 0x25\nfail_times = 1000\n"});
    const std::uint8_t status = Chip().FlashStatus();
    CMpFlow4 flow;
    ASSERT_EQ(flow.MP_OpenDevice(0), 1);
    EXPECT_EQ(flow.MP_SPIWriteProtectOff(), 0);
    EXPECT_EQ(flow.MP_SPIWriteProtectOn(), 0);
    EXPECT_EQ(Chip().FlashStatus(), status);  // the status register was not touched
}

}  // namespace
