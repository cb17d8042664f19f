#pragma once
// The chip's USB face: device descriptor, configuration descriptor (an AudioControl interface
// whose class-specific descriptors carry the vendor extension unit, and one AudioStreaming
// interface) and the string descriptors.
#include <cstdint>
#include <string>
#include <vector>

#include "sim/ChipConfig.h"

namespace uafw::sim {

class UsbDescriptors {
public:
    explicit UsbDescriptors(const ChipConfig& config);

    const std::vector<std::uint8_t>& Device() const { return m_device; }
    const std::vector<std::uint8_t>& Configuration() const { return m_configuration; }
    // String `index` (0 = the language list), empty when the chip has none.
    std::vector<std::uint8_t> String(std::uint8_t index) const;

private:
    std::vector<std::uint8_t> m_device;
    std::vector<std::uint8_t> m_configuration;
    std::vector<std::string> m_strings;  // index 1.. (manufacturer, product, serial)
};

}  // namespace uafw::sim
