#include "platform/usb/SysfsUsbTable.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string_view>

namespace uafw::usb {

namespace {

constexpr std::size_t kDeviceDescriptorSize = 18;
constexpr std::size_t kConfigHeaderSize = 9;
constexpr std::uint8_t kConfigDescriptorType = 2;
constexpr std::uintmax_t kMaxAttributeSize = 1 << 20;

// A location path names one directory entry; anything that could climb out of the table is
// refused.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

SysfsUsbTable::SysfsUsbTable(std::string root) : root_(std::move(root)) {}

std::optional<std::vector<std::uint8_t>> SysfsUsbTable::Bytes(const std::string& locationPath,
                                                              const char* attribute) const {
    if (!IsPlainName(locationPath)) {
        return std::nullopt;
    }
    std::ifstream in(root_ + "/" + locationPath + "/" + attribute, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    char c = 0;
    while (bytes.size() < kMaxAttributeSize && in.get(c)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> SysfsUsbTable::Text(const std::string& locationPath,
                                               const char* attribute) const {
    auto bytes = Bytes(locationPath, attribute);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text(bytes->begin(), bytes->end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

bool SysfsUsbTable::Identity(const std::string& locationPath, UsbOsIdentity& identity) const {
    auto raw = Bytes(locationPath, "descriptors");
    if (!raw) {
        return false;
    }
    int active = 0;
    if (auto value = Text(locationPath, "bConfigurationValue")) {
        const char* end = value->data() + value->size();
        if (std::from_chars(value->data(), end, active).ec != std::errc()) {
            active = 0;
        }
    }
    UsbOsIdentity result;
    if (!SplitSysfsDescriptors(*raw, active, result.deviceDescriptor,
                               result.configurationDescriptor)) {
        return false;
    }
    result.manufacturer = Text(locationPath, "manufacturer").value_or("");
    result.product = Text(locationPath, "product").value_or("");
    result.serial = Text(locationPath, "serial").value_or("");
    identity = std::move(result);
    return true;
}

bool SplitSysfsDescriptors(std::span<const std::uint8_t> raw, int activeConfiguration,
                           std::vector<std::uint8_t>& device, std::vector<std::uint8_t>& config) {
    if (raw.size() < kDeviceDescriptorSize || raw[0] != kDeviceDescriptorSize || raw[1] != 1) {
        return false;
    }
    std::span<const std::uint8_t> first;
    std::span<const std::uint8_t> chosen;
    std::size_t offset = kDeviceDescriptorSize;
    while (offset < raw.size()) {
        std::span<const std::uint8_t> rest = raw.subspan(offset);
        if (rest.size() < kConfigHeaderSize || rest[1] != kConfigDescriptorType) {
            return false;
        }
        const std::size_t total = rest[2] | (rest[3] << 8);
        if (total < kConfigHeaderSize || total > rest.size()) {
            return false;
        }
        std::span<const std::uint8_t> one = rest.first(total);
        if (first.empty()) {
            first = one;
        }
        if (chosen.empty() && activeConfiguration != 0 && one[5] == activeConfiguration) {
            chosen = one;
        }
        offset += total;
    }
    if (first.empty()) {
        return false;
    }
    if (chosen.empty()) {
        chosen = first;
    }
    device.assign(raw.begin(), raw.begin() + kDeviceDescriptorSize);
    config.assign(chosen.begin(), chosen.end());
    return true;
}

}  // namespace uafw::usb
