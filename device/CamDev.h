#pragma once
// The device object: CCamDev holds an open device record and a copy of its capabilities;
// CZynCam adds the command transports the capabilities allow and the reconnect event that cuts a
// reset's settle wait short.
//
// The reconnect event is also set by the USB backend's removal notification of the open device,
// so that a reset's settle wait ends as soon as the device has left the bus.
#include <atomic>
#include <cstdint>
#include <memory>

#include "device/DeviceRecord.h"
#include "device/ExtUnit.h"
#include "device/VendorRequestV2.h"
#include "platform/Event.h"
#include "platform/usb/UsbBackend.h"

class CCamDev {
public:
    // Takes over an open, probed record.
    explicit CCamDev(std::unique_ptr<DeviceRecord> record);
    virtual ~CCamDev();
    CCamDev(const CCamDev&) = delete;
    CCamDev& operator=(const CCamDev&) = delete;

    DeviceRecord& Record() { return *m_record; }
    const DeviceRecord& Record() const { return *m_record; }
    // The device object's copy of the capabilities.
    const CapabilityRecord& Capabilities() const { return m_capabilities; }

protected:
    std::unique_ptr<DeviceRecord> m_record;
    CapabilityRecord m_capabilities;
};

class CZynCam : public CCamDev {
public:
    explicit CZynCam(std::unique_ptr<DeviceRecord> record);
    ~CZynCam() override;

    // Null when the device does not offer the transport.
    CExtUnit* ExtUnit() { return m_extUnit.get(); }
    CVendorRequestV2* VendorRequest() { return m_vendorRequest.get(); }

    uafw::Event& ReconnectEvent() { return m_watch->reconnect; }
    // Sets the reconnect event.
    virtual void SignalReconnect();

    // Puts a new, probed record of the same device in place of the old one and builds the
    // transports anew from its capabilities (the data control size starts at 8 again).
    void ReplaceRecord(std::unique_ptr<DeviceRecord> record);
    // Builds the transports from the record's capabilities.
    void RebuildTransports();

private:
    // Shared with the removal notification, which may come on another thread.
    struct RemovalWatch {
        std::atomic<std::uint32_t> node{0};
        uafw::Event reconnect{uafw::Event::Mode::kManualReset};
    };

    std::unique_ptr<CExtUnit> m_extUnit;
    std::unique_ptr<CVendorRequestV2> m_vendorRequest;
    std::shared_ptr<RemovalWatch> m_watch;
    uafw::usb::IUsbBackend* m_backend = nullptr;  // where the removal subscription lives
    int m_subscription = 0;
};
