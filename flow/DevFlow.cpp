#include "flow/DevFlow.h"

#include <array>
#include <cstdio>
#include <span>

#include "config/ICTypeIni.h"
#include "config/Settings.h"
#include "device/DeviceApi.h"
#include "flow/ConsoleOutput.h"
#include "flow/DeviceListView.h"
#include "flow/IdentityLists.h"
#include "platform/AppState.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"
#include "platform/ProgramPath.h"
#include "platform/UiLink.h"

IDeviceListView* g_pDeviceListView = nullptr;

namespace {

constexpr std::uint32_t kChipIdAddress = 0xFE21;
constexpr std::uint8_t kChipIdMask = 0xF0;
// Where the eight version bytes of a firmware image lie: images of 64 KiB and more carry them at
// 0x100C, shorter ones at 0x11B.
constexpr std::size_t kLongImageLength = 0x10000;
constexpr std::size_t kVersionBytesLong = 0x100C;
constexpr std::size_t kVersionBytesShort = 0x11B;
constexpr std::size_t kVersionByteCount = 8;
// "CheckVIDPID_INI" value that asks for the list file instead of the built-in list.
constexpr std::int32_t kCheckListFile = 2;

std::string Format(const char* format, auto... args) {
    char text[128];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

// Chip codes 8 and 9 name the same chip.
bool SameChipCode(std::uint8_t a, std::uint8_t b) {
    const auto fold = [](std::uint8_t code) { return code == 9 ? std::uint8_t{8} : code; };
    return fold(a) == fold(b);
}

// "FFU_vvvv_pppp" from "VID_vvvv&PID_pppp&REV_rrrr": the REV tail cut before its last '&', "FFU"
// put in front, and every "VID" and "&PID" removed.
std::string FirmwareResourceName(const std::string& identity) {
    std::string name = identity;
    const std::size_t last = name.rfind('&');
    if (last != std::string::npos)
        name.resize(last);
    name = "FFU" + name;
    for (const char* part : {"VID", "&PID"}) {
        const std::string cut(part);
        for (std::size_t at = name.find(cut); at != std::string::npos; at = name.find(cut))
            name.erase(at, cut.size());
    }
    return name;
}

void ResetAutoRunEvent() {
    if (ReadSettingInt(0, "AutoRun") != 0 && g_pDeviceListView != nullptr)
        g_pDeviceListView->ResetAutoRunEvent();
}

void SetAutoRunEvent() {
    if (ReadSettingInt(0, "AutoRun") != 0 && g_pDeviceListView != nullptr)
        g_pDeviceListView->SetAutoRunEvent();
}

// Selects the chosen entry and makes its text the device-identity text.
void ShowChosenEntry(std::int32_t entry) {
    if (g_pDeviceListView == nullptr)
        return;
    g_pDeviceListView->SelectDeviceListItem(entry);
    g_pDeviceListView->SetDeviceIdentityText(
        entry >= 0 ? g_pDeviceListView->DeviceListItemText(entry) : std::string());
}

}  // namespace

CDevFlow::CDevFlow() : m_strVidPidListFile(uafw::ProgramDirectory() + "VidPidList.ini") {}

// ---- device data -------------------------------------------------------------------------------

void CDevFlow::ReadIdentity() {
    DA_GetIdsAndManufacturer(m_hDevice, m_wVid, m_wPid, m_wRev, m_strDevManufacturer);
    m_strDevVidPid = Format("VID_%04X&PID_%04X", m_wVid, m_wPid);
    m_strDevIdentity = Format("VID_%04X&PID_%04X&REV_%04X", m_wVid, m_wPid, m_wRev);
}

CDevFlow::DeviceIdentity CDevFlow::SaveIdentity() const {
    return {m_wVid,           m_wPid,   m_wRev,  m_strDevManufacturer, m_strDevVidPid,
            m_strDevIdentity, m_dwPort, m_dwHub, m_byChipId1,          m_byChipId2};
}

void CDevFlow::RestoreIdentity(const DeviceIdentity& saved) {
    m_wVid = saved.vid;
    m_wPid = saved.pid;
    m_wRev = saved.rev;
    m_strDevManufacturer = saved.manufacturer;
    m_strDevVidPid = saved.vidPid;
    m_strDevIdentity = saved.identity;
    m_dwPort = saved.port;
    m_dwHub = saved.hub;
    m_byChipId1 = saved.chipId1;
    m_byChipId2 = saved.chipId2;
}

void CDevFlow::ReadPortAndHub() {
    DA_GetPortAndHub(m_hDevice, m_dwPort, m_dwHub);
}

void CDevFlow::ReadChipIdBytes() {
    std::array<std::uint8_t, 2> id = {0xFF, 0xFF};
    if (!ReadMem(kChipIdAddress, id))
        id = {0xFF, 0xFF};
    m_byChipId1 = id[0] & kChipIdMask;
    m_byChipId2 = id[1] & kChipIdMask;
}

void CDevFlow::StoreDeviceInfo(std::uint32_t port, std::uint32_t hub) {
    m_dwStoredPort = port;
    m_dwStoredHub = hub;
    SetUIDeviceInfo(static_cast<std::int32_t>(port), static_cast<std::int32_t>(hub));
}

void CDevFlow::StoredDeviceInfo(std::uint32_t& port, std::uint32_t& hub) const {
    port = m_dwStoredPort;
    hub = m_dwStoredHub;
    if (g_pDeviceListView != nullptr) {
        std::int32_t viewPort = 0;
        std::int32_t viewHub = 0;
        g_pDeviceListView->GetDeviceInfo(viewPort, viewHub);
        port = static_cast<std::uint32_t>(viewPort);
        hub = static_cast<std::uint32_t>(viewHub);
    }
}

void CDevFlow::ClearList() {
    m_nListItems = 0;
    if (g_pDeviceListView != nullptr)
        g_pDeviceListView->ClearDeviceList();
}

int CDevFlow::AddListItem(const std::string& identity) {
    if (g_pDeviceListView == nullptr)
        return -1;
    ++m_nListItems;
    return g_pDeviceListView->AddDeviceListItem(identity);
}

void CDevFlow::CloseCandidate() {
    DA_Close();
    m_hDevice = 0;
}

// ---- identity checks ---------------------------------------------------------------------------

bool CDevFlow::IsInBuiltinIdList(const std::string& identity) const {
    return uafw::IdentityInBuiltinList(uafw::BuiltinIdListText(), identity);
}

bool CDevFlow::IsInVidPidListFile(const std::string& identity) const {
    switch (uafw::IdentityInListFile(m_strVidPidListFile, identity)) {
        case uafw::ListFileResult::kMatch:
            return true;
        case uafw::ListFileResult::kMissing:
            uafw::ShowMessage(Format("%s does not exist", m_strVidPidListFile.c_str()));
            return false;
        case uafw::ListFileResult::kUnreadable:
            uafw::ShowMessage(Format("Fail to open file %s", m_strVidPidListFile.c_str()));
            return false;
        case uafw::ListFileResult::kNoMatch:
            break;
    }
    return false;
}

bool CDevFlow::IsSameVidPidAsImage() const {
    const std::string image = ImageVidPidText();
    return !m_strDevVidPid.empty() && m_strDevVidPid == image;
}

bool CDevFlow::ListCheck(const std::string& identity) const {
    const std::int32_t checkIni = ReadSettingInt(0, "CheckVIDPID_INI");
    if (checkIni != 0)
        return checkIni == kCheckListFile ? IsInVidPidListFile(identity)
                                          : IsInBuiltinIdList(identity);
    if (ReadSettingInt(0, "CheckVIDPID_BIN") != 0)
        return IsSameVidPidAsImage();
    return true;
}

// ---- production-line opens ---------------------------------------------------------------------

int CDevFlow::DEV_OpenDeviceByICIni(std::uint32_t index) {
    LogScope scope("CDevFlow::DEV_OpenDeviceByICIni", false, uafw::kLogDevice);
    if (m_hDevice != 0)
        return 1;
    const int opened = MP_OpenDevice(index);
    if (!opened) {
        PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
        return 0;
    }
    ReadPortAndHub();
    StoreDeviceInfo(m_dwPort, m_dwHub);
    ReadChipIdBytes();
    ReadIdentity();
    if (g_pICTypeIni != nullptr)
        g_pICTypeIni->ReadChipTypeInfo();
    PostUIMessage(kMsgDeviceOpened, 0, 0);
    return opened;
}

int CDevFlow::DEV_OpenDeviceByVIDPID() {
    LogScope scope("CDevFlow::DEV_OpenDeviceByVIDPID", false, uafw::kLogDevice);
    if (m_hDevice != 0)
        return 1;
    const bool lockPort = ReadSettingInt(0, "LockPort") != 0;
    const auto portNo = static_cast<std::uint32_t>(ReadSettingInt(0, "PortNo"));

    const std::uint8_t count = DA_CountDevices();
    if (count == 0) {
        PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
        scope.Fail("%s", kNoDeviceText);
        uafw::PrintConsole(kNoDeviceText);
        PostUIMessage(kMsgDeviceOpened, 0, 0);
        g_ErrCode = kDetectDeviceFailCode;
        return 0;
    }

    bool accepted = false;
    for (std::uint32_t index = 0; index < count && !accepted; ++index) {
        if (!MP_OpenDevice(index))
            continue;
        ReadPortAndHub();
        StoreDeviceInfo(m_dwPort, m_dwHub);
        ReadIdentity();
        if (IsInBuiltinIdList(m_strDevIdentity)) {
            if (!lockPort) {
                accepted = true;
            } else if (portNo == 0) {
                // The first accepted device teaches the port; it holds for the rest of the run.
                WriteSettingInt(static_cast<std::int32_t>(m_dwPort), "PortNo");
                accepted = true;
            } else {
                accepted = portNo == m_dwPort;
            }
        }
        if (!accepted)
            CloseCandidate();
    }

    if (!accepted) {
        PostUIMessage(kMsgFailure, kVidPidMismatchCode, 0);
        g_ErrCode = kVidPidMismatchCode;
        scope.Fail("%s", kMismatchText);
        uafw::PrintConsole(kMismatchText);
        return 0;
    }
    ReadChipIdBytes();
    if (g_pICTypeIni != nullptr)
        g_pICTypeIni->ReadChipTypeInfo();
    PostUIMessage(kMsgDeviceOpened, 0, 0);
    g_ErrCode = 0;
    return 1;
}

// ---- main window lists -------------------------------------------------------------------------

bool CDevFlow::SelectDefaultDevice(std::uint8_t count, DeviceIdentity& chosenIdentity) {
    const bool checkSet =
        ReadSettingInt(0, "CheckVIDPID_INI") != 0 || ReadSettingInt(0, "CheckVIDPID_BIN") != 0;
    bool chosen = false;
    std::int32_t opened = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!MP_OpenDevice(index))
            continue;
        ReadIdentity();
        const int item = IsInBuiltinIdList(m_strDevIdentity) ? AddListItem(m_strDevIdentity) : -1;
        if (!chosen) {
            bool take = !checkSet;
            if (checkSet) {
                m_nListCheck = ListCheck(m_strDevIdentity) ? 1 : 0;
                take = m_nListCheck != 0;
            }
            if (take) {
                DEV_TakeUpDevice();
                ReadPortAndHub();
                StoreDeviceInfo(m_dwPort, m_dwHub);
                m_nSelOrdinal = opened;
                // The entry is the chosen device's own item; a device the list box does not show
                // has none, so no other device's text becomes the chosen identity.
                m_nSelEntry = item;
                chosenIdentity = SaveIdentity();
                chosen = true;
            }
        }
        CloseCandidate();
        ++opened;
    }
    return chosen;
}

