// The OTP area on the extension unit: programming only sets bits, failing bytes and the
// failing-address reply, the programming budget, the lock bit, ECC-corrected reads, blank
// checks, and booting the newest code block.
#include <gtest/gtest.h>

#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
namespace usb = uafw::usb;

class Otp : public simtest::SimFixture {
protected:
    std::uint32_t Write(std::uint16_t address, const Bytes& data, std::uint16_t budget = 8) {
        return W().EuOut(0x02, 0x97, address, static_cast<std::uint16_t>(data.size()), budget,
                         data);
    }
    std::optional<Bytes> Read(std::uint16_t address, std::uint16_t length) {
        return W().EuIn(0x02, 0xD7, address, length, 0, length);
    }
    std::optional<Bytes> FailReply() { return W().EuIn(0x02, 0xDC, 0, 0x13, 0, 19); }
};

TEST_F(Otp, ProgrammingOnlySetsBits) {
    Start("[chip]\nmemory = otp\n");
    ASSERT_EQ(Read(0, 4), Bytes(4, 0x00));
    ASSERT_EQ(Write(0x20, {0x0F, 0x81}), 0u);
    ASSERT_EQ(Write(0x20, {0xF0, 0x00}), 0u);
    EXPECT_EQ(Read(0x20, 2), (Bytes{0xFF, 0x81}));
    auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 0);
    EXPECT_EQ(((*reply)[17] << 8) | (*reply)[18], 0x22);  // current address: behind the write
}

TEST_F(Otp, FailingBytesAreReportedAndStayUnprogrammed) {
    Start("[chip]\nmemory = otp\n[faults]\notp_fail = 0x0105, 0x010A, 0x0200\n");
    ASSERT_EQ(Write(0x0100, Bytes(16, 0x3C)), 0u);
    auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 5), (Bytes{2, 0x01, 0x05, 0x01, 0x0A}));
    EXPECT_EQ(Bytes(reply->begin() + 5, reply->begin() + 17), Bytes(12, 0));
    EXPECT_EQ(((*reply)[17] << 8) | (*reply)[18], 0x0110);
    const Bytes otp = Chip().OtpBytes();
    EXPECT_EQ(otp[0x0104], 0x3C);
    EXPECT_EQ(otp[0x0105], 0x00);
    EXPECT_EQ(otp[0x010A], 0x00);
    // A failing byte whose bits need not change is no failure.
    ASSERT_EQ(Write(0x0200, {0x00}), 0u);
    EXPECT_EQ((*FailReply())[0], 0);
}

TEST_F(Otp, MoreFailuresThanTheBudgetStopTheWriteAtTheFailingByte) {
    Start("[chip]\nmemory = otp\n[faults]\notp_fail = 0x10, 0x12\n");
    ASSERT_EQ(Write(0x0000, Bytes(32, 0xFF), 1), 0u);
    auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 2);
    EXPECT_EQ(((*reply)[17] << 8) | (*reply)[18], 0x12);
    const Bytes otp = Chip().OtpBytes();
    EXPECT_EQ(otp[0x11], 0xFF);
    EXPECT_EQ(otp[0x13], 0x00) << "nothing is programmed past the stop";
}

TEST_F(Otp, FailingBytesFailAgainOnEveryLaterWrite) {
    Start("[chip]\nmemory = otp\n[faults]\notp_fail = 0x0042\n");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Write(0x0040, {0x01, 0x02, 0x04}), 0u);
        auto reply = FailReply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 3), (Bytes{1, 0x00, 0x42})) << round;
    }
    EXPECT_EQ(Chip().OtpBytes()[0x42], 0x00);
}

TEST_F(Otp, FailingTableBytesFailLikeDataBytes) {
    // The value byte of ECC entry 0 and the flag byte of VD entry 1.
    Start("[chip]\nmemory = otp\n[faults]\notp_fail = 0x3FC2, 0x3F79\n");
    ASSERT_EQ(Write(0x3FC0, {0x00, 0x41, 0x99, 0x5A}), 0u);
    EXPECT_EQ(FailReply()->at(0), 1);
    ASSERT_EQ(Write(0x3F75, {0x00, 0x10, 0x00, 0x20, 0x55}), 0u);
    const auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 3), (Bytes{1, 0x3F, 0x79}));
    const Bytes otp = Chip().OtpBytes();
    EXPECT_EQ(Bytes(otp.begin() + 0x3FC0, otp.begin() + 0x3FC4), (Bytes{0x00, 0x41, 0x00, 0x5A}));
    EXPECT_EQ(otp[0x3F79], 0x00);
}

TEST_F(Otp, PowerCutProgramsPartOfTheNthWriteWhichFailsAndLaterWritesWork) {
    Start("[chip]\nmemory = otp\n[faults]\notp_power_cut = 2\notp_power_cut_bytes = 5\n");
    ASSERT_EQ(Write(0x0000, Bytes(4, 0x11)), 0u);
    EXPECT_EQ(Write(0x0100, Bytes(16, 0x3C)), usb::kErrGenFailure);
    EXPECT_EQ(W().Status(), 9);
    auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 0);
    EXPECT_EQ(((*reply)[17] << 8) | (*reply)[18], 0x0105) << "where programming stopped";
    Bytes otp = Chip().OtpBytes();
    EXPECT_EQ(Bytes(otp.begin(), otp.begin() + 4), Bytes(4, 0x11));
    EXPECT_EQ(Bytes(otp.begin() + 0x100, otp.begin() + 0x105), Bytes(5, 0x3C));
    EXPECT_EQ(Bytes(otp.begin() + 0x105, otp.begin() + 0x110), Bytes(11, 0x00));
    // The supply is back for the next programming.
    ASSERT_EQ(Write(0x0105, Bytes(11, 0x3C)), 0u);
    otp = Chip().OtpBytes();
    EXPECT_EQ(Bytes(otp.begin() + 0x100, otp.begin() + 0x110), Bytes(16, 0x3C));
}

