// The flow core against the virtual chip: the factory and the operation table, opening a device,
// the information, version and device-list refreshes, the in-cache test and the cancel check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <typeinfo>

#include "flow/EepromInfo.h"
#include "flow/FlowFactory.h"
#include "flow/MpFlow4.h"
#include "flow/OtpInfo.h"
#include "flow/SPIFlashInfoUSB.h"
#include "flow_fixture.h"
#include "platform/OperationLog.h"

namespace {

using uafw::flowtest::FlowSimFixture;
using uafw::flowtest::Posted;

// ---- factory and operation table ---------------------------------------------------------------

struct FactoryCase {
    std::int32_t project;
    std::int32_t bus;
    const std::type_info* type;  // null: no flow object
};

class FlowFactory : public ::testing::TestWithParam<FactoryCase> {
protected:
    void TearDown() override { ReleaseFlowObject(); }
};

TEST_P(FlowFactory, ProjectAndBusTypeChooseTheConcreteClass) {
    const FactoryCase& c = GetParam();
    g_ErrCode = 41705;
    CFlowConfigLayer* flow = CreateFlowObject(c.project, c.bus);
    EXPECT_EQ(flow, g_pFlow);
    EXPECT_EQ(g_ErrCode, 0);
    if (c.type == nullptr) {
        EXPECT_EQ(flow, nullptr);
    } else {
        ASSERT_NE(flow, nullptr);
        EXPECT_EQ(typeid(*flow), *c.type);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, FlowFactory,
    ::testing::Values(FactoryCase{kProjectFlash, kBusUsb, &typeid(CSPIFlashInfo_USB)},
                      FactoryCase{kProjectEeprom8, kBusUsb, &typeid(CEepromInfo8_USB)},
                      FactoryCase{kProjectEeprom16, kBusUsb, &typeid(CEepromInfo16_USB)},
                      FactoryCase{kProjectOtp, kBusUsb, &typeid(COTPInfo_USB)},
                      FactoryCase{kProjectMtp, kBusUsb, nullptr},
                      FactoryCase{kProjectFlash, kBusPcie, nullptr},
                      FactoryCase{kProjectFlash, kBusMipi, nullptr},
                      FactoryCase{1, kBusUsb, nullptr}),
    [](const auto& info) {
        return "Project" + std::to_string(info.param.project) + "Bus" +
               std::to_string(info.param.bus);
    });

TEST(FlowFactoryLifetime, RecreationKeepsDeviceHandleAndImageFileButNothingElse) {
    CFlowConfigLayer* first = CreateFlowObject(kProjectFlash, kBusUsb);
    ASSERT_NE(first, nullptr);
    first->m_hDevice = 0x1234;
    first->m_ImageRecord.m_strImageFile = "fw.bin";
    first->m_ImageRecord.m_image.assign(16, 0x02);
    first->m_wVid = 0x1209;
    g_ErrCode = 41512;

    CFlowConfigLayer* second = RecreateFlowObject(kProjectOtp, kBusUsb);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(typeid(*second), typeid(COTPInfo_USB));
    EXPECT_EQ(second->m_hDevice, 0x1234u);
    EXPECT_EQ(second->m_ImageRecord.m_strImageFile, "fw.bin");
    EXPECT_TRUE(second->m_ImageRecord.m_image.empty());
    EXPECT_EQ(second->m_wVid, 0);
    EXPECT_EQ(g_ErrCode, 0);

    // A plain creation starts from nothing.
    CFlowConfigLayer* third = CreateFlowObject(kProjectFlash, kBusUsb);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->m_hDevice, 0u);
    EXPECT_TRUE(third->m_ImageRecord.m_strImageFile.empty());
    ReleaseFlowObject();
    EXPECT_EQ(g_pFlow, nullptr);
}

TEST(FlowOperationTable, OperationsAClassDoesNotOfferReportNotSupport) {
    // The configuration layer offers none of the memory operations.
    CFlowConfigLayer bare;
    const auto notSupported = [](int result) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(g_ErrCode, kNotSupportCode);
        g_ErrCode = 0;
    };
    notSupported(bare.OpRead());
    notSupported(bare.OpErase());
    notSupported(bare.OpUpdate());
    notSupported(bare.OpDownload());
    notSupported(bare.OpSilentWrite("x.bin"));
    notSupported(bare.OpSilentWriteSN("x.bin", "SN"));
    notSupported(bare.OpReadToBinFile("x.bin"));
    notSupported(bare.OpSilentVerify("x.bin"));
    notSupported(bare.OpReadToHexFile("x.txt"));
    notSupported(bare.OpEraseWithRestart(1));
    notSupported(bare.OpSlot11());

