#pragma once
// A small USB audio device for the libusb tests: an AudioControl interface with the maker's
// extension unit, optionally behind a HID interface (a composite device), answering the standard
// descriptor requests, the extension unit's SET_CUR/GET_CUR on controls 10 and 11, and vendor
// requests that store and return bytes. Request 0xEE is never answered (a time-out); anything it
// does not know is stalled.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/UsbDeviceModel.h"

namespace uafw::test {

struct TestAudioDeviceShape {
    std::uint16_t vendorId = 0x1209;
    std::uint16_t productId = 0x7050;
    std::uint16_t bcdDevice = 0x0100;
    bool composite = false;  // a HID interface 0 before the audio function
    bool audio = true;       // false: a HID-only device
    std::uint8_t unitId = 6;
    std::string manufacturer = "Test Maker";
    std::string product = "Test Codec";
    std::string serial = "SN0001";
};

class TestAudioDevice : public sim::IUsbDeviceModel {
public:
    static constexpr std::uint8_t kNeverAnswered = 0xEE;

    explicit TestAudioDevice(TestAudioDeviceShape shape = {});

    std::vector<std::uint8_t> DeviceDescriptor() const override;
    std::vector<std::uint8_t> ConfigurationDescriptor() const override;
    std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const override;
    sim::ControlAnswer Control(const sim::SetupPacket& setup,
                               std::span<std::uint8_t> data) override;
    bool Attached() const override { return attached_; }

    void SetAttached(bool attached) { attached_ = attached; }
    std::uint8_t AudioControlInterface() const { return shape_.composite ? 1 : 0; }
    std::uint8_t UnitId() const { return shape_.unitId; }
    std::optional<sim::SetupPacket> LastSetup() const;
    // Bytes the last OUT transfer carried.
    std::vector<std::uint8_t> LastOutData() const;

private:
    TestAudioDeviceShape shape_;
    std::atomic<bool> attached_{true};
    mutable std::mutex mu_;
    std::map<std::uint16_t, std::vector<std::uint8_t>> controls_;  // extension-unit controls
    std::map<std::uint8_t, std::vector<std::uint8_t>> vendor_;     // vendor request registers
    std::optional<sim::SetupPacket> last_;
    std::vector<std::uint8_t> lastOut_;
};

}  // namespace uafw::test
