#pragma once
// Rebuilds a configuration area: Begin starts a new header from a source header and its fixed
// values, Append writes one block after another, Finish places the code blob right behind the
// chain, writes the header and copies the area out when it fits.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "config/Descriptor.h"
#include "config/DescriptorReader.h"

namespace uafw {

// Hardware id of the version block written for a chip code (0 for a code without one).
std::uint16_t HardwareIdOfChip(std::uint8_t chipCode);

// AP version written when the source area carries none.
inline constexpr std::uint16_t kDefaultApVersion = 0x1060;
// Room that must stay free behind a finished area in its reserved size.
inline constexpr std::size_t kAreaReserveBytes = 128;

class DescriptorWriter {
public:
    // Starts a new area with the source's memory kind, boot option and chip code, then writes the
    // fixed leading blocks: a version block when `regenerate` is set (hardware id from the chip
    // code, the source's AP version or 0x1060), and the EEPROM-info, bank-copy (chip codes 25 and
    // 26) and force-update blocks the source had. False when one of them could not be written.
    bool Begin(const CDescGlobal& source, const DescFixedValues& fixed, bool regenerate);
    // Writes the block behind the chain; false when it cannot be written, when the area would
    // exceed 0xFFFF bytes or the count 255 blocks. A small-cache-code block gets its data offset
    // set to the place right behind its eight header bytes.
    bool Append(CDescriptor& block);
    // Writes the code blob behind the chain (and its offset into the code-info block), the header
    // at the start, and copies the area with its blob to `destination`; false when the area plus
    // 128 bytes exceeds `capacity` or the destination, and then nothing is copied.
    bool Finish(std::span<std::uint8_t> destination, std::size_t capacity);

    const CDescGlobal& Header() const { return m_header; }
    std::size_t Position() const { return m_dwPosition; }
    std::uint16_t BlobLength() const { return static_cast<std::uint16_t>(m_blob.size()); }
    // Length of the area with its code blob, as Finish copies it.
    std::size_t AreaLength() const { return m_header.m_wTotalLength + m_blob.size(); }

private:
    std::vector<std::uint8_t> m_out;
    bool m_bBegun = false;
    std::size_t m_dwPosition = 0;
    CDescGlobal m_header;
    std::vector<std::uint8_t> m_blob;
    std::optional<std::size_t> m_codeInfoOffsetField;
};

}  // namespace uafw
