#pragma once
// The configuration layer of the flow: the configuration-area record of the loaded image joined
// to the flow. The memory branches (flash, EEPROM, OTP) derive from it.
#include <cstdint>
#include <string>
#include <vector>

#include "config/EepromConfigInfo.h"
#include "flow/MpFlowEeprom.h"

class LogScope;

class CFlowConfigLayer : public CMpFlow_Eeprom, public CEepromConfigInfo {
public:
    CFlowConfigLayer() { AttachImage(&m_ImageRecord.m_image); }

    // Slot 0: locates the configuration area of the firmware image or the secondary image and
    // keeps the result; 0 for any other buffer or when no area is found.
    int OpPrepare(const std::vector<std::uint8_t>& image) override;

    // The load of a silent write: `path` becomes the firmware image, its configuration area is
    // located and its chip code must equal the selected chip description's exactly. Each failure
    // is logged under `log` and posted (41530, 41531, 41715). 1 when the image may be written.
    int LoadImageForThisChip(const LogScope& log, const std::string& path);

    // Saves the dump buffer, just read, to `path` as bytes or as hexadecimal text. A file that
    // cannot be written is a failed dump: logged under `logName`, 41736 posted, result 0.
    int SaveDump(const char* logName, const std::string& path, bool hex);

    // Posts the success of an erase, update or read, which leaves no failure behind: the exit
    // status follows g_ErrCode.
    static void PostOperationSuccess(std::int32_t id);

    // What the device flow compares with the device: the chip code and the VID/PID text of the
    // configuration area last read.
    std::uint8_t PreparedImageChipCode() const override { return CEepromConfigInfo::m_byChipCode; }
    std::string ImageVidPidText() const override { return CEepromConfigInfo::m_strVidPid; }
};
