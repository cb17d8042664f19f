#include "device/DeviceDiscovery.h"

#include <algorithm>
#include <cstdio>

#include "config/VendorIds.h"
#include "device/DriverChannel.h"
#include "device/ExtUnit.h"
#include "device/VendorRequestV2.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"
#include "platform/TextCodec.h"

using uafw::usb::CurrentUsbBackend;
using uafw::usb::UsbDeviceInfo;

namespace {
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorClassInterface = 0x24;
constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

bool FindDevice(std::uint32_t node, UsbDeviceInfo& info) {
    if (!CDriverChannel::Instance().IsOpen())
        return false;
    uafw::usb::IUsbBackend* backend = CurrentUsbBackend();
    if (!backend)
        return false;
    for (const UsbDeviceInfo& device : backend->Enumerate()) {
        if (device.nodeId == node) {
            info = device;
            return true;
        }
    }
    return false;
}

// A lock hold on "ICOperateSyncUac_2022": after a time-out or a failed wait the exchange goes
// on without it; an abandoned lock is owned and released at the end.
class UacSyncHold {
public:
    UacSyncHold() : m_lock(CDriverChannel::Instance().UacSyncMutex()) {
        if (!m_lock)
            return;
        const uafw::MutexWait wait = m_lock->Wait(kDeviceLockWaitMs);
        m_held = wait == uafw::MutexWait::kAcquired || wait == uafw::MutexWait::kAbandoned;
    }
    ~UacSyncHold() {
        if (m_held)
            m_lock->Release();
    }
    UacSyncHold(const UacSyncHold&) = delete;
    UacSyncHold& operator=(const UacSyncHold&) = delete;

private:
    uafw::NamedMutex* m_lock;
    bool m_held = false;
};
}  // namespace

std::uint32_t EnumerateDeviceList(std::vector<DeviceListEntry>& list) {
    list.clear();
    if (!CDriverChannel::Instance().IsOpen() || !CurrentUsbBackend())
        return uafw::usb::kErrNoMoreItems;
    const std::vector<UsbDeviceInfo> devices = CurrentUsbBackend()->Enumerate();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        DeviceListEntry entry;
        entry.deviceNode = devices[i].nodeId;
        if (devices[i].displayName.empty()) {
            char name[48];
            std::snprintf(name, sizeof name, "Usb Video Device #%d", static_cast<int>(i + 1));
            entry.name = name;
        } else {
            entry.name = devices[i].displayName;
        }
        entry.location = devices[i].locationPath;
        list.push_back(std::move(entry));
    }
    return list.empty() ? uafw::usb::kErrNoMoreItems : 0;
}

std::uint32_t OpenDeviceRecord(std::uint32_t node, DeviceRecord& record) {
    LogScope scope("OpenDeviceRecord", false, uafw::kLogDevice);
    record.Reset();
    UsbDeviceInfo info;
    if (!FindDevice(node, info))
        return uafw::usb::kErrNotConnected;

    record.deviceNode = node;
    record.interfaceKind = 0;
    record.name = info.displayName;
    record.location = info.locationPath;
    // The AudioControl interface number comes as a number from the enumeration.
    record.interfaceNumber = info.audioControlInterface;

    // Walk up to the root hub: at most 31 levels.
    record.ancestors.fill(0);
    std::uint32_t stored = 0;
    bool rootFound = false;
    for (const uafw::usb::HubLink& hub : info.hubChain) {
        if (stored + 1 >= kMaxAncestors)
            break;
        record.ancestors[++stored] = hub.nodeId;
        if (hub.isRoot) {
            record.rootHubClass = hub.usbGeneration >= 3   ? kRootHubUsb3
                                  : hub.usbGeneration == 2 ? kRootHubUsb2
                                                           : kRootHubOther;
            rootFound = true;
            break;
        }
    }
    if (!rootFound) {
        scope.Fail("no root hub above device %u\n", node);
        return kErrNotFound;
    }
    record.ancestorCount = 1 + stored;

    CDriverChannel& channel = CDriverChannel::Instance();
    const auto attached = channel.Attach(node, record.driverHandle);
    if (!attached.ok())
        return attached.error;
    record.interfaceOpen = true;
    record.tag = kDeviceRecordTag;

    // Wait until the device answers; a device that stays not ready is given up after a while.
    std::uint8_t descriptor[18];
    for (int poll = 0;; ++poll) {
        const auto r = channel.ReadDeviceDescriptor(record.driverHandle, descriptor);
        if (r.error != uafw::usb::kErrNotReady)
            break;
        if (poll + 1 >= kDescriptorWaitPolls) {
            scope.Fail("device %u stays not ready\n", node);
            record.Close();
            record.tag = 0;
            return uafw::usb::kErrTimeout;
        }
        uafw::Clock().SleepMs(kDescriptorPollMs);
    }
    return 0;
}

