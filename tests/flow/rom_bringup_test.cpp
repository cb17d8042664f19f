// Bringing the virtual chip into its ROM loader and back: MP_OpenRomDevice, MP_ResetToRomCode and
// the reset request kinds, in virtual time (the chip leaves the bus and comes back with a new
// device node).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flow/MpFlow4.h"
#include "flow_fixture.h"
#include "platform/OperationLog.h"

namespace {

using uafw::flowtest::BuiltInImage;
using uafw::flowtest::FlowSimFixture;
using uafw::flowtest::Posted;

class RomBringUp : public FlowSimFixture {
protected:
    void Open(const std::string& chip, bool withImage = true) {
        Start({chip}, withImage ? BuiltInImage() : std::vector<std::uint8_t>{});
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
        ASSERT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
        m_node = m_flow.m_hDevice;
        m_window.Clear();
    }

    CMpFlow4 m_flow;
    std::uint32_t m_node = 0;
};

TEST_F(RomBringUp, ChipRunningItsCodeIsResetIntoTheRomLoaderAndReopened) {
    Open("[chip]\nreenum_ms = 1500\n");
    ASSERT_TRUE(Chip().RunningCode());
    ASSERT_EQ(m_flow.m_strDeviceMode, "SPI");
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 1);
    EXPECT_GE(m_clock.NowMs() - before, 1500u);
    EXPECT_FALSE(Chip().RunningCode());
    EXPECT_EQ(Chip().BootMode(), 0);
    EXPECT_NE(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_hDevice, DA_GetDeviceNode());
    EXPECT_EQ(m_flow.m_dwAccessFlags, 0u);
    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgStatus, kStatusWaitReset}}));
    EXPECT_EQ(g_ErrCode, kStatusWaitReset);
    // The reopened chip answers through the new handle.
    std::int32_t inCache = -1;
    m_flow.MP_InCacheTest(inCache);
    EXPECT_EQ(inCache, 0);
}

TEST_F(RomBringUp, BankCopyIsSwitchedOnAfterTheResetOfA7050) {
    Open("[chip]\n");
    m_flow.m_bBankCopyOn = 1;
    ASSERT_EQ(m_flow.MP_OpenRomDevice(), 1);
    EXPECT_EQ(ChipByte(0xD6AD) & 0x22, 0x02);
}

struct InRomCase {
    std::int32_t bankCopy;
    std::uint8_t expected;  // 0xD6AD after, from 0x22 before
};

class AlreadyInRom : public RomBringUp, public ::testing::WithParamInterface<InRomCase> {};

TEST_P(AlreadyInRom, ChipInItsRomLoaderIsNotResetOnlyTheBankControlIsSet) {
    Open("[chip]\nboot_rom = 1\n");
    ASSERT_EQ(m_flow.m_strDeviceMode, "ROM");
    SetChipByte(0xD6AD, 0x22);
    m_flow.m_bBankCopyOn = GetParam().bankCopy;
    m_flow.m_byRomMode = 0;
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 1);
    EXPECT_EQ(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_byRomMode, 1);
    EXPECT_EQ(ChipByte(0xD6AD), GetParam().expected);
    EXPECT_TRUE(m_window.Posts().empty());
}

INSTANTIATE_TEST_SUITE_P(BankCopy, AlreadyInRom,
                         ::testing::Values(InRomCase{0, 0x20}, InRomCase{1, 0x02}),
                         [](const auto& info) {
                             return info.param.bankCopy ? std::string("On") : std::string("Off");
                         });

TEST_F(RomBringUp, ChipD010InItsRomLoaderGetsFED0Set) {
    Open("[chip]\nid = 0xD010\nboot_rom = 1\n");
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 1);
    EXPECT_EQ(m_flow.m_hDevice, m_node);
    EXPECT_EQ(ChipByte(0xFED0), 0x1E);
}

TEST_F(RomBringUp, ChipB013RunningFromFlashHasItsConfigurationAndTagZeroedFirst) {
    Open("[chip]\nid = 0xB013\n");
    ASSERT_EQ(m_flow.m_strDeviceMode, "SPI");
    const auto before = Chip().FlashBytes();
    ASSERT_NE(before[0xF000], 0x00);
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 1);
    const auto after = Chip().FlashBytes();
    EXPECT_EQ(after[0xF000], 0x00);
    EXPECT_EQ(after[0xEFFE], 0x00);
    EXPECT_EQ(after[0xEFFF], 0x00);
    EXPECT_EQ(after[0xF001], before[0xF001]);
    EXPECT_EQ(after[0], before[0]);
    // Protection is on again and the access flags are clear.
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_EQ(m_flow.m_dwAccessFlags, 0u);
    EXPECT_NE(m_flow.m_hDevice, m_node);
}

