// The OTP block write engine against the virtual chip: choosing the VD entry and start address,
// chunked writes with failing bytes repaired by ECC entries, the verify with ECC applied, the VD
// entry and its moves, the retiring of superseded blocks and ECC entries, and the failures.
#include <gtest/gtest.h>

#include "otp_fixture.h"

namespace uafw::flowtest {
namespace {

class OtpEngineTest : public OtpFlowFixture {};

TEST_F(OtpEngineTest, PresetOtpReachesTheChipAndReadsBackThroughTheEngine) {
    OtpImage otp;
    otp.Bytes(0x10, {0x11, 0x22, 0x33})
        .Vd(0, 0x0000, 0x0040, kVdCode)
        .Ecc(0, 0x11, 0x99, kEccInUse);
    ASSERT_NE(StartOtp("", otp), nullptr);
    EXPECT_EQ(ChipOtp().All(), otp.All());
    EXPECT_EQ(ChipOtp().VdAt(0), (VdEntry{0, 0x40, kVdCode}));
    OtpBytes read(3);
    ASSERT_EQ(m_flow->OTP_Veriry_Cmd2(0x10, read), 1);
    EXPECT_EQ(read, (OtpBytes{0x11, 0x22, 0x33}));
    m_flow->MP_OTPGetCorrectCodeData(0x10, read);
    EXPECT_EQ(read, (OtpBytes{0x11, 0x99, 0x33}));
    EXPECT_EQ(read, otp.Corrected(0x10, 3));
}

}  // namespace
}  // namespace uafw::flowtest
