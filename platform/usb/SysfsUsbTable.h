#pragma once
// The operating system's table of USB devices: the attributes the kernel keeps under
// /sys/bus/usb/devices/<port path>/ (identity strings and the descriptors it read at enumeration).
// Reading them sends no request to the device.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/usb/UsbBackend.h"

namespace uafw::usb {

class SysfsUsbTable {
public:
    explicit SysfsUsbTable(std::string root = "/sys/bus/usb/devices");

    // One text attribute of the device at `locationPath` without its trailing line end; nullopt
    // when the device or the attribute does not exist.
    std::optional<std::string> Text(const std::string& locationPath, const char* attribute) const;
    // Strings and descriptors of the device; false when its descriptors cannot be read.
    bool Identity(const std::string& locationPath, UsbOsIdentity& identity) const;

private:
    std::optional<std::vector<std::uint8_t>> Bytes(const std::string& locationPath,
                                                   const char* attribute) const;
    std::string root_;
};

// Splits the kernel's "descriptors" attribute (the 18-byte device descriptor followed by the whole
// of every configuration) into the device descriptor and the configuration whose
// bConfigurationValue is `activeConfiguration` (the first one when none matches or it is 0).
// False when the data is too short or a length field points past the data.
bool SplitSysfsDescriptors(std::span<const std::uint8_t> raw, int activeConfiguration,
                           std::vector<std::uint8_t>& device, std::vector<std::uint8_t>& config);

}  // namespace uafw::usb
