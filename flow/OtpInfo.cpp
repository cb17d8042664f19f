#include "flow/OtpInfo.h"

#include <cstdio>
#include <new>

#include "config/FirmwareImage.h"
#include "flow/OtpBlockLayout.h"
#include "flow/OtpSpace.h"
#include "platform/AppState.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"

namespace {

bool AskToContinue(const char* question) {
    return uafw::MessageBoxPort().Show(question, "", uafw::MsgBoxButtons::YesNo,
                                       uafw::MsgBoxResult::No) == uafw::MsgBoxResult::Yes;
}

}  // namespace

// ---- COTPConfigInfo ------------------------------------------------------------------------

int COTPConfigInfo::OTP_PrepareBlock(std::uint8_t kind, const std::vector<std::uint8_t>& source) {
    std::vector<std::uint8_t> block;
    const int result = COtpBlockLayout::MakeBlock(kind, source, block);
    if (result != kOtpBlockPrepared) {
        OTP_ClearBlock();
        return result;
    }
    m_byOtpBlockKind = kind;
    m_otpBlockReference = block;
    m_otpBlock = std::move(block);
    return result;
}

void COTPConfigInfo::OTP_ClearBlock() {
    m_byOtpBlockKind = kOtpBlockConfig;
    m_otpBlock.clear();
    m_otpBlockReference.clear();
}

// ---- COTPInfo ------------------------------------------------------------------------------

int COTPInfo::OTP_CheckSpaceAndProgram(std::span<std::uint8_t> block, std::uint16_t length) {
    LogScope log("COTPInfo::OTP_CheckSpaceAndProgram", false, uafw::kLogOtp);
    const COtpSpace space = COtpSpace::Query(*this);
    bool go = true;
    if (space.freeEntries == 0) {
        uafw::ShowMessage(kNoVdBlockText);
        go = false;
    } else {
        if (space.free <= kLowSpaceBytes)
            go = AskToContinue(kLowSpaceText);
        if (go && space.freeEntries <= kFewVdBlocks)
            go = AskToContinue(kFewVdBlocksText);
    }
    if (go)
        return OTP_UpdateEx_Cmd2(block, length);
    // Nothing is written: the chip goes back to its code and the refusal is reported.
    MP_ResetRequest(kResetKindRestart, 0);
    PostFailure(kOtpWriteFailCode);
    return 0;
}

int COTPInfo::OTP_ForNormalDownload(const std::vector<std::uint8_t>& source) {
    LogScope log("COTPInfo::OTP_ForNormalDownload", false, uafw::kLogOtp);
    int prepared = 0;
    for (const std::uint8_t kind : {kOtpBlockCode, kOtpBlockConfig}) {
        const int result = OTP_PrepareBlock(kind, source);
        if (result == kOtpBlockAbsent)
            continue;
        if (result != kOtpBlockPrepared) {
            PostFailure(kGetVdCodeFailCode);
            return 0;
        }
        ++prepared;
        PostStatus(kStatusDownload);
        if (!OTP_CheckSpaceAndProgram(m_otpBlock, static_cast<std::uint16_t>(m_otpBlock.size())))
            return 0;
    }
    // An image with neither code nor configuration has nothing to program: that is no success.
    if (prepared == 0) {
        log.Fail("No OTP block in the image\n");
        PostFailure(kGetVdCodeFailCode);
        return 0;
    }
    if (g_dwDownloadOption & kOptionRestart) {
        PostStatus(kStatusResetNewCode);
        if (!MP_ResetRequest(kResetKindRestart, 0)) {
            log.Fail("Device ResetToRom Fail\n");
            PostFailure(kResetDeviceFailCode);
            return 0;
        }
    }
    return 1;
}

int COTPInfo::OTP_Download() {
    LogScope log("COTPInfo::OTP_Download", false, uafw::kLogOtp);
    std::int32_t preActionCode = 0;
    if (!PreActionForAllInOne(preActionCode)) {
        PostFailure(preActionCode);
        return 0;
    }
    int result = 0;
    if (MP_OpenRomDevice()) {
        result = OTP_ForNormalDownload(m_ImageRecord.m_image);
        if (result) {
            PostProgress(100);
            PostSuccess(kDownloadOtpSucceedCode);
        }
    }
    OTP_ClearBlock();
    if (!g_bCmdLineMode && DeviceOpen())
        MP_RefreshVersion();
    return result;
}

int COTPInfo::OTP_Update() {
    LogScope log("COTPInfo::OTP_Update", false, uafw::kLogOtp);
    int result = 0;
    if (MP_OpenRomDevice()) {
        result = OTP_ForNormalDownload(m_ImageRecord.m_secondary);
        if (result) {
            PostProgress(100);
            PostOperationSuccess(kUpdateOtpSucceedCode);
        }
    }
    OTP_ClearBlock();
    if (DeviceOpen())
        MP_RefreshVersion();
    return result;
}

