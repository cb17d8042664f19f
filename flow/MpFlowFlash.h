#pragma once
// SPI flash programming steps: the standard update (write protection, erase, empty check, write,
// verify, tag, the device's signature check, the restart into the new code) and the update of a
// 16 KiB OTP-format image.
#include <cstdint>
#include <span>

#include "flow/FlowConfigLayer.h"

// Failure ids of the flash programming steps.
inline constexpr std::int32_t kGetCodeSizeFailCode = 41702;     // "Get Code Size Fail!"
inline constexpr std::int32_t kReadFlashFailCode = 41704;       // "Read Flash Fail!"
inline constexpr std::int32_t kEraseFlashFailCode = 41705;      // "Erase Flash Fail!"
inline constexpr std::int32_t kUpdateFlashFailCode = 41706;     // "Update Flash Fail!"
inline constexpr std::int32_t kNotInCacheCode = 41935;          // "Device is not in cache mode."
inline constexpr std::int32_t kSignatureCheckFailCode = 42042;  // "ECDSA Check Fail!"

// Chip codes with their own flash layout or restart.
inline constexpr std::uint8_t kChipCode7032 = 23;  // new image at 0x10000
inline constexpr std::uint8_t kChipCode7080 = 26;  // new image behind the old one
inline constexpr std::uint8_t kChipCode30 = 30;

// The device's signature check after programming (chip code 26 with force-update bit 6).
inline constexpr std::uint8_t kSignatureSelector = 6;
inline constexpr std::uint8_t kSignatureBusy = 1;
inline constexpr std::uint8_t kSignaturePassed = 2;
inline constexpr std::uint8_t kSignatureFailed = 4;
inline constexpr int kSignaturePolls = 8;
inline constexpr std::uint32_t kSignatureBusyWaitMs = 5000;

// Flash word that withdraws the old image of a dual-image chip once the new one is in place.
inline constexpr std::uint32_t kOldImageWordAddress = 0x1010;

class CMpFlow_Flash : public CFlowConfigLayer {
public:
    // Programs the first `length` bytes of `image` into the flash. 1 when done; 0 with the
    // reason in `outId` (not posted; the caller posts it after switching write protection on).
    // The image's tag bytes are left blank (0xFF 0xFF) for mode-register chips and restored
    // for the others.
    int FF_UpdateEx_Standard(std::span<std::uint8_t> image, std::uint32_t length,
                             std::int32_t& outId);
    // Programs an image already converted to the OTP flash format: no empty check, no tag, no
    // reboot question.
    int FF_UpdateEx_ForSimulateOTP(std::span<std::uint8_t> image, std::uint32_t length,
                                   std::int32_t& outId);

    // "TagAddress" of the selected chip description; 0 when absent.
    static std::uint32_t TagAddress();

protected:
    // Reset request kind 9, with access-flag bit 0 for its duration when `reuseCapabilities`.
    int RestartIntoCode(bool reuseCapabilities);

private:
    // Step 10 of the standard update: false when the device's signature check failed.
    bool SignatureCheckPassed();
    // Write protection off, `count` zero bytes at flash `address` (one attempt), protection on.
    // The results are those of the three steps, in this order of precedence.
    int ZeroFlashBytes(std::uint32_t address, std::uint32_t count);
    // Whether the restart into the new code may happen now (the reboot question and the loop
    // test settings); the register pulse of the chip code follows a yes.
    bool RestartAllowed(std::uint8_t chipCode);
    void PulseRestartRegisters(std::uint8_t chipCode);
    int PulseRegisterBit(std::span<const std::uint32_t> addresses);
};
