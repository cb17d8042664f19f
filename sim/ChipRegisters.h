#pragma once
// The chip's 64 KiB register and data memory space as ReadMem/WriteMem reach it: ordinary RAM
// bytes plus the registers with a fixed meaning (chip ID word, boot-mode register, OTP lock bit,
// the pin registers that drive the SPI flash's write-protect pin).
#include <array>
#include <cstdint>
#include <vector>

namespace uafw::sim {

// Boot-mode register values.
inline constexpr std::uint8_t kBootRom = 0;
inline constexpr std::uint8_t kBootSpi = 8;
inline constexpr std::uint8_t kBootRomOtp = 16;
inline constexpr std::uint8_t kBootSpiOtp = 24;
inline constexpr std::uint8_t kBootRomSpi = 32;

inline constexpr std::uint16_t kChipIdRegister = 0xFE21;  // low byte; high byte at 0xFE22
inline constexpr std::uint16_t kOtpLockRegister = 0xFD0C;
inline constexpr std::uint8_t kOtpLockBit = 0x08;

// True for the chip families that report their boot mode in the boot-mode register.
bool IsModeRegisterChip(std::uint16_t chipId);
// Address of the boot-mode register (0xC2A6 for ID 0x7110, else 0xC2A8).
std::uint16_t BootModeRegister(std::uint16_t chipId);

// The pin registers that drive the SPI flash's WP# pin: output enable E, output level L, bit.
struct WriteProtectPin {
    std::uint16_t enable;
    std::uint16_t level;
    std::uint8_t bit;
};
WriteProtectPin FlashWriteProtectPin(std::uint16_t chipId);

class ChipRegisters {
public:
    explicit ChipRegisters(std::uint16_t chipId);

    std::uint16_t ChipId() const { return m_chipId; }
    std::uint8_t Read(std::uint16_t address) const;
    void Write(std::uint16_t address, std::uint8_t value);

    // Power-on values: RAM cleared, the boot-mode register set to `bootMode`.
    void PowerOn(std::uint8_t bootMode);
    std::uint8_t BootMode() const { return m_bootMode; }
    void SetOtpLocked(bool locked) { m_otpLocked = locked; }
    bool OtpLocked() const { return m_otpLocked; }
    // Level of the flash's WP# pin: driven by E/L when enabled, else pulled up.
    bool FlashWriteProtectPinHigh() const;

private:
    std::uint16_t m_chipId;
    std::uint16_t m_bootModeAddress;
    std::uint8_t m_bootMode = kBootRom;
    bool m_otpLocked = false;
    std::vector<std::uint8_t> m_ram;
};

}  // namespace uafw::sim
