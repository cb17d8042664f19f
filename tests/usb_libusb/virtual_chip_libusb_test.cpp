// The virtual codec chip behind an emulated usbdevfs node, reached through libusb: the same chip
// model the in-process backend drives, now on the real libusb path.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "sim/ChipStateDir.h"
#include "tests/usb_libusb/UmockdevFixture.h"

namespace uafw::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kSignature = {'Q', 'U', 'O', 'R', 'V', 'E', 'X', 0};
constexpr std::uint16_t kUnitIndex = (6 << 8) | 0;  // extension unit 6 on interface 0

class VirtualChipOverLibusb : public UmockdevFixture {
protected:
    void SetUp() override {
        UmockdevFixture::SetUp();
        std::string pattern =
            (std::filesystem::temp_directory_path() / "uafw-umockdev-chip-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (backend_ && handle_ != 0) {
            backend_->Close(handle_);
        }
        UmockdevFixture::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void Start(const std::string& chipIni) {
        if (!chipIni.empty()) {
            std::ofstream(dir_ + "/chip.ini") << chipIni;
        }
        std::string error;
        auto chip = sim::LoadChipStateDir(dir_, error);
        ASSERT_TRUE(chip) << error;
        chip_ = std::shared_ptr<sim::VirtualChip>(std::move(chip));
        slot_ = Plug(chip_, 1, {1});
        ASSERT_NE(slot_, 0);
        Reopen();
    }
    void Reopen() {
        auto list = Backend().Enumerate();
        ASSERT_EQ(list.size(), 1u);
        info_ = list[0];
        std::uint32_t error = 0;
        handle_ = Backend().Open(info_.nodeId, error);
        ASSERT_NE(handle_, 0u) << "error " << error;
    }
    usb::UsbTransferResult Xfer(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::uint8_t* data, std::uint16_t length) {
        return Backend().ControlTransfer(handle_, type, request, value, index, data, length, 2000);
    }
    // Bytes 24-31 of the status block: block 3 of the vendor status request.
    std::optional<Bytes> VendorSignature() {
        Bytes block(8);
        auto r = Xfer(0xC0, 0x07, 3, 0, block.data(), 8);
        if (!r.ok() || r.transferred != 8) {
            return std::nullopt;
        }
        return block;
    }
    // The same bytes through the extension unit: status command for block 3, 8 bytes, then one
    // read of the data control.
    std::optional<Bytes> UnitSignature() {
        std::array<std::uint8_t, 8> command{0x00, 0xCD, 3, 0, 8, 0, 0, 0};
        if (!Xfer(0x21, 0x01, 0x0A00, kUnitIndex, command.data(), 8).ok()) {
            return std::nullopt;
        }
        Bytes data(8);
        auto r = Xfer(0xA1, 0x81, 0x0B00, kUnitIndex, data.data(), 8);
        if (!r.ok() || r.transferred != 8) {
            return std::nullopt;
        }
        return data;
    }

    std::string dir_;
    std::shared_ptr<sim::VirtualChip> chip_;
    int slot_ = 0;
    usb::UsbDeviceInfo info_;
    usb::UsbHandle handle_ = 0;
};

TEST_F(VirtualChipOverLibusb, DefaultChipEnumeratesWithTheMakersIdentity) {
    Start("");
    EXPECT_EQ(info_.vendorId, 0x1209);
    EXPECT_EQ(info_.productId, 0x7050);
    EXPECT_EQ(info_.bcdDevice, 0x0100);
    EXPECT_EQ(info_.locationPath, "1-1");
    EXPECT_EQ(info_.audioControlInterface, 0);
    usb::UsbOsIdentity id;
    ASSERT_TRUE(Backend().OsIdentity(info_.nodeId, id));
    EXPECT_EQ(id.deviceDescriptor, chip_->DeviceDescriptor());
    EXPECT_EQ(id.configurationDescriptor, chip_->ConfigurationDescriptor());
}

TEST_F(VirtualChipOverLibusb, StatusBlockSignatureReadsThroughBothTransports) {
    Start("");
    EXPECT_EQ(VendorSignature(), kSignature);
    EXPECT_EQ(UnitSignature(), kSignature);
    // The qualify exchange on the extension unit answers the signature too.
    std::array<std::uint8_t, 8> qualify{0x00, 0xD0, 0, 0, 8, 0, 0, 0};
    ASSERT_TRUE(Xfer(0x21, 0x01, 0x0A00, kUnitIndex, qualify.data(), 8).ok());
    Bytes data(8);
    ASSERT_TRUE(Xfer(0xA1, 0x81, 0x0B00, kUnitIndex, data.data(), 8).ok());
    EXPECT_EQ(data, kSignature);
}

TEST_F(VirtualChipOverLibusb, RefusedVendorRequestIsAStall) {
    Start("");
    Bytes block(8);
    // Block 200 of the status area lies far outside it.
    EXPECT_EQ(Xfer(0xC0, 0x07, 200, 0, block.data(), 8).error, usb::kErrGenFailure);
    EXPECT_EQ(VendorSignature(), kSignature);
}

struct Events {
    std::mutex mu;
    std::vector<std::pair<usb::HotplugEvent, usb::UsbDeviceInfo>> list;
    std::size_t Count(usb::HotplugEvent kind) {
        std::lock_guard lock(mu);
        std::size_t n = 0;
        for (const auto& e : list) {
            n += e.first == kind ? 1 : 0;
        }
        return n;
    }
};

TEST_F(VirtualChipOverLibusb, ResetIntoTheRomLoaderReEnumeratesOnTheSamePort) {
    Start("[chip]\nreenum_ms = 300\n");
    Events events;
    const int sub =
        Backend().SubscribeHotplug([&](usb::HotplugEvent e, const usb::UsbDeviceInfo& d) {
            std::lock_guard lock(events.mu);
            events.list.emplace_back(e, d);
        });
    ASSERT_NE(sub, 0);
    const std::uint8_t devnum = host_->DeviceNumber(slot_);

    ASSERT_TRUE(Xfer(0x40, 0x20, 6, 0, nullptr, 0).ok());  // reset into the ROM loader
    ASSERT_TRUE(PumpUntil([&] { return events.Count(usb::HotplugEvent::Removed) == 1; }));
    EXPECT_EQ(VendorSignature(), std::nullopt);
    Bytes one(1);
    EXPECT_EQ(Xfer(0xC0, 0x06, 0, 0, one.data(), 1).error, usb::kErrNotConnected);
    Backend().Close(handle_);
    handle_ = 0;

    ASSERT_TRUE(PumpUntil([&] { return events.Count(usb::HotplugEvent::Arrived) == 1; }));
    {
        std::lock_guard lock(events.mu);
        const auto& arrived = events.list.back().second;
        EXPECT_EQ(events.list.back().first, usb::HotplugEvent::Arrived);
        EXPECT_EQ(arrived.locationPath, info_.locationPath);
        EXPECT_NE(arrived.nodeId, info_.nodeId);
    }
    EXPECT_NE(host_->DeviceNumber(slot_), devnum);
    const usb::UsbDeviceInfo before = info_;
    Reopen();
    EXPECT_NE(info_.nodeId, before.nodeId);
    EXPECT_EQ(VendorSignature(), kSignature);
    Backend().UnsubscribeHotplug(sub);
}

TEST_F(VirtualChipOverLibusb, ResetFasterThanTheBusIsWatchedStillReEnumerates) {
    Start("[chip]\nreenum_ms = 0\n");
    Events events;
    const int sub =
        Backend().SubscribeHotplug([&](usb::HotplugEvent e, const usb::UsbDeviceInfo& d) {
            std::lock_guard lock(events.mu);
            events.list.emplace_back(e, d);
        });
    ASSERT_NE(sub, 0);
    ASSERT_TRUE(Xfer(0x40, 0x20, 6, 0, nullptr, 0).ok());
    ASSERT_TRUE(PumpUntil([&] { return events.Count(usb::HotplugEvent::Arrived) == 1; }));
    EXPECT_EQ(events.Count(usb::HotplugEvent::Removed), 1u);
    Bytes one(1);
    EXPECT_EQ(Xfer(0xC0, 0x06, 0, 0, one.data(), 1).error, usb::kErrNotConnected);
    Backend().Close(handle_);
    handle_ = 0;
    Reopen();
    EXPECT_EQ(VendorSignature(), kSignature);
    Backend().UnsubscribeHotplug(sub);
}

TEST_F(VirtualChipOverLibusb, ChipThatLeavesTheBusMidRunEndsWithDeviceNotConnected) {
    Start("[faults]\nunplug_after = 2\n");
    EXPECT_EQ(VendorSignature(), kSignature);
    EXPECT_EQ(VendorSignature(), kSignature);  // the second transfer, then it leaves
    EXPECT_EQ(VendorSignature(), std::nullopt);
    Bytes block(8);
    EXPECT_EQ(Xfer(0xC0, 0x07, 3, 0, block.data(), 8).error, usb::kErrNotConnected);
    EXPECT_TRUE(PumpUntil([&] { return Backend().Enumerate().empty(); }));
}

}  // namespace
}  // namespace uafw::test
