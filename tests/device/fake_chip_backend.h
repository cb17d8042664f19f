#pragma once
// A small chip behind the USB seam for the device-access tests: it records every control
// transfer, answers both command transports from its memories (register memory for ReadMem /
// WriteMem, a flash array for the SPI commands, the status block), serves its descriptors, and
// takes faults: a failing transfer, an unplug after n transfers, a grant of another data control
// size, resets that drop it off the bus and bring it back on the same port with a new node id.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb/UsbBackend.h"

namespace uafw::test {

struct Transfer {
    std::uint32_t node = 0;
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    std::vector<std::uint8_t> out;  // bytes sent (host-to-device)
    std::uint32_t error = 0;        // what the backend answered

    bool IsClass() const { return (bmRequestType & 0x60) == 0x20; }
    bool IsVendor() const { return (bmRequestType & 0x60) == 0x40; }
    bool IsCommandBlock() const { return bmRequestType == 0x21 && wValue == 0x0A00; }
    bool IsSetData() const { return bmRequestType == 0x21 && wValue == 0x0B00; }
    bool IsGetData() const { return bmRequestType == 0xA1 && bRequest == 0x81 && wValue == 0x0B00; }
    bool IsGetCmd() const { return bmRequestType == 0xA1 && bRequest == 0x81 && wValue == 0x0A00; }
    std::uint16_t P(int i) const {  // command block parameter 1..3
        return static_cast<std::uint16_t>(out[2 * i] | (out[2 * i + 1] << 8));
    }
};

struct FakeChip {
    // Identity and place in the tree.
    std::uint16_t vid = 0x1209, pid = 0x7050, bcd = 0x0100;
    std::string location = "1-2";
    std::uint8_t port = 2;
    std::uint32_t parentNode = 900;
    std::vector<uafw::usb::HubLink> hubChain{{900, 2, true, 3}};
    std::uint8_t acInterface = 0;
    std::string displayName = "Fake Codec";
    std::string manufacturer = "Maker";
    std::string serial = "SN0001";
    // Capabilities.
    bool extUnit = true;
    std::uint16_t extCode = 0x1209;
    std::uint8_t unitId = 6;
    bool vendorRequests = true;  // answers the vendor requests and signs the status block
    bool statusByte = true;      // answers C0/06
    bool osNameReadable = true;  // the system has registered the device
    // Memories.
    std::vector<std::uint8_t> mem = std::vector<std::uint8_t>(0x20000, 0);
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(0x200000, 0xFF);
    std::vector<std::uint8_t> statusBlock = std::vector<std::uint8_t>(128, 0);
    std::uint16_t maxDataSize = 1024;       // largest data control size the chip grants
    std::uint8_t errorStatus = 5;           // status code after a refused command
    std::uint32_t eraseBlockPollsBusy = 0;  // C0/36 answers 0 this often, then 1
    // Resets: how long the chip stays off the bus, and whether it comes back at all.
    std::uint32_t reenumMs = 1000;
    bool neverReturn = false;

    // Run state, kept by the backend.
    std::uint32_t node = 0;
    bool attached = true;
    std::uint64_t returnsAtMs = 0;
    int appearances = 1;
    std::uint8_t cmd[8] = {};
    std::uint32_t cursor = 0;
    std::uint16_t dataSize = 8;
    std::uint8_t status = 0;
    std::uint16_t pendingSize = 8;
    std::uint32_t erasePolls = 0;
    std::vector<std::uint8_t> ConfigDescriptor() const;
    std::vector<std::uint8_t> DeviceDescriptor() const;
};

class FakeChipBackend final : public uafw::usb::IUsbBackend {
public:
    FakeChipBackend();
    ~FakeChipBackend() override;

    // Adds a chip; returns its index.
    std::size_t Add(FakeChip chip);
    FakeChip& Chip(std::size_t index = 0) { return m_chips.at(index); }

