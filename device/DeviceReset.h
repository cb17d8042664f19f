#pragma once
// Reset with reconnection: send a reset to the device, wait for it to leave the bus and come
// back, find the same physical device again by its port path, re-attach it and wait until it
// answers, all within a time budget. The device API calls rebuild the current device's
// transports afterwards, or reopen list entry 0 when the device did not come back.
#include <cstdint>
#include <memory>

#include "device/DeviceRecord.h"
#include "platform/Event.h"

// Reset kinds.
inline constexpr std::int16_t kResetToUpdateMode = 7;
inline constexpr std::int16_t kResetAlternateKind = 8;
inline constexpr std::int16_t kResetToRomKind = 9;
inline constexpr std::int16_t kResetToRomByVendor = 10;

inline constexpr std::int32_t kResetBudgetMs = 15000;

struct ResetRequest {
    std::uint16_t parameter = 0;
    std::int16_t type = kResetToRomKind;
    // Capabilities to use when `given` is set (else the device is probed).
    std::int32_t unitId = -1;
    bool statusByte = false;
    bool vendor = false;
    bool given = false;
    bool forceExtUnit = false;
    std::int32_t budgetMs = kResetBudgetMs;  // 0 or less: no limit
    uafw::Event* reconnect = nullptr;        // the device object's reconnect event, if any
    std::uint32_t settleMs = 5000;
};

// Resets the device of `record` and reconnects. 0: `reconnected` holds the new record of the
// same device (the old one is closed); 87: unusable record; E_FAIL (0x80004005): the probe
// failed; 1460: the budget ran out (the old record is closed); otherwise the system error of
// sending the reset (the device stays attached).
std::uint32_t ResetAndReconnect(DeviceRecord& record, const ResetRequest& request,
                                std::unique_ptr<DeviceRecord>& reconnected);

// Device API: resets of the current device with reconnection. 1 when the device came back with
// a usable transport (its new node in `node`); 0 otherwise, after which the first listed
// device, if any, is the current device (its node, or 0, in `node`).
int DA_ResetToUpdateFW(std::uint32_t& node, std::uint16_t parameter, std::uint32_t flags,
                       std::uint32_t settleMs);
int DA_ResetToRomReconnect(std::uint32_t& node, std::uint32_t flags, std::uint32_t settleMs);
int DA_ResetToRomVendor(std::uint32_t& node, std::uint32_t flags, std::uint32_t settleMs);
