#include "device/DirectExtUnit.h"

#include <algorithm>
#include <cstring>

#include "device/DriverChannel.h"

namespace {
constexpr std::uint32_t kPiece = 8;

// A hold of "ICOperateSyncUac_2022": after a time-out or failed wait the exchange goes on
// without it; an abandoned lock is owned and released at the end.
class UacHold {
public:
    UacHold() : m_lock(CDriverChannel::Instance().UacSyncMutex()) {
        if (!m_lock)
            return;
        const uafw::MutexWait wait = m_lock->Wait(kDeviceLockWaitMs);
        m_held = wait == uafw::MutexWait::kAcquired || wait == uafw::MutexWait::kAbandoned;
    }
    ~UacHold() {
        if (m_held)
            m_lock->Release();
    }
    UacHold(const UacHold&) = delete;
    UacHold& operator=(const UacHold&) = delete;

private:
    uafw::NamedMutex* m_lock;
    bool m_held = false;
};
}  // namespace

CDirectExtUnit::CDirectExtUnit(const DeviceRecord& record, std::uint8_t unitId)
    : m_record(record), m_unitId(unitId) {}

std::uint32_t CDirectExtUnit::Transfer(std::uint8_t requestType, std::uint8_t request,
                                       std::uint8_t control, std::uint8_t* buffer,
                                       std::uint16_t length) {
    const auto r = CDriverChannel::Instance().SubmitClass(
        m_record.driverHandle, requestType, request, control, m_unitId,
        static_cast<std::uint8_t>(m_record.interfaceNumber), buffer, length);
    if (!r.ok())
        return r.error;
    if ((requestType & 0x80) && r.transferred != length)
        return kErrBadLength;
    return 0;
}

std::uint32_t CDirectExtUnit::SendBlock(const ExtUnitCmd& cmd) {
    auto bytes = cmd.Bytes();
    return Transfer(0x21, 0x01, 10, bytes.data(), 8);
}

void CDirectExtUnit::Recover() {
    std::uint8_t status[8] = {};
    Transfer(0xA1, 0x81, 10, status, 8);
    SendBlock(kStatusClearCmd);
}

std::uint32_t CDirectExtUnit::Command(const ExtUnitCmd& cmd) {
    UacHold hold;
    const std::uint32_t r = SendBlock(cmd);
    if (r != 0 && r != uafw::usb::kErrNotConnected)
        Recover();
    return r;
}

std::uint32_t CDirectExtUnit::CommandIn(const ExtUnitCmd& cmd, std::uint8_t* buffer,
                                        std::uint32_t length) {
    UacHold hold;
    std::uint32_t r = SendBlock(cmd);
    for (std::uint32_t done = 0; r == 0 && done < length; done += kPiece) {
        // The chip sends full pieces; only the bytes asked for are kept.
        std::uint8_t piece[kPiece] = {};
        r = Transfer(0xA1, 0x81, 11, piece, kPiece);
        if (r == 0)
            std::memcpy(buffer + done, piece, std::min(kPiece, length - done));
    }
    if (r != 0 && r != uafw::usb::kErrNotConnected)
        Recover();
    return r;
}

std::uint32_t CDirectExtUnit::CommandOut(const ExtUnitCmd& cmd, const std::uint8_t* data,
                                         std::uint32_t length) {
    UacHold hold;
    std::uint32_t r = SendBlock(cmd);
    for (std::uint32_t done = 0; r == 0 && done < length; done += kPiece) {
        std::uint8_t piece[kPiece] = {};
        std::memcpy(piece, data + done, std::min(kPiece, length - done));
        r = Transfer(0x21, 0x01, 11, piece, kPiece);
    }
    if (r != 0 && r != uafw::usb::kErrNotConnected)
        Recover();
    return r;
}

bool CDirectExtUnit::Qualify() {
    std::uint8_t answer[8] = {};
    if (CommandIn(kQualifyCmd, answer, sizeof answer) != 0)
        return false;
    return std::equal(kDeviceSignature.begin(), kDeviceSignature.end(), answer);
}
