#include "fake_chip_backend.h"

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"

namespace uafw::test {

using uafw::usb::HotplugEvent;
using uafw::usb::UsbDeviceInfo;
using uafw::usb::UsbHandle;
using uafw::usb::UsbTransferResult;

namespace {
UsbTransferResult Moved(std::uint32_t n) {
    return {0, n};
}
UsbTransferResult Error(std::uint32_t code) {
    return {code, 0};
}
const UsbTransferResult kStall = Error(uafw::usb::kErrGenFailure);

void Put16(std::vector<std::uint8_t>& d, std::uint16_t v) {
    d.push_back(static_cast<std::uint8_t>(v));
    d.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text)
        Put16(d, static_cast<std::uint8_t>(c));
    return d;
}

// Copies `n` bytes of `src` from `offset` (zeros past its end) into `dst`.
void CopyOut(const std::vector<std::uint8_t>& src, std::uint32_t offset, std::uint8_t* dst,
             std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i)
        dst[i] = offset + i < src.size() ? src[offset + i] : 0;
}
}  // namespace

std::vector<std::uint8_t> FakeChip::DeviceDescriptor() const {
    std::vector<std::uint8_t> d{18, 1, 0x00, 0x02, 0, 0, 0, 64};
    Put16(d, vid);
    Put16(d, pid);
    Put16(d, bcd);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

std::vector<std::uint8_t> FakeChip::ConfigDescriptor() const {
    std::vector<std::uint8_t> d{9, 2, 0, 0, 2, 1, 0, 0x80, 50};
    // AudioControl interface with its class-specific descriptors.
    d.insert(d.end(), {9, 4, acInterface, 0, 0, 1, 1, 0, 0});
    d.insert(d.end(), {9, 0x24, 1, 0x00, 0x01, 0x1E, 0x00, 1, 1});
    d.insert(d.end(), {12, 0x24, 2, 1, 0x01, 0x02, 0, 2, 0x03, 0x00, 0, 0});
    if (extUnit) {
        d.insert(d.end(), {15, 0x24, 8, unitId});
        Put16(d, extCode);
        d.insert(d.end(), {1, 1, 2, 0x03, 0x00, 0, 1, 0x03, 0});
    }
    // AudioStreaming interface.
    d.insert(d.end(), {9, 4, static_cast<std::uint8_t>(acInterface + 1), 0, 0, 1, 2, 0, 0});
    d.insert(d.end(), {7, 0x24, 1, 1, 1, 0x01, 0x00});
    d[2] = static_cast<std::uint8_t>(d.size());
    d[3] = static_cast<std::uint8_t>(d.size() >> 8);
    return d;
}

FakeChipBackend::FakeChipBackend() = default;
FakeChipBackend::~FakeChipBackend() = default;

std::size_t FakeChipBackend::Add(FakeChip chip) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    chip.node = m_nextNode++;
    if (chip.vendorRequests)
        std::memcpy(&chip.statusBlock[24], "QUORVEX", 8);
    m_chips.push_back(std::move(chip));
    return m_chips.size() - 1;
}

FakeChip* FakeChipBackend::ChipOfNode(std::uint32_t node) {
    for (FakeChip& chip : m_chips)
        if (chip.attached && chip.node == node)
            return &chip;
    return nullptr;
}

FakeChip* FakeChipBackend::ChipOfHandle(UsbHandle handle) {
    auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : ChipOfNode(it->second);
}

UsbDeviceInfo FakeChipBackend::Info(const FakeChip& chip) const {
    UsbDeviceInfo info;
    info.nodeId = chip.node;
    info.locationPath = chip.location;
    info.hubChain = chip.hubChain;
    info.audioControlInterface = chip.acInterface;
    info.parentNodeId = chip.parentNode;
    info.parentPort = chip.port;
    info.displayName = chip.displayName;
    info.vendorId = chip.vid;
    info.productId = chip.pid;
    info.bcdDevice = chip.bcd;
    return info;
}

void FakeChipBackend::Notify(HotplugEvent event, const FakeChip& chip) {
    const UsbDeviceInfo info = Info(chip);
    for (auto& [id, callback] : m_callbacks)
        callback(event, info);
}

void FakeChipBackend::Leave(FakeChip& chip) {
    chip.attached = false;
    chip.returnsAtMs = uafw::Clock().NowMs() + chip.reenumMs;
    Notify(HotplugEvent::Removed, chip);
}

