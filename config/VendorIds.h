#pragma once
// USB vendor ids the tool knows by name.
#include <cstdint>

// The maker's USB vendor id: the extension code of the chips' extension unit, the vendor half of
// every accepted identity and of the device-specific firmware names.
inline constexpr std::uint16_t kMakerVendorId = 0x1209;
