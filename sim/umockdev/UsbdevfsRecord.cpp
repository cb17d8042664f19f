#include "sim/umockdev/UsbdevfsRecord.h"

#include <algorithm>
#include <cstdio>

namespace uafw::sim {

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

std::string Dec3(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%03u", value & 0xFF);
    return text;
}

// Attribute values are one line; backslashes are escapes in the record format.
std::string Escape(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n' || c == '\r') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string UsbDevNode(std::uint8_t bus, std::uint8_t devnum) {
    return "bus/usb/" + Dec3(bus) + "/" + Dec3(devnum);
}

std::string UsbdevfsRecord(const UsbdevfsRecordFields& f) {
    const auto& dd = f.deviceDescriptor;
    if (dd.size() < 18 || dd[0] < 18 || dd[1] != 1 || f.configuration.size() < 9 ||
        f.configuration[1] != 2) {
        return {};
    }
    const unsigned vid = dd[8] | (dd[9] << 8);
    const unsigned pid = dd[10] | (dd[11] << 8);
    const unsigned bcd = dd[12] | (dd[13] << 8);
    const unsigned configValue = f.configuration[5];
    std::string r;
    r += "P: " + f.sysfsPath + "\n";
    r += "N: " + UsbDevNode(f.bus, f.devnum) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n";
    r += "E: BUSNUM=" + Dec3(f.bus) + "\nE: DEVNUM=" + Dec3(f.devnum) + "\n";
    r += "E: DEVNAME=/dev/" + UsbDevNode(f.bus, f.devnum) + "\n";
    char product[32];
    std::snprintf(product, sizeof product, "%x/%x/%x", vid, pid, bcd);
    r += std::string("E: PRODUCT=") + product + "\n";
    r += "A: busnum=" + std::to_string(f.bus) + "\\n\n";
    r += "A: devnum=" + std::to_string(f.devnum) + "\\n\n";
    r += "A: speed=" + std::to_string(f.speedMbps) + "\\n\n";
    r += "A: bConfigurationValue=" + std::to_string(configValue) + "\\n\n";
    r += "A: bNumConfigurations=1\\n\n";
    r += "A: idVendor=" + Hex4(vid) + "\\n\n";
    r += "A: idProduct=" + Hex4(pid) + "\\n\n";
    r += "A: bcdDevice=" + Hex4(bcd) + "\\n\n";
    if (!f.manufacturer.empty()) {
        r += "A: manufacturer=" + Escape(f.manufacturer) + "\\n\n";
    }
    if (!f.product.empty()) {
        r += "A: product=" + Escape(f.product) + "\\n\n";
    }
    if (!f.serial.empty()) {
        r += "A: serial=" + Escape(f.serial) + "\\n\n";
    }
    std::vector<std::uint8_t> all(dd.begin(), dd.begin() + 18);
    all.insert(all.end(), f.configuration.begin(), f.configuration.end());
    r += "H: descriptors=" + Hex(all) + "\n";
    return r;
}

std::string StringDescriptorText(std::span<const std::uint8_t> d) {
    if (d.size() < 2 || d[1] != 3 || d[0] < 2) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(d[0], d.size()) & ~std::size_t{1};
    std::string out;
    for (std::size_t i = 2; i + 1 < length; i += 2) {
        std::uint32_t unit = d[i] | (d[i + 1] << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < length) {
            const std::uint32_t low = d[i + 2] | (d[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit == 0) {
            break;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

}  // namespace uafw::sim
