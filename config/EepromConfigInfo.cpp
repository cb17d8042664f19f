#include "config/EepromConfigInfo.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

#include "config/DescriptorKinds.h"
#include "config/DescriptorReader.h"
#include "config/DescriptorWriter.h"
#include "config/FirmwareImage.h"
#include "config/ICTypeIni.h"
#include "config/Settings.h"
#include "platform/AppState.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"

using uafw::CDescGlobal;
using uafw::CDescriptor;
using uafw::DescriptorReader;

namespace {

constexpr const char* kChipSection = "Vorlo Config";
constexpr const char* kChip7040 = "KSC7040";
constexpr const char* kCorruptedText = "Config file corrupted";
// The place of the area in a code image of 64 KiB or more, and the size of a KSC7040 image whose
// area lies at offset 0.
constexpr std::uint32_t kCodeImageArea = 0xF000;
constexpr std::size_t kCodeImageLength = 0x10000;
constexpr std::uint32_t kSmallImageLength = 0x4000;
constexpr std::uint32_t kConfigPartLength = 0x1000;
constexpr std::size_t kImageVersionMinLength = 0x1020;
constexpr std::size_t kMaxSerialBytes = 48;
constexpr std::uint8_t kSnFunctionMarker = 0x07;
constexpr std::uint8_t kFlashMemoryKind = 0x55;
constexpr std::uint8_t kTagFirst = 0x55;
constexpr std::uint8_t kTagSecond = 0xAA;
// An OTP image is its configuration area, at offset 0 and with the code inside it; the area may
// fill the OTP's block area.
constexpr std::size_t kOtpAreaCapacity = 16224;

// The layout values of the selected chip description.
struct ChipLayout {
    std::uint32_t configAddress = 0;
    std::uint32_t configSize = 0;
    std::uint32_t tagAddress = 0;
    bool is7040 = false;
};

ChipLayout SelectedLayout() {
    ChipLayout layout;
    if (g_pICTypeIni == nullptr)
        return layout;
    std::int32_t value = 0;
    g_pICTypeIni->GetVendorValue("ConfigAddress", value);
    layout.configAddress = static_cast<std::uint32_t>(value);
    g_pICTypeIni->GetConfigSize(value);
    layout.configSize = static_cast<std::uint32_t>(value);
    g_pICTypeIni->GetVendorValue("TagAddress", value);
    layout.tagAddress = static_cast<std::uint32_t>(value);
    layout.is7040 = g_pICTypeIni->GetString(kChipSection, "Ic Name", "") == kChip7040;
    return layout;
}

bool AllErased(std::span<const std::uint8_t> image) {
    return std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// Opens the area at `at` (at most 2 MiB of it) and reads its header; nothing when the image does
// not reach that far or holds no header there.
std::optional<CDescGlobal> ReadAreaHeader(DescriptorReader& reader,
                                          std::span<const std::uint8_t> image, std::size_t at) {
    if (at > image.size())
        return std::nullopt;
    reader.Open(image.subspan(at, std::min(image.size() - at, uafw::kMaxAreaBytes)));
    return reader.ReadHeader();
}

bool HasSignature(const std::optional<CDescGlobal>& header) {
    return header && header->HasSignature();
}

// Walks the remaining blocks; a block that cannot be produced is stepped over. False when even
// that is impossible: the chain is broken.
template <typename OnBlock>
bool WalkChain(DescriptorReader& reader, std::uint8_t count, OnBlock&& onBlock) {
    for (int i = 0; i < count; ++i) {
        if (auto block = reader.NextBlock())
            onBlock(*block);
        else if (!reader.SkipBlock())
            return false;
    }
    return true;
}

// The blocks of the chain of `area` as (type, length), in order, without the string blocks of
// `skipType` and without the version block (which a rebuild writes afresh); nothing when the
// chain cannot be walked within the bytes held.
std::optional<std::vector<std::pair<std::uint8_t, std::uint16_t>>> ChainShape(
    std::span<const std::uint8_t> area, std::uint8_t skipType) {
    CDescGlobal header;
    if (!header.Parse(area))
        return std::nullopt;
    std::vector<std::pair<std::uint8_t, std::uint16_t>> shape;
    std::size_t position = CDescGlobal::kSize;
    for (int i = 0; i < header.m_byCount; ++i) {
        if (position >= area.size())
            return std::nullopt;
        const auto block = uafw::DecodeBlockHeader(area.subspan(position));
        if (!block || block->length < uafw::kMinBlockLength ||
            block->length > area.size() - position) {
            return std::nullopt;
        }
        if (block->type != skipType && block->type != uafw::kDescHWAPVersion)
            shape.emplace_back(block->type, block->length);
        position += block->length;
    }
    return shape;
}

// Length of the area at the start of an OTP image: its header's total length, when the header
// carries the signature and the image holds the whole area.
std::optional<std::size_t> OtpAreaLength(std::span<const std::uint8_t> image) {
    CDescGlobal header;
    if (!header.Parse(image) || !header.HasSignature())
        return std::nullopt;
    const std::size_t total = header.m_wTotalLength;
    if (total < CDescGlobal::kSize || total > image.size())
        return std::nullopt;
    return total;
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0,
                   unsigned e = 0) {
    char text[64];
    std::snprintf(text, sizeof(text), format, a, b, c, d, e);
    return text;
}

}  // namespace

void CEepromConfigInfo::ApplyConfigHeader(const CDescGlobal& header) {
    switch (header.m_byMemoryKind) {
        case 0x11:
            g_nProjectType = kProjectEeprom8;
            break;
        case 0x12:
            g_nProjectType = kProjectEeprom16;
            break;
        case 0x30:
        case 0x55:
        case 0x61:
            g_nProjectType = kProjectFlash;
            break;
        case 0x40:
            g_nProjectType = kProjectMtp;
            break;
        case 0x60:
            g_nProjectType = kProjectOtp;
            break;
        default:
            break;
    }
}

std::optional<std::uint32_t> CEepromConfigInfo::LocateConfigArea(
    std::span<const std::uint8_t> image) {
    const ChipLayout layout = SelectedLayout();
    std::uint32_t ca = layout.configAddress;
    const std::size_t length = image.size();
    if (layout.is7040 && g_dwReadLength == kSmallImageLength)
        ca = 0;
    m_byChipCode = 0xFF;
    m_areaOffset.reset();

    DescriptorReader reader;
    std::optional<CDescGlobal> header;
    if (length > ca) {
        header = ReadAreaHeader(reader, image, ca);
        if (header) {
            const uafw::DescFixedValues& fixed = reader.FixedValues();
            if (fixed.hasBankCopy && fixed.bankCopy == uafw::CDescBankCopyInfo::kEnabled)
                m_bBankCopyEnabled = 1;
            if (fixed.hasForceUpdate && (fixed.forceUpdate & 0x10) != 0)
                m_bForceUpdateBit4 = 1;
            m_bForceUpdateBit6 = (fixed.forceUpdate >> 6) & 1;
        }
        if (HasSignature(header)) {
            m_bAreaAtStart = ca == 0 ? 1 : 0;
            m_byChipCode = header->m_byChipCode;
            LoadImageConfig(image);
            CheckImageConfig(image);
            if (ca != 0) {
                m_dwWriteAddress = ca & ~(kConfigPartLength - 1);
                m_dwWriteLength = kConfigPartLength;
                m_areaOffset = length >= kCodeImageLength ? kCodeImageArea : ca;
                return m_areaOffset;
            }
            std::uint32_t end = 0;
            if (!FindCacheCodeEnd(image, end))
                return std::nullopt;
            const std::uint32_t start = end & 0xFFF0;
            const std::uint32_t stop = (m_dwWriteLength & 0xFFF0) + 0x30;
            // A cache code that ends behind the area's total length leaves nothing to write.
            if (stop < start || end >= length)
                return std::nullopt;
            m_dwWriteAddress = start;
            m_dwWriteLength = stop - start;
            m_areaOffset = end;
            return m_areaOffset;
        }
    }
    // No area at "ConfigAddress": a configuration-only image has it at offset 0.
    header = ReadAreaHeader(reader, image, 0);
    if (!HasSignature(header)) {
        m_byChipCode = 0xFF;
        return std::nullopt;
    }
    m_byChipCode = header->m_byChipCode;
    LoadImageConfig(image);
    CheckImageConfig(image);
    m_bAreaAtStart = 1;
    m_areaOffset = length >= kCodeImageLength ? kCodeImageArea : 0;
    return m_areaOffset;
}

bool CEepromConfigInfo::LoadImageConfig(std::span<const std::uint8_t> image) {
    m_strManufacturer.clear();
    m_strSerialText.clear();
    m_strIAD.clear();
    m_strVidPid.clear();
    m_strRevision.clear();
    m_strImageVersion.clear();
    if (AllErased(image))
        return false;

    const ChipLayout layout = SelectedLayout();
    const std::size_t length = image.size();
    std::size_t start = layout.configAddress;
    if (layout.is7040) {
        if (length == kSmallImageLength)
            start = 0;
        const std::int32_t project = g_nProjectType;
        if (project == kProjectOtp || (project == kProjectFlash && length < kSmallImageLength))
            start = 0;
    }
    if (length < start)
        return false;
    DescriptorReader reader;
    std::optional<CDescGlobal> header = ReadAreaHeader(reader, image, start);
    if (!HasSignature(header))
        header = ReadAreaHeader(reader, image, 0);
    // Without the signature at either place the image has no area to read.
    if (!HasSignature(header))
        return false;

    ApplyConfigHeader(*header);
    m_dwWriteLength = header->m_wTotalLength;
    const bool complete = WalkChain(reader, header->m_byCount, [&](CDescriptor& block) {
        if (auto* text = dynamic_cast<uafw::CDescString*>(&block)) {
            if (block.Type() == uafw::kDescStringManu)
                m_strManufacturer = text->Text();
            else if (block.Type() == uafw::kDescStringSN)
                m_strSerialText = text->Text();
            else if (block.Type() == uafw::kDescStringIAD)
                m_strIAD = text->Text();
        } else if (auto* id = dynamic_cast<uafw::CDescVIDPID*>(&block)) {
            m_strVidPid = Format("VID_%04X&PID_%04X", id->Vid(), id->Pid());
            m_strRevision = Format("%04x", id->Revision());
            if (length > kImageVersionMinLength) {
                m_strImageVersion = Format("0x%02X%02X%02X%02X%02X", image[0x1003], image[0x1005],
                                           image[0x1004], image[0x1007], image[0x1006]);
            }
        }
    });
    if (!complete) {
        uafw::ShowMessage(kCorruptedText);
        return false;
    }
    m_wTotalLength = static_cast<std::uint16_t>(m_dwWriteLength);
    return true;
}

bool CEepromConfigInfo::CheckImageConfig(std::span<const std::uint8_t> image) {
    if (AllErased(image))
        return false;
    const ChipLayout layout = SelectedLayout();
    const std::size_t length = image.size();
    std::size_t place = kCodeImageArea;
    if (layout.is7040 && (g_nProjectType == kProjectOtp || length == kSmallImageLength))
        place = 0;
    if (length < place)
        return false;
    DescriptorReader reader;
    const std::optional<CDescGlobal> header = ReadAreaHeader(reader, image, place);
    if (!HasSignature(header))
        return false;
    ApplyConfigHeader(*header);
    m_dwWriteLength = header->m_wTotalLength;
    if (!WalkChain(reader, header->m_byCount, [](CDescriptor&) {})) {
        uafw::ShowMessage(kCorruptedText);
        return false;
    }
    return true;
}

bool CEepromConfigInfo::FindCacheCodeEnd(std::span<const std::uint8_t> image,
                                         std::uint32_t& offset) {
    offset = 0;
    if (AllErased(image))
        return false;
    const ChipLayout layout = SelectedLayout();
    std::size_t place = layout.configAddress;
    if (layout.is7040 && g_dwReadLength == kSmallImageLength)
        place = 0;
    DescriptorReader reader;
    std::optional<CDescGlobal> header = ReadAreaHeader(reader, image, place);
    if (!HasSignature(header))
        header = ReadAreaHeader(reader, image, 0);
    if (!HasSignature(header))
        return false;
    return WalkChain(reader, header->m_byCount, [&](CDescriptor& block) {
        if (block.Type() == uafw::kTypeSmallCachecode)
            offset = static_cast<std::uint32_t>(reader.Position());
    });
}

bool CEepromConfigInfo::PatchImageSN(std::span<std::uint8_t> image, const std::string& text) {
    return PatchImageString(image, text, uafw::kDescStringManu, false);
}

bool CEepromConfigInfo::PatchImageSNEx(std::span<std::uint8_t> image, const std::string& text) {
    return PatchImageString(image, text, uafw::kDescStringSN,
                            ReadSettingInt(0, "SN Function") != 0);
}

bool CEepromConfigInfo::PatchImageString(std::span<std::uint8_t> image, const std::string& text,
                                         std::uint8_t type, bool markerFirst) {
    const ChipLayout layout = SelectedLayout();
    const std::size_t length = image.size();
    // An OTP image carries its area at its start (no tag) and may fill the whole image with it.
    const bool otp = g_nProjectType == kProjectOtp;
    const std::uint64_t ca = otp ? 0 : layout.configAddress;
    const std::uint64_t cs = otp ? length : layout.configSize;
    const std::uint64_t ta = layout.tagAddress;
    // The whole reserved range, and the tag of a code image, must lie inside the image.
    if (ca + cs > length || (ca != 0 && ta + 2 > length))
        return false;

    std::vector<std::uint8_t> content;
    if (markerFirst)
        content.push_back(kSnFunctionMarker);
    content.insert(content.end(), text.begin(), text.end());
    if (content.size() > kMaxSerialBytes)
        return false;

    DescriptorReader reader;
    const std::optional<CDescGlobal> header = ReadAreaHeader(reader, image, ca);
    if (!HasSignature(header))
        return false;
    uafw::DescriptorWriter writer;
    if (!writer.Begin(*header, reader.FixedValues(), true))
        return false;
    bool found = false;
    bool appended = true;
    const bool complete = WalkChain(reader, header->m_byCount, [&](CDescriptor& block) {
        if (block.Type() == type) {
            if (auto* string = dynamic_cast<uafw::CDescString*>(&block)) {
                string->SetContent(content);
                found = true;
            }
        }
        appended = writer.Append(block) && appended;
    });
    if (!complete || !appended)
        return false;
    if (!found) {
        auto block = uafw::MakeStringBlock(type);
        block->SetDescriptorType(3);
        if (!block->SetContent(content) || !writer.Append(*block))
            return false;
    }

    std::vector<std::uint8_t> rebuilt;
    try {
        rebuilt.assign(length, 0xFF);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::span<std::uint8_t> destination(rebuilt.data() + ca, cs);
    if (!writer.Finish(destination, cs))
        return false;
    if (otp) {
        // The OTP is programmed from this area alone: a block the rebuild could not carry over
        // (the code among them) would be lost for good, so the patch must keep every block.
        const auto before = ChainShape(image.subspan(ca), type);
        const auto after = ChainShape(destination, type);
        if (!before || !after || *before != *after)
            return false;
    }
    m_wTotalLength = static_cast<std::uint16_t>(writer.AreaLength());
    std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(ca), rebuilt.begin());
    if (ca != 0) {
        rebuilt[ca] = kFlashMemoryKind;
        rebuilt[ta] = kTagFirst;
        rebuilt[ta + 1] = kTagSecond;
    }
    const auto end = static_cast<std::ptrdiff_t>(ca + cs);
    std::copy(rebuilt.begin(), rebuilt.begin() + end, image.begin());
    return true;
}

bool CEepromConfigInfo::PreActionForAllInOne(std::int32_t& resultCode) {
    LogScope scope("CEepromConfigInfo::PreActionForAllInOne");
    const bool saveSn = ReadSettingInt(0, "SaveSN") != 0;
    const bool otp = g_nProjectType == kProjectOtp;
    if (!saveSn)
        return true;
    if (m_pImage == nullptr) {
        scope.Fail("Save SN Fail\n");
        resultCode = kSaveSnFailCode;
        return false;
    }
    if (otp) {
        // An OTP image is patched as its area, which lies at its start and holds the code, with
        // the OTP's block area as room; the bytes behind the area are never programmed.
        const std::optional<std::size_t> area = OtpAreaLength(*m_pImage);
        if (!area || *area > kOtpAreaCapacity) {
            scope.Fail("Save SN Fail\n");
            resultCode = kSaveSnFailCode;
            return false;
        }
        m_savedImage = *m_pImage;
        m_pImage->assign(kOtpAreaCapacity, 0xFF);
        std::copy_n(m_savedImage.begin(), *area, m_pImage->begin());
    }
    const bool patched = ReadSettingInt(0, "SN Address") != 0
                             ? PatchImageSNEx(*m_pImage, m_strSerialNumber)
                             : PatchImageSN(*m_pImage, m_strSerialNumber);
    if (!patched) {
        if (otp) {
            // The download does not go on; the image is left as it was loaded.
            *m_pImage = std::move(m_savedImage);
            m_savedImage.clear();
        }
        scope.Fail("Save SN Fail\n");
        resultCode = kSaveSnFailCode;
        return false;
    }
    if (otp) {
        m_pImage->resize(std::min<std::size_t>(m_wTotalLength, m_pImage->size()));
        m_savedImage.clear();
        m_savedImage.shrink_to_fit();
    }
    return true;
}
