#include "sim/CommandDecoder.h"

namespace uafw::sim {

namespace {

// How the block parameters map onto a command.
enum class Layout {
    AddrLen,       // address = P1, length = P2
    AddrHiLen,     // address = P3 << 16 | P1, length = P2
    AddrLenParam,  // address = P1, length = P2, param = P3
    ParamLen,      // param = P1, length = P2
    Param,         // param = P1
    LenIsP3,       // address = P1, param = P2, length = P3
    Size,          // param = P2
    None,
};

struct BlockEntry {
    std::uint8_t group;
    std::uint8_t opcode;
    Op op;
    Layout layout;
};

constexpr BlockEntry kBlockTable[] = {
    {0x00, 0xCD, Op::GetStatus, Layout::ParamLen},
    {0x00, 0xD0, Op::Qualify, Layout::AddrLen},
    {0x00, 0x07, Op::ResetUpdate, Layout::Param},
    {0x00, 0x08, Op::ResetAlternate, Layout::Param},
    {0x00, 0x09, Op::ResetRestart, Layout::Param},
    {0x00, 0xC1, Op::ReadIMem, Layout::AddrLen},
    {0x00, 0xC2, Op::ReadMem, Layout::AddrLen},
    {0x00, 0x82, Op::WriteMem, Layout::AddrLen},
    {0x00, 0xC3, Op::ReadCode, Layout::AddrLen},
    {0x00, 0xCC, Op::ReadPhy, Layout::AddrLen},
    {0x00, 0x8C, Op::WritePhy, Layout::AddrLen},
    {0x00, 0x04, Op::NorErase, Layout::None},
    {0x00, 0xC5, Op::NorRead, Layout::AddrLen},
    {0x00, 0x85, Op::NorWrite, Layout::AddrLen},
    {0x00, 0x06, Op::NorTag, Layout::None},
    {0x00, 0xEA, Op::I2cRead, Layout::ParamLen},
    {0x00, 0xAA, Op::I2cWrite, Layout::ParamLen},
    {0x00, 0xF1, Op::I2cRead, Layout::ParamLen},
    {0x00, 0xB1, Op::I2cWrite, Layout::ParamLen},
    {0x00, 0xF2, Op::I2cRead, Layout::ParamLen},
    {0x00, 0xB2, Op::I2cWrite, Layout::ParamLen},
    {0x00, 0xCA, Op::I2cRegRead, Layout::AddrHiLen},
    {0x00, 0x8A, Op::I2cRegWrite, Layout::AddrHiLen},
    {0x00, 0xF0, Op::I2cLongRead, Layout::AddrLenParam},
    {0x00, 0xB0, Op::I2cLongWrite, Layout::AddrLenParam},
    {0x00, 0x16, Op::DataControlSize, Layout::Size},
    {0x02, 0xC1, Op::SpiReadId, Layout::AddrLen},
    {0x02, 0xC2, Op::SpiRead, Layout::AddrHiLen},
    {0x02, 0x82, Op::SpiWrite, Layout::AddrHiLen},
    {0x02, 0xC3, Op::SpiReadSr, Layout::AddrLen},
    {0x02, 0x83, Op::SpiWriteSr, Layout::AddrLen},
    {0x02, 0x04, Op::SpiEraseChip, Layout::None},
    {0x02, 0x05, Op::SpiEraseSector, Layout::AddrHiLen},
    {0x02, 0x13, Op::SpiTag, Layout::None},
    {0x02, 0xCB, Op::Eep8Read, Layout::AddrHiLen},
    {0x02, 0x8B, Op::Eep8Write, Layout::AddrHiLen},
    {0x02, 0xD1, Op::Eep16Read, Layout::AddrHiLen},
    {0x02, 0x91, Op::Eep16Write, Layout::AddrHiLen},
    {0x02, 0x97, Op::OtpWrite, Layout::AddrLenParam},
    {0x02, 0x9A, Op::OtpWrite, Layout::AddrLenParam},
    {0x02, 0xD7, Op::OtpRead, Layout::AddrLen},
    {0x02, 0xD8, Op::OtpBlankCheck, Layout::AddrLen},
    {0x02, 0xDF, Op::OtpAllBlankCheck, Layout::LenIsP3},
    {0x02, 0xDC, Op::OtpFailAddr, Layout::AddrLen},
    {0x02, 0xD9, Op::OtpTestDec, Layout::AddrLen},
};

// The opcode's two top bits name the data phase.
Phase PhaseOfOpcode(std::uint8_t opcode) {
    if (opcode >= 0xC0)
        return Phase::In;
    if (opcode >= 0x80)
        return Phase::Out;
    return Phase::None;
}

struct VendorEntry {
    bool in;
    std::uint8_t request;
    Op op;
};

constexpr VendorEntry kVendorTable[] = {
    {true, 0x06, Op::StatusByte},    {true, 0x07, Op::GetStatus},
    {true, 0x23, Op::ReadIMem},      {true, 0x25, Op::ReadMem},
    {true, 0x26, Op::ReadCode},      {true, 0x27, Op::ReadPhy},
    {true, 0x2B, Op::NorRead},       {true, 0x2D, Op::SpiReadId},
    {true, 0x2E, Op::SpiRead},       {true, 0x30, Op::SpiReadSr},
    {true, 0x35, Op::Eep8Read},      {true, 0x36, Op::SpiEraseDone},
    {true, 0x37, Op::Eep16Read},     {true, 0x39, Op::ExtMemRead},
    {true, 0x3D, Op::I2cRead},       {true, 0x50, Op::I2cRegRead},
    {true, 0x59, Op::I2cRead},       {true, 0x70, Op::SignatureGet},
    {false, 0x01, Op::ResetGeneric}, {false, 0x10, Op::VendorCmd10},
    {false, 0x20, Op::ResetUpdate},  {false, 0x21, Op::ResetAlternate},
    {false, 0x22, Op::ResetRestart}, {false, 0x24, Op::WriteMem},
    {false, 0x28, Op::WritePhy},     {false, 0x29, Op::NorErase},
    {false, 0x2A, Op::NorWrite},     {false, 0x2C, Op::NorTag},
    {false, 0x2F, Op::SpiWrite},     {false, 0x31, Op::SpiWriteSr},
    {false, 0x32, Op::SpiEraseChip}, {false, 0x33, Op::SpiEraseSector},
    {false, 0x34, Op::SpiTag},       {false, 0x35, Op::SpiEraseBlock},
    {false, 0x36, Op::Eep8Write},    {false, 0x38, Op::Eep16Write},
    {false, 0x3A, Op::ExtMemWrite},  {false, 0x3E, Op::I2cWrite},
    {false, 0x51, Op::I2cRegWrite},  {false, 0x58, Op::I2cWrite},
    {false, 0x70, Op::SignatureSet},
};

}  // namespace

std::optional<Command> DecodeCommandBlock(const std::array<std::uint8_t, 8>& block,
                                          std::uint8_t& status) {
    const std::uint8_t group = block[0];
    const std::uint8_t opcode = block[1];
    const std::uint32_t p1 = block[2] | (std::uint32_t{block[3]} << 8);
    const std::uint32_t p2 = block[4] | (std::uint32_t{block[5]} << 8);
    const std::uint32_t p3 = block[6] | (std::uint32_t{block[7]} << 8);
    if (group != 0x00 && group != 0x02) {
        status = kStsUnknownCmd;
        return std::nullopt;
    }
    for (const BlockEntry& e : kBlockTable) {
        if (e.group != group || e.opcode != opcode)
            continue;
        Command c;
        c.op = e.op;
        c.phase = PhaseOfOpcode(opcode);
        switch (e.layout) {
            case Layout::AddrLen:
                c.address = p1;
                c.length = p2;
                break;
            case Layout::AddrHiLen:
                c.address = (p3 << 16) | p1;
                c.length = p2;
                break;
            case Layout::AddrLenParam:
                c.address = p1;
                c.length = p2;
                c.param = p3;
                break;
            case Layout::ParamLen:
                c.param = p1;
                c.length = p2;
                break;
            case Layout::Param:
                c.param = p1;
                break;
            case Layout::LenIsP3:
                c.address = p1;
                c.param = p2;
                c.length = p3;
                break;
            case Layout::Size:
                c.param = p2;
                break;
            case Layout::None:
                break;
        }
        if (c.phase == Phase::None)
            c.length = 0;
        return c;
    }
    status = kStsUnknownSubCmd;
    return std::nullopt;
}

std::optional<Command> DecodeVendorRequest(const SetupPacket& setup) {
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if ((setup.bmRequestType & 0x7F) != 0x40)
        return std::nullopt;  // not a vendor request to the device
    for (const VendorEntry& e : kVendorTable) {
        if (e.in != in || e.request != setup.bRequest)
            continue;
        Command c;
        c.op = e.op;
        c.length = setup.wLength;
        c.phase = in ? Phase::In : (setup.wLength ? Phase::Out : Phase::None);
        // Generic packing: wValue bits 11-8 carry address bits 19-16, wIndex bits 15-0.
        c.address = (std::uint32_t{(setup.wValue >> 8) & 0xFu} << 16) | setup.wIndex;
        c.param = setup.wValue & 0xFF;
        switch (e.op) {
            case Op::SpiRead:
            case Op::SpiWrite:
                // The SPI transfers carry address bits 23-16 in the high byte of wValue.
                c.address = (static_cast<std::uint32_t>(setup.wValue >> 8) << 16) | setup.wIndex;
                break;
            case Op::ResetGeneric:
                c.address = setup.wValue;  // the reset value
                c.param = setup.wIndex;    // the reset type
                break;
            case Op::I2cRead:
            case Op::I2cWrite:
                c.param = setup.wIndex & 0xFF;  // slave address
                c.address = 0;
                break;
            case Op::SpiEraseChip:
                c.waitForCompletion = true;
                break;
            default:
                break;
        }
        return c;
    }
    return std::nullopt;
}

}  // namespace uafw::sim
