// The device half of the command-line run: open the device, load and accept the image, run the
// action on the flow object and leave the verdict in Result.txt and burn_result.txt.
#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "app/ParseArg.h"
#include "config/Descriptor.h"
#include "config/EepromConfigInfo.h"
#include "config/FirmwareImage.h"
#include "config/ICTypeIni.h"
#include "config/Settings.h"
#include "flow/DevFlow.h"
#include "flow/FlowFactory.h"
#include "flow/OtpSpace.h"
#include "platform/AppState.h"
#include "platform/OperationLog.h"
#include "platform/UiLink.h"

namespace {

constexpr std::int32_t kLoadFileFailId = 41530;  // "Load File Data Fail!"
constexpr std::int32_t kNotSupportId = 41500;    // "Not Support!"
constexpr std::uint32_t kMinBuiltinImage = 0x10000;
constexpr std::size_t kMaxAreaBytes = 0x200000;
constexpr const char* kLoadFileFailText = "Load File Data Fail!\n";

// Memory-kind codes a configuration area may carry for the command line to accept it.
bool IsAcceptedMemoryKind(std::uint8_t kind) {
    switch (kind) {
        case 0x55:
        case 0x12:
        case 0x11:
        case 0x40:
        case 0x60:
            return true;
        default:
            return false;
    }
}

// The area header at `offset`, when six bytes are held there.
std::optional<uafw::CDescGlobal> HeaderAt(const std::vector<std::uint8_t>& image,
                                          std::size_t offset) {
    if (offset >= image.size())
        return std::nullopt;
    const std::size_t length = std::min(image.size() - offset, kMaxAreaBytes);
    uafw::CDescGlobal header;
    if (!header.Parse(std::span<const std::uint8_t>(image.data() + offset, length))) {
        return std::nullopt;
    }
    return header;
}

// The first area header in the image that carries the signature.
std::optional<uafw::CDescGlobal> SearchSignedHeader(const std::vector<std::uint8_t>& image) {
    for (std::size_t offset = 0; offset + uafw::CDescGlobal::kSize <= image.size(); ++offset) {
        if (image[offset + 1] != uafw::kAreaSignature)
            continue;
        auto header = HeaderAt(image, offset);
        if (header && header->HasSignature())
            return header;
    }
    return std::nullopt;
}

// The header of the image's configuration area, looked for at "ConfigAddress", when the command
// line accepts the area: signature 0xA5 and a known memory kind; nothing otherwise. An area without
// the signature there is searched for in the whole image. When the image is shorter than
// "ConfigAddress" the area is read from the image start; a signed area with an unknown kind there
// rejects the entry, since a search would only find the same area again.
std::optional<uafw::CDescGlobal> AcceptedArea(const std::vector<std::uint8_t>& image,
                                              std::uint32_t configAddress) {
    const std::size_t start = image.size() < configAddress ? 0 : configAddress;
    auto header = HeaderAt(image, start);
    if (!header || !header->HasSignature())
        header = SearchSignedHeader(image);
    if (header && header->HasSignature() && IsAcceptedMemoryKind(header->m_byMemoryKind))
        return header;
    return std::nullopt;
}

// "FFU_vvvv_pppp" from an identity text "VID_vvvv&PID_pppp&REV_rrrr": cut before the last "&",
// put "FFU" in front and remove every "VID" and every "&PID".
std::string BuiltinImageName(const std::string& identity) {
    const auto amp = identity.rfind('&');
    std::string name = "FFU" + (amp == std::string::npos ? identity : identity.substr(0, amp));
    for (const char* part : {"VID", "&PID"}) {
        const std::string cut(part);
        for (auto pos = name.find(cut); pos != std::string::npos; pos = name.find(cut)) {
            name.erase(pos, cut.size());
        }
    }
    return name;
}

}  // namespace

int CParseArg::GetICInfo() {
    LogScope scope("CParseArg::GetICInfo");
    OpenResultFile();
    if (LoadICTypeIni() && g_pFlow != nullptr) {
        g_pFlow->DEV_ReadDeviceInfo();
        g_ErrCode = 0;
        return 1;
    }
    WriteResult("fail");
    CloseResultFile();
    PrintMsg("Get IC Info Fail\n");
    PrintPrompt();
    return 0;
}

bool CParseArg::OpenDevice() {
    if (g_pFlow == nullptr)
        return false;
    if (ReadSettingInt(0, "CheckVIDPID_INI") != 0)
        return g_pFlow->DEV_OpenDeviceByVIDPID() != 0;
    const auto first = static_cast<std::uint32_t>(std::max(m_nFirstDevPos, 0));
    for (std::uint32_t position = first; position < first + 3; ++position) {
        if (g_pFlow->DEV_OpenDeviceByICIni(position))
            return true;
    }
    return false;
}

