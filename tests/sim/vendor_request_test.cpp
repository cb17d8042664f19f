// The vendor-request transport and the flash erase timing: setup packing, refused requests,
// the one-byte status request, the generic reset, chip and block erase with completion polling,
// and the signature check behind the 0x70 requests.
#include <gtest/gtest.h>

#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
namespace usb = uafw::usb;

class VendorRequest : public simtest::SimFixture {
protected:
    void Unprotect() {
        ASSERT_EQ(W().VendorOut(0x24, 0, 0xFEC0, {0x01}), 0u);
        ASSERT_EQ(W().VendorOut(0x24, 0, 0xFEC6, {0x01}), 0u);
        ASSERT_EQ(W().VendorOut(0x31, 0, 0, {0x00}), 0u);
    }
};

TEST_F(VendorRequest, GenericPackingCarriesAddressBits19To16InWValue) {
    Start("[chip]\nmemory = eeprom16\neeprom_size = 0x20000\n");
    // I2C_EEP16_Write at 0x1ABCD: wValue bits 11-8 = 1, wIndex = 0xABCD.
    ASSERT_EQ(W().VendorOut(0x38, 0x0100, 0xABCD, {0x42}), 0u);
    EXPECT_EQ(Chip().EepromBytes()[0x1ABCD], 0x42);
    EXPECT_EQ(W().EuIn(0x02, 0xD1, 0xABCD, 1, 0x0001, 1), Bytes{0x42});
}

TEST_F(VendorRequest, SpiTransfersCarryAddressBits23To16InTheHighByte) {
    Start("[chip]\nflash_size = 0x200000\n");
    Unprotect();
    ASSERT_EQ(W().VendorOut(0x2F, 0x1200, 0x3456, {0x00}), 0u);  // 0x123456
    EXPECT_EQ(Chip().FlashBytes()[0x123456], 0x00);
    EXPECT_EQ(W().EuIn(0x02, 0xC2, 0x3456, 1, 0x0012, 1), Bytes{0x00});
}

TEST_F(VendorRequest, UnknownWrongDirectionAndOversizedRequestsStall) {
    Start();
    EXPECT_EQ(W().VendorIn(0x7F, 0, 0, 1), std::nullopt);
    EXPECT_NE(W().VendorOut(0x25, 0, 0x100, {1}), 0u);  // ReadMem sent host-to-device
    EXPECT_EQ(W().VendorIn(0x25, 0, 0, 4097), std::nullopt);
    EXPECT_EQ(W().VendorIn(0x97, 0, 0, 8), std::nullopt);  // OTP is extension-unit only
    EXPECT_EQ(W().VendorIn(0x25, 0, 0, 4096)->size(), 4096u);
}

TEST_F(VendorRequest, StatusByteAndVendorCmd10Answer) {
    Start();
    auto b = W().VendorIn(0x06, 0, 0, 1);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->size(), 1u);
    EXPECT_EQ(W().VendorOut(0x10, 0x33, 0), 0u);
}

TEST_F(VendorRequest, GenericResetTakesTheTypeInWIndex) {
    Start();
    EXPECT_NE(W().VendorOut(0x01, 1, 5), 0u);  // no reset of type 5
    ASSERT_EQ(W().VendorOut(0x01, 1, 7), 0u);
    EXPECT_TRUE(m_backend->Enumerate().empty());
    m_clock.Advance(Chip().Config().reenumMs);
    Reopen();
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xC2A8, 1), Bytes{0});
}

TEST_F(VendorRequest, ChipEraseAnswersWhenDoneWithinItsTimeout) {
    Start("[chip]\nerase_ms = 4000\n");
    Unprotect();
    const std::uint64_t t0 = m_clock.NowMs();
    ASSERT_EQ(W().VendorOut(0x32, 0, 0, {}, 10000), 0u);
    EXPECT_GE(m_clock.NowMs() - t0, 4000u);
    EXPECT_EQ(W().VendorIn(0x30, 0, 0, 1), Bytes{0x00});
    EXPECT_EQ(Chip().FlashBytes(), Bytes(0x100000, 0xFF));
}

