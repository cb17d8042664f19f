#include "config/ICTypeIni.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "config/ICTypeTables.h"
#include "platform/AppState.h"
#include "platform/Resources.h"

CICTypeIni* g_pICTypeIni = nullptr;

namespace {

constexpr const char* kIniResourceType = "ICINI";
constexpr const char* kChipSection = "Vorlo Config";
constexpr const char* kVendorSection = "Vendor Info M1";
// The settings file that may lie among the descriptions on disk; it is never a description.
constexpr const char* kSettingsFileName = "config.ini";
constexpr const char* kInitialIniName = "KSC7040.INI";
constexpr int kRegisterSectionCount = 16;

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return UpperAscii(c); });
    return text;
}

// A directory search for "*.INI" on the descriptions' home system compares names without regard
// to case, so "a.ini", "B.Ini" and "C.INI" all qualify.
bool HasIniSuffix(const std::string& name) {
    static constexpr std::string_view kSuffix = ".INI";
    if (name.size() < kSuffix.size())
        return false;
    return UpperAscii(name.substr(name.size() - kSuffix.size())) == kSuffix;
}

bool UpperLess(const std::string& a, const std::string& b) {
    const std::string ua = UpperAscii(a);
    const std::string ub = UpperAscii(b);
    return ua != ub ? ua < ub : a < b;
}

// The "*.INI" files of the current directory (no directories), ordered by name ignoring case,
// so that the list order does not depend on the order the file system happens to return.
std::vector<std::string> IniFilesOfCurrentDirectory() {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(std::filesystem::current_path(ec), ec);
    if (ec)
        return names;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        std::error_code typeError;
        if (it->is_directory(typeError) || typeError)
            continue;
        const std::string name = it->path().filename().string();
        if (name == "." || name == ".." || !HasIniSuffix(name))
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), UpperLess);
    return names;
}

}  // namespace

CICTypeIni::CICTypeIni() : m_strSelIniName(kInitialIniName) {
    for (const uafw::BusTypeEntry& bus : uafw::kBusTypes)
        m_busTypes.emplace(std::string(bus.name), bus.busType);
    for (const uafw::FirmwareResourceEntry& image : uafw::kFirmwareResources)
        m_firmwareIds.emplace(std::string(image.name), image.binaryId);
    for (const uafw::ChipTypeEntry& chip : uafw::kChipTypes)
        m_chipTypes.emplace_back(std::string(chip.model), chip.iniId);
}

void CICTypeIni::ListIniNames() {
    m_iniNames.clear();
    std::vector<std::string> names;
    if (g_nIniType == 1) {
        names = IniFilesOfCurrentDirectory();
    } else {
        for (const auto& chip : m_chipTypes)
            names.push_back(chip.first + ".ini");
    }
    for (std::string& name : names) {
        if (name != kSettingsFileName)
            m_iniNames.push_back(std::move(name));
    }
}

std::string CICTypeIni::IniName(int position) const {
    if (position < 0 || position >= IniNameCount())
        return std::string();
    return m_iniNames[static_cast<std::size_t>(position)];
}

void CICTypeIni::SelectIni() {
    Clear();
    m_strChipName.clear();
    if (g_nIniType != 1) {
        std::int32_t id = uafw::kChipTypes[3].iniId;  // KSC7020's description unless named
        for (const auto& chip : m_chipTypes) {
            if (UpperAscii(chip.first + ".ini") == m_strSelIniName) {
                id = chip.second;
                break;
            }
        }
        LoadIniResource(id);
        return;
    }
    if (m_iniNames.empty()) {
        m_strSelIniName.clear();
        return;
    }
    const bool listed =
        std::find(m_iniNames.begin(), m_iniNames.end(), m_strSelIniName) != m_iniNames.end();
    if (m_iniNames.size() == 1 || m_strSelIniName.empty() || !listed)
        m_strSelIniName = m_iniNames.front();
    LoadIniFile();
}

bool CICTypeIni::SelectIniByChipId(std::uint8_t reg1, std::uint8_t reg2, int position) {
    Clear();
    m_strChipName.clear();
    if (g_nIniType == 1) {
        m_strSelIniName = IniName(position);
        LoadIniFile();
    } else if (position >= 0 && position < ChipTypeCount()) {
        LoadIniResource(m_chipTypes[static_cast<std::size_t>(position)].second);
    }
    // An invalid position leaves the document empty, so nothing matches.
    return MatchChipId(reg1, reg2);
}

bool CICTypeIni::MatchChipId(std::uint8_t reg1, std::uint8_t reg2) {
    for (int n = 0; n < kRegisterSectionCount; ++n) {
        const int si = SectionIndex(RegisterSectionName(n));
        if (si < 0)
            continue;
        const auto r1 = static_cast<std::uint8_t>(GetInt(si, "ICRegister1", 0) & 0xFF);
        const auto r2 = static_cast<std::uint8_t>(GetInt(si, "ICRegister2", 0) & 0xFF);
        if (r1 == reg1 && r2 == reg2) {
            m_byRegister1 = reg1;
            m_byRegister2 = reg2;
            m_byChipCode = static_cast<std::uint8_t>(GetInt(si, "ChipInfo", 0) & 0xFF);
            return true;
        }
    }
    return false;
}

void CICTypeIni::ReadChipTypeInfo() {
    const auto bus = m_busTypes.find(GetString(kChipSection, "Bus Type", ""));
    if (bus != m_busTypes.end())
        g_nBusType = bus->second;
    m_strChipName = GetString(kChipSection, "Ic Name", "");
}

bool CICTypeIni::DefaultFirmwareId(std::int32_t& id) const {
    const auto image = m_firmwareIds.find(GetString(kChipSection, "Def Bin", ""));
    if (image == m_firmwareIds.end()) {
        id = 0;
        return false;
    }
    id = image->second;
    return true;
}

bool CICTypeIni::FirmwareIdByName(const std::string& name, std::int32_t& id) const {
    id = 0;
    if (m_iniNames.empty())
        return false;
    const auto image = m_firmwareIds.find(name);
    if (image == m_firmwareIds.end())
        return false;
    id = image->second;
    return true;
}

bool CICTypeIni::GetVendorValue(const std::string& entry, std::int32_t& value) const {
    value = GetInt(kVendorSection, entry, 0);
    return EntryIndex(SectionIndex(kVendorSection), entry) >= 0;
}

bool CICTypeIni::GetConfigSize(std::int32_t& value) const {
    return GetVendorValue("ConfigSize", value);
}

bool CICTypeIni::LoadIniResource(std::int32_t id) {
    const std::string_view text = uafw::ResourceText(kIniResourceType, id);
    if (text.empty())
        return false;
    m_strIniText.assign(text);
    return LoadFromText(m_strIniText);
}

bool CICTypeIni::LoadIniFile() {
    SetFilePath(m_strSelIniName);
    return LoadFromFile();
}

std::string CICTypeIni::RegisterSectionName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "Camera_%s_%02X", "Register", static_cast<unsigned>(number));
    return name;
}
