#pragma once
// The channel to the devices that the transports and the discovery see: library start-up and
// shut-down, attach (open a device and get its device handle), submit a vendor request or a class
// request, read the device, configuration and string descriptors, and detach. On Linux no proxy
// driver is needed: every request goes to the USB backend in use, and the library is "open" while
// a backend is installed and the library has been started.
//
// Every wrapper fails at once, without touching any device, while the library is closed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/DeviceResult.h"
#include "platform/NamedMutex.h"
#include "platform/usb/UsbBackend.h"

// Timeout of every transport request, in milliseconds.
inline constexpr std::uint32_t kTransferTimeoutMs = 5000;
// Waits on the named device locks, in milliseconds.
inline constexpr std::uint32_t kDeviceLockWaitMs = 10000;

inline constexpr const char* kUacSyncMutexName = "ICOperateSyncUac_2022";
inline constexpr const char* kRefCountMutexName = "RefCountMutex_2021_07_08";

class CDriverChannel {
public:
    using UsbHandle = uafw::usb::UsbHandle;
    using Result = uafw::usb::UsbTransferResult;

    static CDriverChannel& Instance();

    // Library start-up: stores "Lib Type", creates the lock "ICOperateSyncUac_2022" and opens the
    // channel (under "RefCountMutex_2021_07_08"). A second start-up while open does nothing and
    // succeeds. False when no USB backend is installed or a lock cannot be created.
    bool Startup(std::int32_t libType);
    // Library shut-down: closes the channel and the locks. Every later wrapper but Detach fails.
    void Shutdown();

    bool IsOpen() const { return m_open.load(); }
    // "Lib Type" as the start-up stored it.
    std::int32_t LibType() const { return m_libType.load(); }
    // The lock of the probe's and the reset's direct extension-unit exchanges; null while closed.
    uafw::NamedMutex* UacSyncMutex();

    // Opens the device of `nodeId`; on success `handle` is its device handle (else 0).
    Result Attach(std::uint32_t nodeId, UsbHandle& handle);
    // Closes the device handle (also after shut-down, so that no handle is left open).
    void Detach(UsbHandle handle);

    // A vendor request to the device; `length` bytes move in the direction of bit 7 of
    // `requestType`. `transferred` of the result is the number of bytes moved.
    Result SubmitVendor(UsbHandle handle, std::uint8_t requestType, std::uint8_t request,
                        std::uint16_t value, std::uint16_t index, std::uint8_t* buffer,
                        std::uint16_t length, std::uint32_t timeoutMs = kTransferTimeoutMs);
    // A class request to an entity of an interface: wValue = selector << 8, wIndex = (entity << 8)
    // | interface.
    Result SubmitClass(UsbHandle handle, std::uint8_t requestType, std::uint8_t request,
                       std::uint8_t selector, std::uint8_t entityId, std::uint8_t interfaceNumber,
                       std::uint8_t* buffer, std::uint16_t length,
                       std::uint32_t timeoutMs = kTransferTimeoutMs);
    // The 18-byte device descriptor; succeeds only when all 18 bytes arrived.
    Result ReadDeviceDescriptor(UsbHandle handle, std::uint8_t (&descriptor)[18]);
    // The first `length` bytes of the configuration descriptor; succeeds only when all arrived.
    Result ReadConfigDescriptor(UsbHandle handle, std::uint8_t* buffer, std::uint16_t length);
    // A string descriptor; any length that arrived counts.
    Result ReadStringDescriptor(UsbHandle handle, std::uint8_t index, std::uint16_t language,
                                std::uint8_t* buffer, std::uint16_t length);

private:
    CDriverChannel() = default;
    // The backend while the channel is open, else null.
    uafw::usb::IUsbBackend* Backend() const;
    Result ReadDescriptor(UsbHandle handle, std::uint8_t type, std::uint8_t index,
                          std::uint16_t language, std::uint8_t* buffer, std::uint16_t length);

    std::mutex m_lock;  // start-up and shut-down
    std::atomic<bool> m_open{false};
    std::atomic<std::int32_t> m_libType{0};
    std::unique_ptr<uafw::NamedMutex> m_uacSync;
    std::unique_ptr<uafw::NamedMutex> m_refCount;
};
