#include "device/VendorRequestV2.h"

#include <algorithm>
#include <cstring>

#include "device/DriverChannel.h"
#include "platform/Clock.h"

namespace {
constexpr std::uint8_t kIn = 0xC0;
constexpr std::uint8_t kOut = 0x40;

constexpr VendorRequestEntry kGetDevStatus{kIn, 0x07};
constexpr VendorRequestEntry kResetToUpdate{kOut, 0x20};
constexpr VendorRequestEntry kResetAlternate{kOut, 0x21};
constexpr VendorRequestEntry kResetToRom{kOut, 0x22};
constexpr VendorRequestEntry kReadIMem{kIn, 0x23};
constexpr VendorRequestEntry kWriteMem{kOut, 0x24};
constexpr VendorRequestEntry kReadMem{kIn, 0x25};
constexpr VendorRequestEntry kReadCode{kIn, 0x26};
constexpr VendorRequestEntry kReadPhy{kIn, 0x27};
constexpr VendorRequestEntry kWritePhy{kOut, 0x28};
constexpr VendorRequestEntry kEraseFlash{kOut, 0x29};
constexpr VendorRequestEntry kWriteFlash{kOut, 0x2A};
constexpr VendorRequestEntry kNorRead{kIn, 0x2B};
constexpr VendorRequestEntry kNorWriteTag{kOut, 0x2C};
constexpr VendorRequestEntry kSpiReadId{kIn, 0x2D};
constexpr VendorRequestEntry kSpiRead{kIn, 0x2E};
constexpr VendorRequestEntry kSpiWrite{kOut, 0x2F};
constexpr VendorRequestEntry kSpiReadSr{kIn, 0x30};
constexpr VendorRequestEntry kSpiWriteSr{kOut, 0x31};
constexpr VendorRequestEntry kSpiEraseSector{kOut, 0x33};
constexpr VendorRequestEntry kSpiWriteTag{kOut, 0x34};
constexpr VendorRequestEntry kSpiEraseBlock{kOut, 0x35};
constexpr VendorRequestEntry kSpiEraseBlockDone{kIn, 0x36};
constexpr VendorRequestEntry kEep8Read{kIn, 0x35};
constexpr VendorRequestEntry kEep8Write{kOut, 0x36};
constexpr VendorRequestEntry kEep16Read{kIn, 0x37};
constexpr VendorRequestEntry kEep16Write{kOut, 0x38};
constexpr VendorRequestEntry kExtMemRead{kIn, 0x39};
constexpr VendorRequestEntry kExtMemWrite{kOut, 0x3A};
constexpr VendorRequestEntry kI2CGenRead{kIn, 0x3D};
constexpr VendorRequestEntry kI2CGenWrite{kOut, 0x3E};
constexpr VendorRequestEntry kI2CRegRead{kIn, 0x50};
constexpr VendorRequestEntry kI2CRegWrite{kOut, 0x51};
constexpr VendorRequestEntry kI2CRandomWrite{kOut, 0x58};
constexpr VendorRequestEntry kI2CRandomRead{kIn, 0x59};
constexpr VendorRequestEntry kCmd70Set{kOut, 0x70};
constexpr VendorRequestEntry kCmd70Get{kIn, 0x70};
constexpr VendorRequestEntry kStatusByte{kIn, 0x06};
constexpr VendorRequestEntry kCmd10{kOut, 0x10};

constexpr std::uint8_t kExtMemEraseSelector = 3;
constexpr int kEraseBlockPolls = 20;
constexpr std::uint32_t kEraseBlockPollMs = 500;

std::uint16_t GenericValue(std::uint32_t addr, std::uint32_t length, std::uint8_t extra) {
    return static_cast<std::uint16_t>((((length >> 16) & 0xF) << 12) | (((addr >> 16) & 0xF) << 8) |
                                      extra);
}

std::uint16_t SpiValue(std::uint32_t addr, std::uint8_t low) {
    return static_cast<std::uint16_t>((((addr >> 16) & 0xFF) << 8) | low);
}

std::uint8_t* Mutable(const std::uint8_t* data) {
    // Host-to-device requests only read their buffer.
    return const_cast<std::uint8_t*>(data);
}
}  // namespace