    // Slot 11 exists only for 8-bit EEPROMs.
    CEepromInfo16_USB eeprom16;
    notSupported(eeprom16.OpSlot11());
    CEepromInfo8_USB eeprom8;
    EXPECT_EQ(eeprom8.OpSlot11(), 1);
    EXPECT_EQ(g_ErrCode, 0);

    // An OTP memory cannot be erased, verified or dumped as text: 0 without a reason.
    COTPInfo_USB otp;
    g_ErrCode = 7;
    EXPECT_EQ(otp.OpErase(), 0);
    EXPECT_EQ(otp.OpSilentVerify("x.bin"), 0);
    EXPECT_EQ(otp.OpReadToHexFile("x.txt"), 0);
    EXPECT_EQ(otp.OpEraseWithRestart(0), 0);
    EXPECT_EQ(g_ErrCode, 7);
    g_ErrCode = 0;
}

TEST(FlowOperationTable, PrepareTakesOnlyTheFlowsOwnImages) {
    CSPIFlashInfo_USB flow;
    const std::vector<std::uint8_t> foreign(0x10000, 0xFF);
    EXPECT_EQ(flow.OpPrepare(foreign), 0);
    // The flow's own image without a configuration area is not prepared either.
    flow.m_ImageRecord.m_image.assign(0x10000, 0xFF);
    EXPECT_EQ(flow.OpPrepare(flow.m_ImageRecord.m_image), 0);
}

// ---- opening, refresh, cache state -------------------------------------------------------------

class FlowCore : public FlowSimFixture {
protected:
    // The version text of the image the chip runs from flash offset 0, as the chip reports it.
    std::string RunningVersionText(const char* suffix) {
        const auto flash = Chip().FlashBytes();
        const std::uint8_t* v = flash.data() + 0x100C;
        char text[96];
        std::snprintf(text, sizeof(text), "%01X.%01X%02X.%04X-%04X.%04X%s", v[0] >> 4, v[0] & 0xF,
                      v[1], v[2] << 8 | v[3], v[4] << 8 | v[5], v[6] << 8 | v[7], suffix);
        return text;
    }

    CMpFlow4 m_flow;
};

TEST_F(FlowCore, OpenDeviceOpensTheListEntryAndClosesThePreviousOne) {
    Start({"[chip]\nport = 1\n", "[chip]\nport = 2\npid = 0x7042\n"});
    ASSERT_EQ(m_flow.MP_OpenDevice(1), 1);
    EXPECT_EQ(m_flow.m_hDevice, DA_GetDeviceNode());
    std::uint16_t vid = 0, pid = 0, rev = 0;
    DA_GetIds(m_flow.m_hDevice, vid, pid, rev);
    EXPECT_EQ(pid, 0x7042);

    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    DA_GetIds(m_flow.m_hDevice, vid, pid, rev);
    EXPECT_EQ(pid, 0x7050);
}

