#include "flow/OtpBlockLayout.h"

#include <algorithm>

#include "config/Descriptor.h"
#include "config/DescriptorReader.h"
#include "flow/OtpMemoryMap.h"

namespace {

constexpr std::uint8_t kCodeKind = 1;
constexpr std::uint8_t kCodeDescriptorType = uafw::kTypeSmallCachecode;
// Chip byte of a block: chip code in bits 3-7, the block's boot option in bits 0-2.
constexpr std::uint8_t kCodeBlockOption = 3;
constexpr std::uint8_t kConfigBlockOption = 1;
constexpr std::uint8_t kJoinedOption = 2;
// Blocks of a code block: the two fixed leading blocks and the code descriptor.
constexpr std::uint8_t kCodeBlockCount = 3;

std::uint8_t ChipByte(std::uint8_t chipCode, std::uint8_t option) {
    return static_cast<std::uint8_t>(((chipCode & 0x1F) << 3) | option);
}

// Header fields 3-5 of a block or area: total length and count.
void SetLengthAndCount(std::span<std::uint8_t> out, std::size_t at, std::uint32_t length,
                       std::uint8_t count) {
    out[at + 3] = static_cast<std::uint8_t>(length & 0xFF);
    out[at + 4] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    out[at + 5] = count;
}

void PutVdEntry(std::span<std::uint8_t> out, int index, std::uint32_t start, std::uint32_t length,
                std::uint8_t flag) {
    const std::size_t at = OtpVdEntryAddress(index);
    out[at] = static_cast<std::uint8_t>(start >> 8);
    out[at + 1] = static_cast<std::uint8_t>(start);
    out[at + 2] = static_cast<std::uint8_t>(length >> 8);
    out[at + 3] = static_cast<std::uint8_t>(length);
    out[at + 4] = flag;
}

// The configuration block's length: the total length less the code descriptor.
std::uint32_t ConfigLength(const OtpImageLayout& layout) {
    return layout.totalLength - (layout.hasCode ? layout.codeLength : 0);
}

}  // namespace

std::optional<OtpImageLayout> COtpBlockLayout::Parse(std::span<const std::uint8_t> image) {
    const std::span<const std::uint8_t> held =
        image.first(std::min(image.size(), uafw::kMaxAreaBytes));
    uafw::DescriptorReader reader;
    reader.Open(held);
    const std::optional<uafw::CDescGlobal> header = reader.ReadHeader();
    if (!header || !header->HasSignature())
        return std::nullopt;

    OtpImageLayout layout;
    layout.chipCode = header->m_byChipCode;
    layout.bootOption = header->m_byBootOption;
    layout.totalLength = header->m_wTotalLength;
    layout.count = header->m_byCount;

    // Walk the descriptors behind the fixed leading blocks by their headers only: the code
    // descriptor is taken as it lies, whatever its size or the chip's block kinds.
    std::size_t position = reader.Position();
    for (int i = 0; i < header->m_byCount; ++i) {
        if (position >= held.size())
            return std::nullopt;
        const std::optional<uafw::BlockHeader> block =
            uafw::DecodeBlockHeader(held.subspan(position));
        if (!block || block->length < uafw::kMinBlockLength ||
            block->length > held.size() - position) {
            return std::nullopt;
        }
        if (block->type == kCodeDescriptorType && !layout.hasCode) {
            // The code block is the prefix and the code descriptor right behind it: a code
            // descriptor elsewhere cannot be cut out as one.
            if (position != kPrefixLength)
                return std::nullopt;
            layout.hasCode = true;
            layout.codeLength = block->length;
        } else {
            layout.hasConfig = true;
        }
        position += block->length;
    }

    // The code lies at 15..15+n-1 and the configuration part up to the total length; both must
    // be held, and each block must keep its 16-bit length.
    if (layout.hasCode &&
        (held.size() < kPrefixLength || layout.codeLength > held.size() - kPrefixLength ||
         layout.codeLength + kPrefixLength > uafw::kMaxBlockBytes)) {
        return std::nullopt;
    }
    if (layout.hasConfig) {
        const std::uint32_t least =
            layout.hasCode ? layout.codeLength + kPrefixLength : uafw::CDescGlobal::kSize;
        if (layout.totalLength < least || layout.totalLength > held.size())
            return std::nullopt;
    }
    return layout;
}

