#pragma once
// The process-wide current device on which the device API works: one CZynCam or none. The
// worker thread opens, uses and closes it; the main window only signals its reconnect event,
// which the lock here keeps safe against a device being closed at the same time.
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/CamDev.h"

class CCurrentDevice {
public:
    static CCurrentDevice& Instance();

    // The current device, or null.
    CZynCam* Get() { return m_device.get(); }
    // The device node it was opened from, or 0.
    std::uint32_t Node() const { return m_node; }
    // Makes `device` current (destroying the previous one).
    void Set(std::unique_ptr<CZynCam> device, std::uint32_t node);
    // The node of the current device after it re-enumerated.
    void SetNode(std::uint32_t node);
    // Destroys the current device, if any.
    void Close();
    // Sets the current device's reconnect event; false when there is none.
    bool SignalReconnect();

private:
    CCurrentDevice() = default;
    std::mutex m_lock;
    std::unique_ptr<CZynCam> m_device;
    std::uint32_t m_node = 0;
};

// Builds the device object of `node`: a temporary record, the pre-probe poke, the probe; only a
// qualified device gives a CZynCam (null otherwise, and nothing stays attached).
std::unique_ptr<CZynCam> CreateDeviceObject(std::uint32_t node);
