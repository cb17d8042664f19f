#pragma once
// The records of one open device: the device record (its handle, place in the USB tree and
// AudioControl interface number) and the capability record that the probe fills (descriptors,
// extension unit, vendor-request status block).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb/UsbBackend.h"

// What the probe found out about a device.
struct CapabilityRecord {
    std::array<std::uint8_t, 18> deviceDescriptor{};
    std::vector<std::uint8_t> configDescriptor;  // the whole configuration (wTotalLength bytes)
    bool qualified = false;                      // the vendor-request status block is signed
    bool hasExtUnit = false;                     // the maker's extension unit was found
    bool statusByteWorks = false;                // unsigned, but the one-byte status answers
    bool hasVendorRequests = false;              // equal to qualified
    std::uint8_t extUnitId = 0;                  // entity ID of the extension unit
    std::array<std::uint8_t, 96> statusBlock{};  // first 96 bytes of the status block

    std::uint16_t VendorId() const { return Word(8); }
    std::uint16_t ProductId() const { return Word(10); }
    std::uint16_t BcdDevice() const { return Word(12); }
    std::uint8_t ManufacturerIndex() const { return deviceDescriptor[14]; }
    std::uint8_t SerialIndex() const { return deviceDescriptor[16]; }

private:
    std::uint16_t Word(std::size_t offset) const {
        return static_cast<std::uint16_t>(deviceDescriptor[offset] |
                                          (deviceDescriptor[offset + 1] << 8));
    }
};

// Root hub classes of a device record.
inline constexpr std::int32_t kRootHubUsb3 = 3;
inline constexpr std::int32_t kRootHubUsb2 = 2;
inline constexpr std::int32_t kRootHubOther = 1;

inline constexpr std::uint32_t kDeviceRecordTag = 0x4D43595Au;  // marks a valid record
inline constexpr std::size_t kMaxAncestors = 32;

// One open device. The record owns its device handle: destroying or closing the record detaches
// the device.
struct DeviceRecord {
    DeviceRecord() = default;
    ~DeviceRecord();
    DeviceRecord(const DeviceRecord&) = delete;
    DeviceRecord& operator=(const DeviceRecord&) = delete;

    // Detaches the device and marks the record unusable.
    void Close();
    // Closes the record and clears every field.
    void Reset();
    // Present, tagged, attached.
    bool Usable() const { return tag == kDeviceRecordTag && driverHandle != 0 && interfaceOpen; }

    std::uint32_t tag = 0;
    uafw::usb::UsbHandle driverHandle = 0;  // 0 = detached
    std::uint32_t deviceNode = 0;
    bool interfaceOpen = false;
    std::int32_t rootHubClass = kRootHubOther;
    std::string name;
    std::int32_t interfaceKind = 0;  // 0 = audio function, 1 = USB device
    // Slot 0 unused (0); slots 1.. the hub nodes from the parent upward to the root hub.
    std::array<std::uint32_t, kMaxAncestors> ancestors{};
    std::string location;
    std::uint32_t interfaceNumber = 0;  // the AudioControl interface number
    std::uint32_t ancestorCount = 0;    // 1 + the hubs stored
    std::unique_ptr<CapabilityRecord> capabilities;
};
