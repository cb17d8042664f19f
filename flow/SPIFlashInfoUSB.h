#pragma once
// The flow class of SPI flash chips on USB: the operation table over the flash operations.
#include <string>

#include "flow/FlashInfo.h"

class CSPIFlashInfo_USB : public CFlashInfo {
public:
    int OpRead() override { return FFU_Read(); }
    int OpErase() override { return FFU_Erase(); }
    int OpUpdate() override { return FFU_Update(); }
    int OpDownload() override { return FFU_Download(); }
    int OpSilentWrite(const std::string& path) override { return FFU_Silence_WriteBin(path); }
    int OpSilentWriteSN(const std::string& path, const std::string& serial) override {
        return FFU_Silence_WriteSNBin(path, serial);
    }
    int OpReadToBinFile(const std::string& path) override { return FFU_ReadToBinFile(path); }
    int OpSilentVerify(const std::string& path) override { return FFU_Silence_VerifyBin(path); }
    int OpReadToHexFile(const std::string& path) override { return FFU_ReadToHexFile(path); }
    // Slot 10: nonzero restarts the chip after the erase, zero leaves it in its ROM loader.
    int OpEraseWithRestart(int restart) override;
};
