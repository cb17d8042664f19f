#include "platform/FileAttributes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class ClearReadOnlyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("uafw_attr_" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    fs::path m_dir;
};

TEST_F(ClearReadOnlyTest, AddsOwnerWriteAndKeepsTheOtherBits) {
    const fs::path f = m_dir / "config.ini";
    std::ofstream(f) << "x";
    fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_exec);
    EXPECT_TRUE(uafw::ClearReadOnly(f.string()));
    EXPECT_EQ(fs::status(f).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_exec);
}

TEST_F(ClearReadOnlyTest, WritableFileStaysAsItIs) {
    const fs::path f = m_dir / "config.ini";
    std::ofstream(f) << "x";
    fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(uafw::ClearReadOnly(f.string()));
    EXPECT_EQ(fs::status(f).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ClearReadOnlyTest, MissingFileOrDirectoryIsLeftAlone) {
    EXPECT_FALSE(uafw::ClearReadOnly((m_dir / "missing.ini").string()));
    EXPECT_FALSE(fs::exists(m_dir / "missing.ini"));
    const fs::path d = m_dir / "config.ini";
    fs::create_directory(d);
    fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(uafw::ClearReadOnly(d.string()));
    EXPECT_EQ(fs::status(d).permissions(), fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(d, fs::perms::owner_all);
}

}  // namespace
