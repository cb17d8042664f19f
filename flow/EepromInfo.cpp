#include "flow/EepromInfo.h"

#include <algorithm>

#include "config/FirmwareImage.h"
#include "config/Settings.h"
#include "platform/AppState.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"
#include "platform/UiLink.h"

namespace {

constexpr std::uint32_t kCountdownStepMs = 1000;

void SetRestartOption(int restart) {
    if (restart)
        g_dwDownloadOption |= kOptionRestart;
    else
        g_dwDownloadOption &= ~kOptionRestart;
}

}  // namespace

void CEepromInfo::SerialNumberCountdown() {
    if (ReadSettingInt(0, "SaveSN") == 0 || g_bCmdLineMode)
        return;
    for (const char* step : {"2", "1"}) {
        if (g_pMainDlg != nullptr)
            g_pMainDlg->SetVerdictText(step);
        PostStatus(0);
        uafw::Clock().SleepMs(kCountdownStepMs);
    }
}

// ---- reads and dumps ----------------------------------------------------------------------

int CEepromInfo::Read(Width width, const char* logName) {
    LogScope log(logName, false, uafw::kLogDevice);
    if (!MP_OpenRomDevice())
        return 0;
    const std::uint32_t length = g_dwReadLength;
    if (!AllocDumpBuffer(m_ImageRecord, length)) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    const int read = width == Width::k16 ? MP_EEP16Read(dump, length) : MP_EEP8Read(dump, length);
    if (!read) {
        PostFailure(kEepReadFailCode);
        return 0;
    }
    // The chip leaves its ROM loader after every read; the data read stays in the dump buffer
    // even when the restart fails.
    if (!EE_RestartIntoCode()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    if (!g_bCmdLineMode)
        MP_RefreshVersion();
    PostProgress(100);
    PostSuccess(kEepReadSucceedCode);
    return 1;
}

int CEepromInfo::EEU16_Read() {
    return Read(Width::k16, "CEepromInfo::EEU16_Read");
}

int CEepromInfo::EEU8_Read() {
    return Read(Width::k8, "CEepromInfo::EEU8_Read");
}

int CEepromInfo::EEU_ReadToBinFile(Width width, const std::string& path) {
    if (!Read(width, "CEepromInfo::EEU_ReadToBinFile"))
        return 0;
    return SaveDump("CEepromInfo::EEU_ReadToBinFile", path, false);
}

int CEepromInfo::EEU_ReadToHexFile(Width width, const std::string& path) {
    if (!Read(width, "CEepromInfo::EEU_ReadToHexFile"))
        return 0;
    return SaveDump("CEepromInfo::EEU_ReadToHexFile", path, true);
}

// ---- erases ---------------------------------------------------------------------------------

int CEepromInfo::EEU16_Erase() {
    LogScope log("CEepromInfo::EEU16_Erase", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice())
        return 0;
    if (!EE_GpioWriteProtectOff()) {
        PostFailure(kDisableWpFailCode);
        return 0;
    }
    const int erased = EE16_Erase(g_dwReadLength);
    EE_GpioWriteProtectOn();
    if (!erased) {
        PostFailure(kEepEraseFailCode);
        return 0;
    }
    if ((g_dwDownloadOption & kOptionRestart) && !EE_RestartIntoCode()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    PostProgress(100);
    PostOperationSuccess(kEepEraseSucceedCode);
    return 1;
}

int CEepromInfo::EEU8_Erase() {
    LogScope log("CEepromInfo::EEU8_Erase", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice())
        return 0;
    if (!EE8_Erase(g_dwReadLength)) {
        PostFailure(kEepEraseFailCode);
        return 0;
    }
    if ((g_dwDownloadOption & kOptionRestart) && !EE_RestartIntoCode()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    PostProgress(100);
    PostOperationSuccess(kEepEraseSucceedCode);
    return 1;
}

int CEepromInfo16_USB::OpEraseWithRestart(int restart) {
    SetRestartOption(restart);
    return EEU16_Erase();
}

int CEepromInfo8_USB::OpEraseWithRestart(int restart) {
    SetRestartOption(restart);
    return EEU8_Erase();
}

// ---- updates of the secondary image -------------------------------------------------------

int CEepromInfo::EEU16_Update() {
    LogScope log("CEepromInfo::EEU16_Update", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice())
        return 0;
    const int result = EE16_Update(m_ImageRecord.m_secondary);
    if (result) {
        PostProgress(100);
        PostOperationSuccess(kEepUpdateSucceedCode);
    }
    if (DeviceOpen())
        MP_RefreshVersion();
    return result;
}

int CEepromInfo::EEU8_Update() {
    LogScope log("CEepromInfo::EEU8_Update", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice())
        return 0;
    std::vector<std::uint8_t>& image = m_ImageRecord.m_secondary;
    const auto length = static_cast<std::uint32_t>(image.size());
    // Every failure after the protection was switched off switches it on again.
    auto fail = [this](std::int32_t id) {
        EE_GpioWriteProtectOn();
        PostFailure(id);
        return 0;
    };
    if (!EE_GpioWriteProtectOff()) {
        PostFailure(kDisableWpFailCode);
        return 0;
    }
    if (!EE8_Erase(kEep8EraseBytes))
        return fail(kEepEraseFailCode);
    // The buffer for the read-back is made before anything is written.
    if (!AllocDumpBuffer(m_ImageRecord, length))
        return fail(kMallocFailCode);
    if (std::int32_t id = 0; !EE8_WriteVerifyTag(image, id))
        return fail(id);
    if (!EE_GpioWriteProtectOn()) {
        PostFailure(kEnableWpFailCode);
        return 0;
    }
    // The 8-bit update always restarts the chip into its new code.
    if (!EE_RestartIntoCode()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    PostProgress(100);
    PostOperationSuccess(kEepUpdateSucceedCode);
    return 1;
}

// ---- downloads ------------------------------------------------------------------------------

int CEepromInfo::EEU16_Download() {
    LogScope log("CEepromInfo::EEU16_Download", false, uafw::kLogDevice);
    std::int32_t preActionCode = 0;
    if (!PreActionForAllInOne(preActionCode)) {
        PostFailure(preActionCode);
        return 0;
    }
    std::vector<std::uint8_t>& image = m_ImageRecord.m_image;
    int result = 0;
    if (!AllocDumpBuffer(m_ImageRecord, static_cast<std::uint32_t>(image.size()))) {
        PostFailure(kMallocFailCode);
    } else if (MP_OpenRomDevice()) {
        result = EE16_Update(image);
        if (result) {
            SerialNumberCountdown();
            PostProgress(100);
            PostSuccess(kEepDownloadSucceedCode);
        }
    }
    if (!g_bCmdLineMode && DeviceOpen())
        MP_RefreshVersion();
    return result;
}

int CEepromInfo::EE8_DownloadSteps(std::vector<std::uint8_t>& image) {
    const auto length = static_cast<std::uint32_t>(image.size());
    // The dump buffer holds the image read back and, before, the 64 bytes of the empty check.
    if (!AllocDumpBuffer(m_ImageRecord, std::max(length, kEep8EraseBytes))) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    if (!MP_OpenRomDevice())
        return 0;
    if (!EE_GpioWriteProtectOff()) {
        PostFailure(kDisableWpFailCode);
        return 0;
    }
    // Every failure after the protection was switched off switches it on again, so that a failed
    // download does not leave the EEPROM writable.
    auto fail = [this](std::int32_t id) {
        EE_GpioWriteProtectOn();
        PostFailure(id);
        return 0;
    };
    std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    // Only the first 64 bytes are erased; the write overwrites the rest.
    if (!EE8_Erase(kEep8EraseBytes))
        return fail(kEepEraseFailCode);
    if ((g_dwDownloadOption & kOptionCheckEmpty) && !MP_EEP8CheckEmpty(dump))
        return fail(kCheckEmptyFailCode);
    if (std::int32_t id = 0;
        (g_dwDownloadOption & kOptionProgram) && !EE8_WriteVerifyTag(image, id))
        return fail(id);
    if (!EE_GpioWriteProtectOn()) {
        PostFailure(kEnableWpFailCode);
        return 0;
    }
    if ((g_dwDownloadOption & kOptionRestart) && !EE_RestartIntoCode()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    SerialNumberCountdown();
    PostProgress(100);
    PostSuccess(kEepDownloadSucceedCode);
    return 1;
}

int CEepromInfo::EE8_WriteVerifyTag(const std::vector<std::uint8_t>& image, std::int32_t& outId) {
    const auto length = static_cast<std::uint32_t>(image.size());
    std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    if (!MP_EEP8Write(image, length))
        outId = kEepUpdateFailCode;
    else if (!MP_EEP8Read(dump, length))
        outId = kEepReadFailCode;
    else if (dump.size() < length || !std::equal(image.begin(), image.end(), dump.begin()))
        outId = kCompareFailCode;
    else if (!MP_EEP8WriteTag())
        outId = kWriteTagFailCode;
    else
        return 1;
    return 0;
}

int CEepromInfo::EEU8_Download() {
    LogScope log("CEepromInfo::EEU8_Download", false, uafw::kLogDevice);
    std::int32_t preActionCode = 0;
    if (!PreActionForAllInOne(preActionCode)) {
        PostFailure(preActionCode);
        return 0;
    }
    const int result = EE8_DownloadSteps(m_ImageRecord.m_image);
    if (DeviceOpen()) {
        ReadStatusBlock();
        MP_RefreshVersion();
    }
    return result;
}

// ---- silent operations ----------------------------------------------------------------------

int CEepromInfo::SilentWrite(Width width, const std::string& path, const char* logName) {
    LogScope log(logName, false, uafw::kLogDevice);
    // An EEPROM image must be built for exactly this chip.
    if (!LoadImageForThisChip(log, path))
        return 0;
    return width == Width::k16 ? EEU16_Download() : EEU8_Download();
}

int CEepromInfo::SilentVerify(Width width, const std::string& path, const char* logName) {
    LogScope log(logName, false, uafw::kLogDevice);
    m_ImageRecord.m_strImageFile = path;
    if (!LoadImageFile(m_ImageRecord)) {
        log.Fail("Load File Data Fail!\n");
        PostFailure(kLoadFileFailCode);
        return 0;
    }
    const std::vector<std::uint8_t>& image = m_ImageRecord.m_image;
    g_dwReadLength = static_cast<std::uint32_t>(image.size());
    if (!Read(width, logName))
        return 0;
    const std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    if (dump.size() < image.size() || !std::equal(image.begin(), image.end(), dump.begin())) {
        g_ErrCode = kCompareFailCode;
        return 0;
    }
    return 1;
}

int CEepromInfo::EEU16_Silence_WriteBin(const std::string& path) {
    return SilentWrite(Width::k16, path, "CEepromInfo::EEU16_Silence_WriteBin");
}

int CEepromInfo::EEU16_Silence_WriteSNBin(const std::string& path, const std::string& serial) {
    // The serial number comes from the configuration record, not from here.
    static_cast<void>(serial);
    return SilentWrite(Width::k16, path, "CEepromInfo::EEU16_Silence_WriteSNBin");
}

int CEepromInfo::EEU16_Silence_VerifyBin(const std::string& path) {
    return SilentVerify(Width::k16, path, "CEepromInfo::EEU16_Silence_VerifyBin");
}

int CEepromInfo::EEU8_Silence_WriteBin(const std::string& path) {
    return SilentWrite(Width::k8, path, "CEepromInfo::EEU8_Silence_WriteBin");
}

int CEepromInfo::EEU8_Silence_WriteSNBin(const std::string& path, const std::string& serial) {
    static_cast<void>(serial);
    return SilentWrite(Width::k8, path, "CEepromInfo::EEU8_Silence_WriteSNBin");
}

int CEepromInfo::EEU8_Silence_VerifyBin(const std::string& path) {
    return SilentVerify(Width::k8, path, "CEepromInfo::EEU8_Silence_VerifyBin");
}
