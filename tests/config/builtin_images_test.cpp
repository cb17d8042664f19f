// The built-in "BINARY" images: one per firmware-resource name, laid out as the table says, each
// found by its name and carrying the configuration area its chip's description expects.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "config/BuiltInImages.h"
#include "config/EepromConfigInfo.h"
#include "config/ICTypeTables.h"
#include "image_test_support.h"
#include "platform/Resources.h"

namespace uafw::test {
namespace {

using BuiltInImages = ImageTest;

Bytes ResourceBytes(std::int32_t id) {
    const auto bytes = FindResource("BINARY", id);
    if (!bytes)
        return {};
    return Bytes(bytes->begin(), bytes->end());
}

// The "ICINI" id of the built-in description whose register sections carry the chip code.
std::map<std::uint8_t, std::int32_t> DescriptionsByChipCode() {
    std::map<std::uint8_t, std::int32_t> ids;
    for (const ChipTypeEntry& chip : kChipTypes) {
        CICTypeIni description;
        EXPECT_TRUE(description.LoadIniResource(chip.iniId));
        ids[static_cast<std::uint8_t>(description.GetInt("Camera_Register_00", "ChipInfo", 0))] =
            chip.iniId;
    }
    return ids;
}

TEST_F(BuiltInImages, TableFollowsTheCatalogue) {
    const auto& table = BuiltInImageTable();
    ASSERT_EQ(table.size(), kFirmwareResources.size());
    std::multiset<std::uint32_t> lengths;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].name, kFirmwareResources[i].name);
        EXPECT_EQ(table[i].id, kFirmwareResources[i].binaryId);
        lengths.insert(table[i].length);
    }
    EXPECT_EQ(lengths.count(65536), 54u);
    EXPECT_EQ(lengths.count(65533), 1u);
    EXPECT_EQ(lengths.count(262144), 1u);
}

TEST_F(BuiltInImages, EveryImageIsFoundByNameAndCarriesItsArea) {
    m_catalogue.ListIniNames();
    const auto descriptions = DescriptionsByChipCode();
    for (const BuiltInImageEntry& entry : BuiltInImageTable()) {
        SCOPED_TRACE(entry.name);
        std::int32_t id = 0;
        ASSERT_TRUE(m_catalogue.FirmwareIdByName(entry.name, id));
        EXPECT_EQ(id, entry.id);
        const Bytes image = ResourceBytes(id);
        ASSERT_EQ(image.size(), entry.length);
        // What the build embedded is what the table lays out.
        EXPECT_TRUE(image == BuildBuiltInImage(entry));
        EXPECT_EQ(image[0], 0x02);
        EXPECT_EQ(image[0xEFFE], 0xFF);
        EXPECT_EQ(image[0xEFFF], 0xFF);
        EXPECT_EQ(Bytes(image.begin() + 0x100C, image.begin() + 0x1014),
                  Bytes(entry.version.begin(), entry.version.end()));
        const CDescGlobal header = HeaderAt(image, 0xF000);
        EXPECT_EQ(header.m_byMemoryKind, 0x55);
        EXPECT_EQ(header.m_bySignature, 0xA5);

        // Located with the description of its chip.
        const auto description = descriptions.find(entry.chipCode);
        ASSERT_NE(description, descriptions.end());
        UseDescription(description->second);
        EXPECT_EQ(m_catalogue.GetInt("Camera_Register_00", "ChipInfo", 0), entry.chipCode);
        g_dwReadLength = static_cast<std::uint32_t>(image.size());
        CEepromConfigInfo info;
        const auto at = info.LocateConfigArea(image);
        ASSERT_TRUE(at.has_value());
        EXPECT_EQ(*at, 0xF000u);
        EXPECT_EQ(info.m_byChipCode, entry.chipCode);
        char vidPid[32];
        std::snprintf(vidPid, sizeof vidPid, "VID_%04X&PID_%04X", entry.vid, entry.pid);
        EXPECT_EQ(info.m_strVidPid, vidPid);
        EXPECT_EQ(info.m_strManufacturer, entry.manufacturer);
        EXPECT_EQ(info.m_strSerialText, entry.serial);
        EXPECT_EQ(g_nProjectType.load(), kProjectFlash);
        EXPECT_TRUE(m_boxes.texts.empty());
    }
}

TEST_F(BuiltInImages, DeviceImagesCarryTheMakersVidAndTheirPid) {
    for (const BuiltInImageEntry& entry : BuiltInImageTable()) {
        if (entry.name.size() != 13)
            continue;  // the per-chip images
        char name[16];
        std::snprintf(name, sizeof name, "FFU_%04X_%04X", entry.vid, entry.pid);
        EXPECT_EQ(entry.name, name);
        EXPECT_EQ(entry.vid, 0x1209);
    }
}

TEST_F(BuiltInImages, DefaultImageOfEachDescriptionCarriesItsChipCode) {
    m_catalogue.ListIniNames();
    for (const ChipTypeEntry& chip : kChipTypes) {
        SCOPED_TRACE(chip.model);
        UseDescription(chip.iniId);
        CImageRecord record;
        LoadDefaultImage(record);
        ASSERT_EQ(record.m_secondary.size(), 0x10000u);
        EXPECT_EQ(g_dwReadLength.load(), 0x10000u);
        const CDescGlobal header = HeaderAt(record.m_secondary, 0xF000);
        EXPECT_EQ(header.m_byChipCode, m_catalogue.GetInt("Camera_Register_00", "ChipInfo", -1));
    }
}

TEST_F(BuiltInImages, KSC7020ImageIsReadAtItsConfigAddressToo) {
    UseDescription(2030);
    const Bytes image = ResourceBytes(3012);
    const CDescGlobal header = HeaderAt(image, 0xAE00);
    EXPECT_TRUE(header.HasSignature());
    EXPECT_EQ(header.m_byChipCode, 17);
    CEepromConfigInfo info;
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_TRUE(info.CheckImageConfig(image));
    EXPECT_EQ(info.m_strVidPid, "VID_1209&PID_7020");
}

TEST_F(BuiltInImages, SerialNumberPatchOfABuiltInImage) {
    UseDescription(2033);
    Bytes image = ResourceBytes(3023);
    CEepromConfigInfo info;
    ASSERT_TRUE(info.PatchImageSNEx(image, "LINE-4-0001"));
    ASSERT_TRUE(info.LocateConfigArea(image).has_value());
    EXPECT_EQ(info.m_strSerialText, "LINE-4-0001");
    EXPECT_EQ(image[0xEFFE], 0x55);
    EXPECT_EQ(image[0xEFFF], 0xAA);

    // The 65,533-byte image is located, but its reserved range does not fit for a patch.
    const BuiltInImageEntry* shortEntry = nullptr;
    for (const BuiltInImageEntry& entry : BuiltInImageTable())
        shortEntry = entry.length == 65533 ? &entry : shortEntry;
    ASSERT_NE(shortEntry, nullptr);
    Bytes shortImage = ResourceBytes(shortEntry->id);
    const Bytes original = shortImage;
    EXPECT_FALSE(info.PatchImageSNEx(shortImage, "LINE-4-0002"));
    EXPECT_EQ(shortImage, original);
}

}  // namespace
}  // namespace uafw::test
