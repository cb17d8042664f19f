#include "platform/usb/UsbTopology.h"

#include <vector>

namespace uafw::usb {

namespace {

// The numbers of a port path "B-p.q" as {B, p, q}; empty when it is not one.
std::vector<unsigned> PathNumbers(std::string_view path) {
    std::vector<unsigned> numbers;
    unsigned value = 0;
    bool digits = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            digits = true;
            if (value > 0xFFFF) {
                return {};
            }
        } else if (digits && (c == (numbers.empty() ? '-' : '.'))) {
            numbers.push_back(value);
            value = 0;
            digits = false;
        } else {
            return {};
        }
    }
    if (!digits || numbers.empty()) {
        return {};
    }
    numbers.push_back(value);
    return numbers;
}

}  // namespace

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

bool LocationPathBefore(std::string_view a, std::string_view b) {
    const std::vector<unsigned> x = PathNumbers(a);
    const std::vector<unsigned> y = PathNumbers(b);
    if (x.empty() != y.empty()) {
        return !x.empty();
    }
    if (x.empty()) {
        return a < b;
    }
    return x < y;
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
