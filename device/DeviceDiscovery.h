#pragma once
// Finding the maker's devices and opening one of them: the device list, the device record with
// its place in the USB tree, the capability probe (extension unit, signed status block) and the
// string descriptors.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/DeviceRecord.h"

// One candidate device of an enumeration.
struct DeviceListEntry {
    std::uint32_t deviceNode = 0;
    std::string name;      // the product text, or "Usb Video Device #n" (n = 1-based position)
    std::string location;  // the port path
};

// Upper bound of the wait for the device descriptor after opening, in 200 ms polls.
inline constexpr int kDescriptorWaitPolls = 50;
inline constexpr std::uint32_t kDescriptorPollMs = 200;

// The attached candidate devices in enumeration order: 0, or 259 when there is none.
std::uint32_t EnumerateDeviceList(std::vector<DeviceListEntry>& list);

// Opens the device of `node` into `record`: identity and tree position, attach, the walk up to
// the root hub, and the wait until the device answers. 0, or a system error (2 when no root hub
// is above the device, 1460 when it never answers); nothing stays attached after a failure.
std::uint32_t OpenDeviceRecord(std::uint32_t node, DeviceRecord& record);

// Enumerates afresh and opens list entry `index`: 0, 259 (no devices), 2 (no such entry) or the
// error of the open.
std::uint32_t OpenListEntry(std::uint32_t index, DeviceRecord& record);

// Probes what the device can do and stores the new capability record in `record`. False when
// its descriptors cannot be read; a device without the maker's extension unit probes fine with
// every flag clear.
bool ProbeCapabilities(DeviceRecord& record);

// The entity ID of the maker's extension unit among the class-specific descriptors that follow
// the first interface descriptor of `config`; false when there is none.
bool FindExtensionUnit(std::span<const std::uint8_t> config, std::uint8_t& unitId);

// The text of string descriptor `index` (language 0x0409) of the open device; false when the
// index is 0 or the read fails.
bool ReadDeviceString(const DeviceRecord& record, std::uint8_t index, std::string& text);
