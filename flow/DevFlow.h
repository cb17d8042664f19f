#pragma once
// The device flow: which attached device the flows work on. It walks the device list, opens the
// candidates one by one, reads their identity, applies the operator's settings (an accepted-
// identity list, a locked USB port, automatic start) and keeps the chosen device open, or, for
// the main window, fills the device list box, remembers the chosen device's port and finds the
// same device again later. A device that is taken up has its chip type identified, the matching
// built-in firmware image loaded and the reset settings applied.
//
// Operations return 1 when a device is open or the search succeeded and 0 otherwise; the reason
// is posted to the main window (PostUIMessage) and kept in g_ErrCode.
#include <cstdint>
#include <string>

#include "flow/DevTypeInfo.h"

// Window message the device flow posts after it opened a device.
inline constexpr std::uint32_t kMsgDeviceOpened = 0x41F;
// Result ids of the device flow.
inline constexpr std::int32_t kDetectDeviceFailCode = 41511;   // "Detect Device Fail!"
inline constexpr std::int32_t kVidPidMismatchCode = 41714;     // "The Vid/Pid does not Match!"
inline constexpr std::int32_t kCheckDeviceInfoOkCode = 41906;  // "Check Device Info Succeed."

// Console and log texts of a production-line open.
inline constexpr const char* kNoDeviceText = "Cannot find Tavenic USB Audio!\n";
inline constexpr const char* kMismatchText = "Check VID/PID Mismatch!\n";

// Prefix of the image-version text of a built-in image taken up with the device.
inline constexpr const char* kUpdateFwVersionPrefix = "Update FW version:";

class CDevFlow : public CDevTypeInfo {
public:
    CDevFlow();

    // Opens list entry `index` and records its identity, port and chip ID (command line).
    int DEV_OpenDeviceByICIni(std::uint32_t index);
    // Opens the first device that passes the built-in identity list and the port lock
    // ("LockPort"; "PortNo" is learned from the first accepted device when it is 0).
    int DEV_OpenDeviceByVIDPID();
    // Fills the main window's device list box and chooses the default device (window start-up).
    int DEV_GetDefaultDeviceForAllInOne();
    // Refills the list box, keeping the device on the remembered port and hub when present;
    // `argument` travels as lParam of the device-state message.
    int DEV_GetDeviceListForAllInOne(std::intptr_t argument);
    // Takes up the device whose identity text equals the one the operator chose exactly.
    int DEV_GetDeviceListAfterReset();
    // Opens the chosen device again by its remembered port and hub (before each download).
    int Dev_OpenDeviceForMultiCamera();
    // Closes the flow's device.
    int DEV_CloseDevice();
    // Reads the open device's information and reports the device state (command line).
    int DEV_ReadDeviceInfo();
    // Identifies the chip type, takes up the built-in image for the device and records its
    // version; always 1.
    int DEV_TakeUpDevice();
    // Selects the chip description matching the two chip ID bytes; 1 when one matches and the
    // loaded firmware image carries the same chip code.
    int DEV_IdentifyChip(std::uint8_t id1, std::uint8_t id2);
    // Download option flags and reset mode from "ResetToCache" and "Normal Reset".
    int DEV_ApplyResetSettings();

    // Records the six version parts of the firmware image and its image-version text from the
    // eight version bytes (at 0x11B in an image shorter than 64 KiB, else at 0x100C); an image
    // too short to hold them leaves no version.
    void RecordImageVersion();

    // The three identity checks.
    bool IsInBuiltinIdList(const std::string& identity) const;
    bool IsInVidPidListFile(const std::string& identity) const;
    bool IsSameVidPidAsImage() const;

    // Where the list file is read; VidPidList.ini in the program's directory unless changed.
    void SetVidPidListFile(const std::string& path) { m_strVidPidListFile = path; }
    const std::string& VidPidListFile() const { return m_strVidPidListFile; }

    // Chip code of the firmware image's configuration area as the last preparation found it
    // (slot 0); 0xFF when the flow class keeps no configuration area.
    virtual std::uint8_t PreparedImageChipCode() const { return 0xFF; }
    // VID/PID text ("VID_%04X&PID_%04X") recorded in the firmware image's configuration area;
    // empty when the flow class keeps no configuration area.
    virtual std::string ImageVidPidText() const { return {}; }
    // The OTP space text of the device information; the OTP flow computes it, other memories have
    // none.
    virtual std::string OtpSpaceText() { return {}; }

    // Position among the devices that opened of the device last chosen; -1 = none.
    std::int32_t m_nSelOrdinal = -1;
    // Position of that device in the main window's device list box; -1 = none.
    std::int32_t m_nSelEntry = -1;
    // Result of the last accepted-identity check (the main window shows the device state by it).
    std::int32_t m_nListCheck = 1;
    // The built-in image taken up with the device: its six version parts and the image-version
    // text "Update FW version:" + version.
    FirmwareVersionParts m_imageVersion;
    std::string m_strUpdateFwVersion;
    // The OTP space text of the device information.
    std::string m_strOtpSpace;

private:
    // What the flow records about one device; the list operations look at every device and then
    // put back the chosen one's.
    struct DeviceIdentity {
        std::uint16_t vid = 0;
        std::uint16_t pid = 0;
        std::uint16_t rev = 0;
        std::string manufacturer;
        std::string vidPid;
        std::string identity;
        std::uint32_t port = 0;
        std::uint32_t hub = 0;
        std::uint8_t chipId1 = 0;
        std::uint8_t chipId2 = 0;
    };
    DeviceIdentity SaveIdentity() const;
    void RestoreIdentity(const DeviceIdentity& saved);

    // Reads VID, PID, REV and manufacturer of the open device and builds its texts.
    void ReadIdentity();
    // Reads the port and hub of the open device into the flow.
    void ReadPortAndHub();
    // Reads the two chip ID bytes (0xFF preset, each masked with 0xF0).
    void ReadChipIdBytes();
    // Stores the port and hub for the main window and remembers them.
    void StoreDeviceInfo(std::uint32_t port, std::uint32_t hub);
    // The port and hub stored for the main window.
    void StoredDeviceInfo(std::uint32_t& port, std::uint32_t& hub) const;
    // The accepted-identity check the settings ask for on `identity`; true when no check is set.
    bool ListCheck(const std::string& identity) const;
    // Empties the main window's device list box.
    void ClearList();
    // Appends the identity as the next list-box item; its position, or -1 without a list box.
    int AddListItem(const std::string& identity);
    // Closes the open device (list operations leave none open).
    void CloseCandidate();
    // One pass of the default selection rules over the device list; the chosen device's identity
    // goes to `chosen`.
    bool SelectDefaultDevice(std::uint8_t count, DeviceIdentity& chosen);
    // Takes up the built-in image named for the device, or the chip's default image.
    void TakeUpBuiltinImage();

    std::string m_strVidPidListFile;
    // The device value pair last stored, for a run without a main window.
    std::uint32_t m_dwStoredPort = 0;
    std::uint32_t m_dwStoredHub = 0;
    // Items put into the device list box since it was last emptied.
    int m_nListItems = 0;
};