TEST_F(Otp, PowerCutWithoutAByteCountStopsHalfWay) {
    Start("[chip]\nmemory = otp\n[faults]\notp_power_cut = 1\n");
    EXPECT_EQ(Write(0x0200, Bytes(10, 0xFF)), usb::kErrGenFailure);
    auto reply = FailReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(((*reply)[17] << 8) | (*reply)[18], 0x0205);
    const Bytes otp = Chip().OtpBytes();
    EXPECT_EQ(otp[0x0204], 0xFF);
    EXPECT_EQ(otp[0x0205], 0x00);
}

TEST_F(Otp, UnplugAfterTheNthProgrammingTakesTheChipOffTheBus) {
    Start("[chip]\nmemory = otp\n[faults]\notp_unplug_after = 2\n");
    ASSERT_EQ(Write(0x0000, {0x01}), 0u);
    ASSERT_TRUE(Read(0x0000, 1));
    ASSERT_EQ(Write(0x0010, {0x02, 0x03}), 0u);  // the last data piece is taken, then it leaves
    EXPECT_EQ(Chip().OtpBytes()[0x11], 0x03) << "the programming itself completed";
    EXPECT_FALSE(Read(0x0000, 1));
    EXPECT_FALSE(FailReply());
    EXPECT_TRUE(m_backend->Enumerate().empty());
}

TEST_F(Otp, LockedOtpRefusesProgrammingAndShowsLockBit) {
    Start("[chip]\nmemory = otp\n[faults]\notp_locked = 1\n");
    auto lock = W().VendorIn(0x25, 0, 0xFD0C, 1);
    ASSERT_TRUE(lock);
    EXPECT_EQ((*lock)[0] & 0x08, 0x08);
    EXPECT_EQ(Write(0x0000, {0xFF}), usb::kErrGenFailure);
    EXPECT_EQ(W().Status(), 9);
    EXPECT_EQ(Chip().OtpBytes(), Bytes(0x4000, 0x00));
}

TEST_F(Otp, UnlockedOtpShowsLockBitClear) {
    Start("[chip]\nmemory = otp\n");
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFD0C, 1), Bytes{0x00});
}

TEST_F(Otp, EccEntriesCorrectTheDecodedRead) {
    Start("[chip]\nmemory = otp\n");
    ASSERT_EQ(Write(0x0040, {0x11, 0x22, 0x33}), 0u);
    ASSERT_EQ(Write(0x3FC0, {0x00, 0x41, 0x99, 0x5A}), 0u);  // entry 0: byte 0x41 := 0x99
    ASSERT_EQ(Write(0x3FC4, {0x00, 0x42, 0x77, 0xFF}), 0u);  // retired entry: ignored
    EXPECT_EQ(Read(0x0040, 3), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(W().EuIn(0x02, 0xD9, 0x0040, 3, 0, 3), (Bytes{0x11, 0x99, 0x33}));
}

TEST_F(Otp, BlankChecksReportProgrammedBytes) {
    Start("[chip]\nmemory = otp\n");
    ASSERT_EQ(Write(0x0102, {0x01}), 0u);
    EXPECT_EQ(W().EuIn(0x02, 0xD8, 0x0100, 4, 0, 4), (Bytes{0, 0, 1, 0}));
    EXPECT_EQ(W().EuIn(0x02, 0xDF, 0x0100, 8, 8, 8), (Bytes{0, 0x01, 0x02, 0, 0, 0, 0, 0}));
    EXPECT_EQ(W().EuIn(0x02, 0xDF, 0x0103, 8, 8, 8), (Bytes{1, 0xFF, 0xFF, 0, 0, 0, 0, 0}));
}

TEST_F(Otp, RestartBootsTheNewestCodeBlockWithItsVersion) {
    Start("[chip]\nmemory = otp\nreenum_ms = 100\n");
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xC2A8, 1), Bytes{16});  // "ROM&&OTP"
    // A code block of 0x200 bytes at 0x0000, its version bytes at 0x11B, recorded in VD entry 0.
    Bytes block(0x200, 0x00);
    block[0] = 0x60;
    block[1] = 0xA5;
    const Bytes version{0x21, 0x03, 0x00, 0x07, 0x00, 0x01, 0x20, 0x26};
    std::copy(version.begin(), version.end(), block.begin() + 0x11B);
    ASSERT_EQ(Write(0x0000, block), 0u);
    ASSERT_EQ(Write(0x3F70, {0x00, 0x00, 0x02, 0x00, 0x55}), 0u);
    ASSERT_EQ(W().SetCmd(0x00, 0x09), 0u);
    m_clock.Advance(100);
    Reopen();
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xC2A8, 1), Bytes{24});  // "SPI&&OTP"
    // Boot modes 16, 24 and 32 report the version in the 32-byte block at offset 128.
    Bytes s;
    for (std::uint16_t k = 16; k < 20; ++k) {
        auto b = W().VendorIn(0x07, k, 0, 8);
        ASSERT_TRUE(b);
        s.insert(s.end(), b->begin(), b->end());
    }
    EXPECT_EQ(Bytes(s.begin() + 12, s.begin() + 20), version);
}

}  // namespace
