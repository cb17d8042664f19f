// The extension-unit transport: device status codes after refused commands, the status clear,
// GET_LEN and the data control size, the remainder of the data phase, the qualify signature.
#include <gtest/gtest.h>

#include <functional>

#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Wire;
namespace usb = uafw::usb;

class ExtensionUnit : public simtest::SimFixture {};

struct RefusalCase {
    const char* name;
    std::function<void(Wire&)> prepare;  // leaves the unit where the failing request comes
    std::function<std::uint32_t(Wire&)> request;
    int status;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusals : public simtest::SimFixture, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, StallTheRequestAndReportTheStatusCodeUntilCleared) {
    Start();
    const RefusalCase& c = GetParam();
    c.prepare(W());
    EXPECT_EQ(c.request(W()), usb::kErrGenFailure);
    EXPECT_EQ(W().Status(), c.status);
    EXPECT_EQ(W().Status(), c.status) << "reading the status does not clear it";
    ASSERT_EQ(W().StatusClear(), 0u);
    EXPECT_EQ(W().Status(), 0);
    // After the clear the unit takes commands again.
    auto sig = W().EuIn(0x00, 0xD0, 0, 8, 0, 8);
    ASSERT_TRUE(sig);
    EXPECT_EQ(std::string(sig->begin(), sig->begin() + 7), "QUORVEX");
}

const auto kNothing = [](Wire&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(
        RefusalCase{"UnknownOpcode", kNothing, [](Wire& w) { return w.SetCmd(0x00, 0x77); }, 6},
        RefusalCase{"UnknownGroup", kNothing, [](Wire& w) { return w.SetCmd(0x05, 0xC2); }, 8},
        RefusalCase{"AddressOutOfRange", kNothing,
                    [](Wire& w) { return w.SetCmd(0x00, 0xC2, 0xFFF0, 0x20); }, 7},
        RefusalCase{"OtpOutOfRange", kNothing,
                    [](Wire& w) { return w.SetCmd(0x02, 0xD7, 0x3FF0, 0x20); }, 7},
        RefusalCase{"ReadDuringDataOut",
                    [](Wire& w) { ASSERT_EQ(w.SetCmd(0x00, 0x82, 0x100, 16), 0u); },
                    [](Wire& w) {
                        Bytes piece(8);
                        return w.GetData(piece).error;
                    },
                    3},
        RefusalCase{"DataWithoutCommand", kNothing,
                    [](Wire& w) { return w.SetData(Bytes(8, 0)).error; }, 3},
        RefusalCase{"PieceOfWrongLength",
                    [](Wire& w) { ASSERT_EQ(w.SetCmd(0x00, 0x82, 0x100, 16), 0u); },
                    [](Wire& w) { return w.SetData(Bytes(4, 0)).error; }, 5},
        RefusalCase{"CommandBeforeDataPhaseEnded",
                    [](Wire& w) { ASSERT_EQ(w.SetCmd(0x00, 0xC2, 0x100, 16), 0u); },
                    [](Wire& w) { return w.SetCmd(0x00, 0xC2, 0x200, 8); }, 4},
        RefusalCase{"FlashWriteWhileProtected", kNothing,
                    [](Wire& w) { return w.SetCmd(0x02, 0x82, 0, 8, 0); }, 9}),

    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtensionUnit, AcceptedCommandsReportTheirPhaseThenNoError) {
    Start();
    ASSERT_EQ(W().SetCmd(0x00, 0xC2, 0x100, 16), 0u);
    EXPECT_EQ(W().Status(), 1);  // data in
    Bytes piece(8);
    ASSERT_TRUE(W().GetData(piece).ok());
    EXPECT_EQ(W().Status(), 1);
    ASSERT_TRUE(W().GetData(piece).ok());
    EXPECT_EQ(W().Status(), 0xFE);
    ASSERT_EQ(W().SetCmd(0x00, 0x82, 0x100, 2), 0u);
    EXPECT_EQ(W().Status(), 2);  // data out
}

TEST_F(ExtensionUnit, DataControlSizeChangeIsReportedByGetLen) {
    Start("[chip]\nmax_data_size = 32\n");
    EXPECT_EQ(W().GetLen(), 8);
    EXPECT_TRUE(W().ChangeDataSize(16));
    EXPECT_EQ(W().GetLen(), 16);
    // More than the unit supports: it grants its largest size.
    EXPECT_FALSE(W().ChangeDataSize(64));
    EXPECT_EQ(W().GetLen(), 32);
    EXPECT_EQ(Chip().DataControlSize(), 32);
    // Pieces of the old size are refused now.
    ASSERT_EQ(W().SetCmd(0x00, 0xC2, 0x100, 8), 0u);
    Bytes eight(8);
    EXPECT_EQ(W().GetData(eight).error, usb::kErrGenFailure);
    EXPECT_EQ(W().Status(), 5);
}