TEST_F(FlowCore, OpenDeviceReplacesADeviceTheLibraryStillHoldsWithoutAHandle) {
    Start({"[chip]\nport = 1\n", "[chip]\nport = 2\npid = 0x7042\n"});
    ASSERT_NE(DA_OpenByIndex(0), 0u);  // left open by someone else; the flow holds no handle
    ASSERT_EQ(m_flow.MP_OpenDevice(1), 1);
    std::uint16_t vid = 0, pid = 0, rev = 0;
    DA_GetIds(m_flow.m_hDevice, vid, pid, rev);
    EXPECT_EQ(pid, 0x7042);
}

TEST_F(FlowCore, FailedOpenLogsTheIndexAndPauses128Ms) {
    Start({"[chip]\n"});
    std::vector<std::string> lines;
    uafw::ScopedLogObserver observer(
        [&](const std::u16string& line) { lines.emplace_back(line.begin(), line.end()); });
    const std::uint64_t before = m_clock.NowMs();
    EXPECT_EQ(m_flow.MP_OpenDevice(3), 0);
    EXPECT_EQ(m_clock.NowMs() - before, 128u);
    EXPECT_EQ(m_flow.m_hDevice, 0u);
    bool found = false;
    for (const std::string& line : lines)
        found = found || line.find("----------------: MP_OpenDevice Fail 3") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST_F(FlowCore, CancelledOpenOpensNothing) {
    Start({"[chip]\n"});
    m_window.SetStop(true);
    EXPECT_EQ(m_flow.MP_OpenDevice(0), 0);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
    // Without a main window nothing cancels.
    g_pMainDlg = nullptr;
    EXPECT_EQ(m_flow.MP_OpenDevice(0), 1);
}

TEST_F(FlowCore, RefreshWithoutDeviceShowsNoDevice) {
    Start({"[chip]\n"});
    m_flow.m_strConnection = "USB Audio Connected";
    m_flow.m_strFwVersion = "1.234";
    m_flow.m_strProductName = "Old";
    EXPECT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    EXPECT_EQ(m_flow.m_strConnection, "No USB Audio");
    EXPECT_EQ(m_flow.m_strFwVersion, "N/A");
    EXPECT_EQ(m_flow.m_strProductName, "N/A");
}

TEST_F(FlowCore, RefreshOfAChipRunningItsFlashCode) {
    Start({"[chip]\npid = 0x7051\nrev = 0x0203\n"}, uafw::flowtest::BuiltInImage());
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    ASSERT_TRUE(Chip().RunningCode());
    EXPECT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    EXPECT_EQ(m_flow.m_strConnection, "USB Audio Connected");
    EXPECT_EQ(m_flow.m_strProductName, "KSC7050 USB Audio");
    EXPECT_EQ(m_flow.m_wVid, 0x1209);
    EXPECT_EQ(m_flow.m_wPid, 0x7051);
    EXPECT_EQ(m_flow.m_wRev, 0x0203);
    EXPECT_EQ(m_flow.m_wChipId, 0xD011);
    EXPECT_EQ(m_flow.m_strFwVersion, RunningVersionText("-VID1209&&PID7051"));
    EXPECT_EQ(m_flow.m_bModeRegister, 1);
    EXPECT_EQ(m_flow.m_bFamily0010, 0);
    EXPECT_EQ(m_flow.m_strDeviceMode, "SPI");
    EXPECT_EQ(m_flow.m_byRomMode, 0);
}

TEST_F(FlowCore, RefreshOfAChipInItsRomLoader) {
    Start({"[chip]\nboot_rom = 1\n"});
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    EXPECT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    EXPECT_EQ(m_flow.m_strDeviceMode, "ROM");
    EXPECT_EQ(m_flow.m_byRomMode, 1);
    // The ROM loader reports the version bytes 0xBB in version format 3.
    EXPECT_EQ(m_flow.m_strFwVersion, "B.BBB.BBBB-BBBB.BBBB-VID1209&&PID7050");
}

TEST_F(FlowCore, RomAndSpiBootModeTakesTheVersionFromTheExtendedStatus) {
    // A configuration-only flash: the ROM code runs with the configuration from flash.
    std::vector<std::uint8_t> flash(0x4000, 0xFF);
    flash[0] = 0x00;
    flash[1] = 0xA5;
    const std::uint8_t version[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    std::copy(std::begin(version), std::end(version), flash.begin() + 0x11B);
    Start({"[chip]\n"}, flash);
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    ASSERT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    EXPECT_EQ(m_flow.m_strDeviceMode, "ROM&&SPI");
    EXPECT_EQ(m_flow.m_strFwVersion, "1.234.5678-9ABC.DEF0-VID1209&&PID7050");
    // The boot-mode register reads nonzero: the chip counts as running its code.
    EXPECT_EQ(m_flow.m_byRomMode, 0);
}

TEST_F(FlowCore, LegacyChipKeepsItsDeviceModeText) {
    Start({"[chip]\ntype = KSC7020\n"}, uafw::flowtest::BuiltInImage());
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    m_flow.m_strDeviceMode = "kept";
    EXPECT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    EXPECT_EQ(m_flow.m_wChipId, 0x7011);
    EXPECT_EQ(m_flow.m_bModeRegister, 0);
    EXPECT_EQ(m_flow.m_strDeviceMode, "kept");
    EXPECT_EQ(m_flow.m_byRomMode, 0);
}

TEST_F(FlowCore, VersionRefreshChangesOnlyTheVersionText) {
    Start({"[chip]\n"}, uafw::flowtest::BuiltInImage());
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    ASSERT_EQ(m_flow.MP_RefreshDeviceInfo(), 1);
    m_flow.m_strFwVersion = "stale";
    m_flow.m_strProductName = "kept";
    EXPECT_EQ(m_flow.MP_RefreshVersion(), 1);
    EXPECT_EQ(m_flow.m_strFwVersion, RunningVersionText("-VID1209&&PID7050"));
    EXPECT_EQ(m_flow.m_strProductName, "kept");
}

TEST_F(FlowCore, DeviceListRefreshKeepsTheVersionAsNumbersWithoutIdentitySuffix) {
    Start({"[chip]\npid = 0x7051\nrev = 0x0203\n"}, uafw::flowtest::BuiltInImage());
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    EXPECT_EQ(m_flow.MP_RefreshDeviceListInfo(), 1);
    EXPECT_EQ(m_flow.m_strFwVersion, RunningVersionText(""));
    const auto flash = Chip().FlashBytes();
    const std::uint8_t* v = flash.data() + 0x100C;
    const FirmwareVersionParts expected{
        {static_cast<std::uint16_t>(v[0] >> 4), static_cast<std::uint16_t>(v[0] & 0xF), v[1],
         static_cast<std::uint16_t>(v[2] << 8 | v[3]), static_cast<std::uint16_t>(v[4] << 8 | v[5]),
         static_cast<std::uint16_t>(v[6] << 8 | v[7])}};
    EXPECT_EQ(m_flow.m_deviceVersion, expected);
    EXPECT_EQ(m_flow.m_strListVidPid, "VID_1209&PID_7051");
    EXPECT_EQ(m_flow.m_strListIdentity, "VID_1209&PID_7051&REV_0203");
    EXPECT_NE(m_flow.m_strListDevice.find("&REV_0203"), std::string::npos);
    EXPECT_EQ(m_flow.m_strConnection, "USB Audio Connected");
}

struct CacheCase {
    const char* name;
    const char* chip;
    std::int32_t inCache;
};

class InCacheTest : public FlowCore, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(InCacheTest, AnswersWhetherTheChipRunsItsDownloadedCode) {
    Start({GetParam().chip}, uafw::flowtest::BuiltInImage());
    ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
    std::int32_t inCache = -1;
    EXPECT_EQ(m_flow.MP_InCacheTest(inCache), 1);
    EXPECT_EQ(inCache, GetParam().inCache);
    EXPECT_EQ(Chip().RunningCode(), GetParam().inCache == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, InCacheTest,
    ::testing::Values(CacheCase{"ModeRegisterRunning", "[chip]\n", 1},
                      CacheCase{"ModeRegisterInRom", "[chip]\nboot_rom = 1\n", 0},
                      // Family 0x7010 answers from the active image record's run state.
                      CacheCase{"Family7010Running", "[chip]\ntype = KSC7020\n", 1},
                      CacheCase{"Family7010InRom", "[chip]\ntype = KSC7020\nboot_rom = 1\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StatusInfo, ActiveRecordIsTheFirstRunningOneElseTheSecondUnlessItIsTheRomMark) {
    CStatusInfo s;
    s.m_status[64] = 0x31;
    s.m_status[72] = 0x21;
    EXPECT_EQ(s.ActiveRecordOffset(), 64u);
    s.m_status[64] = 0x30;
    EXPECT_EQ(s.ActiveRecordOffset(), 72u);
    EXPECT_EQ(s.ActiveVersionFormat(), 2);
    s.m_status[72] = 0x3B;
    EXPECT_EQ(s.ActiveRecordOffset(), 64u);
    s.m_status[72] = 0x30;
    EXPECT_EQ(s.ActiveRecordOffset(), 64u);
}

// ---- notifications -----------------------------------------------------------------------------

TEST_F(FlowCore, FinalSuccessClearsTheResultCodeOtherWordsAreKept) {
    CMpFlow::PostStatus(kStatusErasing);
    CMpFlow::PostFailure(41705);
    EXPECT_EQ(g_ErrCode, 41705);
    CMpFlow::PostSuccess(41755);
    EXPECT_EQ(g_ErrCode, 0);
    CMpFlow::PostProgress(35);
    EXPECT_EQ(g_ErrCode, 35);
    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgStatus, kStatusErasing},
                                                     {kMsgFailure, 41705},
                                                     {kMsgSuccess, 41755},
                                                     {kMsgProgress, 35}}));
    // Without a main window the word is still recorded.
    g_pMainDlg = nullptr;
    CMpFlow::PostFailure(41512);
    EXPECT_EQ(g_ErrCode, 41512);
    EXPECT_EQ(m_window.Posts().size(), 4u);
}

}  // namespace

