// The flash erase against the virtual chip: the chip-code variants and what they leave in flash,
// the three attempts 128 ms apart, "EraseCommandTime", cancel, and the notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "flow/MpFlow4.h"
#include "flow_fixture.h"

namespace {

using uafw::flowtest::FlowSimFixture;
using uafw::flowtest::Posted;

constexpr std::uint32_t kFlashSize = 0x80000;

// A flash full of 0x00 except where erased, so that every erased byte shows.
std::vector<std::uint8_t> ProgrammedFlash() {
    return std::vector<std::uint8_t>(kFlashSize, 0x00);
}

bool Erased(const std::vector<std::uint8_t>& flash, std::uint32_t from, std::uint32_t to) {
    return std::all_of(flash.begin() + from, flash.begin() + to, [](auto b) { return b == 0xFF; });
}
bool Untouched(const std::vector<std::uint8_t>& flash, std::uint32_t from, std::uint32_t to) {
    return std::all_of(flash.begin() + from, flash.begin() + to, [](auto b) { return b == 0x00; });
}

class FlashErase : public FlowSimFixture {
protected:
    void StartChip(std::uint16_t chipId, int chipCode, const char* extra = "") {
        char chip[128];
        std::snprintf(chip, sizeof(chip), "[chip]\nid = 0x%04X\nflash_size = 0x%X\n%s", chipId,
                      kFlashSize, extra);
        Start({chip}, ProgrammedFlash());
        UseChipCode(chipId, chipCode);
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
        ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
        m_window.Clear();
    }

    CMpFlow4 m_flow;
};

TEST_F(FlashErase, OtherChipsEraseTheWholeChipAndPostErasingThenFive) {
    StartChip(0xD011, 25);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 1);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
    EXPECT_EQ(m_window.Posts(),
              (std::vector<Posted>{{kMsgStatus, kStatusErasing}, {kMsgProgress, 5}}));
}

TEST_F(FlashErase, ChipCode23ErasesOnlyTheSecondBank) {
    StartChip(0xE011, 23);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x30000), 1);
    const auto flash = Chip().FlashBytes();
    EXPECT_TRUE(Untouched(flash, 0, 0x10000));
    EXPECT_TRUE(Erased(flash, 0x10000, 0x20000));
    EXPECT_TRUE(Untouched(flash, 0x20000, kFlashSize));
}

TEST_F(FlashErase, ChipCode26ErasesTheBlocksOfTheImageLengthFromTheImageLength) {
    StartChip(0x1011, 26);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x20000), 1);
    const auto flash = Chip().FlashBytes();
    EXPECT_TRUE(Untouched(flash, 0, 0x20000));
    EXPECT_TRUE(Erased(flash, 0x20000, 0x40000));
    EXPECT_TRUE(Untouched(flash, 0x40000, kFlashSize));
}

TEST_F(FlashErase, ChipCode26RefusesARegionThatIsNotWholeBlocksAndErasesTheChipWithoutRegion) {
    // Erasing the block around an unaligned image length would erase the end of the running bank.
    StartChip(0x1011, 26);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0xFFFD), 0);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x18000), 0);
    EXPECT_TRUE(Untouched(Chip().FlashBytes(), 0, kFlashSize));
    // Without a region (the erase of the whole memory) the whole chip is erased.
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0), 1);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
}

TEST_F(FlashErase, ChipCode30ErasesBlockZeroWhenBit7Of0409IsSetElseTheChip) {
    StartChip(0xD011, 30);
    SetChipByte(0x0409, 0x80);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 1);
    auto flash = Chip().FlashBytes();
    EXPECT_TRUE(Erased(flash, 0, 0x10000));
    EXPECT_TRUE(Untouched(flash, 0x10000, kFlashSize));

    SetChipByte(0x0409, 0x7F);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 1);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
}

TEST_F(FlashErase, SkipSpecialAlwaysErasesTheWholeChip) {
    StartChip(0xE011, 23);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(1, 0x10000), 1);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
}

TEST_F(FlashErase, ThreeFailedAttemptsEndWithZeroAfterThreePausesAndTheCommandTime) {
    StartChip(0xD011, 25);
    SetSetting("EraseCommandTime", 700);
    // Protected flash refuses every erase.
    ASSERT_EQ(m_flow.MP_SPIWriteProtectOn(), 1);
    m_window.Clear();
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 0);
    EXPECT_EQ(m_clock.NowMs() - before, 3u * 128u + 700u);
    EXPECT_TRUE(Untouched(Chip().FlashBytes(), 0, kFlashSize));
    EXPECT_EQ(m_window.Posts(),
              (std::vector<Posted>{{kMsgStatus, kStatusErasing}, {kMsgProgress, 5}}));
}

TEST_F(FlashErase, AFailedFirstAttemptIsRetried) {
    // The first chip erase request (vendor request 0x32) is refused.
    StartChip(0xD011, 25, "[faults]\nfail_request = 0x32\nfail_times = 1\n");
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 1);
    EXPECT_GE(m_clock.NowMs() - before, 128u);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
}

TEST_F(FlashErase, CancelStopsBeforeAnyAttemptButStillWaitsAndPostsFive) {
    StartChip(0xD011, 25);
    SetSetting("EraseCommandTime", 300);
    m_window.SetStop(true);
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 0);
    EXPECT_EQ(m_clock.NowMs() - before, 300u);
    EXPECT_TRUE(Untouched(Chip().FlashBytes(), 0, kFlashSize));
    EXPECT_EQ(m_window.Posts(),
              (std::vector<Posted>{{kMsgStatus, kStatusErasing}, {kMsgProgress, 5}}));
}

TEST_F(FlashErase, EraseTimeOutBoundsTheChipErase) {
    // A chip erase that takes 5 s does not end within an "EraseTimeOut" of 1 s, but within 30 s.
    StartChip(0xD011, 25, "erase_ms = 5000\n");
    SetSetting("EraseTimeOut", 1000);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 0);
    SetSetting("EraseTimeOut", 30000);
    EXPECT_EQ(m_flow.MP_EraseSPIFlash(0, 0x10000), 1);
    EXPECT_TRUE(Erased(Chip().FlashBytes(), 0, kFlashSize));
}

}  // namespace
