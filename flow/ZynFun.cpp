#include "flow/ZynFun.h"

#include "device/DeviceApi.h"

namespace {
// The device API takes 32-bit lengths; a span longer than that is refused.
bool Fits(std::size_t size) {
    return size > 0 && size <= 0xFFFFFFFFu;
}
}  // namespace

int CZynFun::ReadMem(std::uint32_t addr, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_ReadMem(m_hDevice, addr, static_cast<std::uint32_t>(out.size()), out.data(),
                      m_dwAccessFlags);
}

int CZynFun::WriteMem(std::uint32_t addr, std::span<const std::uint8_t> data) {
    if (!DeviceOpen() || !Fits(data.size()))
        return 0;
    return DA_WriteMem(m_hDevice, addr, static_cast<std::uint32_t>(data.size()), data.data(),
                       m_dwAccessFlags);
}

int CZynFun::ReadByte(std::uint32_t addr, std::uint8_t& value) {
    std::uint8_t byte = 0;
    if (!ReadMem(addr, std::span<std::uint8_t>(&byte, 1)))
        return 0;
    value = byte;
    return 1;
}

int CZynFun::WriteByte(std::uint32_t addr, std::uint8_t value) {
    return WriteMem(addr, std::span<const std::uint8_t>(&value, 1));
}

int CZynFun::ReadChipId(std::uint16_t& id) {
    std::uint8_t bytes[2] = {0xFF, 0xFF};
    if (!ReadMem(0xFE21, bytes))
        return 0;
    id = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
    return 1;
}

int CZynFun::GetStatus(std::span<std::uint8_t, 104> out) {
    if (!DeviceOpen())
        return 0;
    return DA_GetStatus(m_hDevice, out.data(), m_dwAccessFlags);
}

int CZynFun::GetStatusRange(std::uint32_t firstBlock, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_GetStatusRange(m_hDevice, firstBlock, static_cast<std::uint32_t>(out.size()),
                             out.data(), m_dwAccessFlags);
}

int CZynFun::SpiWrite(std::uint32_t addr, std::span<const std::uint8_t> data) {
    if (!DeviceOpen() || !Fits(data.size()))
        return 0;
    return DA_SpiWrite(m_hDevice, addr, static_cast<std::uint32_t>(data.size()), data.data(),
                       m_dwAccessFlags);
}

int CZynFun::SpiRead(std::uint32_t addr, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_SpiRead(m_hDevice, addr, static_cast<std::uint32_t>(out.size()), out.data(),
                      m_dwAccessFlags);
}

int CZynFun::SpiReadSr(std::uint8_t& value) {
    if (!DeviceOpen())
        return 0;
    return DA_SpiReadSr(m_hDevice, value, m_dwAccessFlags);
}

int CZynFun::SpiWriteSr(std::uint8_t value) {
    if (!DeviceOpen())
        return 0;
    return DA_SpiWriteSr(m_hDevice, value, m_dwAccessFlags);
}

int CZynFun::SpiEraseChip(std::uint32_t timeoutMs) {
    if (!DeviceOpen())
        return 0;
    return DA_SpiEraseChip(m_hDevice, m_dwAccessFlags, timeoutMs);
}

int CZynFun::SpiEraseBlock(std::uint32_t addr, std::uint32_t wait) {
    if (!DeviceOpen() || addr % 0x10000 != 0)
        return 0;
    return DA_SpiEraseBlock(m_hDevice, addr, wait);
}

int CZynFun::Eep16Write(std::uint32_t addr, std::span<const std::uint8_t> data) {
    if (!DeviceOpen() || !Fits(data.size()))
        return 0;
    return DA_Eep16Write(m_hDevice, addr, static_cast<std::uint32_t>(data.size()), data.data(),
                         m_dwAccessFlags);
}

int CZynFun::Eep16Read(std::uint32_t addr, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_Eep16Read(m_hDevice, addr, static_cast<std::uint32_t>(out.size()), out.data(),
                        m_dwAccessFlags);
}

int CZynFun::Eep16WriteTag() {
    if (!DeviceOpen())
        return 0;
    return DA_Eep16WriteTag(m_hDevice, m_dwAccessFlags);
}

int CZynFun::Eep8Write(std::uint32_t addr, std::span<const std::uint8_t> data) {
    if (!DeviceOpen() || !Fits(data.size()))
        return 0;
    return DA_Eep8Write(m_hDevice, addr, static_cast<std::uint32_t>(data.size()), data.data(),
                        m_dwAccessFlags);
}

int CZynFun::Eep8Read(std::uint32_t addr, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_Eep8Read(m_hDevice, addr, static_cast<std::uint32_t>(out.size()), out.data(),
                       m_dwAccessFlags);
}

int CZynFun::Eep8Erase(std::uint32_t size) {
    if (!DeviceOpen())
        return 0;
    return DA_Eep8Erase(m_hDevice, size, m_dwAccessFlags);
}

int CZynFun::OtpRead(std::uint32_t addr, std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_OtpRead(m_hDevice, addr, static_cast<std::uint32_t>(out.size()), out.data());
}

int CZynFun::OtpWrite(std::uint32_t addr, std::uint16_t budget,
                      std::span<const std::uint8_t> data) {
    if (!DeviceOpen() || !Fits(data.size()))
        return 0;
    return DA_OtpWrite(m_hDevice, addr, budget, static_cast<std::uint32_t>(data.size()),
                       data.data());
}

int CZynFun::OtpFailReply(std::span<std::uint8_t> out) {
    if (!DeviceOpen() || !Fits(out.size()))
        return 0;
    return DA_OtpPrgmFailAddr(m_hDevice, static_cast<std::uint32_t>(out.size()), out.data());
}

int CZynFun::Eep8WriteTag() {
    if (!DeviceOpen())
        return 0;
    return DA_Eep8WriteTag(m_hDevice, m_dwAccessFlags);
}

int CZynFun::VendorCmd70Set(std::uint32_t value) {
    if (!DeviceOpen())
        return 0;
    return DA_VendorCmd70Set(value);
}

int CZynFun::VendorCmd70Get(std::uint8_t selector, std::span<std::uint8_t> out,
                            std::uint8_t& length) {
    if (!DeviceOpen() || out.empty() || out.size() > 0xFF)
        return 0;
    length = static_cast<std::uint8_t>(out.size());
    return DA_VendorCmd70Get(selector, out.data(), length);
}

int CZynFun::SetDataControlSize(std::uint16_t size) {
    if (!DeviceOpen())
        return 0;
    return DA_SetDataControlSize(m_hDevice, size);
}
