#pragma once
// The vendor-request transport of the chip: each command is one vendor request on the default
// control pipe, its parameters in the setup packet and its data in the data stage.
#include <cstdint>
#include <span>

#include "sim/ChipCore.h"
#include "sim/UsbDeviceModel.h"

namespace uafw::sim {

class VendorRequestPort {
public:
    // Largest data stage the chip's request buffer takes.
    static constexpr std::uint16_t kMaxPiece = 4096;

    explicit VendorRequestPort(ChipCore& core) : m_core(core) {}

    static bool Addresses(const SetupPacket& setup) { return (setup.bmRequestType & 0x7F) == 0x40; }
    // A refused request stalls; the vendor transport has no status read-back.
    ControlAnswer Handle(const SetupPacket& setup, std::span<std::uint8_t> data,
                         const WaitBudget& wait);

private:
    ChipCore& m_core;
};

}  // namespace uafw::sim