TEST_F(VendorRequest, SlowEraseTimesOutAndStaysBusyUntilItEnds) {
    Start("[chip]\nerase_ms = 12000\n");
    Unprotect();
    const std::uint64_t t0 = m_clock.NowMs();
    EXPECT_EQ(W().VendorOut(0x32, 0, 0, {}, 10000), usb::kErrTimeout);
    EXPECT_EQ(m_clock.NowMs() - t0, 10000u);
    EXPECT_EQ(W().VendorIn(0x30, 0, 0, 1), Bytes{0x01});  // busy bit
    m_clock.Advance(2000);
    EXPECT_EQ(W().VendorIn(0x30, 0, 0, 1), Bytes{0x00});
}

TEST_F(VendorRequest, BlockEraseCompletesAsThePollingByteReports) {
    Start("[chip]\nerase_ms = 1200\n");
    Unprotect();
    ASSERT_EQ(W().VendorOut(0x2F, 0x0100, 0x0000, Bytes(4, 0x00)), 0u);  // 0x10000
    ASSERT_EQ(W().VendorOut(0x2F, 0x0200, 0x0000, Bytes(4, 0x00)), 0u);  // 0x20000
    ASSERT_EQ(W().VendorOut(0x35, 0x0100, 0x0000), 0u);  // erase the 64 KiB block at 0x10000
    int zeros = 0;
    for (;;) {
        auto done = W().VendorIn(0x36, 0, 0, 1);
        ASSERT_TRUE(done);
        if ((*done)[0] != 0)
            break;
        ++zeros;
        m_clock.Advance(500);
    }
    EXPECT_EQ(zeros, 3);  // busy at 0, 500 and 1000 ms; done at 1500 ms
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Bytes(flash.begin() + 0x10000, flash.begin() + 0x10004), Bytes(4, 0xFF));
    EXPECT_EQ(Bytes(flash.begin() + 0x20000, flash.begin() + 0x20004), Bytes(4, 0x00));
}

TEST_F(VendorRequest, FlashAccessDuringAnEraseWaitsForItsEnd) {
    Start("[chip]\nerase_ms = 800\n");
    Unprotect();
    ASSERT_EQ(W().SetCmd(0x02, 0x04), 0u);  // chip erase on the extension unit returns at once
    EXPECT_EQ(W().VendorIn(0x30, 0, 0, 1), Bytes{0x01});
    const std::uint64_t t0 = m_clock.NowMs();
    EXPECT_EQ(W().VendorIn(0x2E, 0, 0, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(m_clock.NowMs() - t0, 800u);
}

struct SignatureCase {
    const char* ini;
    std::uint8_t final;
};

class SignatureCheck : public simtest::SimFixture,
                       public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(SignatureCheck, StartsBusyAndEndsAsConfigured) {
    Start(GetParam().ini);
    EXPECT_EQ(W().VendorIn(0x70, 6, 0, 1), Bytes{0});  // no check running
    ASSERT_EQ(W().VendorOut(0x70, 5, 0), 0u);
    EXPECT_EQ(W().VendorIn(0x70, 6, 0, 1), Bytes{1});
    m_clock.Advance(5000);
    EXPECT_EQ(W().VendorIn(0x70, 6, 0, 1), Bytes{GetParam().final});
    ASSERT_EQ(W().VendorOut(0x70, 5, 0), 0u);  // the second request ends the check
    EXPECT_EQ(W().VendorIn(0x70, 6, 0, 1), Bytes{0});
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SignatureCheck,
                         ::testing::Values(SignatureCase{"", 2},
                                           SignatureCase{"[faults]\nsignature = pass\n", 2},
                                           SignatureCase{"[faults]\nsignature = fail\n", 4},
                                           SignatureCase{"[faults]\nsignature = busy\n", 1}));

}  // namespace
