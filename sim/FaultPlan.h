#pragma once
// The faults injected into one run of a virtual chip, and the counters that decide when they
// strike. Transfers are numbered from 1 over the run, every control transfer that reaches the
// attached chip counting.
#include <cstdint>
#include <optional>
#include <span>

#include "sim/ChipConfig.h"
#include "sim/UsbDeviceModel.h"

namespace uafw::sim {

class FaultPlan {
public:
    explicit FaultPlan(const FaultSettings& settings) : m_settings(settings) {}

    // The answer that replaces transfer number `n`, if a fault strikes it: the n-th transfer,
    // one of the first "not ready" transfers, or a matching command block or vendor request.
    std::optional<ControlAnswer> Before(std::uint32_t n, const SetupPacket& setup,
                                        std::span<const std::uint8_t> data);
    // True when the chip leaves the bus after transfer number `n`.
    bool UnplugAfter(std::uint32_t n) const {
        return m_settings.unplugAfter != 0 && n == m_settings.unplugAfter;
    }
    bool NeverReturn() const { return m_settings.neverReturn; }

    // The answer a seam error code stands for (31 a stall, 1167 gone, 1460 a time-out, any
    // other code a failure carrying that code).
    static ControlAnswer AnswerFor(std::uint32_t code);

private:
    FaultSettings m_settings;
    std::uint32_t m_commandFailures = 0;
    std::uint32_t m_commandMatches = 0;
};

}  // namespace uafw::sim
