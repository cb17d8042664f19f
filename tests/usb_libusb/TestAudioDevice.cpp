#include "tests/usb_libusb/TestAudioDevice.h"

#include <algorithm>
#include <cstring>

namespace uafw::test {

namespace {

std::uint8_t Lo(unsigned v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t Hi(unsigned v) {
    return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

sim::ControlAnswer CopyIn(std::span<std::uint8_t> data, const std::vector<std::uint8_t>& bytes) {
    const std::size_t n = std::min(data.size(), bytes.size());
    std::copy_n(bytes.begin(), n, data.begin());
    return sim::ControlAnswer::Done(static_cast<std::uint32_t>(n));
}

}  // namespace

TestAudioDevice::TestAudioDevice(TestAudioDeviceShape shape) : shape_(std::move(shape)) {}

std::vector<std::uint8_t> TestAudioDevice::DeviceDescriptor() const {
    return {18,
            1,
            0x00,
            0x02,
            0x00,
            0x00,
            0x00,
            64,
            Lo(shape_.vendorId),
            Hi(shape_.vendorId),
            Lo(shape_.productId),
            Hi(shape_.productId),
            Lo(shape_.bcdDevice),
            Hi(shape_.bcdDevice),
            1,
            2,
            3,
            1};
}

std::vector<std::uint8_t> TestAudioDevice::ConfigurationDescriptor() const {
    std::vector<std::uint8_t> c = {9, 2, 0, 0, 0, 1, 0, 0x80, 50};
    std::uint8_t interfaces = 0;
    if (shape_.composite || !shape_.audio) {
        const std::vector<std::uint8_t> hid = {9, 4, interfaces, 0, 0, 3, 0, 0, 0};
        c.insert(c.end(), hid.begin(), hid.end());
        ++interfaces;
    }
    if (shape_.audio) {
        const std::uint8_t ac = interfaces++;
        const std::uint8_t as = interfaces++;
        const std::vector<std::uint8_t> acItf = {9, 4, ac, 0, 0, 1, 1, 0, 0};
        // AC header (subtype 1) followed by the extension unit (subtype 8) whose extension code
        // is the vendor id.
        const std::vector<std::uint8_t> header = {9, 0x24, 1, 0x00, 0x01, 0x16, 0x00, 1, as};
        const std::vector<std::uint8_t> xu = {
            13,   0x24, 8, shape_.unitId, Lo(shape_.vendorId), Hi(shape_.vendorId), 0, 0, 0, 1,
            0x03, 0,    0};
        const std::vector<std::uint8_t> asItf = {9, 4, as, 0, 0, 1, 2, 0, 0};
        for (const auto* part : {&acItf, &header, &xu, &asItf}) {
            c.insert(c.end(), part->begin(), part->end());
        }
    }
    c[2] = Lo(static_cast<unsigned>(c.size()));
    c[3] = Hi(static_cast<unsigned>(c.size()));
    c[4] = interfaces;
    return c;
}

std::vector<std::uint8_t> TestAudioDevice::StringDescriptor(std::uint8_t index) const {
    if (index == 0) {
        return {4, 3, 0x09, 0x04};
    }
    const std::string* text = index == 1   ? &shape_.manufacturer
                              : index == 2 ? &shape_.product
                              : index == 3 ? &shape_.serial
                                           : nullptr;
    if (text == nullptr || text->empty()) {
        return {};
    }
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * text->size()), 3};
    for (char ch : *text) {
        d.push_back(static_cast<std::uint8_t>(ch));
        d.push_back(0);
    }
    return d;
}

std::optional<sim::SetupPacket> TestAudioDevice::LastSetup() const {
    std::lock_guard lock(mu_);
    return last_;
}

std::vector<std::uint8_t> TestAudioDevice::LastOutData() const {
    std::lock_guard lock(mu_);
    return lastOut_;
}

sim::ControlAnswer TestAudioDevice::Control(const sim::SetupPacket& setup,
                                            std::span<std::uint8_t> data) {
    std::lock_guard lock(mu_);
    last_ = setup;
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if (!in) {
        lastOut_.assign(data.begin(), data.end());
    }
    if (!attached_) {
        return {sim::ControlAnswer::Kind::Gone, 0};
    }
    if (setup.bRequest == kNeverAnswered) {
        return {sim::ControlAnswer::Kind::Timeout, 0};
    }
    const std::uint16_t xuIndex =
        static_cast<std::uint16_t>((shape_.unitId << 8) | AudioControlInterface());
    switch (setup.bmRequestType) {
        case 0x80:  // GET_DESCRIPTOR
            if (setup.bRequest == 6) {
                const std::uint8_t type = Hi(setup.wValue);
                if (type == 1) {
                    return CopyIn(data, DeviceDescriptor());
                }
                if (type == 2) {
                    return CopyIn(data, ConfigurationDescriptor());
                }
                if (type == 3) {
                    auto s = StringDescriptor(Lo(setup.wValue));
                    if (!s.empty()) {
                        return CopyIn(data, s);
                    }
                }
            }
            break;
        case 0x21:  // SET_CUR to the extension unit
            if (shape_.audio && setup.bRequest == 0x01 && setup.wIndex == xuIndex &&
                (setup.wValue == 0x0A00 || setup.wValue == 0x0B00)) {
                controls_[setup.wValue].assign(data.begin(), data.end());
                return sim::ControlAnswer::Done(setup.wLength);
            }
            break;
        case 0xA1:  // GET_CUR from the extension unit
            if (shape_.audio && setup.bRequest == 0x81 && setup.wIndex == xuIndex) {
                if (auto it = controls_.find(setup.wValue); it != controls_.end()) {
                    return CopyIn(data, it->second);
                }
            }
            break;
        case 0x40:
            vendor_[setup.bRequest].assign(data.begin(), data.end());
            return sim::ControlAnswer::Done(setup.wLength);
        case 0xC0:
            if (auto it = vendor_.find(setup.bRequest); it != vendor_.end()) {
                return CopyIn(data, it->second);
            }
            break;
        default:
            break;
    }
    return sim::ControlAnswer::Stalled();
}

}  // namespace uafw::test
