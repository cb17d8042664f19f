#pragma once
// The chip's firmware: executes the commands of both transports against its memories and
// registers, decides what it boots, and reports the status area.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "sim/ChipConfig.h"
#include "sim/ChipMemories.h"
#include "sim/ChipRegisters.h"
#include "sim/CommandDecoder.h"
#include "sim/StatusBlock.h"

namespace uafw::sim {

// What a command asked of the bus after it was answered.
enum class ResetTarget { None, RomLoader, Restart };

struct CoreAnswer {
    std::uint8_t status = kStsRetNoErr;  // kStsRetNoErr, or the code of the refusal
    bool timedOut = false;               // the command waited past the transfer's time-out
    bool ok() const { return status == kStsRetNoErr && !timedOut; }
};

// How long a command may wait for the busy flash, and how it sleeps meanwhile (the chip lets
// other requests in while one waits).
struct WaitBudget {
    std::uint64_t deadlineMs = 0;              // clock time the transfer times out at; 0 = no limit
    std::function<void(std::uint32_t)> sleep;  // empty = the clock's own sleep
    void Sleep(std::uint32_t ms) const;
};

// Devices on the chip's I2C bus other than the EEPROM: per slave address a 256-byte register
// file with an auto-incrementing pointer, a long-offset space and the 16-bit register space.
class I2cBus {
public:
    void Write(std::uint8_t slave, std::span<const std::uint8_t> data);
    void Read(std::uint8_t slave, std::span<std::uint8_t> out);
    void LongWrite(std::uint32_t space, std::uint32_t offset, std::span<const std::uint8_t> data);
    void LongRead(std::uint32_t space, std::uint32_t offset, std::span<std::uint8_t> out) const;
    void RegWrite(std::uint32_t address, std::span<const std::uint8_t> data);
    void RegRead(std::uint32_t address, std::span<std::uint8_t> out) const;

private:
    struct Slave {
        std::array<std::uint8_t, 256> regs{};
        std::uint8_t pointer = 0;
    };
    std::map<std::uint8_t, Slave> m_slaves;
    std::map<std::uint64_t, std::uint8_t> m_long;
    std::map<std::uint32_t, std::uint8_t> m_regs;
};

class ChipCore {
public:
    static constexpr std::uint32_t kSignatureCheckMs = 2000;
    static constexpr std::uint16_t kFlashTagAddress = 0xEFFE;

    ChipCore(const ChipConfig& config, ChipMemories memories);

    // Starts as after power-on or a reset: RAM cleared, then the ROM loader (`intoRom`) or the
    // programmed memory when it holds a valid image.
    void Boot(bool intoRom);
    // Range, protection and capability checks of a command before its data phase.
    std::uint8_t Check(const Command& c) const;
    // Runs a device-to-host command; `reply` receives its bytes. `wait` bounds the wait for a
    // busy flash.
    CoreAnswer Read(const Command& c, std::vector<std::uint8_t>& reply, const WaitBudget& wait);
    // Runs a host-to-device or data-less command with the bytes sent.
    CoreAnswer Write(const Command& c, std::span<const std::uint8_t> data, const WaitBudget& wait);
    // The reset a command asked for (cleared by the call).
    ResetTarget TakeReset();
    // True once when a command made the chip leave the bus (cleared by the call).
    bool TakeUnplug() { return std::exchange(m_unplug, false); }

    std::array<std::uint8_t, kStatusAreaSize> StatusArea() const;
    const ChipMemories& Memories() const { return m_mem; }
    const ChipRegisters& Registers() const { return m_regs; }
    std::uint8_t BootMode() const { return m_regs.BootMode(); }
    bool RunningCode() const { return m_run.running.has_value(); }

private:
    bool WaitFlashIdle(const WaitBudget& wait);
    std::uint8_t CheckFlashChange(std::uint64_t address, std::uint64_t length) const;
    bool EepromWidthAllowed(Op op) const;
    std::vector<std::uint8_t> SignatureReply();
    void BootFromMemory();
    std::optional<std::uint32_t> NewestFlashBank() const;

    ChipConfig m_config;
    ChipMemories m_mem;
    ChipRegisters m_regs;
    I2cBus m_i2c;
    std::array<std::uint8_t, 256> m_iram{};
    std::vector<std::uint8_t> m_phy;
    ChipRunState m_run;
    bool m_unplug = false;
    ResetTarget m_reset = ResetTarget::None;
    std::uint8_t m_signatureState = 0;  // 0 idle, 1 busy, 2 passed, 4 failed
    std::uint64_t m_signatureDoneMs = 0;
};

}  // namespace uafw::sim
