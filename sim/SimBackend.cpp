#include "sim/SimBackend.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "sim/ChipStateDir.h"

namespace uafw::sim {

namespace {

std::vector<std::uint8_t> SplitPort(const std::string& path) {
    std::vector<std::uint8_t> ports;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t dot = path.find('.', start);
        if (dot == std::string::npos)
            dot = path.size();
        ports.push_back(
            static_cast<std::uint8_t>(std::atoi(path.substr(start, dot - start).c_str())));
        start = dot + 1;
    }
    return ports;
}

std::string StringOf(const std::vector<std::uint8_t>& d) {
    // A string descriptor holds UTF-16LE; the characters of the chip's own texts are ASCII or
    // at least in the basic plane, which becomes UTF-8 here.
    std::string s;
    for (std::size_t i = 2; i + 1 < d.size(); i += 2) {
        const std::uint32_t cp = d[i] | (std::uint32_t{d[i + 1]} << 8);
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return s;
}

}  // namespace

std::unique_ptr<SimBackend> SimBackend::FromStateDirs(std::string_view dirs, std::string& error) {
    std::vector<std::unique_ptr<VirtualChip>> chips;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string_view::npos)
            colon = dirs.size();
        const std::string dir(dirs.substr(start, colon - start));
        if (!dir.empty()) {
            auto chip = LoadChipStateDir(dir, error);
            if (!chip)
                return nullptr;
            chips.push_back(std::move(chip));
        }
        start = colon + 1;
    }
    if (chips.empty()) {
        error = "UAFW_SIM names no state directory";
        return nullptr;
    }
    return FromChips(std::move(chips), error);
}

std::unique_ptr<SimBackend> SimBackend::FromEnvironment(std::string& error) {
    const char* value = std::getenv("UAFW_SIM");
    if (!value || !*value)
        return nullptr;
    return FromStateDirs(value, error);
}

std::unique_ptr<SimBackend> SimBackend::FromChips(std::vector<std::unique_ptr<VirtualChip>> chips,
                                                  std::string& error) {
    std::unique_ptr<SimBackend> backend(new SimBackend());
    std::set<std::string> taken;
    for (auto& chip : chips) {
        Slot slot;
        slot.bus = chip->Config().rootUsb == 3 ? 2 : 1;
        slot.portPath = chip->Config().port;
        if (!slot.portPath.empty()) {
            const std::string where = std::to_string(slot.bus) + "-" + slot.portPath;
            if (!taken.insert(where).second) {
                error = "two virtual chips on port " + where;
                return nullptr;
            }
        }
        slot.chip = std::move(chip);
        backend->m_slots.push_back(std::move(slot));
    }
    for (Slot& slot : backend->m_slots) {
        for (int port = 1; slot.portPath.empty(); ++port) {
            const std::string where = std::to_string(slot.bus) + "-" + std::to_string(port);
            if (taken.insert(where).second)
                slot.portPath = std::to_string(port);
        }
    }
    std::lock_guard<std::mutex> guard(backend->m_lock);
    backend->RefreshLocked(false);
    return backend;
}

std::uint32_t SimBackend::HubNodeLocked(const std::string& location) {
    auto it = m_hubNodes.find(location);
    if (it != m_hubNodes.end())
        return it->second;
    const std::uint32_t id = m_nextHubNode++;
    m_hubNodes.emplace(location, id);
    return id;
}

usb::UsbDeviceInfo SimBackend::DescribeLocked(std::size_t index) {
    Slot& slot = m_slots[index];
    const VirtualChip& chip = *slot.chip;
    const std::vector<std::uint8_t> ports = SplitPort(slot.portPath);
    const std::string bus = std::to_string(slot.bus);
    usb::UsbDeviceInfo info;
    info.nodeId = m_nextNodeId++;
    info.locationPath = bus + "-" + slot.portPath;
    // Hub chain from the device's parent up to the root hub.
    for (std::size_t level = ports.size(); level-- > 0;) {
        usb::HubLink link;
        link.port = ports[level];
        if (level == 0) {
            link.nodeId = slot.bus;  // root hubs have the bus numbers as node ids
            link.isRoot = true;
            link.usbGeneration = chip.Config().rootUsb;
        } else {
            std::string hub = bus + "-";
            for (std::size_t k = 0; k < level; ++k)
                hub += (k ? "." : "") + std::to_string(ports[k]);
            link.nodeId = HubNodeLocked(hub);
        }
        info.hubChain.push_back(link);
    }
    info.audioControlInterface = kAudioControlInterface;
    info.parentNodeId = info.hubChain.front().nodeId;
    info.parentPort = info.hubChain.front().port;
    info.displayName = chip.Config().product;
    info.vendorId = chip.Config().vid;
    info.productId = chip.Config().pid;
    info.bcdDevice = chip.Config().rev;
    return info;
}

void SimBackend::RefreshLocked(bool notify) {
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        const bool attached = slot.chip->Attached();
        const std::uint32_t generation = slot.chip->Generation();
        const bool moved = generation != slot.generation;
        if (slot.present && (!attached || moved)) {
            if (notify)
                m_pending.emplace_back(usb::HotplugEvent::Removed, slot.info);
            slot.present = false;
        }
        if (attached && !slot.present) {
            slot.info = DescribeLocked(i);
            slot.present = true;
            slot.generation = generation;
            if (notify)
                m_pending.emplace_back(usb::HotplugEvent::Arrived, slot.info);
        }
    }
}

