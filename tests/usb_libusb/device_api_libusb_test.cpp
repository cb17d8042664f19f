// The device layer on the real libusb path: discovery, the capability probe and both command
// transports of the device API, over the libusb backend, umockdev and the virtual chip.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/CurrentDevice.h"
#include "device/DeviceApi.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceLocks.h"
#include "device/DeviceReset.h"
#include "device/DriverChannel.h"
#include "device/ExtUnit.h"
#include "platform/NamedMutex.h"
#include "sim/ChipStateDir.h"
#include "tests/usb_libusb/UmockdevFixture.h"

namespace uafw::test {
namespace {

class DeviceApiOverLibusb : public UmockdevFixture {
protected:
    void SetUp() override {
        UmockdevFixture::SetUp();
        // The device locks of this process stay its own while other test processes run.
        SetDeviceLockScope("uafwlibusb" + std::to_string(getpid()) + "_");
        std::string pattern =
            (std::filesystem::temp_directory_path() / "uafw-devapi-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        CCurrentDevice::Instance().Close();
        DeviceLibraryShutdown(0);
        usb::SetCurrentUsbBackend(nullptr);
        for (const char* name : {kCommandLockName, kUacSyncMutexName, kRefCountMutexName}) {
            NamedMutex::Remove(DeviceLockName(name));
        }
        UmockdevFixture::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void Start(const std::string& chipIni, std::int32_t libType = 0) {
        std::ofstream(dir_ + "/chip.ini") << chipIni;
        std::string error;
        auto chip = sim::LoadChipStateDir(dir_, error);
        ASSERT_TRUE(chip) << error;
        chip_ = std::shared_ptr<sim::VirtualChip>(std::move(chip));
        ASSERT_NE(Plug(chip_, 1, {2, 3}), 0);
        usb::SetCurrentUsbBackend(&Backend());
        ASSERT_TRUE(DeviceLibraryStartup(libType));
    }

    std::string dir_;
    std::shared_ptr<sim::VirtualChip> chip_;
};

TEST_F(DeviceApiOverLibusb, DiscoveryListsTheChipAndOpensItAfterTheProbe) {
    Start("[chip]\nproduct = Codec Board\n");
    std::vector<DeviceListEntry> list;
    std::uint32_t count = 0;
    ASSERT_EQ(DA_EnumerateDevices(list, count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list.at(0).location, "1-2.3");
    const std::uint32_t node = DA_OpenByIndex(0);
    ASSERT_NE(node, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), node);
    std::string name;
    ASSERT_EQ(DA_GetName(name), 1);
    EXPECT_EQ(name, "Codec Board");
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t rev = 0;
    ASSERT_EQ(DA_GetIds(node, vid, pid, rev), 1);
    EXPECT_EQ(vid, 0x1209);
    EXPECT_EQ(pid, 0x7050);
    EXPECT_EQ(rev, 0x0100);
}

TEST_F(DeviceApiOverLibusb, BothTransportsReadAndWriteChipMemory) {
    Start("[chip]\n");
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    for (std::uint32_t flags : {0u, kAccessForceExtUnit}) {
        std::uint8_t id[2] = {};
        ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, id, flags), 1) << "flags " << flags;
        EXPECT_EQ(id[0] | (id[1] << 8), 0xD011) << "flags " << flags;
    }
    const std::uint8_t data[10] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9};
    ASSERT_EQ(DA_WriteMem(0, 0x2000, 10, data, kAccessForceExtUnit), 1);
    std::uint8_t back[10] = {};
    ASSERT_EQ(DA_ReadMem(0, 0x2000, 10, back, 0), 1);
    EXPECT_TRUE(std::equal(std::begin(data), std::end(data), back));
}

TEST_F(DeviceApiOverLibusb, StatusBlockCarriesTheSignature) {
    Start("[chip]\n");
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    std::uint8_t status[104] = {};
    ASSERT_EQ(DA_GetStatus(0, status, 0), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(status + 24), 7), "QUORVEX");
    EXPECT_EQ(status[31], 0);
}

TEST_F(DeviceApiOverLibusb, ResetIntoTheRomLoaderReconnectsOnTheSamePort) {
    Start("[chip]\nreenum_ms = 300\n");
    const std::uint32_t before = DA_OpenByIndex(0);
    ASSERT_NE(before, 0u);
    for (std::uint32_t flags : {0u, kAccessForceExtUnit}) {
        std::uint32_t node = 0;
        const std::uint32_t previous = DA_GetDeviceNode();
        ASSERT_EQ(DA_ResetToRomReconnect(node, flags, 1000), 1) << "flags " << flags;
        EXPECT_NE(node, previous);
        EXPECT_EQ(DA_GetDeviceNode(), node);
        std::uint8_t id[2] = {};
        ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, id, flags), 1);
        EXPECT_EQ(id[0] | (id[1] << 8), 0xD011);
    }
    std::vector<DeviceListEntry> list;
    std::uint32_t count = 0;
    ASSERT_EQ(DA_EnumerateDevices(list, count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].location, "1-2.3");
    EXPECT_NE(list[0].deviceNode, before);
}

TEST_F(DeviceApiOverLibusb, RemovalNotificationEndsTheSettleWait) {
    Start("[chip]\nreenum_ms = 200\n");
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    std::uint32_t node = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(DA_ResetToRomReconnect(node, 0, 10000), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    // Without the removal the reset would sit out the whole 10 s settle time.
    EXPECT_LT(took, std::chrono::milliseconds(6000));
}

TEST_F(DeviceApiOverLibusb, IdentityFromTheSystemTablesWithLibTypeOne) {
    Start("[chip]\nmanufacturer = Maker Ltd\nserial = A1B2\n", 1);
    std::vector<DeviceListEntry> list;
    std::uint32_t count = 0;
    ASSERT_EQ(DA_EnumerateDevices(list, count), 0u);
    ASSERT_EQ(count, 1u);
    std::string serial;
    ASSERT_EQ(DA_GetSerial(list[0].deviceNode, serial), 1);
    EXPECT_EQ(serial, "A1B2");
    std::string manufacturer;
    ASSERT_EQ(DA_GetFirstManufacturer(manufacturer), 1);
    EXPECT_EQ(manufacturer, "Maker Ltd");
}

}  // namespace
}  // namespace uafw::test
