#pragma once
// SPI write protection: the flash's write-protect pin is driven by a pair of chip registers (an
// output-enable register E and an output-level register L at one bit position, by chip family),
// and the flash status register's protection bits are cleared or set behind it.
#include <cstdint>

#include "flow/ZynFun.h"

// The pin register pair of one chip family.
struct SpiWriteProtectPins {
    std::uint16_t enable;  // E
    std::uint16_t level;   // L
    std::uint8_t bit;
    bool operator==(const SpiWriteProtectPins&) const = default;
};

class CSpiWriteProtect {
public:
    explicit CSpiWriteProtect(CZynFun& device) : m_device(device) {}

    // Drives the pin high (enable and level set), clears the status register and waits until the
    // flash is idle. Family 0x1010 with a positive probe does this on both of its pin pairs.
    int Off();
    // Drives the pin low (enable set, level cleared), writes the status register 0x8C and waits
    // until the flash is idle. Family 0x1010 with a positive probe leaves protection alone.
    int On();

    // The pin pair of the chip.
    static SpiWriteProtectPins PinsFor(std::uint16_t chipId);
    // The second pair that family 0x1010 drives when its probe is positive.
    static constexpr SpiWriteProtectPins kFamily1010ExtraPins{0x050A, 0x0510, 0x80};

private:
    // Family 0x1010 probe: write 0x29 to 0x051B, wait 5 ms, read 0x050F, write 0x15 to 0x051B;
    // positive when bits 5-6 of the byte read equal 1.
    bool Probe1010();
    int Drive(const SpiWriteProtectPins& pins, bool protect);
    // Reads the status register until its busy bit is clear: at most 20 reads, 50 ms apart.
    bool WaitIdle();

    CZynFun& m_device;
};
