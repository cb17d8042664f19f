#pragma once
// The EEPROM branch of the flow: chips with an I2C EEPROM of 16-bit (CEepromInfo16_USB) or 8-bit
// (CEepromInfo8_USB) word addresses. CEepromInfo holds the front-end operations of both: the
// reads (which always restart the chip afterwards), the erases, the updates of the secondary
// image, the interactive downloads EEU16_Download and EEU8_Download, their silent variants for
// the command line and the dumps of a read to files.
#include <cstdint>
#include <string>
#include <vector>

#include "flow/FlowConfigLayer.h"

class CEepromInfo : public CFlowConfigLayer {
public:
    // The EEPROM's word-address width, which chooses the commands and the sequences.
    enum class Width { k8, k16 };

    // Slot 1: into the ROM loader, read the read length into the dump buffer, restart the chip;
    // progress 100 and success 41851. Failures posted; a failed restart keeps the data read.
    int EEU16_Read();
    int EEU8_Read();
    // Slots 2 and 10: into the ROM loader and erase the read length; progress 100 and success
    // 41852. The 16-bit erase switches write protection off around the erase.
    int EEU16_Erase();
    int EEU8_Erase();
    // Slot 3: into the ROM loader and program the secondary image; progress 100 and success 41853.
    int EEU16_Update();
    int EEU8_Update();
    // Slot 4: the interactive download of the firmware image; progress 100 and success 41854.
    int EEU16_Download();
    int EEU8_Download();
    // Slots 5, 6 and 8: the silent write, write with serial number and verify of a firmware
    // file. The image must be built for exactly the selected chip code.
    int EEU16_Silence_WriteBin(const std::string& path);
    int EEU16_Silence_WriteSNBin(const std::string& path, const std::string& serial);
    int EEU16_Silence_VerifyBin(const std::string& path);
    int EEU8_Silence_WriteBin(const std::string& path);
    int EEU8_Silence_WriteSNBin(const std::string& path, const std::string& serial);
    int EEU8_Silence_VerifyBin(const std::string& path);
    // Slots 7 and 9: the read, saved as a binary or hexadecimal dump to `path`. The result is
    // the read's.
    int EEU_ReadToBinFile(Width width, const std::string& path);
    int EEU_ReadToHexFile(Width width, const std::string& path);

private:
    int Read(Width width, const char* logName);
    // The steps of EEU8_Download between the pre-download step and the final refresh.
    int EE8_DownloadSteps(std::vector<std::uint8_t>& image);
    // Writes `image` into the 8-bit EEPROM, reads it back into the dump buffer (which must be
    // allocated), compares and writes the tag. 0 with the failing step's id in `outId`.
    int EE8_WriteVerifyTag(const std::vector<std::uint8_t>& image, std::int32_t& outId);
    int SilentWrite(Width width, const std::string& path, const char* logName);
    int SilentVerify(Width width, const std::string& path, const char* logName);
    // The "SaveSN" countdown "2", "1" on the main window after a download.
    static void SerialNumberCountdown();
};

class CEepromInfo16_USB : public CEepromInfo {
public:
    int OpRead() override { return EEU16_Read(); }
    int OpErase() override { return EEU16_Erase(); }
    int OpUpdate() override { return EEU16_Update(); }
    int OpDownload() override { return EEU16_Download(); }
    int OpSilentWrite(const std::string& path) override { return EEU16_Silence_WriteBin(path); }
    int OpSilentWriteSN(const std::string& path, const std::string& serial) override {
        return EEU16_Silence_WriteSNBin(path, serial);
    }
    int OpReadToBinFile(const std::string& path) override {
        return EEU_ReadToBinFile(Width::k16, path);
    }
    int OpSilentVerify(const std::string& path) override { return EEU16_Silence_VerifyBin(path); }
    int OpReadToHexFile(const std::string& path) override {
        return EEU_ReadToHexFile(Width::k16, path);
    }
    // Slot 10: nonzero restarts the chip after the erase, zero leaves it in its ROM loader.
    int OpEraseWithRestart(int restart) override;
};

class CEepromInfo8_USB : public CEepromInfo {
public:
    int OpRead() override { return EEU8_Read(); }
    int OpErase() override { return EEU8_Erase(); }
    int OpUpdate() override { return EEU8_Update(); }
    int OpDownload() override { return EEU8_Download(); }
    int OpSilentWrite(const std::string& path) override { return EEU8_Silence_WriteBin(path); }
    int OpSilentWriteSN(const std::string& path, const std::string& serial) override {
        return EEU8_Silence_WriteSNBin(path, serial);
    }
    int OpReadToBinFile(const std::string& path) override {
        return EEU_ReadToBinFile(Width::k8, path);
    }
    int OpSilentVerify(const std::string& path) override { return EEU8_Silence_VerifyBin(path); }
    int OpReadToHexFile(const std::string& path) override {
        return EEU_ReadToHexFile(Width::k8, path);
    }
    int OpEraseWithRestart(int restart) override;
    int OpSlot11() override { return 1; }
};
