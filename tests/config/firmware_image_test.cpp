// Obtaining images (file, resource, a chip's default image) and the dump buffer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "config/FirmwareImage.h"
#include "image_test_support.h"
#include "platform/Resources.h"

namespace uafw::test {
namespace {

class FirmwareImageTest : public ImageTest {
protected:
    void SetUp() override {
        ImageTest::SetUp();
        m_dir = std::filesystem::temp_directory_path() /
                ("uafw_image_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        ImageTest::TearDown();
    }
    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const auto path = m_dir / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    Bytes ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::path m_dir;
};

TEST_F(FirmwareImageTest, LoadImageFileTakesTheWholeFile) {
    const Bytes bytes{0x02, 0x01, 0x00, 0x55, 0xAA};
    CImageRecord record;
    record.m_strImageFile = WriteFile("fw.bin", bytes);
    ASSERT_TRUE(LoadImageFile(record));
    EXPECT_EQ(record.m_image, bytes);
    EXPECT_EQ(record.m_copy, bytes);
}

TEST_F(FirmwareImageTest, LoadImageFileFailures) {
    struct Case {
        const char* name;
        std::string file;
        bool previousStays;
    };
    const Case cases[] = {
        {"EmptyName", "", true},
        {"MissingFile", (m_dir / "missing.bin").string(), true},
        {"EmptyFile", WriteFile("empty.bin", {}), false},
        {"Directory", m_dir.string(), false},
    };
    for (const Case& c : cases) {
        CImageRecord record;
        record.m_image = {1, 2, 3};
        record.m_copy = {1, 2, 3};
        record.m_strImageFile = c.file;
        EXPECT_FALSE(LoadImageFile(record)) << c.name;
        EXPECT_EQ(record.m_image.empty(), !c.previousStays) << c.name;
        EXPECT_EQ(record.m_copy.empty(), !c.previousStays) << c.name;
    }
}

TEST_F(FirmwareImageTest, LoadImageResourceSetsTheTargetMemorySize) {
    for (std::int32_t bus : {kBusUsb, kBusMipi}) {
        g_nBusType = bus;
        g_dwReadLength = 0x1234;
        CImageRecord record;
        LoadImageResource(record, 3046);
        const auto resource = FindResource("BINARY", 3046);
        ASSERT_TRUE(resource.has_value());
        EXPECT_EQ(record.m_secondary, Bytes(resource->begin(), resource->end()));
        EXPECT_EQ(g_dwReadLength.load(), resource->size());
        EXPECT_TRUE(record.m_image.empty());
    }
}

TEST_F(FirmwareImageTest, MissingResourceChangesNothing) {
    g_dwReadLength = 0x1234;
    CImageRecord record;
    record.m_secondary = {7, 7};
    LoadImageResource(record, 2999);
    EXPECT_EQ(record.m_secondary, (Bytes{7, 7}));
    EXPECT_EQ(g_dwReadLength.load(), 0x1234u);
}

TEST_F(FirmwareImageTest, DefaultImageOnlyWhileNoFurtherFileIsNamed) {
    UseDescription(2033);
    m_catalogue.ListIniNames();
    CImageRecord record;
    record.m_secondary = {7};
    record.m_strSecondFile = "second.bin";
    LoadDefaultImage(record);
    EXPECT_EQ(record.m_secondary, (Bytes{7}));
    record.m_strSecondFile.clear();
    LoadDefaultImage(record);
    const auto resource = FindResource("BINARY", 3023);
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(record.m_secondary, Bytes(resource->begin(), resource->end()));
}

TEST_F(FirmwareImageTest, NoDefaultImageEmptiesTheSecondaryImage) {
    // No description listed.
    UseDescription(2033);
    CImageRecord record;
    record.m_secondary = {7};
    LoadDefaultImage(record);
    EXPECT_TRUE(record.m_secondary.empty());
    // A description whose "Def Bin" names no image.
    m_catalogue.ListIniNames();
    UseLayout("KSC7040", 0xF000, 4096);
    record.m_secondary = {7};
    LoadDefaultImage(record);
    EXPECT_TRUE(record.m_secondary.empty());
}

TEST_F(FirmwareImageTest, DumpBufferIsErasedAndSavedWhole) {
    CImageRecord record;
    record.m_dump = {1, 2, 3};
    ASSERT_TRUE(AllocDumpBuffer(record, 0x100));
    EXPECT_EQ(record.m_dump, Bytes(0x100, 0xFF));
    record.m_dump[0] = 0x02;
    record.m_strDumpFile = (m_dir / "dump.bin").string();
    WriteFile("dump.bin", Bytes(0x400, 0x11));  // an older, longer file is truncated
    ASSERT_TRUE(WriteDumpFile(record));
    EXPECT_EQ(ReadFile(record.m_strDumpFile), record.m_dump);

    record.m_strDumpFile = (m_dir / "no-such-dir" / "dump.bin").string();
    EXPECT_FALSE(WriteDumpFile(record));
}

}  // namespace
}  // namespace uafw::test
