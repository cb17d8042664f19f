#include "flow/ChipFamily.h"

namespace uafw::chip {

bool IsModeRegisterChip(std::uint16_t id) {
    switch (FamilyCode(id)) {
        case 0x1010:
        case 0xB010:
        case 0xC010:
        case 0xD010:
        case 0xE010:
        case 0xF010:
        case 0x8050:
            return true;
        case 0x7010:
            return (id & 0xFF) != 0x11;
        default:
            return id == 0xFF56;
    }
}

std::string DeviceModeText(std::uint8_t bootMode) {
    switch (bootMode) {
        case 0:
            return "ROM";
        case 8:
            return "SPI";
        case 16:
            return "ROM&&OTP";
        case 24:
            return "SPI&&OTP";
        case 32:
            return "ROM&&SPI";
        default:
            return "Unknown";
    }
}

}  // namespace uafw::chip