TEST_F(ExtensionUnit, ReadShorterThanAPieceGetsOneFullPieceZeroPadded) {
    Start();
    ASSERT_EQ(W().VendorOut(0x24, 0, 0x0200, Bytes(64, 0xAB)), 0u);
    ASSERT_TRUE(W().ChangeDataSize(64));
    ASSERT_EQ(W().SetCmd(0x00, 0xC2, 0x0200, 5), 0u);
    Bytes piece(64, 0x11);
    auto r = W().GetData(piece);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.transferred, 64u);
    EXPECT_EQ(Bytes(piece.begin(), piece.begin() + 5), Bytes(5, 0xAB));
    EXPECT_EQ(Bytes(piece.begin() + 5, piece.end()), Bytes(59, 0x00));
    // The phase is over after that one piece.
    EXPECT_EQ(W().GetData(piece).error, usb::kErrGenFailure);
}

TEST_F(ExtensionUnit, WriteRemainderTakesOnlyTheCommandsLength) {
    Start();
    ASSERT_EQ(W().VendorOut(0x24, 0, 0x0300, Bytes(16, 0x77)), 0u);
    // Ten bytes with data control size 8: two pieces, the second two data bytes and padding.
    ASSERT_EQ(W().SetCmd(0x00, 0x82, 0x0300, 10), 0u);
    ASSERT_TRUE(W().SetData(Bytes(8, 0x01)).ok());
    ASSERT_TRUE(W().SetData({0x02, 0x02, 0, 0, 0, 0, 0, 0}).ok());
    EXPECT_EQ(W().Status(), 0xFE);
    Bytes expect(10, 0x01);
    expect[8] = expect[9] = 0x02;
    expect.resize(16, 0x77);  // the padding did not reach the memory
    EXPECT_EQ(W().VendorIn(0x25, 0, 0x0300, 16), expect);
}

TEST_F(ExtensionUnit, StatusBlockComesInEightByteBlocks) {
    Start();
    auto vendor = W().VendorIn(0x07, 12, 0, 8);  // block 12: bytes 96..103
    auto eu = W().EuIn(0x00, 0xCD, 12, 8, 0, 8);
    ASSERT_TRUE(vendor && eu);
    EXPECT_EQ(*vendor, *eu);
    auto block3 = W().EuIn(0x00, 0xCD, 3, 8, 0, 8);
    ASSERT_TRUE(block3);
    EXPECT_EQ(std::string(block3->begin(), block3->begin() + 7), "QUORVEX");
    // The 32-byte block at offset 128 is blocks 16..19.
    EXPECT_TRUE(W().EuIn(0x00, 0xCD, 19, 8, 0, 8));
}

TEST_F(ExtensionUnit, ClassRequestsToAnotherEntityAreStalled) {
    Start();
    std::uint8_t block[8] = {0x00, 0xD0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(W().Xfer(0x21, 0x01, 0x0A00, (5 << 8) | 0, block, 8).error, usb::kErrGenFailure);
    EXPECT_EQ(W().Xfer(0x21, 0x01, 0x0C00, simtest::kEuIndex, block, 8).error, usb::kErrGenFailure);
}

TEST_F(ExtensionUnit, PhyRegistersAndI2cBusAnswer) {
    Start();
    ASSERT_EQ(W().EuOut(0x00, 0x8C, 0x0040, 1, 0, {0x5A}), 0u);
    EXPECT_EQ(W().EuIn(0x00, 0xCC, 0x0040, 1, 0, 1), Bytes{0x5A});
    // I2C slave 0x50: first byte is the register pointer, then data.
    ASSERT_EQ(W().EuOut(0x00, 0xB1, 0x50, 3, 0, {0x10, 0xA1, 0xA2}), 0u);
    ASSERT_EQ(W().EuOut(0x00, 0xB1, 0x50, 1, 0, {0x10}), 0u);
    EXPECT_EQ(W().EuIn(0x00, 0xF1, 0x50, 2, 0, 2), (Bytes{0xA1, 0xA2}));
    // Register access with a 20-bit address on both transports.
    ASSERT_EQ(W().EuOut(0x00, 0x8A, 0x1234, 2, 0x0005, {0xCD, 0xAB}), 0u);
    EXPECT_EQ(W().VendorIn(0x50, 0x0500, 0x1234, 2), (Bytes{0xCD, 0xAB}));
}

}  // namespace
