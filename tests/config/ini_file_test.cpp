#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "config/IniFile.h"

namespace {

// ---- integer conversion -------------------------------------------------------------------

struct IntCase {
    const char* text;
    std::int32_t expected;
};

void PrintTo(const IntCase& c, std::ostream* os) {
    *os << c.text;
}

class IniParseInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniParseInt, ConvertsWithAutomaticBase) {
    EXPECT_EQ(CIniFile::ParseInt(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniParseInt,
    ::testing::Values(IntCase{"0x10", 16}, IntCase{"0X1f", 31}, IntCase{"010", 8},
                      IntCase{"17", 17}, IntCase{"abc", 0}, IntCase{"12ab", 12}, IntCase{"", 0},
                      IntCase{"  42", 42}, IntCase{"\t7", 7}, IntCase{"+5", 5}, IntCase{"-1", -1},
                      IntCase{"0xFFFFFFFF", -1}, IntCase{"0x80000000", INT32_MIN},
                      IntCase{"4294967296", -1}, IntCase{"-4294967296", -1}, IntCase{"0x", 0},
                      IntCase{"0xg", 0}, IntCase{"09", 0}, IntCase{"0", 0}, IntCase{" 0x10", 16},
                      IntCase{"4096 bytes", 4096}));

// ---- loading text -------------------------------------------------------------------------

// Loads the text, capturing what the reader prints.
struct Loaded {
    bool ok = false;
    std::string printed;
};

Loaded LoadText(CIniFile& ini, const std::string& text) {
    Loaded result;
    ::testing::internal::CaptureStdout();
    result.ok = ini.LoadFromText(text);
    result.printed = ::testing::internal::GetCapturedStdout();
    return result;
}

struct LookupCase {
    const char* name;
    const char* text;
    bool loads;
    const char* section;
    const char* entry;
    const char* expected;  // nullptr: the lookup gives the default
};

void PrintTo(const LookupCase& c, std::ostream* os) {
    *os << c.name;
}

class IniLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(IniLookup, StoresNamesAndValuesExactlyAsRead) {
    const LookupCase& c = GetParam();
    CIniFile ini;
    const Loaded loaded = LoadText(ini, c.text);
    EXPECT_EQ(loaded.ok, c.loads);
    const std::string value = ini.GetString(c.section, c.entry, "<default>");
    EXPECT_EQ(value, c.expected ? c.expected : "<default>");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IniLookup,
    ::testing::Values(
        LookupCase{"LeadingSpacesKeptInName", "[S]\r\n  Name=1\r\n", true, "S", "  Name", "1"},
        LookupCase{"LeadingSpacesNotTrimmedForLookup", "[S]\r\n  Name=1\r\n", true, "S", "Name",
                   nullptr},
        LookupCase{"SpaceBeforeEqualsKeptInName", "[S]\r\nKey = 0x10\r\n", true, "S", "Key ",
                   " 0x10"},
        LookupCase{"NameWithoutItsSpaceNotFound", "[S]\r\nKey = 0x10\r\n", true, "S", "Key",
                   nullptr},
        LookupCase{"LowerCaseHeaderFound", "[vendor info m1]\r\nConfigSize=4096\r\n", true,
                   "Vendor Info M1", "configsize", "4096"},
        LookupCase{"EntryNameIgnoresCase", "[S]\r\nDef Bin=FFU_7040\r\n", true, "s", "DEF BIN",
                   "FFU_7040"},
        LookupCase{"ValueKeepsEverythingAfterFirstEquals", "[S]\r\nOpt=0=Off ; #1 [x]\r\n", true,
                   "S", "Opt", "0=Off ; #1 [x]"},
        LookupCase{"LineWithoutEqualsIsEntryWithEmptyValue", "[S]\r\nFlag\r\n", true, "S", "Flag",
                   ""},
        LookupCase{"ValueCaseKept", "[S]\r\nA=MiXeD\r\n", true, "S", "a", "MiXeD"},
        LookupCase{"LaterEntryReplacesEarlier", "[S]\r\nA=1\r\nA=2\r\n", true, "S", "A", "2"},
        LookupCase{"LfOnlyLineEnds", "[S]\nA=1\nB=2", true, "S", "B", "2"},
        LookupCase{"EmptyLinesSkipped", "\r\n\r\n[S]\r\n\r\nA=1\r\n\r\n", true, "S", "A", "1"},
        LookupCase{"EntryBeforeFirstSectionGoesToUnnamedSection", "A=1\r\n[S]\r\nB=2\r\n", true, "",
                   "A", "1"},
        LookupCase{"HeaderWithoutClosingBracketIgnored", "[S]\r\n[broken\r\nA=1\r\n", true, "S",
                   "A", "1"},
        LookupCase{"ClosingBracketBeforeOpeningIgnored", "[S]\r\n]x[\r\nA=1\r\n", true, "S", "A",
                   "1"},
        LookupCase{"SectionNameKeptUntrimmed", "[ S ]\r\nA=1\r\n", true, " S ", "A", "1"},
        LookupCase{"SemicolonBeforeEqualsMakesNote", "[S]\r\nA;B=1\r\n", true, "S", "A;B", nullptr},
        LookupCase{"MissingSectionGivesDefault", "[S]\r\nA=1\r\n", true, "T", "A", nullptr},
        LookupCase{"OnlyNotesLoadNothing", "; note\r\n# other\r\n", false, "", "", nullptr},
        LookupCase{"EmptyTextLoadsNothing", "", false, "S", "A", nullptr}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

struct StopCase {
    const char* name;
    const char* text;
    const char* printed;
    int sectionsKept;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class IniStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(IniStop, UnprintableFirstByteStopsTheLoadKeepingWhatWasRead) {
    const StopCase& c = GetParam();
    CIniFile ini;
    const Loaded loaded = LoadText(ini, c.text);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.printed, c.printed);
    EXPECT_EQ(ini.SectionCount(), c.sectionsKept);
    // Nothing after the failing line is read.
    EXPECT_EQ(ini.GetString("T", "After", "<none>"), "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IniStop,
    ::testing::Values(StopCase{"ByteOrderMark", "\xEF\xBB\xBF[S]\r\nA=1\r\n[T]\r\nAfter=1\r\n",
                               "Failing on char -17\n", 0},
                      StopCase{"TabIndentedLine", "[S]\r\nA=1\r\n\tB=2\r\n[T]\r\nAfter=1\r\n",
                               "Failing on char 9\n", 1},
                      StopCase{"DeleteCharacter", "[S]\r\n\x7F\r\n[T]\r\nAfter=1\r\n",
                               "Failing on char 127\n", 1},
                      StopCase{"Latin1Letter", "[S]\r\n\xE9t\xE9=1\r\n[T]\r\nAfter=1\r\n",
                               "Failing on char -23\n", 1}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST(IniFile, TabStopLeavesEarlierEntriesReadable) {
    CIniFile ini;
    LoadText(ini, "[S]\r\nA=1\r\n\tB=2\r\nC=3\r\n");
    EXPECT_EQ(ini.GetString("S", "A", ""), "1");
    EXPECT_EQ(ini.EntryIndex(0, "C"), -1);
}

TEST(IniFile, RepeatedSectionAppendsSecondSectionButEntriesGoToFirst) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[a]\r\nz=3\r\n").ok);
    ASSERT_EQ(ini.SectionCount(), 3);
    EXPECT_EQ(ini.SectionName(2), "a");
    EXPECT_EQ(ini.EntryCount(2), 0);
    EXPECT_EQ(ini.EntryCount(0), 2);
    EXPECT_EQ(ini.EntryName(0, 1), "z");
    EXPECT_EQ(ini.GetString("A", "z", ""), "3");
    EXPECT_EQ(ini.SectionIndex("A"), 0);
}

TEST(IniFile, NotesBeforeFirstSectionAreFileNotesLaterOnesSectionNotes) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "; first\r\n#second\r\n[S]\r\n; in S\r\n[T]\r\nx#in T\r\n").ok);
    EXPECT_EQ(ini.FileNotes(), (std::vector<std::string>{" first", "second"}));
    EXPECT_EQ(ini.SectionNotes(0), (std::vector<std::string>{" in S"}));
    EXPECT_EQ(ini.SectionNotes(1), (std::vector<std::string>{"in T"}));
    EXPECT_EQ(ini.EntryCount(1), 0);
}

TEST(IniFile, NoteAfterEntriesBeforeAnySectionBelongsToUnnamedSection) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "A=1\r\n; note\r\n").ok);
    EXPECT_TRUE(ini.FileNotes().empty());
    EXPECT_EQ(ini.SectionNotes(ini.SectionIndex("")), (std::vector<std::string>{" note"}));
}

