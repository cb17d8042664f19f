#pragma once
// The in-process USB backend over virtual chips: a bus with a root hub (and the external hubs
// that the chips' port paths name), enumeration with node ids that change on every appearance,
// control transfers, and hot-plug notifications delivered by PollEvents. UAFW_SIM=DIR (or
// DIR1:DIR2 for chips on different ports) selects it.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb/UsbBackend.h"
#include "sim/VirtualChip.h"

namespace uafw::sim {

class SimBackend final : public usb::IUsbBackend {
public:
    // One chip per state directory of a UAFW_SIM value ("DIR" or "DIR1:DIR2"). Null with a
    // message when a directory cannot be loaded or two chips claim the same port.
    static std::unique_ptr<SimBackend> FromStateDirs(std::string_view dirs, std::string& error);
    // The same for the environment's UAFW_SIM; null without an error when it is unset or empty.
    static std::unique_ptr<SimBackend> FromEnvironment(std::string& error);
    // Chips built by the caller. Chips without a port take the free ports 1, 2, ... in order.
    static std::unique_ptr<SimBackend> FromChips(std::vector<std::unique_ptr<VirtualChip>> chips,
                                                 std::string& error);

    std::size_t ChipCount() const { return m_slots.size(); }
    VirtualChip& Chip(std::size_t index) { return *m_slots.at(index).chip; }

    std::vector<usb::UsbDeviceInfo> Enumerate() override;
    usb::UsbHandle Open(std::uint32_t nodeId, std::uint32_t& error) override;
    void Close(usb::UsbHandle handle) override;
    usb::UsbTransferResult ControlTransfer(usb::UsbHandle handle, std::uint8_t bmRequestType,
                                           std::uint8_t bRequest, std::uint16_t wValue,
                                           std::uint16_t wIndex, std::uint8_t* buffer,
                                           std::uint16_t length, std::uint32_t timeoutMs) override;
    bool OsIdentity(std::uint32_t nodeId, usb::UsbOsIdentity& identity) override;
    int SubscribeHotplug(usb::HotplugCallback callback) override;
    void UnsubscribeHotplug(int subscription) override;
    void PollEvents() override;

private:
    struct Slot {
        std::unique_ptr<VirtualChip> chip;
        std::string portPath;  // "2" or "1.3" below the root hub
        std::uint8_t bus = 1;
        bool present = false;
        std::uint32_t generation = 0;
        usb::UsbDeviceInfo info;  // valid while present
    };
    struct OpenHandle {
        std::size_t slot = 0;
        std::uint32_t generation = 0;
    };

    SimBackend() = default;
    // Notes appearances and disappearances since the last look; queues their notifications.
    void RefreshLocked(bool notify);
    usb::UsbDeviceInfo DescribeLocked(std::size_t index);
    std::uint32_t HubNodeLocked(const std::string& location);
    const Slot* PresentSlotLocked(std::uint32_t nodeId) const;

    mutable std::mutex m_lock;
    std::vector<Slot> m_slots;
    std::map<usb::UsbHandle, OpenHandle> m_handles;
    std::map<std::string, std::uint32_t> m_hubNodes;
    std::map<int, usb::HotplugCallback> m_subscribers;
    std::deque<std::pair<usb::HotplugEvent, usb::UsbDeviceInfo>> m_pending;
    std::uint32_t m_nextNodeId = 0x1000;
    std::uint32_t m_nextHubNode = 0x100;
    usb::UsbHandle m_nextHandle = 1;
    int m_nextSubscription = 1;
};

}  // namespace uafw::sim