TEST_F(RomBringUp, ChipB013InRomAndSpiModeHasItsFirstFlashByteZeroedBeforeTheRomRestart) {
    Open("[chip]\nid = 0xB013\n");
    m_flow.m_strDeviceMode = "ROM&&SPI";
    const auto before = Chip().FlashBytes();
    EXPECT_NE(m_flow.MP_ResetToRomCode(), 0);
    const auto after = Chip().FlashBytes();
    EXPECT_EQ(after[0], 0x00);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[0xF000], before[0xF000]);
    EXPECT_NE(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_dwAccessFlags, 0u);
}

TEST_F(RomBringUp, FailedResetPostsResetDeviceFailAndLogsIt) {
    Open("[chip]\n[faults]\nnever_return = 1\n");
    std::vector<std::string> lines;
    uafw::ScopedLogObserver observer(
        [&](const std::u16string& line) { lines.emplace_back(line.begin(), line.end()); });
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 0);
    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgStatus, kStatusWaitReset},
                                                     {kMsgFailure, kResetDeviceFailCode}}));
    EXPECT_EQ(g_ErrCode, kResetDeviceFailCode);
    EXPECT_EQ(m_flow.m_hDevice, 0u);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("----------------: Device ResetToUpdateFW Fail") != std::string::npos;
    }));
}

TEST_F(RomBringUp, CancelledBringUpDoesNotReset) {
    Open("[chip]\n");
    m_window.SetStop(true);
    EXPECT_EQ(m_flow.MP_OpenRomDevice(), 0);
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_EQ(g_ErrCode, kResetDeviceFailCode);
}

TEST_F(RomBringUp, ResetModeZeroLeavesAModeRegisterChipAlone) {
    Open("[chip]\n");
    m_flow.m_byResetMode = 0;
    EXPECT_EQ(m_flow.MP_ResetToRomCode(), 1);
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_EQ(m_flow.m_hDevice, m_node);
}

TEST_F(RomBringUp, LegacyChipNotInCacheIsTakenAsAlreadyInItsRomLoader) {
    Open("[chip]\ntype = KSC7020\nboot_rom = 1\n");
    m_flow.m_byRomMode = 0;
    EXPECT_EQ(m_flow.MP_ResetToRomCode(), 1);
    EXPECT_EQ(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_byRomMode, 1);
}

TEST_F(RomBringUp, LegacyChipInCacheIsResetIntoItsRomLoader) {
    Open("[chip]\ntype = KSC7020\n");
    ASSERT_TRUE(Chip().RunningCode());
    EXPECT_EQ(m_flow.MP_ResetToRomCode(), 1);
    EXPECT_FALSE(Chip().RunningCode());
    EXPECT_NE(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_byRomMode, 0);
}

TEST_F(RomBringUp, LegacyFamily3000NotInCacheIsStillReset) {
    Open("[chip]\nid = 0x3001\nboot_rom = 1\n");
    EXPECT_EQ(m_flow.MP_ResetToRomCode(), 1);
    EXPECT_NE(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_byRomMode, 0);
}

TEST_F(RomBringUp, RestartRequestBringsTheChipBackIntoItsCode) {
    Open("[chip]\n");
    ASSERT_EQ(m_flow.MP_OpenRomDevice(), 1);
    ASSERT_FALSE(Chip().RunningCode());
    const std::uint32_t romNode = m_flow.m_hDevice;
    EXPECT_EQ(m_flow.MP_ResetRequest(kResetKindRestart, 0), 1);
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_NE(m_flow.m_hDevice, romNode);
    EXPECT_EQ(m_flow.m_hDevice, DA_GetDeviceNode());
}

TEST_F(RomBringUp, RomRestartRequestReconnectsUnderANewHandle) {
    Open("[chip]\n");
    EXPECT_EQ(m_flow.MP_ResetRequest(kResetKindRom, 0), 1);
    EXPECT_NE(m_flow.m_hDevice, m_node);
    EXPECT_EQ(m_flow.m_hDevice, DA_GetDeviceNode());
}

TEST_F(RomBringUp, UnknownKindCancelAndNoDeviceAreRefused) {
    Open("[chip]\n");
    EXPECT_EQ(m_flow.MP_ResetRequest(8, 0), 0);
    m_window.SetStop(true);
    EXPECT_EQ(m_flow.MP_ResetRequest(kResetKindUpdateFw, 6), 0);
    m_window.SetStop(false);
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_EQ(m_flow.m_hDevice, m_node);
    m_flow.m_hDevice = 0;
    EXPECT_EQ(m_flow.MP_ResetRequest(kResetKindUpdateFw, 6), 0);
    EXPECT_TRUE(Chip().RunningCode());
}

}  // namespace
