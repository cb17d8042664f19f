// The device API against the virtual chip: the three transport rules, results 1/0, the command
// catalogue's placement on both transports and what lands in the chip's memories.
#include "device/DeviceApi.h"
#include "device/DeviceLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device_fixture.h"
#include "sim_fixture.h"

namespace uafw::test {
namespace {

bool AllClass(const std::vector<Transfer>& transfers) {
    for (const Transfer& t : transfers)
        if (!t.IsClass())
            return false;
    return !transfers.empty();
}

bool AllVendor(const std::vector<Transfer>& transfers) {
    for (const Transfer& t : transfers)
        if (!t.IsVendor())
            return false;
    return !transfers.empty();
}

class DeviceApiTest : public SimDeviceFixture {
protected:
    void Open(const std::string& ini = "[chip]\n") {
        Start({ini});
        ASSERT_NE(DA_OpenByIndex(0), 0u);
        Take();
    }
};

TEST_F(DeviceApiTest, WithoutCurrentDeviceEveryCallFailsAndSendsNothing) {
    Start({"[chip]\n"});
    std::uint8_t buffer[104] = {};
    std::uint16_t size = 64;
    std::uint8_t length = 8;
    EXPECT_EQ(DA_GetStatus(0, buffer, 0), 0);
    EXPECT_EQ(DA_ReadMem(0, 0xFE21, 2, buffer, kAccessForceExtUnit), 0);
    EXPECT_EQ(DA_SpiEraseBlock(0, 0, 1), 0);
    EXPECT_EQ(DA_OtpRead(0, 0, 8, buffer), 0);
    EXPECT_EQ(DA_SetDataControlSize(0, size), 0);
    EXPECT_EQ(DA_VendorCmd70Get(1, buffer, length), 0);
    EXPECT_TRUE(Take().empty());
}

TEST_F(DeviceApiTest, FlagBit5ChoosesTheExtensionUnitOverVendorRequests) {
    Open();
    std::uint8_t id[2] = {};
    ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, id, 0), 1);
    EXPECT_EQ(id[0] | (id[1] << 8), 0xD011);
    EXPECT_TRUE(AllVendor(Take()));

    std::uint8_t again[2] = {};
    ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, again, kAccessForceExtUnit), 1);
    EXPECT_EQ(again[0] | (again[1] << 8), 0xD011);
    EXPECT_TRUE(AllClass(Take()));
}

TEST_F(DeviceApiTest, WriteThroughOneTransportReadsBackThroughTheOther) {
    Open();
    const std::uint8_t data[10] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9};
    ASSERT_EQ(DA_WriteMem(0, 0x2000, 10, data, kAccessForceExtUnit), 1);
    const auto written = Take();
    ASSERT_EQ(written.size(), 3u);  // command block and two data pieces
    EXPECT_EQ(written[2].out, (std::vector<std::uint8_t>{0x98, 0xA9, 0, 0, 0, 0, 0, 0}));
    std::uint8_t back[10] = {};
    ASSERT_EQ(DA_ReadMem(0, 0x2000, 10, back, 0), 1);
    EXPECT_TRUE(std::equal(std::begin(data), std::end(data), back));
}

TEST_F(DeviceApiTest, LargeSpiReadOnBothTransportsMatchesTheFlash) {
    Open();
    const auto flash = Chip().FlashBytes();
    std::uint16_t size = 64;
    ASSERT_EQ(DA_SetDataControlSize(0, size), 1);
    Take();
    std::vector<std::uint8_t> viaUnit(0x10000);
    ASSERT_EQ(DA_SpiRead(0, 0, 0x10000, viaUnit.data(), kAccessForceExtUnit), 1);
    std::vector<Transfer> blocks;
    for (const Transfer& t : Take())
        if (t.IsCommandBlock())
            blocks.push_back(t);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].P(2), 0x8000);
    EXPECT_EQ(blocks[1].P(1), 0x8000);
    EXPECT_EQ(blocks[1].P(2), 0x8000);
    EXPECT_TRUE(std::equal(viaUnit.begin(), viaUnit.end(), flash.begin()));

    std::vector<std::uint8_t> viaVendor(0x10000);
    std::vector<std::uint32_t> progress;
    ASSERT_EQ(DA_SpiRead(
                  0, 0, 0x10000, viaVendor.data(), 0,
                  [](void* c, std::uint32_t n) {
                      static_cast<std::vector<std::uint32_t>*>(c)->push_back(n);
                  },
                  &progress),
              1);
    EXPECT_EQ(Take().size(), 16u);
    EXPECT_EQ(progress, std::vector<std::uint32_t>(16, 4096));
    EXPECT_EQ(viaVendor, viaUnit);
}