int CDevFlow::DEV_GetDefaultDeviceForAllInOne() {
    LogScope scope("CDevFlow::DEV_GetDefaultDeviceForAllInOne", false, uafw::kLogDevice);
    if (m_hDevice != 0)
        return 1;
    ResetAutoRunEvent();
    const std::uint8_t count = DA_CountDevices();
    m_nSelOrdinal = -1;
    m_nSelEntry = -1;
    ClearList();

    DeviceIdentity chosenIdentity;
    const bool chosen = SelectDefaultDevice(count, chosenIdentity);
    if (chosen)
        RestoreIdentity(chosenIdentity);
    if (!chosen) {
        PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
    } else {
        ShowChosenEntry(m_nSelEntry);
        PostUIMessage(kMsgDeviceState, kCheckDeviceInfoOkCode, 0);
    }
    SetAutoRunEvent();
    return chosen ? 1 : 0;
}

int CDevFlow::DEV_GetDeviceListForAllInOne(std::intptr_t argument) {
    LogScope scope("CDevFlow::DEV_GetDeviceListForAllInOne", false, uafw::kLogDevice);
    ResetAutoRunEvent();
    const std::uint8_t count = DA_CountDevices();
    m_nSelOrdinal = -1;
    ClearList();

    // First pass: the device on the remembered port and hub.
    std::uint32_t storedPort = 0;
    std::uint32_t storedHub = 0;
    StoredDeviceInfo(storedPort, storedHub);
    DeviceIdentity chosenIdentity;
    bool chosen = false;
    std::int32_t opened = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!MP_OpenDevice(index))
            continue;
        ReadPortAndHub();
        ReadIdentity();
        const int item = IsInBuiltinIdList(m_strDevIdentity) ? AddListItem(m_strDevIdentity) : -1;
        if (!chosen && m_dwPort == storedPort && m_dwHub == storedHub) {
            m_nSelOrdinal = opened;
            m_nSelEntry = item;
            DEV_TakeUpDevice();
            chosenIdentity = SaveIdentity();
            chosen = true;
        }
        CloseCandidate();
        SetAutoRunEvent();
        ++opened;
    }

    if (!chosen) {
        // Second pass with the default rules; the list box is rebuilt so that every device shows
        // once, and the stored pair ends as the chosen device's.
        StoreDeviceInfo(0, 0);
        ClearList();
        m_nSelEntry = -1;
        chosen = SelectDefaultDevice(count, chosenIdentity);
    }
    if (chosen)
        RestoreIdentity(chosenIdentity);

    if (chosen && m_nListItems > 0) {
        ShowChosenEntry(m_nSelEntry);
        PostUIMessage(kMsgDeviceState, kCheckDeviceInfoOkCode, argument);
        g_ErrCode = kCheckDeviceInfoOkCode;
        return 1;
    }
    PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, argument);
    g_ErrCode = kDetectDeviceFailCode;
    return 0;
}