TEST(IniFile, GetIntReadsTheStoredTextOrFormatsTheDefault) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "[S]\r\nKey = 0x10\r\nOct=010\r\nBad=abc\r\nEmpty=\r\n").ok);
    EXPECT_EQ(ini.GetInt("S", "Key ", 0), 16);
    EXPECT_EQ(ini.GetInt("S", "Oct", 0), 8);
    EXPECT_EQ(ini.GetInt("S", "Bad", 5), 0);
    EXPECT_EQ(ini.GetInt("S", "Empty", 5), 0);
    EXPECT_EQ(ini.GetInt("S", "Missing", -5), -5);
    EXPECT_EQ(ini.GetInt("Nowhere", "Key ", 77), 77);
    EXPECT_EQ(ini.GetInt(0, "Oct", 0), 8);
    EXPECT_EQ(ini.GetInt(9, "Oct", 3), 3);
}

TEST(IniFile, PutStringCreatesOnlyWhenAsked) {
    CIniFile ini;
    EXPECT_FALSE(ini.PutString("S", "A", "1", false));
    EXPECT_EQ(ini.SectionCount(), 0);
    EXPECT_TRUE(ini.PutString("S", "A", "1", true));
    EXPECT_FALSE(ini.PutString("S", "B", "2", false));
    EXPECT_TRUE(ini.PutString("s", "a", "3", false));
    EXPECT_EQ(ini.GetString("S", "A", ""), "3");
    EXPECT_EQ(ini.EntryCount(0), 1);
    EXPECT_TRUE(ini.PutInt("T", "N", -42));
    EXPECT_EQ(ini.GetString("T", "N", ""), "-42");
}

