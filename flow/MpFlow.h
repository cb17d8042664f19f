#pragma once
// The flow core: the device state the flow keeps about the open device (handle, identity, boot
// mode, cache state, information texts), opening a device, refreshing what is known about it,
// the in-cache test, the cancel check, the notifications to the front end, SPI write protection,
// the reset request and the reset into the ROM loader.
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "config/FirmwareImage.h"
#include "config/ICTypeIni.h"
#include "flow/FlowResultIds.h"
#include "flow/ZynFun.h"

// Download option flags: one process-wide word, 0x13 initially and whenever the device flow takes
// up a new image.
inline constexpr std::uint32_t kDownloadOptionInitial = 0x13;
inline constexpr std::uint32_t kOptionRestart = 0x01;     // restart into the (new) code after
inline constexpr std::uint32_t kOptionCheckEmpty = 0x02;  // check that the erase left it empty
inline constexpr std::uint32_t kOptionAltReset = 0x04;    // use the non-normal reset (mode 5)
inline constexpr std::uint32_t kOptionProgram = 0x10;     // write, verify and tag
extern std::atomic<std::uint32_t> g_dwDownloadOption;

// Window messages the flows post, and the words they carry.
inline constexpr std::uint32_t kMsgProgress = 0x413;  // 0..100
inline constexpr std::uint32_t kMsgFailure = 0x414;   // result id
inline constexpr std::uint32_t kMsgSuccess = 0x416;   // result id
inline constexpr std::uint32_t kMsgStatus = 0x417;    // status word or 0
inline constexpr std::uint32_t kMsgDeviceState = 0x418;

// Status words, in the order a download shows them.
inline constexpr std::int32_t kStatusWaitReset = 41718;     // "Wait device to reset"
inline constexpr std::int32_t kStatusErasing = 41719;       // "Erasing"
inline constexpr std::int32_t kStatusCheckEmpty = 41720;    // "Check empty"
inline constexpr std::int32_t kStatusDownload = 41721;      // "Download"
inline constexpr std::int32_t kStatusVerify = 41722;        // "Verify"
inline constexpr std::int32_t kStatusWriteTag = 41723;      // "Write Tag"
inline constexpr std::int32_t kStatusResetNewCode = 41724;  // "Reset to new code"
inline constexpr std::int32_t kStatusRead = 41735;          // "Read"
// Failure ids the flow core posts or returns.
inline constexpr std::int32_t kResetDeviceFailCode = 41512;  // "Reset Device Fail!"

// Reset request kinds.
inline constexpr int kResetKindUpdateFw = 7;  // update-firmware restart with a mode byte
inline constexpr int kResetKindRestart = 9;   // restart into the code
inline constexpr int kResetKindRom = 10;      // restart into the ROM loader

inline constexpr std::uint32_t kDeviceStatusSize = 104;

// The information texts shown for the open device.
class CShowInfo {
public:
    std::string m_strProductName = "N/A";
    std::string m_strConnection = "No USB Audio";  // or "USB Audio Connected"
    std::string m_strFwVersion = "N/A";
    std::string m_strDeviceMode = "Unknown";  // "ROM", "SPI", "ROM&&OTP", "SPI&&OTP", "ROM&&SPI"
    // Texts of the device-list refresh: "VID_%04X&PID_%04X", "VID_%04X&PID_%04X&REV_%04X" and
    // the device's name joined with "REV_%04X" by "&".
    std::string m_strListVidPid;
    std::string m_strListIdentity;
    std::string m_strListDevice;
};

// How the flow restarts the chip.
class CMpConfig : public CDumpStr, public virtual CDataInfo {
public:
    // 6; 5 when "Normal Reset" is 0 (set by the device flow when it takes up an image).
    std::uint8_t m_byResetMode = 6;
    // Bank copy flag of the prepared image's configuration area (copied from it by slot 0).
    std::int32_t m_bBankCopyOn = 0;
};

// The six numeric parts of a firmware version, in the order of the version text.
struct FirmwareVersionParts {
    std::array<std::uint16_t, 6> parts{};
    bool operator==(const FirmwareVersionParts&) const = default;
};

// The last device status block read and what it says about the running firmware.
class CStatusInfo {
public:
    std::array<std::uint8_t, kDeviceStatusSize> m_status{};
    // The device's firmware version as numbers (filled by the device-list refresh).
    FirmwareVersionParts m_deviceVersion;

    // Offset of the active image record in the status block: 64 if its run state is nonzero,
    // else 72 if that run state is neither 0 nor 0xB, else 64.
    std::size_t ActiveRecordOffset() const;
    std::uint8_t ActiveRunState() const { return m_status[ActiveRecordOffset()] & 0x0F; }
    std::uint8_t ActiveVersionFormat() const { return m_status[ActiveRecordOffset()] >> 4; }
};

class CMpFlow : public CZynFun, public CShowInfo, public CMpConfig, public CStatusInfo {
public:
    CMpFlow() = default;
    ~CMpFlow() override = default;
    CMpFlow(const CMpFlow&) = delete;
    CMpFlow& operator=(const CMpFlow&) = delete;

    // Closes the open device and opens list entry `index`; 1 when a device is open. A failed
    // open is logged and followed by a 128 ms pause.
    int MP_OpenDevice(std::uint32_t index);
    // Brings the chip into its ROM loader; nonzero = done.
    int MP_ResetToRomCode();

    // Refreshes all information texts and flags; always 1.
    int MP_RefreshDeviceInfo();
    // Refreshes only the firmware version text; always 1.
    int MP_RefreshVersion();
    // The device-list form: the version as numbers and texts without the VID/PID suffix, plus
    // the list identity texts; always 1.
    int MP_RefreshDeviceListInfo();
    // Whether the chip runs its downloaded code; always 1, the answer goes to `inCache`.
    int MP_InCacheTest(std::int32_t& inCache);

    // Reset request of kind 7, 9 or 10 with reconnection; 1 when the device came back and is
    // open again under its new handle.
    int MP_ResetRequest(int kind, std::uint8_t mode);

    // SPI write protection through the chip's pin registers and the flash status register.
    int MP_SPIWriteProtectOff();
    int MP_SPIWriteProtectOn();

    // The cancel check: true when the main window's stop flag is set.
    static bool MP_CheckCancel();
    // Notifications to the front end (each also records the word in g_ErrCode).
    static void PostProgress(std::int32_t percent);
    static void PostStatus(std::int32_t id);
    static void PostFailure(std::int32_t id);
    static void PostSuccess(std::int32_t id);

    // The chip code of the selected chip description (0xFF without a description).
    static std::uint8_t CatalogueChipCode();

    // The flow device state.
    std::uint16_t m_wVid = 0;
    std::uint16_t m_wPid = 0;
    std::uint16_t m_wRev = 0;
    std::uint16_t m_wChipId = 0xFFFF;  // last chip ID word read
    std::uint8_t m_byRomMode = 0;      // the chip is known to run its ROM loader
    std::int32_t m_bFamily0010 = 0;
    std::int32_t m_bModeRegister = 0;

    // The image-holding record: firmware image, secondary image, dump buffer.
    CImageRecord m_ImageRecord;

protected:
    // Reads the status block into m_status; a failed read leaves it zeroed. True when read.
    bool ReadStatusBlock();

private:
    // The version text from the boot-mode byte, the status block and, for the mode-register
    // boot modes, the extended status at offset 128; `withIds` appends the VID/PID suffix.
    std::string FormatVersion(std::uint8_t bootMode, bool withIds, FirmwareVersionParts* parts);
    std::string m_strDeviceName;
};
