#pragma once
// The USB seam: the only way down to a device. Two implementations stand behind it: the libusb
// backend for real hardware and the virtual-chip backend (sim/) selected by UAFW_SIM.
//
// Errors use the system's own vocabulary (Windows error codes): 1167 the device is gone, 1460
// time-out, 21 not ready (busy while re-enumerating), 31 a refused request (stall), any other
// non-zero code for other failures.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace uafw::usb {

inline constexpr std::uint32_t kErrAccessDenied = 5;     // ERROR_ACCESS_DENIED (no permission)
inline constexpr std::uint32_t kErrInvalidHandle = 6;    // ERROR_INVALID_HANDLE (not open)
inline constexpr std::uint32_t kErrNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t kErrNotReady = 21;        // ERROR_NOT_READY
inline constexpr std::uint32_t kErrGenFailure = 31;      // ERROR_GEN_FAILURE (stall, refused)
inline constexpr std::uint32_t kErrNotSupported = 50;    // ERROR_NOT_SUPPORTED
inline constexpr std::uint32_t kErrInvalidParam = 87;    // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrNoMoreItems = 259;    // ERROR_NO_MORE_ITEMS
inline constexpr std::uint32_t kErrNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr std::uint32_t kErrIoDevice = 1117;      // ERROR_IO_DEVICE (other I/O failure)
inline constexpr std::uint32_t kErrTimeout = 1460;       // ERROR_TIMEOUT

// One hub on the way from a device up to the root hub.
struct HubLink {
    std::uint32_t nodeId = 0;        // the hub's node id
    std::uint8_t port = 0;           // port on this hub that leads towards the device
    bool isRoot = false;             // true for the root hub
    std::uint8_t usbGeneration = 0;  // root hub only: 2 = USB 2.0, 3 = USB 3.x
};

// One attached USB device with an AudioControl interface (class 1, subclass 1).
struct UsbDeviceInfo {
    std::uint32_t nodeId = 0;       // stable while attached, new after re-enumeration
    std::string locationPath;       // port path such as "1-2.3"; same port, same path
    std::vector<HubLink> hubChain;  // parent hub first, root hub last
    std::uint8_t audioControlInterface = 0;
    std::uint32_t parentNodeId = 0;  // the hub the device hangs on
    std::uint8_t parentPort = 0;     // its port number on that hub
    std::string displayName;         // product text for lists; empty when the device has none
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
};

// Identity as the operating system's tables hold it (no request to the device).
struct UsbOsIdentity {
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::vector<std::uint8_t> deviceDescriptor;         // 18 bytes
    std::vector<std::uint8_t> configurationDescriptor;  // the whole configuration
};

using UsbHandle = std::uint64_t;  // 0 = none

struct UsbTransferResult {
    std::uint32_t error = 0;        // 0 on success, else a code of the vocabulary above
    std::uint32_t transferred = 0;  // bytes moved in the data stage
    bool ok() const { return error == 0; }
};

enum class HotplugEvent { Arrived, Removed };
using HotplugCallback = std::function<void(HotplugEvent, const UsbDeviceInfo&)>;

class IUsbBackend {
public:
    virtual ~IUsbBackend() = default;

    // Every attached device with an AudioControl interface, in a stable order.
    virtual std::vector<UsbDeviceInfo> Enumerate() = 0;
    // Opens the device; `error` is 0 or a vocabulary code.
    virtual UsbHandle Open(std::uint32_t nodeId, std::uint32_t& error) = 0;
    virtual void Close(UsbHandle handle) = 0;
    // One control transfer. The direction is bit 7 of bmRequestType; `length` bytes of `buffer`
    // are sent (OUT) or at most `length` bytes are received into it (IN).
    virtual UsbTransferResult ControlTransfer(UsbHandle handle, std::uint8_t bmRequestType,
                                              std::uint8_t bRequest, std::uint16_t wValue,
                                              std::uint16_t wIndex, std::uint8_t* buffer,
                                              std::uint16_t length, std::uint32_t timeoutMs) = 0;
    // Identity strings and descriptors from the operating system's tables.
    virtual bool OsIdentity(std::uint32_t nodeId, UsbOsIdentity& identity) = 0;
    // Subscribes to arrival and removal; returns a subscription id (0 = not supported).
    virtual int SubscribeHotplug(HotplugCallback callback) = 0;
    virtual void UnsubscribeHotplug(int subscription) = 0;
    // Delivers pending hot-plug notifications (backends that need polling); returns at once.
    virtual void PollEvents() {}
};

// The backend in use. The application installs one at start-up; tests install their own.
IUsbBackend* CurrentUsbBackend();
void SetCurrentUsbBackend(IUsbBackend* backend);

}  // namespace uafw::usb