CVendorRequestV2::CVendorRequestV2(const DeviceRecord& record) : m_record(record) {}

HRESULT CVendorRequestV2::Send(const VendorRequestEntry& entry, std::uint16_t value,
                               std::uint16_t index, std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t* moved, bool shortOk) {
    if (moved)
        *moved = 0;
    if (length > 0xFFFF || (length > 0 && buffer == nullptr))
        return E_INVALIDARG;
    const auto result = CDriverChannel::Instance().SubmitVendor(
        m_record.driverHandle, entry.requestType, entry.request, value, index, buffer,
        static_cast<std::uint16_t>(length), entry.timeoutMs);
    if (moved)
        *moved = result.transferred;
    if (!result.ok())
        return HResultFromWin32(result.error);
    if ((entry.requestType & 0x80) && !shortOk && result.transferred != length)
        return HResultFromWin32(kErrBadLength);
    return S_OK;
}

HRESULT CVendorRequestV2::Generic(const VendorRequestEntry& entry, std::uint32_t addr,
                                  std::uint32_t length, std::uint8_t* buffer, std::uint8_t extra) {
    return Send(entry, GenericValue(addr, length, extra), static_cast<std::uint16_t>(addr & 0xFFFF),
                buffer, length);
}

template <typename Piece>
HRESULT CVendorRequestV2::Pieces(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                 VcProgress progress, void* context, Piece piece) {
    if (length > 0 && buffer == nullptr)
        return E_INVALIDARG;
    while (length > 0) {
        const std::uint32_t size = std::min(length, kVendorPieceSize);
        const HRESULT r = piece(addr, size, buffer);
        if (r != S_OK)
            return r;
        if (progress)
            progress(context, size);
        addr += size;
        buffer += size;
        length -= size;
    }
    return S_OK;
}

HRESULT CVendorRequestV2::GenericPieces(const VendorRequestEntry& entry, std::uint32_t addr,
                                        std::uint32_t length, std::uint8_t* buffer,
                                        VcProgress progress, void* context, std::uint8_t extra) {
    return Pieces(addr, length, buffer, progress, context,
                  [&](std::uint32_t a, std::uint32_t n, std::uint8_t* b) {
                      return Generic(entry, a, n, b, extra);
                  });
}

HRESULT CVendorRequestV2::FillErased(const VendorRequestEntry& entry, std::uint32_t size,
                                     std::uint8_t extra) {
    // Every piece is 0xFF bytes, so one piece-sized source serves the whole fill.
    static const std::array<std::uint8_t, kVendorPieceSize> kErased = [] {
        std::array<std::uint8_t, kVendorPieceSize> bytes{};
        bytes.fill(0xFF);
        return bytes;
    }();
    std::uint32_t addr = 0;
    while (size > 0) {
        const std::uint32_t n = std::min(size, kVendorPieceSize);
        const HRESULT r = Generic(entry, addr, n, Mutable(kErased.data()), extra);
        if (r != S_OK)
            return r;
        addr += n;
        size -= n;
    }
    return S_OK;
}

HRESULT CVendorRequestV2::GetDevStatus(std::uint32_t firstBlock, std::uint8_t* buffer,
                                       std::uint32_t length) {
    if (length > 0 && buffer == nullptr)
        return E_INVALIDARG;
    for (std::uint32_t offset = 0; offset < length; offset += 8) {
        const std::uint32_t block = firstBlock + offset / 8;
        std::uint8_t bytes[8] = {};
        const HRESULT r =
            Send(kGetDevStatus, static_cast<std::uint16_t>(block & 0xFF), 0, bytes, 8);
        if (r != S_OK)
            return r;
        std::memcpy(buffer + offset, bytes, std::min<std::uint32_t>(8, length - offset));
    }
    return S_OK;
}

