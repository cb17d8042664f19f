#pragma once
// OTP flows against a virtual chip with `memory = otp` in virtual time: an OTP image preset
// before the chip powers on (block bytes, VD and ECC entries), the chip's OTP read back after a
// run, decoded VD and ECC entries, a block prepared into the flow as the front end prepares it,
// and the OTP log lines of a run.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "flow/MpFlowOtp.h"
#include "flow_fixture.h"
#include "platform/OperationLog.h"

namespace uafw::flowtest {

using OtpBytes = std::vector<std::uint8_t>;

// One VD entry as it lies in the OTP.
struct VdEntry {
    std::uint16_t start = 0;
    std::uint16_t length = 0;
    std::uint8_t flag = 0;
    bool operator==(const VdEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const VdEntry& e) {
    return os << "{start " << e.start << ", length " << e.length << ", flag 0x" << std::hex
              << int{e.flag} << std::dec << "}";
}

// One ECC entry as it lies in the OTP.
struct EccEntry {
    std::uint16_t address = 0;
    std::uint8_t value = 0;
    std::uint8_t flag = 0;
    bool operator==(const EccEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const EccEntry& e) {
    return os << "{address 0x" << std::hex << e.address << ", value 0x" << int{e.value}
              << ", flag 0x" << int{e.flag} << std::dec << "}";
}

// A whole OTP memory (16 KiB, erased 0) with helpers to place entries and bytes.
class OtpImage {
public:
    OtpImage() : m_bytes(kOtpSize, 0x00) {}
    explicit OtpImage(OtpBytes bytes) : m_bytes(std::move(bytes)) { m_bytes.resize(kOtpSize, 0); }

    OtpImage& Bytes(std::uint32_t address, const OtpBytes& data) {
        for (std::size_t i = 0; i < data.size() && address + i < m_bytes.size(); ++i)
            m_bytes[address + i] = data[i];
        return *this;
    }
    OtpImage& Vd(int index, std::uint16_t start, std::uint16_t length, std::uint8_t flag) {
        return Bytes(
            OtpVdEntryAddress(index),
            {static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start),
             static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), flag});
    }
    OtpImage& Ecc(int index, std::uint16_t address, std::uint8_t value, std::uint8_t flag) {
        return Bytes(OtpEccEntryAddress(index), {static_cast<std::uint8_t>(address >> 8),
                                                 static_cast<std::uint8_t>(address), value, flag});
    }

    VdEntry VdAt(int index) const {
        const std::uint32_t a = OtpVdEntryAddress(index);
        return {static_cast<std::uint16_t>((m_bytes[a] << 8) | m_bytes[a + 1]),
                static_cast<std::uint16_t>((m_bytes[a + 2] << 8) | m_bytes[a + 3]), m_bytes[a + 4]};
    }
    EccEntry EccAt(int index) const {
        const std::uint32_t a = OtpEccEntryAddress(index);
        return {static_cast<std::uint16_t>((m_bytes[a] << 8) | m_bytes[a + 1]), m_bytes[a + 2],
                m_bytes[a + 3]};
    }
    OtpBytes Slice(std::uint32_t address, std::uint32_t length) const {
        const std::size_t from = std::min<std::size_t>(address, m_bytes.size());
        const std::size_t to = std::min<std::size_t>(from + length, m_bytes.size());
        return OtpBytes(m_bytes.begin() + static_cast<std::ptrdiff_t>(from),
                        m_bytes.begin() + static_cast<std::ptrdiff_t>(to));
    }
    // The bytes as the chip's code sees them: in-use ECC entries replace their bytes.
    OtpBytes Corrected(std::uint32_t address, std::uint32_t length) const {
        OtpBytes out = Slice(address, length);
        for (int i = 0; i < kOtpEntryCount; ++i) {
            const EccEntry e = EccAt(i);
            if (e.flag == kEccInUse && e.address >= address && e.address - address < out.size())
                out[e.address - address] = e.value;
        }
        return out;
    }
    const OtpBytes& All() const { return m_bytes; }

private:
    OtpBytes m_bytes;
};

// A block of `length` bytes with a pattern that has no zero byte (so that every byte needs
// programming and a failing byte always shows).
inline OtpBytes PatternBlock(std::size_t length, std::uint8_t seed = 1) {
    OtpBytes block(length);
    for (std::size_t i = 0; i < length; ++i)
        block[i] = static_cast<std::uint8_t>(((i * 7 + seed) % 255) + 1);
    return block;
}

class OtpFlowFixture : public FlowSimFixture {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        g_nProjectType = kProjectOtp;
    }
    void TearDown() override {
        m_logObserver.reset();
        m_flow.reset();
        FlowSimFixture::TearDown();
    }

