#pragma once
// The extension-unit transport: every vendor command travels as USB Audio Class requests to the
// maker's extension unit of the AudioControl interface. An 8-byte command block goes to the
// command control (10); the data moves through the data control (11) in pieces of the data
// control size.
//
// CExtUnitBase holds the command logic on top of the primitives; CExtUnit supplies the primitives
// (the USB transfers). Extension-unit commands of all devices and all processes are serialised by
// the named, recursive command lock "ICOperateSync_2014_3_28".
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceRecord.h"
#include "device/VendorCmdCommon.h"
#include "platform/NamedMutex.h"

inline constexpr const char* kCommandLockName = "ICOperateSync_2014_3_28";
inline constexpr std::size_t kExtUnitDataBufferSize = 1024;
inline constexpr std::uint16_t kInitialDataControlSize = 8;

// The 8-byte command block; multi-byte fields are sent little-endian.
struct ExtUnitCmd {
    std::uint8_t group = 0;
    std::uint8_t opcode = 0;
    std::uint16_t p1 = 0;
    std::uint16_t p2 = 0;
    std::uint16_t p3 = 0;

    std::array<std::uint8_t, 8> Bytes() const;
};

// The block that clears the device's status code.
inline constexpr ExtUnitCmd kStatusClearCmd{0xFF, 0x00, 0, 0, 0};
// The qualify command: 8 bytes of signature come back on the data control.
inline constexpr ExtUnitCmd kQualifyCmd{0x00, 0xD0, 0, 8, 0};
// The signature of the maker's chips.
inline constexpr std::array<std::uint8_t, 8> kDeviceSignature{'Q', 'U', 'O', 'R', 'V', 'E', 'X', 0};

// Name of a device status code ("VCMD_STS_..."), or null for an undefined code.
const char* ExtUnitStatusName(std::uint8_t code);
// The diagnostic text of a failed command: label + "Device not connected" when the device is
// gone; label + " error %x, %s" with the status name after a status read-back; label +
// " error %x, and fail to get err_code %x" when the read-back itself failed.
std::string FormatExtUnitError(const std::string& label, HRESULT result, bool readBackOk,
                               std::uint8_t statusCode, HRESULT readBackResult);

class CExtUnitBase : public CVendorCmdCommon {
public:
    virtual ~CExtUnitBase();

    // Slots 0-63.
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
    HRESULT SPI_SF_EraseChip(std::uint32_t timeoutMs) override;
    HRESULT SPI_SF_EraseSector(std::uint32_t addr, std::uint32_t sectorSize) override;
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
    HRESULT VendorCmd70_Get(std::uint8_t selector, std::uint8_t* buffer,
                            std::uint8_t& length) override;

    // Slot 65: the error hook after a failed primitive. Reads the device's status code back
    // (unless the device is gone), sends the diagnostic text to the debug-output channel and
    // clears the device's status.
    virtual void ReportError(const std::string& label, HRESULT result);
    // Slot 66: true when the device answers the qualify command with the signature.
    virtual bool DevQualify();
    // Slots 67, 68: carried by no chip.
    virtual HRESULT Unimplemented67(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t) {
        return E_NOTIMPL;
    }
    virtual HRESULT Unimplemented68(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                    std::uint32_t) {
        return E_NOTIMPL;
    }
    // Slot 69: asks the device for another data control size. 1 when the device now uses exactly
    // `size`; otherwise 0 with `size` set to the size in effect.
    virtual int ChangeDataControlSize(std::uint16_t& size) = 0;
    // Slots 70, 71.
    virtual HRESULT OTPTestDec(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer);
    virtual HRESULT OTPWriteST(std::uint32_t addr, std::uint16_t budget, std::uint32_t length,
                               const std::uint8_t* data);

