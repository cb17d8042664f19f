// The sysfs face the usbdevfs host gives an emulated device, and string descriptor decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/umockdev/UsbdevfsRecord.h"
#include "tests/usb_libusb/TestAudioDevice.h"

namespace uafw::sim {
namespace {

bool Has(const std::string& record, const std::string& line) {
    return record.find(line + "\n") != std::string::npos;
}

TEST(UsbdevfsRecord, CarriesTheAddressIdentityAndDescriptorsLibusbReads) {
    test::TestAudioDevice model;
    UsbdevfsRecordFields f;
    f.sysfsPath = "/devices/pci0000:00/0000:00:01.0/usb1/1-2";
    f.bus = 1;
    f.devnum = 14;
    f.deviceDescriptor = model.DeviceDescriptor();
    f.configuration = model.ConfigurationDescriptor();
    f.product = "Codec \\ one";
    const std::string r = UsbdevfsRecord(f);
    EXPECT_TRUE(Has(r, "P: /devices/pci0000:00/0000:00:01.0/usb1/1-2"));
    EXPECT_TRUE(Has(r, "N: bus/usb/001/014"));
    EXPECT_TRUE(Has(r, "E: DEVNAME=/dev/bus/usb/001/014"));
    EXPECT_TRUE(Has(r, "A: busnum=1\\n"));
    EXPECT_TRUE(Has(r, "A: devnum=14\\n"));
    EXPECT_TRUE(Has(r, "A: idVendor=1209\\n"));
    EXPECT_TRUE(Has(r, "A: idProduct=7050\\n"));
    EXPECT_TRUE(Has(r, "A: bcdDevice=0100\\n"));
    EXPECT_TRUE(Has(r, "A: product=Codec \\\\ one\\n"));
    EXPECT_EQ(r.find("A: serial="), std::string::npos);  // no serial given, no attribute
    std::string hex;
    for (const auto* part : {&f.deviceDescriptor, &f.configuration}) {
        for (std::uint8_t b : *part) {
            static const char* digits = "0123456789abcdef";
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
    }
    EXPECT_TRUE(Has(r, "H: descriptors=" + hex));
}

TEST(UsbdevfsRecord, RefusesDescriptorsThatDescribeNoDevice) {
    test::TestAudioDevice model;
    UsbdevfsRecordFields f;
    f.sysfsPath = "/devices/x/usb1/1-1";
    f.deviceDescriptor = model.DeviceDescriptor();
    f.deviceDescriptor.resize(17);
    f.configuration = model.ConfigurationDescriptor();
    EXPECT_TRUE(UsbdevfsRecord(f).empty());
    f.deviceDescriptor = model.DeviceDescriptor();
    f.configuration = {9, 4, 0, 0, 0, 1, 1, 0, 0};  // an interface, not a configuration
    EXPECT_TRUE(UsbdevfsRecord(f).empty());
}

TEST(StringDescriptorText, DecodesUtf16AndStopsAtTheDeclaredLength) {
    struct Case {
        std::vector<std::uint8_t> descriptor;
        std::string text;
    };
    const Case cases[] = {
        {{8, 3, 'A', 0, 'b', 0, '1', 0}, "Ab1"},
        {{6, 3, 'A', 0, 'b', 0, '1', 0}, "Ab"},                    // bLength shorter than the data
        {{10, 3, 'A', 0}, "A"},                                    // bLength longer than the data
        {{6, 3, 0xE9, 0x00, 0xAC, 0x20}, "\xC3\xA9\xE2\x82\xAC"},  // é €
        {{6, 3, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},      // a surrogate pair
        {{4, 1, 'A', 0}, ""},                                      // not a string descriptor
        {{1}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StringDescriptorText(c.descriptor), c.text);
    }
}

}  // namespace
}  // namespace uafw::sim
