// Discovery: the device list, the device record's place in the USB tree, the wait for the
// device, the extension-unit search, the capability probe, the current device and its identity.
#include "device/DeviceDiscovery.h"
#include "device/DeviceLibrary.h"

#include <gtest/gtest.h>

#include "device/CurrentDevice.h"
#include "device/DeviceApi.h"
#include "device_fixture.h"
#include "platform/Clock.h"

namespace uafw::test {
namespace {

class DiscoveryTest : public DeviceFixture {
protected:
    void TearDown() override {
        DA_Close();
        DeviceFixture::TearDown();
    }
};

TEST_F(DiscoveryTest, EmptyBusHasNoDevices) {
    std::vector<DeviceListEntry> list;
    std::uint32_t count = 7;
    EXPECT_EQ(DA_EnumerateDevices(list, count), 259u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(DA_OpenByIndex(0), 0u);
}

TEST_F(DiscoveryTest, DeviceWithoutNameIsListedByItsPosition) {
    for (int i = 0; i < 3; ++i) {
        FakeChip chip;
        chip.location = "1-" + std::to_string(i + 1);
        chip.displayName = i == 2 ? "" : "Codec";
        backend.Add(chip);
    }
    std::vector<DeviceListEntry> list;
    std::uint32_t count = 0;
    ASSERT_EQ(DA_EnumerateDevices(list, count), 0u);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(list[0].name, "Codec");
    EXPECT_EQ(list[2].name, "Usb Video Device #3");
    EXPECT_EQ(list[2].location, "1-3");
    EXPECT_EQ(list[2].deviceNode, backend.Chip(2).node);
    EXPECT_EQ(DA_CountDevices(), 3);
}

TEST_F(DiscoveryTest, RecordKeepsInterfaceNumberAndHubChain) {
    FakeChip chip;
    chip.acInterface = 1;
    chip.location = "2-1.3.2";
    chip.hubChain = {{501, 2, false, 0}, {502, 3, false, 0}, {503, 1, true, 3}};
    backend.Add(chip);
    DeviceRecord record;
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, record), 0u);
    EXPECT_TRUE(record.Usable());
    EXPECT_EQ(record.interfaceNumber, 1u);
    EXPECT_EQ(record.location, "2-1.3.2");
    EXPECT_EQ(record.rootHubClass, kRootHubUsb3);
    EXPECT_EQ(record.ancestorCount, 4u);  // three ancestors stored
    EXPECT_EQ(record.ancestors[0], 0u);
    EXPECT_EQ(record.ancestors[1], 501u);
    EXPECT_EQ(record.ancestors[3], 503u);
    EXPECT_EQ(record.ancestors[4], 0u);
    record.Close();
    EXPECT_EQ(backend.OpenHandles(), 0);
}

TEST_F(DiscoveryTest, RootHubGenerationGivesTheRecordClass) {
    struct Case {
        std::uint8_t generation;
        std::int32_t cls;
    };
    for (const Case c : {Case{2, kRootHubUsb2}, Case{1, kRootHubOther}, Case{3, kRootHubUsb3}}) {
        FakeChipBackend local;
        FakeChip chip;
        chip.hubChain = {{900, 1, true, c.generation}};
        local.Add(chip);
        uafw::usb::SetCurrentUsbBackend(&local);
        DeviceRecord record;
        ASSERT_EQ(OpenDeviceRecord(local.Chip().node, record), 0u);
        EXPECT_EQ(record.rootHubClass, c.cls) << int(c.generation);
        EXPECT_EQ(record.ancestorCount, 2u);
        record.Close();
    }
    uafw::usb::SetCurrentUsbBackend(&backend);
}

TEST_F(DiscoveryTest, DeviceWithoutRootHubAboveIsNotOpened) {
    FakeChip chip;
    chip.hubChain = {{501, 2, false, 0}};
    backend.Add(chip);
    DeviceRecord record;
    EXPECT_EQ(OpenDeviceRecord(backend.Chip().node, record), 2u);
    EXPECT_FALSE(record.Usable());
    EXPECT_EQ(backend.OpenHandles(), 0);
}

TEST_F(DiscoveryTest, OpenWaitsWhileTheDeviceIsNotReadyButNotForever) {
    backend.Add(FakeChip{});
    uafw::FakeClock clock;
    uafw::ScopedClock scoped(clock);
    DeviceRecord record;
    backend.NotReady(3);
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, record), 0u);
    EXPECT_EQ(clock.SleptMs(), 3u * 200);
    record.Close();

    backend.NotReady(1000000);
    EXPECT_EQ(OpenDeviceRecord(backend.Chip().node, record), 1460u);
    EXPECT_FALSE(record.Usable());
    EXPECT_EQ(backend.OpenHandles(), 0);
    EXPECT_LE(clock.SleptMs(), 3u * 200 + kDescriptorWaitPolls * 200u);
}