int CDevFlow::DEV_GetDeviceListAfterReset() {
    LogScope scope("CDevFlow::DEV_GetDeviceListAfterReset", false, uafw::kLogDevice);
    if (m_nSelOrdinal == -1) {
        PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
        return 0;
    }
    const std::string target =
        g_pDeviceListView != nullptr ? g_pDeviceListView->DeviceIdentityText() : std::string();
    const std::uint8_t count = DA_CountDevices();
    std::int32_t opened = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (!MP_OpenDevice(index))
            continue;
        ReadIdentity();
        if (!target.empty() && m_strDevIdentity == target) {
            m_nSelOrdinal = opened;
            ReadPortAndHub();
            StoreDeviceInfo(m_dwPort, m_dwHub);
            SetAutoRunEvent();
            DEV_TakeUpDevice();
            m_nListCheck = ListCheck(m_strDevIdentity) ? 1 : 0;
            CloseCandidate();
            PostUIMessage(kMsgDeviceState, kCheckDeviceInfoOkCode, 0);
            g_ErrCode = kCheckDeviceInfoOkCode;
            return 1;
        }
        CloseCandidate();
        ++opened;
    }
    PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
    g_ErrCode = kDetectDeviceFailCode;
    return 0;
}

int CDevFlow::Dev_OpenDeviceForMultiCamera() {
    LogScope scope("CDevFlow::Dev_OpenDeviceForMultiCamera", false, uafw::kLogDevice);
    if (m_hDevice != 0)
        return 1;
    if (m_nSelOrdinal == -1) {
        PostUIMessage(kMsgDeviceState, kDetectDeviceFailCode, 0);
        return 0;
    }
    std::uint32_t storedPort = 0;
    std::uint32_t storedHub = 0;
    StoredDeviceInfo(storedPort, storedHub);
    const std::uint8_t count = DA_CountDevices();
    for (std::uint32_t index = static_cast<std::uint32_t>(m_nSelOrdinal); index < count; ++index) {
        if (!MP_OpenDevice(index))
            continue;
        ReadPortAndHub();
        if (m_dwPort == storedPort && m_dwHub == storedHub) {
            ReadIdentity();
            return 1;
        }
        CloseCandidate();
    }
    return 0;
}

