// The vendor-request transport: setup packing, 4096-byte pieces with progress, the erase-block
// completion wait, the status byte and the 0x70 requests.
#include "device/VendorRequestV2.h"

#include <gtest/gtest.h>

#include "device_fixture.h"
#include "platform/Clock.h"

namespace uafw::test {
namespace {

class VendorRequestTest : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        backend.Add(FakeChip{});
        record = AttachRecord();
        vr = std::make_unique<CVendorRequestV2>(*record);
        Take();
    }
    void TearDown() override {
        vr.reset();
        record.reset();
        DeviceFixture::TearDown();
    }
    std::unique_ptr<DeviceRecord> record;
    std::unique_ptr<CVendorRequestV2> vr;
};

void Collect(void* context, std::uint32_t bytes) {
    static_cast<std::vector<std::uint32_t>*>(context)->push_back(bytes);
}

TEST_F(VendorRequestTest, LongWriteGoesIn4096BytePiecesWithProgress) {
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13);
    std::vector<std::uint32_t> progress;
    ASSERT_EQ(vr->WriteMem(0x11000, 5000, data.data(), Collect, &progress), S_OK);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].bmRequestType, 0x40);
    EXPECT_EQ(transfers[0].bRequest, 0x24);
    EXPECT_EQ(transfers[0].wValue, 0x0100);  // address bits 19-16 in bits 11-8
    EXPECT_EQ(transfers[0].wIndex, 0x1000);
    EXPECT_EQ(transfers[0].wLength, 4096);
    EXPECT_EQ(transfers[1].wValue, 0x0100);
    EXPECT_EQ(transfers[1].wIndex, 0x2000);
    EXPECT_EQ(transfers[1].wLength, 904);
    EXPECT_EQ(progress, (std::vector<std::uint32_t>{4096, 904}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), backend.Chip().mem.begin() + 0x11000));
}

TEST_F(VendorRequestTest, FailingPieceEndsTheCommand) {
    std::vector<std::uint8_t> data(10000);
    std::vector<std::uint32_t> progress;
    backend.FailTransfer(backend.TransferCount() + 2, uafw::usb::kErrTimeout);
    EXPECT_EQ(vr->ReadMem(0, 10000, data.data(), Collect, &progress), 0x800705B4u);
    EXPECT_EQ(Take().size(), 2u);
    EXPECT_EQ(progress, (std::vector<std::uint32_t>{4096}));
    EXPECT_EQ(vr->ReadMem(0, 0, data.data(), Collect, &progress), S_OK);
    EXPECT_TRUE(Take().empty());
}

