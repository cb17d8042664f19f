#pragma once
// What a backend needs of an emulated USB device: its descriptors and the answers to control
// transfers. The virtual chip implements it; the in-process backend and the usbdevfs host both
// drive the same model, so there is one chip behind both fronts.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace uafw::sim {

struct SetupPacket {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
};

// Result of one control transfer at the device: bytes moved, or a failure.
struct ControlAnswer {
    enum class Kind { Ok, Stall, Gone, Timeout } kind = Kind::Ok;
    std::uint32_t transferred = 0;
    // A failure with a specific code of the USB seam's vocabulary (for example 21, not ready),
    // reported instead of the code that `kind` implies; 0 = the code of `kind`. Hosts that cannot
    // carry such a code report `kind` (a stall for a not-ready answer).
    std::uint32_t error = 0;
    static ControlAnswer Done(std::uint32_t n) { return {Kind::Ok, n}; }
    static ControlAnswer Stalled() { return {Kind::Stall, 0}; }
    static ControlAnswer Failed(Kind kind, std::uint32_t code) { return {kind, 0, code}; }
};

class IUsbDeviceModel {
public:
    virtual ~IUsbDeviceModel() = default;
    virtual std::vector<std::uint8_t> DeviceDescriptor() const = 0;
    virtual std::vector<std::uint8_t> ConfigurationDescriptor() const = 0;
    // String descriptor `index` (0 = language list) as the device returns it, empty if none.
    virtual std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const = 0;
    // Handles one control transfer on endpoint 0. For IN transfers `data` has wLength bytes to
    // fill; for OUT transfers it holds the wLength bytes sent.
    virtual ControlAnswer Control(const SetupPacket& setup, std::span<std::uint8_t> data) = 0;
    // False while the device is off the bus (after an unplug or during re-enumeration).
    virtual bool Attached() const = 0;
    // Counts the device's appearances on the bus: a new value means that it left the bus and
    // enumerated again (new device number, possibly other descriptors).
    virtual std::uint32_t Generation() const { return 0; }
};

}  // namespace uafw::sim
