// The parts of the libusb backend that need no device: error mapping, port paths, root-hub
// generation, the kernel's descriptor table, node ids, and a libusb that cannot start.
#include <gtest/gtest.h>
#include <libusb.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/usb/LibusbBackend.h"
#include "platform/usb/LibusbErrors.h"
#include "platform/usb/NodeIdRegistry.h"
#include "platform/usb/SysfsUsbTable.h"
#include "platform/usb/UsbTopology.h"

namespace uafw::usb {
namespace {

TEST(LibusbErrorMapping, EachLibusbErrorGetsItsVocabularyCode) {
    struct Case {
        int libusb;
        std::uint32_t code;
    };
    const Case cases[] = {
        {LIBUSB_SUCCESS, 0},
        {5, 0},  // a byte count is not an error
        {LIBUSB_ERROR_NO_DEVICE, kErrNotConnected},
        {LIBUSB_ERROR_TIMEOUT, kErrTimeout},
        {LIBUSB_ERROR_BUSY, kErrNotReady},
        {LIBUSB_ERROR_PIPE, kErrGenFailure},
        {LIBUSB_ERROR_ACCESS, kErrAccessDenied},
        {LIBUSB_ERROR_INVALID_PARAM, kErrInvalidParam},
        {LIBUSB_ERROR_NOT_FOUND, kErrNotConnected},
        {LIBUSB_ERROR_NO_MEM, kErrNotEnoughMemory},
        {LIBUSB_ERROR_NOT_SUPPORTED, kErrNotSupported},
        {LIBUSB_ERROR_IO, kErrIoDevice},
        {LIBUSB_ERROR_OVERFLOW, kErrIoDevice},
        {LIBUSB_ERROR_INTERRUPTED, kErrIoDevice},
        {LIBUSB_ERROR_OTHER, kErrIoDevice},
        {-1000, kErrIoDevice},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapLibusbError(c.libusb), c.code) << "libusb error " << c.libusb;
    }
}

TEST(UsbTopology, LocationPathIsTheSysfsPortPath) {
    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t> one{2};
    const std::vector<std::uint8_t> three{1, 4, 13};
    EXPECT_EQ(FormatLocationPath(3, none), "usb3");
    EXPECT_EQ(FormatLocationPath(1, one), "1-2");
    EXPECT_EQ(FormatLocationPath(12, three), "12-1.4.13");
}

TEST(UsbTopology, PortPathsSortAsThePortsAreNumbered) {
    struct Case {
        const char* a;
        const char* b;
        bool before;
    };
    const Case cases[] = {
        {"1-2", "1-10", true},  {"1-10", "1-2", false}, {"1-2", "1-2.1", true},
        {"1-2.9", "1-3", true}, {"2-1", "10-1", true},  {"1-3", "2-1", true},
        {"1-2", "1-2", false},  {"1-2", "", true},      {"", "1-2", false},
        {"1-x", "1-2", false},  {"1-", "1-2", false},   {"1-2", "usb1", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LocationPathBefore(c.a, c.b), c.before) << c.a << " < " << c.b;
    }
}

TEST(UsbTopology, RootHubGenerationFollowsTheController) {
    struct Case {
        std::uint16_t bcdUsb;
        const char* product;
        std::uint8_t generation;
    };
    const Case cases[] = {
        {0x0310, "xHCI Host Controller", 3}, {0x0300, "", 3},
        {0x0200, "xHCI Host Controller", 3},  // the USB 2 half of a USB 3 controller
        {0x0200, "EHCI Host Controller", 2}, {0x0110, "OHCI PCI host controller", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RootHubGeneration(c.bcdUsb, c.product), c.generation) << c.product;
    }
}

// ---- The kernel's descriptors attribute ----

std::vector<std::uint8_t> DeviceDescriptor() {
    return {18, 1, 0, 2, 0, 0, 0, 64, 0x09, 0x12, 0x50, 0x70, 0, 1, 1, 2, 3, 2};
}

std::vector<std::uint8_t> Configuration(std::uint8_t value, std::uint8_t marker) {
    return {9, 2, 18, 0, 1, value, 0, 0x80, 50, 9, 4, 0, 0, 0, 1, 1, 0, marker};
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(SysfsDescriptors, PicksTheActiveConfiguration) {
    const auto raw = Join({DeviceDescriptor(), Configuration(1, 0xA1), Configuration(2, 0xB2)});
    std::vector<std::uint8_t> device;
    std::vector<std::uint8_t> config;
    ASSERT_TRUE(SplitSysfsDescriptors(raw, 2, device, config));
    EXPECT_EQ(device, DeviceDescriptor());
    EXPECT_EQ(config, Configuration(2, 0xB2));
    ASSERT_TRUE(SplitSysfsDescriptors(raw, 0, device, config));
    EXPECT_EQ(config, Configuration(1, 0xA1));  // unconfigured: the first one
    ASSERT_TRUE(SplitSysfsDescriptors(raw, 7, device, config));
    EXPECT_EQ(config, Configuration(1, 0xA1));
}

TEST(SysfsDescriptors, RefusesDataThatDoesNotHoldWhatItClaims) {
    auto truncated = Join({DeviceDescriptor(), Configuration(1, 0)});
    truncated.pop_back();  // wTotalLength now points past the data
    auto tooLong = Join({DeviceDescriptor(), Configuration(1, 0)});
    tooLong[18 + 2] = 8;  // wTotalLength below the header size
    auto notConfig = Join({DeviceDescriptor(), Configuration(1, 0)});
    auto shortDevice = DeviceDescriptor();
    shortDevice.pop_back();
    notConfig[18 + 1] = 4;
    const std::vector<std::vector<std::uint8_t>> bad = {
        {},
        shortDevice,
        DeviceDescriptor(),  // no configuration at all
        truncated,
        tooLong,
        notConfig,
        Join({DeviceDescriptor(), {9, 2}}),
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        std::vector<std::uint8_t> device{0xEE};
        std::vector<std::uint8_t> config{0xEE};
        EXPECT_FALSE(SplitSysfsDescriptors(bad[i], 1, device, config)) << "case " << i;
        EXPECT_EQ(device, std::vector<std::uint8_t>{0xEE}) << "case " << i;
    }
}

class SysfsTable : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("uafw-sysfs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "1-2.3");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void Write(const char* name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(root_ / "1-2.3" / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    void Write(const char* name, const std::string& text) {
        Write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::filesystem::path root_;
};

TEST_F(SysfsTable, ReadsStringsWithoutLineEndsAndTheActiveConfiguration) {
    Write("descriptors",
          Join({DeviceDescriptor(), Configuration(1, 0xA1), Configuration(2, 0xB2)}));
    Write("bConfigurationValue", std::string("2\n"));
    Write("manufacturer", std::string("Test Maker\n"));
    Write("product", std::string("Test Codec\n"));
    SysfsUsbTable table(root_.string());
    UsbOsIdentity id;
    ASSERT_TRUE(table.Identity("1-2.3", id));
    EXPECT_EQ(id.manufacturer, "Test Maker");
    EXPECT_EQ(id.product, "Test Codec");
    EXPECT_EQ(id.serial, "");  // no serial attribute
    EXPECT_EQ(id.deviceDescriptor, DeviceDescriptor());
    EXPECT_EQ(id.configurationDescriptor, Configuration(2, 0xB2));
}

TEST_F(SysfsTable, MissingOrBrokenDevicesGiveNothing) {
    SysfsUsbTable table(root_.string());
    UsbOsIdentity id;
    id.product = "untouched";
    EXPECT_FALSE(table.Identity("1-2.3", id));  // no descriptors attribute
    Write("descriptors", std::vector<std::uint8_t>{18, 1, 0});
    EXPECT_FALSE(table.Identity("1-2.3", id));
    EXPECT_FALSE(table.Identity("9-9", id));
    EXPECT_EQ(id.product, "untouched");
    // A location path names one entry of the table, nothing outside it.
    for (const char* escape : {"", ".", "..", "../1-2.3", "1-2.3/../1-2.3"}) {
        EXPECT_FALSE(table.Text(escape, "product").has_value()) << escape;
    }
}

// ---- Node ids ----

TEST(NodeIds, StableWhileRegisteredNewAfterForgetAndNeverZero) {
    NodeIdRegistry registry;
    int a = 0;
    int b = 0;
    bool added = false;
    const std::uint32_t idA = registry.Acquire(&a, added);
    EXPECT_TRUE(added);
    EXPECT_NE(idA, 0u);
    EXPECT_EQ(registry.Acquire(&a, added), idA);
    EXPECT_FALSE(added);
    const std::uint32_t idB = registry.Acquire(&b, added);
    EXPECT_NE(idB, idA);
    EXPECT_EQ(registry.KeyOf(idA).value(), &a);
    EXPECT_EQ(registry.Find(&b).value(), idB);

    EXPECT_EQ(registry.Forget(&a), idA);
    EXPECT_EQ(registry.Forget(&a), 0u);
    EXPECT_FALSE(registry.KeyOf(idA).has_value());
    // The same object coming back (a re-enumerated device) gets a fresh id.
    const std::uint32_t again = registry.Acquire(&a, added);
    EXPECT_TRUE(added);
    EXPECT_NE(again, idA);
    EXPECT_NE(again, idB);
    EXPECT_EQ(registry.Keys().size(), 2u);
}

// ---- A libusb that cannot start ----

int FailingInit(libusb_context** ctx) {
    *ctx = nullptr;
    return LIBUSB_ERROR_OTHER;
}

TEST(LibusbBackendWithoutUsb, ReportsTheFailureAndNoDevices) {
    LibusbBackend::Options options;
    options.init = &FailingInit;
    LibusbBackend backend(options);
    EXPECT_EQ(backend.StartError(), kErrIoDevice);
    EXPECT_TRUE(backend.Enumerate().empty());
    std::uint32_t error = 0;
    EXPECT_EQ(backend.Open(1, error), 0u);
    EXPECT_EQ(error, kErrNotConnected);
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(backend.ControlTransfer(1, 0xC0, 1, 0, 0, buffer, 4, 100).error, kErrInvalidHandle);
    UsbOsIdentity id;
    EXPECT_FALSE(backend.OsIdentity(1, id));
    EXPECT_EQ(backend.SubscribeHotplug([](HotplugEvent, const UsbDeviceInfo&) {}), 0);
    backend.PollEvents();
    backend.Close(1);
}

}  // namespace
}  // namespace uafw::usb
