// The device channel on the USB seam: start-up and shut-down, the success rules of the wrappers,
// and the request packing of class requests.
#include "device/DeviceLibrary.h"
#include "device/DriverChannel.h"
#include "device/ExtUnit.h"

#include <gtest/gtest.h>

#include "device/DeviceLocks.h"
#include "device_fixture.h"

namespace uafw::test {
namespace {

TEST(DriverChannelStartup, FailsWithoutBackendAndEveryWrapperFailsAtOnce) {
    FakeChipBackend backend;
    backend.Add(FakeChip{});
    uafw::usb::SetCurrentUsbBackend(nullptr);
    EXPECT_FALSE(DeviceLibraryStartup(0));
    EXPECT_FALSE(CDriverChannel::Instance().IsOpen());

    // A backend appears, but the library was never started: nothing reaches the device.
    uafw::usb::SetCurrentUsbBackend(&backend);
    CDriverChannel& channel = CDriverChannel::Instance();
    uafw::usb::UsbHandle handle = 77;
    EXPECT_EQ(channel.Attach(backend.Chip().node, handle).error, kErrPathNotFound);
    EXPECT_EQ(handle, 0u);
    std::uint8_t buffer[18] = {};
    EXPECT_FALSE(channel.SubmitVendor(1, 0xC0, 0x25, 0, 0, buffer, 8).ok());
    EXPECT_FALSE(channel.SubmitClass(1, 0xA1, 0x81, 10, 6, 0, buffer, 8).ok());
    EXPECT_FALSE(channel.ReadDeviceDescriptor(1, buffer).ok());
    EXPECT_FALSE(channel.ReadConfigDescriptor(1, buffer, 9).ok());
    EXPECT_FALSE(channel.ReadStringDescriptor(1, 1, 0x409, buffer, 18).ok());
    EXPECT_EQ(backend.Opens(), 0);
    EXPECT_EQ(backend.TransferCount(), 0u);
    EXPECT_EQ(channel.UacSyncMutex(), nullptr);
    uafw::usb::SetCurrentUsbBackend(nullptr);
}

class DriverChannelTest : public DeviceFixture {};

TEST_F(DriverChannelTest, SecondStartupSucceedsAndKeepsTheLibType) {
    EXPECT_TRUE(DeviceLibraryStartup(1));
    EXPECT_EQ(DeviceLibraryLibType(), 1);
    EXPECT_NE(CDriverChannel::Instance().UacSyncMutex(), nullptr);
    EXPECT_EQ(CDriverChannel::Instance().UacSyncMutex()->Name(),
              DeviceLockName("ICOperateSyncUac_2022"));
}

TEST_F(DriverChannelTest, ShutdownClosesTheChannelForAttachedDevices) {
    backend.Add(FakeChip{});
    auto record = AttachRecord();
    std::uint8_t buffer[8] = {};
    ASSERT_TRUE(CDriverChannel::Instance()
                    .SubmitVendor(record->driverHandle, 0xC0, 0x25, 0, 0, buffer, 8)
                    .ok());
    DeviceLibraryShutdown(0);
    const auto before = backend.TransferCount();
    EXPECT_FALSE(CDriverChannel::Instance()
                     .SubmitVendor(record->driverHandle, 0xC0, 0x25, 0, 0, buffer, 8)
                     .ok());
    EXPECT_EQ(backend.TransferCount(), before);
    // Closing the record still gives its handle back.
    record.reset();
    EXPECT_EQ(backend.OpenHandles(), 0);
}

TEST_F(DriverChannelTest, ClassRequestPacksSelectorEntityAndInterface) {
    FakeChip chip;
    chip.acInterface = 3;
    chip.unitId = 0x0C;
    backend.Add(chip);
    auto record = AttachRecord();
    std::uint8_t block[8] = {};
    ASSERT_TRUE(CDriverChannel::Instance()
                    .SubmitClass(record->driverHandle, 0xA1, 0x81, 10, 0x0C, 3, block, 8)
                    .ok());
    const auto t = Take().at(0);
    EXPECT_EQ(t.bmRequestType, 0xA1);
    EXPECT_EQ(t.bRequest, 0x81);
    EXPECT_EQ(t.wValue, 0x0A00);
    EXPECT_EQ(t.wIndex, 0x0C03);
    EXPECT_EQ(t.wLength, 8);
}

TEST_F(DriverChannelTest, DescriptorReadsSucceedOnlyWhenEveryByteArrived) {
    backend.Add(FakeChip{});
    auto record = AttachRecord();
    CDriverChannel& channel = CDriverChannel::Instance();
    std::uint8_t device[18] = {};
    ASSERT_TRUE(channel.ReadDeviceDescriptor(record->driverHandle, device).ok());
    EXPECT_EQ(device[8] | (device[9] << 8), 0x1209);

    const auto total = static_cast<std::uint16_t>(backend.Chip().ConfigDescriptor().size());
    std::vector<std::uint8_t> config(total + 16);
    EXPECT_TRUE(channel.ReadConfigDescriptor(record->driverHandle, config.data(), total).ok());
    // Asking for more than the device holds is a failure, though some bytes arrived.
    const auto longer = channel.ReadConfigDescriptor(record->driverHandle, config.data(),
                                                     static_cast<std::uint16_t>(total + 16));
    EXPECT_FALSE(longer.ok());
    EXPECT_EQ(longer.error, kErrBadLength);

    // A string read counts whatever arrived.
    std::uint8_t text[256] = {};
    const auto s = channel.ReadStringDescriptor(record->driverHandle, 3, 0x409, text, 255);
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.transferred, 2u + 2 * 6);
    EXPECT_EQ(Take().back().wValue, 0x0303);
}

TEST_F(DriverChannelTest, AttachReportsTheBackendError) {
    uafw::usb::UsbHandle handle = 5;
    const auto r = CDriverChannel::Instance().Attach(4242, handle);
    EXPECT_EQ(r.error, uafw::usb::kErrNotConnected);
    EXPECT_EQ(handle, 0u);
}

}  // namespace
}  // namespace uafw::test

namespace uafw::test {
namespace {

TEST(DeviceLockNames, ThePlainNamesWithoutScope) {
    const std::string scoped = DeviceLockName(kCommandLockName);
    SetDeviceLockScope("");
    EXPECT_EQ(DeviceLockName(kCommandLockName), "ICOperateSync_2014_3_28");
    EXPECT_EQ(DeviceLockName(kUacSyncMutexName), "ICOperateSyncUac_2022");
    EXPECT_EQ(DeviceLockName(kRefCountMutexName), "RefCountMutex_2021_07_08");
    SetDeviceLockScope(scoped.substr(0, scoped.size() - std::string(kCommandLockName).size()));
    EXPECT_EQ(DeviceLockName(kCommandLockName), scoped);
}

}  // namespace
}  // namespace uafw::test
