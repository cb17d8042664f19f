#include "device/DeviceReset.h"

#include <algorithm>

#include "device/CurrentDevice.h"
#include "device/DeviceApi.h"
#include "device/DeviceDiscovery.h"
#include "device/DirectExtUnit.h"
#include "device/DriverChannel.h"
#include "device/VendorRequestV2.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"

namespace {

constexpr std::uint32_t kNotReadyRetryMs = 300;
constexpr std::uint32_t kNoDevicesWaitMs = 200;
constexpr std::uint32_t kPastListWaitMs = 500;
constexpr std::uint32_t kExtraWaitMs = 2000;
constexpr std::uint32_t kSettleSliceMs = 50;
constexpr std::uint16_t kChipIdAddress = 0xFE21;
constexpr std::uint16_t kPokeAddress = 0xFF92;

struct Capabilities {
    std::int32_t unitId = -1;
    bool statusByte = false;
    bool vendor = false;
};

// The elapsed time charged against the budget.
class Budget {
public:
    Budget(std::int32_t budgetMs, std::uint32_t startMs) : m_budget(budgetMs), m_elapsed(startMs) {}
    bool Exceeded() const {
        return m_budget > 0 && m_elapsed > static_cast<std::uint64_t>(m_budget);
    }
    void Sleep(std::uint32_t ms) {
        uafw::Clock().SleepMs(ms);
        m_elapsed += ms;
    }

private:
    std::int32_t m_budget;
    std::uint64_t m_elapsed;
};

bool Probe(const DeviceRecord& record, Capabilities& caps) {
    CDriverChannel& channel = CDriverChannel::Instance();
    std::uint8_t head[9];
    if (!channel.ReadConfigDescriptor(record.driverHandle, head, sizeof head).ok())
        return false;
    const auto total = static_cast<std::uint16_t>(head[2] | (head[3] << 8));
    if (total < sizeof head)
        return false;
    std::vector<std::uint8_t> config(total);
    if (!channel.ReadConfigDescriptor(record.driverHandle, config.data(), total).ok())
        return false;

    CVendorRequestV2 vendor(record);
    std::uint8_t status[32] = {};
    caps.vendor = vendor.GetDevStatus(0, status, sizeof status) == S_OK &&
                  std::equal(kDeviceSignature.begin(), kDeviceSignature.end(), status + 24);
    if (!caps.vendor) {
        std::uint8_t byte = 0;
        caps.statusByte = vendor.ReadStatusByte(byte) == S_OK;
    }
    bool qualified = false;
    std::uint8_t unitId = 0;
    if ((record.interfaceKind == 0 || record.interfaceKind == 1) &&
        FindExtensionUnit(config, unitId)) {
        caps.unitId = unitId;
        qualified = CDirectExtUnit(record, unitId).Qualify();
    }
    return caps.vendor || qualified;
}

// Reads the chip ID and pokes the pre-reset byte; true when the chip needs the extra wait.
bool PreResetPoke(const DeviceRecord& record, const Capabilities& caps) {
    std::uint8_t id[2] = {};
    const std::uint8_t one = 0x01;
    if (caps.vendor) {
        CVendorRequestV2 vendor(record);
        vendor.ReadMem(kChipIdAddress, 2, id, nullptr, nullptr);
        vendor.WriteMem(kPokeAddress, 1, &one, nullptr, nullptr);
    } else if (caps.unitId >= 0) {
        CDirectExtUnit eu(record, static_cast<std::uint8_t>(caps.unitId));
        eu.CommandIn(ExtUnitCmd{0x00, 0xC2, kChipIdAddress, 2, 0}, id, 2);
        eu.CommandOut(ExtUnitCmd{0x00, 0x82, kPokeAddress, 1, 0}, &one, 1);
    }
    const std::uint16_t chip = static_cast<std::uint16_t>(((id[1] & 0xF0) << 8) | id[0]);
    return chip == 0xB013 || chip == 0xB014;
}

std::uint32_t SendReset(const DeviceRecord& record, const Capabilities& caps, std::int16_t type,
                        std::uint16_t g) {
    CDriverChannel& channel = CDriverChannel::Instance();
    if (caps.vendor) {
        const std::uint8_t request = type == kResetToUpdateMode    ? 0x20
                                     : type == kResetAlternateKind ? 0x21
                                                                   : 0x22;
        return channel.SubmitVendor(record.driverHandle, 0x40, request, g, 0, nullptr, 0).error;
    }
    if (caps.statusByte)
        return channel
            .SubmitVendor(record.driverHandle, 0x40, 0x01, g, static_cast<std::uint16_t>(type),
                          nullptr, 0)
            .error;
    if (caps.unitId < 0)
        return uafw::usb::kErrNotSupported;
    const std::uint16_t p1 = type == kResetToRomKind ? 0 : g;
    return CDirectExtUnit(record, static_cast<std::uint8_t>(caps.unitId))
        .Command(ExtUnitCmd{0x00, static_cast<std::uint8_t>(type), p1, 0, 0});
}

// Waits at most `ms` for the reconnect event, looking at the backend's notifications meanwhile
// (a removal of the device sets the event).
void SettleWait(uafw::Event* reconnect, std::uint32_t ms) {
    if (!reconnect) {
        uafw::Clock().SleepMs(ms);
        return;
    }
    const std::uint64_t start = uafw::Clock().NowMs();
    for (;;) {
        if (uafw::usb::IUsbBackend* backend = uafw::usb::CurrentUsbBackend())
            backend->PollEvents();
        const std::uint64_t waited = uafw::Clock().NowMs() - start;
        if (waited >= ms)
            return;
        const auto slice =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kSettleSliceMs, ms - waited));
        if (reconnect->Wait(slice))
            return;
    }
}