int CDevFlow::DEV_CloseDevice() {
    LogScope scope("CDevFlow::DEV_CloseDevice", false, uafw::kLogDevice);
    if (m_hDevice != 0)
        DA_Close();
    m_hDevice = 0;
    return 1;
}

int CDevFlow::DEV_ReadDeviceInfo() {
    LogScope scope("CDevFlow::DEV_ReadDeviceInfo", false, uafw::kLogDevice);
    MP_RefreshDeviceListInfo();
    PostUIMessage(kMsgDeviceState, 0, 0);
    g_ErrCode = 0;
    return 1;
}

// ---- taking a device up ------------------------------------------------------------------------

int CDevFlow::DEV_IdentifyChip(std::uint8_t id1, std::uint8_t id2) {
    LogScope scope("CDevFlow::DEV_IdentifyChip", false, uafw::kLogDevice);
    bool identified = false;
    for (int position = 0;; ++position) {
        // Every try starts from a fresh catalogue with its descriptions listed.
        delete g_pICTypeIni;
        g_pICTypeIni = new CICTypeIni();
        g_pICTypeIni->ListIniNames();
        if (position >= g_pICTypeIni->IniNameCount())
            break;
        if (g_pICTypeIni->SelectIniByChipId(id1, id2, position)) {
            identified = true;
            break;
        }
    }
    if (!identified)
        return 0;
    std::vector<std::uint8_t>& image = m_ImageRecord.m_image;
    if (image.empty() || !OpPrepare(image)) {
        m_ImageRecord.m_strImageFile.clear();
        return 0;
    }
    return SameChipCode(g_pICTypeIni->ChipCode(), PreparedImageChipCode()) ? 1 : 0;
}

