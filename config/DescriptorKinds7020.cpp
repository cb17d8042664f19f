#include "config/DescriptorKinds7020.h"

#include <algorithm>

namespace uafw {

namespace {

const std::vector<FieldLayout>& I2S0Layout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be16().U8(25).Build();
    return layout;
}
const std::vector<FieldLayout>& I2S1Layout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be16().U8(13).Build();
    return layout;
}
const std::vector<FieldLayout>& ByteLayout(int count) {
    static const std::vector<FieldLayout> four = LayoutBuilder().U8(4).Build();
    static const std::vector<FieldLayout> eight = LayoutBuilder().U8(8).Build();
    return count == 4 ? four : eight;
}
// Four bytes, `entries` entries of a 16-bit value and a byte, a final 16-bit value.
std::vector<FieldLayout> CodecSettingLayout(int entries) {
    LayoutBuilder b;
    b.U8(4);
    for (int i = 0; i < entries; ++i)
        b.Be16().U8();
    return b.Be16().Build();
}
const std::vector<FieldLayout>& Codec0Layout() {
    static const std::vector<FieldLayout> layout = CodecSettingLayout(14);
    return layout;
}
const std::vector<FieldLayout>& Codec1Layout() {
    static const std::vector<FieldLayout> layout = CodecSettingLayout(6);
    return layout;
}
const std::vector<FieldLayout>& EndPointTypeLayout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be16(8).Build();
    return layout;
}
const std::vector<FieldLayout>& Volume12Layout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be32(12).Be16(3).Build();
    return layout;
}
const std::vector<FieldLayout>& Volume6Layout() {
    static const std::vector<FieldLayout> layout = LayoutBuilder().Be32(6).Be16(3).Build();
    return layout;
}
const std::vector<FieldLayout>& Registers(int count) {
    static const std::vector<FieldLayout> six = LayoutBuilder().Be32(6).Build();
    static const std::vector<FieldLayout> nine = LayoutBuilder().Be32(9).Build();
    return count == 6 ? six : nine;
}

}  // namespace

CDescI2S0_7020::CDescI2S0_7020() : CDescFixedLayout(8, I2S0Layout()) {}
CDescI2S0Channel::CDescI2S0Channel() : CDescFixedLayout(9, ByteLayout(8)) {}
CDescI2S1_7020::CDescI2S1_7020() : CDescFixedLayout(10, I2S1Layout()) {}
CDescI2S1Channel::CDescI2S1Channel() : CDescFixedLayout(11, ByteLayout(4)) {}
CDescI2SCodec0Setting::CDescI2SCodec0Setting() : CDescFixedLayout(12, Codec0Layout()) {}
CDescI2SCodec1Setting::CDescI2SCodec1Setting() : CDescFixedLayout(16, Codec1Layout()) {}
CDescEndPointType::CDescEndPointType() : CDescFixedLayout(47, EndPointTypeLayout()) {}
CDescI2SVolume12Setting::CDescI2SVolume12Setting(std::uint8_t type)
    : CDescFixedLayout(type, Volume12Layout()) {}
CDescI2SVolume6Setting::CDescI2SVolume6Setting(std::uint8_t type)
    : CDescFixedLayout(type, Volume6Layout()) {}
CDescI2SCodec0MuteSetting::CDescI2SCodec0MuteSetting(std::uint8_t type)
    : CDescFixedLayout(type, Registers(9)) {}
CDescI2SCodec1MuteSetting::CDescI2SCodec1MuteSetting() : CDescFixedLayout(58, Registers(6)) {}

CDescI2SCodecScript::CDescI2SCodecScript(std::uint8_t type) : CDescriptor(type) {
    m_wLength = kMinLength;
}

bool CDescI2SCodecScript::Parse(std::span<const std::uint8_t> block) {
    if (block.size() < 2)
        return false;
    const std::size_t length = block[0] | ((block[1] & 0xC0u) << 2);
    if (length < kMinLength || block.size() < length)
        return false;
    m_wLength = static_cast<std::uint16_t>(length);
    m_byType = block[1] & 0x3F;
    m_script.assign(block.begin() + 2, block.begin() + static_cast<std::ptrdiff_t>(length - 2));
    m_wValue = static_cast<std::uint16_t>((block[length - 2] << 8) | block[length - 1]);
    return true;
}

bool CDescI2SCodecScript::SetScript(std::span<const std::uint8_t> script) {
    if (script.size() + 4 > kMaxLength)
        return false;
    m_script.assign(script.begin(), script.end());
    m_wLength = static_cast<std::uint16_t>(script.size() + 4);
    return true;
}

bool CDescI2SCodecScript::Serialize(std::span<std::uint8_t> out) {
    const std::size_t length = EncodedLength();
    if (length > kMaxLength || out.size() < length)
        return false;
    m_wLength = static_cast<std::uint16_t>(length);
    out[0] = static_cast<std::uint8_t>(length & 0xFF);
    out[1] = static_cast<std::uint8_t>((m_byType & 0x3F) | ((length >> 8) & 0x03) << 6);
    std::copy(m_script.begin(), m_script.end(), out.begin() + 2);
    out[length - 2] = static_cast<std::uint8_t>(m_wValue >> 8);
    out[length - 1] = static_cast<std::uint8_t>(m_wValue & 0xFF);
    return true;
}

std::unique_ptr<CDescriptor> CreateDescriptor7020(std::uint8_t type) {
    switch (type) {
        case 8:
            return std::make_unique<CDescI2S0_7020>();
        case 9:
            return std::make_unique<CDescI2S0Channel>();
        case 10:
            return std::make_unique<CDescI2S1_7020>();
        case 11:
            return std::make_unique<CDescI2S1Channel>();
        case 12:
            return std::make_unique<CDescI2SCodec0Setting>();
        case 16:
            return std::make_unique<CDescI2SCodec1Setting>();
        case 27:
            return std::make_unique<CDescI2SCodecCommonSetting>();
        case 28:
            return std::make_unique<CDescI2SCodecStartInSetting>();
        case 29:
            return std::make_unique<CDescI2SCodecCloseInSetting>();
        case 30:
            return std::make_unique<CDescI2SCodecStartOutSetting>();
        case 31:
            return std::make_unique<CDescI2SCodecCloseOutSetting>();
        case 32:
            return std::make_unique<CDescI2SCodecCloseAllSetting>();
        case 33:
            return std::make_unique<CDescI2SCodecSuspendSetting>();
        case 47:
            return std::make_unique<CDescEndPointType>();
        case 48:
            return std::make_unique<CDescI2SEPAVolumeSetting>();
        case 49:
            return std::make_unique<CDescI2SEPBVolumeSetting>();
        case 50:
            return std::make_unique<CDescI2SEPCVolumeSetting>();
        case 51:
            return std::make_unique<CDescI2SEPDVolumeSetting>();
        case 52:
            return std::make_unique<CDescI2SEPGVolumeSetting>();
        case 53:
            return std::make_unique<CDescI2SEPHVolumeSetting>();
        case 54:
            return std::make_unique<CDescI2SEPIVolumeSetting>();
        case 55:
            return std::make_unique<CDescI2SEPJVolumeSetting>();
        case 56:
            return std::make_unique<CDescI2SCodec0InMuteSetting>();
        case 57:
            return std::make_unique<CDescI2SCodec0OutMuteSetting>();
        case 58:
            return std::make_unique<CDescI2SCodec1MuteSetting>();
        default:
            return nullptr;
    }
}

}  // namespace uafw
