#pragma once
// Block kinds of chip code 17 (KSC7020): the I2S links, codec settings, codec register scripts,
// endpoint types, volume and mute registers. All their 16- and 32-bit fields are big-endian.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "config/Descriptor.h"

namespace uafw {

// Kinds of chip code 17 by block type, or nothing for a type this chip does not know.
std::unique_ptr<CDescriptor> CreateDescriptor7020(std::uint8_t type);

// Type 8, 29 bytes: [2-3] a 16-bit value, [4-28] 25 bytes.
class CDescI2S0_7020 final : public CDescFixedLayout {
public:
    CDescI2S0_7020();
};
// Type 9, 10 bytes: eight bytes.
class CDescI2S0Channel final : public CDescFixedLayout {
public:
    CDescI2S0Channel();
};
// Type 10, 17 bytes: [2-3] a 16-bit value, [4-16] 13 bytes.
class CDescI2S1_7020 final : public CDescFixedLayout {
public:
    CDescI2S1_7020();
};
// Type 11, 6 bytes: four bytes.
class CDescI2S1Channel final : public CDescFixedLayout {
public:
    CDescI2S1Channel();
};
// Type 12, 50 bytes: four bytes, 14 entries of a 16-bit value and a byte, a 16-bit value.
class CDescI2SCodec0Setting final : public CDescFixedLayout {
public:
    CDescI2SCodec0Setting();
};
// Type 16, 26 bytes: four bytes, 6 entries of a 16-bit value and a byte, a 16-bit value.
class CDescI2SCodec1Setting final : public CDescFixedLayout {
public:
    CDescI2SCodec1Setting();
};

// Codec register scripts, types 27 to 33, 4 to 1023 bytes, with their own 10-bit header: [0]
// length bits 0-7, [1] type | (length bits 8-9) << 6; [2 .. length - 3] the script; [length - 2 ..
// length - 1] a 16-bit value. A chain walk reads that header as a short form, so it recognises
// such a block only while its length stays below 256.
class CDescI2SCodecScript : public CDescriptor {
public:
    static constexpr std::size_t kMinLength = 4;
    static constexpr std::size_t kMaxLength = 1023;

    bool Parse(std::span<const std::uint8_t> block) override;
    bool Serialize(std::span<std::uint8_t> out) override;
    std::size_t EncodedLength() const override { return m_script.size() + 4; }

    const std::vector<std::uint8_t>& Script() const { return m_script; }
    // False (nothing changed) when the block would exceed 1023 bytes.
    bool SetScript(std::span<const std::uint8_t> script);
    std::uint16_t Value() const { return m_wValue; }
    void SetValue(std::uint16_t value) { m_wValue = value; }

protected:
    explicit CDescI2SCodecScript(std::uint8_t type);

private:
    std::vector<std::uint8_t> m_script;
    std::uint16_t m_wValue = 0;
};
class CDescI2SCodecCommonSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecCommonSetting() : CDescI2SCodecScript(27) {}
};
class CDescI2SCodecStartInSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecStartInSetting() : CDescI2SCodecScript(28) {}
};
class CDescI2SCodecCloseInSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecCloseInSetting() : CDescI2SCodecScript(29) {}
};
class CDescI2SCodecStartOutSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecStartOutSetting() : CDescI2SCodecScript(30) {}
};
class CDescI2SCodecCloseOutSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecCloseOutSetting() : CDescI2SCodecScript(31) {}
};
class CDescI2SCodecCloseAllSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecCloseAllSetting() : CDescI2SCodecScript(32) {}
};
class CDescI2SCodecSuspendSetting final : public CDescI2SCodecScript {
public:
    CDescI2SCodecSuspendSetting() : CDescI2SCodecScript(33) {}
};

// Type 47 on this chip (other than a six-byte leading version block), 18 bytes: eight 16-bit
// values.
class CDescEndPointType final : public CDescFixedLayout {
public:
    CDescEndPointType();
};

// Volume registers of a stereo endpoint pair, 56 bytes: twelve 32-bit register words (left 0,
// right 0, left 1, right 1; each read, write, mask), then maximum, minimum and resolution as
// signed 8.8 fixed-point decibels.
class CDescI2SVolume12Setting : public CDescFixedLayout {
public:
    std::int16_t VolumeMaximum() const { return static_cast<std::int16_t>(Field(12)); }

protected:
    explicit CDescI2SVolume12Setting(std::uint8_t type);
};
class CDescI2SEPAVolumeSetting final : public CDescI2SVolume12Setting {
public:
    CDescI2SEPAVolumeSetting() : CDescI2SVolume12Setting(48) {}
};
class CDescI2SEPGVolumeSetting final : public CDescI2SVolume12Setting {
public:
    CDescI2SEPGVolumeSetting() : CDescI2SVolume12Setting(52) {}
};

// Volume registers of one endpoint, 32 bytes: six 32-bit register words (left 0, right 0; each
// read, write, mask), then maximum, minimum and resolution.
class CDescI2SVolume6Setting : public CDescFixedLayout {
public:
    std::int16_t VolumeMaximum() const { return static_cast<std::int16_t>(Field(6)); }

protected:
    explicit CDescI2SVolume6Setting(std::uint8_t type);
};
class CDescI2SEPBVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPBVolumeSetting() : CDescI2SVolume6Setting(49) {}
};
class CDescI2SEPCVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPCVolumeSetting() : CDescI2SVolume6Setting(50) {}
};
class CDescI2SEPDVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPDVolumeSetting() : CDescI2SVolume6Setting(51) {}
};
class CDescI2SEPHVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPHVolumeSetting() : CDescI2SVolume6Setting(53) {}
};
class CDescI2SEPIVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPIVolumeSetting() : CDescI2SVolume6Setting(54) {}
};
class CDescI2SEPJVolumeSetting final : public CDescI2SVolume6Setting {
public:
    CDescI2SEPJVolumeSetting() : CDescI2SVolume6Setting(55) {}
};

// Mute registers of codec 0, 38 bytes: nine 32-bit register words (read, write, mask of three
// endpoints: A, B, C for type 56; G, H, I for type 57).
class CDescI2SCodec0MuteSetting : public CDescFixedLayout {
protected:
    explicit CDescI2SCodec0MuteSetting(std::uint8_t type);
};
class CDescI2SCodec0InMuteSetting final : public CDescI2SCodec0MuteSetting {
public:
    CDescI2SCodec0InMuteSetting() : CDescI2SCodec0MuteSetting(56) {}
};
class CDescI2SCodec0OutMuteSetting final : public CDescI2SCodec0MuteSetting {
public:
    CDescI2SCodec0OutMuteSetting() : CDescI2SCodec0MuteSetting(57) {}
};

// Type 58, 26 bytes: six 32-bit register words (read, write, mask of endpoints D and J).
class CDescI2SCodec1MuteSetting final : public CDescFixedLayout {
public:
    CDescI2SCodec1MuteSetting();
};

}  // namespace uafw