int COTPInfo::OTP_Read() {
    LogScope log("COTPInfo::OTP_Read", false, uafw::kLogOtp);
    if (!MP_OpenRomDevice())
        return 0;
    std::vector<std::uint8_t> blocks[2];
    const std::uint8_t flags[2] = {kVdCode, kVdConfig};
    for (int k = 0; k < 2; ++k) {
        m_bVdTableUnread = false;
        const std::uint32_t length = MP_OTPNewestLengthOfKind(flags[k]);
        const std::uint32_t address = length == 0 ? 0 : MP_OTPAddressOfKind(flags[k], length);
        // An entry that could not be read may hold the newest block of this kind.
        if (m_bVdTableUnread) {
            log.Fail("Read VD Table Fail\n");
            PostFailure(kOtpReadFailCode);
            return 0;
        }
        if (length == 0)
            continue;
        // A block recorded past the block area cannot be read as a block.
        if (address > kOtpBlockCapacity || length > kOtpBlockCapacity - address) {
            log.Fail("Block 0x%x+0x%x lies outside the OTP block area\n", address, length);
            PostFailure(kOtpReadFailCode);
            return 0;
        }
        blocks[k].assign(length, 0xFF);
        if (!OTP_ReadEx_Cmd2(address, blocks[k], flags[k] == kVdCode)) {
            PostFailure(kOtpReadFailCode);
            return 0;
        }
        // Without every ECC entry the block is not what the chip's code sees.
        if (!MP_OTPGetCorrectCodeData(address, blocks[k])) {
            PostFailure(kOtpReadFailCode);
            return 0;
        }
    }
    const std::vector<std::uint8_t> image = COtpBlockLayout::CombineBlocks(blocks[0], blocks[1]);
    if (!AllocDumpBuffer(m_ImageRecord, static_cast<std::uint32_t>(image.size()))) {
        PostFailure(kMallocFailCode);
        return 0;
    }
    m_ImageRecord.m_dump = image;
    const bool nothingRecorded = image.empty();
    if (nothingRecorded)
        PostFailure(kOtpCodeNotExistCode);
    PostStatus(kStatusResetNewCode);
    if (!MP_ResetRequest(kResetKindRestart, 0)) {
        log.Fail("Device ResetToRom Fail\n");
        PostFailure(kResetDeviceFailCode);
        return 0;
    }
    if (!g_bCmdLineMode)
        MP_RefreshVersion();
    PostProgress(100);
    PostSuccess(kReadOtpSucceedCode);
    // A read is no failure, but an OTP without blocks stays reported.
    g_ErrCode = nothingRecorded ? kOtpCodeNotExistCode : 0;
    return 1;
}

int COTPInfo::SilentWrite(const char* logName, const std::string& path) {
    LogScope log(logName, false, uafw::kLogOtp);
    // An OTP cannot be programmed twice: the image must be for exactly this chip.
    if (!LoadImageForThisChip(log, path))
        return 0;
    return OTP_Download();
}

int COTPInfo::Silence_OTPWriteBin(const std::string& path) {
    return SilentWrite("COTPInfo::Silence_OTPWriteBin", path);
}

int COTPInfo::Silence_OTPWriteSNBin(const std::string& path, const std::string& serial) {
    static_cast<void>(serial);
    return SilentWrite("COTPInfo::Silence_OTPWriteSNBin", path);
}

int COTPInfo::OTP_ReadToBinFile(const std::string& path) {
    if (!OTP_Read())
        return 0;
    // A dump of an OTP without blocks would be an empty file reported as a good dump; the
    // dump fails instead and "OTP Code Not Exist!" stays the result.
    if (m_ImageRecord.m_dump.empty())
        return 0;
    return SaveDump("COTPInfo::OTP_ReadToBinFile", path, false);
}

std::string COTPInfo::OtpSpaceText() {
    const COtpSpace space = COtpSpace::Query(*this);
    m_iOtpUsedSize = static_cast<std::int32_t>(space.used);
    const std::size_t imageLength = m_ImageRecord.m_image.size();
    char text[160];
    if (imageLength == 0) {
        std::snprintf(text, sizeof text, "Used OTP Space: %0.2f KB, Remain OTP Space: %0.2f KB.",
                      static_cast<double>(space.UsedKB()), static_cast<double>(space.FreeKB()));
    } else {
        std::snprintf(text, sizeof text,
                      "Used OTP Space: %0.2f KB Free OTP Space: %0.2f KB Remaining Programmable "
                      "Times: %d.",
                      static_cast<double>(space.UsedKB()), static_cast<double>(space.FreeKB()),
                      static_cast<int>(space.RemainingTimes(imageLength)));
    }
    return text;
}