TEST(IniFile, AddSectionNoteNeedsTheSection) {
    CIniFile ini;
    EXPECT_FALSE(ini.AddSectionNote("S", "x"));
    ini.AppendSection("S");
    EXPECT_TRUE(ini.AddSectionNote("s", "x"));
    EXPECT_EQ(ini.SectionNotes(0), (std::vector<std::string>{"x"}));
}

TEST(IniFile, ClearRemovesSectionsEntriesAndNotes) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "; f\r\n[S]\r\nA=1\r\n").ok);
    ini.Clear();
    EXPECT_EQ(ini.SectionCount(), 0);
    EXPECT_TRUE(ini.FileNotes().empty());
    EXPECT_EQ(ini.GetString("S", "A", "none"), "none");
}

TEST(IniFile, AccessorsOutOfRangeGiveEmptyResults) {
    CIniFile ini;
    ASSERT_TRUE(LoadText(ini, "[S]\r\nA=1\r\n").ok);
    EXPECT_EQ(ini.SectionName(1), "");
    EXPECT_EQ(ini.SectionName(-1), "");
    EXPECT_EQ(ini.EntryName(0, 1), "");
    EXPECT_EQ(ini.EntryName(5, 0), "");
    EXPECT_TRUE(ini.SectionNotes(3).empty());
    EXPECT_EQ(ini.EntryCount(-1), 0);
    EXPECT_EQ(ini.EntryIndex(7, "A"), -1);
    EXPECT_EQ(ini.GetString(-1, "A", "d"), "d");
}

// ---- loading files ------------------------------------------------------------------------

class IniFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/uafw_ini_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::filesystem::path m_dir;
};

TEST_F(IniFileOnDisk, ReadsCrLfFileToItsEnd) {
    CIniFile ini;
    ini.SetFilePath(Write("a.ini", "; top\r\n[S]\r\nA = 1\r\n\r\nB=0x20"));
    EXPECT_TRUE(ini.LoadFromFile());
    EXPECT_EQ(ini.GetString("S", "A ", ""), " 1");
    EXPECT_EQ(ini.GetInt("S", "B", 0), 32);
    EXPECT_EQ(ini.FileNotes(), (std::vector<std::string>{" top"}));
}

TEST_F(IniFileOnDisk, MissingFileDirectoryAndSectionlessFileLoadNothing) {
    CIniFile ini;
    ini.SetFilePath((m_dir / "missing.ini").string());
    EXPECT_FALSE(ini.LoadFromFile());
    ini.SetFilePath(m_dir.string());
    EXPECT_FALSE(ini.LoadFromFile());
    ini.SetFilePath(Write("notes.ini", "; only a note\r\n"));
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_EQ(ini.SectionCount(), 0);
}

TEST_F(IniFileOnDisk, ByteOrderMarkStopsFileLoad) {
    CIniFile ini;
    ini.SetFilePath(Write("bom.ini", "\xEF\xBB\xBF[S]\r\nA=1\r\n"));
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Failing on char -17\n");
    EXPECT_EQ(ini.SectionCount(), 0);
}

}  // namespace
