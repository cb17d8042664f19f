#include "device/CamDev.h"

#include "platform/usb/UsbBackend.h"

CCamDev::CCamDev(std::unique_ptr<DeviceRecord> record) : m_record(std::move(record)) {
    if (!m_record)
        m_record = std::make_unique<DeviceRecord>();
    if (m_record->capabilities)
        m_capabilities = *m_record->capabilities;
}

CCamDev::~CCamDev() = default;

CZynCam::CZynCam(std::unique_ptr<DeviceRecord> record)
    : CCamDev(std::move(record)), m_watch(std::make_shared<RemovalWatch>()) {
    m_watch->node.store(m_record->deviceNode);
    RebuildTransports();
    m_backend = uafw::usb::CurrentUsbBackend();
    if (m_backend) {
        std::weak_ptr<RemovalWatch> watch = m_watch;
        m_subscription = m_backend->SubscribeHotplug(
            [watch](uafw::usb::HotplugEvent event, const uafw::usb::UsbDeviceInfo& info) {
                auto alive = watch.lock();
                if (alive && event == uafw::usb::HotplugEvent::Removed &&
                    info.nodeId == alive->node.load())
                    alive->reconnect.Set();
            });
    }
}

CZynCam::~CZynCam() {
    if (m_backend && m_subscription != 0)
        m_backend->UnsubscribeHotplug(m_subscription);
    m_extUnit.reset();
    m_vendorRequest.reset();
}

void CZynCam::SignalReconnect() {
    m_watch->reconnect.Set();
}

void CZynCam::RebuildTransports() {
    m_extUnit.reset();
    m_vendorRequest.reset();
    if (m_record->capabilities)
        m_capabilities = *m_record->capabilities;
    if (m_capabilities.hasExtUnit)
        m_extUnit = std::make_unique<CExtUnit>(*m_record, m_capabilities.extUnitId);
    if (m_capabilities.hasVendorRequests)
        m_vendorRequest = std::make_unique<CVendorRequestV2>(*m_record);
}

void CZynCam::ReplaceRecord(std::unique_ptr<DeviceRecord> record) {
    // The transports refer to the old record: they go first.
    m_extUnit.reset();
    m_vendorRequest.reset();
    m_record = std::move(record);
    if (!m_record)
        m_record = std::make_unique<DeviceRecord>();
    m_watch->node.store(m_record->deviceNode);
    RebuildTransports();
}