TEST_F(DeviceApiTest, SpiReadAt0x123456PacksTheAddressOnBothTransports) {
    Open("[chip]\nflash_size = 0x200000\n");
    const auto flash = Chip().FlashBytes();
    std::uint8_t unit[4] = {}, vendor[4] = {};
    ASSERT_EQ(DA_SpiRead(0, 0x123456, 4, unit, kAccessForceExtUnit), 1);
    const Transfer cmd = Take().at(0);
    EXPECT_EQ(cmd.out[0], 0x02);
    EXPECT_EQ(cmd.out[1], 0xC2);
    EXPECT_EQ(cmd.P(1), 0x3456);
    EXPECT_EQ(cmd.P(3), 0x0012);
    ASSERT_EQ(DA_SpiRead(0, 0x123456, 4, vendor, 0), 1);
    const Transfer request = Take().at(0);
    EXPECT_EQ(request.bRequest, 0x2E);
    EXPECT_EQ(request.wValue, 0x1200);
    EXPECT_EQ(request.wIndex, 0x3456);
    EXPECT_TRUE(std::equal(unit, unit + 4, flash.begin() + 0x123456));
    EXPECT_TRUE(std::equal(vendor, vendor + 4, unit));
}

TEST_F(DeviceApiTest, StatusBlockCarriesTheSignature) {
    Open();
    std::uint8_t status[104] = {};
    ASSERT_EQ(DA_GetStatus(0, status, 0), 1);
    EXPECT_EQ(Take().size(), 13u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(status + 24)), "QUORVEX");
    std::uint8_t viaUnit[104] = {};
    ASSERT_EQ(DA_GetStatus(0, viaUnit, kAccessForceExtUnit), 1);
    EXPECT_TRUE(std::equal(status, status + 32, viaUnit));
}

TEST_F(DeviceApiTest, ExtensionUnitOnlyCallsNeedLibTypeZeroUnlessForced) {
    Open("[chip]\nmemory = eeprom16\n");
    ASSERT_TRUE(DeviceLibraryStartup(1));
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(DA_OtpWrite(0, 0, 10, 4, data), 0);
    EXPECT_EQ(DA_Eep16Write(0, 0x40, 4, data, 0), 0);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(DA_Eep16Write(0, 0x40, 4, data, kAccessForceExtUnit), 1);
    EXPECT_TRUE(AllClass(Take()));

    ASSERT_TRUE(DeviceLibraryStartup(0));
    const std::uint8_t more[4] = {9, 8, 7, 6};
    ASSERT_EQ(DA_Eep16Write(0, 0x44, 4, more, 0), 1);
    ASSERT_EQ(DA_Eep16Fill(0, 0x100, 0x20, 0), 1);
    ASSERT_EQ(DA_Eep16WriteTag(0, 0), 1);
    const auto eeprom = Chip().EepromBytes();
    EXPECT_EQ(eeprom[0x40], 1);
    EXPECT_EQ(eeprom[0x47], 6);
    EXPECT_EQ(eeprom[1], 0xA5);
    for (int i = 0x100; i < 0x120; ++i)
        EXPECT_EQ(eeprom[i], 0xFF) << i;
    std::uint8_t back[8] = {};
    ASSERT_EQ(DA_Eep16Read(0, 0x40, 8, back, 0), 1);
    EXPECT_EQ(back[4], 9);
}

TEST_F(DeviceApiTest, DataControlSizeGrantedByTheChip) {
    Open("[chip]\nmax_data_size = 32\n");
    std::uint16_t size = 64;
    EXPECT_EQ(DA_SetDataControlSize(0, size), 0);
    EXPECT_EQ(size, 32);
    EXPECT_EQ(Chip().DataControlSize(), 32);
    std::uint8_t id[2] = {};
    ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, id, kAccessForceExtUnit), 1);
    EXPECT_EQ(id[0], 0x11);
}

TEST_F(DeviceApiTest, VendorOnlyCommandsAndTheirResults) {
    Open();
    EXPECT_EQ(DA_VendorCmd70Set(1), 1);
    const Transfer t = Take().at(0);
    EXPECT_EQ(t.bRequest, 0x70);
    EXPECT_EQ(t.wValue, 5);
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(DA_OtpRead(0, 0, 8, buffer), 1);  // the extension unit carries OTP reads
    EXPECT_TRUE(AllClass(Take()));
}

