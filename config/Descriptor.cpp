#include "config/Descriptor.h"

#include <algorithm>

namespace uafw {

namespace {

constexpr std::uint8_t kLongFormB0 = 0xFF;
constexpr std::uint8_t kLongFormB1 = 0xE7;
constexpr std::uint16_t kLongFormMinLength = 1023;
constexpr std::uint16_t kShortFormMaxLength = 255;

std::uint32_t ReadField(std::span<const std::uint8_t> b, const FieldLayout& f) {
    std::uint32_t v = 0;
    for (std::uint8_t i = 0; i < f.size; ++i) {
        const std::uint8_t byte = b[f.offset + i];
        if (f.bigEndian)
            v = (v << 8) | byte;
        else
            v |= static_cast<std::uint32_t>(byte) << (8 * i);
    }
    return v;
}

void WriteField(std::span<std::uint8_t> b, const FieldLayout& f, std::uint32_t v) {
    for (std::uint8_t i = 0; i < f.size; ++i) {
        const unsigned shift = f.bigEndian ? 8u * (f.size - 1u - i) : 8u * i;
        b[f.offset + i] = static_cast<std::uint8_t>((v >> shift) & 0xFF);
    }
}

}  // namespace

std::optional<BlockHeader> DecodeBlockHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2)
        return std::nullopt;
    BlockHeader h;
    const std::uint8_t b0 = bytes[0];
    const std::uint8_t b1 = bytes[1];
    // The long form is the 10-bit length 1023 combined with type 39.
    if ((((b1 & 0xC0) << 2) | b0) == 1023 && (b1 & 0x3F) == kTypeSmallCachecode) {
        if (bytes.size() < 4)
            return std::nullopt;
        h.length = GetLe16(bytes, 2);
        h.type = kTypeSmallCachecode;
        h.longForm = true;
        return h;
    }
    h.length = b0;
    h.type = b1;
    return h;
}

bool EncodeBlockHeader(std::span<std::uint8_t> out, std::uint16_t length, std::uint8_t type) {
    if (length >= kLongFormMinLength) {
        if (out.size() < 4)
            return false;
        out[0] = kLongFormB0;
        out[1] = static_cast<std::uint8_t>(0xC0 | (type & 0x3F));
        PutLe16(out, 2, length);
        return true;
    }
    if (length > kShortFormMaxLength || out.size() < 2)
        return false;
    out[0] = static_cast<std::uint8_t>(length);
    out[1] = type;
    return true;
}

bool CDescriptor::Parse(std::span<const std::uint8_t> block) {
    const auto h = DecodeBlockHeader(block);
    if (!h)
        return false;
    m_wLength = h->length;
    m_byType = h->type;
    if (h->longForm) {
        m_wExtLength = h->length;
        m_wPayloadSize = static_cast<std::uint16_t>(h->length >= 4 ? h->length - 4 : 0);
    }
    return true;
}

bool CDescGlobal::Parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kSize)
        return false;
    m_byMemoryKind = bytes[0];
    m_bySignature = bytes[1];
    m_byBootOption = bytes[2] & 0x07;
    m_byChipCode = static_cast<std::uint8_t>(bytes[2] >> 3);
    m_wTotalLength = GetLe16(bytes, 3);
    m_byCount = bytes[5];
    return true;
}

bool CDescGlobal::Serialize(std::span<std::uint8_t> out) const {
    if (out.size() < kSize)
        return false;
    out[0] = m_byMemoryKind;
    out[1] = m_bySignature;
    out[2] = static_cast<std::uint8_t>(((m_byChipCode & 0x1F) << 3) | (m_byBootOption & 0x07));
    PutLe16(out, 3, m_wTotalLength);
    out[5] = m_byCount;
    return true;
}

LayoutBuilder& LayoutBuilder::Add(int count, std::uint8_t size, bool bigEndian) {
    for (int i = 0; i < count; ++i) {
        m_fields.push_back(FieldLayout{m_next, size, bigEndian});
        m_next = static_cast<std::uint16_t>(m_next + size);
    }
    return *this;
}

LayoutBuilder& LayoutBuilder::U8(int count) {
    return Add(count, 1, false);
}
LayoutBuilder& LayoutBuilder::Le16(int count) {
    return Add(count, 2, false);
}
LayoutBuilder& LayoutBuilder::Be16(int count) {
    return Add(count, 2, true);
}
LayoutBuilder& LayoutBuilder::Le32(int count) {
    return Add(count, 4, false);
}
LayoutBuilder& LayoutBuilder::Be32(int count) {
    return Add(count, 4, true);
}

CDescFixedLayout::CDescFixedLayout(std::uint8_t type, const std::vector<FieldLayout>& fields)
    : CDescriptor(type), m_fields(fields), m_values(fields.size(), 0) {
    std::uint16_t end = 2;
    for (const FieldLayout& f : m_fields)
        end = std::max<std::uint16_t>(end, static_cast<std::uint16_t>(f.offset + f.size));
    m_wFixedLength = end;
    m_wLength = end;
}

bool CDescFixedLayout::Parse(std::span<const std::uint8_t> block) {
    if (!CDescriptor::Parse(block))
        return false;
    if (m_wLength != m_wFixedLength || block.size() < m_wFixedLength)
        return false;
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        m_values[i] = ReadField(block, m_fields[i]);
    return true;
}

bool CDescFixedLayout::Serialize(std::span<std::uint8_t> out) {
    if (out.size() < m_wFixedLength)
        return false;
    m_wLength = m_wFixedLength;
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        WriteField(out, m_fields[i], m_values[i]);
    return EncodeBlockHeader(out, m_wLength, m_byType);
}

std::optional<std::size_t> CDescFixedLayout::FieldAt(std::uint16_t offset) const {
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].offset == offset)
            return i;
    }
    return std::nullopt;
}

}  // namespace uafw