void FakeChipBackend::Unplug(std::size_t index) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FakeChip& chip = m_chips.at(index);
    chip.attached = false;
    chip.returnsAtMs = 0;
    Notify(HotplugEvent::Removed, chip);
}

void FakeChipBackend::Refresh() {
    const std::uint64_t now = uafw::Clock().NowMs();
    for (FakeChip& chip : m_chips) {
        if (chip.attached || chip.returnsAtMs == 0 || chip.neverReturn || now < chip.returnsAtMs)
            continue;
        chip.attached = true;
        chip.returnsAtMs = 0;
        chip.node = m_nextNode++;
        chip.appearances++;
        chip.dataSize = 8;
        chip.pendingSize = 8;
        chip.status = 0;
        Notify(HotplugEvent::Arrived, chip);
    }
}

std::vector<UsbDeviceInfo> FakeChipBackend::Enumerate() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    Refresh();
    std::vector<UsbDeviceInfo> list;
    for (const FakeChip& chip : m_chips)
        if (chip.attached)
            list.push_back(Info(chip));
    return list;
}

UsbHandle FakeChipBackend::Open(std::uint32_t nodeId, std::uint32_t& error) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    Refresh();
    if (!ChipOfNode(nodeId)) {
        error = uafw::usb::kErrNotConnected;
        return 0;
    }
    error = 0;
    const UsbHandle handle = m_nextHandle++;
    m_handles[handle] = nodeId;
    ++m_opens;
    m_openedNodes.push_back(nodeId);
    return handle;
}

void FakeChipBackend::Close(UsbHandle handle) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_handles.erase(handle);
}

int FakeChipBackend::OpenHandles() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return static_cast<int>(m_handles.size());
}

std::vector<Transfer> FakeChipBackend::Transfers() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_transfers;
}

void FakeChipBackend::ClearTransfers() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_transfers.clear();
}

bool FakeChipBackend::OsIdentity(std::uint32_t nodeId, uafw::usb::UsbOsIdentity& identity) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    FakeChip* chip = ChipOfNode(nodeId);
    if (!chip || !chip->osNameReadable)
        return false;
    identity.manufacturer = chip->manufacturer;
    identity.product = chip->displayName;
    identity.serial = chip->serial;
    identity.deviceDescriptor = chip->DeviceDescriptor();
    identity.configurationDescriptor = chip->ConfigDescriptor();
    return true;
}

int FakeChipBackend::SubscribeHotplug(uafw::usb::HotplugCallback callback) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_callbacks[m_nextSubscription] = std::move(callback);
    return m_nextSubscription++;
}

void FakeChipBackend::UnsubscribeHotplug(int subscription) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_callbacks.erase(subscription);
}

void FakeChipBackend::PollEvents() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    Refresh();
}

UsbTransferResult FakeChipBackend::ControlTransfer(UsbHandle handle, std::uint8_t bmRequestType,
                                                   std::uint8_t bRequest, std::uint16_t wValue,
                                                   std::uint16_t wIndex, std::uint8_t* buffer,
                                                   std::uint16_t length, std::uint32_t) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const std::uint32_t number = ++m_count;
    Transfer t;
    auto it = m_handles.find(handle);
    t.node = it == m_handles.end() ? 0 : it->second;
    t.bmRequestType = bmRequestType;
    t.bRequest = bRequest;
    t.wValue = wValue;
    t.wIndex = wIndex;
    t.wLength = length;
    if (!(bmRequestType & 0x80) && buffer)
        t.out.assign(buffer, buffer + length);

    UsbTransferResult result;
    FakeChip* chip = ChipOfHandle(handle);
    if (m_unplugAfter && number > *m_unplugAfter) {
        for (FakeChip& c : m_chips)
            if (c.attached && &c == chip) {
                c.attached = false;
                c.returnsAtMs = 0;
                Notify(HotplugEvent::Removed, c);
            }
        chip = nullptr;
    }
    if (it == m_handles.end()) {
        result = Error(uafw::usb::kErrInvalidHandle);
    } else if (!chip) {
        result = Error(uafw::usb::kErrNotConnected);
    } else if (auto fail = m_failAt.find(number); fail != m_failAt.end()) {
        result = Error(fail->second);
        chip->status = chip->errorStatus;
    } else if (m_notReady > 0) {
        --m_notReady;
        result = Error(uafw::usb::kErrNotReady);
    } else {
        result = Answer(*chip, bmRequestType, bRequest, wValue, wIndex, buffer, length);
    }
    t.error = result.error;
    if (m_observer)
        m_observer(t);
    m_transfers.push_back(std::move(t));
    return result;
}

