#pragma once
// The OTP branch of the flow: chips whose program memory is one-time-programmable. The front end
// splits a firmware image into its code block and configuration block, checks the OTP space with
// the operator's questions, has the write engine program the blocks one after the other, reads
// the newest blocks back into one image and offers the silent variants for the command line.
// Erase, verify, hexadecimal dump and erase with restart do not exist for OTP memory and return
// 0.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "flow/MpFlowOtp.h"

// Result ids of the OTP front end.
inline constexpr std::int32_t kGetVdCodeFailCode = 41925;       // "Get VD Code Fail!"
inline constexpr std::int32_t kReadOtpSucceedCode = 41929;      // "ReadOTP Succeed."
inline constexpr std::int32_t kUpdateOtpSucceedCode = 41930;    // "UpdateOTP Succeed."
inline constexpr std::int32_t kDownloadOtpSucceedCode = 41931;  // "DownloadOTP Succeed."
inline constexpr std::int32_t kOtpCodeNotExistCode = 41933;     // "OTP Code Not Exist!"

// The operator's questions before a block is programmed into an OTP that is nearly full.
inline constexpr const char* kNoVdBlockText = "No Available VD Block!";
inline constexpr const char* kLowSpaceText = "OTP Code Size Less than 5K,\nContinue to Update!";
inline constexpr const char* kFewVdBlocksText = "OTP VD Block Less than 4,\nContinue to Update!";
inline constexpr std::uint32_t kLowSpaceBytes = 5120;
inline constexpr std::uint32_t kFewVdBlocks = 4;

class COTPConfigInfo : public CMpFlow_OTP {
public:
    // Prepares the block of `kind` (kOtpBlockCode, kOtpBlockConfig) from `source` for the write
    // engine: the block, its reference copy and the block kind. kOtpBlockPrepared,
    // kOtpBlockAbsent (nothing to program) or kOtpBlockUnreadable; the prepared block is cleared
    // unless one was prepared.
    int OTP_PrepareBlock(std::uint8_t kind, const std::vector<std::uint8_t>& source);
    // Clears the prepared block after a run.
    void OTP_ClearBlock();
};

class COTPInfo : public COTPConfigInfo {
public:
    // Slot 1: the newest code and configuration blocks read back into the dump buffer as one
    // image, then the restart; progress 100 and success 41929.
    int OTP_Read();
    // Slot 3: the secondary image programmed; progress 100 and success 41930.
    int OTP_Update();
    // Slot 4: the firmware image programmed; progress 100 and success 41931.
    int OTP_Download();
    // Slots 5 and 6: the file loaded, checked against the selected chip and downloaded. The
    // serial number of slot 6 is not used.
    int Silence_OTPWriteBin(const std::string& path);
    int Silence_OTPWriteSNBin(const std::string& path, const std::string& serial);
    // Slot 7: OTP_Read, then the read image saved to `path`; 0 when the OTP holds no block or
    // the file cannot be written.
    int OTP_ReadToBinFile(const std::string& path);

    // Both blocks of `source` programmed, code first, then the restart when the download option
    // flags ask for it. 0 after a posted failure.
    int OTP_ForNormalDownload(const std::vector<std::uint8_t>& source);
    // The space checks with their questions, then the engine on `block`. 1 = programmed; 0 after
    // a posted failure (a refused question restarts the chip and posts 41914).
    int OTP_CheckSpaceAndProgram(std::span<std::uint8_t> block, std::uint16_t length);

    // The OTP space text of the device information, for the firmware image's length.
    std::string OtpSpaceText() override;

private:
    // The silent write of both slots under the log name given.
    int SilentWrite(const char* logName, const std::string& path);
};

class COTPInfo_USB : public COTPInfo {
public:
    int OpRead() override { return OTP_Read(); }
    int OpErase() override { return 0; }
    int OpUpdate() override { return OTP_Update(); }
    int OpDownload() override { return OTP_Download(); }
    int OpSilentWrite(const std::string& path) override { return Silence_OTPWriteBin(path); }
    int OpSilentWriteSN(const std::string& path, const std::string& serial) override {
        return Silence_OTPWriteSNBin(path, serial);
    }
    int OpReadToBinFile(const std::string& path) override { return OTP_ReadToBinFile(path); }
    int OpSilentVerify(const std::string&) override { return 0; }
    int OpReadToHexFile(const std::string&) override { return 0; }
    int OpEraseWithRestart(int) override { return 0; }
};