int COtpBlockLayout::MakeBlock(std::uint8_t kind, std::span<const std::uint8_t> image,
                               std::vector<std::uint8_t>& block) {
    block.clear();
    const std::optional<OtpImageLayout> layout = Parse(image);
    if (!layout)
        return kOtpBlockUnreadable;
    if (kind == kCodeKind) {
        if (!layout->hasCode)
            return kOtpBlockAbsent;
        const std::uint32_t length = layout->codeLength + kPrefixLength;
        block.assign(image.begin(), image.begin() + length);
        block[2] = ChipByte(layout->chipCode, kCodeBlockOption);
        SetLengthAndCount(block, 0, length, kCodeBlockCount);
        return kOtpBlockPrepared;
    }
    if (!layout->hasConfig)
        return kOtpBlockAbsent;
    const std::uint32_t length = ConfigLength(*layout);
    if (!layout->hasCode) {
        // A configuration-only image is its own configuration block.
        block.assign(image.begin(), image.begin() + length);
        return kOtpBlockPrepared;
    }
    const std::uint32_t from = layout->codeLength + kPrefixLength;
    block.assign(image.begin(), image.begin() + kPrefixLength);
    block.insert(block.end(), image.begin() + from, image.begin() + layout->totalLength);
    block[2] = ChipByte(layout->chipCode, kConfigBlockOption);
    SetLengthAndCount(block, 0, length, static_cast<std::uint8_t>(layout->count + 1));
    return kOtpBlockPrepared;
}

bool COtpBlockLayout::MakeFlashImage(std::vector<std::uint8_t>& image) {
    if (image.size() < kOtpSize)
        return false;
    const std::optional<OtpImageLayout> layout = Parse(image);
    if (!layout)
        return false;
    const std::uint32_t codeLength = layout->hasCode ? layout->codeLength + kPrefixLength : 0;
    const std::uint32_t configLength = layout->hasConfig ? ConfigLength(*layout) : 0;
    // Blocks that reach into the table region would overwrite the VD entries recording them.
    if (codeLength + configLength > kOtpBlockCapacity)
        return false;

    std::vector<std::uint8_t> out(image.size(), 0xFF);
    std::fill(out.begin() + kOtpBlockCapacity, out.begin() + kOtpSize, 0x00);
    const bool bootOption2 = layout->bootOption == 2;
    if (layout->hasCode) {
        std::copy(image.begin(), image.begin() + codeLength, out.begin());
        if (bootOption2)
            out[2] = ChipByte(layout->chipCode, kCodeBlockOption);
        SetLengthAndCount(out, 0, codeLength, kCodeBlockCount);
        PutVdEntry(out, 15, 0, codeLength, kVdCode);
    }
    if (layout->hasConfig) {
        const std::size_t p = codeLength;
        if (layout->hasCode) {
            const std::uint32_t from = layout->codeLength + kPrefixLength;
            std::copy(image.begin(), image.begin() + kPrefixLength, out.begin() + p);
            std::copy(image.begin() + from, image.begin() + layout->totalLength,
                      out.begin() + p + kPrefixLength);
            SetLengthAndCount(out, p, configLength, static_cast<std::uint8_t>(layout->count + 1));
            PutVdEntry(out, 14, codeLength, configLength, kVdConfig);
        } else {
            // Without code the area is the configuration block as it is: its total length and
            // count already describe it.
            std::copy(image.begin(), image.begin() + configLength, out.begin());
            PutVdEntry(out, 15, 0, configLength, kVdConfig);
        }
        if (bootOption2)
            out[p + 2] = ChipByte(layout->chipCode, kConfigBlockOption);
    }
    image = std::move(out);
    return true;
}

std::vector<std::uint8_t> COtpBlockLayout::CombineBlocks(std::span<const std::uint8_t> code,
                                                         std::span<const std::uint8_t> config) {
    if (config.size() < kPrefixLength)
        return std::vector<std::uint8_t>(code.begin(), code.end());
    if (code.empty())
        return std::vector<std::uint8_t>(config.begin(), config.end());
    std::vector<std::uint8_t> joined(code.begin(), code.end());
    joined.insert(joined.end(), config.begin() + kPrefixLength, config.end());
    if (code.size() < uafw::CDescGlobal::kSize)
        return joined;
    uafw::DescriptorReader reader;
    reader.Open(config);
    const std::optional<uafw::CDescGlobal> header = reader.ReadHeader();
    if (!header)
        return joined;
    const std::size_t total = std::min<std::size_t>(joined.size(), uafw::kMaxBlockBytes);
    SetLengthAndCount(joined, 0, static_cast<std::uint32_t>(total),
                      static_cast<std::uint8_t>(std::min(header->m_byCount + 3, 0xFF)));
    joined[2] = ChipByte(header->m_byChipCode, kJoinedOption);
    return joined;
}