    // Starts one virtual chip with `memory = otp`, the [faults] lines given (for example
    // "otp_fail = 0x10, 0x20\n") and `otp` as its OTP memory, and opens it with a new flow
    // object of type Flow (CMpFlow_OTP or a class derived from it).
    template <typename Flow = CMpFlow_OTP>
    Flow* StartOtp(const std::string& faults = "", const OtpImage& otp = OtpImage(),
                   const std::string& chipLines = "") {
        std::string dir = (std::filesystem::temp_directory_path() / "uafw-otp-XXXXXX").string();
        EXPECT_NE(mkdtemp(dir.data()), nullptr);
        m_dirs.push_back(dir);
        std::ofstream(dir + "/chip.ini") << "[chip]\nmemory = otp\n"
                                         << chipLines << "[faults]\n"
                                         << faults;
        std::ofstream(dir + "/otp.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(otp.All().data()),
                   static_cast<std::streamsize>(otp.All().size()));
        std::string error;
        m_backend = uafw::sim::SimBackend::FromStateDirs(dir, error);
        EXPECT_TRUE(m_backend) << error;
        if (!m_backend)
            return nullptr;
        uafw::usb::SetCurrentUsbBackend(m_backend.get());
        EXPECT_TRUE(DeviceLibraryStartup(0));
        auto flow = std::make_unique<Flow>();
        Flow* raw = flow.get();
        m_flow = std::move(flow);
        EXPECT_EQ(m_flow->MP_OpenDevice(0), 1);
        m_window.Clear();
        g_ErrCode = 0;
        m_logObserver = std::make_unique<uafw::ScopedLogObserver>(
            [this](const std::u16string& line) { m_log.emplace_back(line.begin(), line.end()); });
        return raw;
    }

    // Prepares `block` as the front end does before each block: kind, block, reference copy.
    void PrepareBlock(std::uint8_t kind, const OtpBytes& block) {
        m_flow->m_byOtpBlockKind = kind;
        m_flow->m_otpBlock = block;
        m_flow->m_otpBlockReference = block;
    }
    // Prepares and programs one block through the engine's entry point.
    int ProgramBlock(std::uint8_t kind, const OtpBytes& block) {
        PrepareBlock(kind, block);
        return m_flow->OTP_UpdateEx_Cmd2(m_flow->m_otpBlock,
                                         static_cast<std::uint16_t>(block.size()));
    }

    // The chip's OTP as it is now.
    OtpImage ChipOtp() { return OtpImage(Chip().OtpBytes()); }

    // The failure ids posted since the chip was opened (or the window was last cleared).
    std::vector<std::uintptr_t> Failures() { return m_window.Words(kMsgFailure); }

    // Log lines (ASCII) of the run; LogHas: some line contains `text`.
    bool LogHas(const std::string& text) const {
        for (const std::string& line : m_log)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::size_t LogCount(const std::string& text) const {
        std::size_t n = 0;
        for (const std::string& line : m_log)
            if (line.find(text) != std::string::npos)
                ++n;
        return n;
    }

    std::unique_ptr<CMpFlow_OTP> m_flow;
    std::vector<std::string> m_log;

private:
    std::unique_ptr<uafw::ScopedLogObserver> m_logObserver;
};

}  // namespace uafw::flowtest
