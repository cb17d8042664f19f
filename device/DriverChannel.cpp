#include "device/DriverChannel.h"

#include "device/DeviceLocks.h"
#include "platform/OperationLog.h"

using uafw::usb::CurrentUsbBackend;
using uafw::usb::IUsbBackend;

namespace {
constexpr std::uint8_t kRequestGetDescriptor = 0x06;
constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;

CDriverChannel::Result Failed(std::uint32_t error) {
    return {error, 0};
}
}  // namespace

CDriverChannel& CDriverChannel::Instance() {
    static CDriverChannel channel;
    return channel;
}

bool CDriverChannel::Startup(std::int32_t libType) {
    LogScope scope("CDriverChannel::Startup", false, uafw::kLogDevice);
    std::lock_guard<std::mutex> guard(m_lock);
    m_libType.store(libType);
    if (m_open.load())
        return true;
    if (!m_uacSync)
        m_uacSync = std::make_unique<uafw::NamedMutex>(DeviceLockName(kUacSyncMutexName));
    if (!m_refCount)
        m_refCount = std::make_unique<uafw::NamedMutex>(DeviceLockName(kRefCountMutexName));
    if (!m_uacSync->IsOpen() || !m_refCount->IsOpen()) {
        scope.Fail("device locks not available\n");
        m_uacSync.reset();
        m_refCount.reset();
        return false;
    }
    // Opening the channel is ordered against other processes' start-up and shut-down.
    const uafw::MutexWait wait = m_refCount->Wait(uafw::kWaitInfinite);
    const bool held = wait == uafw::MutexWait::kAcquired || wait == uafw::MutexWait::kAbandoned;
    const bool haveBackend = CurrentUsbBackend() != nullptr;
    if (held)
        m_refCount->Release();
    if (!haveBackend) {
        scope.Fail("no USB backend\n");
        m_refCount.reset();
        return false;
    }
    m_open.store(true);
    return true;
}

void CDriverChannel::Shutdown() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_open.load() && m_refCount) {
        const uafw::MutexWait wait = m_refCount->Wait(uafw::kWaitInfinite);
        m_open.store(false);
        if (wait == uafw::MutexWait::kAcquired || wait == uafw::MutexWait::kAbandoned)
            m_refCount->Release();
    }
    m_open.store(false);
    m_uacSync.reset();
    m_refCount.reset();
}

uafw::NamedMutex* CDriverChannel::UacSyncMutex() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open.load() ? m_uacSync.get() : nullptr;
}

IUsbBackend* CDriverChannel::Backend() const {
    return m_open.load() ? CurrentUsbBackend() : nullptr;
}

CDriverChannel::Result CDriverChannel::Attach(std::uint32_t nodeId, UsbHandle& handle) {
    handle = 0;
    IUsbBackend* backend = Backend();
    if (!backend)
        return Failed(kErrPathNotFound);
    std::uint32_t error = 0;
    const UsbHandle opened = backend->Open(nodeId, error);
    if (error != 0 || opened == 0) {
        if (opened != 0)
            backend->Close(opened);
        return Failed(error != 0 ? error : uafw::usb::kErrInvalidHandle);
    }
    handle = opened;
    return {0, 0};
}

void CDriverChannel::Detach(UsbHandle handle) {
    // A device attached before shut-down is still closed, so that no handle outlives its record.
    IUsbBackend* backend = CurrentUsbBackend();
    if (backend && handle != 0)
        backend->Close(handle);
}

CDriverChannel::Result CDriverChannel::SubmitVendor(UsbHandle handle, std::uint8_t requestType,
                                                    std::uint8_t request, std::uint16_t value,
                                                    std::uint16_t index, std::uint8_t* buffer,
                                                    std::uint16_t length, std::uint32_t timeoutMs) {
    IUsbBackend* backend = Backend();
    if (!backend)
        return Failed(uafw::usb::kErrInvalidHandle);
    if (handle == 0 || (length > 0 && buffer == nullptr))
        return Failed(uafw::usb::kErrInvalidParam);
    return backend->ControlTransfer(handle, requestType, request, value, index, buffer, length,
                                    timeoutMs);
}

CDriverChannel::Result CDriverChannel::SubmitClass(UsbHandle handle, std::uint8_t requestType,
                                                   std::uint8_t request, std::uint8_t selector,
                                                   std::uint8_t entityId,
                                                   std::uint8_t interfaceNumber,
                                                   std::uint8_t* buffer, std::uint16_t length,
                                                   std::uint32_t timeoutMs) {
    const auto value = static_cast<std::uint16_t>(selector << 8);
    const auto index = static_cast<std::uint16_t>((entityId << 8) | interfaceNumber);
    return SubmitVendor(handle, requestType, request, value, index, buffer, length, timeoutMs);
}

CDriverChannel::Result CDriverChannel::ReadDescriptor(UsbHandle handle, std::uint8_t type,
                                                      std::uint8_t index, std::uint16_t language,
                                                      std::uint8_t* buffer, std::uint16_t length) {
    const auto value = static_cast<std::uint16_t>((type << 8) | index);
    return SubmitVendor(handle, 0x80, kRequestGetDescriptor, value, language, buffer, length);
}

CDriverChannel::Result CDriverChannel::ReadDeviceDescriptor(UsbHandle handle,
                                                            std::uint8_t (&descriptor)[18]) {
    Result r = ReadDescriptor(handle, kDescriptorDevice, 0, 0, descriptor, sizeof descriptor);
    if (r.ok() && r.transferred != sizeof descriptor)
        r.error = kErrBadLength;
    return r;
}

CDriverChannel::Result CDriverChannel::ReadConfigDescriptor(UsbHandle handle, std::uint8_t* buffer,
                                                            std::uint16_t length) {
    Result r = ReadDescriptor(handle, kDescriptorConfiguration, 0, 0, buffer, length);
    if (r.ok() && r.transferred != length)
        r.error = kErrBadLength;
    return r;
}

CDriverChannel::Result CDriverChannel::ReadStringDescriptor(UsbHandle handle, std::uint8_t index,
                                                            std::uint16_t language,
                                                            std::uint8_t* buffer,
                                                            std::uint16_t length) {
    return ReadDescriptor(handle, kDescriptorString, index, language, buffer, length);
}
