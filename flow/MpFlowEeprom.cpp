#include "flow/MpFlowEeprom.h"

#include <algorithm>
#include <array>

#include "config/FirmwareImage.h"
#include "device/DeviceApi.h"
#include "platform/OperationLog.h"

namespace {

constexpr std::uint16_t kNormalControlSize = 8;
constexpr std::int32_t kEraseDoneProgress = 30;

// The pin registers in the order they are read and written back.
constexpr std::array<std::uint32_t, 4> kWpRegisters{kEepWpEnableLow, kEepWpLevelLow,
                                                    kEepWpEnableHigh, kEepWpLevelHigh};

// Reads the four pin registers, lets `change` set their new values and writes them back in
// order, stopping at the first failed write.
template <typename Change>
int RewriteWpRegisters(CZynFun& flow, Change change) {
    std::array<std::uint8_t, 4> values{};
    for (std::size_t i = 0; i < kWpRegisters.size(); ++i) {
        if (!flow.ReadByte(kWpRegisters[i], values[i]))
            return 0;
    }
    change(values);
    for (std::size_t i = 0; i < kWpRegisters.size(); ++i) {
        if (!flow.WriteByte(kWpRegisters[i], values[i]))
            return 0;
    }
    return 1;
}

}  // namespace

int CMpFlow_Eeprom::EE_GpioWriteProtectOff() {
    return RewriteWpRegisters(*this, [](std::array<std::uint8_t, 4>& v) {
        v[0] = static_cast<std::uint8_t>(v[0] | kEepWpEnableLowBit);
        v[1] = static_cast<std::uint8_t>(v[1] & ~kEepWpEnableLowBit);
        v[2] = static_cast<std::uint8_t>(v[2] | kEepWpEnableHighBit);
        v[3] = static_cast<std::uint8_t>(v[3] & ~kEepWpEnableHighBit);
    });
}

int CMpFlow_Eeprom::EE_GpioWriteProtectOn() {
    return RewriteWpRegisters(*this, [](std::array<std::uint8_t, 4>& v) {
        v[0] = static_cast<std::uint8_t>(v[0] & ~kEepWpEnableLowBit);
        v[1] = static_cast<std::uint8_t>(v[1] | kEepWpProtectLevelBit);
        v[2] = static_cast<std::uint8_t>(v[2] & ~kEepWpEnableHighBit);
        v[3] = static_cast<std::uint8_t>(v[3] | kEepWpProtectLevelBit);
    });
}

int CMpFlow_Eeprom::EE16_Erase(std::uint32_t count) {
    const int result = EraseCommand([&] {
        if (!DeviceOpen() || count == 0)
            return 0;
        return DA_Eep16Fill(m_hDevice, 0, count, m_dwAccessFlags);
    });
    PostProgress(kEraseDoneProgress);
    return result;
}

int CMpFlow_Eeprom::EE8_Erase(std::uint32_t count) {
    const int result = EraseCommand([&] { return count != 0 ? Eep8Erase(count) : 0; });
    PostProgress(kEraseDoneProgress);
    return result;
}

int CMpFlow_Eeprom::EE_RestartIntoCode() {
    PostStatus(kStatusResetNewCode);
    return MP_ResetRequest(kResetKindRestart, 0);
}

int CMpFlow_Eeprom::EE16_Update(std::vector<std::uint8_t>& image) {
    LogScope log("CMpFlow_Eeprom::EE16_Update", false, uafw::kLogDevice);
    const auto length = static_cast<std::uint32_t>(image.size());
    if (!AllocDumpBuffer(m_ImageRecord, length)) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    if (MP_CheckCancel()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    std::int32_t outId = kResetDeviceFailCode;
    const int result = EE16_UpdateEx_Cmd2(image, length, outId);
    if (result)
        return result;
    // Never leave the EEPROM writable after a failed update.
    SetDataControlSize(kNormalControlSize);
    EE_GpioWriteProtectOn();
    PostFailure(outId);
    return 0;
}

int CMpFlow_Eeprom::EE16_UpdateEx_Cmd2(std::span<std::uint8_t> image, std::uint32_t length,
                                       std::int32_t& outId) {
    LogScope log("CMpFlow_Eeprom::EE16_UpdateEx_Cmd2", false, uafw::kLogDevice);
    std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    if (!EE_GpioWriteProtectOff()) {
        log.Fail("Disable Write Protect Fail\n");
        outId = kDisableWpFailCode;
        return 0;
    }
    if (g_dwDownloadOption & kOptionProgram) {
        // The image is written with a blank tag byte, so that the EEPROM carries no tag until
        // everything else is in place and verified.
        if (length > image.size() || length <= kEepTagAddress) {
            log.Fail("Write I2CEEP Fail\n");
            outId = kEepUpdateFailCode;
            return 0;
        }
        image[kEepTagAddress] = 0xFF;
        if (!MP_EEP16Write(image, length)) {
            log.Fail("Write I2CEEP Fail\n");
            outId = kEepUpdateFailCode;
            return 0;
        }
        if (dump.size() < length || !MP_EEP16VerifyRead(dump, length)) {
            log.Fail("Read I2CEEP Fail\n");
            outId = kEepReadFailCode;
            return 0;
        }
        if (!std::equal(image.begin(), image.begin() + length, dump.begin())) {
            log.Fail("Check I2CEEP Fail\n");
            outId = kCompareFailCode;
            return 0;
        }
        if (!MP_EEP16WriteTag()) {
            log.Fail("Write I2CEEP Tag Fail\n");
            outId = kWriteTagFailCode;
            return 0;
        }
    }
    if (!EE_GpioWriteProtectOn()) {
        log.Fail("Enable Write Protect Fail\n");
        outId = kEnableWpFailCode;
        return 0;
    }
    if (g_dwDownloadOption & kOptionRestart) {
        if (!EE_RestartIntoCode()) {
            log.Fail("Device ResetToRom Fail\n");
            outId = kResetDeviceFailCode;
            return 0;
        }
    }
    return 1;
}
