#include "platform/usb/UsbTopology.h"

namespace uafw::usb {

std::string FormatLocationPath(std::uint8_t bus, std::span<const std::uint8_t> ports) {
    if (ports.empty()) {
        return "usb" + std::to_string(bus);
    }
    std::string path = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i != 0) {
            path += '.';
        }
        path += std::to_string(ports[i]);
    }
    return path;
}

std::uint8_t RootHubGeneration(std::uint16_t bcdUsb, std::string_view product) {
    if (bcdUsb >= 0x0300) {
        return 3;
    }
    if (product.find("xHCI") != std::string_view::npos) {
        return 3;
    }
    if (bcdUsb >= 0x0200) {
        return 2;
    }
    return 1;
}

}  // namespace uafw::usb
