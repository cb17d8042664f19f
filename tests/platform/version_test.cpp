#include <gtest/gtest.h>

#include "platform/Version.h"

namespace {

TEST(VersionText, DropsTheThirdField) {
    EXPECT_EQ(uafw::ShortVersionText("3.0.0.24"), "3.0.24");
    EXPECT_EQ(uafw::ShortVersionText("10.20.30.40"), "10.20.40");
}

TEST(VersionText, IncompleteVersionGivesEmptyText) {
    EXPECT_EQ(uafw::ShortVersionText(""), "");
    EXPECT_EQ(uafw::ShortVersionText("3.0.24"), "");
}

TEST(VersionText, LongVersionIsCutToFifteenCharacters) {
    EXPECT_EQ(uafw::ShortVersionText("1234567.1234567.0.1234567"), "1234567.1234567");
}

TEST(VersionText, ProgramVersionComesFromTheBuild) {
    EXPECT_STREQ(uafw::FileVersionText(), "3.0.0.24");
    EXPECT_EQ(uafw::ShortVersionText(uafw::FileVersionText()), "3.0.24");
}

}  // namespace
