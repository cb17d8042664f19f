#pragma once
// What the chip ID word (the two bytes at 0xFE21, little-endian) tells about a chip: its family
// code, whether it reports its boot mode in a mode register, where that register is, and the
// names of the boot modes.
#include <cstdint>
#include <string>

namespace uafw::chip {

inline constexpr std::uint32_t kChipIdAddress = 0xFE21;
inline constexpr std::uint32_t kBootModeAddress = 0xC2A8;
inline constexpr std::uint32_t kBootModeAddress7110 = 0xC2A6;

// ID & 0xF0F0.
constexpr std::uint16_t FamilyCode(std::uint16_t id) {
    return id & 0xF0F0;
}

// Families 0x1010, 0xB010, 0xC010, 0xD010, 0xE010, 0xF010, 0x8050; family 0x7010 unless the low
// byte is 0x11; the ID 0xFF56. All other chips are legacy chips.
bool IsModeRegisterChip(std::uint16_t id);

// The boot-mode register: 0xC2A6 for the ID 0x7110, else 0xC2A8.
constexpr std::uint32_t BootModeRegister(std::uint16_t id) {
    return id == 0x7110 ? kBootModeAddress7110 : kBootModeAddress;
}

// 0 "ROM", 8 "SPI", 16 "ROM&&OTP", 24 "SPI&&OTP", 32 "ROM&&SPI", any other "Unknown".
std::string DeviceModeText(std::uint8_t bootMode);

// (ID high byte & 0xF0) << 8 | ID low byte: the chip ID with the high byte's revision nibble
// cleared.
constexpr std::uint16_t ChipVariant(std::uint16_t id) {
    return static_cast<std::uint16_t>(((id >> 8) & 0xF0) << 8 | (id & 0xFF));
}

}  // namespace uafw::chip
