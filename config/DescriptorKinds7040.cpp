#include "config/DescriptorKinds7040.h"

#include <algorithm>

namespace uafw {

namespace {

constexpr std::uint16_t kUacPhyOffset = 8;
constexpr std::uint16_t kCodecButtonWindowOffset = 8;

const std::vector<FieldLayout>& SlbLayout() {
    static const std::vector<FieldLayout> layout =
        LayoutBuilder().U8(2).Le32().Le16().U8(3).Le16().Build();
    return layout;
}
const std::vector<FieldLayout>& UacTopLayout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be16().U8(8).Be16(3).Build();
    return layout;
}
const std::vector<FieldLayout>& PlaybackLayout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().U8().Be16().U8().Be16(5).Build();
    return layout;
}
const std::vector<FieldLayout>& RecordLayout() {
    static const std::vector<FieldLayout> layout =
        LayoutBuilder().U8().Be16().U8().Be16(5).U8().Build();
    return layout;
}
const std::vector<FieldLayout>& Bytes(int count) {
    static const std::vector<FieldLayout> six = LayoutBuilder().U8(6).Build();
    static const std::vector<FieldLayout> ten = LayoutBuilder().U8(10).Build();
    static const std::vector<FieldLayout> twelve = LayoutBuilder().U8(12).Build();
    return count == 6 ? six : count == 10 ? ten : twelve;
}
const std::vector<FieldLayout>& UartLayout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().U8(4).Be32().Build();
    return layout;
}

// Clamps the field at the block offset into [low, high] before the block is written.
void ClampField(CDescFixedLayout& block, std::uint16_t offset, std::uint32_t low,
                std::uint32_t high) {
    const auto index = block.FieldAt(offset);
    if (index)
        block.SetField(*index, std::clamp(block.Field(*index), low, high));
}

}  // namespace

CDescSLB::CDescSLB() : CDescFixedLayout(14, SlbLayout()) {}

CDescSmallCachecode::CDescSmallCachecode() : CDescriptor(kTypeSmallCachecode) {
    m_wLength = kHeaderBytes;
    m_wExtLength = kHeaderBytes;
}

bool CDescSmallCachecode::Parse(std::span<const std::uint8_t> block) {
    if (!CDescriptor::Parse(block))
        return false;
    const auto header = DecodeBlockHeader(block);
    if (!header || !header->longForm || m_wLength < kHeaderBytes || block.size() < m_wLength)
        return false;
    m_wDataOffset = GetLe16(block, 4);
    m_wDataLength = GetLe16(block, 6);
    if (m_wDataLength > kMaxData)
        return false;
    m_data.clear();
    m_bHasData = false;
    if (std::size_t{m_wLength} - kHeaderBytes >= m_wDataLength) {
        m_data.assign(block.begin() + kHeaderBytes, block.begin() + kHeaderBytes + m_wDataLength);
        m_bHasData = true;
    }
    return true;
}

bool CDescSmallCachecode::SetData(std::span<const std::uint8_t> data) {
    if (data.size() > kMaxData)
        return false;
    m_data.assign(data.begin(), data.end());
    m_bHasData = true;
    m_wDataLength = static_cast<std::uint16_t>(data.size());
    m_wExtLength = static_cast<std::uint16_t>(kHeaderBytes + data.size());
    m_wLength = m_wExtLength;
    return true;
}

bool CDescSmallCachecode::Serialize(std::span<std::uint8_t> out) {
    const std::size_t length = EncodedLength();
    if (!m_bHasData || out.size() < length)
        return false;
    m_wExtLength = static_cast<std::uint16_t>(length);
    m_wLength = m_wExtLength;
    m_wDataLength = static_cast<std::uint16_t>(m_data.size());
    out[0] = 0xFF;
    out[1] = static_cast<std::uint8_t>(0xC0 | (kTypeSmallCachecode & 0x3F));
    PutLe16(out, 2, m_wExtLength);
    PutLe16(out, 4, m_wDataOffset);
    PutLe16(out, 6, m_wDataLength);
    std::copy(m_data.begin(), m_data.end(), out.begin() + kHeaderBytes);
    return true;
}

CDescUACTop::CDescUACTop() : CDescFixedLayout(64, UacTopLayout()) {}

bool CDescUACTop::Serialize(std::span<std::uint8_t> out) {
    ClampField(*this, kUacPhyOffset, 1, 15);
    return CDescFixedLayout::Serialize(out);
}

CDescRecordEPInfo::CDescRecordEPInfo(std::uint8_t type) : CDescFixedLayout(type, RecordLayout()) {}

CDescPlaybackEPInfo::CDescPlaybackEPInfo(std::uint8_t type)
    : CDescFixedLayout(type, PlaybackLayout()) {}

CDescInterCodecInfo::CDescInterCodecInfo() : CDescFixedLayout(71, Bytes(12)) {}

bool CDescInterCodecInfo::Serialize(std::span<std::uint8_t> out) {
    ClampField(*this, kCodecButtonWindowOffset, 2, 127);
    return CDescFixedLayout::Serialize(out);
}

CDescInterSPDIFInfo::CDescInterSPDIFInfo() : CDescFixedLayout(72, Bytes(6)) {}

CDescInterUartInfo::CDescInterUartInfo() : CDescFixedLayout(73, UartLayout()) {}

CDescGPIODrivingInfo::CDescGPIODrivingInfo() : CDescFixedLayout(74, Bytes(10)) {}

std::unique_ptr<CDescriptor> CreateDescriptor7040(std::uint8_t type) {
    switch (type) {
        case 14:
            return std::make_unique<CDescSLB>();
        case kTypeSmallCachecode:
            return std::make_unique<CDescSmallCachecode>();
        case 64:
            return std::make_unique<CDescUACTop>();
        case 65:
            return std::make_unique<CDescEPAInfo>();
        case 66:
            return std::make_unique<CDescEPBInfo>();
        case 67:
            return std::make_unique<CDescEPCInfo>();
        case 68:
            return std::make_unique<CDescEPGInfo>();
        case 69:
            return std::make_unique<CDescEPHInfo>();
        case 70:
            return std::make_unique<CDescEPIInfo>();
        case 71:
            return std::make_unique<CDescInterCodecInfo>();
        case 72:
            return std::make_unique<CDescInterSPDIFInfo>();
        case 73:
            return std::make_unique<CDescInterUartInfo>();
        case 74:
            return std::make_unique<CDescGPIODrivingInfo>();
        default:
            return nullptr;
    }
}

}  // namespace uafw
