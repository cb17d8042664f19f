#include "flow/FlashInfo.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "config/Settings.h"
#include "device/DeviceApi.h"
#include "flow/OtpBlockLayout.h"
#include "platform/AppState.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"
#include "platform/UiLink.h"

namespace {

constexpr std::uint16_t kReadControlSize = 64;
constexpr std::uint16_t kNormalControlSize = 8;
constexpr std::uint32_t kCountdownStepMs = 1000;

// Chip codes 8 and 9 name the same chip.
bool SameChip(std::uint8_t imageChip, std::uint8_t catalogueChip) {
    if (imageChip == catalogueChip)
        return true;
    return (imageChip == 8 && catalogueChip == 9) || (imageChip == 9 && catalogueChip == 8);
}

bool NamesExistingFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

}  // namespace

void CFlashInfo::ReadDeviceIds() {
    std::uint16_t vid = m_wVid, pid = m_wPid, rev = m_wRev;
    if (DeviceOpen() && DA_GetIds(m_hDevice, vid, pid, rev)) {
        m_wVid = vid;
        m_wPid = pid;
        m_wRev = rev;
    }
}

bool CFlashInfo::FFU_MakeOtpFormatImage(std::vector<std::uint8_t>& image) {
    return COtpBlockLayout::MakeFlashImage(image);
}

