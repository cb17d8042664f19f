#include "device/ExtUnit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/DeviceLocks.h"
#include "device/DriverChannel.h"
#include "platform/DebugOutput.h"

namespace {
// Command templates: group, opcode and the presets of the catalogue.
constexpr ExtUnitCmd kGetDevStatusCmd{0x00, 0xCD, 0, 8, 0};
constexpr ExtUnitCmd kResetToUpdateCmd{0x00, 0x07, 0, 0, 0};
constexpr ExtUnitCmd kResetAlternateCmd{0x00, 0x08, 0, 0, 0};
constexpr ExtUnitCmd kResetToRomCmd{0x00, 0x09, 0, 0, 0};
constexpr ExtUnitCmd kReadIMemCmd{0x00, 0xC1, 0, 0, 0};
constexpr ExtUnitCmd kReadMemCmd{0x00, 0xC2, 0, 0, 0};
constexpr ExtUnitCmd kWriteMemCmd{0x00, 0x82, 0, 0, 0};
constexpr ExtUnitCmd kReadCodeCmd{0x00, 0xC3, 0, 0, 0};
constexpr ExtUnitCmd kReadPhyCmd{0x00, 0xCC, 0, 1, 0};
constexpr ExtUnitCmd kWritePhyCmd{0x00, 0x8C, 0, 1, 0};
constexpr ExtUnitCmd kEraseFlashCmd{0x00, 0x04, 0, 0, 0};
constexpr ExtUnitCmd kNorReadCmd{0x00, 0xC5, 0, 0, 0};
constexpr ExtUnitCmd kWriteFlashCmd{0x00, 0x85, 0, 0, 0};
constexpr ExtUnitCmd kNorWriteTagCmd{0x00, 0x06, 0, 0, 0};
constexpr ExtUnitCmd kSpiReadIdCmd{0x02, 0xC1, 0, 8, 0};
constexpr ExtUnitCmd kSpiReadCmd{0x02, 0xC2, 0, 0, 0};
constexpr ExtUnitCmd kSpiWriteCmd{0x02, 0x82, 0, 0, 0};
constexpr ExtUnitCmd kSpiReadSrCmd{0x02, 0xC3, 0, 1, 0};
constexpr ExtUnitCmd kSpiWriteSrCmd{0x02, 0x83, 0, 1, 0};
constexpr ExtUnitCmd kSpiEraseChipCmd{0x02, 0x04, 0, 0, 0};
constexpr ExtUnitCmd kSpiEraseSectorCmd{0x02, 0x05, 0, 0, 0};
constexpr ExtUnitCmd kSpiWriteTagCmd{0x02, 0x13, 0, 0, 0};
constexpr ExtUnitCmd kEep8ReadCmd{0x02, 0xCB, 0, 0, 0};
constexpr ExtUnitCmd kEep8WriteCmd{0x02, 0x8B, 0, 0, 0};
constexpr ExtUnitCmd kEep16ReadCmd{0x02, 0xD1, 0, 0, 0};
constexpr ExtUnitCmd kEep16WriteCmd{0x02, 0x91, 0, 0, 0};
constexpr ExtUnitCmd kI2CSlaveReadCmd{0x00, 0xEA, 0, 0, 0};
constexpr ExtUnitCmd kI2CRegReadCmd{0x00, 0xCA, 0, 2, 0};
constexpr ExtUnitCmd kI2CSlaveWriteCmd{0x00, 0xAA, 0, 0, 0};
constexpr ExtUnitCmd kI2CRegWriteCmd{0x00, 0x8A, 0, 2, 0};
constexpr ExtUnitCmd kI2CRandomReadCmd{0x00, 0xF1, 0, 0, 0};
constexpr ExtUnitCmd kI2CRandomWriteCmd{0x00, 0xB1, 0, 0, 0};
constexpr ExtUnitCmd kI2CSuperReadCmd{0x00, 0xF2, 0, 0, 0};
constexpr ExtUnitCmd kI2CSuperWriteCmd{0x00, 0xB2, 0, 0, 0};
constexpr ExtUnitCmd kI2CLongReadCmd{0x00, 0xF0, 0, 0, 0};
constexpr ExtUnitCmd kI2CLongWriteCmd{0x00, 0xB0, 0, 0, 0};
constexpr ExtUnitCmd kOtpWriteCmd{0x02, 0x97, 0, 0, 0};
constexpr ExtUnitCmd kOtpReadCmd{0x02, 0xD7, 0, 0, 0};
constexpr ExtUnitCmd kOtpBlankCheckCmd{0x02, 0xD8, 0, 0, 0};
constexpr ExtUnitCmd kOtpAllBlankCheckCmd{0x02, 0xDF, 0, 8, 0};
constexpr ExtUnitCmd kOtpFailAddrCmd{0x02, 0xDC, 0, 0x13, 0};
constexpr ExtUnitCmd kOtpTestDecCmd{0x02, 0xD9, 0, 0, 0};
constexpr ExtUnitCmd kOtpWriteStCmd{0x02, 0x9A, 0, 0, 0};
constexpr ExtUnitCmd kChangeSizeCmd{0x00, 0x16, 0, 0, 0};

constexpr std::uint32_t kSplitPiece = 0x8000;
constexpr std::uint32_t kMaxTransaction = 0xFFFF;
constexpr std::uint32_t kLongPiece = 64;

// Extension-unit class requests.
constexpr std::uint8_t kTypeOut = 0x21;
constexpr std::uint8_t kTypeIn = 0xA1;
constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kGetLen = 0x85;
constexpr std::uint8_t kCommandControl = 10;
constexpr std::uint8_t kDataControl = 11;

std::uint16_t Lo(std::uint32_t v) {
    return static_cast<std::uint16_t>(v & 0xFFFF);
}
std::uint16_t Hi(std::uint32_t v) {
    return static_cast<std::uint16_t>(v >> 16);
}

ExtUnitCmd With(ExtUnitCmd cmd, std::uint16_t p1, std::uint16_t p2, std::uint16_t p3) {
    cmd.p1 = p1;
    cmd.p2 = p2;
    cmd.p3 = p3;
    return cmd;
}

std::string Label(const char* name, const char* step) {
    return std::string(name) + " " + step;
}

std::string LabelAt(const char* name, const char* step, std::uint32_t addr) {
    char text[32];
    std::snprintf(text, sizeof text, " 0x%X", addr);
    return Label(name, step) + text;
}
}  // namespace

