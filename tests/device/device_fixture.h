#pragma once
// The fixture of the device-access tests: a fake chip backend installed as the USB backend and
// the device library started on it.
#include <gtest/gtest.h>

#include <memory>

#include "device/DeviceLibrary.h"
#include "device/DeviceRecord.h"
#include "device/DriverChannel.h"
#include "fake_chip_backend.h"

namespace uafw::test {

class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        uafw::usb::SetCurrentUsbBackend(&backend);
        ASSERT_TRUE(DeviceLibraryStartup(0));
    }
    void TearDown() override {
        DeviceLibraryShutdown(0);
        uafw::usb::SetCurrentUsbBackend(nullptr);
    }

    // A record of chip `index`, attached through the channel as discovery would do it.
    std::unique_ptr<DeviceRecord> AttachRecord(std::size_t index = 0) {
        auto record = std::make_unique<DeviceRecord>();
        const FakeChip& chip = backend.Chip(index);
        EXPECT_TRUE(CDriverChannel::Instance().Attach(chip.node, record->driverHandle).ok());
        record->tag = kDeviceRecordTag;
        record->interfaceOpen = true;
        record->deviceNode = chip.node;
        record->interfaceNumber = chip.acInterface;
        record->location = chip.location;
        return record;
    }

    // The transfers since the last call (and forgets them).
    std::vector<Transfer> Take() {
        auto transfers = backend.Transfers();
        backend.ClearTransfers();
        return transfers;
    }

    FakeChipBackend backend;
};

}  // namespace uafw::test
