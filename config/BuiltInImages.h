#pragma once
// The built-in firmware images: one table (name, "BINARY" id, chip code, USB identity, version,
// strings, length) from which the build generates every image, and the code that lays one image
// out. The names and ids are those of the catalogue's firmware-resource table.
//
// Every image is a code image: first byte 0x02 (a long jump to the program), program bytes, the
// configuration area at 0xF000 (memory kind 0x55, signature 0xA5, the chip code; a version block,
// an EEPROM-info block, manufacturer, product and serial-number strings and a VID/PID block), an
// erased tag 0xFF 0xFF at 0xEFFE and the eight version bytes at 0x100C (and at 0x11B, where the
// version of an image shorter than 64 KiB is read). KSC7020 images carry the same area at
// 0xAE00 too, where that chip's description places it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace uafw {

inline constexpr std::uint32_t kBuiltInAreaAddress = 0xF000;
inline constexpr std::uint32_t kBuiltInArea7020Address = 0xAE00;
inline constexpr std::uint32_t kBuiltInAreaSize = 4096;
inline constexpr std::uint32_t kBuiltInArea7020Size = 512;
inline constexpr std::uint32_t kBuiltInTagAddress = 0xEFFE;
inline constexpr std::uint32_t kVersionBytesAddress = 0x100C;
inline constexpr std::uint32_t kShortImageVersionBytesAddress = 0x11B;
// Five bytes read in the order 0x1003, 0x1005, 0x1004, 0x1007, 0x1006 as the image version text.
inline constexpr std::uint32_t kImageInfoAddress = 0x1003;
inline constexpr std::uint8_t kBuiltInMemoryKind = 0x55;
inline constexpr std::uint8_t kBuiltInBootOption = 2;
inline constexpr std::uint8_t kBuiltInEepInfo = 0xC2;
inline constexpr std::uint16_t kBuiltInApVersion = 0x1060;

struct BuiltInImageEntry {
    std::string name;  // firmware-resource name
    std::int32_t id;   // "BINARY" resource id
    std::uint8_t chipCode;
    std::uint16_t vid;
    std::uint16_t pid;
    std::uint16_t revision;
    std::array<std::uint8_t, 8> version;  // the eight version bytes
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::uint32_t length;  // bytes
};

// The 56 built-in images in the order of the catalogue's firmware-resource table.
const std::vector<BuiltInImageEntry>& BuiltInImageTable();
// The table entry of a "BINARY" id, or nullptr.
const BuiltInImageEntry* FindBuiltInImage(std::int32_t id);

// Lays out the image of an entry; empty when its configuration area cannot be built.
std::vector<std::uint8_t> BuildBuiltInImage(const BuiltInImageEntry& entry);

}  // namespace uafw
