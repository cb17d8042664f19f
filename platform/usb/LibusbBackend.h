#pragma once
// The USB seam on libusb-1.0, for real hardware.
//
// Enumeration lists every attached device with an AudioControl interface, with its sysfs port
// path, its hub chain up to the root hub and the names the kernel keeps in sysfs. Opening a device
// lets libusb detach the kernel's audio driver from the AudioControl interface and claims that
// interface (class requests to the extension unit need it); closing releases it, and libusb then
// gives the interface back to the kernel driver. Hot-plug notifications are collected by libusb's
// hot-plug callback and delivered by PollEvents() on the caller's thread.
//
// When libusb cannot start (no usbfs), the backend stays usable and reports no devices.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/usb/NodeIdRegistry.h"
#include "platform/usb/SysfsUsbTable.h"
#include "platform/usb/UsbBackend.h"

struct libusb_context;
struct libusb_device;

namespace uafw::usb {

class LibusbBackend final : public IUsbBackend {
public:
    using InitFunction = int (*)(libusb_context**);
    struct Options {
        std::string sysfsRoot = "/sys/bus/usb/devices";
        // Used for a control transfer asked with time-out 0, so that no transfer waits forever.
        std::uint32_t defaultTimeoutMs = 5000;
        // Starts libusb; libusb_init when empty.
        InitFunction init = nullptr;
    };

    LibusbBackend();
    explicit LibusbBackend(Options options);
    ~LibusbBackend() override;
    LibusbBackend(const LibusbBackend&) = delete;
    LibusbBackend& operator=(const LibusbBackend&) = delete;

    // 0 when libusb started, else the vocabulary code of its failure.
    std::uint32_t StartError() const { return startError_; }

    std::vector<UsbDeviceInfo> Enumerate() override;
    UsbHandle Open(std::uint32_t nodeId, std::uint32_t& error) override;
    void Close(UsbHandle handle) override;
    UsbTransferResult ControlTransfer(UsbHandle handle, std::uint8_t bmRequestType,
                                      std::uint8_t bRequest, std::uint16_t wValue,
                                      std::uint16_t wIndex, std::uint8_t* buffer,
                                      std::uint16_t length, std::uint32_t timeoutMs) override;
    bool OsIdentity(std::uint32_t nodeId, UsbOsIdentity& identity) override;
    int SubscribeHotplug(HotplugCallback callback) override;
    void UnsubscribeHotplug(int subscription) override;
    void PollEvents() override;

private:
    friend struct LibusbHotplugBridge;
    class OpenDevice;

    // Node id of `device`, registering it (and holding a reference) the first time.
    std::uint32_t NodeOf(libusb_device* device);
    void ForgetLocked(libusb_device* device);
    // Everything the seam tells about `device`; nullopt when it has no AudioControl interface.
    std::optional<UsbDeviceInfo> DescribeLocked(libusb_device* device);
    std::vector<HubLink> HubChainLocked(libusb_device* device);
    // Whether `device` is still in libusb's list of attached devices.
    bool IsAttached(libusb_device* device);
    void OnHotplug(libusb_device* device, bool arrived);

    Options options_;
    SysfsUsbTable sysfs_;
    libusb_context* ctx_ = nullptr;
    std::uint32_t startError_ = 0;

    std::mutex mu_;  // registry, devices, handles, pending events; never held while in libusb I/O
    NodeIdRegistry registry_;
    std::map<std::uint32_t, UsbDeviceInfo> audioDevices_;  // last known info of AudioControl nodes
    std::map<UsbHandle, std::shared_ptr<OpenDevice>> handles_;
    UsbHandle nextHandle_ = 1;
    std::deque<std::pair<HotplugEvent, UsbDeviceInfo>> pending_;

    std::mutex hotplugMu_;  // subscribers and the libusb callback registration
    std::map<int, HotplugCallback> subscribers_;
    int nextSubscription_ = 1;
    bool hotplugRegistered_ = false;
    int hotplugHandle_ = 0;
};

}  // namespace uafw::usb
