#pragma once
// The OTP block layout of a firmware image. An OTP image begins with its configuration area:
// the six-byte header and the fixed leading blocks form the 15-byte block prefix, a code
// descriptor (type 39) behind it carries the code, and every other descriptor belongs to the
// configuration. The image is split into a code block and a configuration block, each starting
// with its own copy of the prefix; the same layout gives the 16 KiB OTP memory image that a
// flash chip takes in place of an OTP, and the image read back from the two newest blocks.
//
// Every length taken from an image (the descriptor walk, the code length, the total length) is
// checked against the bytes the image holds; an image whose lengths do not fit is unreadable.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Results of a block preparation.
inline constexpr int kOtpBlockUnreadable = 0;  // the configuration area cannot be parsed
inline constexpr int kOtpBlockPrepared = 1;
inline constexpr int kOtpBlockAbsent = 2;  // the image has no such part

// What an OTP image holds.
struct OtpImageLayout {
    bool hasCode = false;
    std::uint32_t codeLength = 0;  // n: the code descriptor's length; code at bytes 15..15+n-1
    bool hasConfig = false;
    std::uint32_t totalLength = 0;  // the header's total length
    std::uint8_t chipCode = 0;
    std::uint8_t bootOption = 0;
    std::uint8_t count = 0;  // descriptors behind the fixed leading blocks
};

class COtpBlockLayout {
public:
    // The block prefix: area header and fixed leading blocks.
    static constexpr std::uint32_t kPrefixLength = 15;

    // The layout of `image`; nothing when the header lacks the signature 0xA5, a descriptor
    // cannot be read within the bytes held, a length runs past them, or the code descriptor does
    // not stand right behind the block prefix.
    static std::optional<OtpImageLayout> Parse(std::span<const std::uint8_t> image);

    // The code block (kind 1) or configuration block (kind 0) of `image` into `block`:
    // kOtpBlockPrepared, kOtpBlockAbsent or kOtpBlockUnreadable (`block` then empty).
    static int MakeBlock(std::uint8_t kind, std::span<const std::uint8_t> image,
                         std::vector<std::uint8_t>& block);

    // Converts `image` in place into the OTP memory image of its length (at least 16 KiB): the
    // blocks from address 0, the VD entries 15 (and 14) recording them, the rest of the block
    // area 0xFF and the table region 0. False, with `image` unchanged, when the image cannot be
    // parsed, is shorter than the OTP or its blocks do not fit the block area.
    static bool MakeFlashImage(std::vector<std::uint8_t>& image);

    // The image read back from the newest code block and configuration block (either may be
    // empty): the code block followed by the configuration block without its prefix, with the
    // header's total length, count and chip byte set for the joined area. A configuration block
    // too short to hold its prefix adds nothing.
    static std::vector<std::uint8_t> CombineBlocks(std::span<const std::uint8_t> code,
                                                   std::span<const std::uint8_t> config);
};
