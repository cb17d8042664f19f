#include "sim/ExtensionUnitPort.h"

#include <algorithm>

namespace uafw::sim {

namespace {

constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kGetLen = 0x85;
constexpr std::uint16_t kCommandControl = 0x0A00;
constexpr std::uint16_t kDataControl = 0x0B00;

}  // namespace

ExtensionUnitPort::ExtensionUnitPort(ChipCore& core, std::uint16_t maxDataSize)
    : m_core(core), m_maxDataSize(maxDataSize) {}

bool ExtensionUnitPort::Addresses(const SetupPacket& setup) {
    const std::uint8_t type = setup.bmRequestType & 0x7F;
    return type == 0x21 &&
           setup.wIndex == ((std::uint16_t{kExtensionUnitId} << 8) | kAudioControlInterface);
}

void ExtensionUnitPort::Reset() {
    m_dataSize = kInitialDataSize;
    m_status = kStsCmd;
    m_block.fill(0);
    m_stage = Stage::Idle;
    m_buffer.clear();
    m_position = 0;
}

ControlAnswer ExtensionUnitPort::Refuse(std::uint8_t status) {
    m_status = status;
    return ControlAnswer::Stalled();
}

ControlAnswer ExtensionUnitPort::Handle(const SetupPacket& setup, std::span<std::uint8_t> data,
                                        const WaitBudget& wait) {
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if (setup.wValue == kCommandControl) {
        if (!in && setup.bRequest == kSetCur)
            return SetCommand(data, wait);
        if (in && setup.bRequest == kGetCur) {
            // Status read-back: the status code followed by the last command block.
            std::array<std::uint8_t, 8> back = m_block;
            back[0] = m_status;
            const std::size_t n = std::min(data.size(), back.size());
            std::copy_n(back.begin(), n, data.begin());
            return ControlAnswer::Done(static_cast<std::uint32_t>(n));
        }
        if (in && setup.bRequest == kGetLen && data.size() >= 2) {
            data[0] = 8;
            data[1] = 0;
            return ControlAnswer::Done(2);
        }
        return ControlAnswer::Stalled();
    }
    if (setup.wValue == kDataControl) {
        if (in && setup.bRequest == kGetCur)
            return GetData(data);
        if (!in && setup.bRequest == kSetCur)
            return SetData(data, wait);
        if (in && setup.bRequest == kGetLen && data.size() >= 2) {
            data[0] = static_cast<std::uint8_t>(m_dataSize);
            data[1] = static_cast<std::uint8_t>(m_dataSize >> 8);
            return ControlAnswer::Done(2);
        }
        return ControlAnswer::Stalled();
    }
    return ControlAnswer::Stalled();
}

ControlAnswer ExtensionUnitPort::SetCommand(std::span<std::uint8_t> data, const WaitBudget& wait) {
    if (data.size() != m_block.size())
        return Refuse(kStsErrLen);
    std::array<std::uint8_t, 8> block;
    std::copy(data.begin(), data.end(), block.begin());
    if (block[0] == 0xFF) {
        // Status clear: abandons any data phase and makes the unit ready for a command.
        m_block = block;
        m_stage = Stage::Idle;
        m_buffer.clear();
        m_status = kStsCmd;
        return ControlAnswer::Done(8);
    }
    if (m_stage != Stage::Idle)
        return Refuse(kStsNotFinish);  // the previous command's data phase is unfinished
    m_block = block;
    std::uint8_t status = kStsRetNoErr;
    auto command = DecodeCommandBlock(block, status);
    if (!command)
        return Refuse(status);
    m_command = *command;
    if (m_command.op == Op::DataControlSize) {
        // Grants the requested size within what the unit supports; GET_LEN tells the host.
        const std::uint32_t asked = m_command.param;
        m_dataSize = static_cast<std::uint16_t>(std::clamp<std::uint32_t>(asked, 1, m_maxDataSize));
        m_status = kStsRetNoErr;
        return ControlAnswer::Done(8);
    }
    switch (m_command.phase) {
        case Phase::None: {
            const CoreAnswer a = m_core.Write(m_command, {}, wait);
            if (a.timedOut)
                return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
            if (!a.ok())
                return Refuse(a.status);
            m_status = kStsRetNoErr;
            return ControlAnswer::Done(8);
        }
        case Phase::In: {
            const CoreAnswer a = m_core.Read(m_command, m_buffer, wait);
            if (a.timedOut)
                return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
            if (!a.ok())
                return Refuse(a.status);
            m_buffer.resize(m_command.length, 0);
            m_position = 0;
            m_stage = m_command.length ? Stage::DataIn : Stage::Idle;
            m_status = m_command.length ? kStsDataIn : kStsRetNoErr;
            return ControlAnswer::Done(8);
        }
        case Phase::Out: {
            const std::uint8_t check = m_core.Check(m_command);
            if (check != kStsRetNoErr)
                return Refuse(check);
            m_buffer.clear();
            if (m_command.length == 0) {
                const CoreAnswer a = m_core.Write(m_command, {}, wait);
                if (!a.ok())
                    return a.timedOut ? ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0)
                                      : Refuse(a.status);
                m_status = kStsRetNoErr;
                return ControlAnswer::Done(8);
            }
            m_stage = Stage::DataOut;
            m_status = kStsDataOut;
            return ControlAnswer::Done(8);
        }
    }
    return Refuse(kStsUnknownSubCmd);
}

ControlAnswer ExtensionUnitPort::GetData(std::span<std::uint8_t> data) {
    if (m_stage != Stage::DataIn)
        return Refuse(kStsErrDir);
    if (data.size() != m_dataSize)
        return Refuse(kStsErrLen);
    // Every piece is a full data-control piece; bytes past the reply are zero.
    std::fill(data.begin(), data.end(), 0);
    const std::size_t n = std::min<std::size_t>(m_dataSize, m_buffer.size() - m_position);
    std::copy_n(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_position), n, data.begin());
    m_position += n;
    if (m_position >= m_buffer.size()) {
        m_stage = Stage::Idle;
        m_status = kStsRetNoErr;
    }
    return ControlAnswer::Done(m_dataSize);
}

ControlAnswer ExtensionUnitPort::SetData(std::span<std::uint8_t> data, const WaitBudget& wait) {
    if (m_stage != Stage::DataOut)
        return Refuse(kStsErrDir);
    if (data.size() != m_dataSize)
        return Refuse(kStsErrLen);
    // Only the command's length counts; the padding of the last piece is dropped.
    const std::size_t n = std::min<std::size_t>(m_dataSize, m_command.length - m_buffer.size());
    m_buffer.insert(m_buffer.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    if (m_buffer.size() < m_command.length)
        return ControlAnswer::Done(m_dataSize);
    m_stage = Stage::Idle;
    const CoreAnswer a = m_core.Write(m_command, m_buffer, wait);
    m_buffer.clear();
    if (a.timedOut)
        return ControlAnswer::Failed(ControlAnswer::Kind::Timeout, 0);
    if (!a.ok())
        return Refuse(a.status);
    m_status = kStsRetNoErr;
    return ControlAnswer::Done(m_dataSize);
}

}  // namespace uafw::sim