TEST_F(DeviceApiTest, LongVendorWriteLandsInTheChipInPieces) {
    Open();
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ASSERT_EQ(DA_WriteMem(0, 0x3000, 5000, data.data(), 0), 1);
    const auto written = Take();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].wIndex, 0x3000);
    EXPECT_EQ(written[0].wLength, 4096);
    EXPECT_EQ(written[1].wIndex, 0x3000 + 4096);
    EXPECT_EQ(written[1].wLength, 904);
    std::vector<std::uint8_t> back(5000);
    ASSERT_EQ(DA_ReadMem(0, 0x3000, 5000, back.data(), kAccessForceExtUnit), 1);
    EXPECT_EQ(back, data);
}

TEST_F(DeviceApiTest, ChipWithAnotherVendorsExtensionCodeNeverBecomesCurrent) {
    Start({"[chip]\next_code = 0x045E\n"});
    EXPECT_EQ(DA_OpenByIndex(0), 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
    std::uint8_t id[2] = {};
    EXPECT_EQ(DA_ReadMem(0, 0xFE21, 2, id, 0), 0);
}

TEST_F(DeviceApiTest, Eeprom8EraseAndTagOnBothTransports) {
    Open("[chip]\nmemory = eeprom8\n");
    const std::uint32_t size = static_cast<std::uint32_t>(Chip().EepromBytes().size());
    const std::uint8_t data[3] = {0x12, 0x34, 0x56};
    for (std::uint32_t flags : {0u, kAccessForceExtUnit}) {
        ASSERT_EQ(DA_Eep8Write(0, 0x20, 3, data, flags), 1) << flags;
        EXPECT_EQ(Chip().EepromBytes()[0x21], 0x34) << flags;
        ASSERT_EQ(DA_Eep8Erase(0, size, flags), 1) << flags;
        const auto erased = Chip().EepromBytes();
        EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](std::uint8_t b) {
            return b == 0xFF;
        })) << flags;
        ASSERT_EQ(DA_Eep8WriteTag(0, flags), 1) << flags;
        EXPECT_EQ(Chip().EepromBytes()[1], 0xA5) << flags;
        std::uint8_t back[2] = {};
        ASSERT_EQ(DA_Eep8Read(0, 0, 2, back, flags), 1) << flags;
        EXPECT_EQ(back[1], 0xA5) << flags;
    }
}

TEST_F(DeviceApiTest, OtpWriteLandsAndReadsBack) {
    Open("[chip]\nmemory = otp\n");
    const std::uint8_t data[8] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    ASSERT_EQ(DA_OtpWrite(0, 0x100, 20, 8, data), 1);
    EXPECT_TRUE(AllClass(Take()));
    const auto otp = Chip().OtpBytes();
    EXPECT_TRUE(std::equal(data, data + 8, otp.begin() + 0x100));
    std::uint8_t back[8] = {};
    ASSERT_EQ(DA_OtpRead(0, 0x100, 8, back), 1);
    EXPECT_TRUE(std::equal(data, data + 8, back));
}

// A device whose transports are the extension unit only (it kept its capabilities after a
// reset): the vendor-request-only commands fail without sending anything.
class ExtUnitOnlyDeviceTest : public DeviceFixture {
protected:
    void TearDown() override {
        CCurrentDevice::Instance().Close();
        DeviceFixture::TearDown();
    }
};

TEST_F(ExtUnitOnlyDeviceTest, EraseBlockNeedsVendorRequests) {
    FakeChip chip;
    chip.vendorRequests = false;
    backend.Add(chip);
    auto record = std::make_unique<DeviceRecord>();
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, *record), 0u);
    ASSERT_TRUE(ProbeCapabilities(*record));
    CCurrentDevice::Instance().Set(std::make_unique<CZynCam>(std::move(record)), 1);
    backend.ClearTransfers();
    EXPECT_EQ(DA_SpiEraseBlock(0, 0, 1), 0);
    std::uint8_t length = 4;
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(DA_VendorCmd70Get(1, buffer, length), 0);
    EXPECT_TRUE(backend.Transfers().empty());
    // Selected commands take the extension unit.
    EXPECT_EQ(DA_ReadMem(0, 0x10, 4, buffer, 0), 1);
    EXPECT_TRUE(backend.Transfers().at(0).IsCommandBlock());
}

}  // namespace
}  // namespace uafw::test
