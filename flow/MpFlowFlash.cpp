#include "flow/MpFlowFlash.h"

#include <algorithm>
#include <array>
#include <optional>

#include "config/Settings.h"
#include "device/DeviceApi.h"
#include "flow/ChipFamily.h"
#include "flow/RebootExemptions.h"
#include "platform/AppState.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"

namespace {

constexpr std::uint32_t kTagLength = 2;
constexpr std::uint32_t kZeroedTagLength = 4;
constexpr std::uint32_t kPulseHoldMs = 20;
constexpr std::uint32_t kPulseRegisters7080[] = {0xF970, 0xF971};
constexpr std::uint32_t kPulseRegisters7032[] = {0x0000};

bool IsTagInside(std::uint32_t tagAddress, std::uint32_t length) {
    return tagAddress <= length && kTagLength <= length - tagAddress;
}

}  // namespace

std::uint32_t CMpFlow_Flash::TagAddress() {
    std::int32_t value = 0;
    if (g_pICTypeIni == nullptr || !g_pICTypeIni->GetVendorValue("TagAddress", value))
        return 0;
    return static_cast<std::uint32_t>(value);
}

int CMpFlow_Flash::RestartIntoCode(bool reuseCapabilities) {
    std::optional<CAccessBitScope> reuse;
    if (reuseCapabilities)
        reuse.emplace(*this, kAccessReuseCapabilities);
    return MP_ResetRequest(kResetKindRestart, 0);
}

int CMpFlow_Flash::FF_UpdateEx_Standard(std::span<std::uint8_t> image, std::uint32_t length,
                                        std::int32_t& outId) {
    LogScope log("CMpFlow_Flash::FF_UpdateEx_Standard", false, uafw::kLogDevice);
    if (length > image.size() || length > m_ImageRecord.m_dump.size()) {
        log.Fail("Write Flash Code Fail\n");
        outId = kUpdateFlashFailCode;
        return 0;
    }
    const std::uint8_t chipCode = CatalogueChipCode();
    const std::uint32_t tagAddress = TagAddress();
    const bool tagInside = IsTagInside(tagAddress, length);

    // 1. Mode-register chips boot without a tag: the image goes in with a blank one.
    if (m_bModeRegister && tagInside)
        std::fill_n(image.begin() + tagAddress, kTagLength, 0xFF);

    // 2. Write protection off.
    if (!MP_SPIWriteProtectOff()) {
        log.Fail("Disable Write Protect Fail\n");
        outId = kDisableWpFailCode;
        return 0;
    }
    // 3. Erase.
    if (!MP_EraseSPIFlash(0, length)) {
        log.Fail("Erase Flash Fail\n");
        outId = kEraseFlashFailCode;
        return 0;
    }
    // 4. Empty check.
    const std::span<std::uint8_t> dump(m_ImageRecord.m_dump.data(), length);
    if ((g_dwDownloadOption & kOptionCheckEmpty) && !MP_CheckSPIFlashEmpty(dump, length)) {
        log.Fail("Check Flash Empty Fail\n");
        outId = kCheckEmptyFailCode;
        return 0;
    }
    // 5.-8. Program: write with a blank tag, verify, then the tag itself.
    if (g_dwDownloadOption & kOptionProgram) {
        std::array<std::uint8_t, kTagLength> savedTag{0xFF, 0xFF};
        if (tagInside) {
            std::copy_n(image.begin() + tagAddress, kTagLength, savedTag.begin());
            std::fill_n(image.begin() + tagAddress, kTagLength, 0xFF);
        }
        if (!MP_SPIWrite(image, length)) {
            log.Fail("Write Flash Code Fail\n");
            outId = kUpdateFlashFailCode;
            return 0;
        }
        std::copy_n(image.begin(), length, dump.begin());
        if (!MP_SPIVerifyRead(dump, length)) {
            log.Fail("Read Flash Code Fail\n");
            outId = kReadFlashFailCode;
            return 0;
        }
        if (!std::equal(dump.begin(), dump.end(), image.begin())) {
            log.Fail("Check Flash Code Fail\n");
            outId = kCompareFailCode;
            return 0;
        }
        if (!m_bAreaAtStart && !m_bModeRegister && tagInside) {
            std::copy(savedTag.begin(), savedTag.end(), image.begin() + tagAddress);
            const std::span<const std::uint8_t> tag(image.data() + tagAddress, kTagLength);
            if (!ChunkCommand([&] { return SpiWrite(tagAddress, tag); })) {
                log.Fail("Write Tag Fail\n");
                outId = kWriteTagFailCode;
                return 0;
            }
        }
    }
    // 9. Write protection on.
    if (!MP_SPIWriteProtectOn()) {
        log.Fail("Enable Write Protect Fail\n");
        outId = kEnableWpFailCode;
        return 0;
    }
    // 10. The device's signature check of the new image.
    if (chipCode == kChipCode7080 && m_bForceUpdateBit6 && !SignatureCheckPassed()) {
        ZeroFlashBytes(tagAddress, kZeroedTagLength);
        outId = kSignatureCheckFailCode;
        return 0;
    }
    // 11. Withdraw the old image of a dual-image chip.
    if ((chipCode == kChipCode7032 || chipCode == kChipCode7080) && m_bForceUpdateBit4)
        ZeroFlashBytes(kOldImageWordAddress, kZeroedTagLength);

    // 12. Without the restart bit the chip keeps running what it runs.
    if (!(g_dwDownloadOption & kOptionRestart))
        return 1;

    // 13. Restart into the new code.
    PostStatus(kStatusResetNewCode);
    if (!RestartAllowed(chipCode))
        return 1;
    // 14.
    if (!RestartIntoCode(false)) {
        log.Fail("Devcie ResetToCache Fail\n");
        outId = kResetDeviceFailCode;
        return 0;
    }
    // 15. The chip must run its new code now.
    if (g_dwDownloadOption & kOptionProgram) {
        std::int32_t inCache = 0;
        MP_InCacheTest(inCache);
        if (!inCache) {
            log.Fail("Device is not in cache mode\n");
            PostFailure(kNotInCacheCode);
            outId = kResetDeviceFailCode;
            return 0;
        }
    }
    return 1;
}

