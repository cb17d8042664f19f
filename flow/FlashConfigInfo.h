#pragma once
// Configuration data the flash download carries from the device into the image that replaces
// the device's firmware, for the customer devices that keep per-unit data in their flash.
#include <array>
#include <cstdint>
#include <vector>

#include "config/VendorIds.h"
#include "flow/MpFlowFlash.h"

// Devices whose configuration block (flash 0xF000) holds a per-unit long descriptor of type 0x50
// that the new image must keep.
inline constexpr std::uint16_t kUnitKeyVendorId = 0x1209;
inline constexpr std::array<std::uint16_t, 2> kUnitKeyProductIds{0x7150, 0x7151};
inline constexpr std::uint32_t kUnitKeyBlockAddress = 0xF000;
inline constexpr std::uint8_t kUnitKeyDescriptorType = 0x50;
// The maker's device that keeps per-unit data in the flash sector at 0x1F000.
inline constexpr std::uint16_t kUnitSectorVendorId = kMakerVendorId;
inline constexpr std::uint16_t kUnitSectorProductId = 0x7131;
inline constexpr std::uint32_t kUnitSectorAddress = 0x1F000;

inline constexpr std::uint32_t kCarriedBlockSize = 4096;
// The first byte of a programmed configuration block (memory kind flash).
inline constexpr std::uint8_t kProgrammedBlockMark = 0x55;

class CFlashConfigInfo : public CMpFlow_Flash {
public:
    // Carries the device's per-unit data into `image` when the device (VID, PID) keeps any.
    void FF_CarryOverDeviceData(std::vector<std::uint8_t>& image, std::uint16_t vid,
                                std::uint16_t pid);

private:
    // The type-0x50 long descriptor of the device's configuration block into the image's one.
    void CarryOverUnitKey(std::vector<std::uint8_t>& image);
    // The device's flash sector at 0x1F000 into the image.
    void CarryOverUnitSector(std::vector<std::uint8_t>& image);
};
