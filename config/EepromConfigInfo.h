#pragma once
// The configuration-info record of a programming flow and the operations on the configuration
// area of its firmware image: locating the area, reading it (texts, identity, fixed values),
// checking it, finding the end of the small cache code, and rebuilding it around a new serial
// number before a download.
//
// The per-chip layout ("ConfigAddress", "ConfigSize", "TagAddress" of "Vendor Info M1", and "Ic
// Name") comes from the selected chip description g_pICTypeIni. Reading an area sets the
// process-wide project type from its memory-kind code.
//
// Every length and offset taken from an image is checked against the bytes the image holds; an
// operation that would reach outside them fails instead.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/Descriptor.h"

// Result code of a failed serial-number patch before a download ("Save SN Fail!").
inline constexpr std::int32_t kSaveSnFailCode = 41713;

class CEepromConfigInfo {
public:
    // The firmware image of the flow's image-holding record, which PreActionForAllInOne works on.
    void AttachImage(std::vector<std::uint8_t>* image) { m_pImage = image; }
    std::vector<std::uint8_t>* Image() const { return m_pImage; }

    // Offset into the image where the configuration part to download starts, or nothing when the
    // image has no configuration area. Fills the record (chip code, flags, write address and
    // length, texts) and keeps the result as the record's area offset.
    std::optional<std::uint32_t> LocateConfigArea(std::span<const std::uint8_t> image);
    // True when an area was found (at "ConfigAddress", else at offset 0) and its chain read to
    // the end; takes the texts out of it. A broken chain shows "Config file corrupted".
    bool LoadImageConfig(std::span<const std::uint8_t> image);
    // True when the area at its fixed place (0xF000; 0 for a KSC7040 OTP or 16 KiB image) reads
    // to the end. A broken chain shows "Config file corrupted".
    bool CheckImageConfig(std::span<const std::uint8_t> image);
    // True and the offset just behind the last small-cache-code block, counted from the start of
    // the area, when the chain could be walked to its end.
    bool FindCacheCodeEnd(std::span<const std::uint8_t> image, std::uint32_t& offset);
    // Sets the process-wide project type from the header's memory-kind code; an unknown code
    // leaves it unchanged.
    static void ApplyConfigHeader(const uafw::CDescGlobal& header);
    // Rebuilds the area at "ConfigAddress" with the text in string block 1 and marks the image
    // with the tag. False, with the image unchanged, when the text exceeds 48 bytes, the image
    // holds no area there or not the whole reserved size, the chain is broken or the rebuilt area
    // does not fit the reserved size.
    bool PatchImageSN(std::span<std::uint8_t> image, const std::string& text);
    // The same for string block 3; with the setting "SN Function" the text is preceded by 0x07.
    bool PatchImageSNEx(std::span<std::uint8_t> image, const std::string& text);
    // The pre-download step on the attached image: with "SaveSN" set, patches the serial number
    // (with "SN Address" set through PatchImageSNEx); an OTP image is patched as the reserved
    // size and cut to the rebuilt area. False with `resultCode` 41713 when the patch failed.
    bool PreActionForAllInOne(std::int32_t& resultCode);

    // The record.
    std::optional<std::uint32_t> m_areaOffset;  // result of the last locate
    std::int32_t m_bAreaAtStart = 0;
    std::uint32_t m_dwWriteAddress = 0;
    std::uint32_t m_dwWriteLength = 0;
    std::uint16_t m_wTotalLength = 0;
    std::uint8_t m_byChipCode = 0xFF;
    std::int32_t m_bBankCopyEnabled = 0;
    std::int32_t m_bForceUpdateBit4 = 0;
    std::int32_t m_bForceUpdateBit6 = 0;
    std::string m_strManufacturer;           // string block 1
    std::string m_strSerialText;             // string block 3
    std::string m_strIAD;                    // string block 7
    std::string m_strVidPid;                 // "VID_%04X&PID_%04X"
    std::string m_strRevision;               // "%04x"
    std::string m_strImageVersion;           // "0x%02X%02X%02X%02X%02X"
    std::string m_strSerialNumber;           // the serial number to patch, set by the front ends
    std::vector<std::uint8_t> m_savedImage;  // the image kept while an OTP image is patched

private:
    bool PatchImageString(std::span<std::uint8_t> image, const std::string& text, std::uint8_t type,
                          bool markerFirst);
    std::vector<std::uint8_t>* m_pImage = nullptr;
};