bool CMpFlow_Flash::SignatureCheckPassed() {
    std::uint8_t bootMode = 0;
    if (!ReadByte(uafw::chip::kBootModeAddress, bootMode))
        bootMode = 0;
    if (bootMode != 8)
        return true;
    VendorCmd70Set(1);
    bool passed = false;
    for (int poll = 0; poll < kSignaturePolls; ++poll) {
        std::array<std::uint8_t, 1> state{0};
        std::uint8_t got = 0;
        if (!VendorCmd70Get(kSignatureSelector, state, got) || got < 1)
            continue;
        if (state[0] == kSignatureBusy) {
            uafw::Clock().SleepMs(kSignatureBusyWaitMs);
            continue;
        }
        if (state[0] == kSignaturePassed) {
            passed = true;
            break;
        }
        if (state[0] == kSignatureFailed)
            break;
    }
    VendorCmd70Set(0);
    return passed;
}

int CMpFlow_Flash::ZeroFlashBytes(std::uint32_t address, std::uint32_t count) {
    const std::vector<std::uint8_t> zeros(count, 0x00);
    const int off = MP_SPIWriteProtectOff();
    const int written = SpiWrite(address, zeros);
    const int on = MP_SPIWriteProtectOn();
    return off && written && on;
}

bool CMpFlow_Flash::RestartAllowed(std::uint8_t chipCode) {
    if (ReadSettingInt(0, "Disable Reboot Check") != 0)
        return true;
    if (chipCode != kChipCode7032 && chipCode != kChipCode7080 && chipCode != kChipCode30)
        return true;
    // A production line restarts such chips itself.
    if (g_bCmdLineMode)
        return false;
    const std::int32_t loopTest = ReadSettingInt(0, "Loop Test");
    const std::int32_t loopTestReboot = ReadSettingInt(0, "Loop Test Reboot");
    if (loopTest == 0) {
        if (!CRebootExemptions::Contains(m_wVid, m_wPid)) {
            const auto answer =
                uafw::MessageBoxPort().Show("Reboot the device to launch new FW?", "Warning",
                                            uafw::MsgBoxButtons::YesNo, uafw::MsgBoxResult::Yes);
            if (answer == uafw::MsgBoxResult::No)
                return false;
        }
    } else if (loopTestReboot == 0) {
        return false;
    }
    PulseRestartRegisters(chipCode);
    return true;
}

