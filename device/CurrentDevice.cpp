#include "device/CurrentDevice.h"

#include "device/DeviceDiscovery.h"
#include "platform/OperationLog.h"

CCurrentDevice& CCurrentDevice::Instance() {
    static CCurrentDevice current;
    return current;
}

void CCurrentDevice::Set(std::unique_ptr<CZynCam> device, std::uint32_t node) {
    std::unique_ptr<CZynCam> previous;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        previous = std::move(m_device);
        m_device = std::move(device);
        m_node = m_device ? node : 0;
    }
}

void CCurrentDevice::SetNode(std::uint32_t node) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_device)
        m_node = node;
}

void CCurrentDevice::Close() {
    Set(nullptr, 0);
}

bool CCurrentDevice::SignalReconnect() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_device)
        return false;
    m_device->SignalReconnect();
    return true;
}

std::unique_ptr<CZynCam> CreateDeviceObject(std::uint32_t node) {
    LogScope scope("CreateDeviceObject", false, uafw::kLogDevice);
    auto record = std::make_unique<DeviceRecord>();
    const std::uint32_t opened = OpenDeviceRecord(node, *record);
    if (opened != 0) {
        scope.Fail("open of device %u failed: %u\n", node, opened);
        return nullptr;
    }
    {
        // The chip expects this byte before it is probed; whether it takes it does not matter.
        CVendorRequestV2 vendor(*record);
        const std::uint8_t zero = 0;
        vendor.WriteMem(0xC3BA, 1, &zero, nullptr, nullptr);
    }
    if (!ProbeCapabilities(*record)) {
        scope.Fail("probe of device %u failed\n", node);
        return nullptr;
    }
    if (!record->capabilities->qualified) {
        scope.Fail("device %u is not qualified\n", node);
        return nullptr;
    }
    // The device object takes over the probed record instead of opening the device a second
    // time: a device's interface can be claimed by one handle only.
    return std::make_unique<CZynCam>(std::move(record));
}
