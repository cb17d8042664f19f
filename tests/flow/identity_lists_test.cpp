// The accepted-identity lists: the built-in list accepts every revision of an active line, the
// list file only the exact revision; inactive and empty lines accept nothing.
#include "flow/IdentityLists.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace uafw {
namespace {

struct ListCase {
    const char* name;
    const char* list;
    const char* identity;
    bool accepted;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class BuiltinListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(BuiltinListTest, Decides) {
    const ListCase& c = GetParam();
    EXPECT_EQ(IdentityInBuiltinList(c.list, c.identity), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BuiltinListTest,
    ::testing::Values(ListCase{"SameRevision", "VID_1209&PID_7050&REV_0100\r\n",
                               "VID_1209&PID_7050&REV_0100", true},
                      ListCase{"OtherRevision", "VID_1209&PID_7050&REV_0100\r\n",
                               "VID_1209&PID_7050&REV_0200", true},
                      ListCase{"LowerCaseIdentity", "VID_1209&PID_705A&REV_0100\r\n",
                               "vid_1209&pid_705a&rev_0100", true},
                      ListCase{"OtherProduct", "VID_1209&PID_7050&REV_0100\r\n",
                               "VID_1209&PID_7051&REV_0100", false},
                      ListCase{"InactiveLine", "//VID_1209&PID_7050&REV_0100\r\n",
                               "VID_1209&PID_7050&REV_0100", false},
                      ListCase{"LaterLineOfAGroup",
                               "VID_1209&PID_7040&REV_0100\r\n\r\n//VID_1209&PID_7050&REV_0101\r\n"
                               "  VID_1209&PID_7050&REV_0101  \r\n",
                               "VID_1209&PID_7050&REV_0300", true},
                      ListCase{"LineWithoutRevision", "VID_1209&PID_7050\r\n",
                               "VID_1209&PID_7050&REV_0100", true},
                      ListCase{"RevisionOnlyLineAcceptsNothing", "REV_0100\r\n",
                               "VID_1209&PID_7050&REV_0100", false},
                      ListCase{"BlankLinesAcceptNothing", "\r\n   \r\n\t\r\n",
                               "VID_1209&PID_7050&REV_0100", false},
                      ListCase{"EmptyList", "", "VID_1209&PID_7050&REV_0100", false}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(BuiltinIdList, CarriesFourActiveIdentitiesOfTheMakersVendor) {
    const std::string_view text = BuiltinIdListText();
    int lines = 0;
    int active = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        ++lines;
        if (!line.empty() && !line.starts_with("//")) {
            ++active;
            EXPECT_TRUE(line.starts_with("VID_1209&PID_")) << line;
        }
        start = end + 2;
    }
    EXPECT_EQ(lines, 87);
    EXPECT_EQ(active, 4);
    EXPECT_TRUE(IdentityInBuiltinList(text, "VID_1209&PID_7050&REV_0100"));
    EXPECT_FALSE(IdentityInBuiltinList(text, "VID_1209&PID_7030&REV_0101"));  // inactive
}

class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (std::filesystem::temp_directory_path() / "uafw-ids-XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        m_dir = dir;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Write(const std::string& text) {
        const std::string path = m_dir + "/VidPidList.ini";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string m_dir;
};

TEST_F(ListFileTest, RevisionMustMatch) {
    const std::string path =
        Write("VID_1209&PID_7040&REV_0100\r\n  VID_1209&PID_7050&REV_0101  \n");
    EXPECT_EQ(IdentityInListFile(path, "VID_1209&PID_7050&REV_0101"), ListFileResult::kMatch);
    EXPECT_EQ(IdentityInListFile(path, "vid_1209&pid_7050&rev_0101"), ListFileResult::kMatch);
    EXPECT_EQ(IdentityInListFile(path, "VID_1209&PID_7050&REV_0100"), ListFileResult::kNoMatch);
}

TEST_F(ListFileTest, LinesWithoutRevisionOrEmptyNeverMatch) {
    const std::string path = Write("VID_1209&PID_7050\n\n   \n[VidPid]\n");
    EXPECT_EQ(IdentityInListFile(path, "VID_1209&PID_7050&REV_0100"), ListFileResult::kNoMatch);
}

TEST_F(ListFileTest, MissingAndUnreadableFilesAreTold) {
    EXPECT_EQ(IdentityInListFile(m_dir + "/none.ini", "VID_1209&PID_7050&REV_0100"),
              ListFileResult::kMissing);
    EXPECT_EQ(IdentityInListFile(m_dir, "VID_1209&PID_7050&REV_0100"), ListFileResult::kUnreadable);
}

}  // namespace
}  // namespace uafw
