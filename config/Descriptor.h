#pragma once
// The building blocks of a configuration area: the two-byte block header with its short and long
// forms, the block object every kind derives from, the six-byte area header, and the fixed-layout
// block whose fields are described by a table of offsets, sizes and byte orders.
//
// Every decode takes the bytes actually held and never reads past them; every encode takes the
// room actually available and fails when the block does not fit.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace uafw {

// Largest area a reader copies and largest code blob a block carries.
inline constexpr std::size_t kMaxAreaBytes = 0x200000;
// Largest length a 16-bit length field or an area's total length can express.
inline constexpr std::size_t kMaxBlockBytes = 0xFFFF;
// The signature byte of an area header.
inline constexpr std::uint8_t kAreaSignature = 0xA5;

// Little- and big-endian helpers over spans; the caller has checked the bounds.
inline std::uint16_t GetLe16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline void PutLe16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Decoded two-byte block header (long form: four bytes).
struct BlockHeader {
    std::uint16_t length = 0;  // whole block, header included
    std::uint8_t type = 0;
    bool longForm = false;
};

// Block type of the only kind that is written in the long form.
inline constexpr std::uint8_t kTypeSmallCachecode = 39;
// Shortest block that can exist: its two header bytes.
inline constexpr std::uint16_t kMinBlockLength = 2;

// Decodes the header at the start of `bytes`: b0 = 0xFF with b1 = 0xE7 is the long form of type
// 39 with the 16-bit little-endian length at bytes 2-3; every other pair is a short form of
// length b0 and type b1. Nothing when the bytes held are too few for the form.
std::optional<BlockHeader> DecodeBlockHeader(std::span<const std::uint8_t> bytes);

// Encodes a header: lengths of 1023 or more in the long form (b0 = 0xFF, b1 = 0xC0 | type & 0x3F,
// 16-bit length at bytes 2-3), lengths up to 255 in the short form. False when the room is too
// small or the length has no form (256 to 1022).
bool EncodeBlockHeader(std::span<std::uint8_t> out, std::uint16_t length, std::uint8_t type);

// The block object. A kind decodes its fields with Parse from exactly the bytes of its block, and
// writes them back with Serialize, which sets the kind's length and type and writes the header.
class CDescriptor {
public:
    virtual ~CDescriptor() = default;

    // Decodes the block at the start of `block` (the block's bytes, as many as are held). The base
    // decodes the header; it fails only when the header cannot be decoded from what is held.
    virtual bool Parse(std::span<const std::uint8_t> block);
    // Writes the block at the start of `out`; false when it does not fit or cannot be written.
    virtual bool Serialize(std::span<std::uint8_t> out) = 0;
    // Number of bytes Serialize writes with the current content.
    virtual std::size_t EncodedLength() const = 0;

    std::uint16_t Length() const { return m_wLength; }
    std::uint16_t ExtLength() const { return m_wExtLength; }
    std::uint16_t PayloadSize() const { return m_wPayloadSize; }
    std::uint8_t Type() const { return m_byType; }

protected:
    explicit CDescriptor(std::uint8_t type) : m_byType(type) {}

    std::uint16_t m_wPayloadSize = 0;
    std::uint8_t m_byFlag = 0;
    std::uint16_t m_wLength = 0;
    std::uint16_t m_wExtLength = 0;
    std::uint8_t m_byType = 0;
};

// The six-byte area header: memory-kind code, signature 0xA5, boot option (bits 0-2) and chip
// code (bits 3-7), total length of the header and the chain (16-bit little-endian), block count.
class CDescGlobal {
public:
    static constexpr std::size_t kSize = 6;

    // False when fewer than six bytes are held.
    bool Parse(std::span<const std::uint8_t> bytes);
    bool Serialize(std::span<std::uint8_t> out) const;

    std::uint8_t m_byMemoryKind = 0xFF;
    std::uint8_t m_bySignature = 0xFF;
    std::uint8_t m_byBootOption = 0;  // bits 0-2 of byte 2
    std::uint8_t m_byChipCode = 0;    // bits 3-7 of byte 2
    std::uint16_t m_wTotalLength = 0;
    std::uint8_t m_byCount = 0;

    bool HasSignature() const { return m_bySignature == kAreaSignature; }
};

// One field of a fixed-layout block.
struct FieldLayout {
    std::uint16_t offset;  // from the block's first byte
    std::uint8_t size;     // 1, 2 or 4 bytes
    bool bigEndian;
};

// Describes a fixed layout field by field, starting right behind the two header bytes.
class LayoutBuilder {
public:
    LayoutBuilder& U8(int count = 1);
    LayoutBuilder& Le16(int count = 1);
    LayoutBuilder& Be16(int count = 1);
    LayoutBuilder& Le32(int count = 1);
    LayoutBuilder& Be32(int count = 1);
    std::vector<FieldLayout> Build() const { return m_fields; }

private:
    LayoutBuilder& Add(int count, std::uint8_t size, bool bigEndian);
    std::vector<FieldLayout> m_fields;
    std::uint16_t m_next = 2;
};

// A block of a fixed length whose fields all lie in a table; Parse accepts only a block of exactly
// that length, so the fields never lie outside the block.
class CDescFixedLayout : public CDescriptor {
public:
    bool Parse(std::span<const std::uint8_t> block) override;
    bool Serialize(std::span<std::uint8_t> out) override;
    std::size_t EncodedLength() const override { return m_wFixedLength; }

    std::size_t FieldCount() const { return m_fields.size(); }
    std::uint32_t Field(std::size_t index) const { return m_values.at(index); }
    void SetField(std::size_t index, std::uint32_t value) { m_values.at(index) = value; }
    // The field that starts at the block offset, or nothing.
    std::optional<std::size_t> FieldAt(std::uint16_t offset) const;

protected:
    CDescFixedLayout(std::uint8_t type, const std::vector<FieldLayout>& fields);

private:
    const std::vector<FieldLayout>& m_fields;
    std::vector<std::uint32_t> m_values;
    std::uint16_t m_wFixedLength;
};

}  // namespace uafw
