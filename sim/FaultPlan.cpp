#include "sim/FaultPlan.h"

#include "platform/usb/UsbBackend.h"

namespace uafw::sim {

ControlAnswer FaultPlan::AnswerFor(std::uint32_t code) {
    switch (code) {
        case usb::kErrGenFailure:
            return ControlAnswer::Stalled();
        case usb::kErrNotConnected:
            return ControlAnswer::Failed(ControlAnswer::Kind::Gone, 0);
        case usb::kErrTimeout:
            return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
        default:
            return ControlAnswer::Failed(ControlAnswer::Kind::Stall, code);
    }
}

std::optional<ControlAnswer> FaultPlan::Before(std::uint32_t n, const SetupPacket& setup,
                                               std::span<const std::uint8_t> data) {
    if (n <= m_settings.notReady)
        return AnswerFor(usb::kErrNotReady);
    if (n == m_settings.failTransfer)
        return AnswerFor(m_settings.failCode);
    if (m_commandFailures >= m_settings.failTimes)
        return std::nullopt;
    const bool commandBlock = setup.bmRequestType == 0x21 && setup.bRequest == 0x01 &&
                              setup.wValue == 0x0A00 && data.size() >= 2 && data[0] != 0xFF;
    const bool opcodeHit = m_settings.failOpcode >= 0 && commandBlock &&
                           data[1] == static_cast<std::uint8_t>(m_settings.failOpcode);
    const bool requestHit = m_settings.failRequest >= 0 && (setup.bmRequestType & 0x7F) == 0x40 &&
                            setup.bRequest == static_cast<std::uint8_t>(m_settings.failRequest);
    if (!opcodeHit && !requestHit)
        return std::nullopt;
    if (++m_commandMatches <= m_settings.failSkip)
        return std::nullopt;
    ++m_commandFailures;
    return AnswerFor(m_settings.failCode);
}

}  // namespace uafw::sim