bool IsSystemRegistered(std::uint32_t node) {
    uafw::usb::IUsbBackend* backend = uafw::usb::CurrentUsbBackend();
    uafw::usb::UsbOsIdentity identity;
    return backend && backend->OsIdentity(node, identity);
}

std::uint32_t AnswerOnce(const DeviceRecord& record, const Capabilities& caps,
                         std::uint16_t pPrime) {
    if (caps.vendor || caps.statusByte) {
        std::uint8_t byte = 0;
        return CDriverChannel::Instance()
            .SubmitVendor(record.driverHandle, 0xC0, 0x06, pPrime, 0, &byte, 1)
            .error;
    }
    if (caps.unitId < 0)
        return 0;
    std::uint8_t status[8] = {};
    return CDirectExtUnit(record, static_cast<std::uint8_t>(caps.unitId))
        .CommandIn(ExtUnitCmd{0x00, 0xCD, 0, 8, 0}, status, 8);
}

}  // namespace

std::uint32_t ResetAndReconnect(DeviceRecord& record, const ResetRequest& request,
                                std::unique_ptr<DeviceRecord>& reconnected) {
    LogScope scope("ResetAndReconnect", false, uafw::kLogDevice);
    reconnected.reset();
    if (!record.Usable())
        return uafw::usb::kErrInvalidParam;

    std::int16_t type = request.type;
    Capabilities caps;
    std::uint16_t g = 0;
    std::uint16_t pPrime = 0;
    bool extraWait = false;
    Budget budget(request.budgetMs, 0);
    if (type == kResetToRomByVendor) {
        caps.vendor = true;
        g = pPrime = request.parameter;
        type = kResetToRomKind;
        budget = Budget(request.budgetMs, request.parameter);
    } else {
        if (request.given) {
            caps = {request.unitId, request.statusByte, request.vendor};
        } else if (!Probe(record, caps)) {
            scope.Fail("probe before the reset failed\n");
            return E_FAIL;
        }
        if (request.forceExtUnit && caps.unitId > 0)
            caps.vendor = caps.statusByte = false;
        const std::uint16_t p = request.parameter;
        if (p == 2)
            g = 2;
        else if (caps.vendor || caps.statusByte)
            g = p;
        else
            g = p == 0 ? 1 : p == 1 ? 0 : p;
        pPrime = p == 2 ? 1 : p;
        extraWait = PreResetPoke(record, caps);
    }
    const bool settle = g != 2 && g != 5;

    // The event is reset before the reset goes out, so that a quick removal is not lost.
    if (settle && request.reconnect)
        request.reconnect->Reset();
    for (;;) {
        const std::uint32_t sent = SendReset(record, caps, type, g);
        if (sent == 0)
            break;
        if (sent != uafw::usb::kErrNotReady) {
            scope.Fail("reset failed: %u\n", sent);
            return sent;
        }
        if (budget.Exceeded())
            return uafw::usb::kErrTimeout;
        budget.Sleep(kNotReadyRetryMs);
    }

    const std::string oldLocation = record.location;
    record.Close();
    if (settle)
        SettleWait(request.reconnect, request.settleMs);
    if (extraWait)
        uafw::Clock().SleepMs(kExtraWaitMs);
    if (record.interfaceKind == 1)
        record.interfaceKind = 0;

    std::unique_ptr<DeviceRecord> found;
    for (std::uint32_t k = 0;;) {
        if (budget.Exceeded()) {
            scope.Fail("device did not come back\n");
            return uafw::usb::kErrTimeout;
        }
        auto candidate = std::make_unique<DeviceRecord>();
        const std::uint32_t opened = OpenListEntry(k, *candidate);
        ++k;
        if (opened == uafw::usb::kErrNoMoreItems) {
            k = 0;
            budget.Sleep(kNoDevicesWaitMs);
            continue;
        }
        if (opened == kErrNotFound) {
            k = 0;
            budget.Sleep(kPastListWaitMs);
            continue;
        }
        if (opened != 0)
            continue;
        // The same port gives the same path: only an equal path is the same device.
        if (candidate->location == oldLocation &&
            (!settle || IsSystemRegistered(candidate->deviceNode))) {
            found = std::move(candidate);
            break;
        }
    }

    for (;;) {
        const std::uint32_t answer = AnswerOnce(*found, caps, pPrime);
        if (answer != uafw::usb::kErrNotConnected)
            break;
        if (budget.Exceeded()) {
            found->Close();
            return uafw::usb::kErrTimeout;
        }
        budget.Sleep(kNotReadyRetryMs);
    }
    found->interfaceKind = record.interfaceKind;
    reconnected = std::move(found);
    return 0;
}

