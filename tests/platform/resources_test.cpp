#include <gtest/gtest.h>

#include "platform/Resources.h"

namespace {

TEST(EmbeddedResources, SettingsTextIsBuiltInByteForByte) {
    const std::string_view text = uafw::ResourceText("ICINI", 3032);
    EXPECT_EQ(text, "[Vorlo Config]\r\nCheckVIDPID_INI=1\r\nAutoRun=0\r\nCompanyName=\"Tavenic\"");
}

TEST(EmbeddedResources, UnknownTypeOrIdIsMissing) {
    EXPECT_FALSE(uafw::FindResource("ICINI", 9999).has_value());
    EXPECT_FALSE(uafw::FindResource("BINARY", 3032).has_value());
    EXPECT_TRUE(uafw::ResourceText("ICINI", 9999).empty());
}

}  // namespace