std::array<std::uint8_t, 8> ExtUnitCmd::Bytes() const {
    return {group,
            opcode,
            static_cast<std::uint8_t>(p1),
            static_cast<std::uint8_t>(p1 >> 8),
            static_cast<std::uint8_t>(p2),
            static_cast<std::uint8_t>(p2 >> 8),
            static_cast<std::uint8_t>(p3),
            static_cast<std::uint8_t>(p3 >> 8)};
}

const char* ExtUnitStatusName(std::uint8_t code) {
    switch (code) {
        case 0:
            return "VCMD_STS_CMD";
        case 1:
            return "VCMD_STS_DATA_IN";
        case 2:
            return "VCMD_STS_DATA_OUT";
        case 3:
            return "VCMD_STS_ERR_DIR";
        case 4:
            return "VCMD_STS_NOT_FINISH";
        case 5:
            return "VCMD_STS_ERR_LEN";
        case 6:
            return "VCMD_STS_UNKNOWN_SCMD";
        case 7:
            return "VCMD_STS_ERR_OUTRANGE";
        case 8:
            return "VCMD_STS_UNKNOWN_CMD";
        case 9:
            return "VCMD_STS_HW_ERR";
        case 0xFE:
            return "VCMD_STS_RET_NO_ERR";
        default:
            return nullptr;
    }
}

std::string FormatExtUnitError(const std::string& label, HRESULT result, bool readBackOk,
                               std::uint8_t statusCode, HRESULT readBackResult) {
    if (result == kHrDeviceNotConnected)
        return label + "Device not connected";
    char text[96];
    if (readBackOk) {
        const char* name = ExtUnitStatusName(statusCode);
        std::snprintf(text, sizeof text, " error %x, %s", result,
                      name ? name : "Undefined ExtUnit error code\n");
    } else {
        std::snprintf(text, sizeof text, " error %x, and fail to get err_code %x", result,
                      readBackResult);
    }
    return label + text;
}

// ---- CExtUnitBase -------------------------------------------------------------------------

CExtUnitBase::CExtUnitBase() : m_commandLock(DeviceLockName(kCommandLockName)) {}

CExtUnitBase::~CExtUnitBase() = default;

CExtUnitBase::LockHold::LockHold(uafw::NamedMutex& lock) : m_lock(lock) {
    switch (m_lock.Wait(kDeviceLockWaitMs)) {
        case uafw::MutexWait::kAcquired:
            m_held = true;
            m_usable = true;
            break;
        case uafw::MutexWait::kAbandoned:
            m_held = true;
            break;
        default:
            break;
    }
}

CExtUnitBase::LockHold::~LockHold() {
    if (m_held)
        m_lock.Release();
}

