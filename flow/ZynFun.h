#pragma once
// The binding of the flow object to the device-access library: the device handle and the access
// flags (CZynLibExternalUse), and the device commands issued with them (CZynFun). Every command
// is skipped and counts as failed while no device is open (handle 0). The layers above reach the
// device only through these calls and through the device flow's enumeration.
#include <cstdint>
#include <span>

#include "flow/FlowOperationTable.h"

class CZynLibExternalUse : public CFlowOperationTable {
public:
    // Handle of the open device (its device node); 0 = no device open.
    std::uint32_t m_hDevice = 0;
    // Passed with every device call. Bit 5 forces the extension-unit transport, bit 0 makes a
    // reset use the stored capabilities; each is set only around the steps that need it.
    std::uint32_t m_dwAccessFlags = 0;
};

class CZynFun : public CZynLibExternalUse {
public:
    bool DeviceOpen() const { return m_hDevice != 0; }

    // Memory and register access (ReadMem/WriteMem); a read or write of an empty span fails.
    int ReadMem(std::uint32_t addr, std::span<std::uint8_t> out);
    int WriteMem(std::uint32_t addr, std::span<const std::uint8_t> data);
    int ReadByte(std::uint32_t addr, std::uint8_t& value);
    int WriteByte(std::uint32_t addr, std::uint8_t value);
    // The chip ID word: two bytes at 0xFE21, little-endian. `id` is changed only on success.
    int ReadChipId(std::uint16_t& id);

    // The device status block (104 bytes from block 0) and a range of it.
    int GetStatus(std::span<std::uint8_t, 104> out);
    int GetStatusRange(std::uint32_t firstBlock, std::span<std::uint8_t> out);

    // SPI flash.
    int SpiWrite(std::uint32_t addr, std::span<const std::uint8_t> data);
    int SpiRead(std::uint32_t addr, std::span<std::uint8_t> out);
    int SpiReadSr(std::uint8_t& value);
    int SpiWriteSr(std::uint8_t value);
    int SpiEraseChip(std::uint32_t timeoutMs);
    // `addr` must be a multiple of 0x10000; `wait` nonzero polls for completion.
    int SpiEraseBlock(std::uint32_t addr, std::uint32_t wait);

    // I2C EEPROM with 16-bit and 8-bit word addresses.
    int Eep16Write(std::uint32_t addr, std::span<const std::uint8_t> data);
    int Eep16Read(std::uint32_t addr, std::span<std::uint8_t> out);
    int Eep16WriteTag();
    int Eep8Write(std::uint32_t addr, std::span<const std::uint8_t> data);
    int Eep8Read(std::uint32_t addr, std::span<std::uint8_t> out);
    int Eep8Erase(std::uint32_t size);
    int Eep8WriteTag();

    // One-time-programmable memory: reads, programming with a failing-byte budget, and the
    // failing-address reply of the last programming (19 bytes).
    int OtpRead(std::uint32_t addr, std::span<std::uint8_t> out);
    int OtpWrite(std::uint32_t addr, std::uint16_t budget, std::span<const std::uint8_t> data);
    int OtpFailReply(std::span<std::uint8_t> out);

    // The signature-check requests and the extension unit's data control size.
    int VendorCmd70Set(std::uint32_t value);
    int VendorCmd70Get(std::uint8_t selector, std::span<std::uint8_t> out, std::uint8_t& length);
    int SetDataControlSize(std::uint16_t size);
};

// Sets access-flag bits for the lifetime of the scope and gives them back their previous state on
// every return path (cleared, unless a caller had already set them).
class CAccessBitScope {
public:
    CAccessBitScope(CZynLibExternalUse& flow, std::uint32_t bits)
        : m_flow(flow), m_bits(bits), m_previous(flow.m_dwAccessFlags & bits) {
        m_flow.m_dwAccessFlags |= m_bits;
    }
    ~CAccessBitScope() { m_flow.m_dwAccessFlags = (m_flow.m_dwAccessFlags & ~m_bits) | m_previous; }
    CAccessBitScope(const CAccessBitScope&) = delete;
    CAccessBitScope& operator=(const CAccessBitScope&) = delete;

private:
    CZynLibExternalUse& m_flow;
    std::uint32_t m_bits;
    std::uint32_t m_previous;
};
