#pragma once
// The chip's non-volatile memories with their physics: SPI flash (erase sets 0xFF, programming
// clears bits only, status register with busy and block-protect bits), I2C EEPROM (bytes written
// as sent) and OTP (erased 0, programming sets bits only, bytes that cannot be programmed).
// Each memory may be backed by a file; every change is written through at once, so the memory
// survives the process.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace uafw::sim {

// A byte array, optionally mirrored into a file.
class PersistentBytes {
public:
    PersistentBytes() = default;
    // In-memory only, filled with `erased`.
    PersistentBytes(std::size_t size, std::uint8_t erased);
    // Backed by `path`: the file's bytes when it exists (a shorter file is padded with `erased`,
    // a longer one cut), else `initial` (padded with `erased`) written as a new file. False with
    // a message when the file cannot be read or written.
    bool Open(const std::string& path, std::size_t size, std::uint8_t erased,
              std::span<const std::uint8_t> initial, std::string& error);

    std::size_t Size() const { return m_bytes.size(); }
    std::span<const std::uint8_t> Bytes() const { return m_bytes; }
    std::uint8_t At(std::size_t i) const { return m_bytes[i]; }
    // Changes a range and writes it through to the file.
    void Set(std::size_t offset, std::span<const std::uint8_t> data);
    void Fill(std::size_t offset, std::size_t length, std::uint8_t value);
    // Applies `op(old, new)` per byte over the range and writes it through.
    template <typename Op>
    void Merge(std::size_t offset, std::span<const std::uint8_t> data, Op op) {
        for (std::size_t i = 0; i < data.size(); ++i)
            m_bytes[offset + i] = op(m_bytes[offset + i], data[i]);
        Commit(offset, data.size());
    }
    // True when the last write to the file failed.
    bool WriteFailed() const { return m_writeFailed; }

private:
    void Commit(std::size_t offset, std::size_t length);

    std::vector<std::uint8_t> m_bytes;
    std::string m_path;
    bool m_writeFailed = false;
};

// SPI serial flash with its status register. The flash array is non-volatile; the status
// register starts as the tool leaves it (SRWD and both block-protect bits set, 0x8C).
class SpiFlash {
public:
    static constexpr std::uint8_t kBusy = 0x01;
    static constexpr std::uint8_t kBlockProtect = 0x1C;
    static constexpr std::uint8_t kStatusWriteDisable = 0x80;

    explicit SpiFlash(PersistentBytes bytes) : m_bytes(std::move(bytes)) {}

    std::size_t Size() const { return m_bytes.Size(); }
    std::span<const std::uint8_t> Bytes() const { return m_bytes.Bytes(); }
    bool InRange(std::uint64_t address, std::uint64_t length) const {
        return address <= Size() && length <= Size() - address;
    }

    // Status register as read at `nowMs` (bit 0 set while an erase runs).
    std::uint8_t Status(std::uint64_t nowMs) const;
    // Writes the status register; refused (false) while SRWD is set and the WP# pin is low.
    bool WriteStatus(std::uint8_t value, bool wpPinHigh);
    // True while the block-protect bits forbid programming and erasing.
    bool Protected() const { return (m_status & kBlockProtect) != 0; }
    std::uint64_t BusyUntil() const { return m_busyUntilMs; }
    bool Busy(std::uint64_t nowMs) const { return nowMs < m_busyUntilMs; }

    void Read(std::uint32_t address, std::span<std::uint8_t> out) const;
    // Page programming: every byte becomes old AND new.
    void Program(std::uint32_t address, std::span<const std::uint8_t> data);
    // Sets the range to 0xFF; the flash then reports busy for `busyMs`.
    void Erase(std::uint32_t address, std::uint32_t length, std::uint64_t nowMs,
               std::uint32_t busyMs);
    // A reset ends a running erase (the array is already erased).
    void EndBusy() { m_busyUntilMs = 0; }
    bool PersistFailed() const { return m_bytes.WriteFailed(); }

private:
    PersistentBytes m_bytes;
    std::uint8_t m_status = 0x8C;
    std::uint64_t m_busyUntilMs = 0;
};

// I2C EEPROM. Word addresses beyond the part's size wrap around, as the real parts ignore the
// address bits they do not have.
class I2cEeprom {
public:
    explicit I2cEeprom(PersistentBytes bytes) : m_bytes(std::move(bytes)) {}
    std::size_t Size() const { return m_bytes.Size(); }
    std::span<const std::uint8_t> Bytes() const { return m_bytes.Bytes(); }
    void Read(std::uint32_t address, std::span<std::uint8_t> out) const;
    void Write(std::uint32_t address, std::span<const std::uint8_t> data);
    bool PersistFailed() const { return m_bytes.WriteFailed(); }

private:
    PersistentBytes m_bytes;
};

// The 16 KiB one-time-programmable area with its tables (VD table at 0x3F70, ECC table at
// 0x3FC0) and the failing-address reply of the last programming.
class OtpMemory {
public:
    static constexpr std::uint32_t kSize = 0x4000;
    static constexpr std::uint32_t kVdTable = 0x3F70;
    static constexpr std::uint32_t kEccTable = 0x3FC0;
    static constexpr std::size_t kFailReplySize = 19;

    struct Block {
        std::uint16_t start = 0;
        std::uint16_t length = 0;
    };

    explicit OtpMemory(PersistentBytes bytes) : m_bytes(std::move(bytes)) {}

    std::size_t Size() const { return m_bytes.Size(); }
    std::span<const std::uint8_t> Bytes() const { return m_bytes.Bytes(); }
    bool InRange(std::uint64_t address, std::uint64_t length) const {
        return address <= Size() && length <= Size() - address;
    }
    void SetFailingBytes(std::vector<std::uint16_t> addresses) { m_failing = std::move(addresses); }
    // The `nth` programming command (counted from 1 over the run) loses its programming supply
    // after `bytes` bytes (0: after half of its data).
    void ArmPowerCut(std::uint32_t nth, std::uint32_t bytes) {
        m_powerCut = nth;
        m_powerCutBytes = bytes;
    }
    // Programming commands run so far.
    std::uint32_t Programmings() const { return m_programmings; }

    void Read(std::uint32_t address, std::span<std::uint8_t> out) const;
    // The bytes as the chip's code sees them: in-use ECC entries replace their bytes.
    void ReadCorrected(std::uint32_t address, std::span<std::uint8_t> out) const;
    // Programs bytes in order (bits can only be set). A byte that cannot take its bits counts
    // as failing; when more bytes fail than `budget` allows, programming stops at that byte.
    // Records the failing-address reply. False when the supply dropped part-way: the bytes
    // before the cut are programmed and the reply's current address is the first one that was
    // not.
    bool Program(std::uint32_t address, std::span<const std::uint8_t> data, std::uint32_t budget);
    const std::array<std::uint8_t, kFailReplySize>& FailReply() const { return m_reply; }
    // The newest code block of the VD table (flag 0x55, searched from entry 15 down).
    std::optional<Block> NewestCodeBlock() const;
    bool PersistFailed() const { return m_bytes.WriteFailed(); }

private:
    bool IsFailing(std::uint32_t address) const;

    PersistentBytes m_bytes;
    std::vector<std::uint16_t> m_failing;
    std::array<std::uint8_t, kFailReplySize> m_reply{};
    std::uint32_t m_programmings = 0;
    std::uint32_t m_powerCut = 0;
    std::uint32_t m_powerCutBytes = 0;
};

// The three memories of one chip.
struct ChipMemories {
    SpiFlash flash;
    I2cEeprom eeprom;
    OtpMemory otp;
};

}  // namespace uafw::sim
