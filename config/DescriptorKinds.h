#pragma once
// The block kinds every chip knows (strings, identity, code info, the fixed leading blocks and the
// generic kind) and the factory that picks a kind from the block type and the chip code.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config/Descriptor.h"

namespace uafw {

// Block types of the kinds every chip knows.
enum DescType : std::uint8_t {
    kDescStringManu = 1,
    kDescStringProd = 2,
    kDescStringSN = 3,
    kDescVIDPID = 4,
    kDescStringUBistName = 6,
    kDescStringIAD = 7,
    kDescEEPInfo = 8,
    kDescCodeInfo = 15,
    kDescBankCopyInfo = 20,
    kDescForceUpdateInfo = 21,
    kDescHWAPVersion = 47,
};

// A USB string block: [2] bLength, [3] bDescriptorType, [4..] bLength - 2 content bytes. The kind
// holds 56 bytes of string data (bLength, bDescriptorType, content, terminating zero), so bLength
// is at most 55; a block claiming more is refused by Parse.
class CDescString : public CDescriptor {
public:
    static constexpr std::uint8_t kMaxBLength = 55;
    static constexpr std::size_t kMaxContent = kMaxBLength - 2;

    bool Parse(std::span<const std::uint8_t> block) override;
    bool Serialize(std::span<std::uint8_t> out) override;
    std::size_t EncodedLength() const override { return std::size_t{m_byBLength} + 2; }

    std::uint8_t BLength() const { return m_byBLength; }
    std::uint8_t DescriptorType() const { return m_byDescriptorType; }
    void SetDescriptorType(std::uint8_t type) { m_byDescriptorType = type; }
    const std::vector<std::uint8_t>& Content() const { return m_content; }
    // Replaces the content; false (nothing changed) when it exceeds what the kind holds.
    bool SetContent(std::span<const std::uint8_t> content);
    // The content up to its first zero byte.
    std::string Text() const;

protected:
    explicit CDescString(std::uint8_t type) : CDescriptor(type) {}

private:
    std::uint8_t m_byBLength = 2;
    std::uint8_t m_byDescriptorType = 3;
    std::vector<std::uint8_t> m_content;
};

class CDescStringManu final : public CDescString {
public:
    CDescStringManu() : CDescString(kDescStringManu) {}
};
class CDescStringProd final : public CDescString {
public:
    CDescStringProd() : CDescString(kDescStringProd) {}
};
class CDescStringSN final : public CDescString {
public:
    CDescStringSN() : CDescString(kDescStringSN) {}
};
class CDescStringUBistName final : public CDescString {
public:
    CDescStringUBistName() : CDescString(kDescStringUBistName) {}
};
class CDescStringIAD final : public CDescString {
public:
    CDescStringIAD() : CDescString(kDescStringIAD) {}
};

// A new string block of one of the string types (1, 2, 3, 6, 7), or nothing for another type.
std::unique_ptr<CDescString> MakeStringBlock(std::uint8_t type);

// [2-3] VID, [4-5] PID, [6-7] revision, little-endian.
class CDescVIDPID final : public CDescFixedLayout {
public:
    CDescVIDPID();
    std::uint16_t Vid() const { return static_cast<std::uint16_t>(Field(0)); }
    std::uint16_t Pid() const { return static_cast<std::uint16_t>(Field(1)); }
    std::uint16_t Revision() const { return static_cast<std::uint16_t>(Field(2)); }
    void Set(std::uint16_t vid, std::uint16_t pid, std::uint16_t revision);
};

// [2-3] hardware id, [4-5] AP version, little-endian (the first fixed leading block).
class CDescHWAPVersion final : public CDescFixedLayout {
public:
    CDescHWAPVersion();
    std::uint16_t HardwareId() const { return static_cast<std::uint16_t>(Field(0)); }
    std::uint16_t ApVersion() const { return static_cast<std::uint16_t>(Field(1)); }
    void Set(std::uint16_t hardwareId, std::uint16_t apVersion);
};

// A three-byte block with one value byte at [2].
class CDescByteInfo : public CDescFixedLayout {
public:
    std::uint8_t Value() const { return static_cast<std::uint8_t>(Field(0)); }
    void SetValue(std::uint8_t value) { SetField(0, value); }

protected:
    explicit CDescByteInfo(std::uint8_t type);
};

class CDescEEPInfo final : public CDescByteInfo {
public:
    CDescEEPInfo() : CDescByteInfo(kDescEEPInfo) {}
};
// Value 0x5A means bank copy enabled.
class CDescBankCopyInfo final : public CDescByteInfo {
public:
    static constexpr std::uint8_t kEnabled = 0x5A;
    CDescBankCopyInfo() : CDescByteInfo(kDescBankCopyInfo) {}
};
// Bits 4 and 6 of the value are the force-update bits.
class CDescForceUpdateInfo final : public CDescByteInfo {
public:
    CDescForceUpdateInfo() : CDescByteInfo(kDescForceUpdateInfo) {}
};

// [2-3] offset of the code blob from the start of the area, [4-5] blob length. The block carries
// the blob it describes; without one it cannot be written.
class CDescCodeInfo final : public CDescFixedLayout {
public:
    CDescCodeInfo();
    bool Serialize(std::span<std::uint8_t> out) override;

    std::uint16_t BlobOffset() const { return static_cast<std::uint16_t>(Field(0)); }
    std::uint16_t BlobLength() const { return static_cast<std::uint16_t>(Field(1)); }
    void SetBlobOffset(std::uint16_t offset) { SetField(0, offset); }

    bool HasBlob() const { return m_bHasBlob; }
    const std::vector<std::uint8_t>& Blob() const { return m_blob; }
    // Attaches a copy of the blob (at most 0xFFFF bytes); its length becomes the blob length.
    bool SetBlob(std::span<const std::uint8_t> blob);

private:
    std::vector<std::uint8_t> m_blob;
    bool m_bHasBlob = false;
};

// Every block of a type the chip does not know. It keeps the bytes it was parsed from and writes
// them back unchanged, so a rebuilt area carries it over as it was.
class CDescDummy final : public CDescriptor {
public:
    CDescDummy() : CDescriptor(0) {}
    bool Parse(std::span<const std::uint8_t> block) override;
    // Writes the kept bytes; false when the block holds none (it was never parsed).
    bool Serialize(std::span<std::uint8_t> out) override;
    std::size_t EncodedLength() const override { return m_bytes.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// A new block object of the kind for the pair: strings (1, 2, 3, 6, 7), VID/PID (4) and code info
// (15) on every chip; chip code 17 knows 8 to 12, 16, 27 to 33 and 47 to 58; chip codes 21 and 24
// know 14, 39 and 64 to 74. Every other pair, type 0 included, gives CDescDummy.
std::unique_ptr<CDescriptor> CreateDescriptor(std::uint8_t type, std::uint8_t chipCode);

}  // namespace uafw
