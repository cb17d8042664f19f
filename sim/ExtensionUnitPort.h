#pragma once
// The extension-unit transport of the chip: the command control (10) takes the 8-byte command
// block and reads back the status code, the data control (11) moves the data phase in pieces of
// the data control size, GET_LEN reports that size.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/ChipCore.h"
#include "sim/UsbDeviceModel.h"

namespace uafw::sim {

inline constexpr std::uint8_t kExtensionUnitId = 6;
inline constexpr std::uint8_t kAudioControlInterface = 0;

class ExtensionUnitPort {
public:
    static constexpr std::uint16_t kInitialDataSize = 8;

    ExtensionUnitPort(ChipCore& core, std::uint16_t maxDataSize);

    // True for a class request addressed to the extension unit of the AudioControl interface.
    static bool Addresses(const SetupPacket& setup);
    ControlAnswer Handle(const SetupPacket& setup, std::span<std::uint8_t> data,
                         const WaitBudget& wait);
    // Back to the power-on state: data control size 8, no command, status 0.
    void Reset();

    std::uint16_t DataControlSize() const { return m_dataSize; }
    std::uint8_t StatusCode() const { return m_status; }

private:
    enum class Stage { Idle, DataIn, DataOut };

    ControlAnswer Refuse(std::uint8_t status);
    ControlAnswer SetCommand(std::span<std::uint8_t> data, const WaitBudget& wait);
    ControlAnswer GetData(std::span<std::uint8_t> data);
    ControlAnswer SetData(std::span<std::uint8_t> data, const WaitBudget& wait);

    ChipCore& m_core;
    std::uint16_t m_maxDataSize;
    std::uint16_t m_dataSize = kInitialDataSize;
    std::uint8_t m_status = kStsCmd;
    std::array<std::uint8_t, 8> m_block{};
    Stage m_stage = Stage::Idle;
    Command m_command;
    std::vector<std::uint8_t> m_buffer;  // reply being sent, or data being received
    std::size_t m_position = 0;
};

}  // namespace uafw::sim