namespace {

int ResetCurrent(std::uint32_t& node, ResetRequest request) {
    LogScope scope("ResetCurrent", false, uafw::kLogDevice);
    CCurrentDevice& current = CCurrentDevice::Instance();
    CZynCam* device = current.Get();
    if (!device) {
        node = 0;
        return 0;
    }
    request.reconnect = &device->ReconnectEvent();
    std::unique_ptr<DeviceRecord> reconnected;
    const std::uint32_t r = ResetAndReconnect(device->Record(), request, reconnected);
    if (r == 0 && ProbeCapabilities(*reconnected)) {
        const std::uint32_t newNode = reconnected->deviceNode;
        device->ReplaceRecord(std::move(reconnected));
        current.SetNode(newNode);
        if (device->ExtUnit() || device->VendorRequest()) {
            node = newNode;
            return 1;
        }
        return 0;
    }
    scope.Fail("reset with reconnection failed: %u\n", r);
    current.Close();
    node = DA_OpenByIndex(0);
    return 0;
}

ResetRequest RomRequest(std::int16_t type, std::uint32_t flags, std::uint32_t settleMs) {
    ResetRequest request;
    request.type = type;
    request.parameter = 0;
    request.forceExtUnit = (flags & kAccessForceExtUnit) != 0;
    request.settleMs = settleMs;
    if (CZynCam* device = CCurrentDevice::Instance().Get()) {
        device->Record().interfaceKind = 0;
        if (flags & kAccessReuseCapabilities) {
            const CapabilityRecord& caps = device->Capabilities();
            request.given = true;
            request.unitId = caps.hasExtUnit ? caps.extUnitId : -1;
            request.statusByte = caps.statusByteWorks;
            request.vendor = caps.hasVendorRequests;
        }
    }
    return request;
}

}  // namespace

int DA_ResetToUpdateFW(std::uint32_t& node, std::uint16_t parameter, std::uint32_t flags,
                       std::uint32_t settleMs) {
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.parameter = parameter;
    request.forceExtUnit = (flags & kAccessForceExtUnit) != 0;
    request.settleMs = settleMs;
    return ResetCurrent(node, request);
}

int DA_ResetToRomReconnect(std::uint32_t& node, std::uint32_t flags, std::uint32_t settleMs) {
    return ResetCurrent(node, RomRequest(kResetToRomKind, flags, settleMs));
}

int DA_ResetToRomVendor(std::uint32_t& node, std::uint32_t flags, std::uint32_t settleMs) {
    return ResetCurrent(node, RomRequest(kResetToRomByVendor, flags, settleMs));
}
