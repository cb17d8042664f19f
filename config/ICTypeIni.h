#pragma once
// The IC-type catalogue: the built-in tables of chip types, firmware resources and bus types, the
// list of available per-chip descriptions, the selected description (held as the INI document this
// class is) and the values read from it. Descriptions are the built-in "ICINI" resources, or the
// "*.INI" files of the current directory when "Ini Type" (g_nIniType) is 1.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/IniFile.h"

// Data-less bases of the user document; they add no fields.
class CDataInfo {};
class CDumpStr {};

class CUserIni : public CIniFile, public CDataInfo, public CDumpStr {};

class CICTypeIni : public CUserIni {
public:
    // Tables filled, selected description name "KSC7040.INI", chip code 0, registers 0xFF,
    // document empty.
    CICTypeIni();

    // Fills the description names: the "*.INI" files of the current directory when g_nIniType is
    // 1, else one "<model>.ini" per chip type in table order. "config.ini" is never listed.
    void ListIniNames();
    // Selects and loads the start-up description (built-in: the one named by the selected name,
    // else 2030; on disk: keeps the selected name when listed, else the first name).
    void SelectIni();
    // Loads the description at the list position and returns whether it identifies the chip by
    // its two identification register values.
    bool SelectIniByChipId(std::uint8_t reg1, std::uint8_t reg2, int position);
    // True when a register section "Camera_Register_00".."0F" of the loaded description matches
    // both values; then stores them and that section's chip code. Otherwise nothing changes.
    bool MatchChipId(std::uint8_t reg1, std::uint8_t reg2);
    // Reads "Bus Type" (sets g_nBusType when it is a known bus) and "Ic Name" (the chip name).
    void ReadChipTypeInfo();
    // True and the "BINARY" id of the description's "Def Bin" image when that name is known;
    // otherwise false and id 0.
    bool DefaultFirmwareId(std::int32_t& id) const;
    // True and the "BINARY" id of a firmware-resource name (exact, case-sensitive); otherwise
    // false and id 0. With no description listed nothing is looked up.
    bool FirmwareIdByName(const std::string& name, std::int32_t& id) const;
    // Integer entry of "Vendor Info M1" (0 when missing); true when the entry exists.
    bool GetVendorValue(const std::string& entry, std::int32_t& value) const;
    // "ConfigSize" of "Vendor Info M1" (0 when missing); true when the entry exists.
    bool GetConfigSize(std::int32_t& value) const;
    // True when the "ICINI" resource exists, is not empty and was parsed into the document to its
    // end; a missing or empty resource leaves the document untouched.
    bool LoadIniResource(std::int32_t id);
    // Reads the file named by the selected description name (relative to the current directory).
    bool LoadIniFile();
    // "Camera_Register_" followed by the number as two upper-case hexadecimal digits.
    static std::string RegisterSectionName(int number);

    // Values read from the selected description.
    std::uint8_t ChipCode() const { return m_byChipCode; }
    std::uint8_t Register1() const { return m_byRegister1; }
    std::uint8_t Register2() const { return m_byRegister2; }
    const std::string& ChipName() const { return m_strChipName; }

    // The selected description name and the list of available descriptions.
    const std::string& SelectedIniName() const { return m_strSelIniName; }
    void SetSelectedIniName(const std::string& name) { m_strSelIniName = name; }
    const std::vector<std::string>& IniNames() const { return m_iniNames; }
    int IniNameCount() const { return static_cast<int>(m_iniNames.size()); }
    // The description name at the position, or an empty text past the end.
    std::string IniName(int position) const;

    // The built-in tables.
    const std::map<std::string, std::int32_t>& BusTypes() const { return m_busTypes; }
    const std::map<std::string, std::int32_t>& FirmwareResources() const { return m_firmwareIds; }
    const std::vector<std::pair<std::string, std::int32_t>>& ChipTypes() const {
        return m_chipTypes;
    }
    int ChipTypeCount() const { return static_cast<int>(m_chipTypes.size()); }

    // The text of the last "ICINI" resource loaded.
    const std::string& DescriptionText() const { return m_strIniText; }

private:
    std::uint8_t m_byChipCode = 0;
    std::uint8_t m_byRegister1 = 0xFF;
    std::uint8_t m_byRegister2 = 0xFF;
    std::string m_strSelIniName;
    std::vector<std::string> m_iniNames;
    std::string m_strChipName;
    std::map<std::string, std::int32_t> m_busTypes;
    std::map<std::string, std::int32_t> m_firmwareIds;
    std::vector<std::pair<std::string, std::int32_t>> m_chipTypes;
    std::string m_strIniText;
};

// The process-wide catalogue; created at start-up and replaced by the device flow while it
// searches the description that fits a device.
extern CICTypeIni* g_pICTypeIni;