UsbTransferResult FakeChipBackend::Answer(FakeChip& chip, std::uint8_t bmRequestType,
                                          std::uint8_t bRequest, std::uint16_t wValue,
                                          std::uint16_t wIndex, std::uint8_t* buffer,
                                          std::uint16_t length) {
    if (bmRequestType == 0x80 && bRequest == 6)
        return Standard(chip, wValue, buffer, length);
    if (bmRequestType == 0x21 || bmRequestType == 0xA1) {
        const auto unitIndex = static_cast<std::uint16_t>((chip.unitId << 8) | chip.acInterface);
        if (!chip.extUnit || wIndex != unitIndex)
            return kStall;
        return ExtUnitRequest(chip, bmRequestType, bRequest, wValue, buffer, length);
    }
    if (bmRequestType == 0x40 || bmRequestType == 0xC0)
        return Vendor(chip, bmRequestType, bRequest, wValue, wIndex, buffer, length);
    return kStall;
}

UsbTransferResult FakeChipBackend::Standard(FakeChip& chip, std::uint16_t wValue,
                                            std::uint8_t* buffer, std::uint16_t length) {
    std::vector<std::uint8_t> d;
    switch (wValue >> 8) {
        case 1:
            d = chip.DeviceDescriptor();
            break;
        case 2:
            d = chip.ConfigDescriptor();
            break;
        case 3:
            switch (wValue & 0xFF) {
                case 0:
                    d = {4, 3, 0x09, 0x04};
                    break;
                case 1:
                    d = StringDescriptor(chip.manufacturer);
                    break;
                case 2:
                    d = StringDescriptor(chip.displayName);
                    break;
                case 3:
                    d = StringDescriptor(chip.serial);
                    break;
                default:
                    return kStall;
            }
            break;
        default:
            return kStall;
    }
    const std::uint32_t n = std::min<std::uint32_t>(length, d.size());
    std::memcpy(buffer, d.data(), n);
    return Moved(n);
}

UsbTransferResult FakeChipBackend::ExtUnitRequest(FakeChip& chip, std::uint8_t bmRequestType,
                                                  std::uint8_t bRequest, std::uint16_t wValue,
                                                  std::uint8_t* buffer, std::uint16_t length) {
    const std::uint8_t control = static_cast<std::uint8_t>(wValue >> 8);
    auto p = [&](int i) {
        return static_cast<std::uint16_t>(chip.cmd[2 * i] | (chip.cmd[2 * i + 1] << 8));
    };
    const std::uint16_t op = static_cast<std::uint16_t>((chip.cmd[0] << 8) | chip.cmd[1]);
    if (control == 10 && bmRequestType == 0x21 && bRequest == 0x01) {
        if (length != 8)
            return kStall;
        std::memcpy(chip.cmd, buffer, 8);
        chip.cursor = 0;
        const std::uint16_t newOp = static_cast<std::uint16_t>((buffer[0] << 8) | buffer[1]);
        if (newOp == 0xFF00)
            chip.status = 0;
        else if (newOp == 0x0016)
            chip.pendingSize = p(2);
        else if (newOp == 0x0007 || newOp == 0x0009)
            Leave(chip);
        return Moved(8);
    }
    if (control == 10 && bmRequestType == 0xA1 && bRequest == 0x81) {
        std::memset(buffer, 0, length);
        buffer[0] = chip.status;
        return Moved(length);
    }
    if (control == 11 && bmRequestType == 0xA1 && bRequest == 0x85) {
        chip.dataSize = std::min(chip.pendingSize, chip.maxDataSize);
        buffer[0] = static_cast<std::uint8_t>(chip.dataSize);
        buffer[1] = static_cast<std::uint8_t>(chip.dataSize >> 8);
        return Moved(2);
    }
    if (control != 11 || length != chip.dataSize) {
        chip.status = 5;  // VCMD_STS_ERR_LEN
        return kStall;
    }
    const std::uint32_t spiAddr = (static_cast<std::uint32_t>(p(3)) << 16) | p(1);
    if (bmRequestType == 0xA1 && bRequest == 0x81) {
        std::memset(buffer, 0, length);
        const std::uint32_t valid =
            chip.cursor < p(2) ? std::min<std::uint32_t>(length, p(2) - chip.cursor) : 0;
        switch (op) {
            case 0x00C1:
            case 0x00C2:
            case 0x00C3:
            case 0x00CA:
                CopyOut(chip.mem, p(1) + chip.cursor, buffer, valid);
                break;
            case 0x02C2:
                CopyOut(chip.flash, spiAddr + chip.cursor, buffer, valid);
                break;
            case 0x00CD:
                CopyOut(chip.statusBlock, p(1) * 8u, buffer, std::min<std::uint32_t>(8, length));
                break;
            case 0x00D0:
                std::memcpy(buffer, "QUORVEX", std::min<std::uint32_t>(8, length));
                break;
            case 0x00CC:
                buffer[0] = chip.mem[p(1)];
                break;
            default:
                break;
        }
        chip.cursor += length;
        return Moved(length);
    }
    if (bmRequestType == 0x21 && bRequest == 0x01) {
        const std::uint32_t valid =
            chip.cursor < p(2) ? std::min<std::uint32_t>(length, p(2) - chip.cursor) : 0;
        switch (op) {
            case 0x0082:
                for (std::uint32_t i = 0; i < valid && p(1) + chip.cursor + i < chip.mem.size();
                     ++i)
                    chip.mem[p(1) + chip.cursor + i] = buffer[i];
                break;
            case 0x0282:
                for (std::uint32_t i = 0;
                     i < valid && spiAddr + chip.cursor + i < chip.flash.size(); ++i)
                    chip.flash[spiAddr + chip.cursor + i] &= buffer[i];
                break;
            case 0x008C:
                chip.mem[p(1)] = buffer[0];
                break;
            default:
                break;
        }
        chip.cursor += length;
        return Moved(length);
    }
    return kStall;
}