HRESULT CExtUnitBase::Transact(const char* name, const ExtUnitCmd& cmd, Phase phase,
                               std::uint8_t* data, std::uint32_t length, std::uint32_t addr,
                               VcProgress progress, void* context) {
    const std::uint32_t size = m_dataControlSize;
    // Refuse what the data phase could not carry before anything is sent.
    if ((phase == Phase::kOneIn || phase == Phase::kOneOut) && length > size)
        return E_INVALIDARG;
    if ((phase == Phase::kBlockIn || phase == Phase::kBlockOut) && length > kMaxTransaction)
        return E_INVALIDARG;
    if (phase != Phase::kNone && length > 0 && data == nullptr)
        return E_INVALIDARG;

    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    HRESULT r = SetCmd(cmd, cmd.p1, cmd.p2, cmd.p3);
    if (r != S_OK) {
        ReportError(Label(name, "SetCmd"), r);
        return r;
    }
    std::uint32_t done = 0;
    switch (phase) {
        case Phase::kNone:
            return S_OK;
        case Phase::kOneIn:
            std::memset(m_dataBuffer.data(), 0, size);
            r = GetData(m_dataBuffer.data());
            if (r != S_OK) {
                ReportError(LabelAt(name, "GetData", addr), r);
                return r;
            }
            if (length > 0)
                std::memcpy(data, m_dataBuffer.data(), length);
            return S_OK;
        case Phase::kOneOut:
            std::memset(m_dataBuffer.data(), 0, size);
            if (length > 0)
                std::memcpy(m_dataBuffer.data(), data, length);
            r = SetData(m_dataBuffer.data());
            if (r != S_OK)
                ReportError(LabelAt(name, "SetData", addr), r);
            return r;
        case Phase::kBlockIn:
            r = ReadDataBlock(data, length, done, progress, context);
            if (r != S_OK)
                ReportError(LabelAt(name, "GetData", addr + done), r);
            return r;
        case Phase::kBlockOut:
            r = WriteDataBlock(data, length, done, progress, context);
            if (r != S_OK)
                ReportError(LabelAt(name, "SetData", addr + done), r);
            return r;
    }
    return E_FAIL;
}

HRESULT CExtUnitBase::SplitRead(const char* name, const ExtUnitCmd& cmd, bool highWordInP3,
                                std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                VcProgress progress, void* context) {
    if (length == 0)
        return S_OK;
    if (buffer == nullptr)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    while (length > kMaxTransaction) {
        const HRESULT r =
            SplitRead(name, cmd, highWordInP3, addr, kSplitPiece, buffer, progress, context);
        if (r != S_OK)
            return r;
        addr += kSplitPiece;
        buffer += kSplitPiece;
        length -= kSplitPiece;
    }
    const ExtUnitCmd piece =
        With(cmd, Lo(addr), static_cast<std::uint16_t>(length), highWordInP3 ? Hi(addr) : cmd.p3);
    return Transact(name, piece, Phase::kBlockIn, buffer, length, addr, progress, context);
}

HRESULT CExtUnitBase::SplitWrite(const char* name, const ExtUnitCmd& cmd, bool highWordInP3,
                                 std::uint32_t addr, std::uint32_t length,
                                 const std::uint8_t* buffer, VcProgress progress, void* context) {
    if (length == 0)
        return S_OK;
    if (buffer == nullptr)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    while (length > kMaxTransaction) {
        const HRESULT r =
            SplitWrite(name, cmd, highWordInP3, addr, kSplitPiece, buffer, progress, context);
        if (r != S_OK)
            return r;
        addr += kSplitPiece;
        buffer += kSplitPiece;
        length -= kSplitPiece;
    }
    const ExtUnitCmd piece =
        With(cmd, Lo(addr), static_cast<std::uint16_t>(length), highWordInP3 ? Hi(addr) : cmd.p3);
    // The block-out phase only reads the caller's bytes.
    return Transact(name, piece, Phase::kBlockOut, const_cast<std::uint8_t*>(buffer), length, addr,
                    progress, context);
}

HRESULT CExtUnitBase::GetDevStatus(std::uint32_t firstBlock, std::uint8_t* buffer,
                                   std::uint32_t length) {
    if (length == 0)
        return S_OK;
    if (buffer == nullptr || m_dataControlSize < 8)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    for (std::uint32_t offset = 0; offset < length; offset += 8) {
        const auto block = static_cast<std::uint16_t>(firstBlock + offset / 8);
        const std::uint32_t take = std::min<std::uint32_t>(8, length - offset);
        const HRESULT r = Transact("GetDevStatus", With(kGetDevStatusCmd, block, 8, 0),
                                   Phase::kOneIn, buffer + offset, take, block, nullptr, nullptr);
        if (r != S_OK)
            return r;
    }
    return S_OK;
}