const SimBackend::Slot* SimBackend::PresentSlotLocked(std::uint32_t nodeId) const {
    for (const Slot& slot : m_slots) {
        if (slot.present && slot.info.nodeId == nodeId)
            return &slot;
    }
    return nullptr;
}

std::vector<usb::UsbDeviceInfo> SimBackend::Enumerate() {
    std::lock_guard<std::mutex> guard(m_lock);
    RefreshLocked(true);
    // Ordered by bus, then by the port numbers along the path (port 2 before port 10).
    using Key = std::pair<std::uint8_t, std::vector<std::uint8_t>>;
    std::vector<std::pair<Key, usb::UsbDeviceInfo>> found;
    for (const Slot& slot : m_slots) {
        if (slot.present)
            found.emplace_back(Key{slot.bus, SplitPort(slot.portPath)}, slot.info);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<usb::UsbDeviceInfo> list;
    for (auto& f : found)
        list.push_back(std::move(f.second));
    return list;
}

usb::UsbHandle SimBackend::Open(std::uint32_t nodeId, std::uint32_t& error) {
    std::lock_guard<std::mutex> guard(m_lock);
    RefreshLocked(true);
    const Slot* slot = PresentSlotLocked(nodeId);
    if (!slot) {
        error = usb::kErrNotConnected;
        return 0;
    }
    const usb::UsbHandle handle = m_nextHandle++;
    m_handles[handle] =
        OpenHandle{static_cast<std::size_t>(slot - m_slots.data()), slot->generation};
    error = 0;
    return handle;
}

void SimBackend::Close(usb::UsbHandle handle) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_handles.erase(handle);
}

usb::UsbTransferResult SimBackend::ControlTransfer(usb::UsbHandle handle,
                                                   std::uint8_t bmRequestType,
                                                   std::uint8_t bRequest, std::uint16_t wValue,
                                                   std::uint16_t wIndex, std::uint8_t* buffer,
                                                   std::uint16_t length, std::uint32_t timeoutMs) {
    usb::UsbTransferResult result;
    VirtualChip* chip = nullptr;
    std::uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_handles.find(handle);
        if (it == m_handles.end()) {
            result.error = usb::kErrInvalidHandle;
            return result;
        }
        if (length != 0 && buffer == nullptr) {
            result.error = usb::kErrInvalidParam;
            return result;
        }
        chip = m_slots[it->second.slot].chip.get();
        generation = it->second.generation;
    }
    // A handle belongs to one appearance of the device: after it left the bus it is gone.
    if (!chip->Attached() || chip->Generation() != generation) {
        result.error = usb::kErrNotConnected;
        return result;
    }
    SetupPacket setup{bmRequestType, bRequest, wValue, wIndex, length};
    std::span<std::uint8_t> data =
        buffer ? std::span<std::uint8_t>(buffer, length) : std::span<std::uint8_t>();
    const ControlAnswer answer = chip->ControlWithin(setup, data, timeoutMs);
    switch (answer.kind) {
        case ControlAnswer::Kind::Ok:
            result.transferred = answer.transferred;
            break;
        case ControlAnswer::Kind::Stall:
            result.error = answer.error ? answer.error : usb::kErrGenFailure;
            break;
        case ControlAnswer::Kind::Gone:
            result.error = answer.error ? answer.error : usb::kErrNotConnected;
            break;
        case ControlAnswer::Kind::Timeout:
            result.error = answer.error ? answer.error : usb::kErrTimeout;
            break;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    RefreshLocked(true);  // the transfer may have sent the device off the bus
    return result;
}

bool SimBackend::OsIdentity(std::uint32_t nodeId, usb::UsbOsIdentity& identity) {
    std::lock_guard<std::mutex> guard(m_lock);
    RefreshLocked(true);
    const Slot* slot = PresentSlotLocked(nodeId);
    if (!slot)
        return false;
    const VirtualChip& chip = *slot->chip;
    identity.manufacturer = StringOf(chip.StringDescriptor(1));
    identity.product = StringOf(chip.StringDescriptor(2));
    identity.serial = StringOf(chip.StringDescriptor(3));
    identity.deviceDescriptor = chip.DeviceDescriptor();
    identity.configurationDescriptor = chip.ConfigurationDescriptor();
    return true;
}

int SimBackend::SubscribeHotplug(usb::HotplugCallback callback) {
    std::lock_guard<std::mutex> guard(m_lock);
    const int id = m_nextSubscription++;
    m_subscribers.emplace(id, std::move(callback));
    return id;
}

void SimBackend::UnsubscribeHotplug(int subscription) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_subscribers.erase(subscription);
}

void SimBackend::PollEvents() {
    std::deque<std::pair<usb::HotplugEvent, usb::UsbDeviceInfo>> events;
    std::vector<usb::HotplugCallback> callbacks;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        RefreshLocked(true);
        events.swap(m_pending);
        for (const auto& [id, callback] : m_subscribers)
            callbacks.push_back(callback);
    }
    // Delivered without the lock held, so that a callback may call the backend.
    for (const auto& [event, info] : events) {
        for (const auto& callback : callbacks)
            callback(event, info);
    }
}

}  // namespace uafw::sim
