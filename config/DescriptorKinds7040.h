#pragma once
// Block kinds of chip codes 21 (KSC7040) and 24 (KSC7042): self loop-back test, small cache code,
// UAC top-level settings, endpoint records, the inter-chip links and the GPIO drive strengths.
// Their 16- and 32-bit fields are big-endian except those of the loop-back test and the small
// cache code.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "config/Descriptor.h"

namespace uafw {

// Kinds of chip codes 21 and 24 by block type, or nothing for a type these chips do not know.
std::unique_ptr<CDescriptor> CreateDescriptor7040(std::uint8_t type);

// Type 14, 15 bytes: [2] test flags, [3] full-speed count, [4-7] high-speed count, [8-9]
// high-speed fail threshold, [10] fixed pattern, [11] seed, [12] full-speed fail threshold,
// [13-14] high-speed delay time (little-endian).
class CDescSLB final : public CDescFixedLayout {
public:
    CDescSLB();
};

// Type 39, always written in the long form: [0] 0xFF, [1] 0xE7, [2-3] block length, [4-5] data
// offset from the start of the area, [6-7] data length, [8..] the data. Holds at most 8192 data
// bytes; a block claiming more is refused by Parse.
class CDescSmallCachecode final : public CDescriptor {
public:
    static constexpr std::size_t kHeaderBytes = 8;
    static constexpr std::size_t kMaxData = 8192;

    CDescSmallCachecode();
    // Takes the data that lies behind the eight header bytes inside the block, when it is there.
    bool Parse(std::span<const std::uint8_t> block) override;
    // False when no data is attached.
    bool Serialize(std::span<std::uint8_t> out) override;
    std::size_t EncodedLength() const override { return kHeaderBytes + m_data.size(); }

    std::uint16_t DataOffset() const { return m_wDataOffset; }
    void SetDataOffset(std::uint16_t offset) { m_wDataOffset = offset; }
    // The data length the block declares (the attached data's length once data is attached).
    std::uint16_t DataLength() const { return m_wDataLength; }
    bool HasData() const { return m_bHasData; }
    const std::vector<std::uint8_t>& Data() const { return m_data; }
    // Attaches a copy of the data; false (nothing changed) above 8192 bytes.
    bool SetData(std::span<const std::uint8_t> data);

private:
    std::uint16_t m_wDataOffset = 0;
    std::uint16_t m_wDataLength = 0;
    std::vector<std::uint8_t> m_data;
    bool m_bHasData = false;
};

// Type 64, 18 bytes: [2-3] UAC version, [4] USB speed mode, [5] HID enable, [6] UAC2 IN
// interval, [7] UAC2 OUT interval, [8] USB 2 PHY sensitivity (written as 1 to 15), [9] jack-detect
// enables, [10] remote-wakeup enables, [11] endpoint enables, [12-13] VID, [14-15] PID, [16-17]
// revision.
class CDescUACTop final : public CDescFixedLayout {
public:
    CDescUACTop();
    bool Serialize(std::span<std::uint8_t> out) override;
    std::uint16_t UacVersion() const { return static_cast<std::uint16_t>(Field(0)); }
    std::uint16_t Vid() const { return static_cast<std::uint16_t>(Field(9)); }
    std::uint16_t Pid() const { return static_cast<std::uint16_t>(Field(10)); }
    std::uint16_t Revision() const { return static_cast<std::uint16_t>(Field(11)); }
};

// Recording endpoints, 17 bytes: [2] connect type, [3-4] sample rate, [5] bit resolution, [6-7]
// channel location, [8-9] terminal type, [10-11] volume minimum, [12-13] volume maximum, [14-15]
// volume resolution, [16] loudness support.
class CDescRecordEPInfo : public CDescFixedLayout {
public:
    std::uint16_t SampleRate() const { return static_cast<std::uint16_t>(Field(1)); }

protected:
    explicit CDescRecordEPInfo(std::uint8_t type);
};
class CDescEPAInfo final : public CDescRecordEPInfo {
public:
    CDescEPAInfo() : CDescRecordEPInfo(65) {}
};
class CDescEPBInfo final : public CDescRecordEPInfo {
public:
    CDescEPBInfo() : CDescRecordEPInfo(66) {}
};
class CDescEPCInfo final : public CDescRecordEPInfo {
public:
    CDescEPCInfo() : CDescRecordEPInfo(67) {}
};

// Playback endpoints, 16 bytes: the recording layout without the loudness byte.
class CDescPlaybackEPInfo : public CDescFixedLayout {
public:
    std::uint16_t SampleRate() const { return static_cast<std::uint16_t>(Field(1)); }

protected:
    explicit CDescPlaybackEPInfo(std::uint8_t type);
};
class CDescEPGInfo final : public CDescPlaybackEPInfo {
public:
    CDescEPGInfo() : CDescPlaybackEPInfo(68) {}
};
class CDescEPHInfo final : public CDescPlaybackEPInfo {
public:
    CDescEPHInfo() : CDescPlaybackEPInfo(69) {}
};
class CDescEPIInfo final : public CDescPlaybackEPInfo {
public:
    CDescEPIInfo() : CDescPlaybackEPInfo(70) {}
};

// Type 71, 14 bytes: twelve codec link bytes at [2-13]; [8] (button detect window) is written as
// 2 to 127.
class CDescInterCodecInfo final : public CDescFixedLayout {
public:
    CDescInterCodecInfo();
    bool Serialize(std::span<std::uint8_t> out) override;
};

// Type 72, 8 bytes: six S/PDIF bytes at [2-7].
class CDescInterSPDIFInfo final : public CDescFixedLayout {
public:
    CDescInterSPDIFInfo();
};

// Type 73, 10 bytes: [2] SSC select, [3] stop bits, [4] data length, [5] parity, [6-9] baud rate.
class CDescInterUartInfo final : public CDescFixedLayout {
public:
    CDescInterUartInfo();
    std::uint32_t BaudRate() const { return Field(4); }
};

// Type 74, 12 bytes: one drive-strength byte per GPIO 0 to 9.
class CDescGPIODrivingInfo final : public CDescFixedLayout {
public:
    CDescGPIODrivingInfo();
};

}  // namespace uafw