namespace {

TEST(AccessBitScope, SetsTheBitsAndGivesBackTheirPreviousStateOnLeaving) {
    CZynFun flow;
    flow.m_dwAccessFlags = 0x100;
    {
        CAccessBitScope forceExtUnit(flow, kAccessForceExtUnit);
        EXPECT_EQ(flow.m_dwAccessFlags, 0x120u);
        flow.m_dwAccessFlags |= 0x01;  // other bits changed inside stay changed
    }
    EXPECT_EQ(flow.m_dwAccessFlags, 0x101u);
    flow.m_dwAccessFlags = kAccessForceExtUnit;
    { CAccessBitScope again(flow, kAccessForceExtUnit); }
    EXPECT_EQ(flow.m_dwAccessFlags, kAccessForceExtUnit);
}

TEST(ZynFun, CommandsWithoutAnOpenDeviceFailWithoutTouchingAnyDevice) {
    CZynFun flow;
    std::uint8_t byte = 0x5A;
    std::uint16_t id = 0x1234;
    EXPECT_EQ(flow.ReadByte(0xFE21, byte), 0);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(flow.ReadChipId(id), 0);
    EXPECT_EQ(id, 0x1234);
    EXPECT_EQ(flow.WriteByte(0xFED0, 0x1E), 0);
    EXPECT_EQ(flow.SpiEraseChip(1000), 0);
    std::uint8_t data[4] = {};
    EXPECT_EQ(flow.SpiWrite(0, data), 0);
}

}  // namespace
