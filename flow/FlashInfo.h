#pragma once
// The SPI flash front-end operations: the interactive download FFU_Download with its silent
// variants for the command line, the update of the secondary image, the erase, the read and the
// dumps of the read to files.
#include <cstdint>
#include <string>
#include <vector>

#include "flow/FlashConfigInfo.h"

// Result ids of the flash front-end operations.
inline constexpr std::int32_t kReadFlashSucceedCode = 41751;       // "Read Flash Code Succeed."
inline constexpr std::int32_t kEraseFlashSucceedCode = 41752;      // "Erase Flash Code Succeed."
inline constexpr std::int32_t kUpdateFlashSucceedCode = 41753;     // "Update Flash Code Succeed."
inline constexpr std::int32_t kFirmwareUpdateSucceedCode = 41755;  // "Firmware Update Succeed."

// An image of this length on a mode-register chip is an OTP-format image.
inline constexpr std::uint32_t kOtpFormatImageLength = 0x4000;
// The smallest held image that a silent write takes when its file is missing.
inline constexpr std::uint32_t kMinHeldImageLength = 0x10000;

class CFlashInfo : public CFlashConfigInfo {
public:
    // Programs `image` into the flash (standard or OTP-format path). 1 when programmed; 0 after
    // the failure was posted, with write protection switched on again.
    int FFU_FlashUpdate(std::vector<std::uint8_t>& image);
    // The erase of slots 2 and 10 after the chip is in its ROM loader; failures posted.
    int FFU_FlashErase();
    // Reads the read length of flash into the dump buffer and posts progress 100 and success
    // 41751; failures posted.
    int FFU_FlashRead();

    // Slot 1: the flash read.
    int FFU_Read();
    // Slot 2: into the ROM loader, erase, progress 100 and success 41752.
    int FFU_Erase();
    // Slot 3: into the ROM loader, update of the secondary image, progress 100, success 41753.
    int FFU_Update();
    // Slot 4: the interactive download of the firmware image.
    int FFU_Download();
    // Slots 5, 6, 8: the silent write, write with serial number and verify of a firmware file.
    int FFU_Silence_WriteBin(const std::string& path);
    int FFU_Silence_WriteSNBin(const std::string& path, const std::string& serial);
    int FFU_Silence_VerifyBin(const std::string& path);
    // Slots 7 and 9: the flash read, saved as a binary or hexadecimal dump to `path`. The result
    // is the read's.
    int FFU_ReadToBinFile(const std::string& path);
    int FFU_ReadToHexFile(const std::string& path);

protected:
    // Converts `image` in place into the OTP-format flash image with the OTP block layout;
    // false when the image cannot be converted.
    virtual bool FFU_MakeOtpFormatImage(std::vector<std::uint8_t>& image);

private:
    // Loads `path` (a missing file keeps a held image of at least 64 KiB when `keepHeld`),
    // checks that it is meant for the selected chip and downloads it.
    int SilentWrite(const std::string& path, bool keepHeld);
    // The identity of the open device into the flow's VID, PID and REV.
    void ReadDeviceIds();
};
