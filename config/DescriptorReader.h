#pragma once
// Walks the chain of a configuration area: Open copies the area, ReadHeader decodes the area
// header and takes the fixed leading blocks, NextBlock returns the following blocks as objects of
// their kind, SkipBlock steps over a block the walk cannot produce.
//
// A caller walks an area like this: Open, ReadHeader, then for the header's remaining count:
// NextBlock; when it yields nothing, SkipBlock; when that fails too, the chain is broken.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "config/Descriptor.h"

namespace uafw {

// The values of the fixed leading blocks: version, EEPROM info, bank copy, force update.
struct DescFixedValues {
    std::uint16_t apVersion = 0;
    bool hasEepInfo = false;
    std::uint8_t eepInfo = 0;
    bool hasBankCopy = false;
    std::uint8_t bankCopy = 0;
    bool hasForceUpdate = false;
    std::uint8_t forceUpdate = 0;
};

// Chip codes that have a bank-copy block among the fixed leading blocks.
inline bool HasBankCopyBlock(std::uint8_t chipCode) {
    return chipCode == 25 || chipCode == 26;
}

class DescriptorReader {
public:
    // Copies min(area size, 0x200000) bytes; the walk starts behind the six header bytes.
    void Open(std::span<const std::uint8_t> area);
    bool IsOpen() const { return m_bOpen; }

    // The area header with the count of the blocks that remain after the fixed leading blocks, or
    // nothing when no area is open or fewer than six bytes are held. Called again, it decodes the
    // header afresh and still subtracts the blocks taken before.
    std::optional<CDescGlobal> ReadHeader();
    // The next block as an object of its kind, or nothing: past the bytes held or the header's
    // total length, a block running past the bytes held, a block its kind refuses, or a code
    // blob or cache-code data that lies outside the bytes held.
    std::unique_ptr<CDescriptor> NextBlock();
    // Steps over one block by its header length; false when that block runs past the bytes held.
    bool SkipBlock();

    // Offset of the next block from the start of the area.
    std::size_t Position() const { return m_dwPosition; }
    std::size_t Size() const { return m_area.size(); }
    const CDescGlobal& Header() const { return m_header; }
    const DescFixedValues& FixedValues() const { return m_fixed; }
    // The last code blob or cache-code data taken out.
    std::span<const std::uint8_t> Blob() const { return m_blob; }

private:
    // The block header at the position when the whole block lies inside the bytes held.
    std::optional<BlockHeader> HeaderAtPosition() const;
    // Takes a three-byte fixed block of the type when it stands at the position.
    void TakeByteBlock(std::uint8_t type, bool& taken, bool& present, std::uint8_t& value,
                       std::uint8_t& count);
    // Copies the bytes at [offset, offset + length) of the area into the blob; false when they
    // lie outside the bytes held.
    bool TakeBlob(std::size_t offset, std::size_t length);

    std::vector<std::uint8_t> m_area;
    bool m_bOpen = false;
    std::size_t m_dwPosition = 0;
    CDescGlobal m_header;
    DescFixedValues m_fixed;
    bool m_bVersionTaken = false;
    bool m_bEepTaken = false;
    bool m_bBankCopyTaken = false;
    bool m_bForceUpdateTaken = false;
    std::vector<std::uint8_t> m_blob;
};

}  // namespace uafw
