#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "config/ICTypeIni.h"
#include "config/ICTypeTables.h"
#include "config/VendorIds.h"
#include "platform/AppState.h"
#include "platform/Resources.h"

namespace {

std::string BuiltIn(int id) {
    return std::string(uafw::ResourceText("ICINI", id));
}

// Every test starts with built-in descriptions and a USB bus, and leaves them so.
class Catalogue : public ::testing::Test {
protected:
    void SetUp() override {
        g_nIniType = 0;
        g_nBusType = kBusUsb;
    }
    void TearDown() override {
        g_nIniType = 0;
        g_nBusType = kBusUsb;
    }
};

// ---- construction and listing -------------------------------------------------------------

TEST_F(Catalogue, StartsWithInitialNameNoChipCodeUnsetRegistersAndEmptyDocument) {
    CICTypeIni ini;
    EXPECT_EQ(ini.SelectedIniName(), "KSC7040.INI");
    EXPECT_EQ(ini.ChipCode(), 0);
    EXPECT_EQ(ini.Register1(), 0xFF);
    EXPECT_EQ(ini.Register2(), 0xFF);
    EXPECT_EQ(ini.SectionCount(), 0);
    EXPECT_EQ(ini.IniNameCount(), 0);
    EXPECT_EQ(ini.BusTypes().size(), 3u);
    EXPECT_EQ(ini.BusTypes().at("PCIE"), kBusPcie);
    EXPECT_EQ(ini.FirmwareResources().size(), 56u);
    EXPECT_EQ(ini.ChipTypeCount(), 6);
}

TEST_F(Catalogue, BuiltInListFollowsChipTypeOrder) {
    CICTypeIni ini;
    ini.ListIniNames();
    EXPECT_EQ(ini.IniNames(),
              (std::vector<std::string>{"KSC7042.ini", "KSC7080.ini", "KSC7050.ini", "KSC7020.ini",
                                        "KSC7032.ini", "KSC7040.ini"}));
    // Listing again replaces the list rather than growing it.
    ini.ListIniNames();
    EXPECT_EQ(ini.IniNameCount(), 6);
    EXPECT_EQ(ini.IniName(6), "");
    EXPECT_EQ(ini.IniName(-1), "");
}

// ---- start-up selection -------------------------------------------------------------------

TEST_F(Catalogue, StartUpSelectsTheKsc7040Description) {
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SelectIni();
    EXPECT_EQ(ini.DescriptionText(), BuiltIn(2031));
    ini.ReadChipTypeInfo();
    EXPECT_EQ(ini.ChipName(), "KSC7040");
    std::int32_t id = 0;
    EXPECT_TRUE(ini.DefaultFirmwareId(id));
    EXPECT_EQ(id, 3018);
}

struct SelectCase {
    const char* selectedName;
    int expectedId;
};

void PrintTo(const SelectCase& c, std::ostream* os) {
    *os << "\"" << c.selectedName << "\"";
}

class StartUpSelection : public Catalogue, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(StartUpSelection, SelectedNameMustEqualUpperCaseModelName) {
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SetSelectedIniName(GetParam().selectedName);
    ini.SelectIni();
    EXPECT_EQ(ini.DescriptionText(), BuiltIn(GetParam().expectedId));
    EXPECT_GT(ini.SectionCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Names, StartUpSelection,
                         ::testing::Values(SelectCase{"KSC7042.INI", 2032},
                                           SelectCase{"KSC7080.INI", 2035},
                                           SelectCase{"KSC7032.INI", 2034},
                                           // Anything else falls back to the KSC7020 text.
                                           SelectCase{"KSC7042.ini", 2030}, SelectCase{"", 2030},
                                           SelectCase{"other.ini", 2030}));

TEST_F(Catalogue, SelectingClearsThePreviousDocumentAndChipName) {
    CICTypeIni ini;
    ini.ListIniNames();
    ASSERT_TRUE(ini.LoadFromText("[Leftover]\r\nA=1\r\n[Vorlo Config]\r\nIc Name=OLD\r\n"));
    ini.ReadChipTypeInfo();
    ini.SelectIni();
    EXPECT_EQ(ini.SectionIndex("Leftover"), -1);
    EXPECT_EQ(ini.ChipName(), "");
    EXPECT_EQ(ini.GetString("Vorlo Config", "Ic Name", ""), "KSC7040");
}

// ---- identification by chip registers ------------------------------------------------------

TEST_F(Catalogue, RegistersTenC0AtPositionZeroMatchSecondSectionOf2032) {
    CICTypeIni ini;
    ini.ListIniNames();
    EXPECT_TRUE(ini.SelectIniByChipId(0x10, 0xC0, 0));
    EXPECT_EQ(ini.DescriptionText(), BuiltIn(2032));
    EXPECT_EQ(ini.ChipCode(), 24);
    EXPECT_EQ(ini.Register1(), 0x10);
    EXPECT_EQ(ini.Register2(), 0xC0);
}

struct ChipIdCase {
    std::uint8_t reg1;
    std::uint8_t reg2;
    int position;  // the only position whose description identifies the chip
    std::uint8_t chipCode;
};

void PrintTo(const ChipIdCase& c, std::ostream* os) {
    *os << "0x" << std::hex << int(c.reg1) << ", 0x" << int(c.reg2);
}

class IdentifyByRegisters : public Catalogue, public ::testing::WithParamInterface<ChipIdCase> {};

// Walks the positions as the device flow does: a fresh catalogue for each try.
TEST_P(IdentifyByRegisters, OnlyTheOwnDescriptionMatches) {
    const ChipIdCase& c = GetParam();
    int found = -1;
    std::uint8_t code = 0;
    for (int position = 0; position < 6; ++position) {
        CICTypeIni ini;
        ini.ListIniNames();
        if (ini.SelectIniByChipId(c.reg1, c.reg2, position)) {
            EXPECT_EQ(found, -1) << "matched twice, at " << found << " and " << position;
            found = position;
            code = ini.ChipCode();
        } else {
            EXPECT_EQ(ini.ChipCode(), 0);
            EXPECT_EQ(ini.Register1(), 0xFF);
        }
    }
    EXPECT_EQ(found, c.position);
    EXPECT_EQ(code, c.chipCode);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, IdentifyByRegisters,
    ::testing::Values(ChipIdCase{0x10, 0xF0, 0, 24}, ChipIdCase{0x10, 0xC0, 0, 24},
                      ChipIdCase{0x10, 0x10, 1, 26}, ChipIdCase{0x10, 0xD0, 2, 25},
                      ChipIdCase{0x00, 0x00, 3, 17}, ChipIdCase{0x10, 0x70, 3, 17},
                      ChipIdCase{0x10, 0xE0, 4, 23}, ChipIdCase{0x10, 0xB0, 5, 21},
                      ChipIdCase{0x10, 0xA0, -1, 0}, ChipIdCase{0xF0, 0xF0, -1, 0}));

TEST_F(Catalogue, InvalidPositionLeavesDocumentEmpty) {
    for (int position : {-1, 6, 100}) {
        CICTypeIni ini;
        ini.ListIniNames();
        ASSERT_TRUE(ini.LoadFromText("[Camera_Register_00]\r\nICRegister1=0\r\nICRegister2=0\r\n"));
        EXPECT_FALSE(ini.SelectIniByChipId(0x00, 0x00, position)) << position;
        EXPECT_EQ(ini.SectionCount(), 0) << position;
        EXPECT_EQ(ini.DescriptionText(), "") << position;
    }
}

TEST_F(Catalogue, FailedMatchKeepsTheValuesOfTheLastMatch) {
    CICTypeIni ini;
    ini.ListIniNames();
    ASSERT_TRUE(ini.SelectIniByChipId(0x10, 0xF0, 0));
    EXPECT_FALSE(ini.MatchChipId(0x20, 0x30));
    EXPECT_EQ(ini.ChipCode(), 24);
    EXPECT_EQ(ini.Register1(), 0x10);
    EXPECT_EQ(ini.Register2(), 0xF0);
}

struct MatchCase {
    const char* name;
    const char* text;
    std::uint8_t reg1;
    std::uint8_t reg2;
    bool matches;
    std::uint8_t chipCode;
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class MatchRegisterSections : public Catalogue, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchRegisterSections, SearchesSectionsZeroToFifteenComparingLowBytes) {
    const MatchCase& c = GetParam();
    CICTypeIni ini;
    ini.LoadFromText(c.text);
    EXPECT_EQ(ini.MatchChipId(c.reg1, c.reg2), c.matches);
    EXPECT_EQ(ini.ChipCode(), c.chipCode);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, MatchRegisterSections,
    ::testing::Values(
        MatchCase{"SectionFifteen",
                  "[Camera_Register_0F]\r\nICRegister1=0x20\r\nICRegister2=0x30"
                  "\r\nChipInfo=9\r\n",
                  0x20, 0x30, true, 9},
        MatchCase{"SectionSixteenNeverSearched",
                  "[Camera_Register_10]\r\nICRegister1=0x20\r\nICRegister2=0x30\r\nChipInfo=9\r\n",
                  0x20, 0x30, false, 0},
        MatchCase{"LowerCaseHexSectionNameFoundIgnoringCase",
                  "[camera_register_0a]\r\nICRegister1=0x20\r\nICRegister2=0x30\r\nChipInfo=7\r\n",
                  0x20, 0x30, true, 7},
        MatchCase{"LowBytesCompared",
                  "[Camera_Register_00]\r\nICRegister1=0x110\r\nICRegister2=0x2C0\r\n"
                  "ChipInfo=0x118\r\n",
                  0x10, 0xC0, true, 0x18},
        MatchCase{"MissingRegistersReadZero", "[Camera_Register_03]\r\nChipInfo=5\r\n", 0x00, 0x00,
                  true, 5},
        MatchCase{"MissingChipInfoReadsZero",
                  "[Camera_Register_00]\r\nICRegister1=1\r\nICRegister2=2\r\n", 1, 2, true, 0},
        MatchCase{"FirstMatchingSectionWins",
                  "[Camera_Register_05]\r\nICRegister1=1\r\nICRegister2=2\r\nChipInfo=3\r\n"
                  "[Camera_Register_01]\r\nICRegister1=1\r\nICRegister2=2\r\nChipInfo=4\r\n",
                  1, 2, true, 4},
        MatchCase{"OneRegisterDiffers",
                  "[Camera_Register_00]\r\nICRegister1=0x10\r\nICRegister2=0xC0\r\n", 0x10, 0xD0,
                  false, 0}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST(RegisterSectionName, TwoUpperCaseHexDigits) {
    EXPECT_EQ(CICTypeIni::RegisterSectionName(0), "Camera_Register_00");
    EXPECT_EQ(CICTypeIni::RegisterSectionName(10), "Camera_Register_0A");
    EXPECT_EQ(CICTypeIni::RegisterSectionName(15), "Camera_Register_0F");
}

// ---- firmware resources -------------------------------------------------------------------

TEST(FirmwareResourceTable, FiftySixUniqueNamesWithTheirIds) {
    std::set<std::string_view> names;
    std::set<std::int32_t> ids;
    for (const auto& entry : uafw::kFirmwareResources) {
        names.insert(entry.name);
        ids.insert(entry.binaryId);
    }
    EXPECT_EQ(names.size(), 56u);
    std::set<std::int32_t> expectedIds = {3012, 3018, 3020, 3021, 3022, 3023, 3035};
    for (int id = 3038; id <= 3086; ++id)
        expectedIds.insert(id);
    EXPECT_EQ(ids, expectedIds);

    // The device-specific names of the maker's vendor id, in order, take the ids in order.
    std::vector<std::int32_t> specificIds = {3021, 3022, 3035};
    for (int id = 3038; id <= 3044; ++id)
        specificIds.push_back(id);
    for (int id = 3047; id <= 3086; ++id)
        specificIds.push_back(id);
    ASSERT_EQ(specificIds.size(), 50u);
    for (std::size_t i = 0; i < 50; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "FFU_%04X_%04X", kMakerVendorId,
                      static_cast<unsigned>(0x7101 + i));
        EXPECT_EQ(uafw::kFirmwareResources[6 + i].name, name);
        EXPECT_EQ(uafw::kFirmwareResources[6 + i].binaryId, specificIds[i]) << name;
    }
}

struct NameCase {
    const char* name;
    bool found;
    std::int32_t id;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << "\"" << c.name << "\"";
}

class FirmwareByName : public Catalogue, public ::testing::WithParamInterface<NameCase> {};

TEST_P(FirmwareByName, ExactCaseSensitiveLookup) {
    CICTypeIni ini;
    ini.ListIniNames();
    std::int32_t id = -7;
    EXPECT_EQ(ini.FirmwareIdByName(GetParam().name, id), GetParam().found);
    EXPECT_EQ(id, GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FirmwareByName,
    ::testing::Values(NameCase{"FFU_7040", true, 3018}, NameCase{"FFU_7020", true, 3012},
                      NameCase{"FFU_7080", true, 3046}, NameCase{"FFU_1209_7101", true, 3021},
                      NameCase{"FFU_1209_7103", true, 3035}, NameCase{"FFU_1209_710A", true, 3044},
                      NameCase{"FFU_1209_710B", true, 3047}, NameCase{"FFU_1209_7132", true, 3086},
                      NameCase{"FFU_1209_710a", false, 0}, NameCase{"ffu_7040", false, 0},
                      NameCase{"FFU_7040 ", false, 0}, NameCase{"FFU_1209_7133", false, 0},
                      NameCase{"", false, 0}));

TEST_F(Catalogue, FirmwareByNameNeedsListedDescriptions) {
    CICTypeIni ini;
    std::int32_t id = -7;
    EXPECT_FALSE(ini.FirmwareIdByName("FFU_7040", id));
    EXPECT_EQ(id, 0);
}

struct DefaultCase {
    int position;
    std::int32_t id;
};

void PrintTo(const DefaultCase& c, std::ostream* os) {
    *os << "position " << c.position;
}

class DefaultFirmware : public Catalogue, public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(DefaultFirmware, DefBinOfEachDescription) {
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SelectIniByChipId(0xFF, 0xFF, GetParam().position);
    std::int32_t id = 0;
    EXPECT_TRUE(ini.DefaultFirmwareId(id));
    EXPECT_EQ(id, GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, DefaultFirmware,
                         ::testing::Values(DefaultCase{0, 3020}, DefaultCase{1, 3046},
                                           DefaultCase{2, 3023}, DefaultCase{3, 3012},
                                           DefaultCase{4, 3045}, DefaultCase{5, 3018}));

TEST_F(Catalogue, DefaultFirmwareUnknownOrMissing) {
    CICTypeIni ini;
    std::int32_t id = 5;
    EXPECT_FALSE(ini.DefaultFirmwareId(id));
    EXPECT_EQ(id, 0);
    ini.LoadFromText("[Vorlo Config]\r\nDef Bin=ffu_7040\r\n");
    id = 5;
    EXPECT_FALSE(ini.DefaultFirmwareId(id));
    EXPECT_EQ(id, 0);
}

// ---- layout values and chip information ---------------------------------------------------

struct LayoutCase {
    int iniId;
    std::int32_t configAddress;
    std::int32_t configSize;
    std::int32_t tagAddress;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.iniId;
}

class LayoutValues : public Catalogue, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutValues, ReadFromVendorInfo) {
    CICTypeIni ini;
    ASSERT_TRUE(ini.LoadIniResource(GetParam().iniId));
    std::int32_t value = -1;
    EXPECT_TRUE(ini.GetVendorValue("ConfigAddress", value));
    EXPECT_EQ(value, GetParam().configAddress);
    EXPECT_TRUE(ini.GetVendorValue("TagAddress", value));
    EXPECT_EQ(value, GetParam().tagAddress);
    EXPECT_TRUE(ini.GetConfigSize(value));
    EXPECT_EQ(value, GetParam().configSize);
}

INSTANTIATE_TEST_SUITE_P(Descriptions, LayoutValues,
                         ::testing::Values(LayoutCase{2030, 0xAE00, 512, 0xEFFE},
                                           LayoutCase{2031, 0xF000, 4096, 0xEFFE},
                                           LayoutCase{2032, 0xF000, 4096, 0xEFFE},
                                           LayoutCase{2033, 0xF000, 4096, 0xEFFE},
                                           LayoutCase{2034, 0xF000, 4096, 0xEFFE},
                                           LayoutCase{2035, 0xF000, 4096, 0xEFFE}));

TEST_F(Catalogue, MissingVendorValuesReadZero) {
    CICTypeIni ini;
    std::int32_t value = -1;
    EXPECT_FALSE(ini.GetConfigSize(value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(ini.LoadFromText("[vendor info m1]\r\nconfigaddress=0x1000\r\n"));
    EXPECT_TRUE(ini.GetVendorValue("ConfigAddress", value));
    EXPECT_EQ(value, 0x1000);
    value = -1;
    EXPECT_FALSE(ini.GetVendorValue("TagAddress", value));
    EXPECT_EQ(value, 0);
}

struct BusCase {
    const char* text;
    std::int32_t busType;  // starting from MIPI, so that "unchanged" is visible
};

void PrintTo(const BusCase& c, std::ostream* os) {
    *os << c.text;
}

class ChipTypeInfo : public Catalogue, public ::testing::WithParamInterface<BusCase> {};

TEST_P(ChipTypeInfo, KnownBusTypeSetsTheProcessBusOthersLeaveIt) {
    g_nBusType = kBusMipi;
    CICTypeIni ini;
    ini.LoadFromText(GetParam().text);
    ini.ReadChipTypeInfo();
    EXPECT_EQ(g_nBusType.load(), GetParam().busType) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Buses, ChipTypeInfo,
                         ::testing::Values(BusCase{"[Vorlo Config]\r\nBus Type=USB\r\n", kBusUsb},
                                           BusCase{"[Vorlo Config]\r\nBus Type=PCIE\r\n", kBusPcie},
                                           BusCase{"[Vorlo Config]\r\nBus Type=pcie\r\n", kBusMipi},
                                           BusCase{"[Vorlo Config]\r\nBus Type=SATA\r\n", kBusMipi},
                                           BusCase{"[Vorlo Config]\r\nBus Type= USB\r\n", kBusMipi},
                                           BusCase{"[Vorlo Config]\r\nIc Name=KSC7020\r\n",
                                                   kBusMipi},
                                           BusCase{"[Other]\r\nBus Type=USB\r\n", kBusMipi}));

TEST_F(Catalogue, ChipNameReadFromIcName) {
    CICTypeIni ini;
    ini.LoadFromText("[Vorlo Config]\r\nIc Name=KSC7020\r\n");
    ini.ReadChipTypeInfo();
    EXPECT_EQ(ini.ChipName(), "KSC7020");
    ini.Clear();
    ini.LoadFromText("[Vorlo Config]\r\nBus Type=USB\r\n");
    ini.ReadChipTypeInfo();
    EXPECT_EQ(ini.ChipName(), "");
}

TEST_F(Catalogue, MissingResourceLeavesDocumentUntouched) {
    CICTypeIni ini;
    ASSERT_TRUE(ini.LoadFromText("[Kept]\r\nA=1\r\n"));
    EXPECT_FALSE(ini.LoadIniResource(9999));
    EXPECT_FALSE(ini.LoadIniResource(6));
    EXPECT_EQ(ini.SectionCount(), 1);
    EXPECT_EQ(ini.DescriptionText(), "");
}

// ---- the built-in texts -------------------------------------------------------------------

class BuiltInDescription : public ::testing::TestWithParam<int> {};

TEST_P(BuiltInDescription, ReaderAcceptsEveryLine) {
    const std::string text = BuiltIn(GetParam());
    ASSERT_FALSE(text.empty());
    // CR LF throughout.
    for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
    CIniFile ini;
    ::testing::internal::CaptureStdout();
    const bool loaded = ini.LoadFromText(text);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(ini.GetString("Vorlo Config", "Project Type", ""), "FLASH");
    EXPECT_EQ(ini.GetString("Vorlo Config", "Bus Type", ""), "USB");
    EXPECT_GE(ini.SectionIndex("Property Config"), 0);
    int propertySections = 0;
    for (int s = 0; s < ini.SectionCount(); ++s) {
        if (ini.SectionName(s).rfind("Camera_USB_", 0) == 0)
            ++propertySections;
    }
    EXPECT_GE(propertySections, 121);
    EXPECT_LE(propertySections, 147);
    // No section is written twice.
    std::set<std::string> names;
    for (int s = 0; s < ini.SectionCount(); ++s)
        EXPECT_TRUE(names.insert(ini.SectionName(s)).second) << ini.SectionName(s);
}

INSTANTIATE_TEST_SUITE_P(Ids, BuiltInDescription,
                         ::testing::Values(2030, 2031, 2032, 2033, 2034, 2035));

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool IsIdentity(const std::string& line) {
    // VID_hhhh&PID_hhhh&REV_hhhh with upper-case hexadecimal digits.
    if (line.size() != 26)
        return false;
    const std::string shape = "VID_....&PID_....&REV_....";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = line[i];
        if (shape[i] == '.') {
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
                return false;
        } else if (c != shape[i]) {
            return false;
        }
    }
    return true;
}

TEST(IdentityList, EightySevenLinesFourActive) {
    const std::string text = BuiltIn(3034);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::vector<std::string> lines = SplitCrLf(text);
    EXPECT_EQ(lines.size(), 87u);
    std::vector<std::string> active;
    for (const std::string& line : lines) {
        if (line.rfind("//", 0) == 0) {
            EXPECT_TRUE(IsIdentity(line.substr(2))) << line;
            EXPECT_EQ(line.substr(2, 8), "VID_1209") << line;
        } else {
            EXPECT_TRUE(IsIdentity(line)) << line;
            active.push_back(line);
        }
    }
    EXPECT_EQ(active, (std::vector<std::string>{
                          "VID_1209&PID_7050&REV_0100", "VID_1209&PID_7040&REV_0100",
                          "VID_1209&PID_7080&REV_0100", "VID_1209&PID_7020&REV_0100"}));
}

TEST(IdentityList, ReadAsIniDocumentEveryLineIsOneEntry) {
    CIniFile ini;
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(ini.LoadFromText(BuiltIn(3034)));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(ini.SectionCount(), 1);
    EXPECT_EQ(ini.SectionName(0), "");
    EXPECT_EQ(ini.EntryCount(0), 87);
}

// ---- descriptions on disk ("Ini Type" 1) --------------------------------------------------

const char* const kDiskDescription =
    "[Vorlo Config]\r\nIc Name=KSC7040\r\nDef Bin=FFU_7050\r\nBus Type=PCIE\r\n"
    "[Camera_Register_00]\r\nICRegister1=0x10\r\nICRegister2=0xD0\r\nChipInfo=25\r\n";

class DiskCatalogue : public Catalogue {
protected:
    void SetUp() override {
        Catalogue::SetUp();
        g_nIniType = 1;
        char pattern[] = "/tmp/uafw_ictype_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(m_dir);
    }
    void TearDown() override {
        std::filesystem::current_path(m_oldCwd);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        Catalogue::TearDown();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(m_dir / name, std::ios::binary) << text;
    }
    // A typical line-side directory: descriptions, the settings file, other files and a folder
    // whose name looks like a description.
    void WriteTypicalDirectory() {
        Write("KSC7050.INI", kDiskDescription);
        Write("alpha.ini", "[Vorlo Config]\r\nIc Name=ALPHA\r\n");
        Write("Zeta.Ini", "[Vorlo Config]\r\nIc Name=ZETA\r\n");
        Write("config.ini", "[Vorlo Config]\r\nIc Name=SETTINGS\r\n");
        Write("readme.txt", "[Vorlo Config]\r\n");
        Write("old.ini.bak", "[Vorlo Config]\r\n");
        std::filesystem::create_directory(m_dir / "x.INI");
    }
    std::filesystem::path m_dir;
    std::filesystem::path m_oldCwd;
};

TEST_F(DiskCatalogue, ListsIniFilesIgnoringCaseSkippingSettingsFileAndDirectories) {
    WriteTypicalDirectory();
    CICTypeIni ini;
    ini.ListIniNames();
    EXPECT_EQ(ini.IniNames(), (std::vector<std::string>{"alpha.ini", "KSC7050.INI", "Zeta.Ini"}));
}

TEST_F(DiskCatalogue, StartUpTakesFirstNameWhenSelectedNameIsNotListed) {
    WriteTypicalDirectory();
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SelectIni();
    EXPECT_EQ(ini.SelectedIniName(), "alpha.ini");
    ini.ReadChipTypeInfo();
    EXPECT_EQ(ini.ChipName(), "ALPHA");
}

TEST_F(DiskCatalogue, StartUpKeepsListedSelectedName) {
    WriteTypicalDirectory();
    Write("KSC7040.INI", "[Vorlo Config]\r\nIc Name=KSC7040\r\nBus Type=PCIE\r\n");
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SelectIni();
    EXPECT_EQ(ini.SelectedIniName(), "KSC7040.INI");
    ini.ReadChipTypeInfo();
    EXPECT_EQ(ini.ChipName(), "KSC7040");
    EXPECT_EQ(g_nBusType.load(), kBusPcie);
}

TEST_F(DiskCatalogue, StartUpWithOneNameSelectsIt) {
    Write("only.INI", "[Vorlo Config]\r\nIc Name=ONLY\r\n");
    CICTypeIni ini;
    ini.ListIniNames();
    ini.SelectIni();
    EXPECT_EQ(ini.SelectedIniName(), "only.INI");
    EXPECT_EQ(ini.GetString("Vorlo Config", "Ic Name", ""), "ONLY");
}

TEST_F(DiskCatalogue, StartUpWithoutDescriptionsLoadsNothing) {
    Write("config.ini", "[Vorlo Config]\r\nIc Name=SETTINGS\r\n");
    CICTypeIni ini;
    ini.ListIniNames();
    EXPECT_EQ(ini.IniNameCount(), 0);
    ini.SelectIni();
    EXPECT_EQ(ini.SelectedIniName(), "");
    EXPECT_EQ(ini.SectionCount(), 0);
    std::int32_t id = -1;
    EXPECT_FALSE(ini.FirmwareIdByName("FFU_7040", id));
    EXPECT_EQ(id, 0);
}

TEST_F(DiskCatalogue, IdentifiesChipFromFileAtItsPosition) {
    WriteTypicalDirectory();
    int found = -1;
    for (int position = 0; position < 3; ++position) {
        CICTypeIni ini;
        ini.ListIniNames();
        if (ini.SelectIniByChipId(0x10, 0xD0, position)) {
            found = position;
            EXPECT_EQ(ini.SelectedIniName(), "KSC7050.INI");
            EXPECT_EQ(ini.ChipCode(), 25);
            std::int32_t id = 0;
            EXPECT_TRUE(ini.DefaultFirmwareId(id));
            EXPECT_EQ(id, 3023);
        }
    }
    EXPECT_EQ(found, 1);
}

TEST_F(DiskCatalogue, PositionPastTheListSelectsNothing) {
    WriteTypicalDirectory();
    CICTypeIni ini;
    ini.ListIniNames();
    EXPECT_FALSE(ini.SelectIniByChipId(0x10, 0xD0, 3));
    EXPECT_EQ(ini.SelectedIniName(), "");
    EXPECT_EQ(ini.SectionCount(), 0);
}

}  // namespace
