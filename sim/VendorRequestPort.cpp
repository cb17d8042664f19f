#include "sim/VendorRequestPort.h"

#include <algorithm>
#include <vector>

namespace uafw::sim {

ControlAnswer VendorRequestPort::Handle(const SetupPacket& setup, std::span<std::uint8_t> data,
                                        const WaitBudget& wait) {
    auto command = DecodeVendorRequest(setup);
    if (!command || setup.wLength > kMaxPiece || data.size() < setup.wLength)
        return ControlAnswer::Stalled();
    if (command->phase == Phase::In) {
        std::vector<std::uint8_t> reply;
        const CoreAnswer a = m_core.Read(*command, reply, wait);
        if (a.timedOut)
            return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
        if (!a.ok())
            return ControlAnswer::Stalled();
        const std::size_t n = std::min<std::size_t>(reply.size(), setup.wLength);
        std::copy_n(reply.begin(), n, data.begin());
        return ControlAnswer::Done(static_cast<std::uint32_t>(n));
    }
    const CoreAnswer a = m_core.Write(*command, data.first(setup.wLength), wait);
    if (a.timedOut)
        return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
    if (!a.ok())
        return ControlAnswer::Stalled();
    return ControlAnswer::Done(setup.wLength);
}

}  // namespace uafw::sim
