#pragma once
// The chip's vendor commands as one interface, in slot order. Two transports implement it: the
// extension unit of the AudioControl interface (CExtUnit) and vendor requests on the default
// control pipe (CVendorRequestV2). Every command returns 0 on success, else an HRESULT, or 1 when
// the command lock could not be taken. A command a transport does not carry returns E_NOTIMPL.
#include <cstdint>

#include "device/DeviceResult.h"

// Progress of a block transfer: called with the caller's context and the bytes just moved.
using VcProgress = void (*)(void* context, std::uint32_t bytes);

class CVendorCmdCommon {
public:
    // 0
    virtual HRESULT GetDevStatus(std::uint32_t firstBlock, std::uint8_t* buffer,
                                 std::uint32_t length) = 0;
    // 1-3
    virtual HRESULT ResetToUpdateFW(std::uint16_t value) = 0;
    virtual HRESULT ResetAlternate(std::uint16_t value) = 0;
    virtual HRESULT ResetToRom() = 0;
    // 4-7
    virtual HRESULT ReadIMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                             VcProgress progress, void* context) = 0;
    virtual HRESULT ReadMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                            VcProgress progress, void* context) = 0;
    virtual HRESULT WriteMem(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                             VcProgress progress, void* context) = 0;
    virtual HRESULT ReadCode(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                             VcProgress progress, void* context) = 0;
    // 8-9
    virtual HRESULT ReadPhy(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) = 0;
    virtual HRESULT WritePhy(std::uint32_t addr, std::uint32_t length,
                             const std::uint8_t* buffer) = 0;
    // 10-13
    virtual HRESULT EraseFlash() = 0;
    virtual HRESULT NorFlash_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                  VcProgress progress, void* context) = 0;
    virtual HRESULT WriteFlash(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                               VcProgress progress, void* context) = 0;
    virtual HRESULT NorFlash_WriteTag() = 0;
    // 14-22
    virtual HRESULT SPI_SF_ReadID(std::uint8_t (&id)[8]) = 0;
    virtual HRESULT SPI_SF_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                std::uint8_t readMode, VcProgress progress, void* context) = 0;
    virtual HRESULT SPI_SF_Write(std::uint32_t addr, std::uint32_t length,
                                 const std::uint8_t* buffer, VcProgress progress,
                                 void* context) = 0;
    virtual HRESULT SPI_SF_ReadSr(std::uint8_t& value) = 0;
    virtual HRESULT SPI_SF_WriteSr(std::uint8_t value) = 0;
    virtual HRESULT SPI_SF_EraseChip(std::uint32_t timeoutMs) = 0;
    virtual HRESULT SPI_SF_EraseSector(std::uint32_t addr, std::uint32_t sectorSize) = 0;
    virtual HRESULT SPI_SF_EraseBlock(std::uint32_t addr, std::uint32_t blockSize,
                                      std::uint32_t wait) = 0;
    virtual HRESULT SPI_SF_WriteTag() = 0;
    // 23-26
    virtual HRESULT I2C_EEP8_Erase(std::uint32_t size) = 0;
    virtual HRESULT I2C_EEP8_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                  VcProgress progress, void* context) = 0;
    virtual HRESULT I2C_EEP8_Write(std::uint32_t addr, std::uint32_t length,
                                   const std::uint8_t* buffer, VcProgress progress,
                                   void* context) = 0;
    virtual HRESULT I2C_EEP8_WriteTag() = 0;
    // 27-30
    virtual HRESULT I2C_EEP16_Erase(std::uint32_t size) = 0;
    virtual HRESULT I2C_EEP16_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                   VcProgress progress, void* context) = 0;
    virtual HRESULT I2C_EEP16_Write(std::uint32_t addr, std::uint32_t length,
                                    const std::uint8_t* buffer, VcProgress progress,
                                    void* context) = 0;
    virtual HRESULT I2C_EEP16_WriteTag() = 0;
    // 31-34
    virtual HRESULT ExtMem_Erase(std::uint32_t size) = 0;
    virtual HRESULT ExtMem_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                std::uint8_t selector, VcProgress progress, void* context) = 0;
    virtual HRESULT ExtMem_Write(std::uint32_t addr, std::uint32_t length,
                                 const std::uint8_t* buffer, std::uint8_t selector,
                                 VcProgress progress, void* context) = 0;
    virtual HRESULT ExtMem_WriteTag() = 0;
    // 35-38: I2C through a slave address, and 16-bit registers of the given width (1 or 2)
    virtual HRESULT I2CRead(std::uint32_t slaveAddr, std::uint32_t length, std::uint8_t* out) = 0;
    virtual HRESULT I2CRead(std::uint32_t width, std::uint32_t regAddr, std::uint16_t& out) = 0;
    virtual HRESULT I2CWrite(std::uint32_t slaveAddr, std::uint32_t length,
                             const std::uint8_t* data) = 0;
    virtual HRESULT I2CWrite(std::uint32_t width, std::uint32_t regAddr, std::uint16_t value) = 0;
    // 39-48: reserved slots, carried by neither transport
    virtual HRESULT Reserved39(std::uint32_t, std::uint32_t, std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved40(std::uint32_t, std::uint32_t, std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved41(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved42(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved43(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved44(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved45(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved46(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved47(std::uint32_t) { return E_NOTIMPL; }
    virtual HRESULT Reserved48(std::uint32_t) { return E_NOTIMPL; }
    // 49-54
    virtual HRESULT I2CGenRead(std::uint32_t slaveAddr, std::uint32_t length,
                               std::uint8_t* buffer) = 0;
    virtual HRESULT I2CGenWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                const std::uint8_t* data) = 0;
    virtual HRESULT I2CRandomRead(std::uint32_t slaveAddr, std::uint32_t length,
                                  std::uint8_t* out) = 0;
    virtual HRESULT I2CRandomWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                   const std::uint8_t* data) = 0;
    virtual HRESULT I2CSuperRead(std::uint32_t slaveAddr, std::uint32_t length,
                                 std::uint8_t* buffer) = 0;
    virtual HRESULT I2CSuperWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                  const std::uint8_t* data) = 0;
    // 55-56
    virtual HRESULT I2CLongRead(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                                std::uint8_t* buffer) = 0;
    virtual HRESULT I2CLongWrite(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                                 const std::uint8_t* buffer) = 0;
    // 57-61
    virtual HRESULT OTPWrite(std::uint32_t addr, std::uint32_t length, std::uint16_t budget,
                             const std::uint8_t* data) = 0;
    virtual HRESULT OTPRead(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) = 0;
    virtual HRESULT OTPBlankCheck(std::uint32_t addr, std::uint32_t length,
                                  std::uint8_t* buffer) = 0;
    virtual HRESULT OTPAllBlankCheck(std::uint32_t addr, std::uint32_t length,
                                     std::uint8_t* buffer) = 0;
    virtual HRESULT OTPPrgmFailAddr(std::uint32_t length, std::uint8_t* buffer) = 0;
    // 62-63
    virtual HRESULT VendorCmd70_Set(std::uint32_t value) = 0;
    virtual HRESULT VendorCmd70_Get(std::uint8_t selector, std::uint8_t* buffer,
                                    std::uint8_t& length) = 0;

protected:
    // The interface is never deleted through: each transport is destroyed through its own type.
    CVendorCmdCommon() = default;
    ~CVendorCmdCommon() = default;
};