int CParseArg::LoadICTypeIni() {
    LogScope scope("CParseArg::LoadICTypeIni");
    if (!OpenDevice())
        return 0;
    switch (m_cAction) {
        case kActionVersion:
        case kActionDumpSpi:
            return 1;
        case kActionErase:
            // An image file after "-erase" names the memory to erase: an EEPROM image hands the
            // erase to the EEPROM flow. Without one the flow of the device's own image erases.
            if (!m_strFile.empty()) {
                CImageRecord& record = g_pFlow->m_ImageRecord;
                record.m_strImageFile = m_strFile;
                if (LoadImageFile(record) && !record.m_image.empty())
                    SelectChipTypeForImage();
            }
            return 1;
        case kActionDumpOtp:
            g_nProjectType = kProjectOtp;
            RecreateFlowObject(kProjectOtp, g_nBusType);
            return 1;
        default:
            break;
    }
    bool fromFile = false;
    if (!LoadActionImage(fromFile))
        return 0;
    if (SelectChipTypeForImage())
        return 1;
    return fromFile ? 1 : 0;
}

bool CParseArg::LoadActionImage(bool& fromFile) {
    LogScope scope("CParseArg::LoadICTypeIni");
    CImageRecord& record = g_pFlow->m_ImageRecord;
    record.m_strImageFile = m_strFile;
    record.m_image.clear();
    fromFile = LoadImageFile(record) && !record.m_image.empty();
    if (fromFile)
        return true;

    const std::string name = BuiltinImageName(g_pFlow->m_strDevIdentity);
    std::int32_t id = 0;
    if (g_pICTypeIni != nullptr && g_pICTypeIni->FirmwareIdByName(name, id)) {
        LoadImageResource(record, id);
    } else {
        // The default image must be the one of the attached chip, not of whichever description
        // start-up selected: select the description that identifies the chip first.
        SelectDescriptionOfChip();
        LoadDefaultImage(record);
    }
    record.m_image = std::move(record.m_secondary);
    record.m_secondary.clear();
    if (record.m_image.size() < kMinBuiltinImage) {
        PostUIMessage(0x414, kLoadFileFailId, 0);
        scope.Fail("%s", kLoadFileFailText);
        PrintMsg(kLoadFileFailText);
        return false;
    }
    return true;
}

bool CParseArg::SelectDescriptionOfChip() {
    if (g_pICTypeIni == nullptr)
        return false;
    for (int position = 0; position < g_pICTypeIni->IniNameCount(); ++position) {
        if (g_pICTypeIni->SelectIniByChipId(g_pFlow->m_byChipId1, g_pFlow->m_byChipId2, position))
            return true;
    }
    return false;
}

bool CParseArg::SelectChipTypeForImage() {
    if (g_pICTypeIni == nullptr)
        return false;
    const std::uint8_t id1 = g_pFlow->m_byChipId1;
    const std::uint8_t id2 = g_pFlow->m_byChipId2;
    const int entries = g_pICTypeIni->IniNameCount();
    for (int position = 0; position < entries; ++position) {
        if (!g_pICTypeIni->SelectIniByChipId(id1, id2, position))
            continue;
        std::int32_t configAddress = 0;
        g_pICTypeIni->GetVendorValue("ConfigAddress", configAddress);
        g_pICTypeIni->ReadChipTypeInfo();
        const std::vector<std::uint8_t>& image = g_pFlow->m_ImageRecord.m_image;
        const auto area = AcceptedArea(image, static_cast<std::uint32_t>(configAddress));
        if (!area)
            continue;
        if (!g_pFlow->OpPrepare(image))
            continue;
        // The accepted area names the memory the image is for, also where the prepare step does
        // not read the area (a configuration-only EEPROM image shorter than "ConfigAddress").
        CEepromConfigInfo::ApplyConfigHeader(*area);
        if (g_nProjectType != kProjectFlash) {
            // The image is for another memory kind: its flow takes over the open device, the
            // image file name and the image bytes, and prepares the image again.
            std::vector<std::uint8_t> bytes = image;
            if (RecreateFlowObject(g_nProjectType, g_nBusType) == nullptr)
                return false;
            g_pFlow->m_ImageRecord.m_image = std::move(bytes);
            g_pFlow->OpPrepare(g_pFlow->m_ImageRecord.m_image);
        }
        return true;
    }
    return false;
}

