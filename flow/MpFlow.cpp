#include "flow/MpFlow.h"

#include <cstdio>

#include "config/Settings.h"
#include "device/DeviceApi.h"
#include "device/DeviceReset.h"
#include "flow/ChipFamily.h"
#include "flow/SpiWriteProtect.h"
#include "platform/AppState.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"
#include "platform/UiLink.h"

std::atomic<std::uint32_t> g_dwDownloadOption{kDownloadOptionInitial};

namespace {

constexpr std::uint32_t kOpenFailPauseMs = 128;
constexpr std::uint32_t kDefaultWaitTimeMs = 5000;
// The extended status block of the OTP and ROM&&SPI boot modes: 32 bytes at offset 128, read
// from 8-byte block 16.
constexpr std::uint32_t kExtendedStatusBlock = 128 / 8;
constexpr std::size_t kExtendedStatusSize = 32;

std::string Format(const char* format, auto... args) {
    char text[160];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

bool IsExtendedBootMode(std::uint8_t bootMode) {
    return bootMode == 16 || bootMode == 24 || bootMode == 32;
}

}  // namespace

// ---- status block ------------------------------------------------------------------------------

std::size_t CStatusInfo::ActiveRecordOffset() const {
    const std::uint8_t first = m_status[64] & 0x0F;
    const std::uint8_t second = m_status[72] & 0x0F;
    if (first != 0)
        return 64;
    if (second != 0 && second != 0x0B)
        return 72;
    return 64;
}

bool CMpFlow::ReadStatusBlock() {
    m_status.fill(0);
    if (GetStatus(m_status))
        return true;
    m_status.fill(0);
    return false;
}

// ---- notifications and cancel ------------------------------------------------------------------

bool CMpFlow::MP_CheckCancel() {
    return IsStopRequested();
}

void CMpFlow::PostProgress(std::int32_t percent) {
    PostUIMessage(kMsgProgress, static_cast<std::uintptr_t>(percent), 0);
}

void CMpFlow::PostStatus(std::int32_t id) {
    PostUIMessage(kMsgStatus, static_cast<std::uintptr_t>(id), 0);
}

void CMpFlow::PostFailure(std::int32_t id) {
    PostUIMessage(kMsgFailure, static_cast<std::uintptr_t>(id), 0);
}

void CMpFlow::PostSuccess(std::int32_t id) {
    PostUIMessage(kMsgSuccess, static_cast<std::uintptr_t>(id), 0);
}

std::uint8_t CMpFlow::CatalogueChipCode() {
    return g_pICTypeIni != nullptr ? g_pICTypeIni->ChipCode() : 0xFF;
}

// ---- opening -----------------------------------------------------------------------------------

int CMpFlow::MP_OpenDevice(std::uint32_t index) {
    LogScope scope("CMpFlow::MP_OpenDevice", false, uafw::kLogDevice);
    if (MP_CheckCancel())
        return 0;
    // The device library keeps its current device even when the flow has lost the handle (after
    // a failed reset it may hold another listed device); close that too, so that the open below
    // really opens the entry asked for.
    if (m_hDevice != 0 || DA_GetDeviceNode() != 0) {
        DA_Close();
        m_hDevice = 0;
    }
    m_hDevice = DA_OpenByIndex(index);
    if (m_hDevice == 0) {
        scope.Fail("MP_OpenDevice Fail %d\n", static_cast<int>(index));
        uafw::Clock().SleepMs(kOpenFailPauseMs);
        return 0;
    }
    return 1;
}

// ---- information -------------------------------------------------------------------------------

std::string CMpFlow::FormatVersion(std::uint8_t bootMode, bool withIds,
                                   FirmwareVersionParts* parts) {
    FirmwareVersionParts p;
    std::string text;
    const std::string ids = withIds ? Format("-VID%04X&&PID%04X", m_wVid, m_wPid) : "";
    const auto six = [&](std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d,
                         std::uint16_t e, std::uint16_t f) {
        p.parts = {a, b, c, d, e, f};
        text = Format("%01X.%01X%02X.%04X-%04X.%04X", a, b, c, d, e, f);
    };
    if (IsExtendedBootMode(bootMode)) {
        std::array<std::uint8_t, kExtendedStatusSize> s{};
        if (!GetStatusRange(kExtendedStatusBlock, s))
            s.fill(0);
        six(s[12] >> 4, s[12] & 0x0F, s[13], Be16(&s[14]), Be16(&s[16]), Be16(&s[18]));
    } else {
        const std::uint8_t* b = m_status.data();
        const std::uint8_t format = ActiveVersionFormat();
        if (format == 2) {
            p.parts = {b[77], b[76], b[79], b[78], 0, 0};
            text = Format("0x%02X%02X-%02X%02X", b[77], b[76], b[79], b[78]);
        } else if (format == 3) {
            six(b[79] >> 4, b[79] & 0x0F, b[78], Le16(&b[76]), Le16(&b[82]), Le16(&b[80]));
        } else {
            const std::uint8_t* record = b + ActiveRecordOffset();
            const std::uint16_t word = Le16(record + 6);
            p.parts = {record[3],
                       static_cast<std::uint16_t>(word & 0xFF),
                       static_cast<std::uint16_t>(word >> 8),
                       b[5],
                       b[4],
                       0};
            text =
                Format("0x%02X-%02X%02X-%02X%02X", record[3], word & 0xFF, word >> 8, b[5], b[4]);
        }
    }
    if (parts != nullptr)
        *parts = p;
    return text + ids;
}

int CMpFlow::MP_RefreshDeviceInfo() {
    LogScope scope("CMpFlow::MP_RefreshDeviceInfo", false, uafw::kLogDevice);
    if (!DeviceOpen()) {
        m_strConnection = "No USB Audio";
        m_strFwVersion = "N/A";
        m_strProductName = "N/A";
        return 1;
    }
    m_strConnection = "USB Audio Connected";
    ReadStatusBlock();
    DA_GetIds(m_hDevice, m_wVid, m_wPid, m_wRev);
    DA_GetName(m_strProductName);

    m_wChipId = 0xFFFF;
    ReadChipId(m_wChipId);
    std::uint8_t bootMode = 0;
    if (!ReadByte(uafw::chip::BootModeRegister(m_wChipId), bootMode))
        bootMode = 0;
    m_strFwVersion = FormatVersion(bootMode, true, nullptr);

    m_bFamily0010 = uafw::chip::FamilyCode(m_wChipId) == 0x0010 ? 1 : 0;
    m_bModeRegister = uafw::chip::IsModeRegisterChip(m_wChipId) ? 1 : 0;
    if (m_bModeRegister) {
        std::uint8_t mode = 0xFF;
        if (!ReadByte(uafw::chip::BootModeRegister(m_wChipId), mode))
            mode = 0xFF;
        m_strDeviceMode = uafw::chip::DeviceModeText(mode);
    }
    std::int32_t inCache = 0;
    MP_InCacheTest(inCache);
    m_byRomMode = inCache ? 0 : 1;
    return 1;
}

int CMpFlow::MP_RefreshVersion() {
    LogScope scope("CMpFlow::MP_RefreshVersion", false, uafw::kLogDevice);
    if (!DeviceOpen()) {
        m_strFwVersion = "N/A";
        return 1;
    }
    ReadStatusBlock();
    std::uint8_t bootMode = 0;
    if (!ReadByte(uafw::chip::kBootModeAddress, bootMode))
        bootMode = 0;
    m_strFwVersion = FormatVersion(bootMode, true, nullptr);
    return 1;
}

int CMpFlow::MP_RefreshDeviceListInfo() {
    LogScope scope("CMpFlow::MP_RefreshDeviceListInfo", false, uafw::kLogDevice);
    MP_RefreshDeviceInfo();
    if (!DeviceOpen()) {
        m_deviceVersion = {};
        m_strListVidPid.clear();
        m_strListIdentity.clear();
        m_strListDevice.clear();
        return 1;
    }
    std::uint8_t bootMode = 0;
    if (!ReadByte(uafw::chip::BootModeRegister(m_wChipId), bootMode))
        bootMode = 0;
    m_strFwVersion = FormatVersion(bootMode, false, &m_deviceVersion);
    m_strListVidPid = Format("VID_%04X&PID_%04X", m_wVid, m_wPid);
    m_strListIdentity = Format("VID_%04X&PID_%04X&REV_%04X", m_wVid, m_wPid, m_wRev);
    std::string name;
    DA_GetName(name);
    m_strListDevice = name + "&" + Format("REV_%04X", m_wRev);
    return 1;
}

int CMpFlow::MP_InCacheTest(std::int32_t& inCache) {
    ReadStatusBlock();
    std::uint16_t id = 0xFFFF;
    ReadChipId(id);
    const std::uint16_t family = uafw::chip::FamilyCode(id);
    if (family != 0 && family != 0x7010) {
        std::uint8_t mode = 0xFF;
        if (!ReadByte(uafw::chip::kBootModeAddress, mode))
            mode = 0xFF;
        inCache = mode != 0 ? 1 : 0;
    } else {
        inCache = ActiveRunState() == 1 ? 1 : 0;
    }
    return 1;
}

// ---- write protection --------------------------------------------------------------------------

int CMpFlow::MP_SPIWriteProtectOff() {
    CSpiWriteProtect protect(*this);
    return protect.Off();
}

int CMpFlow::MP_SPIWriteProtectOn() {
    CSpiWriteProtect protect(*this);
    return protect.On();
}

// ---- resets ------------------------------------------------------------------------------------

int CMpFlow::MP_ResetRequest(int kind, std::uint8_t mode) {
    LogScope scope("CMpFlow::MP_ResetRequest", false, uafw::kLogDevice);
    if (MP_CheckCancel())
        return 0;
    if (!DeviceOpen())
        return 0;
    const auto settle = static_cast<std::uint32_t>(ReadSettingInt(kDefaultWaitTimeMs, "Wait Time"));
    std::uint32_t node = 0;
    int result = 0;
    switch (kind) {
        case kResetKindUpdateFw:
            result = DA_ResetToUpdateFW(node, mode, m_dwAccessFlags, settle);
            break;
        case kResetKindRestart:
            if (m_bModeRegister && g_nProjectType == kProjectOtp &&
                (m_strDeviceMode == "ROM" || m_strDeviceMode == "ROM&&OTP"))
                WriteByte(0xFFC6, 0x2A);
            result = DA_ResetToRomReconnect(node, m_dwAccessFlags, settle);
            break;
        case kResetKindRom:
            result = DA_ResetToRomVendor(node, m_dwAccessFlags, settle);
            break;
        default:
            return 0;
    }
    if (result != 1) {
        // The device did not come back as the same device: the flow has no usable handle until
        // the next open.
        scope.Fail("Reset kind %d Fail\n", kind);
        m_hDevice = 0;
        return 0;
    }
    m_hDevice = node;
    return 1;
}

int CMpFlow::MP_ResetToRomCode() {
    LogScope scope("CMpFlow::MP_ResetToRomCode", false, uafw::kLogDevice);
    std::int32_t inCache = 0;
    MP_InCacheTest(inCache);
    std::uint16_t id = m_wChipId;
    if (ReadChipId(id))
        m_wChipId = id;
    m_bModeRegister = uafw::chip::IsModeRegisterChip(id) ? 1 : 0;

    if (m_bModeRegister) {
        if (m_byResetMode == 0)
            return 1;
        m_byRomMode = 0;
        if (id == 0xB013 || id == 0xB014) {
            if (m_strDeviceMode == "ROM&&SPI") {
                {
                    CAccessBitScope forceExtUnit(*this, kAccessForceExtUnit);
                    MP_SPIWriteProtectOff();
                    const std::uint8_t zero = 0x00;
                    SpiWrite(0, std::span<const std::uint8_t>(&zero, 1));
                }
                return MP_ResetRequest(kResetKindRom, 0);
            }
            return MP_ResetRequest(kResetKindRestart, 0);
        }
        return MP_ResetRequest(kResetKindUpdateFw, m_byResetMode);
    }

    if (!inCache) {
        m_byRomMode = 1;
        std::uint16_t again = id;
        if (ReadChipId(again))
            m_wChipId = again;
        if (uafw::chip::FamilyCode(again) != 0x3000)
            return 1;  // already in its ROM loader
    }
    m_byRomMode = 0;
    const bool alternate = (g_dwDownloadOption & kOptionAltReset) != 0 || m_byResetMode == 5;
    const auto mode = static_cast<std::uint8_t>(alternate ? 2 : g_nProjectType.load());
    return MP_ResetRequest(kResetKindUpdateFw, mode);
}