HRESULT CExtUnitBase::ResetToUpdateFW(std::uint16_t value) {
    return Transact("ResetToUpdateFW", With(kResetToUpdateCmd, value, 0, 0), Phase::kNone, nullptr,
                    0, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::ResetAlternate(std::uint16_t value) {
    return Transact("ResetAlternate", With(kResetAlternateCmd, value, 0, 0), Phase::kNone, nullptr,
                    0, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::ResetToRom() {
    return Transact("ResetToRom", kResetToRomCmd, Phase::kNone, nullptr, 0, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::ReadIMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                               VcProgress progress, void* context) {
    return SplitRead("ReadIMem", kReadIMemCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::ReadMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                              VcProgress progress, void* context) {
    return SplitRead("ReadMem", kReadMemCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::WriteMem(std::uint32_t addr, std::uint32_t length, const std::uint8_t* buffer,
                               VcProgress progress, void* context) {
    return SplitWrite("WriteMem", kWriteMemCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::ReadCode(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                               VcProgress progress, void* context) {
    return SplitRead("ReadCode", kReadCodeCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::PhyPiece(bool write, std::uint32_t addr, std::uint32_t length,
                               std::uint8_t* buffer) {
    const char* name = write ? "WritePhy" : "ReadPhy";
    const ExtUnitCmd& cmd = write ? kWritePhyCmd : kReadPhyCmd;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    std::memset(m_dataBuffer.data(), 0, m_dataControlSize);
    for (std::uint32_t i = 0; i < length; ++i) {
        HRESULT r = SetCmd(cmd, Lo(addr + i));
        if (r != S_OK) {
            ReportError(Label(name, "SetCmd"), r);
            return r;
        }
        if (write) {
            m_dataBuffer[0] = buffer[i];
            r = SetData(m_dataBuffer.data());
        } else {
            r = GetData(m_dataBuffer.data());
        }
        if (r != S_OK) {
            ReportError(LabelAt(name, write ? "SetData" : "GetData", addr + i), r);
            return r;
        }
        if (!write)
            buffer[i] = m_dataBuffer[0];
    }
    return S_OK;
}

HRESULT CExtUnitBase::Phy(bool write, std::uint32_t addr, std::uint32_t length,
                          std::uint8_t* buffer) {
    if (length == 0)
        return S_OK;
    if (buffer == nullptr || m_dataControlSize == 0)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    while (length > kMaxTransaction) {
        const HRESULT r = PhyPiece(write, addr, kSplitPiece, buffer);
        if (r != S_OK)
            return r;
        addr += kSplitPiece;
        buffer += kSplitPiece;
        length -= kSplitPiece;
    }
    return PhyPiece(write, addr, length, buffer);
}

HRESULT CExtUnitBase::ReadPhy(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) {
    return Phy(false, addr, length, buffer);
}

HRESULT CExtUnitBase::WritePhy(std::uint32_t addr, std::uint32_t length,
                               const std::uint8_t* buffer) {
    // The write direction only reads the caller's bytes.
    return Phy(true, addr, length, const_cast<std::uint8_t*>(buffer));
}

HRESULT CExtUnitBase::EraseFlash() {
    return Transact("EraseFlash", kEraseFlashCmd, Phase::kNone, nullptr, 0, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::NorFlash_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                    VcProgress progress, void* context) {
    return SplitRead("NorFlash_Read", kNorReadCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::WriteFlash(std::uint32_t addr, std::uint32_t length,
                                 const std::uint8_t* buffer, VcProgress progress, void* context) {
    return SplitWrite("WriteFlash", kWriteFlashCmd, false, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::NorFlash_WriteTag() {
    return Transact("NorFlash_WriteTag", kNorWriteTagCmd, Phase::kNone, nullptr, 0, 0, nullptr,
                    nullptr);
}

HRESULT CExtUnitBase::SPI_SF_ReadID(std::uint8_t (&id)[8]) {
    return Transact("SPI_SF_ReadID", kSpiReadIdCmd, Phase::kOneIn, id, 8, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::SPI_SF_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                  std::uint8_t /*readMode*/, VcProgress progress, void* context) {
    return SplitRead("SPI_SF_Read", kSpiReadCmd, true, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::SPI_SF_Write(std::uint32_t addr, std::uint32_t length,
                                   const std::uint8_t* buffer, VcProgress progress, void* context) {
    return SplitWrite("SPI_SF_Write", kSpiWriteCmd, true, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::SPI_SF_ReadSr(std::uint8_t& value) {
    return Transact("SPI_SF_ReadSr", kSpiReadSrCmd, Phase::kOneIn, &value, 1, 0, nullptr, nullptr);
}

HRESULT CExtUnitBase::SPI_SF_WriteSr(std::uint8_t value) {
    return Transact("SPI_SF_WriteSr", kSpiWriteSrCmd, Phase::kOneOut, &value, 1, 0, nullptr,
                    nullptr);
}

HRESULT CExtUnitBase::SPI_SF_EraseChip(std::uint32_t /*timeoutMs*/) {
    return Transact("SPI_SF_EraseChip", kSpiEraseChipCmd, Phase::kNone, nullptr, 0, 0, nullptr,
                    nullptr);
}

HRESULT CExtUnitBase::SPI_SF_EraseSector(std::uint32_t addr, std::uint32_t sectorSize) {
    if (sectorSize == 0 || addr % sectorSize != 0)
        return E_INVALIDARG;
    return Transact("SPI_SF_EraseSector", With(kSpiEraseSectorCmd, Lo(addr), 0, Hi(addr)),
                    Phase::kNone, nullptr, 0, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::SPI_SF_EraseBlock(std::uint32_t, std::uint32_t, std::uint32_t) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::SPI_SF_WriteTag() {
    return Transact("SPI_SF_WriteTag", kSpiWriteTagCmd, Phase::kNone, nullptr, 0, 0, nullptr,
                    nullptr);
}

HRESULT CExtUnitBase::Fill(const char* name, const ExtUnitCmd& cmd, std::uint32_t size) {
    if (size == 0)
        return S_OK;
    // Every piece is 0xFF bytes, so one source of the largest piece serves the whole fill.
    static const std::vector<std::uint8_t> kErased(kMaxTransaction, 0xFF);
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    std::uint32_t offset = 0;
    std::uint32_t remaining = size;
    while (remaining > 0) {
        const std::uint32_t piece = remaining > kMaxTransaction ? kSplitPiece : remaining;
        HRESULT r = SetCmd(cmd, Lo(offset), static_cast<std::uint16_t>(piece), 0);
        if (r != S_OK) {
            ReportError(Label(name, "SetCmd"), r);
            return r;
        }
        std::uint32_t done = 0;
        r = WriteDataBlock(kErased.data(), piece, done, nullptr, nullptr);
        if (r != S_OK) {
            ReportError(LabelAt(name, "SetData", offset + done), r);
            return r;
        }
        offset += piece;
        remaining -= piece;
    }
    return S_OK;
}

HRESULT CExtUnitBase::I2C_EEP8_Erase(std::uint32_t size) {
    return Fill("I2C_EEP8_Erase", kEep8WriteCmd, size);
}

HRESULT CExtUnitBase::I2C_EEP8_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                    VcProgress progress, void* context) {
    return SplitRead("I2C_EEP8_Read", kEep8ReadCmd, true, addr, length, buffer, progress, context);
}

HRESULT CExtUnitBase::I2C_EEP8_Write(std::uint32_t addr, std::uint32_t length,
                                     const std::uint8_t* buffer, VcProgress progress,
                                     void* context) {
    return SplitWrite("I2C_EEP8_Write", kEep8WriteCmd, true, addr, length, buffer, progress,
                      context);
}

HRESULT CExtUnitBase::I2C_EEP8_WriteTag() {
    const std::uint8_t tag = 0xA5;
    return I2C_EEP8_Write(1, 1, &tag, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2C_EEP16_Erase(std::uint32_t size) {
    return Fill("I2C_EEP16_Erase", kEep16WriteCmd, size);
}

HRESULT CExtUnitBase::I2C_EEP16_Read(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                     VcProgress progress, void* context) {
    return SplitRead("I2C_EEP16_Read", kEep16ReadCmd, true, addr, length, buffer, progress,
                     context);
}

HRESULT CExtUnitBase::I2C_EEP16_Write(std::uint32_t addr, std::uint32_t length,
                                      const std::uint8_t* buffer, VcProgress progress,
                                      void* context) {
    return SplitWrite("I2C_EEP16_Write", kEep16WriteCmd, true, addr, length, buffer, progress,
                      context);
}

HRESULT CExtUnitBase::I2C_EEP16_WriteTag() {
    const std::uint8_t tag = 0xA5;
    return I2C_EEP16_Write(1, 1, &tag, nullptr, nullptr);
}

HRESULT CExtUnitBase::ExtMem_Erase(std::uint32_t) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::ExtMem_Read(std::uint32_t, std::uint32_t, std::uint8_t*, std::uint8_t,
                                  VcProgress, void*) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::ExtMem_Write(std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint8_t,
                                   VcProgress, void*) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::ExtMem_WriteTag() {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::I2CRead(std::uint32_t slaveAddr, std::uint32_t length, std::uint8_t* out) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact("I2CRead", With(kI2CSlaveReadCmd, slave, static_cast<std::uint16_t>(length), 0),
                    Phase::kOneIn, out, length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CRead(std::uint32_t width, std::uint32_t regAddr, std::uint16_t& out) {
    if (width != 1 && width != 2)
        return E_INVALIDARG;
    std::uint8_t bytes[2] = {0, 0};
    const HRESULT r = Transact("I2CRead", With(kI2CRegReadCmd, Lo(regAddr), 2, Hi(regAddr)),
                               Phase::kBlockIn, bytes, 2, regAddr, nullptr, nullptr);
    if (r == S_OK)
        out = width == 1 ? bytes[0] : static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    return r;
}

HRESULT CExtUnitBase::I2CWrite(std::uint32_t slaveAddr, std::uint32_t length,
                               const std::uint8_t* data) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact(
        "I2CWrite", With(kI2CSlaveWriteCmd, slave, static_cast<std::uint16_t>(length), 0),
        Phase::kOneOut, const_cast<std::uint8_t*>(data), length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CWrite(std::uint32_t width, std::uint32_t regAddr, std::uint16_t value) {
    if (width != 1 && width != 2)
        return E_INVALIDARG;
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                             width == 1 ? std::uint8_t{0} : static_cast<std::uint8_t>(value >> 8)};
    return Transact("I2CWrite", With(kI2CRegWriteCmd, Lo(regAddr), 2, Hi(regAddr)),
                    Phase::kBlockOut, bytes, 2, regAddr, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CGenRead(std::uint32_t slaveAddr, std::uint32_t length,
                                 std::uint8_t* buffer) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact("I2CGenRead",
                    With(kI2CSlaveReadCmd, slave, static_cast<std::uint16_t>(length), 0),
                    Phase::kBlockIn, buffer, length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CGenWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                  const std::uint8_t* data) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact(
        "I2CGenWrite", With(kI2CSlaveWriteCmd, slave, static_cast<std::uint16_t>(length), 0),
        Phase::kBlockOut, const_cast<std::uint8_t*>(data), length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CRandomRead(std::uint32_t slaveAddr, std::uint32_t length,
                                    std::uint8_t* out) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact("I2CRandomRead",
                    With(kI2CRandomReadCmd, slave, static_cast<std::uint16_t>(length), 0),
                    Phase::kOneIn, out, length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CRandomWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                     const std::uint8_t* data) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact(
        "I2CRandomWrite", With(kI2CRandomWriteCmd, slave, static_cast<std::uint16_t>(length), 0),
        Phase::kOneOut, const_cast<std::uint8_t*>(data), length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CSuperRead(std::uint32_t slaveAddr, std::uint32_t length,
                                   std::uint8_t* buffer) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact("I2CSuperRead",
                    With(kI2CSuperReadCmd, slave, static_cast<std::uint16_t>(length), 0),
                    Phase::kBlockIn, buffer, length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CSuperWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                    const std::uint8_t* data) {
    const auto slave = static_cast<std::uint16_t>(slaveAddr & 0xFF);
    return Transact(
        "I2CSuperWrite", With(kI2CSuperWriteCmd, slave, static_cast<std::uint16_t>(length), 0),
        Phase::kBlockOut, const_cast<std::uint8_t*>(data), length, slave, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CLongRead(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                                  std::uint8_t* buffer) {
    if (length > 0 && buffer == nullptr)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    while (length > kLongPiece) {
        const HRESULT r = I2CLongRead(p3, offset, kLongPiece, buffer);
        if (r != S_OK)
            return r;
        buffer += kLongPiece;
        offset += kLongPiece;
        length -= kLongPiece;
    }
    if (length == 0)
        return S_OK;
    std::uint8_t scratch[kLongPiece] = {};
    const HRESULT r = Transact(
        "I2CLongRead", With(kI2CLongReadCmd, Lo(offset), static_cast<std::uint16_t>(length), p3),
        Phase::kBlockIn, scratch, length, offset, nullptr, nullptr);
    if (r == S_OK)
        std::memcpy(buffer, scratch, length);
    return r;
}

HRESULT CExtUnitBase::LongWritePiece(std::uint16_t p3, std::uint16_t offset, std::uint32_t length,
                                     const std::uint8_t* buffer) {
    std::uint8_t scratch[kLongPiece] = {};
    std::memcpy(scratch, buffer, length);
    return Transact("I2CLongWrite",
                    With(kI2CLongWriteCmd, offset, static_cast<std::uint16_t>(length), p3),
                    Phase::kBlockOut, scratch, length, offset, nullptr, nullptr);
}

HRESULT CExtUnitBase::I2CLongWrite(std::uint16_t p3, std::uint32_t offset, std::uint32_t length,
                                   const std::uint8_t* buffer) {
    if (length > 0 && buffer == nullptr)
        return E_INVALIDARG;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return kHrLockFailed;
    bool stepped = false;
    while (length > kLongPiece) {
        // The full 64-byte pieces keep the offset as given.
        const HRESULT r = LongWritePiece(p3, Lo(offset), kLongPiece, buffer);
        if (r != S_OK)
            return r;
        buffer += kLongPiece;
        offset += kLongPiece;
        length -= kLongPiece;
        stepped = true;
    }
    if (length == 0)
        return S_OK;
    // The last piece of a stepped or short write goes with bit 15 of the offset clear.
    const std::uint16_t last =
        (stepped || length < kLongPiece) ? static_cast<std::uint16_t>(offset & 0x7FFF) : Lo(offset);
    return LongWritePiece(p3, last, length, buffer);
}

HRESULT CExtUnitBase::OTPWrite(std::uint32_t addr, std::uint32_t length, std::uint16_t budget,
                               const std::uint8_t* data) {
    return Transact(
        "OTPWrite", With(kOtpWriteCmd, Lo(addr), static_cast<std::uint16_t>(length), budget),
        Phase::kBlockOut, const_cast<std::uint8_t*>(data), length, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::OTPRead(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) {
    return Transact("OTPRead", With(kOtpReadCmd, Lo(addr), static_cast<std::uint16_t>(length), 0),
                    Phase::kBlockIn, buffer, length, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::OTPBlankCheck(std::uint32_t addr, std::uint32_t length,
                                    std::uint8_t* buffer) {
    return Transact("OTPBlankCheck",
                    With(kOtpBlankCheckCmd, Lo(addr), static_cast<std::uint16_t>(length), 0),
                    Phase::kBlockIn, buffer, length, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::OTPAllBlankCheck(std::uint32_t addr, std::uint32_t length,
                                       std::uint8_t* buffer) {
    return Transact("OTPAllBlankCheck",
                    With(kOtpAllBlankCheckCmd, Lo(addr), 8, static_cast<std::uint16_t>(length)),
                    Phase::kBlockIn, buffer, length, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::OTPPrgmFailAddr(std::uint32_t length, std::uint8_t* buffer) {
    return Transact("OTPPrgmFailAddr", kOtpFailAddrCmd, Phase::kBlockIn, buffer, length, 0, nullptr,
                    nullptr);
}

HRESULT CExtUnitBase::VendorCmd70_Set(std::uint32_t) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::VendorCmd70_Get(std::uint8_t, std::uint8_t*, std::uint8_t&) {
    return E_NOTIMPL;
}

HRESULT CExtUnitBase::OTPTestDec(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) {
    return Transact("OTPTestDec",
                    With(kOtpTestDecCmd, Lo(addr), static_cast<std::uint16_t>(length), 0),
                    Phase::kBlockIn, buffer, length, addr, nullptr, nullptr);
}

HRESULT CExtUnitBase::OTPWriteST(std::uint32_t addr, std::uint16_t budget, std::uint32_t length,
                                 const std::uint8_t* data) {
    return Transact(
        "OTPWriteST", With(kOtpWriteStCmd, Lo(addr), static_cast<std::uint16_t>(length), budget),
        Phase::kBlockOut, const_cast<std::uint8_t*>(data), length, addr, nullptr, nullptr);
}

void CExtUnitBase::ReportError(const std::string& label, HRESULT result) {
    std::string text;
    if (result == kHrDeviceNotConnected) {
        // The device is gone: nothing more is sent to it.
        text = FormatExtUnitError(label, result, false, 0, S_OK);
    } else {
        std::uint8_t status[8] = {};
        const HRESULT readBack = GetCmd(status);
        text = FormatExtUnitError(label, result, readBack == S_OK, status[0], readBack);
        SetCmd(kStatusClearCmd);
    }
    uafw::OutputDebugString(text);
}

bool CExtUnitBase::DevQualify() {
    if (m_dataControlSize < kDeviceSignature.size())
        return false;
    LockHold hold(m_commandLock);
    if (!hold.Owned())
        return false;
    HRESULT r = SetCmd(kQualifyCmd);
    if (r != S_OK) {
        ReportError("DevQualify SetCmd", r);
        return false;
    }
    std::memset(m_dataBuffer.data(), 0, m_dataControlSize);
    r = GetData(m_dataBuffer.data());
    if (r != S_OK) {
        ReportError("DevQualify GetData", r);
        return false;
    }
    return std::equal(kDeviceSignature.begin(), kDeviceSignature.end(), m_dataBuffer.begin());
}

// ---- CExtUnit -----------------------------------------------------------------------------

CExtUnit::CExtUnit(const DeviceRecord& record, std::uint8_t unitId)
    : m_unitId(unitId), m_record(record) {}

CExtUnit::~CExtUnit() = default;

HRESULT CExtUnit::Request(std::uint8_t requestType, std::uint8_t request, std::uint8_t control,
                          std::uint8_t* buffer, std::uint16_t length) {
    const auto result = CDriverChannel::Instance().SubmitClass(
        m_record.driverHandle, requestType, request, control, m_unitId,
        static_cast<std::uint8_t>(m_record.interfaceNumber), buffer, length, kTransferTimeoutMs);
    if (!result.ok())
        return HResultFromWin32(result.error);
    if ((requestType & 0x80) && result.transferred != length)
        return HResultFromWin32(kErrBadLength);
    return S_OK;
}

HRESULT CExtUnit::SendCmd(const ExtUnitCmd& cmd) {
    std::array<std::uint8_t, 8> bytes = cmd.Bytes();
    return Request(kTypeOut, kSetCur, kCommandControl, bytes.data(), 8);
}

HRESULT CExtUnit::SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2,
                         std::uint16_t p3) {
    return SendCmd(With(tmpl, p1, p2, p3));
}

HRESULT CExtUnit::SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1, std::uint16_t p2) {
    return SendCmd(With(tmpl, p1, p2, tmpl.p3));
}

HRESULT CExtUnit::SetCmd(const ExtUnitCmd& tmpl, std::uint16_t p1) {
    return SendCmd(With(tmpl, p1, tmpl.p2, tmpl.p3));
}

HRESULT CExtUnit::SetCmd(const ExtUnitCmd& tmpl) {
    return SendCmd(tmpl);
}

HRESULT CExtUnit::GetCmd(std::uint8_t (&block)[8]) {
    return Request(kTypeIn, kGetCur, kCommandControl, block, 8);
}

HRESULT CExtUnit::GetData(std::uint8_t* buffer) {
    return Request(kTypeIn, kGetCur, kDataControl, buffer, m_dataControlSize);
}

HRESULT CExtUnit::SetData(const std::uint8_t* buffer) {
    // An OUT transfer only reads the buffer.
    return Request(kTypeOut, kSetCur, kDataControl, const_cast<std::uint8_t*>(buffer),
                   m_dataControlSize);
}

HRESULT CExtUnit::ReadDataBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done,
                                VcProgress progress, void* context) {
    length &= 0xFFFF;
    const std::uint32_t size = m_dataControlSize;
    if (size == 0 || (length > 0 && buffer == nullptr))
        return E_INVALIDARG;
    const std::uint32_t pieces = length / size;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        const HRESULT r = GetData(buffer + i * size);
        if (r != S_OK) {
            done = i * size;
            return r;
        }
        if (progress)
            progress(context, size);
    }
    const std::uint32_t rest = length % size;
    if (rest > 0) {
        std::memset(m_dataBuffer.data(), 0, size);
        const HRESULT r = GetData(m_dataBuffer.data());
        if (r != S_OK) {
            done = pieces * size;
            return r;
        }
        std::memcpy(buffer + (length - rest), m_dataBuffer.data(), rest);
        if (progress)
            progress(context, rest);
    }
    return S_OK;
}

HRESULT CExtUnit::ReadDataBlock(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& done) {
    return ReadDataBlock(buffer, length, done, nullptr, nullptr);
}

HRESULT CExtUnit::WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length,
                                 std::uint32_t& done, VcProgress progress, void* context) {
    length &= 0xFFFF;
    const std::uint32_t size = m_dataControlSize;
    if (size == 0 || (length > 0 && buffer == nullptr))
        return E_INVALIDARG;
    const std::uint32_t pieces = length / size;
    for (std::uint32_t i = 0; i < pieces; ++i) {
        const HRESULT r = SetData(buffer + i * size);
        if (r != S_OK) {
            done = i * size;
            return r;
        }
        if (progress)
            progress(context, size);
    }
    const std::uint32_t rest = length % size;
    if (rest > 0) {
        std::memset(m_dataBuffer.data(), 0, size);
        std::memcpy(m_dataBuffer.data(), buffer + (length - rest), rest);
        const HRESULT r = SetData(m_dataBuffer.data());
        if (r != S_OK) {
            done = pieces * size;
            return r;
        }
        if (progress)
            progress(context, rest);
    }
    return S_OK;
}

HRESULT CExtUnit::WriteDataBlock(const std::uint8_t* buffer, std::uint32_t length,
                                 std::uint32_t& done) {
    return WriteDataBlock(buffer, length, done, nullptr, nullptr);
}

int CExtUnit::ChangeDataControlSize(std::uint16_t& size) {
    const std::uint16_t current = m_dataControlSize;
    if (size == current)
        return 1;
    // Every data piece must fit the data buffer.
    if (size == 0 || size > kExtUnitDataBufferSize) {
        size = current;
        return 0;
    }
    LockHold hold(m_commandLock);
    if (!hold.Owned()) {
        size = current;
        return 0;
    }
    HRESULT r = SetCmd(kChangeSizeCmd, 0, size, 0);
    if (r != S_OK) {
        size = current;
        ReportError("ChangeDataControlSize SetCmd", r);
        return 0;
    }
    r = Request(kTypeIn, kGetLen, kDataControl, m_dataBuffer.data(), 2);
    if (r != S_OK) {
        size = current;
        ReportError("ChangeDataControlSize GetLen", r);
        return 0;
    }
    const auto granted = static_cast<std::uint16_t>(m_dataBuffer[0] | (m_dataBuffer[1] << 8));
    if (granted == size) {
        m_dataControlSize = granted;
        return 1;
    }
    // The device chose another size; it is used as long as the data buffer can hold it.
    if (granted != 0 && granted <= kExtUnitDataBufferSize)
        m_dataControlSize = granted;
    size = m_dataControlSize;
    return 0;
}
