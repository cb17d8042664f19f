#pragma once
// Extension-unit exchanges made directly on a device record, outside the device object's
// transport: the reset's probe, pre-reset poke, reset command and wait for the device to answer.
// Each exchange runs under the lock "ICOperateSyncUac_2022" (not the command lock) and moves its
// data in fixed 8-byte pieces; after a failed transfer the device's status is read back and
// cleared, and the exchange gives up.
#include <cstdint>

#include "device/DeviceRecord.h"
#include "device/ExtUnit.h"

class CDirectExtUnit {
public:
    CDirectExtUnit(const DeviceRecord& record, std::uint8_t unitId);

    // The command block alone; 0 or the system error of the failing transfer.
    std::uint32_t Command(const ExtUnitCmd& cmd);
    // The command block, then `length` bytes read in 8-byte pieces.
    std::uint32_t CommandIn(const ExtUnitCmd& cmd, std::uint8_t* buffer, std::uint32_t length);
    // The command block, then `length` bytes sent in 8-byte pieces (the last zero-padded).
    std::uint32_t CommandOut(const ExtUnitCmd& cmd, const std::uint8_t* data, std::uint32_t length);
    // The qualify exchange: true when the unit answers with the signature.
    bool Qualify();

private:
    std::uint32_t Transfer(std::uint8_t requestType, std::uint8_t request, std::uint8_t control,
                           std::uint8_t* buffer, std::uint16_t length);
    std::uint32_t SendBlock(const ExtUnitCmd& cmd);
    // Status read-back and status clear after a failed transfer.
    void Recover();

    const DeviceRecord& m_record;
    std::uint8_t m_unitId;
};
