#pragma once
// The front-end operation table of the programming flow: twelve virtual operations in a fixed slot
// order that the main window, the download worker and the command line call on the flow object.
// Each returns 1 on success and 0 on failure; the reason is the result code g_ErrCode. A flow
// class that does not offer an operation keeps the default here, which reports "Not Support!".
#include <cstdint>
#include <string>
#include <vector>

// Result id of an operation the flow class does not offer ("Not Support!").
inline constexpr std::int32_t kNotSupportCode = 41500;

class CFlowOperationTable {
public:
    virtual ~CFlowOperationTable() = default;

    // Slot 0, prepare: locates and keeps the configuration area of one of the flow's two images
    // (the firmware image or the secondary image, passed by identity).
    virtual int OpPrepare(const std::vector<std::uint8_t>& image);
    // Slot 1: reads the whole memory into the dump buffer.
    virtual int OpRead();
    // Slot 2: erases the memory.
    virtual int OpErase();
    // Slot 3: programs the secondary image without the download wrapper.
    virtual int OpUpdate();
    // Slot 4: the full interactive download of the firmware image.
    virtual int OpDownload();
    // Slot 5: silent write of a firmware file.
    virtual int OpSilentWrite(const std::string& path);
    // Slot 6: silent write of a firmware file with a serial number.
    virtual int OpSilentWriteSN(const std::string& path, const std::string& serial);
    // Slot 7: reads the memory and saves it to a binary file.
    virtual int OpReadToBinFile(const std::string& path);
    // Slot 8: silent verify against a firmware file.
    virtual int OpSilentVerify(const std::string& path);
    // Slot 9: reads the memory and saves it as a hexadecimal text dump.
    virtual int OpReadToHexFile(const std::string& path);
    // Slot 10: erase with restart choice (nonzero sets the restart bit of the download option
    // flags, zero clears it), then erase.
    virtual int OpEraseWithRestart(int restart);
    // Slot 11: present only in the flow of 8-bit EEPROMs, where it returns 1.
    virtual int OpSlot11();

protected:
    // The answer of an operation the class does not offer: g_ErrCode 41500, result 0.
    static int NotSupported();
};
