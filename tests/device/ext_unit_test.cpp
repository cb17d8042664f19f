// The extension-unit transport: command blocks, data pieces with the remainder rule, the
// large-transfer split, status read-back and clear, the data control size, the command lock.
#include "device/DeviceLocks.h"
#include "device/ExtUnit.h"

#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <thread>

#include "device_fixture.h"
#include "platform/Clock.h"

namespace uafw::test {
namespace {

std::vector<Transfer> CommandBlocks(const std::vector<Transfer>& transfers) {
    std::vector<Transfer> blocks;
    for (const Transfer& t : transfers)
        if (t.IsCommandBlock())
            blocks.push_back(t);
    return blocks;
}

int Count(const std::vector<Transfer>& transfers, bool (Transfer::*kind)() const) {
    int n = 0;
    for (const Transfer& t : transfers)
        n += (t.*kind)() ? 1 : 0;
    return n;
}

class ExtUnitTest : public DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        FakeChip chip;
        for (std::size_t i = 0; i < chip.mem.size(); ++i)
            chip.mem[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        backend.Add(chip);
        record = AttachRecord();
        eu = std::make_unique<CExtUnit>(*record, backend.Chip().unitId);
        Take();
    }
    void TearDown() override {
        eu.reset();
        record.reset();
        DeviceFixture::TearDown();
    }
    // Sets the data control size on device and transport.
    void UseDataSize(std::uint16_t size) {
        std::uint16_t n = size;
        ASSERT_EQ(eu->ChangeDataControlSize(n), 1);
        Take();
    }

    std::unique_ptr<DeviceRecord> record;
    std::unique_ptr<CExtUnit> eu;
};

TEST_F(ExtUnitTest, CommandBlockLayoutAndAddressing) {
    std::uint8_t data[4] = {};
    ASSERT_EQ(eu->ReadMem(0x1234, 4, data, nullptr, nullptr), S_OK);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    const Transfer& cmd = transfers[0];
    EXPECT_EQ(cmd.bmRequestType, 0x21);
    EXPECT_EQ(cmd.bRequest, 0x01);
    EXPECT_EQ(cmd.wValue, 0x0A00);
    EXPECT_EQ(cmd.wIndex, (backend.Chip().unitId << 8) | backend.Chip().acInterface);
    EXPECT_EQ(cmd.out, (std::vector<std::uint8_t>{0x00, 0xC2, 0x34, 0x12, 0x04, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(transfers[1].IsGetData());
    EXPECT_EQ(transfers[1].wLength, 8);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(data[i], backend.Chip().mem[0x1234 + i]);
}

struct SplitCase {
    std::uint32_t length;
    std::vector<std::uint16_t> lengths;  // P2 of each transaction
};

class ExtUnitSplitTest : public ExtUnitTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ExtUnitSplitTest, ReadSplitsIntoTransactionsAndDeliversEveryByte) {
    UseDataSize(1024);
    const SplitCase& c = GetParam();
    std::vector<std::uint8_t> data(c.length + 1, 0xEE);
    ASSERT_EQ(eu->ReadMem(0, c.length, data.data(), nullptr, nullptr), S_OK);
    const auto blocks = CommandBlocks(Take());
    ASSERT_EQ(blocks.size(), c.lengths.size());
    std::uint32_t addr = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].P(2), c.lengths[i]) << "transaction " << i;
        EXPECT_EQ(blocks[i].P(1), addr & 0xFFFF) << "transaction " << i;
        addr += c.lengths[i];
    }
    for (std::uint32_t i = 0; i < c.length; ++i)
        ASSERT_EQ(data[i], backend.Chip().mem[i]) << "byte " << i;
    EXPECT_EQ(data[c.length], 0xEE);  // nothing past the length
}

INSTANTIATE_TEST_SUITE_P(Lengths, ExtUnitSplitTest,
                         ::testing::Values(SplitCase{0xFFFF, {0xFFFF}},
                                           SplitCase{0x10000, {0x8000, 0x8000}},
                                           SplitCase{0x18001, {0x8000, 0x8000, 0x8001}},
                                           SplitCase{5, {5}}));

TEST_F(ExtUnitTest, ZeroLengthSendsNothing) {
    std::uint8_t data[1] = {};
    EXPECT_EQ(eu->ReadMem(0x100, 0, data, nullptr, nullptr), S_OK);
    EXPECT_EQ(eu->WriteMem(0x100, 0, data, nullptr, nullptr), S_OK);
    EXPECT_TRUE(Take().empty());
}

