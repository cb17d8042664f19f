#pragma once
// The chip's status area as GetDevStatus reads it in 8-byte blocks: the 104-byte device status
// block (signature at 24..31, image records at 64 and 72, version bytes 76..83) followed by the
// 32-byte block at offset 128 that the OTP and ROM&&SPI boot modes report their version in.
#include <array>
#include <cstdint>
#include <optional>

namespace uafw::sim {

inline constexpr std::size_t kStatusAreaSize = 256;
inline constexpr std::array<std::uint8_t, 8> kStatusSignature{'Q', 'U', 'O', 'R', 'V', 'E', 'X', 0};

// The eight version bytes of an image (the bytes at 0x100C, or 0x11B in short images).
using ImageVersion = std::array<std::uint8_t, 8>;

struct ChipRunState {
    std::uint16_t chipId = 0;
    std::uint8_t bootMode = 0;
    // The version of the image the chip runs; nothing while it runs its ROM loader.
    std::optional<ImageVersion> running;
};

// Builds the status area. Running an image v0..v7: the record at 64 reports run state 1 and
// version format 3, and bytes 76..83 and 140..147 hold the version so that the chip's version
// text reads "v0>>4.v0&F v1.v2v3-v4v5.v6v7". In the ROM loader the version bytes read 0xBB.
std::array<std::uint8_t, kStatusAreaSize> BuildStatusArea(const ChipRunState& state);

}  // namespace uafw::sim
