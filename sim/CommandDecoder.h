#pragma once
// One command model behind both transports: the 8-byte extension-unit command block and the
// vendor request's setup packet both decode into a Command that the chip's firmware executes.
#include <array>
#include <cstdint>
#include <optional>

#include "sim/UsbDeviceModel.h"

namespace uafw::sim {

// Extension-unit status codes (byte 0 of the command control read back).
inline constexpr std::uint8_t kStsCmd = 0;
inline constexpr std::uint8_t kStsDataIn = 1;
inline constexpr std::uint8_t kStsDataOut = 2;
inline constexpr std::uint8_t kStsErrDir = 3;
inline constexpr std::uint8_t kStsNotFinish = 4;
inline constexpr std::uint8_t kStsErrLen = 5;
inline constexpr std::uint8_t kStsUnknownSubCmd = 6;
inline constexpr std::uint8_t kStsErrOutRange = 7;
inline constexpr std::uint8_t kStsUnknownCmd = 8;
inline constexpr std::uint8_t kStsHwErr = 9;
inline constexpr std::uint8_t kStsRetNoErr = 0xFE;

enum class Op {
    GetStatus,    // status area from block `param`
    Qualify,      // the 8-byte signature
    ResetUpdate,  // into the ROM loader (update mode)
    ResetAlternate,
    ResetRestart,  // restart into the programmed code
    ResetGeneric,  // 40/01: `param` = reset type 7, 8 or 9
    ReadIMem,
    ReadMem,
    WriteMem,
    ReadCode,
    ReadPhy,
    WritePhy,
    NorErase,
    NorRead,
    NorWrite,
    NorTag,
    SpiReadId,
    SpiRead,
    SpiWrite,
    SpiReadSr,
    SpiWriteSr,
    SpiEraseChip,
    SpiEraseSector,
    SpiEraseBlock,
    SpiEraseDone,  // C0/36: nonzero when no erase runs
    SpiTag,
    Eep8Read,
    Eep8Write,
    Eep16Read,
    Eep16Write,
    ExtMemRead,
    ExtMemWrite,
    I2cRegRead,
    I2cRegWrite,
    I2cRead,
    I2cWrite,
    I2cLongRead,
    I2cLongWrite,
    OtpWrite,
    OtpRead,
    OtpBlankCheck,
    OtpAllBlankCheck,
    OtpFailAddr,
    OtpTestDec,
    SignatureSet,
    SignatureGet,
    StatusByte,
    VendorCmd10,
    DataControlSize,  // extension unit only: P2 = requested size
};

enum class Phase { None, In, Out };

struct Command {
    Op op = Op::GetStatus;
    Phase phase = Phase::None;
    std::uint32_t address = 0;
    std::uint32_t length = 0;        // bytes of the data phase
    std::uint32_t param = 0;         // reset value, status block, budget, selector, slave, P3 ...
    bool waitForCompletion = false;  // the request answers only when the erase is done
};

// Decodes a command block. Unknown group -> kStsUnknownCmd, unknown opcode -> kStsUnknownSubCmd.
std::optional<Command> DecodeCommandBlock(const std::array<std::uint8_t, 8>& block,
                                          std::uint8_t& status);
// Decodes a vendor request (bmRequestType 0x40 or 0xC0); nothing for an unknown request or a
// request sent in the wrong direction.
std::optional<Command> DecodeVendorRequest(const SetupPacket& setup);

}  // namespace uafw::sim