int CFlashInfo::FFU_FlashUpdate(std::vector<std::uint8_t>& image) {
    LogScope log("CFlashInfo::FFU_FlashUpdate", false, uafw::kLogDevice);
    const auto length = static_cast<std::uint32_t>(image.size());
    if (!AllocDumpBuffer(m_ImageRecord, length)) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    const bool otpFormat = m_bModeRegister && length == kOtpFormatImageLength;
    if (MP_CheckCancel()) {
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    std::int32_t outId = kResetDeviceFailCode;
    int result = 0;
    if (otpFormat) {
        if (!FFU_MakeOtpFormatImage(image)) {
            PostFailure(kGetCodeSizeFailCode);
            return 0;
        }
        // The converted image may have another length than the one the buffer was made for.
        if (!AllocDumpBuffer(m_ImageRecord, static_cast<std::uint32_t>(image.size()))) {
            PostFailure(kMallocFailCode);
            return 0;
        }
        result = FF_UpdateEx_ForSimulateOTP(image, static_cast<std::uint32_t>(image.size()), outId);
    } else {
        result = FF_UpdateEx_Standard(image, length, outId);
    }
    if (result)
        return result;
    // Never leave the flash unprotected after a failed update.
    SetDataControlSize(kNormalControlSize);
    MP_SPIWriteProtectOn();
    PostFailure(outId);
    return 0;
}

int CFlashInfo::FFU_FlashErase() {
    LogScope log("CFlashInfo::FFU_FlashErase", false, uafw::kLogDevice);
    const bool romWithData =
        m_bModeRegister && (m_strDeviceMode == "ROM&&SPI" || m_strDeviceMode == "ROM&&OTP");
    if (!MP_SPIWriteProtectOff()) {
        PostFailure(kDisableWpFailCode);
        return 0;
    }
    // A chip that runs its ROM loader with data in memory loses it all; others always get the
    // whole-chip erase.
    if (!MP_EraseSPIFlash(romWithData ? 0 : 1, 0)) {
        MP_SPIWriteProtectOn();
        PostFailure(kEraseFlashFailCode);
        return 0;
    }
    if (!MP_SPIWriteProtectOn()) {
        PostFailure(kEnableWpFailCode);
        return 0;
    }
    if (romWithData || (g_dwDownloadOption & kOptionRestart)) {
        PostStatus(kStatusResetNewCode);
        if (!RestartIntoCode(romWithData)) {
            PostFailure(kResetDeviceFailCode);
            return 0;
        }
    }
    return 1;
}

int CFlashInfo::FFU_FlashRead() {
    LogScope log("CFlashInfo::FFU_FlashRead", false, uafw::kLogDevice);
    const std::uint32_t length = g_dwReadLength;
    if (!AllocDumpBuffer(m_ImageRecord, length)) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    int result = 0;
    {
        CAccessBitScope forceExtUnit(*this, kAccessForceExtUnit);
        SetDataControlSize(kReadControlSize);
        result = MP_SPIRead(m_ImageRecord.m_dump, length);
        if (!result) {
            PostFailure(kReadFlashFailCode);
        } else if (length == kOtpFormatImageLength && m_bModeRegister && m_byRomMode) {
            PostStatus(kStatusResetNewCode);
            if (!RestartIntoCode(true)) {
                PostFailure(kResetDeviceFailCode);
                result = 0;
            }
        }
        SetDataControlSize(kNormalControlSize);
    }
    if (!result)
        return 0;
    if (!g_bCmdLineMode)
        MP_RefreshVersion();
    PostProgress(100);
    PostSuccess(kReadFlashSucceedCode);
    return 1;
}

int CFlashInfo::FFU_Read() {
    return FFU_FlashRead();
}

int CFlashInfo::FFU_Erase() {
    LogScope log("CFlashInfo::FFU_Erase", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice() || !FFU_FlashErase())
        return 0;
    PostProgress(100);
    PostOperationSuccess(kEraseFlashSucceedCode);
    return 1;
}

int CFlashInfo::FFU_Update() {
    LogScope log("CFlashInfo::FFU_Update", false, uafw::kLogDevice);
    if (!MP_OpenRomDevice() || !FFU_FlashUpdate(m_ImageRecord.m_secondary))
        return 0;
    PostProgress(100);
    PostOperationSuccess(kUpdateFlashSucceedCode);
    return 1;
}

int CFlashInfo::FFU_Download() {
    LogScope log("CFlashInfo::FFU_Download", false, uafw::kLogDevice);
    ReadDeviceIds();
    std::int32_t preActionCode = 0;
    if (!PreActionForAllInOne(preActionCode)) {
        PostFailure(preActionCode);
        return 0;
    }
    std::vector<std::uint8_t>& image = m_ImageRecord.m_image;
    FF_CarryOverDeviceData(image, m_wVid, m_wPid);

    int result = 0;
    const std::uint8_t chipCode = CatalogueChipCode();
    // Dual-image chips take the new image into their other flash area while they keep running.
    const bool openRom = chipCode != kChipCode7032 && chipCode != kChipCode7080;
    if (!openRom || MP_OpenRomDevice()) {
        result = FFU_FlashUpdate(image);
        if (result && ReadSettingInt(0, "SaveSN") != 0 && !g_bCmdLineMode) {
            for (const char* step : {"2", "1"}) {
                if (g_pMainDlg != nullptr)
                    g_pMainDlg->SetVerdictText(step);
                PostStatus(0);
                uafw::Clock().SleepMs(kCountdownStepMs);
            }
        }
        if (result) {
            ReadDeviceIds();
            std::string name;
            if (DeviceOpen() && DA_GetName(name))
                m_strProductName = name;
            PostProgress(100);
            PostSuccess(kFirmwareUpdateSucceedCode);
        }
    }
    ReadDeviceIds();
    if (!g_bCmdLineMode && DeviceOpen()) {
        ReadStatusBlock();
        MP_RefreshVersion();
    }
    return result;
}

int CFlashInfo::SilentWrite(const std::string& path, bool keepHeld) {
    LogScope log(
        keepHeld ? "CFlashInfo::FFU_Silence_WriteBin" : "CFlashInfo::FFU_Silence_WriteSNBin", false,
        uafw::kLogDevice);
    const bool fileMissing = !NamesExistingFile(path);
    m_ImageRecord.m_strImageFile = path;
    if (!LoadImageFile(m_ImageRecord)) {
        const bool takeHeld =
            keepHeld && fileMissing && m_ImageRecord.m_image.size() >= kMinHeldImageLength;
        if (!takeHeld) {
            log.Fail("Load File Data Fail!\n");
            PostFailure(kLoadFileFailCode);
            return 0;
        }
    }
    if (!LocateConfigArea(m_ImageRecord.m_image)) {
        log.Fail("Parse FW File Fail!\n");
        PostFailure(kParseFileFailCode);
        return 0;
    }
    if (!SameChip(m_byChipCode, CatalogueChipCode())) {
        log.Fail("Firmware is not for this device\n");
        PostFailure(kWrongFirmwareCode);
        return 0;
    }
    return OpDownload();
}

int CFlashInfo::FFU_Silence_WriteBin(const std::string& path) {
    return SilentWrite(path, true);
}

int CFlashInfo::FFU_Silence_WriteSNBin(const std::string& path, const std::string& serial) {
    // The flash flow takes the serial number from the configuration record, not from here.
    static_cast<void>(serial);
    return SilentWrite(path, false);
}

int CFlashInfo::FFU_Silence_VerifyBin(const std::string& path) {
    LogScope log("CFlashInfo::FFU_Silence_VerifyBin", false, uafw::kLogDevice);
    m_ImageRecord.m_strImageFile = path;
    if (!LoadImageFile(m_ImageRecord)) {
        log.Fail("Load File Data Fail!\n");
        PostFailure(kLoadFileFailCode);
        return 0;
    }
    const auto length = static_cast<std::uint32_t>(m_ImageRecord.m_image.size());
    g_dwReadLength = length;
    if (!FFU_FlashRead())
        return 0;
    const std::vector<std::uint8_t>& dump = m_ImageRecord.m_dump;
    if (dump.size() < length ||
        !std::equal(m_ImageRecord.m_image.begin(), m_ImageRecord.m_image.end(), dump.begin())) {
        g_ErrCode = kCompareFailCode;
        return 0;
    }
    return 1;
}

int CFlashInfo::FFU_ReadToBinFile(const std::string& path) {
    if (!FFU_FlashRead())
        return 0;
    return SaveDump("CFlashInfo::FFU_ReadToBinFile", path, false);
}

int CFlashInfo::FFU_ReadToHexFile(const std::string& path) {
    if (!FFU_FlashRead())
        return 0;
    return SaveDump("CFlashInfo::FFU_ReadToHexFile", path, true);
}
