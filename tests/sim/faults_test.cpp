// Injected faults, each set in chip.ini [faults] and seen through the USB seam.
#include <gtest/gtest.h>

#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
namespace usb = uafw::usb;

class Faults : public simtest::SimFixture {
protected:
    // One status-byte request: the error code of the transfer.
    std::uint32_t Poke() {
        std::uint8_t b = 0;
        return W().Xfer(0xC0, 0x06, 0, 0, &b, 1).error;
    }
    std::vector<std::uint32_t> Pokes(int n) {
        std::vector<std::uint32_t> codes;
        for (int i = 0; i < n; ++i)
            codes.push_back(Poke());
        return codes;
    }
};

struct FailCase {
    const char* code;
    std::uint32_t expect;
};

class FailTransfer : public Faults, public ::testing::WithParamInterface<FailCase> {};

TEST_P(FailTransfer, TheNthTransferFailsWithTheChosenCode) {
    Start(std::string("[faults]\nfail_transfer = 3\nfail_code = ") + GetParam().code + "\n");
    // Opening the device sends nothing; the third request of the run fails, only that one.
    EXPECT_EQ(Pokes(5), (std::vector<std::uint32_t>{0, 0, GetParam().expect, 0, 0}));
    EXPECT_EQ(Chip().TransferCount(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Codes, FailTransfer,
                         ::testing::Values(FailCase{"31", usb::kErrGenFailure},
                                           FailCase{"1460", usb::kErrTimeout},
                                           FailCase{"0x48F", usb::kErrNotConnected},
                                           FailCase{"21", usb::kErrNotReady}, FailCase{"5", 5}));

TEST_F(Faults, FailedTransferDoesNotReachTheChip) {
    Start("[faults]\nfail_transfer = 1\n");
    EXPECT_NE(W().VendorOut(0x24, 0, 0x0100, {0x55}), 0u);
    EXPECT_EQ(W().VendorIn(0x25, 0, 0x0100, 1), Bytes{0x00});
}

TEST_F(Faults, NotReadyAnswersTheFirstTransfers) {
    Start("[faults]\nnot_ready = 2\n");
    EXPECT_EQ(Pokes(4), (std::vector<std::uint32_t>{21, 21, 0, 0}));
}

TEST_F(Faults, UnplugAfterNTransfersTakesTheChipOffTheBus) {
    Start("[faults]\nunplug_after = 2\n");
    int removed = 0;
    m_backend->SubscribeHotplug(
        [&](usb::HotplugEvent e, const auto&) { removed += e == usb::HotplugEvent::Removed; });
    EXPECT_EQ(Pokes(3), (std::vector<std::uint32_t>{0, 0, usb::kErrNotConnected}));
    EXPECT_TRUE(m_backend->Enumerate().empty());
    m_clock.Advance(60000);
    EXPECT_TRUE(m_backend->Enumerate().empty()) << "an unplugged chip does not come back";
    m_backend->PollEvents();
    EXPECT_EQ(removed, 1);
}

TEST_F(Faults, NeverReturnKeepsTheChipAwayAfterTheNextReset) {
    Start("[faults]\nnever_return = 1\n");
    ASSERT_EQ(W().VendorOut(0x20, 6, 0), 0u);
    m_clock.Advance(3600000);
    EXPECT_TRUE(m_backend->Enumerate().empty());
}

TEST_F(Faults, OpcodeFaultFailsTheMatchingCommandBlocksOnly) {
    Start("[faults]\nfail_opcode = 0xC2\nfail_times = 2\nfail_code = 1460\n");
    EXPECT_EQ(W().SetCmd(0x00, 0xC2, 0, 1), usb::kErrTimeout);
    EXPECT_EQ(W().SetCmd(0x00, 0xC3, 0, 1), 0u);  // another opcode passes
    W().StatusClear();
    EXPECT_EQ(W().SetCmd(0x00, 0xC2, 0, 1), usb::kErrTimeout);
    EXPECT_EQ(W().SetCmd(0x00, 0xC2, 0, 1), 0u);  // the third one goes through
}

TEST_F(Faults, SkipLetsTheFirstMatchingCommandsPass) {
    Start("[faults]\nfail_request = 0x25\nfail_skip = 2\n");
    EXPECT_EQ(Poke(), 0u);  // another request is not counted
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), (Bytes{0x11, 0xD0}));
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), (Bytes{0x11, 0xD0}));
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), std::nullopt);
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), (Bytes{0x11, 0xD0}));
}

TEST_F(Faults, RequestFaultFailsTheMatchingVendorRequest) {
    Start("[faults]\nfail_request = 0x25\n");
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), std::nullopt);
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), (Bytes{0x11, 0xD0}));
}

}  // namespace
