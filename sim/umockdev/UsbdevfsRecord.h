#pragma once
// The sysfs and udev face of an emulated USB device, written in umockdev's device-record format
// ("P:" sysfs path, "N:" device node, "E:" udev properties, "A:"/"H:" text and binary attributes).
// libusb enumerates from these records: busnum and devnum give the device address, the sysfs
// directory name gives the port path and the parent hub, "descriptors" gives the descriptors.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace uafw::sim {

struct UsbdevfsRecordFields {
    std::string sysfsPath;  // below /sys, for example "/devices/pci0000:00/0000:00:14.0/usb1/1-2"
    std::uint8_t bus = 1;
    std::uint8_t devnum = 1;
    std::uint32_t speedMbps = 480;
    std::vector<std::uint8_t> deviceDescriptor;  // 18 bytes
    std::vector<std::uint8_t> configuration;     // the whole configuration descriptor
    std::string manufacturer;                    // empty: no attribute
    std::string product;
    std::string serial;
};

// "bus/usb/BBB/DDD", the device node below /dev.
std::string UsbDevNode(std::uint8_t bus, std::uint8_t devnum);
// The record; empty when the descriptors are too short to describe a device.
std::string UsbdevfsRecord(const UsbdevfsRecordFields& fields);
// The text of a USB string descriptor (UTF-16LE after a two-byte header) as UTF-8; empty when
// the descriptor is malformed.
std::string StringDescriptorText(std::span<const std::uint8_t> descriptor);

}  // namespace uafw::sim
