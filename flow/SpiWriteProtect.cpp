#include "flow/SpiWriteProtect.h"

#include "flow/ChipFamily.h"
#include "platform/Clock.h"

namespace {
constexpr std::uint8_t kStatusUnprotected = 0x00;
constexpr std::uint8_t kStatusProtected = 0x8C;
constexpr std::uint8_t kStatusBusy = 0x01;
constexpr int kIdlePolls = 20;
constexpr std::uint32_t kIdlePollMs = 50;
}  // namespace

SpiWriteProtectPins CSpiWriteProtect::PinsFor(std::uint16_t chipId) {
    using namespace uafw::chip;
    if (!IsModeRegisterChip(chipId))
        return {0xFEA0, 0xFEA6, 0x01};
    const std::uint16_t family = FamilyCode(chipId);
    if (chipId == 0xFF56 || family == 0x8050)
        return {0x0404, 0x0406, 0x01};
    switch (family) {
        case 0x7010:
            return {0x0650, 0x0652, 0x01};
        case 0xE010:
            return {0x0505, 0x0507, 0x01};
        case 0x1010:
            return {0x050C, 0x0512, 0x10};
        default:  // 0xB010, 0xC010, 0xD010, 0xF010
            return {0xFEC0, 0xFEC6, 0x01};
    }
}

bool CSpiWriteProtect::Probe1010() {
    if (!m_device.WriteByte(0x051B, 0x29))
        return false;
    uafw::Clock().SleepMs(5);
    std::uint8_t value = 0;
    const bool read = m_device.ReadByte(0x050F, value) != 0;
    m_device.WriteByte(0x051B, 0x15);
    return read && ((value >> 5) & 0x03) == 1;
}

bool CSpiWriteProtect::WaitIdle() {
    for (int i = 0; i < kIdlePolls; ++i) {
        std::uint8_t status = kStatusBusy;
        if (!m_device.SpiReadSr(status))
            return false;
        if ((status & kStatusBusy) == 0)
            return true;
        if (i + 1 < kIdlePolls)
            uafw::Clock().SleepMs(kIdlePollMs);
    }
    return false;
}

int CSpiWriteProtect::Drive(const SpiWriteProtectPins& pins, bool protect) {
    std::uint8_t enable = 0;
    std::uint8_t level = 0;
    if (!m_device.ReadByte(pins.enable, enable) || !m_device.ReadByte(pins.level, level))
        return 0;
    enable |= pins.bit;
    if (protect)
        level &= static_cast<std::uint8_t>(~pins.bit);
    else
        level |= pins.bit;
    if (!m_device.WriteByte(pins.enable, enable) || !m_device.WriteByte(pins.level, level))
        return 0;
    if (!m_device.SpiWriteSr(protect ? kStatusProtected : kStatusUnprotected))
        return 0;
    return WaitIdle() ? 1 : 0;
}

int CSpiWriteProtect::Off() {
    std::uint16_t id = 0;
    if (!m_device.ReadChipId(id))
        return 0;
    const SpiWriteProtectPins pins = PinsFor(id);
    if (uafw::chip::FamilyCode(id) == 0x1010 && Probe1010()) {
        if (!Drive(kFamily1010ExtraPins, false))
            return 0;
    }
    return Drive(pins, false);
}

int CSpiWriteProtect::On() {
    std::uint16_t id = 0;
    if (!m_device.ReadChipId(id))
        return 0;
    if (uafw::chip::FamilyCode(id) == 0x1010 && Probe1010())
        return 1;
    return Drive(PinsFor(id), true);
}
