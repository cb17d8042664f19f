#include "config/DescriptorReader.h"

#include <algorithm>

#include "config/DescriptorKinds.h"
#include "config/DescriptorKinds7040.h"

namespace uafw {

namespace {

constexpr std::uint16_t kVersionBlockLength = 6;
constexpr std::uint16_t kByteBlockLength = 3;

// One block fewer in the count; a count that is already 0 stays 0.
void CountDown(std::uint8_t& count) {
    if (count > 0)
        --count;
}

}  // namespace

void DescriptorReader::Open(std::span<const std::uint8_t> area) {
    const std::size_t n = std::min(area.size(), kMaxAreaBytes);
    m_area.assign(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(n));
    m_bOpen = true;
    m_dwPosition = CDescGlobal::kSize;
    m_header = CDescGlobal();
    m_fixed = DescFixedValues();
    m_bVersionTaken = m_bEepTaken = m_bBankCopyTaken = m_bForceUpdateTaken = false;
    m_blob.clear();
}

std::optional<BlockHeader> DescriptorReader::HeaderAtPosition() const {
    if (m_dwPosition >= m_area.size())
        return std::nullopt;
    const auto rest = std::span<const std::uint8_t>(m_area).subspan(m_dwPosition);
    const auto h = DecodeBlockHeader(rest);
    // A block shorter than its own header would never move the walk on.
    if (!h || h->length < kMinBlockLength || h->length > rest.size())
        return std::nullopt;
    return h;
}

void DescriptorReader::TakeByteBlock(std::uint8_t type, bool& taken, bool& present,
                                     std::uint8_t& value, std::uint8_t& count) {
    if (taken) {
        CountDown(count);
        return;
    }
    present = false;
    const auto h = HeaderAtPosition();
    if (h && !h->longForm && h->length == kByteBlockLength && h->type == type) {
        CountDown(count);
        present = true;
        value = m_area[m_dwPosition + 2];
        m_dwPosition += kByteBlockLength;
        taken = true;
    }
}

std::optional<CDescGlobal> DescriptorReader::ReadHeader() {
    if (!m_bOpen)
        return std::nullopt;
    CDescGlobal header;
    if (!header.Parse(m_area))
        return std::nullopt;
    std::uint8_t count = header.m_byCount;

    if (m_bVersionTaken) {
        CountDown(count);
    } else {
        const auto h = HeaderAtPosition();
        if (h && !h->longForm && h->length == kVersionBlockLength && h->type == kDescHWAPVersion) {
            m_fixed.apVersion = GetLe16(m_area, m_dwPosition + 4);
            CountDown(count);
            m_dwPosition += kVersionBlockLength;
            m_bVersionTaken = true;
        }
    }
    TakeByteBlock(kDescEEPInfo, m_bEepTaken, m_fixed.hasEepInfo, m_fixed.eepInfo, count);
    if (HasBankCopyBlock(header.m_byChipCode)) {
        TakeByteBlock(kDescBankCopyInfo, m_bBankCopyTaken, m_fixed.hasBankCopy, m_fixed.bankCopy,
                      count);
    }
    TakeByteBlock(kDescForceUpdateInfo, m_bForceUpdateTaken, m_fixed.hasForceUpdate,
                  m_fixed.forceUpdate, count);

    header.m_byCount = count;
    m_header = header;
    return header;
}

bool DescriptorReader::TakeBlob(std::size_t offset, std::size_t length) {
    if (offset > m_area.size() || length > m_area.size() - offset)
        return false;
    m_blob.assign(m_area.begin() + static_cast<std::ptrdiff_t>(offset),
                  m_area.begin() + static_cast<std::ptrdiff_t>(offset + length));
    return true;
}

std::unique_ptr<CDescriptor> DescriptorReader::NextBlock() {
    if (!m_bOpen || m_dwPosition >= m_area.size() || m_dwPosition >= m_header.m_wTotalLength)
        return nullptr;
    const auto h = HeaderAtPosition();
    if (!h)
        return nullptr;
    std::unique_ptr<CDescriptor> block = CreateDescriptor(h->type, m_header.m_byChipCode);
    const auto bytes = std::span<const std::uint8_t>(m_area).subspan(m_dwPosition, h->length);
    if (!block->Parse(bytes))
        return nullptr;

    if (auto* code = dynamic_cast<CDescCodeInfo*>(block.get())) {
        if (!TakeBlob(code->BlobOffset(), code->BlobLength()))
            return nullptr;
        if (!code->HasBlob())
            code->SetBlob(m_blob);
    } else if (auto* cache = dynamic_cast<CDescSmallCachecode*>(block.get())) {
        // The data at the declared offset is what the chip loads; it replaces the inline bytes.
        if (!TakeBlob(cache->DataOffset(), cache->DataLength()))
            return nullptr;
        cache->SetData(m_blob);
    }
    m_dwPosition += h->length;
    return block;
}

bool DescriptorReader::SkipBlock() {
    if (!m_bOpen)
        return false;
    const auto h = HeaderAtPosition();
    if (!h)
        return false;
    m_dwPosition += h->length;
    return true;
}

}  // namespace uafw