void CMpFlow_Flash::PulseRestartRegisters(std::uint8_t chipCode) {
    if (chipCode == kChipCode7080)
        PulseRegisterBit(kPulseRegisters7080);
    else if (chipCode == kChipCode7032)
        PulseRegisterBit(kPulseRegisters7032);
}

int CMpFlow_Flash::PulseRegisterBit(std::span<const std::uint32_t> addresses) {
    std::array<std::uint8_t, 2> values{};
    const std::size_t n = std::min(addresses.size(), values.size());
    int ok = 1;
    for (std::size_t i = 0; i < n; ++i)
        ok &= ReadByte(addresses[i], values[i]);
    for (std::size_t i = 0; i < n; ++i)
        ok &= WriteByte(addresses[i], static_cast<std::uint8_t>(values[i] | 0x01));
    uafw::Clock().SleepMs(kPulseHoldMs);
    for (std::size_t i = 0; i < n; ++i)
        ok &= WriteByte(addresses[i], static_cast<std::uint8_t>(values[i] & ~0x01));
    return ok;
}

int CMpFlow_Flash::FF_UpdateEx_ForSimulateOTP(std::span<std::uint8_t> image, std::uint32_t length,
                                              std::int32_t& outId) {
    LogScope log("CMpFlow_Flash::FF_UpdateEx_ForSimulateOTP", false, uafw::kLogDevice);
    if (length > image.size() || length > m_ImageRecord.m_dump.size()) {
        log.Fail("Write Flash Code Fail\n");
        outId = kUpdateFlashFailCode;
        return 0;
    }
    if (!MP_SPIWriteProtectOff()) {
        log.Fail("Disable Write Protect Fail\n");
        outId = kDisableWpFailCode;
        return 0;
    }
    if (!MP_EraseSPIFlash(0, 0)) {
        log.Fail("Erase Flash Fail\n");
        outId = kEraseFlashFailCode;
        return 0;
    }
    if (!MP_SPIWrite(image, length)) {
        log.Fail("Write Flash Code Fail\n");
        outId = kUpdateFlashFailCode;
        return 0;
    }
    const std::span<std::uint8_t> dump(m_ImageRecord.m_dump.data(), length);
    std::copy_n(image.begin(), length, dump.begin());
    if (!MP_SPIVerifyRead(dump, length)) {
        log.Fail("Read Flash Code Fail\n");
        outId = kReadFlashFailCode;
        return 0;
    }
    if (!std::equal(dump.begin(), dump.end(), image.begin())) {
        log.Fail("Check Flash Code Fail\n");
        outId = kCompareFailCode;
        return 0;
    }
    if (!MP_SPIWriteProtectOn()) {
        log.Fail("Enable Write Protect Fail\n");
        outId = kEnableWpFailCode;
        return 0;
    }
    if (g_dwDownloadOption & kOptionRestart) {
        PostStatus(kStatusResetNewCode);
        if (!RestartIntoCode(m_byRomMode != 0)) {
            log.Fail("Devcie ResetToCache Fail\n");
            outId = kResetDeviceFailCode;
            return 0;
        }
    }
    return 1;
}