    std::vector<uafw::usb::UsbDeviceInfo> Enumerate() override;
    uafw::usb::UsbHandle Open(std::uint32_t nodeId, std::uint32_t& error) override;
    void Close(uafw::usb::UsbHandle handle) override;
    uafw::usb::UsbTransferResult ControlTransfer(uafw::usb::UsbHandle handle,
                                                 std::uint8_t bmRequestType, std::uint8_t bRequest,
                                                 std::uint16_t wValue, std::uint16_t wIndex,
                                                 std::uint8_t* buffer, std::uint16_t length,
                                                 std::uint32_t timeoutMs) override;
    bool OsIdentity(std::uint32_t nodeId, uafw::usb::UsbOsIdentity& identity) override;
    int SubscribeHotplug(uafw::usb::HotplugCallback callback) override;
    void UnsubscribeHotplug(int subscription) override;
    void PollEvents() override;

    // Faults. The transfer numbers count every control transfer of the backend from 1.
    void FailTransfer(std::uint32_t number, std::uint32_t error) { m_failAt[number] = error; }
    void UnplugAfter(std::uint32_t transfers) { m_unplugAfter = transfers; }
    // Answers NOT_READY to the next `count` transfers.
    void NotReady(std::uint32_t count) { m_notReady = count; }
    // Takes the chip off the bus now (removal notification).
    void Unplug(std::size_t index = 0);

    // Sees every transfer after it was answered (called under the backend's lock).
    void SetObserver(std::function<void(const Transfer&)> observer) { m_observer = observer; }

    std::vector<Transfer> Transfers() const;
    void ClearTransfers();
    std::uint32_t TransferCount() const { return m_count; }
    int OpenHandles() const;
    int Opens() const { return m_opens; }
    std::vector<std::uint32_t> OpenedNodes() const { return m_openedNodes; }

private:
    FakeChip* ChipOfNode(std::uint32_t node);
    FakeChip* ChipOfHandle(uafw::usb::UsbHandle handle);
    void Leave(FakeChip& chip);
    void Refresh();
    void Notify(uafw::usb::HotplugEvent event, const FakeChip& chip);
    uafw::usb::UsbDeviceInfo Info(const FakeChip& chip) const;
    uafw::usb::UsbTransferResult Answer(FakeChip& chip, std::uint8_t bmRequestType,
                                        std::uint8_t bRequest, std::uint16_t wValue,
                                        std::uint16_t wIndex, std::uint8_t* buffer,
                                        std::uint16_t length);
    uafw::usb::UsbTransferResult Standard(FakeChip& chip, std::uint16_t wValue,
                                          std::uint8_t* buffer, std::uint16_t length);
    uafw::usb::UsbTransferResult ExtUnitRequest(FakeChip& chip, std::uint8_t bmRequestType,
                                                std::uint8_t bRequest, std::uint16_t wValue,
                                                std::uint8_t* buffer, std::uint16_t length);
    uafw::usb::UsbTransferResult Vendor(FakeChip& chip, std::uint8_t bmRequestType,
                                        std::uint8_t bRequest, std::uint16_t wValue,
                                        std::uint16_t wIndex, std::uint8_t* buffer,
                                        std::uint16_t length);

    mutable std::recursive_mutex m_lock;
    std::vector<FakeChip> m_chips;
    std::uint32_t m_nextNode = 100;
    std::map<uafw::usb::UsbHandle, std::uint32_t> m_handles;  // handle -> node
    uafw::usb::UsbHandle m_nextHandle = 1;
    std::vector<Transfer> m_transfers;
    std::uint32_t m_count = 0;
    std::map<std::uint32_t, std::uint32_t> m_failAt;
    std::optional<std::uint32_t> m_unplugAfter;
    std::uint32_t m_notReady = 0;
    std::map<int, uafw::usb::HotplugCallback> m_callbacks;
    int m_nextSubscription = 1;
    int m_opens = 0;
    std::vector<std::uint32_t> m_openedNodes;
    std::function<void(const Transfer&)> m_observer;
};

}  // namespace uafw::test
