// The chip model as a usbdevfs host drives it: through IUsbDeviceModel alone, without files.
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "sim/VirtualChip.h"

namespace {

using uafw::sim::ChipConfig;
using uafw::sim::ChipMemories;
using uafw::sim::ControlAnswer;
using uafw::sim::I2cEeprom;
using uafw::sim::IUsbDeviceModel;
using uafw::sim::OtpMemory;
using uafw::sim::PersistentBytes;
using uafw::sim::SetupPacket;
using uafw::sim::SpiFlash;
using uafw::sim::VirtualChip;

std::unique_ptr<VirtualChip> InMemoryChip(const ChipConfig& config) {
    return std::make_unique<VirtualChip>(
        config, ChipMemories{SpiFlash(PersistentBytes(config.flashSize, 0xFF)),
                             I2cEeprom(PersistentBytes(config.EffectiveEepromSize(), 0xFF)),
                             OtpMemory(PersistentBytes(OtpMemory::kSize, 0x00))});
}

TEST(ChipModel, ResetTakesTheChipOffTheBusAndBackAsANewAppearance) {
    uafw::FakeClock clock;
    uafw::ScopedClock use(clock);
    ChipConfig config;
    config.reenumMs = 400;
    auto chip = InMemoryChip(config);
    IUsbDeviceModel& model = *chip;
    ASSERT_TRUE(model.Attached());
    const std::uint32_t first = model.Generation();

    std::uint8_t block[8] = {0x00, 0x07, 0x06, 0, 0, 0, 0, 0};  // reset into the ROM loader
    const ControlAnswer a = model.Control({0x21, 0x01, 0x0A00, 0x0600, 8}, block);
    EXPECT_EQ(a.kind, ControlAnswer::Kind::Ok);
    EXPECT_EQ(a.transferred, 8u);
    EXPECT_FALSE(model.Attached());
    std::uint8_t b = 0;
    EXPECT_EQ(model.Control({0xC0, 0x06, 0, 0, 1}, {&b, 1}).kind, ControlAnswer::Kind::Gone);

    clock.Advance(400);
    EXPECT_TRUE(model.Attached());
    EXPECT_EQ(model.Generation(), first + 1);
}

TEST(ChipModel, DescriptorsAreTheOnesStandardRequestsReturn) {
    uafw::FakeClock clock;
    uafw::ScopedClock use(clock);
    auto chip = InMemoryChip(ChipConfig{});
    std::vector<std::uint8_t> device(18);
    ASSERT_EQ(chip->Control({0x80, 6, 0x0100, 0, 18}, device).transferred, 18u);
    EXPECT_EQ(device, chip->DeviceDescriptor());
    std::vector<std::uint8_t> head(9);
    ASSERT_EQ(chip->Control({0x80, 6, 0x0200, 0, 9}, head).transferred, 9u);
    const auto whole = chip->ConfigurationDescriptor();
    EXPECT_EQ(whole.size(), static_cast<std::size_t>(head[2] | (head[3] << 8)));
    EXPECT_TRUE(std::equal(head.begin(), head.end(), whole.begin()));
    EXPECT_EQ(chip->StringDescriptor(0), (std::vector<std::uint8_t>{4, 3, 0x09, 0x04}));
    EXPECT_TRUE(chip->StringDescriptor(9).empty());
    // No device qualifier: a full-speed device stalls the request.
    std::vector<std::uint8_t> q(10);
    EXPECT_EQ(chip->Control({0x80, 6, 0x0600, 0, 10}, q).kind, ControlAnswer::Kind::Stall);
}

TEST(ChipModel, NotReadyFaultCarriesItsOwnCode) {
    uafw::FakeClock clock;
    uafw::ScopedClock use(clock);
    ChipConfig config;
    config.faults.notReady = 1;
    auto chip = InMemoryChip(config);
    std::uint8_t b = 0;
    const ControlAnswer a = chip->Control({0xC0, 0x06, 0, 0, 1}, {&b, 1});
    EXPECT_EQ(a.kind, ControlAnswer::Kind::Stall);  // hosts without the code see a stall
    EXPECT_EQ(a.error, 21u);
    EXPECT_EQ(chip->Control({0xC0, 0x06, 0, 0, 1}, {&b, 1}).kind, ControlAnswer::Kind::Ok);
}

}  // namespace
