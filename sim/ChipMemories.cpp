#include "sim/ChipMemories.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace uafw::sim {

// ---- PersistentBytes ----

PersistentBytes::PersistentBytes(std::size_t size, std::uint8_t erased) : m_bytes(size, erased) {}

bool PersistentBytes::Open(const std::string& path, std::size_t size, std::uint8_t erased,
                           std::span<const std::uint8_t> initial, std::string& error) {
    m_path = path;
    m_bytes.assign(size, erased);
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    if (exists) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot read " + path;
            return false;
        }
        in.read(reinterpret_cast<char*>(m_bytes.data()), static_cast<std::streamsize>(size));
        const auto got = static_cast<std::size_t>(in.gcount());
        std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(got), m_bytes.end(), erased);
        const auto fileSize = std::filesystem::file_size(path, ec);
        if (!ec && fileSize == size)
            return true;
    } else {
        std::copy_n(initial.begin(), std::min(initial.size(), size), m_bytes.begin());
    }
    // A new file, or one of another size: write the whole memory.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::streamsize>(size));
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

void PersistentBytes::Set(std::size_t offset, std::span<const std::uint8_t> data) {
    std::copy(data.begin(), data.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    Commit(offset, data.size());
}

void PersistentBytes::Fill(std::size_t offset, std::size_t length, std::uint8_t value) {
    std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), length, value);
    Commit(offset, length);
}

void PersistentBytes::Commit(std::size_t offset, std::size_t length) {
    if (m_path.empty() || length == 0)
        return;
    std::fstream file(m_path, std::ios::binary | std::ios::in | std::ios::out);
    if (file) {
        file.seekp(static_cast<std::streamoff>(offset));
        file.write(reinterpret_cast<const char*>(m_bytes.data() + offset),
                   static_cast<std::streamsize>(length));
    }
    m_writeFailed = !file;
}

// ---- SpiFlash ----

std::uint8_t SpiFlash::Status(std::uint64_t nowMs) const {
    return static_cast<std::uint8_t>((m_status & ~kBusy) | (Busy(nowMs) ? kBusy : 0));
}

bool SpiFlash::WriteStatus(std::uint8_t value, bool wpPinHigh) {
    if ((m_status & kStatusWriteDisable) && !wpPinHigh)
        return false;  // hardware-protected mode: the register is locked
    m_status = static_cast<std::uint8_t>(value & ~kBusy);
    return true;
}

void SpiFlash::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
    std::copy_n(m_bytes.Bytes().begin() + address, out.size(), out.begin());
}

void SpiFlash::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
    m_bytes.Merge(address, data, [](std::uint8_t old, std::uint8_t v) {
        return static_cast<std::uint8_t>(old & v);
    });
}

void SpiFlash::Erase(std::uint32_t address, std::uint32_t length, std::uint64_t nowMs,
                     std::uint32_t busyMs) {
    m_bytes.Fill(address, length, 0xFF);
    m_busyUntilMs = nowMs + busyMs;
}

// ---- I2cEeprom ----

void I2cEeprom::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
    const std::size_t size = Size();
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = m_bytes.At((address + i) % size);
}

void I2cEeprom::Write(std::uint32_t address, std::span<const std::uint8_t> data) {
    const std::size_t size = Size();
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t at = (address + done) % size;
        const std::size_t run = std::min(data.size() - done, size - at);
        m_bytes.Set(at, data.subspan(done, run));
        done += run;
    }
}

// ---- OtpMemory ----

void OtpMemory::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
    std::copy_n(m_bytes.Bytes().begin() + address, out.size(), out.begin());
}

void OtpMemory::ReadCorrected(std::uint32_t address, std::span<std::uint8_t> out) const {
    Read(address, out);
    for (std::uint32_t e = kEccTable; e + 4 <= kSize; e += 4) {
        if (m_bytes.At(e + 3) != 0x5A)
            continue;
        const std::uint32_t target = (std::uint32_t{m_bytes.At(e)} << 8) | m_bytes.At(e + 1);
        if (target >= address && target < address + out.size())
            out[target - address] = m_bytes.At(e + 2);
    }
}

bool OtpMemory::IsFailing(std::uint32_t address) const {
    return std::find(m_failing.begin(), m_failing.end(), address) != m_failing.end();
}

bool OtpMemory::Program(std::uint32_t address, std::span<const std::uint8_t> data,
                        std::uint32_t budget) {
    ++m_programmings;
    const bool cut = m_powerCut != 0 && m_programmings == m_powerCut;
    const std::size_t reach =
        !cut ? data.size()
             : std::min<std::size_t>(data.size(),
                                     m_powerCutBytes ? m_powerCutBytes : data.size() / 2);
    std::vector<std::uint16_t> failed;
    std::uint32_t current = address + static_cast<std::uint32_t>(reach);
    std::vector<std::uint8_t> merged(data.size());
    std::size_t programmed = 0;
    for (std::size_t i = 0; i < reach; ++i) {
        const std::uint32_t a = address + static_cast<std::uint32_t>(i);
        const std::uint8_t old = m_bytes.At(a);
        if (IsFailing(a) && (data[i] & ~old) != 0) {
            failed.push_back(static_cast<std::uint16_t>(a));
            merged[i] = old;  // the cell does not take its bits
            if (failed.size() > budget) {
                current = a;
                programmed = i;
                break;
            }
        } else {
            merged[i] = static_cast<std::uint8_t>(old | data[i]);
        }
        programmed = i + 1;
    }
    m_bytes.Set(address, std::span<const std::uint8_t>(merged.data(), programmed));
    m_reply.fill(0);
    m_reply[0] = static_cast<std::uint8_t>(std::min<std::size_t>(failed.size(), 0xFF));
    for (std::size_t k = 0; k < failed.size() && k < 8; ++k) {
        m_reply[1 + 2 * k] = static_cast<std::uint8_t>(failed[k] >> 8);
        m_reply[2 + 2 * k] = static_cast<std::uint8_t>(failed[k]);
    }
    m_reply[17] = static_cast<std::uint8_t>(current >> 8);
    m_reply[18] = static_cast<std::uint8_t>(current);
    return !cut;
}

std::optional<OtpMemory::Block> OtpMemory::NewestCodeBlock() const {
    for (int i = 15; i >= 0; --i) {
        const std::uint32_t e = kVdTable + 5u * static_cast<std::uint32_t>(i);
        if (m_bytes.At(e + 4) != 0x55)
            continue;
        Block b;
        b.start = static_cast<std::uint16_t>((m_bytes.At(e) << 8) | m_bytes.At(e + 1));
        b.length = static_cast<std::uint16_t>((m_bytes.At(e + 2) << 8) | m_bytes.At(e + 3));
        if (b.length != 0 && b.start + b.length <= kSize)
            return b;
    }
    return std::nullopt;
}

}  // namespace uafw::sim