void CDevFlow::TakeUpBuiltinImage() {
    std::int32_t id = 0;
    if (g_pICTypeIni != nullptr &&
        g_pICTypeIni->FirmwareIdByName(FirmwareResourceName(m_strDevIdentity), id))
        LoadImageResource(m_ImageRecord, id);
    else
        LoadDefaultImage(m_ImageRecord);
    // The loaded image becomes the flow's firmware image; the loader's slot is emptied.
    m_ImageRecord.m_image = std::move(m_ImageRecord.m_secondary);
    m_ImageRecord.m_secondary.clear();
}

void CDevFlow::RecordImageVersion() {
    const std::vector<std::uint8_t>& image = m_ImageRecord.m_image;
    const std::size_t at = image.size() < kLongImageLength ? kVersionBytesShort : kVersionBytesLong;
    if (image.size() < at + kVersionByteCount) {
        // No image, or one too short to carry its version: there is no version to offer.
        m_imageVersion = {};
        m_strUpdateFwVersion.clear();
        return;
    }
    const std::span<const std::uint8_t> b(image.data() + at, kVersionByteCount);
    m_imageVersion.parts = {static_cast<std::uint16_t>(b[0] >> 4),
                            static_cast<std::uint16_t>(b[0] & 0x0F),
                            b[1],
                            static_cast<std::uint16_t>(b[2] << 8 | b[3]),
                            static_cast<std::uint16_t>(b[4] << 8 | b[5]),
                            static_cast<std::uint16_t>(b[6] << 8 | b[7])};
    const auto& p = m_imageVersion.parts;
    m_strUpdateFwVersion =
        std::string(kUpdateFwVersionPrefix) +
        Format("%01X.%01X%02X.%04X-%04X.%04X", p[0], p[1], p[2], p[3], p[4], p[5]);
}

int CDevFlow::DEV_TakeUpDevice() {
    LogScope scope("CDevFlow::DEV_TakeUpDevice", false, uafw::kLogDevice);
    ReadChipIdBytes();
    DEV_IdentifyChip(m_byChipId1, m_byChipId2);
    MP_RefreshDeviceListInfo();
    if (g_nProjectType == kProjectOtp)
        m_strOtpSpace = OtpSpaceText();
    TakeUpBuiltinImage();
    RecordImageVersion();
    if (!m_ImageRecord.m_image.empty())
        OpPrepare(m_ImageRecord.m_image);
    DEV_ApplyResetSettings();
    return 1;
}

int CDevFlow::DEV_ApplyResetSettings() {
    LogScope scope("CDevFlow::DEV_ApplyResetSettings", false, uafw::kLogDevice);
    std::uint32_t option = kDownloadOptionInitial;
    if (ReadSettingInt(1, "ResetToCache") == 0)
        option &= ~kOptionRestart;
    if (ReadSettingInt(1, "Normal Reset") == 0) {
        option |= kOptionAltReset;
        m_byResetMode = 5;
    } else {
        m_byResetMode = 6;
    }
    g_dwDownloadOption = option;
    return 1;
}