std::uint32_t OpenListEntry(std::uint32_t index, DeviceRecord& record) {
    std::vector<DeviceListEntry> list;
    const std::uint32_t found = EnumerateDeviceList(list);
    if (found != 0)
        return found;
    if (index >= list.size())
        return kErrNotFound;
    return OpenDeviceRecord(list[index].deviceNode, record);
}

bool FindExtensionUnit(std::span<const std::uint8_t> config, std::uint8_t& unitId) {
    std::size_t offset = 0;
    bool afterInterface = false;
    while (offset + 2 <= config.size()) {
        const std::uint8_t length = config[offset];
        const std::uint8_t type = config[offset + 1];
        if (length < 2 || offset + length > config.size())
            return false;  // a broken descriptor ends the walk
        if (!afterInterface) {
            afterInterface = type == kDescriptorInterface;
        } else {
            if (type != kDescriptorClassInterface)
                return false;  // only the first interface's own descriptors count
            const std::uint8_t subtype = length >= 3 ? config[offset + 2] : 0;
            if ((subtype == 8 || subtype == 9) && length >= 6) {
                const auto code =
                    static_cast<std::uint16_t>(config[offset + 4] | (config[offset + 5] << 8));
                if (code == kMakerVendorId) {
                    unitId = config[offset + 3];
                    return true;
                }
            }
        }
        offset += length;
    }
    return false;
}

bool ProbeCapabilities(DeviceRecord& record) {
    LogScope scope("ProbeCapabilities", false, uafw::kLogDevice);
    if (!record.Usable())
        return false;
    UacSyncHold hold;
    CDriverChannel& channel = CDriverChannel::Instance();
    auto caps = std::make_unique<CapabilityRecord>();
    std::uint8_t device[18];
    if (!channel.ReadDeviceDescriptor(record.driverHandle, device).ok())
        return false;
    std::copy(std::begin(device), std::end(device), caps->deviceDescriptor.begin());
    std::uint8_t head[9];
    if (!channel.ReadConfigDescriptor(record.driverHandle, head, sizeof head).ok())
        return false;
    const auto total = static_cast<std::uint16_t>(head[2] | (head[3] << 8));
    if (total < sizeof head)
        return false;
    caps->configDescriptor.assign(total, 0);
    if (!channel.ReadConfigDescriptor(record.driverHandle, caps->configDescriptor.data(), total)
             .ok())
        return false;

    caps->hasExtUnit = FindExtensionUnit(caps->configDescriptor, caps->extUnitId);
    if (caps->hasExtUnit) {
        CVendorRequestV2 vendor(record);
        const bool read =
            vendor.GetDevStatus(0, caps->statusBlock.data(),
                                static_cast<std::uint32_t>(caps->statusBlock.size())) == S_OK;
        const bool signedBlock =
            read && std::equal(kDeviceSignature.begin(), kDeviceSignature.end(),
                               caps->statusBlock.begin() + 24);
        caps->qualified = caps->hasVendorRequests = signedBlock;
        if (!signedBlock) {
            std::uint8_t status = 0;
            caps->statusByteWorks = vendor.ReadStatusByte(status) == S_OK;
        }
    }
    record.capabilities = std::move(caps);
    return true;
}

bool ReadDeviceString(const DeviceRecord& record, std::uint8_t index, std::string& text) {
    if (index == 0)
        return false;
    std::uint8_t buffer[256] = {};
    const auto r = CDriverChannel::Instance().ReadStringDescriptor(
        record.driverHandle, index, kLanguageEnglishUs, buffer, sizeof buffer);
    if (!r.ok() || r.transferred < 2)
        return false;
    // bLength counts the header; take no more characters than actually arrived.
    const std::size_t length = std::min<std::size_t>(buffer[0], r.transferred);
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < length; i += 2)
        wide.push_back(static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8)));
    text = uafw::Utf16ToUtf8(wide);
    return true;
}