TEST_F(VendorRequestTest, SpiReadPacksTheAddressAndReadMode) {
    backend.Chip().flash[0x123456] = 0x77;
    std::uint8_t data[1] = {};
    ASSERT_EQ(vr->SPI_SF_Read(0x123456, 1, data, 0, nullptr, nullptr), S_OK);
    auto t = Take().at(0);
    EXPECT_EQ(t.bmRequestType, 0xC0);
    EXPECT_EQ(t.bRequest, 0x2E);
    EXPECT_EQ(t.wValue, 0x1200);
    EXPECT_EQ(t.wIndex, 0x3456);
    EXPECT_EQ(data[0], 0x77);
    ASSERT_EQ(vr->SPI_SF_Read(0x123456, 1, data, 3, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take().at(0).wValue, 0x1203);
}

struct PackingCase {
    const char* name;
    std::function<HRESULT(CVendorRequestV2&)> call;
    std::uint8_t type, request;
    std::uint16_t value, index, length;
};

class VendorRequestPacking : public VendorRequestTest,
                             public ::testing::WithParamInterface<PackingCase> {};

TEST_P(VendorRequestPacking, SetupPacketAsTheCatalogueSays) {
    const PackingCase& c = GetParam();
    ASSERT_EQ(c.call(*vr), S_OK);
    const auto t = Take().at(0);
    EXPECT_EQ(t.bmRequestType, c.type);
    EXPECT_EQ(t.bRequest, c.request);
    EXPECT_EQ(t.wValue, c.value);
    EXPECT_EQ(t.wIndex, c.index);
    EXPECT_EQ(t.wLength, c.length);
}

std::uint8_t g_buffer[64];

INSTANTIATE_TEST_SUITE_P(
    Catalogue, VendorRequestPacking,
    ::testing::Values(
        PackingCase{"ResetToUpdate", [](CVendorRequestV2& v) { return v.ResetToUpdateFW(0x1FF); },
                    0x40, 0x20, 0xFF, 0, 0},
        PackingCase{"ResetToRom", [](CVendorRequestV2& v) { return v.ResetToRom(); }, 0x40, 0x22, 0,
                    0, 0},
        PackingCase{"EraseSector",
                    [](CVendorRequestV2& v) { return v.SPI_SF_EraseSector(0x31000, 0x1000); }, 0x40,
                    0x33, 0x0300, 0x1000, 0},
        PackingCase{"ReadPhy", [](CVendorRequestV2& v) { return v.ReadPhy(0x5F00A, 3, g_buffer); },
                    0xC0, 0x27, 0x0500, 0xF00A, 3},
        PackingCase{"ExtMemWrite",
                    [](CVendorRequestV2& v) {
                        return v.ExtMem_Write(0x10, 2, g_buffer, 3, nullptr, nullptr);
                    },
                    0x40, 0x3A, 0x0003, 0x0010, 2},
        PackingCase{"RegisterRead",
                    [](CVendorRequestV2& v) {
                        std::uint16_t value = 0;
                        return v.I2CRead(2u, 0x30040u, value);
                    },
                    0xC0, 0x50, 0x0300, 0x0040, 2},
        PackingCase{"GenRead", [](CVendorRequestV2& v) { return v.I2CGenRead(0x1A2, 5, g_buffer); },
                    0xC0, 0x3D, 0, 0xA2, 5},
        PackingCase{"RandomWrite",
                    [](CVendorRequestV2& v) { return v.I2CRandomWrite(0x50, 4, g_buffer); }, 0x40,
                    0x58, 0, 0x50, 4},
        PackingCase{"StatusBlock",
                    [](CVendorRequestV2& v) { return v.GetDevStatus(16, g_buffer, 8); }, 0xC0, 0x07,
                    16, 0, 8},
        PackingCase{"StatusByte",
                    [](CVendorRequestV2& v) {
                        std::uint8_t b = 0;
                        return v.ReadStatusByte(b);
                    },
                    0xC0, 0x06, 0, 0, 1},
        PackingCase{"Cmd10", [](CVendorRequestV2& v) { return v.VendorCmd10(0x42); }, 0x40, 0x10,
                    0x42, 0, 0},
        PackingCase{"Cmd70Set", [](CVendorRequestV2& v) { return v.VendorCmd70_Set(1); }, 0x40,
                    0x70, 5, 0, 0},
        PackingCase{"Eep8Tag", [](CVendorRequestV2& v) { return v.I2C_EEP8_WriteTag(); }, 0x40,
                    0x36, 0, 1, 1}),
    [](const ::testing::TestParamInfo<PackingCase>& info) { return info.param.name; });

TEST_F(VendorRequestTest, EraseChipUsesItsArgumentAsTheTimeout) {
    EXPECT_EQ(vr->EraseChipTimeoutMs(), 5000u);
    ASSERT_EQ(vr->SPI_SF_EraseChip(60000), S_OK);
    EXPECT_EQ(vr->EraseChipTimeoutMs(), 60000u);
    EXPECT_EQ(Take().at(0).bRequest, 0x32);
}

TEST_F(VendorRequestTest, EraseBlockWaitsForCompletion) {
    uafw::FakeClock clock;
    uafw::ScopedClock scoped(clock);
    backend.Chip().eraseBlockPollsBusy = 3;
    ASSERT_EQ(vr->SPI_SF_EraseBlock(0x20000, 0x10000, 1), S_OK);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 5u);  // erase and four completion reads
    EXPECT_EQ(transfers[0].bRequest, 0x35);
    EXPECT_EQ(transfers[0].wValue, 0x0200);
    EXPECT_EQ(transfers[1].bRequest, 0x36);
    EXPECT_EQ(clock.SleptMs(), 3u * 500);
    EXPECT_EQ(backend.Chip().flash[0x2FFFF], 0xFF);
}

TEST_F(VendorRequestTest, EraseBlockThatNeverCompletesIsATimeout) {
    uafw::FakeClock clock;
    uafw::ScopedClock scoped(clock);
    backend.Chip().eraseBlockPollsBusy = 1000;
    EXPECT_EQ(vr->SPI_SF_EraseBlock(0, 0x10000, 1), HResultFromWin32(uafw::usb::kErrTimeout));
    EXPECT_EQ(Take().size(), 21u);
    EXPECT_EQ(clock.SleptMs(), 19u * 500);
    // Without the wait only the erase goes out; a misaligned block sends nothing.
    ASSERT_EQ(vr->SPI_SF_EraseBlock(0, 0x10000, 0), S_OK);
    EXPECT_EQ(Take().size(), 1u);
    EXPECT_EQ(vr->SPI_SF_EraseBlock(0x8000, 0x10000, 1), E_INVALIDARG);
    EXPECT_TRUE(Take().empty());
}

TEST_F(VendorRequestTest, Cmd70GetReportsTheBytesReceived) {
    std::uint8_t buffer[16] = {};
    std::uint8_t length = 16;
    ASSERT_EQ(vr->VendorCmd70_Get(2, buffer, length), S_OK);
    EXPECT_EQ(length, 16);
    backend.FailTransfer(backend.TransferCount() + 1, uafw::usb::kErrGenFailure);
    length = 16;
    EXPECT_NE(vr->VendorCmd70_Get(2, buffer, length), S_OK);
    EXPECT_EQ(length, 0);
}

TEST_F(VendorRequestTest, OneRequestCommandRefusesMoreThanOneControlTransferCarries) {
    std::vector<std::uint8_t> big(0x10000);
    EXPECT_EQ(vr->ReadPhy(0, 0x10000, big.data()), E_INVALIDARG);
    EXPECT_TRUE(Take().empty());
}

TEST_F(VendorRequestTest, CommandsNotCarriedReturnNotImplemented) {
    std::uint8_t b[8] = {};
    EXPECT_EQ(vr->OTPRead(0, 8, b), E_NOTIMPL);
    EXPECT_EQ(vr->I2CLongWrite(0, 0, 8, b), E_NOTIMPL);
    EXPECT_EQ(vr->I2CRead(0x50u, 2u, b), E_NOTIMPL);
    EXPECT_EQ(vr->I2CSuperRead(0x50, 2, b), E_NOTIMPL);
    EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace uafw::test
