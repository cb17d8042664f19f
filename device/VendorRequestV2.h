#pragma once
// The vendor-request transport: every vendor command is one USB vendor request on the default
// control pipe, its parameters in the setup packet and its data in the data stage. Block
// commands move in pieces of at most 4096 bytes. This transport takes no lock.
#include <array>
#include <cstdint>

#include "device/DeviceRecord.h"
#include "device/VendorCmdCommon.h"

// One command's request: type (0x40 host-to-device, 0xC0 device-to-host), code and timeout.
struct VendorRequestEntry {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint32_t timeoutMs = 5000;
};

inline constexpr std::uint32_t kVendorPieceSize = 4096;

class CVendorRequestV2 final : public CVendorCmdCommon {
public:
    // The transport of the device in `record`; the record must outlive the transport.
    explicit CVendorRequestV2(const DeviceRecord& record);
    ~CVendorRequestV2() = default;
    CVendorRequestV2(const CVendorRequestV2&) = delete;
    CVendorRequestV2& operator=(const CVendorRequestV2&) = delete;

    HRESULT GetDevStatus(std::uint32_t firstBlock, std::uint8_t* buffer,
                         std::uint32_t length) override;
    HRESULT ResetToUpdateFW(std::uint16_t value) override;
    HRESULT ResetAlternate(std::uint16_t value) override;
    HRESULT ResetToRom() override;
    HRESULT ReadIMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                     VcProgress progress, void* context) override;
    HRESULT ReadMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                    VcProgress progress, void* context) override;
    HRESULT WriteMem(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                     VcProgress progress, void* context) override;
    HRESULT ReadCode(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                     VcProgress progress, void* context) override;
    HRESULT ReadPhy(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) override;
    HRESULT WritePhy(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer) override;
    HRESULT EraseFlash() override;
    HRESULT NorFlash_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                          VcProgress progress, void* context) override;
    HRESULT WriteFlash(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                       VcProgress progress, void* context) override;
    HRESULT NorFlash_WriteTag() override;
    HRESULT SPI_SF_ReadID(std::uint8_t (&id)[8]) override;
    HRESULT SPI_SF_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                        std::uint8_t readMode, VcProgress progress, void* context) override;
    HRESULT SPI_SF_Write(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                         VcProgress progress, void* context) override;
    HRESULT SPI_SF_ReadSr(std::uint8_t& value) override;
    HRESULT SPI_SF_WriteSr(std::uint8_t value) override;
    // The erase may take long: the argument becomes this command's own transfer timeout.
    HRESULT SPI_SF_EraseChip(std::uint32_t timeoutMs) override;
    HRESULT SPI_SF_EraseSector(std::uint32_t addr, std::uint32_t sectorSize) override;
    // With `wait` non-zero, polls the completion byte up to 20 times, 500 ms apart.
    HRESULT SPI_SF_EraseBlock(std::uint32_t addr, std::uint32_t blockSize,
                              std::uint32_t wait) override;
    HRESULT SPI_SF_WriteTag() override;
    HRESULT I2C_EEP8_Erase(std::uint32_t size) override;
    HRESULT I2C_EEP8_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                          VcProgress progress, void* context) override;
    HRESULT I2C_EEP8_Write(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                           VcProgress progress, void* context) override;
    HRESULT I2C_EEP8_WriteTag() override;
    HRESULT I2C_EEP16_Erase(std::uint32_t size) override;
    HRESULT I2C_EEP16_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                           VcProgress progress, void* context) override;
    HRESULT I2C_EEP16_Write(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                            VcProgress progress, void* context) override;
    HRESULT I2C_EEP16_WriteTag() override;
    HRESULT ExtMem_Erase(std::uint32_t size) override;
    HRESULT ExtMem_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                        std::uint8_t selector, VcProgress progress, void* context) override;
    HRESULT ExtMem_Write(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                         std::uint8_t selector, VcProgress progress, void* context) override;
    HRESULT ExtMem_WriteTag() override;
    HRESULT I2CRead(std::uint32_t slaveAddr, std::uint32_t length, std::uint8_t* out) override;
    HRESULT I2CRead(std::uint32_t width, std::uint32_t regAddr, std::uint16_t& out) override;
    HRESULT I2CWrite(std::uint32_t slaveAddr, std::uint32_t length,
                     const std::uint8_t* data) override;
    HRESULT I2CWrite(std::uint32_t width, std::uint32_t regAddr, std::uint16_t value) override;
    HRESULT I2CGenRead(std::uint32_t slaveAddr, std::uint32_t length,
                       std::uint8_t* buffer) override;
    HRESULT I2CGenWrite(std::uint32_t slaveAddr, std::uint32_t length,
                        const std::uint8_t* data) override;
    HRESULT I2CRandomRead(std::uint32_t slaveAddr, std::uint32_t length,
                          std::uint8_t* out) override;
    HRESULT I2CRandomWrite(std::uint32_t slaveAddr, std::uint32_t length,
                           const std::uint8_t* data) override;
    HRESULT I2CSuperRead(std::uint32_t slaveAddr, std::uint32_t length,
                         std::uint8_t* buffer) override;
    HRESULT I2CSuperWrite(std::uint32_t slaveAddr, std::uint32_t length,
                          const std::uint8_t* data) override;
    HRESULT I2CLongRead(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                        std::uint8_t* buffer) override;
    HRESULT I2CLongWrite(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                         const std::uint8_t* buffer) override;
    HRESULT OTPWrite(std::uint32_t addr, std::uint32_t length, std::uint16_t budget,
                     const std::uint8_t* data) override;
    HRESULT OTPRead(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) override;
    HRESULT OTPBlankCheck(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) override;
    HRESULT OTPAllBlankCheck(std::uint32_t addr, std::uint32_t length,
                             std::uint8_t* buffer) override;
    HRESULT OTPPrgmFailAddr(std::uint32_t length, std::uint8_t* buffer) override;
    HRESULT VendorCmd70_Set(std::uint32_t value) override;
    // `length` is the buffer's size on entry and the bytes received on return (also on failure).
    HRESULT VendorCmd70_Get(std::uint8_t selector, std::uint8_t* buffer,
                            std::uint8_t& length) override;

    // Slot 64: the one-byte status request.
    HRESULT ReadStatusByte(std::uint8_t& value);
    // Slot 65: request 0x10 with the byte as wValue.
    HRESULT VendorCmd10(std::uint8_t value);

    // The timeout the chip erase uses (its argument of the last call; 5000 before).
    std::uint32_t EraseChipTimeoutMs() const { return m_eraseChip.timeoutMs; }

private:
    // One request; `moved` receives the bytes of the data stage. A device-to-host request that
    // brings fewer bytes than asked for fails unless `shortOk`.
    HRESULT Send(const VendorRequestEntry& entry, std::uint16_t value, std::uint16_t index,
                 std::uint8_t* buffer, std::uint32_t length, std::uint32_t* moved = nullptr,
                 bool shortOk = false);
    // One request with the generic packing of address and length (the length at most 0xFFFF).
    HRESULT Generic(const VendorRequestEntry& entry, std::uint32_t addr, std::uint32_t length,
                    std::uint8_t* buffer, std::uint8_t extra);
    // A block command in pieces of at most 4096 bytes. `packing` forms one piece's request.
    template <typename Piece>
    HRESULT Pieces(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                   VcProgress progress, void* context, Piece piece);
    HRESULT GenericPieces(const VendorRequestEntry& entry, std::uint32_t addr, std::uint32_t length,
                          std::uint8_t* buffer, VcProgress progress, void* context,
                          std::uint8_t extra = 0);
    HRESULT FillErased(const VendorRequestEntry& entry, std::uint32_t size, std::uint8_t extra);

    const DeviceRecord& m_record;
    VendorRequestEntry m_eraseChip{0x40, 0x32, 5000};
};