TEST_F(ExtUnitTest, ShortReadUsesTheRemainderPathAndDeliversOnlyTheRequestedBytes) {
    std::uint8_t data[8];
    std::fill(std::begin(data), std::end(data), 0xEE);
    ASSERT_EQ(eu->ReadMem(0x40, 3, data, nullptr, nullptr), S_OK);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[1].wLength, 8);  // the device sends a full piece
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(data[i], backend.Chip().mem[0x40 + i]);
    for (int i = 3; i < 8; ++i)
        EXPECT_EQ(data[i], 0xEE);
}

TEST_F(ExtUnitTest, TenByteWriteSendsTwoPiecesTheSecondZeroPadded) {
    const std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<std::uint32_t> progress;
    auto record = [](void* ctx, std::uint32_t n) {
        static_cast<std::vector<std::uint32_t>*>(ctx)->push_back(n);
    };
    ASSERT_EQ(eu->WriteMem(0x200, 10, data, record, &progress), S_OK);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_EQ(transfers[1].out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(transfers[2].out, (std::vector<std::uint8_t>{9, 10, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(progress, (std::vector<std::uint32_t>{8, 2}));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(backend.Chip().mem[0x200 + i], data[i]);
}

TEST_F(ExtUnitTest, FailureInTheThirdPieceGivesDoneOffsetSixteen) {
    std::uint8_t data[40] = {};
    ASSERT_EQ(eu->SetCmd(ExtUnitCmd{0x00, 0xC2, 0, 40, 0}), S_OK);
    backend.FailTransfer(backend.TransferCount() + 3, uafw::usb::kErrGenFailure);
    std::uint32_t done = 0xDEAD;
    EXPECT_EQ(eu->ReadDataBlock(data, 40, done), 0x8007001Fu);
    EXPECT_EQ(done, 16u);
    const auto transfers = Take();
    EXPECT_EQ(Count(transfers, &Transfer::IsGetData), 3);  // nothing after the failing piece

    // Through a command, the failure is followed by the status read-back and the status clear.
    backend.FailTransfer(backend.TransferCount() + 4, uafw::usb::kErrGenFailure);
    EXPECT_EQ(eu->ReadMem(0, 40, data, nullptr, nullptr), 0x8007001Fu);
    const auto command = Take();
    ASSERT_EQ(command.size(), 6u);
    EXPECT_TRUE(command[3].IsGetData());
    EXPECT_TRUE(command[4].IsGetCmd());
    EXPECT_TRUE(command[5].IsCommandBlock());
    EXPECT_EQ(command[5].out, (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(backend.Chip().status, 0);  // cleared
}

TEST_F(ExtUnitTest, AfterAnUnplugTheCommandFailsWithoutStatusReadBack) {
    std::uint8_t data[16] = {};
    backend.UnplugAfter(backend.TransferCount() + 1);  // the command block still goes through
    EXPECT_EQ(eu->ReadMem(0, 16, data, nullptr, nullptr), kHrDeviceNotConnected);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_TRUE(transfers[1].IsGetData());
    EXPECT_EQ(Count(transfers, &Transfer::IsGetCmd), 0);
    EXPECT_EQ(eu->EraseFlash(), kHrDeviceNotConnected);
    EXPECT_EQ(Take().size(), 1u);  // just the command block, no read-back, no clear
}

TEST_F(ExtUnitTest, RefusedCommandBlockReadsTheStatusBack) {
    backend.FailTransfer(backend.TransferCount() + 1, uafw::usb::kErrGenFailure);
    EXPECT_EQ(eu->EraseFlash(), 0x8007001Fu);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_TRUE(transfers[1].IsGetCmd());
    EXPECT_EQ(transfers[2].out[0], 0xFF);
}

TEST(ExtUnitErrorText, ComposesLabelResultAndStatusName) {
    EXPECT_EQ(FormatExtUnitError("ReadMem GetData 0x10", 0x8007001F, true, 5, 0),
              "ReadMem GetData 0x10 error 8007001f, VCMD_STS_ERR_LEN");
    EXPECT_EQ(FormatExtUnitError("EraseFlash SetCmd", 0x8007001F, true, 0x42, 0),
              "EraseFlash SetCmd error 8007001f, Undefined ExtUnit error code\n");
    EXPECT_EQ(FormatExtUnitError("WriteMem SetCmd", 0x8007001F, false, 0, 0x800705B4),
              "WriteMem SetCmd error 8007001f, and fail to get err_code 800705b4");
    EXPECT_EQ(FormatExtUnitError("ReadMem SetCmd", kHrDeviceNotConnected, true, 5, 0),
              "ReadMem SetCmdDevice not connected");
    EXPECT_STREQ(ExtUnitStatusName(0xFE), "VCMD_STS_RET_NO_ERR");
    EXPECT_STREQ(ExtUnitStatusName(9), "VCMD_STS_HW_ERR");
}

TEST_F(ExtUnitTest, ChangeDataControlSizeToTheSizeInEffectSendsNothing) {
    std::uint16_t size = 8;
    EXPECT_EQ(eu->ChangeDataControlSize(size), 1);
    EXPECT_TRUE(Take().empty());
}

TEST_F(ExtUnitTest, DeviceGrantingLessLeavesTheGrantedSize) {
    backend.Chip().maxDataSize = 32;
    std::uint16_t size = 64;
    EXPECT_EQ(eu->ChangeDataControlSize(size), 0);
    EXPECT_EQ(size, 32);
    EXPECT_EQ(eu->DataControlSize(), 32);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].out, (std::vector<std::uint8_t>{0x00, 0x16, 0, 0, 64, 0, 0, 0}));
    EXPECT_EQ(transfers[1].bRequest, 0x85);
    EXPECT_EQ(transfers[1].wValue, 0x0B00);
    EXPECT_EQ(transfers[1].wLength, 2);
    // Later pieces use the granted size.
    std::uint8_t data[32] = {};
    ASSERT_EQ(eu->ReadMem(0, 32, data, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take().at(1).wLength, 32);
}

TEST_F(ExtUnitTest, ChangeDataControlSizeRefusesSizesTheDataBufferCannotHold) {
    for (std::uint16_t asked : {std::uint16_t{0}, std::uint16_t{1025}, std::uint16_t{4096}}) {
        std::uint16_t size = asked;
        EXPECT_EQ(eu->ChangeDataControlSize(size), 0) << asked;
        EXPECT_EQ(size, 8) << asked;
    }
    EXPECT_TRUE(Take().empty());
    std::uint16_t size = 1024;
    EXPECT_EQ(eu->ChangeDataControlSize(size), 1);
    EXPECT_EQ(eu->DataControlSize(), 1024);
}

TEST_F(ExtUnitTest, ChangeDataControlSizeFailureKeepsTheSize) {
    backend.FailTransfer(backend.TransferCount() + 2, uafw::usb::kErrGenFailure);  // GET_LEN
    std::uint16_t size = 64;
    EXPECT_EQ(eu->ChangeDataControlSize(size), 0);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(eu->DataControlSize(), 8);
}

TEST_F(ExtUnitTest, SpiReadCarriesTheHighAddressWordInP3) {
    backend.Chip().flash[0x123456] = 0x5A;
    std::uint8_t data[1] = {};
    ASSERT_EQ(eu->SPI_SF_Read(0x123456, 1, data, 0, nullptr, nullptr), S_OK);
    const auto cmd = Take().at(0);
    EXPECT_EQ(cmd.out[0], 0x02);
    EXPECT_EQ(cmd.out[1], 0xC2);
    EXPECT_EQ(cmd.P(1), 0x3456);
    EXPECT_EQ(cmd.P(2), 1);
    EXPECT_EQ(cmd.P(3), 0x0012);
    EXPECT_EQ(data[0], 0x5A);
}

TEST_F(ExtUnitTest, DeviceStatusGoesBlockByBlock) {
    for (std::size_t i = 0; i < 104; ++i)
        backend.Chip().statusBlock[i] = static_cast<std::uint8_t>(i + 1);
    std::uint8_t status[104] = {};
    ASSERT_EQ(eu->GetDevStatus(0, status, 104), S_OK);
    auto blocks = CommandBlocks(Take());
    ASSERT_EQ(blocks.size(), 13u);
    for (std::uint16_t k = 0; k < 13; ++k) {
        EXPECT_EQ(blocks[k].out[1], 0xCD);
        EXPECT_EQ(blocks[k].P(1), k);
        EXPECT_EQ(blocks[k].P(2), 8);
    }
    for (std::size_t i = 0; i < 104; ++i)
        EXPECT_EQ(status[i], i + 1);

    std::uint8_t shorter[104];
    std::fill(std::begin(shorter), std::end(shorter), 0xEE);
    ASSERT_EQ(eu->GetDevStatus(0, shorter, 100), S_OK);
    EXPECT_EQ(CommandBlocks(Take()).size(), 13u);
    EXPECT_EQ(shorter[99], 100);
    EXPECT_EQ(shorter[100], 0xEE);  // the 13th exchange copied only 4 bytes
}

TEST_F(ExtUnitTest, PhyAccessIsOneExchangePerByte) {
    const std::uint8_t in[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_EQ(eu->WritePhy(0x300, 3, in), S_OK);
    auto blocks = CommandBlocks(Take());
    ASSERT_EQ(blocks.size(), 3u);
    for (std::uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(blocks[i].out[1], 0x8C);
        EXPECT_EQ(blocks[i].P(1), 0x300 + i);
        EXPECT_EQ(blocks[i].P(2), 1);
    }
    std::uint8_t out[3] = {};
    ASSERT_EQ(eu->ReadPhy(0x300, 3, out), S_OK);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 3), std::vector<std::uint8_t>(in, in + 3));
}

TEST_F(ExtUnitTest, SectorEraseOffItsAlignmentSendsNothing) {
    EXPECT_EQ(eu->SPI_SF_EraseSector(0x1001, 0x1000), E_INVALIDARG);
    EXPECT_EQ(eu->SPI_SF_EraseSector(0x1000, 0), E_INVALIDARG);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(eu->SPI_SF_EraseSector(0x12000, 0x1000), S_OK);
    const auto cmd = Take().at(0);
    EXPECT_EQ(cmd.out, (std::vector<std::uint8_t>{0x02, 0x05, 0x00, 0x20, 0, 0, 0x01, 0x00}));
}

TEST_F(ExtUnitTest, CommandsTheUnitDoesNotCarryReturnNotImplemented) {
    std::uint8_t b[4] = {};
    std::uint8_t n = 4;
    EXPECT_EQ(eu->SPI_SF_EraseBlock(0, 0x10000, 1), E_NOTIMPL);
    EXPECT_EQ(eu->ExtMem_Read(0, 4, b, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(eu->VendorCmd70_Get(0, b, n), E_NOTIMPL);
    EXPECT_EQ(eu->Reserved41(0), E_NOTIMPL);
    EXPECT_TRUE(Take().empty());
}

TEST_F(ExtUnitTest, RegisterWidthDecidesTheBytesUsed) {
    backend.Chip().mem[0x10] = 0x34;
    backend.Chip().mem[0x11] = 0x12;
    std::uint16_t value = 0xFFFF;
    ASSERT_EQ(eu->I2CRead(1u, 0x20010u, value), S_OK);
    EXPECT_EQ(value, 0x0034);
    const auto cmd = Take().at(0);
    EXPECT_EQ(cmd.out, (std::vector<std::uint8_t>{0x00, 0xCA, 0x10, 0x00, 2, 0, 0x02, 0x00}));
    ASSERT_EQ(eu->I2CRead(2u, 0x10u, value), S_OK);
    EXPECT_EQ(value, 0x1234);
    Take();

    EXPECT_EQ(eu->I2CWrite(1u, 0x10u, std::uint16_t{0xBEEF}), S_OK);
    EXPECT_EQ(Take().at(1).out, (std::vector<std::uint8_t>{0xEF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(eu->I2CWrite(2u, 0x10u, std::uint16_t{0xBEEF}), S_OK);
    EXPECT_EQ(Take().at(1).out, (std::vector<std::uint8_t>{0xEF, 0xBE, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(eu->I2CRead(3u, 0x10u, value), E_INVALIDARG);
    EXPECT_TRUE(Take().empty());
}

TEST_F(ExtUnitTest, SinglePieceI2CRefusesMoreThanOnePiece) {
    std::uint8_t data[16] = {};
    EXPECT_EQ(eu->I2CRandomRead(0x1A0, 16, data), E_INVALIDARG);  // 16 > data control size 8
    EXPECT_TRUE(Take().empty());
    ASSERT_EQ(eu->I2CRandomWrite(0x1A0, 2, data), S_OK);
    const auto cmd = Take().at(0);
    EXPECT_EQ(cmd.out[1], 0xB1);
    EXPECT_EQ(cmd.P(1), 0xA0);  // the slave address's low 8 bits
    EXPECT_EQ(cmd.P(2), 2);
}

struct LongWriteCase {
    std::uint32_t offset;
    std::uint32_t length;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> pieces;  // P1, P2
};

class LongWriteTest : public ExtUnitTest, public ::testing::WithParamInterface<LongWriteCase> {};

TEST_P(LongWriteTest, OffsetBit15FollowsTheStepping) {
    const LongWriteCase& c = GetParam();
    std::vector<std::uint8_t> data(c.length, 0x11);
    ASSERT_EQ(eu->I2CLongWrite(0x0055, c.offset, c.length, data.data()), S_OK);
    const auto blocks = CommandBlocks(Take());
    ASSERT_EQ(blocks.size(), c.pieces.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].out[1], 0xB0);
        EXPECT_EQ(blocks[i].P(1), c.pieces[i].first) << "piece " << i;
        EXPECT_EQ(blocks[i].P(2), c.pieces[i].second) << "piece " << i;
        EXPECT_EQ(blocks[i].P(3), 0x0055);
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, LongWriteTest,
                         ::testing::Values(LongWriteCase{0x8000, 64, {{0x8000, 64}}},
                                           LongWriteCase{0x8000, 10, {{0x0000, 10}}},
                                           LongWriteCase{0x8000, 100, {{0x8000, 64}, {0x0040, 36}}},
                                           LongWriteCase{0x8000, 128, {{0x8000, 64}, {0x0040, 64}}},
                                           LongWriteCase{0x0010, 64, {{0x0010, 64}}}));

TEST_F(ExtUnitTest, EepromFillUnderOneLockInLargePieces) {
    UseDataSize(1024);
    ASSERT_EQ(eu->I2C_EEP16_Erase(0x14000), S_OK);
    const auto transfers = Take();
    const auto blocks = CommandBlocks(transfers);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].out[1], 0x91);
    EXPECT_EQ(blocks[0].P(1), 0x0000);
    EXPECT_EQ(blocks[0].P(2), 0x8000);
    EXPECT_EQ(blocks[1].P(1), 0x8000);
    EXPECT_EQ(blocks[1].P(2), 0xC000);  // the rest fits one transaction
    for (const Transfer& t : transfers) {
        if (t.IsSetData()) {
            for (std::uint8_t b : t.out)
                ASSERT_EQ(b, 0xFF);
        }
    }
}

TEST_F(ExtUnitTest, QualifyChecksTheSignature) {
    EXPECT_TRUE(eu->DevQualify());
    const auto transfers = Take();
    EXPECT_EQ(transfers.at(0).out, (std::vector<std::uint8_t>{0x00, 0xD0, 0, 0, 8, 0, 0, 0}));
}

// ---- the command lock ----------------------------------------------------------------------

TEST_F(ExtUnitTest, CommandWaitsTenSecondsForTheLockThenFailsWithoutSending) {
    // The holder waits in real time: the virtual clock below is the whole process's clock.
    std::promise<void> taken;
    std::promise<void> release;
    std::thread holder([&, released = release.get_future()] {
        uafw::NamedMutex lock(DeviceLockName(kCommandLockName));
        if (lock.WaitRealTime(5000) != uafw::MutexWait::kAcquired) {
            taken.set_value();
            return;
        }
        taken.set_value();
        released.wait();
        lock.Release();
    });
    taken.get_future().wait();
    {
        uafw::FakeClock clock(1000);
        uafw::ScopedClock scoped(clock);
        std::uint8_t data[8] = {};
        EXPECT_EQ(eu->ReadMem(0, 8, data, nullptr, nullptr), kHrLockFailed);
        EXPECT_GE(clock.NowMs(), 1000u + 10000u);
        std::uint16_t size = 64;
        EXPECT_EQ(eu->ChangeDataControlSize(size), 0);
        EXPECT_EQ(size, 8);
        EXPECT_FALSE(eu->DevQualify());
    }
    release.set_value();
    holder.join();
    EXPECT_TRUE(Take().empty());
    std::uint8_t data[8] = {};
    EXPECT_EQ(eu->ReadMem(0, 8, data, nullptr, nullptr), S_OK);
}

}  // namespace
}  // namespace uafw::test