UsbTransferResult FakeChipBackend::Vendor(FakeChip& chip, std::uint8_t bmRequestType,
                                          std::uint8_t bRequest, std::uint16_t wValue,
                                          std::uint16_t wIndex, std::uint8_t* buffer,
                                          std::uint16_t length) {
    const bool in = bmRequestType & 0x80;
    if (in && bRequest == 0x06)
        return chip.statusByte ? (buffer[0] = 0, Moved(1)) : kStall;
    if (!in && bRequest == 0x01 && (chip.statusByte || chip.vendorRequests)) {
        Leave(chip);
        return Moved(0);
    }
    if (!chip.vendorRequests)
        return kStall;
    const std::uint32_t genericAddr =
        (static_cast<std::uint32_t>((wValue >> 8) & 0xF) << 16) | wIndex;
    const std::uint32_t spiAddr = (static_cast<std::uint32_t>(wValue >> 8) << 16) | wIndex;
    if (in) {
        std::memset(buffer, 0, length);
        switch (bRequest) {
            case 0x07:
                CopyOut(chip.statusBlock, (wValue & 0xFF) * 8u, buffer, length);
                break;
            case 0x23:
            case 0x25:
            case 0x26:
                CopyOut(chip.mem, genericAddr, buffer, length);
                break;
            case 0x2E:
                CopyOut(chip.flash, spiAddr, buffer, length);
                break;
            case 0x36:
                buffer[0] = chip.erasePolls++ < chip.eraseBlockPollsBusy ? 0 : 1;
                break;
            default:
                break;
        }
        return Moved(length);
    }
    switch (bRequest) {
        case 0x20:
        case 0x21:
        case 0x22:
            Leave(chip);
            break;
        case 0x24:
            for (std::uint32_t i = 0; i < length && genericAddr + i < chip.mem.size(); ++i)
                chip.mem[genericAddr + i] = buffer[i];
            break;
        case 0x2F:
            for (std::uint32_t i = 0; i < length && spiAddr + i < chip.flash.size(); ++i)
                chip.flash[spiAddr + i] &= buffer[i];
            break;
        case 0x35:
            chip.erasePolls = 0;
            for (std::uint32_t i = 0; i < 0x10000 && genericAddr + i < chip.flash.size(); ++i)
                chip.flash[genericAddr + i] = 0xFF;
            break;
        default:
            break;
    }
    return Moved(length);
}

}  // namespace uafw::test