    // Slots 72-82: the primitives.
    virtual HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2,
                           std::uint16_t p3) = 0;
    virtual HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2) = 0;
    virtual HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1) = 0;
    virtual HRESULT SetCmd(const ExtUnitCmd& tmpl) = 0;
    virtual HRESULT GetCmd(std::uint8_t (&block)[8]) = 0;
    virtual HRESULT ReadDataBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done,
                                  VcProgress progress, void* context) = 0;
    virtual HRESULT ReadDataBlock(std::uint8_t* buffer, std::uint32_t length,
                                  std::uint32_t& done) = 0;
    // Receives one data-control piece (data control size bytes) into `buffer`.
    virtual HRESULT GetData(std::uint8_t* buffer) = 0;
    virtual HRESULT WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& done, VcProgress progress, void* context) = 0;
    virtual HRESULT WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length,
                                   std::uint32_t& done) = 0;
    // Sends one data-control piece (data control size bytes) from `buffer`.
    virtual HRESULT SetData(const std::uint8_t* buffer) = 0;

    std::uint16_t DataControlSize() const { return m_dataControlSize; }

protected:
    CExtUnitBase();

    // One hold of the command lock for the lifetime of the object. Owned() is false when the
    // wait timed out or failed, and also when the previous owner died holding it (the hold is
    // then kept and released at the end, but the command fails).
    class LockHold {
    public:
        explicit LockHold(uafw::NamedMutex& lock);
        ~LockHold();
        LockHold(const LockHold&) = delete;
        LockHold& operator=(const LockHold&) = delete;
        bool Owned() const { return m_usable; }

    private:
        uafw::NamedMutex& m_lock;
        bool m_held = false;
        bool m_usable = false;
    };

    enum class Phase { kNone, kOneIn, kOneOut, kBlockIn, kBlockOut };
    // One command transaction: lock, command block, data phase, unlock. `addr` is reported in the
    // label of a failing data piece.
    HRESULT Transact(const char* name, const ExtUnitCmd& cmd, Phase phase, std::uint8_t* data,
                     std::uint32_t length, std::uint32_t addr, VcProgress progress, void* context);
    // The read and write families: 0x8000-byte transactions while more than 0xFFFF bytes remain.
    HRESULT SplitRead(const char* name, const ExtUnitCmd& cmd, bool highWordInP3,
                      std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                      VcProgress progress, void* context);
    HRESULT SplitWrite(const char* name, const ExtUnitCmd& cmd, bool highWordInP3,
                       std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                       VcProgress progress, void* context);
    HRESULT Phy(bool write, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer);
    HRESULT PhyPiece(bool write, std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer);
    HRESULT Fill(const char* name, const ExtUnitCmd& cmd, std::uint32_t size);
    HRESULT LongWritePiece(std::uint16_t p3, std::uint16_t offset, std::uint32_t length,
                           const std::uint8_t* buffer);

    std::array<std::uint8_t, kExtUnitDataBufferSize> m_dataBuffer{};
    std::uint16_t m_dataControlSize = kInitialDataControlSize;
    uafw::NamedMutex m_commandLock;
};

class CExtUnit final : public CExtUnitBase {
public:
    // The transport of the device in `record`, whose extension unit has the entity ID `unitId`.
    // The record must outlive the transport.
    CExtUnit(const DeviceRecord& record, std::uint8_t unitId);
    ~CExtUnit() override;

    int ChangeDataControlSize(std::uint16_t& size) override;

    HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2,
                   std::uint16_t p3) override;
    HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2) override;
    HRESULT SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1) override;
    HRESULT SetCmd(const ExtUnitCmd& tmpl) override;
    HRESULT GetCmd(std::uint8_t (&block)[8]) override;
    HRESULT ReadDataBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done,
                          VcProgress progress, void* context) override;
    HRESULT ReadDataBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done) override;
    HRESULT GetData(std::uint8_t* buffer) override;
    HRESULT WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done,
                           VcProgress progress, void* context) override;
    HRESULT WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length,
                           std::uint32_t& done) override;
    HRESULT SetData(const std::uint8_t* buffer) override;

    std::uint8_t UnitId() const { return m_unitId; }

private:
    // One class request to the unit: SET_CUR/GET_CUR/GET_LEN on a control of the unit.
    HRESULT Request(std::uint8_t requestType, std::uint8_t request, std::uint8_t control,
                    std::uint8_t* buffer, std::uint16_t length);
    HRESULT SendCmd(const ExtUnitCmd& cmd);

    std::uint8_t m_unitId;
    const DeviceRecord& m_record;
};
