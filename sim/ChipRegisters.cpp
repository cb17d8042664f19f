#include "sim/ChipRegisters.h"

#include <algorithm>

namespace uafw::sim {

bool IsModeRegisterChip(std::uint16_t chipId) {
    const std::uint16_t family = chipId & 0xF0F0;
    switch (family) {
        case 0x1010:
        case 0xB010:
        case 0xC010:
        case 0xD010:
        case 0xE010:
        case 0xF010:
        case 0x8050:
            return true;
        case 0x7010:
            return (chipId & 0xFF) != 0x11;
        default:
            return chipId == 0xFF56;
    }
}

std::uint16_t BootModeRegister(std::uint16_t chipId) {
    return chipId == 0x7110 ? 0xC2A6 : 0xC2A8;
}

WriteProtectPin FlashWriteProtectPin(std::uint16_t chipId) {
    const std::uint16_t family = chipId & 0xF0F0;
    if (!IsModeRegisterChip(chipId))
        return {0xFEA0, 0xFEA6, 0x01};
    if (chipId == 0xFF56 || family == 0x8050)
        return {0x0404, 0x0406, 0x01};
    switch (family) {
        case 0x7010:
            return {0x0650, 0x0652, 0x01};
        case 0xE010:
            return {0x0505, 0x0507, 0x01};
        case 0x1010:
            return {0x050C, 0x0512, 0x10};
        default:
            return {0xFEC0, 0xFEC6, 0x01};
    }
}

ChipRegisters::ChipRegisters(std::uint16_t chipId)
    : m_chipId(chipId), m_bootModeAddress(BootModeRegister(chipId)), m_ram(0x10000, 0) {}

std::uint8_t ChipRegisters::Read(std::uint16_t address) const {
    if (address == kChipIdRegister)
        return static_cast<std::uint8_t>(m_chipId);
    if (address == kChipIdRegister + 1)
        return static_cast<std::uint8_t>(m_chipId >> 8);
    if (address == m_bootModeAddress)
        return m_bootMode;
    if (address == kOtpLockRegister) {
        return static_cast<std::uint8_t>((m_ram[address] & ~kOtpLockBit) |
                                         (m_otpLocked ? kOtpLockBit : 0));
    }
    return m_ram[address];
}

void ChipRegisters::Write(std::uint16_t address, std::uint8_t value) {
    // The chip ID and the boot-mode register are read-only; the OTP lock bit is a fuse.
    if (address == kChipIdRegister || address == kChipIdRegister + 1 ||
        address == m_bootModeAddress)
        return;
    m_ram[address] = value;
}

void ChipRegisters::PowerOn(std::uint8_t bootMode) {
    std::fill(m_ram.begin(), m_ram.end(), 0);
    m_bootMode = bootMode;
}

bool ChipRegisters::FlashWriteProtectPinHigh() const {
    const WriteProtectPin pin = FlashWriteProtectPin(m_chipId);
    if ((m_ram[pin.enable] & pin.bit) == 0)
        return true;  // not driven: the board's pull-up holds WP# high
    return (m_ram[pin.level] & pin.bit) != 0;
}

}  // namespace uafw::sim
