#pragma once
// The EEPROM programming steps shared by the EEPROM flows: the write-protect pin of the I2C
// EEPROM driven through the chip's pin registers, the erases of 16-bit and 8-bit EEPROMs, and the
// update of a 16-bit EEPROM (EE16_UpdateEx_Cmd2: write with a blank tag, verify, tag, restart).
#include <cstdint>
#include <span>
#include <vector>

#include "flow/DevFlow.h"

// Result ids of the EEPROM steps and front-end operations.
inline constexpr std::int32_t kEepReadFailCode = 41802;         // "Read EERPOM Fail!"
inline constexpr std::int32_t kEepEraseFailCode = 41803;        // "Erase EEPROM Fail!"
inline constexpr std::int32_t kEepUpdateFailCode = 41804;       // "Update EEPROM Data Fail!"
inline constexpr std::int32_t kEepReadSucceedCode = 41851;      // "Read EEPROM Code Succeed."
inline constexpr std::int32_t kEepEraseSucceedCode = 41852;     // "Erase EEPROM Code Succeed."
inline constexpr std::int32_t kEepUpdateSucceedCode = 41853;    // "Update EEPROM Code Succeed."
inline constexpr std::int32_t kEepDownloadSucceedCode = 41854;  // "Download EEPROM Code Succeed."

// The EEPROM's write-protect pin: output-enable registers with their bits, and the output-level
// registers.
inline constexpr std::uint32_t kEepWpEnableLow = 0xFEA0;
inline constexpr std::uint8_t kEepWpEnableLowBit = 0x20;
inline constexpr std::uint32_t kEepWpLevelLow = 0xFEA6;
inline constexpr std::uint32_t kEepWpEnableHigh = 0xFEA1;
inline constexpr std::uint8_t kEepWpEnableHighBit = 0x02;
inline constexpr std::uint32_t kEepWpLevelHigh = 0xFEA7;
// The level bit the protection sets in both level registers.
inline constexpr std::uint8_t kEepWpProtectLevelBit = 0x01;

// The EEPROM tag: this byte at this address, written last.
inline constexpr std::uint32_t kEepTagAddress = 1;
inline constexpr std::uint8_t kEepTagValue = 0xA5;
// The part of an 8-bit EEPROM that the download erases and checks.
inline constexpr std::uint32_t kEep8EraseBytes = 64;

class CMpFlow_Eeprom : public CDevFlow {
public:
    // Drives the write-protect pin low (writes allowed): output enabled, level cleared. 1 when
    // the four registers were read and written back.
    int EE_GpioWriteProtectOff();
    // Releases the pin (protected): output enable cleared, level bit 0 set. 1 when done.
    int EE_GpioWriteProtectOn();
    // Fills the first `count` bytes of a 16-bit EEPROM with 0xFF (up to 3 attempts, 128 ms
    // apart), then posts progress 30. 1 when filled.
    int EE16_Erase(std::uint32_t count);
    // The erase command of an 8-bit EEPROM over its first `count` bytes, retried the same way,
    // then progress 30. 1 when erased.
    int EE8_Erase(std::uint32_t count);

    // Programs `image` into a 16-bit EEPROM. 1 when done; 0 after the failure was posted, with
    // write protection switched on again.
    int EE16_Update(std::vector<std::uint8_t>& image);
    // The update steps: write protection off; with the program bit of the download options the
    // image is written with byte 1 blanked (the image itself is changed), read back and
    // compared, and the tag is written; write protection on; with the restart bit the chip is
    // restarted into its new code. 0 with the reason in `outId` (not posted).
    int EE16_UpdateEx_Cmd2(std::span<std::uint8_t> image, std::uint32_t length,
                           std::int32_t& outId);

protected:
    // Posts status "Reset to new code" and restarts the chip into its code; 1 when it came back.
    int EE_RestartIntoCode();
};