std::vector<std::uint8_t> Config(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> d{9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    for (const auto& p : parts)
        d.insert(d.end(), p.begin(), p.end());
    return d;
}

const std::vector<std::uint8_t> kAcInterface{9, 4, 0, 0, 0, 1, 1, 0, 0};
const std::vector<std::uint8_t> kAsInterface{9, 4, 1, 0, 0, 1, 2, 0, 0};
const std::vector<std::uint8_t> kHeader{9, 0x24, 1, 0, 1, 0x1E, 0, 1, 1};
std::vector<std::uint8_t> Xu(std::uint8_t subtype, std::uint8_t id, std::uint16_t code) {
    return {15,
            0x24,
            subtype,
            id,
            static_cast<std::uint8_t>(code),
            static_cast<std::uint8_t>(code >> 8),
            1,
            1,
            2,
            3,
            0,
            0,
            1,
            3,
            0};
}

TEST(FindExtensionUnit, OnlyTheMakersUnitOfTheFirstInterfaceCounts) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> config;
        bool found;
        std::uint8_t id;
    };
    const Case cases[] = {
        {"maker's unit", Config({kAcInterface, kHeader, Xu(8, 6, 0x1209)}), true, 6},
        {"subtype 9", Config({kAcInterface, kHeader, Xu(9, 11, 0x1209)}), true, 11},
        {"other vendor", Config({kAcInterface, kHeader, Xu(8, 6, 0x045E)}), false, 0},
        {"second of two", Config({kAcInterface, Xu(8, 4, 0x045E), Xu(8, 5, 0x1209)}), true, 5},
        {"after the next interface",
         Config({kAcInterface, kHeader, kAsInterface, Xu(8, 6, 0x1209)}), false, 0},
        {"before any interface", Config({Xu(8, 6, 0x1209), kAcInterface}), false, 0},
        {"cut short",
         [] {
             auto c = Config({kAcInterface, kHeader, Xu(8, 6, 0x1209)});
             c.resize(c.size() - 12);
             return c;
         }(),
         false, 0},
        {"zero length", Config({kAcInterface, {0, 0x24, 8}}), false, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t id = 0;
        EXPECT_EQ(FindExtensionUnit(c.config, id), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(id, c.id) << c.what;
        }
    }
}

TEST_F(DiscoveryTest, ProbeOfASignedDevice) {
    backend.Add(FakeChip{});
    DeviceRecord record;
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, record), 0u);
    ASSERT_TRUE(ProbeCapabilities(record));
    const CapabilityRecord& caps = *record.capabilities;
    EXPECT_TRUE(caps.hasExtUnit);
    EXPECT_EQ(caps.extUnitId, backend.Chip().unitId);
    EXPECT_TRUE(caps.qualified);
    EXPECT_TRUE(caps.hasVendorRequests);
    EXPECT_FALSE(caps.statusByteWorks);
    EXPECT_EQ(caps.VendorId(), 0x1209);
    EXPECT_EQ(caps.ProductId(), 0x7050);
    EXPECT_EQ(caps.configDescriptor, backend.Chip().ConfigDescriptor());
}

TEST_F(DiscoveryTest, ProbeOfAnUnsignedDeviceFallsBackToTheStatusByte) {
    FakeChip chip;
    chip.vendorRequests = false;
    backend.Add(chip);
    DeviceRecord record;
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, record), 0u);
    ASSERT_TRUE(ProbeCapabilities(record));
    EXPECT_TRUE(record.capabilities->hasExtUnit);
    EXPECT_FALSE(record.capabilities->qualified);
    EXPECT_TRUE(record.capabilities->statusByteWorks);
}

TEST_F(DiscoveryTest, AnotherVendorsExtensionUnitNeverBecomesCurrent) {
    FakeChip chip;
    chip.extCode = 0x045E;
    backend.Add(chip);
    DeviceRecord record;
    ASSERT_EQ(OpenDeviceRecord(backend.Chip().node, record), 0u);
    backend.ClearTransfers();
    ASSERT_TRUE(ProbeCapabilities(record));
    EXPECT_FALSE(record.capabilities->hasExtUnit);
    EXPECT_FALSE(record.capabilities->qualified);
    for (const Transfer& t : Take())
        EXPECT_FALSE(t.IsVendor()) << "the probe stops at the descriptors";
    record.Close();

    EXPECT_EQ(DA_OpenByIndex(0), 0u);
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
    EXPECT_EQ(backend.OpenHandles(), 0);
}

