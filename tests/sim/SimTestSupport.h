#pragma once
// Test support for the virtual chip: a temporary state directory, a backend over it in virtual
// time, and the host side of both transports written out as hand-built setup packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/SimBackend.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
namespace usb = uafw::usb;

// A fresh directory below the system's temporary directory, removed again at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "uafw-sim-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            ADD_FAILURE() << "cannot create a temporary directory";
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
    }
    void WriteBytes(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(File(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    Bytes ReadBytes(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string m_path;
};

inline constexpr std::uint16_t kEuIndex = (6 << 8) | 0;  // unit 6, AudioControl interface 0

// The host side of one open device: every transfer is one hand-built control request.
class Wire {
public:
    Wire(usb::IUsbBackend& backend, usb::UsbHandle handle) : m_b(backend), m_h(handle) {}

    usb::UsbTransferResult Xfer(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::uint8_t* buffer, std::uint16_t length,
                                std::uint32_t timeoutMs = 5000) {
        return m_b.ControlTransfer(m_h, type, request, value, index, buffer, length, timeoutMs);
    }

    // ---- extension-unit primitives ----
    std::uint32_t SetCmd(std::array<std::uint8_t, 8> block) {
        return Xfer(0x21, 0x01, 0x0A00, kEuIndex, block.data(), 8).error;
    }
    std::uint32_t SetCmd(std::uint8_t group, std::uint8_t op, std::uint16_t p1 = 0,
                         std::uint16_t p2 = 0, std::uint16_t p3 = 0) {
        return SetCmd({group, op, static_cast<std::uint8_t>(p1), static_cast<std::uint8_t>(p1 >> 8),
                       static_cast<std::uint8_t>(p2), static_cast<std::uint8_t>(p2 >> 8),
                       static_cast<std::uint8_t>(p3), static_cast<std::uint8_t>(p3 >> 8)});
    }
    // Byte 0 of the command control read back: the device's status code.
    int Status() {
        std::array<std::uint8_t, 8> back{};
        auto r = Xfer(0xA1, 0x81, 0x0A00, kEuIndex, back.data(), 8);
        return r.ok() ? back[0] : -1;
    }
    std::uint32_t StatusClear() { return SetCmd({0xFF, 0, 0, 0, 0, 0, 0, 0}); }
    int GetLen() {
        std::uint8_t len[2] = {};
        auto r = Xfer(0xA1, 0x85, 0x0B00, kEuIndex, len, 2);
        return r.ok() ? len[0] | (len[1] << 8) : -1;
    }
    usb::UsbTransferResult GetData(Bytes& piece) {
        return Xfer(0xA1, 0x81, 0x0B00, kEuIndex, piece.data(),
                    static_cast<std::uint16_t>(piece.size()));
    }
    usb::UsbTransferResult SetData(Bytes piece) {
        return Xfer(0x21, 0x01, 0x0B00, kEuIndex, piece.data(),
                    static_cast<std::uint16_t>(piece.size()));
    }
    bool ChangeDataSize(std::uint16_t n) {
        if (SetCmd(0x00, 0x16, 0, n) != 0)
            return false;
        const int len = GetLen();
        if (len < 0)
            return false;
        m_dataSize = static_cast<std::uint16_t>(len);
        return m_dataSize == n;
    }
    std::uint16_t DataSize() const { return m_dataSize; }
    void ResetDataSize() { m_dataSize = 8; }

    // An extension-unit command with a device-to-host data phase of `length` bytes, moved in
    // full data-control pieces.
    std::optional<Bytes> EuIn(std::uint8_t group, std::uint8_t op, std::uint16_t p1,
                              std::uint16_t p2, std::uint16_t p3, std::size_t length) {
        if (SetCmd(group, op, p1, p2, p3) != 0)
            return std::nullopt;
        Bytes out;
        while (out.size() < length) {
            Bytes piece(m_dataSize);
            if (!GetData(piece).ok())
                return std::nullopt;
            const std::size_t n = std::min(piece.size(), length - out.size());
            out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        }
        return out;
    }
    // The mirror image: the data phase goes out in full pieces, the last one zero-padded.
    std::uint32_t EuOut(std::uint8_t group, std::uint8_t op, std::uint16_t p1, std::uint16_t p2,
                        std::uint16_t p3, const Bytes& data) {
        if (auto e = SetCmd(group, op, p1, p2, p3))
            return e;
        for (std::size_t done = 0; done < data.size(); done += m_dataSize) {
            Bytes piece(m_dataSize, 0);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done),
                        std::min<std::size_t>(m_dataSize, data.size() - done), piece.begin());
            if (auto e = SetData(piece).error)
                return e;
        }
        return 0;
    }

    // ---- vendor requests ----
    std::optional<Bytes> VendorIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                  std::uint16_t length, std::uint32_t timeoutMs = 5000) {
        Bytes out(length);
        auto r = Xfer(0xC0, request, value, index, out.data(), length, timeoutMs);
        if (!r.ok())
            return std::nullopt;
        out.resize(r.transferred);
        return out;
    }
    std::uint32_t VendorOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                            Bytes data = {}, std::uint32_t timeoutMs = 5000) {
        return Xfer(0x40, request, value, index, data.empty() ? nullptr : data.data(),
                    static_cast<std::uint16_t>(data.size()), timeoutMs)
            .error;
    }

private:
    usb::IUsbBackend& m_b;
    usb::UsbHandle m_h;
    std::uint16_t m_dataSize = 8;
};

// A state directory with the given chip.ini, a backend over it, the first device opened, and
// a virtual clock for every wait.
class SimFixture : public ::testing::Test {
protected:
    uafw::FakeClock m_clock{1000};
    uafw::ScopedClock m_useClock{m_clock};
    TempDir m_dir;
    std::unique_ptr<uafw::sim::SimBackend> m_backend;
    std::unique_ptr<Wire> m_wire;

    // Loads the directory (after the test wrote its files) and opens the first device.
    void Start(const std::string& chipIni = "") {
        if (!chipIni.empty())
            m_dir.Write("chip.ini", chipIni);
        std::string error;
        m_backend = uafw::sim::SimBackend::FromStateDirs(m_dir.Path(), error);
        ASSERT_TRUE(m_backend) << error;
        Reopen();
    }
    void Reopen() {
        auto list = m_backend->Enumerate();
        ASSERT_FALSE(list.empty());
        std::uint32_t error = 0;
        const usb::UsbHandle h = m_backend->Open(list[0].nodeId, error);
        ASSERT_EQ(error, 0u);
        m_wire = std::make_unique<Wire>(*m_backend, h);
    }
    uafw::sim::VirtualChip& Chip() { return m_backend->Chip(0); }
    Wire& W() { return *m_wire; }
};

}  // namespace simtest