HRESULT CVendorRequestV2::ResetToUpdateFW(std::uint16_t value) {
    return Send(kResetToUpdate, value & 0xFF, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::ResetAlternate(std::uint16_t value) {
    return Send(kResetAlternate, value & 0xFF, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::ResetToRom() {
    return Send(kResetToRom, 0, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::ReadIMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                   VcProgress progress, void* context) {
    return GenericPieces(kReadIMem, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::ReadMem(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                  VcProgress progress, void* context) {
    return GenericPieces(kReadMem, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::WriteMem(std::uint32_t addr, std::uint32_t length,
                                   const std::uint8_t* buffer, VcProgress progress, void* context) {
    return GenericPieces(kWriteMem, addr, length, Mutable(buffer), progress, context);
}

HRESULT CVendorRequestV2::ReadCode(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer,
                                   VcProgress progress, void* context) {
    return GenericPieces(kReadCode, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::ReadPhy(std::uint32_t addr, std::uint32_t length, std::uint8_t* buffer) {
    return Generic(kReadPhy, addr, length, buffer, 0);
}

HRESULT CVendorRequestV2::WritePhy(std::uint32_t addr, std::uint32_t length,
                                   const std::uint8_t* buffer) {
    return Generic(kWritePhy, addr, length, Mutable(buffer), 0);
}

HRESULT CVendorRequestV2::EraseFlash() {
    return Send(kEraseFlash, 0, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::NorFlash_Read(std::uint32_t addr, std::uint32_t length,
                                        std::uint8_t* buffer, VcProgress progress, void* context) {
    return GenericPieces(kNorRead, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::WriteFlash(std::uint32_t addr, std::uint32_t length,
                                     const std::uint8_t* buffer, VcProgress progress,
                                     void* context) {
    return GenericPieces(kWriteFlash, addr, length, Mutable(buffer), progress, context);
}

HRESULT CVendorRequestV2::NorFlash_WriteTag() {
    return Send(kNorWriteTag, 0, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::SPI_SF_ReadID(std::uint8_t (&id)[8]) {
    return Send(kSpiReadId, 0, 0, id, 8);
}

HRESULT CVendorRequestV2::SPI_SF_Read(std::uint32_t addr, std::uint32_t length,
                                      std::uint8_t* buffer, std::uint8_t readMode,
                                      VcProgress progress, void* context) {
    return Pieces(addr, length, buffer, progress, context,
                  [&](std::uint32_t a, std::uint32_t n, std::uint8_t* b) {
                      return Send(kSpiRead, SpiValue(a, readMode),
                                  static_cast<std::uint16_t>(a & 0xFFFF), b, n);
                  });
}

HRESULT CVendorRequestV2::SPI_SF_Write(std::uint32_t addr, std::uint32_t length,
                                       const std::uint8_t* buffer, VcProgress progress,
                                       void* context) {
    return Pieces(addr, length, Mutable(buffer), progress, context,
                  [&](std::uint32_t a, std::uint32_t n, std::uint8_t* b) {
                      return Send(kSpiWrite, SpiValue(a, 0), static_cast<std::uint16_t>(a & 0xFFFF),
                                  b, n);
                  });
}

HRESULT CVendorRequestV2::SPI_SF_ReadSr(std::uint8_t& value) {
    return Send(kSpiReadSr, 0, 0, &value, 1);
}

HRESULT CVendorRequestV2::SPI_SF_WriteSr(std::uint8_t value) {
    return Send(kSpiWriteSr, 0, 0, &value, 1);
}

HRESULT CVendorRequestV2::SPI_SF_EraseChip(std::uint32_t timeoutMs) {
    m_eraseChip.timeoutMs = timeoutMs;
    return Send(m_eraseChip, 0, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::SPI_SF_EraseSector(std::uint32_t addr, std::uint32_t sectorSize) {
    if (sectorSize == 0 || addr % sectorSize != 0)
        return E_INVALIDARG;
    return Generic(kSpiEraseSector, addr, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::SPI_SF_EraseBlock(std::uint32_t addr, std::uint32_t blockSize,
                                            std::uint32_t wait) {
    if (blockSize == 0 || addr % blockSize != 0)
        return E_INVALIDARG;
    HRESULT r = Generic(kSpiEraseBlock, addr, 0, nullptr, 0);
    if (r != S_OK || wait == 0)
        return r;
    for (int poll = 1; poll <= kEraseBlockPolls; ++poll) {
        std::uint8_t done = 0;
        r = Send(kSpiEraseBlockDone, 0, 0, &done, 1);
        if (r != S_OK)
            return r;
        if (done != 0)
            return S_OK;
        if (poll < kEraseBlockPolls)
            uafw::Clock().SleepMs(kEraseBlockPollMs);
    }
    // The erase did not report completion within the polls: that is a failure, not a success.
    return HResultFromWin32(uafw::usb::kErrTimeout);
}

HRESULT CVendorRequestV2::SPI_SF_WriteTag() {
    return Send(kSpiWriteTag, 0, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::I2C_EEP8_Erase(std::uint32_t size) {
    return FillErased(kEep8Write, size, 0);
}

HRESULT CVendorRequestV2::I2C_EEP8_Read(std::uint32_t addr, std::uint32_t length,
                                        std::uint8_t* buffer, VcProgress progress, void* context) {
    return GenericPieces(kEep8Read, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::I2C_EEP8_Write(std::uint32_t addr, std::uint32_t length,
                                         const std::uint8_t* buffer, VcProgress progress,
                                         void* context) {
    return GenericPieces(kEep8Write, addr, length, Mutable(buffer), progress, context);
}

HRESULT CVendorRequestV2::I2C_EEP8_WriteTag() {
    const std::uint8_t tag = 0xA5;
    return I2C_EEP8_Write(1, 1, &tag, nullptr, nullptr);
}

HRESULT CVendorRequestV2::I2C_EEP16_Erase(std::uint32_t size) {
    return FillErased(kEep16Write, size, 0);
}

HRESULT CVendorRequestV2::I2C_EEP16_Read(std::uint32_t addr, std::uint32_t length,
                                         std::uint8_t* buffer, VcProgress progress, void* context) {
    return GenericPieces(kEep16Read, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::I2C_EEP16_Write(std::uint32_t addr, std::uint32_t length,
                                          const std::uint8_t* buffer, VcProgress progress,
                                          void* context) {
    return GenericPieces(kEep16Write, addr, length, Mutable(buffer), progress, context);
}

HRESULT CVendorRequestV2::I2C_EEP16_WriteTag() {
    const std::uint8_t tag = 0xA5;
    return I2C_EEP16_Write(1, 1, &tag, nullptr, nullptr);
}

HRESULT CVendorRequestV2::ExtMem_Erase(std::uint32_t size) {
    return FillErased(kExtMemWrite, size, kExtMemEraseSelector);
}

HRESULT CVendorRequestV2::ExtMem_Read(std::uint32_t addr, std::uint32_t length,
                                      std::uint8_t* buffer, std::uint8_t /*selector*/,
                                      VcProgress progress, void* context) {
    return GenericPieces(kExtMemRead, addr, length, buffer, progress, context);
}

HRESULT CVendorRequestV2::ExtMem_Write(std::uint32_t addr, std::uint32_t length,
                                       const std::uint8_t* buffer, std::uint8_t selector,
                                       VcProgress progress, void* context) {
    return GenericPieces(kExtMemWrite, addr, length, Mutable(buffer), progress, context, selector);
}

HRESULT CVendorRequestV2::ExtMem_WriteTag() {
    const std::uint8_t tag = 0xA5;
    return ExtMem_Write(1, 1, &tag, kExtMemEraseSelector, nullptr, nullptr);
}

HRESULT CVendorRequestV2::I2CRead(std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::I2CRead(std::uint32_t width, std::uint32_t regAddr, std::uint16_t& out) {
    if (width != 1 && width != 2)
        return E_INVALIDARG;
    std::uint8_t bytes[2] = {};
    const HRESULT r = Send(kI2CRegRead, static_cast<std::uint16_t>(((regAddr >> 16) & 0xF) << 8),
                           static_cast<std::uint16_t>(regAddr & 0xFFFF), bytes, 2);
    if (r == S_OK)
        out = width == 1 ? bytes[0] : static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    return r;
}

HRESULT CVendorRequestV2::I2CWrite(std::uint32_t, std::uint32_t, const std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::I2CWrite(std::uint32_t width, std::uint32_t regAddr,
                                   std::uint16_t value) {
    if (width != 1 && width != 2)
        return E_INVALIDARG;
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                             width == 1 ? std::uint8_t{0} : static_cast<std::uint8_t>(value >> 8)};
    return Send(kI2CRegWrite, static_cast<std::uint16_t>(((regAddr >> 16) & 0xF) << 8),
                static_cast<std::uint16_t>(regAddr & 0xFFFF), bytes, 2);
}

HRESULT CVendorRequestV2::I2CGenRead(std::uint32_t slaveAddr, std::uint32_t length,
                                     std::uint8_t* buffer) {
    return Send(kI2CGenRead, 0, slaveAddr & 0xFF, buffer, length);
}

HRESULT CVendorRequestV2::I2CGenWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                      const std::uint8_t* data) {
    return Send(kI2CGenWrite, 0, slaveAddr & 0xFF, Mutable(data), length);
}

HRESULT CVendorRequestV2::I2CRandomRead(std::uint32_t slaveAddr, std::uint32_t length,
                                        std::uint8_t* out) {
    return Send(kI2CRandomRead, 0, slaveAddr & 0xFF, out, length);
}

HRESULT CVendorRequestV2::I2CRandomWrite(std::uint32_t slaveAddr, std::uint32_t length,
                                         const std::uint8_t* data) {
    return Send(kI2CRandomWrite, 0, slaveAddr & 0xFF, Mutable(data), length);
}

HRESULT CVendorRequestV2::I2CSuperRead(std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::I2CSuperWrite(std::uint32_t, std::uint32_t, const std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::I2CLongRead(std::uint16_t, std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::I2CLongWrite(std::uint16_t, std::uint32_t, std::uint32_t,
                                       const std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::OTPWrite(std::uint32_t, std::uint32_t, std::uint16_t,
                                   const std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::OTPRead(std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::OTPBlankCheck(std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::OTPAllBlankCheck(std::uint32_t, std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::OTPPrgmFailAddr(std::uint32_t, std::uint8_t*) {
    return E_NOTIMPL;
}

HRESULT CVendorRequestV2::VendorCmd70_Set(std::uint32_t /*value*/) {
    // The request carries the fixed selector 5; the start and stop value is not part of it.
    return Send(kCmd70Set, 5, 0, nullptr, 0);
}

HRESULT CVendorRequestV2::VendorCmd70_Get(std::uint8_t selector, std::uint8_t* buffer,
                                          std::uint8_t& length) {
    std::uint32_t moved = 0;
    const HRESULT r = Send(kCmd70Get, selector, 0, buffer, length, &moved, true);
    length = static_cast<std::uint8_t>(std::min<std::uint32_t>(moved, length));
    return r;
}

HRESULT CVendorRequestV2::ReadStatusByte(std::uint8_t& value) {
    return Send(kStatusByte, 0, 0, &value, 1);
}

HRESULT CVendorRequestV2::VendorCmd10(std::uint8_t value) {
    return Send(kCmd10, value, 0, nullptr, 0);
}