TEST_F(DiscoveryTest, OpenByIndexMakesAQualifiedDeviceCurrent) {
    FakeChip chip;
    chip.mem[0xC3BA] = 0x55;
    backend.Add(chip);
    const std::uint32_t node = DA_OpenByIndex(0);
    ASSERT_EQ(node, backend.Chip().node);
    EXPECT_EQ(DA_GetDeviceNode(), node);
    EXPECT_EQ(backend.Chip().mem[0xC3BA], 0x00);  // the pre-probe poke
    CZynCam* device = CCurrentDevice::Instance().Get();
    ASSERT_NE(device, nullptr);
    EXPECT_NE(device->ExtUnit(), nullptr);
    EXPECT_NE(device->VendorRequest(), nullptr);
    EXPECT_EQ(backend.OpenHandles(), 1);

    // With a device open, another open returns it and opens nothing.
    const int opens = backend.Opens();
    EXPECT_EQ(DA_OpenByIndex(5), node);
    EXPECT_EQ(backend.Opens(), opens);

    DA_Close();
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
    EXPECT_EQ(backend.OpenHandles(), 0);
    EXPECT_EQ(DA_OpenByIndex(1), 0u);  // beyond the list
}

TEST_F(DiscoveryTest, IdentityFromTheDeviceOrFromTheSystemTables) {
    FakeChip chip;
    chip.pid = 0x7042;
    chip.bcd = 0x0321;
    chip.manufacturer = "Quorvex";
    chip.serial = "A1B2";
    chip.port = 4;
    chip.parentNode = 777;
    backend.Add(chip);
    const std::uint32_t node = DA_OpenByIndex(0);
    ASSERT_NE(node, 0u);
    std::uint16_t vid = 0, pid = 0, rev = 0;
    std::string manufacturer, serial, name;
    backend.ClearTransfers();
    EXPECT_EQ(DA_GetIdsAndManufacturer(node, vid, pid, rev, manufacturer), 1);
    EXPECT_EQ(vid, 0x1209);
    EXPECT_EQ(pid, 0x7042);
    EXPECT_EQ(rev, 0x0321);
    EXPECT_EQ(manufacturer, "Quorvex");
    EXPECT_EQ(Take().size(), 1u);  // the manufacturer string from the device
    EXPECT_EQ(DA_GetSerial(node, serial), 1);
    EXPECT_EQ(serial, "A1B2");
    EXPECT_EQ(DA_GetName(name), 1);
    EXPECT_EQ(name, "Fake Codec");
    std::uint32_t port = 0, hub = 0;
    EXPECT_EQ(DA_GetPortAndHub(node, port, hub), 1);
    EXPECT_EQ(port, 4u);
    EXPECT_EQ(hub, 777u);

    // "Lib Type" non-zero: the system's tables answer, the device is not asked.
    ASSERT_TRUE(DeviceLibraryStartup(1));
    backend.ClearTransfers();
    vid = pid = rev = 0;
    manufacturer.clear();
    serial.clear();
    EXPECT_EQ(DA_GetIdsAndManufacturer(node, vid, pid, rev, manufacturer), 1);
    EXPECT_EQ(pid, 0x7042);
    EXPECT_EQ(manufacturer, "Quorvex");
    EXPECT_EQ(DA_GetSerial(node, serial), 1);
    EXPECT_EQ(serial, "A1B2");
    std::string first;
    EXPECT_EQ(DA_GetFirstManufacturer(first), 1);
    EXPECT_EQ(first, "Quorvex");
    EXPECT_TRUE(Take().empty());
    ASSERT_TRUE(DeviceLibraryStartup(0));
}

TEST_F(DiscoveryTest, FirstManufacturerWithoutCurrentDeviceOpensAndClosesEntryZero) {
    FakeChip chip;
    chip.manufacturer = "First";
    backend.Add(chip);
    std::string text;
    EXPECT_EQ(DA_GetFirstManufacturer(text), 1);
    EXPECT_EQ(text, "First");
    EXPECT_EQ(DA_GetDeviceNode(), 0u);
    EXPECT_EQ(backend.OpenHandles(), 0);
}

TEST_F(DiscoveryTest, ReconnectEventFromTheWindowAndFromTheRemoval) {
    backend.Add(FakeChip{});
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    CZynCam* device = CCurrentDevice::Instance().Get();
    EXPECT_FALSE(device->ReconnectEvent().IsSet());
    EXPECT_EQ(DA_SignalReconnect(), 1);
    EXPECT_TRUE(device->ReconnectEvent().IsSet());
    device->ReconnectEvent().Reset();
    backend.Unplug();
    EXPECT_TRUE(device->ReconnectEvent().IsSet());
}

}  // namespace
}  // namespace uafw::test
