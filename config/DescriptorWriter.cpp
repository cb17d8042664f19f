#include "config/DescriptorWriter.h"

#include <algorithm>

#include "config/DescriptorKinds.h"
#include "config/DescriptorKinds7040.h"

namespace uafw {

namespace {

constexpr std::size_t kMaxBlocks = 255;

}  // namespace

std::uint16_t HardwareIdOfChip(std::uint8_t chipCode) {
    switch (chipCode) {
        case 17:
            return 0x7020;
        case 21:
            return 0x7040;
        case 22:
            return 0x7030;
        case 23:
            return 0x7032;
        case 24:
            return 0x7042;
        case 25:
            return 0x7050;
        case 26:
            return 0x7080;
        // Further chips of the family.
        case 27:
            return 0x7060;
        case 28:
            return 0x7070;
        case 29:
            return 0x7090;
        case 30:
            return 0x70A0;
        case 31:
            return 0x70B0;
        default:
            return 0;
    }
}

bool DescriptorWriter::Begin(const CDescGlobal& source, const DescFixedValues& fixed,
                             bool regenerate) {
    m_out.assign(kMaxBlockBytes + 1, 0xFF);
    m_bBegun = true;
    m_dwPosition = CDescGlobal::kSize;
    m_header = CDescGlobal();
    m_header.m_byMemoryKind = source.m_byMemoryKind;
    m_header.m_bySignature = kAreaSignature;
    m_header.m_byBootOption = source.m_byBootOption;
    m_header.m_byChipCode = source.m_byChipCode;
    m_header.m_wTotalLength = CDescGlobal::kSize;
    m_header.m_byCount = 0;
    m_blob.clear();
    m_codeInfoOffsetField.reset();

    bool ok = true;
    if (regenerate) {
        CDescHWAPVersion version;
        version.Set(HardwareIdOfChip(source.m_byChipCode),
                    fixed.apVersion != 0 ? fixed.apVersion : kDefaultApVersion);
        ok = Append(version) && ok;
    }
    if (fixed.hasEepInfo) {
        CDescEEPInfo eep;
        eep.SetValue(fixed.eepInfo);
        ok = Append(eep) && ok;
    }
    if (HasBankCopyBlock(source.m_byChipCode) && fixed.hasBankCopy) {
        CDescBankCopyInfo bank;
        bank.SetValue(fixed.bankCopy);
        ok = Append(bank) && ok;
    }
    if (fixed.hasForceUpdate) {
        CDescForceUpdateInfo force;
        force.SetValue(fixed.forceUpdate);
        ok = Append(force) && ok;
    }
    return ok;
}

bool DescriptorWriter::Append(CDescriptor& block) {
    if (!m_bBegun || m_header.m_byCount >= kMaxBlocks)
        return false;
    const std::size_t length = block.EncodedLength();
    if (length < kMinBlockLength || m_dwPosition + length > kMaxBlockBytes)
        return false;
    const auto out = std::span<std::uint8_t>(m_out).subspan(m_dwPosition);
    if (!block.Serialize(out))
        return false;
    if (auto* cache = dynamic_cast<CDescSmallCachecode*>(&block)) {
        // The data lies right behind the block's eight header bytes.
        const auto offset =
            static_cast<std::uint16_t>(m_dwPosition + CDescSmallCachecode::kHeaderBytes);
        cache->SetDataOffset(offset);
        PutLe16(out, 4, offset);
    }
    m_dwPosition += length;
    m_header.m_wTotalLength = static_cast<std::uint16_t>(m_header.m_wTotalLength + length);
    ++m_header.m_byCount;
    if (auto* code = dynamic_cast<CDescCodeInfo*>(&block)) {
        m_blob = code->Blob();
        m_codeInfoOffsetField = m_dwPosition - 4;
    }
    return true;
}

bool DescriptorWriter::Finish(std::span<std::uint8_t> destination, std::size_t capacity) {
    if (!m_bBegun)
        return false;
    const std::size_t n = m_dwPosition + m_blob.size();
    // The whole area, blob included, must stay expressible in 16 bits.
    if (n > kMaxBlockBytes)
        return false;
    if (m_codeInfoOffsetField) {
        PutLe16(m_out, *m_codeInfoOffsetField, static_cast<std::uint16_t>(m_dwPosition));
        if (m_out.size() < n)
            m_out.resize(n, 0xFF);
        std::copy(m_blob.begin(), m_blob.end(),
                  m_out.begin() + static_cast<std::ptrdiff_t>(m_dwPosition));
    }
    if (!m_header.Serialize(m_out))
        return false;
    if (n + kAreaReserveBytes > capacity || n > destination.size())
        return false;
    std::copy(m_out.begin(), m_out.begin() + static_cast<std::ptrdiff_t>(n), destination.begin());
    return true;
}

}  // namespace uafw
