#pragma once
// The OTP memory map: block data from address 0, the VD table (16 entries of 5 bytes: start and
// length big-endian, flag) and the ECC table (16 entries of 4 bytes: address big-endian,
// replacement value, flag). Bits of an OTP can only be set: erased is 0.
#include <cstdint>

inline constexpr std::uint32_t kOtpSize = 0x4000;
inline constexpr std::uint32_t kOtpBlockCapacity = 16224;  // 0x0000..0x3F5F
inline constexpr std::uint32_t kOtpVdTable = 0x3F70;
inline constexpr std::uint32_t kOtpVdEntrySize = 5;
inline constexpr std::uint32_t kOtpEccTable = 0x3FC0;
inline constexpr std::uint32_t kOtpEccEntrySize = 4;
inline constexpr int kOtpEntryCount = 16;
inline constexpr std::uint32_t kOtpFailReplySize = 19;
// The register whose bit 3 says that OTP programming is locked.
inline constexpr std::uint32_t kOtpLockRegister = 0xFD0C;
inline constexpr std::uint8_t kOtpLockBit = 0x08;

// VD entry flags.
inline constexpr std::uint8_t kVdCode = 0x55;
inline constexpr std::uint8_t kVdConfig = 0xAA;
inline constexpr std::uint8_t kVdRetired = 0xFF;
// ECC entry flags.
inline constexpr std::uint8_t kEccInUse = 0x5A;
inline constexpr std::uint8_t kEccRetired = 0xFF;

inline constexpr std::uint32_t OtpVdEntryAddress(int index) {
    return kOtpVdTable + kOtpVdEntrySize * static_cast<std::uint32_t>(index);
}
inline constexpr std::uint32_t OtpEccEntryAddress(int index) {
    return kOtpEccTable + kOtpEccEntrySize * static_cast<std::uint32_t>(index);
}
