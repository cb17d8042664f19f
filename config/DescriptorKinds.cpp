#include "config/DescriptorKinds.h"

#include <algorithm>

#include "config/DescriptorKinds7020.h"
#include "config/DescriptorKinds7040.h"

namespace uafw {

namespace {

const std::vector<FieldLayout>& ThreeLe16() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Le16(3).Build();
    return layout;
}
const std::vector<FieldLayout>& TwoLe16() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Le16(2).Build();
    return layout;
}
const std::vector<FieldLayout>& OneByte() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().U8().Build();
    return layout;
}

constexpr std::uint8_t kChip7020 = 17;
constexpr std::uint8_t kChip7040 = 21;
constexpr std::uint8_t kChip7042 = 24;

}  // namespace

bool CDescString::Parse(std::span<const std::uint8_t> block) {
    if (!CDescriptor::Parse(block))
        return false;
    if (m_wLength < 4 || block.size() < m_wLength)
        return false;
    const std::uint8_t bLength = block[2];
    if (bLength < 2 || bLength > kMaxBLength || std::size_t{bLength} + 2 != m_wLength)
        return false;
    m_byBLength = bLength;
    m_byDescriptorType = block[3];
    m_content.assign(block.begin() + 4, block.begin() + 4 + (bLength - 2));
    return true;
}

bool CDescString::Serialize(std::span<std::uint8_t> out) {
    const std::size_t length = EncodedLength();
    if (out.size() < length)
        return false;
    m_wLength = static_cast<std::uint16_t>(length);
    out[2] = m_byBLength;
    out[3] = m_byDescriptorType;
    std::copy(m_content.begin(), m_content.end(), out.begin() + 4);
    return EncodeBlockHeader(out, m_wLength, m_byType);
}

bool CDescString::SetContent(std::span<const std::uint8_t> content) {
    if (content.size() > kMaxContent)
        return false;
    m_content.assign(content.begin(), content.end());
    m_byBLength = static_cast<std::uint8_t>(content.size() + 2);
    m_wLength = static_cast<std::uint16_t>(m_byBLength + 2);
    return true;
}

std::string CDescString::Text() const {
    const auto end = std::find(m_content.begin(), m_content.end(), std::uint8_t{0});
    return std::string(m_content.begin(), end);
}

std::unique_ptr<CDescString> MakeStringBlock(std::uint8_t type) {
    switch (type) {
        case kDescStringManu:
            return std::make_unique<CDescStringManu>();
        case kDescStringProd:
            return std::make_unique<CDescStringProd>();
        case kDescStringSN:
            return std::make_unique<CDescStringSN>();
        case kDescStringUBistName:
            return std::make_unique<CDescStringUBistName>();
        case kDescStringIAD:
            return std::make_unique<CDescStringIAD>();
        default:
            return nullptr;
    }
}

CDescVIDPID::CDescVIDPID() : CDescFixedLayout(kDescVIDPID, ThreeLe16()) {}

void CDescVIDPID::Set(std::uint16_t vid, std::uint16_t pid, std::uint16_t revision) {
    SetField(0, vid);
    SetField(1, pid);
    SetField(2, revision);
}

CDescHWAPVersion::CDescHWAPVersion() : CDescFixedLayout(kDescHWAPVersion, TwoLe16()) {}

void CDescHWAPVersion::Set(std::uint16_t hardwareId, std::uint16_t apVersion) {
    SetField(0, hardwareId);
    SetField(1, apVersion);
}

CDescByteInfo::CDescByteInfo(std::uint8_t type) : CDescFixedLayout(type, OneByte()) {}

CDescCodeInfo::CDescCodeInfo() : CDescFixedLayout(kDescCodeInfo, TwoLe16()) {}

bool CDescCodeInfo::Serialize(std::span<std::uint8_t> out) {
    if (!m_bHasBlob)
        return false;
    return CDescFixedLayout::Serialize(out);
}

bool CDescCodeInfo::SetBlob(std::span<const std::uint8_t> blob) {
    if (blob.size() > kMaxBlockBytes)
        return false;
    m_blob.assign(blob.begin(), blob.end());
    m_bHasBlob = true;
    SetField(1, static_cast<std::uint32_t>(blob.size()));
    return true;
}

bool CDescDummy::Parse(std::span<const std::uint8_t> block) {
    if (!CDescriptor::Parse(block))
        return false;
    if (m_wLength < kMinBlockLength || block.size() < m_wLength)
        return false;
    m_bytes.assign(block.begin(), block.begin() + m_wLength);
    return true;
}

bool CDescDummy::Serialize(std::span<std::uint8_t> out) {
    if (m_bytes.size() < kMinBlockLength || out.size() < m_bytes.size())
        return false;
    std::copy(m_bytes.begin(), m_bytes.end(), out.begin());
    return true;
}

std::unique_ptr<CDescriptor> CreateDescriptor(std::uint8_t type, std::uint8_t chipCode) {
    switch (type) {
        case kDescStringManu:
        case kDescStringProd:
        case kDescStringSN:
        case kDescStringUBistName:
        case kDescStringIAD:
            return MakeStringBlock(type);
        case kDescVIDPID:
            return std::make_unique<CDescVIDPID>();
        case kDescCodeInfo:
            return std::make_unique<CDescCodeInfo>();
        default:
            break;
    }
    std::unique_ptr<CDescriptor> kind;
    if (chipCode == kChip7020)
        kind = CreateDescriptor7020(type);
    else if (chipCode == kChip7040 || chipCode == kChip7042)
        kind = CreateDescriptor7040(type);
    if (!kind)
        kind = std::make_unique<CDescDummy>();
    return kind;
}

}  // namespace uafw