int CParseArg::Excute_Arg() {
    LogScope scope("CParseArg::Excute_Arg");
    if (g_pFlow != nullptr)
        g_pFlow->DEV_ApplyResetSettings();
    m_nLogType = ReadSettingInt(0, "LogType");
    if (m_nLogType != 0)
        m_burnResultFile.Open();
    const int verdict = Excute_Arg_Normal();
    WriteResult(verdict ? "pass" : "fail");
    CloseResultFile();
    if (m_nLogType != 0) {
        const std::string manufacturer = g_pFlow != nullptr ? g_pFlow->m_strDevManufacturer : "";
        m_burnResultFile.AppendResult(verdict != 0, manufacturer);
        m_burnResultFile.Close();
    }
    return verdict;
}

int CParseArg::Excute_Arg_Normal() {
    LogScope scope("CParseArg::Excute_Arg_Normal");
    struct ActionTexts {
        char code;
        const char* begin;
        const char* pass;
        const char* fail;
    };
    static constexpr std::array<ActionTexts, 5> kTexts{{
        {kActionErase, "Begin to Erase!\r\n", "Erase pass!\r\n", "Erase fail!\r\n"},
        {kActionVerify, "Begin to Verify fw!\r\n", "Verify fw pass!\r\n", "Verify fw fail!\r\n"},
        {kActionWrite, "Begin to Write fw!\r\n", "Write fw pass!\r\n", "Write fw fail!\r\n"},
        {kActionDumpOtp, "Begin to Dump OTP!\r\n", "Dump OTP pass!\r\n", "Dump OTP fail!\r\n"},
        {kActionDumpSpi, "Begin to Dump SPI!\r\n", "Dump SPI pass!\r\n", "Dump SPI fail!\r\n"},
    }};

    if (m_cAction == kActionVersion) {
        PrintMsg("Begin to Get FW Ver!\r\n");
        const std::string version = g_pFlow != nullptr ? g_pFlow->m_strFwVersion : "N/A";
        char line[300];
        std::snprintf(line, sizeof line, "Current FW Version: %s!\r\n", version.c_str());
        PrintMsg(line);
        PrintPrompt();
        return 0;
    }
    const auto texts = std::find_if(kTexts.begin(), kTexts.end(),
                                    [this](const ActionTexts& t) { return t.code == m_cAction; });
    if (texts != kTexts.end())
        PrintMsg(texts->begin);
    const int result = RunDeviceCommand();
    if (m_cAction == kActionDetect) {
        if (result) {
            PrintMsg("Begin to Check OTP Status!\r\n");
            PrintMsg(m_strOtpReport + "\r\n");
        }
        PrintPrompt();
        return result;
    }
    if (texts != kTexts.end())
        PrintMsg(result ? texts->pass : texts->fail);
    PrintPrompt();
    return result;
}

int CParseArg::RunDeviceCommand() {
    g_ErrCode = 0;
    if (g_pFlow == nullptr) {
        g_ErrCode = kNotSupportId;
        return 0;
    }
    switch (m_cAction) {
        case kActionWrite:
            return g_pFlow->OpSilentWrite(m_strFile);
        case kActionVerify:
            return g_pFlow->OpSilentVerify(m_strFile);
        case kActionErase:
            return g_pFlow->OpEraseWithRestart(1);
        case kActionDumpSpi:
            g_dwReadLength = m_dwReadLength;
            return g_pFlow->OpReadToBinFile(m_strFile);
        case kActionDumpOtp:
            return g_pFlow->OpReadToBinFile(m_strFile);
        case kActionDetect:
            return OtpUsageReport(m_strOtpReport);
        default:
            g_ErrCode = kNotSupportId;
            return 0;
    }
}

int CParseArg::OtpUsageReport(std::string& report) {
    report.clear();
    CImageRecord& record = g_pFlow->m_ImageRecord;
    record.m_strImageFile = m_strFile;
    if (!LoadImageFile(record)) {
        g_ErrCode = kLoadFileFailId;
        return 0;
    }
    const COtpSpace space = COtpSpace::Query(*g_pFlow);
    g_pFlow->m_iOtpUsedSize = static_cast<std::int32_t>(space.used);
    char text[160];
    std::snprintf(text, sizeof text,
                  "Used OTP Space: %0.2f KB\nFree OTP Space: %0.2f KB\nRemaining Programmable "
                  "Times: %d.",
                  static_cast<double>(space.UsedKB()), static_cast<double>(space.FreeKB()),
                  static_cast<int>(space.RemainingTimes(record.m_image.size())));
    report = text;
    return 1;
}
