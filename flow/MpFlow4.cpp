#include "flow/MpFlow4.h"

#include "device/DeviceApi.h"
#include "flow/ChipFamily.h"
#include "platform/OperationLog.h"

namespace {
constexpr std::uint32_t kBankControlRegister = 0xD6AD;

// The bank control byte with bank copy on (bit 1 set, bit 5 cleared) or off (the reverse).
std::uint8_t BankControl(std::uint8_t value, bool bankCopy) {
    if (bankCopy)
        return static_cast<std::uint8_t>((value & ~0x20) | 0x02);
    return static_cast<std::uint8_t>((value & ~0x02) | 0x20);
}
}  // namespace

int CMpFlow4::MP_OpenRomDevice() {
    LogScope scope("CMpFlow4::MP_OpenRomDevice", false, uafw::kLogDevice);
    std::uint16_t id = m_wChipId;
    if (ReadChipId(id)) {
        m_wChipId = id;
        m_bModeRegister = uafw::chip::IsModeRegisterChip(id) ? 1 : 0;
    }
    const std::uint16_t variant = uafw::chip::ChipVariant(id);

    if (m_bModeRegister && (m_strDeviceMode == "ROM" || m_strDeviceMode == "ROM&&OTP")) {
        // Already in the ROM loader: only the chip-specific settings.
        m_byRomMode = 1;
        if (variant == 0xD010) {
            WriteByte(0xFED0, 0x1E);
        } else if (variant == 0xD011) {
            std::uint8_t value = 0;
            if (ReadByte(kBankControlRegister, value))
                WriteByte(kBankControlRegister, BankControl(value, m_bBankCopyOn != 0));
        }
        return 1;
    }

    if (m_bModeRegister && m_strDeviceMode == "SPI") {
        CAccessBitScope forceExtUnit(*this, kAccessForceExtUnit);
        std::uint16_t again = id;
        ReadChipId(again);
        const std::uint16_t x = uafw::chip::ChipVariant(again);
        if (x == 0xB013 || x == 0xB014) {
            // Invalidate the configuration area and the tag so that the ROM loader stays.
            MP_SPIWriteProtectOff();
            const std::uint8_t one[1] = {0x00};
            const std::uint8_t two[2] = {0x00, 0x00};
            SpiWrite(0xF000, one);
            SpiWrite(0xEFFE, two);
            MP_SPIWriteProtectOn();
        }
    }

    PostStatus(kStatusWaitReset);
    const int result = MP_ResetToRomCode();
    if (!result) {
        scope.Fail("Device ResetToUpdateFW Fail\n");
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    if (variant == 0xD011 && m_bBankCopyOn) {
        std::uint8_t value = 0;
        if (ReadByte(kBankControlRegister, value))
            WriteByte(kBankControlRegister, BankControl(value, true));
    }
    return result;
}
