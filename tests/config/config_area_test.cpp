// The configuration area of a firmware image: where it is found, what is read out of it, the
// serial-number patch and the pre-download step.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "config/EepromConfigInfo.h"
#include "image_test_support.h"
#include "platform/OperationLog.h"
#include "platform/TextCodec.h"

namespace uafw::test {
namespace {

constexpr std::int32_t kIni7020 = 2030;
constexpr std::int32_t kIni7040 = 2031;
constexpr std::int32_t kIni7050 = 2033;

using ConfigAreaTest = ImageTest;

// ---------------------------------------------------------------------------------------------
// Locating the area

TEST_F(ConfigAreaTest, ConfigurationOnlyImageIsFoundAtOffsetZero) {
    UseDescription(kIni7020);  // ConfigAddress 0xAE00
    AreaContent entry;
    entry.memoryKind = 0x30;
    entry.chipCode = 17;
    struct Case {
        std::size_t length;
        std::uint32_t result;
    };
    for (const Case c : {Case{0xC000, 0}, Case{0x10000, 0xF000}}) {
        CEepromConfigInfo info;
        const Bytes image = MakeImage(c.length, 0, MakeArea(entry));
        const auto at = info.LocateConfigArea(image);
        ASSERT_TRUE(at.has_value()) << c.length;
        EXPECT_EQ(*at, c.result);
        EXPECT_EQ(info.m_bAreaAtStart, 1);
        EXPECT_EQ(info.m_byChipCode, 17);
    }
}

TEST_F(ConfigAreaTest, CodeImageOf64KiBHasItsAreaAt0xF000) {
    UseDescription(kIni7050);
    CEepromConfigInfo info;
    const Bytes image = MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}));
    const auto at = info.LocateConfigArea(image);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(*at, 0xF000u);
    EXPECT_EQ(info.m_dwWriteAddress, 0xF000u);
    EXPECT_EQ(info.m_dwWriteLength, 0x1000u);
    EXPECT_EQ(info.m_bAreaAtStart, 0);
    EXPECT_EQ(info.m_byChipCode, 25);
    EXPECT_EQ(info.m_areaOffset, at);
}

TEST_F(ConfigAreaTest, CodeImageOf48KiBHasItsAreaAtConfigAddress) {
    UseDescription(kIni7020);
    AreaContent entry;
    entry.chipCode = 17;
    CEepromConfigInfo info;
    const Bytes image = MakeImage(0xC000, 0xAE00, MakeArea(entry));
    const auto at = info.LocateConfigArea(image);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(*at, 0xAE00u);
    EXPECT_EQ(info.m_dwWriteAddress, 0xA000u);
    EXPECT_EQ(info.m_dwWriteLength, 0x1000u);
    EXPECT_EQ(info.m_byChipCode, 17);
}

TEST_F(ConfigAreaTest, Ksc7040With16KiBTargetLooksAtOffsetZero) {
    UseDescription(kIni7040);  // ConfigAddress 0xF000
    g_dwReadLength = 0x4000;
    AreaContent entry;
    entry.memoryKind = 0x60;
    entry.chipCode = 21;
    entry.cacheCodes = {Bytes(40, 0x11), Bytes(100, 0x22)};
    const Bytes area = MakeArea(entry);
    const Bytes image = MakeImage(0x4000, 0, area);

    // Behind the last cache-code block: the chain ends with the two cache-code blocks.
    const std::uint32_t end = static_cast<std::uint32_t>(area.size());
    CEepromConfigInfo info;
    const auto at = info.LocateConfigArea(image);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(*at, end);
    EXPECT_EQ(info.m_bAreaAtStart, 1);
    EXPECT_EQ(info.m_byChipCode, 21);
    EXPECT_EQ(g_nProjectType.load(), kProjectOtp);
    EXPECT_EQ(info.m_dwWriteAddress, end & 0xFFF0);
    EXPECT_EQ(info.m_dwWriteLength, (area.size() & 0xFFF0) - (end & 0xFFF0) + 0x30);
}

TEST_F(ConfigAreaTest, ImageWithoutAreaGivesNothingAndChipCodeFF) {
    UseDescription(kIni7050);
    CEepromConfigInfo info;
    ASSERT_TRUE(info.LocateConfigArea(MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}))));
    ASSERT_EQ(info.m_byChipCode, 25);

    const Bytes cases[] = {Bytes(0x10000, 0xFF),
                           MakeImage(0x10000, 0x8000, MakeArea(AreaContent{})),
                           Bytes{0x55, 0xA5, 0xCA}, Bytes{}};
    for (const Bytes& image : cases) {
        EXPECT_FALSE(info.LocateConfigArea(image).has_value()) << image.size();
        EXPECT_EQ(info.m_byChipCode, 0xFF);
        EXPECT_FALSE(info.m_areaOffset.has_value());
    }
    EXPECT_TRUE(m_boxes.texts.empty());
}

TEST_F(ConfigAreaTest, FixedBlocksSetTheFlagsOfTheRecord) {
    UseDescription(kIni7050);
    AreaContent entry;
    entry.hasBankCopy = true;
    entry.bankCopy = 0x5A;
    entry.hasForceUpdate = true;
    entry.forceUpdate = 0x50;  // bits 4 and 6
    CEepromConfigInfo info;
    ASSERT_TRUE(info.LocateConfigArea(MakeImage(0x10000, 0xF000, MakeArea(entry))));
    EXPECT_EQ(info.m_bBankCopyEnabled, 1);
    EXPECT_EQ(info.m_bForceUpdateBit4, 1);
    EXPECT_EQ(info.m_bForceUpdateBit6, 1);

    // Bank copy and bit 4 stay once set; bit 6 follows the image.
    entry.bankCopy = 0x00;
    entry.forceUpdate = 0x00;
    ASSERT_TRUE(info.LocateConfigArea(MakeImage(0x10000, 0xF000, MakeArea(entry))));
    EXPECT_EQ(info.m_bBankCopyEnabled, 1);
    EXPECT_EQ(info.m_bForceUpdateBit4, 1);
    EXPECT_EQ(info.m_bForceUpdateBit6, 0);
}

// ---------------------------------------------------------------------------------------------
// Reading the area

TEST_F(ConfigAreaTest, LoadImageConfigTakesTheTextsOut) {
    UseDescription(kIni7050);
    AreaContent entry;
    entry.strings = {{1, "Tavenic"}, {2, "KSC7050"}, {3, "SN-42"}, {7, "Audio IAD"}};
    entry.vid = 0x1209;
    entry.pid = 0x70AB;
    entry.revision = 0x01C0;
    const Bytes area = MakeArea(entry);
    const Bytes image = MakeImage(0x10000, 0xF000, area);
    CEepromConfigInfo info;
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_EQ(info.m_strManufacturer, "Tavenic");
    EXPECT_EQ(info.m_strSerialText, "SN-42");
    EXPECT_EQ(info.m_strIAD, "Audio IAD");
    EXPECT_EQ(info.m_strVidPid, "VID_1209&PID_70AB");
    EXPECT_EQ(info.m_strRevision, "01c0");
    char version[16];
    std::snprintf(version, sizeof version, "0x%02X%02X%02X%02X%02X", image[0x1003], image[0x1005],
                  image[0x1004], image[0x1007], image[0x1006]);
    EXPECT_EQ(info.m_strImageVersion, version);
    EXPECT_EQ(info.m_wTotalLength, area.size());
    EXPECT_EQ(info.m_dwWriteLength, area.size());
}

TEST_F(ConfigAreaTest, ImageVersionTextNeedsMoreThan0x1020Bytes) {
    UseLayout("KSC7050", 0, 4096);
    const Bytes area = MakeArea(AreaContent{});
    for (std::size_t length : {std::size_t{0x1020}, std::size_t{0x1021}}) {
        Bytes image = MakeImage(length, 0, area);
        for (std::size_t i = 0x1003; i < 0x1008 && i < length; ++i)
            image[i] = static_cast<std::uint8_t>(i);
        CEepromConfigInfo info;
        ASSERT_TRUE(info.LoadImageConfig(image));
        EXPECT_EQ(info.m_strVidPid, "VID_1209&PID_7050");
        EXPECT_EQ(info.m_strImageVersion.empty(), length == 0x1020) << length;
    }
}

TEST_F(ConfigAreaTest, ReadingSetsTheProjectTypeFromTheMemoryKind) {
    UseDescription(kIni7050);
    struct Case {
        std::uint8_t memoryKind;
        std::int32_t project;
    };
    const Case cases[] = {{0x11, kProjectEeprom8}, {0x12, kProjectEeprom16},
                          {0x30, kProjectFlash},   {0x55, kProjectFlash},
                          {0x61, kProjectFlash},   {0x40, kProjectMtp},
                          {0x60, kProjectOtp},     {0x77, 3}};
    for (const Case& c : cases) {
        g_nProjectType = 3;
        AreaContent entry;
        entry.memoryKind = c.memoryKind;
        CEepromConfigInfo info;
        ASSERT_TRUE(info.LoadImageConfig(MakeImage(0x10000, 0xF000, MakeArea(entry))));
        EXPECT_EQ(g_nProjectType.load(), c.project) << int(c.memoryKind);
    }
}

TEST_F(ConfigAreaTest, ErasedImageIsNoAreaAndShowsNothing) {
    UseDescription(kIni7050);
    const Bytes image(0x10000, 0xFF);
    CEepromConfigInfo info;
    info.m_strManufacturer = "old";
    std::uint32_t offset = 99;
    EXPECT_FALSE(info.LoadImageConfig(image));
    EXPECT_FALSE(info.CheckImageConfig(image));
    EXPECT_FALSE(info.FindCacheCodeEnd(image, offset));
    EXPECT_EQ(offset, 0u);
    EXPECT_TRUE(info.m_strManufacturer.empty());
    EXPECT_TRUE(m_boxes.texts.empty());
}

TEST_F(ConfigAreaTest, ReadingAnImageWithoutSignatureFails) {
    UseDescription(kIni7050);
    // A code image whose program bytes at offset 0 would read as a header with many blocks.
    Bytes image = MakeImage(0x10000, 0x8000, MakeArea(AreaContent{}));
    image[3] = 0x00;
    image[4] = 0x10;
    image[5] = 0xFF;
    g_nProjectType = kProjectEeprom16;
    CEepromConfigInfo info;
    EXPECT_FALSE(info.LoadImageConfig(image));
    EXPECT_FALSE(info.CheckImageConfig(image));
    EXPECT_EQ(g_nProjectType.load(), kProjectEeprom16);
    EXPECT_TRUE(m_boxes.texts.empty());
}

TEST_F(ConfigAreaTest, BrokenChainShowsConfigFileCorrupted) {
    UseDescription(kIni7050);
    Bytes area = MakeArea(AreaContent{});
    area[5] = static_cast<std::uint8_t>(area[5] + 3);  // three more blocks than the chain holds
    Bytes image = MakeImage(0x10000, 0xF000, area);
    // No 0xFF filler behind the chain: the surplus count runs into a block past the end.
    image[0xF000 + area.size()] = 0x40;
    image[0xF000 + area.size() + 1] = 0x01;
    for (std::size_t i = 0xF000 + area.size() + 2; i < image.size(); ++i)
        image[i] = 0x00;
    CEepromConfigInfo info;
    EXPECT_FALSE(info.LoadImageConfig(image));
    EXPECT_FALSE(info.CheckImageConfig(image));
    ASSERT_EQ(m_boxes.texts.size(), 2u);
    EXPECT_EQ(m_boxes.texts[0], "Config file corrupted");
    // Blocks read before the break are kept.
    EXPECT_EQ(info.m_strManufacturer, "Tavenic");
}

TEST_F(ConfigAreaTest, CheckImageConfigLooksOnlyAtItsFixedPlace) {
    UseDescription(kIni7020);
    AreaContent entry;
    entry.chipCode = 17;
    CEepromConfigInfo info;
    // A 48 KiB image ends before 0xF000.
    EXPECT_FALSE(info.CheckImageConfig(MakeImage(0xC000, 0xAE00, MakeArea(entry))));
    // No fall back to offset 0.
    EXPECT_FALSE(info.CheckImageConfig(MakeImage(0x10000, 0, MakeArea(entry))));
    EXPECT_TRUE(info.CheckImageConfig(MakeImage(0x10000, 0xF000, MakeArea(entry))));

    UseDescription(kIni7040);
    entry.chipCode = 21;
    g_nProjectType = kProjectOtp;
    EXPECT_TRUE(info.CheckImageConfig(MakeImage(0x2000, 0, MakeArea(entry))));
}

TEST_F(ConfigAreaTest, FindCacheCodeEndIsBehindTheLastCacheBlock) {
    UseLayout("KSC7040", 0, 4096);
    AreaContent entry;
    entry.chipCode = 24;
    entry.cacheCodes = {Bytes(16, 1), Bytes(32, 2)};
    entry.strings = {{1, "Tavenic"}};
    entry.vidPid = false;
    Bytes area = MakeArea(entry);
    CEepromConfigInfo info;
    std::uint32_t offset = 0;
    ASSERT_TRUE(info.FindCacheCodeEnd(MakeImage(0x4000, 0, area), offset));
    EXPECT_EQ(offset, area.size());

    // Without cache code the offset is 0.
    entry.cacheCodes.clear();
    ASSERT_TRUE(info.FindCacheCodeEnd(MakeImage(0x4000, 0, MakeArea(entry)), offset));
    EXPECT_EQ(offset, 0u);
}

// ---------------------------------------------------------------------------------------------
// Serial-number patch

class SerialPatchTest : public ImageTest {
protected:
    void SetUp() override {
        ImageTest::SetUp();
        UseDescription(kIni7050);  // 0xF000, 4096, tag 0xEFFE
    }
    // A 128 KiB code image with the area at 0xF000 and marked bytes behind the reserved size.
    Bytes CodeImage(const AreaContent& entry = AreaContent{}) {
        Bytes image = MakeImage(0x20000, 0xF000, MakeArea(entry));
        for (std::size_t i = 0x10000; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i ^ 0x5A);
        return image;
    }
};

TEST_F(SerialPatchTest, FortyEightBytesAreAcceptedFortyNineRefused) {
    const std::string ok(48, '7');
    Bytes image = CodeImage();
    CEepromConfigInfo info;
    ASSERT_TRUE(info.PatchImageSN(image, ok));
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_EQ(info.m_strManufacturer, ok);

    Bytes before = CodeImage();
    Bytes refused = before;
    EXPECT_FALSE(info.PatchImageSN(refused, std::string(49, '7')));
    EXPECT_EQ(refused, before);
    EXPECT_FALSE(info.PatchImageSNEx(refused, std::string(49, '7')));
    EXPECT_EQ(refused, before);
}

TEST_F(SerialPatchTest, PatchRebuildsTheAreaAndSetsTheTag) {
    AreaContent entry;
    entry.memoryKind = 0x30;
    const Bytes original = CodeImage(entry);
    Bytes image = original;
    CEepromConfigInfo info;
    ASSERT_TRUE(info.PatchImageSN(image, "SN-77"));
    EXPECT_EQ(image[0xF000], 0x55);  // memory kind flash
    EXPECT_EQ(image[0xEFFE], 0x55);
    EXPECT_EQ(image[0xEFFF], 0xAA);
    // Everything before the area other than the tag, and everything behind the reserved size,
    // keeps its bytes.
    for (std::size_t i = 0; i < 0xEFFE; ++i)
        ASSERT_EQ(image[i], original[i]) << i;
    for (std::size_t i = 0x10000; i < image.size(); ++i)
        ASSERT_EQ(image[i], original[i]) << i;
    // Behind the rebuilt area the reserved size is erased.
    const CDescGlobal header = HeaderAt(image, 0xF000);
    EXPECT_EQ(info.m_wTotalLength, header.m_wTotalLength);
    for (std::size_t i = 0xF000 + header.m_wTotalLength; i < 0x10000; ++i)
        ASSERT_EQ(image[i], 0xFF) << i;
    // The other blocks are carried over.
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_EQ(info.m_strManufacturer, "SN-77");
    EXPECT_EQ(info.m_strSerialText, "SN0001");
    EXPECT_EQ(info.m_strVidPid, "VID_1209&PID_7050");
}

TEST_F(SerialPatchTest, PatchExWritesBlock3WithTheSnFunctionMarker) {
    struct Case {
        std::int32_t snFunction;
        std::string text;
        bool ok;
        std::string stored;
    };
    const Case cases[] = {
        {0, "ABC123", true, "ABC123"},
        {1, "ABC123", true,
         "\x07"
         "ABC123"},
        {1, std::string(47, 'x'), true, "\x07" + std::string(47, 'x')},
        {1, std::string(48, 'x'), false, ""},
    };
    for (const Case& c : cases) {
        SetSetting("SN Function", c.snFunction);
        Bytes image = CodeImage();
        CEepromConfigInfo info;
        ASSERT_EQ(info.PatchImageSNEx(image, c.text), c.ok) << c.text;
        if (!c.ok)
            continue;
        ASSERT_TRUE(info.LoadImageConfig(image));
        EXPECT_EQ(info.m_strSerialText, c.stored);
        EXPECT_EQ(info.m_strManufacturer, "Tavenic");
    }
}

TEST_F(SerialPatchTest, MissingStringBlockIsAppendedAsTheLastBlock) {
    AreaContent entry;
    entry.strings = {{1, "Tavenic"}};
    Bytes image = CodeImage(entry);
    const CDescGlobal before = HeaderAt(image, 0xF000);
    CEepromConfigInfo info;
    const std::string text = "0123456789";
    ASSERT_TRUE(info.PatchImageSNEx(image, text));
    const CDescGlobal after = HeaderAt(image, 0xF000);
    EXPECT_EQ(after.m_byCount, before.m_byCount + 1);
    EXPECT_EQ(after.m_wTotalLength, before.m_wTotalLength + text.size() + 4);
    // The new block closes the chain: bLength, descriptor type 3, then the text.
    const std::size_t at = 0xF000 + before.m_wTotalLength;
    EXPECT_EQ(image[at], text.size() + 4);
    EXPECT_EQ(image[at + 1], 3);
    EXPECT_EQ(image[at + 2], text.size() + 2);
    EXPECT_EQ(image[at + 3], 3);
    EXPECT_EQ(std::string(image.begin() + at + 4, image.begin() + at + 4 + text.size()), text);
}

TEST_F(SerialPatchTest, UnsafeImagesAreRefusedUnchanged) {
    struct Case {
        const char* name;
        Bytes image;
    };
    AreaContent big;
    big.fillerBytes = 3990;  // rebuilt area + 128 no longer fits 4096
    Bytes shortImage = MakeImage(65533, 0xF000, MakeArea(AreaContent{}));
    Bytes noArea = MakeImage(0x10000, 0x8000, MakeArea(AreaContent{}));
    Bytes broken = MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}));
    broken[0xF005] = static_cast<std::uint8_t>(broken[0xF005] + 40);
    for (std::size_t i = 0xF000 + HeaderAt(broken, 0xF000).m_wTotalLength; i < 0x10000; ++i)
        broken[i] = 0;
    const Case cases[] = {
        {"ShorterThanReservedRange", shortImage},
        {"NoAreaAtConfigAddress", noArea},
        {"BrokenChain", broken},
        {"AreaTooLarge", MakeImage(0x10000, 0xF000, MakeArea(big))},
        {"Empty", Bytes{}},
    };
    for (const Case& c : cases) {
        Bytes image = c.image;
        CEepromConfigInfo info;
        EXPECT_FALSE(info.PatchImageSN(image, "SN")) << c.name;
        EXPECT_EQ(image, c.image) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Pre-download step

class PreActionTest : public ImageTest {
protected:
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        for (const auto& l : m_lines)
            lines.push_back(Utf16ToUtf8(l));
        return lines;
    }
    void Observe() {
        m_observer = std::make_unique<ScopedLogObserver>(
            [this](const std::u16string& line) { m_lines.push_back(line); });
    }
    // A KSC7040 OTP project with "SaveSN" set and the description's "ConfigAddress"; the area
    // content of an OTP image for it.
    AreaContent OtpSaveSnEntry(std::uint32_t configAddress) {
        UseLayout("KSC7040", configAddress, 4096);
        SetSetting("SaveSN", 1);
        g_nProjectType = kProjectOtp;
        AreaContent entry;
        entry.memoryKind = 0x60;
        entry.chipCode = 21;
        return entry;
    }

    std::vector<std::u16string> m_lines;
    std::unique_ptr<ScopedLogObserver> m_observer;
};

TEST_F(PreActionTest, WithoutSaveSnTheImageStaysAsItIs) {
    UseDescription(kIni7050);
    Bytes image = MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}));
    const Bytes original = image;
    CEepromConfigInfo info;
    info.AttachImage(&image);
    info.m_strSerialNumber = "SN-1";
    std::int32_t code = 0;
    EXPECT_TRUE(info.PreActionForAllInOne(code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(image, original);
}

TEST_F(PreActionTest, SnAddressChoosesTheStringBlock) {
    UseDescription(kIni7050);
    SetSetting("SaveSN", 1);
    for (std::int32_t snAddress : {0, 1}) {
        SetSetting("SN Address", snAddress);
        Bytes image = MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}));
        CEepromConfigInfo info;
        info.AttachImage(&image);
        info.m_strSerialNumber = "SN-2024";
        std::int32_t code = 0;
        ASSERT_TRUE(info.PreActionForAllInOne(code));
        ASSERT_TRUE(info.LoadImageConfig(image));
        EXPECT_EQ(snAddress ? info.m_strSerialText : info.m_strManufacturer, "SN-2024");
        EXPECT_EQ(image[0xEFFE], 0x55);
    }
}

TEST_F(PreActionTest, FailedPatchReportsSaveSnFail) {
    UseDescription(kIni7050);
    SetSetting("SaveSN", 1);
    Bytes image = MakeImage(0x10000, 0xF000, MakeArea(AreaContent{}));
    const Bytes original = image;
    CEepromConfigInfo info;
    info.AttachImage(&image);
    info.m_strSerialNumber = std::string(49, 'n');
    Observe();
    std::int32_t code = 0;
    EXPECT_FALSE(info.PreActionForAllInOne(code));
    EXPECT_EQ(code, 41713);
    EXPECT_EQ(image, original);
    bool logged = false;
    for (const std::string& line : LogLines())
        logged = logged || line.find("----------------: Save SN Fail") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(PreActionTest, OtpImageIsPatchedAsTheReservedSizeAndCutToTheArea) {
    AreaContent entry = OtpSaveSnEntry(0);
    Bytes image = MakeImage(1024, 0, MakeArea(entry));
    CEepromConfigInfo info;
    info.AttachImage(&image);
    info.m_strSerialNumber = "OTP-SN";
    std::int32_t code = 0;
    ASSERT_TRUE(info.PreActionForAllInOne(code));
    const CDescGlobal header = HeaderAt(image, 0);
    EXPECT_EQ(image.size(), header.m_wTotalLength);
    EXPECT_EQ(image[0], 0x60);  // an area at offset 0 keeps its memory kind
    EXPECT_TRUE(info.m_savedImage.empty());
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_EQ(info.m_strManufacturer, "OTP-SN");
}

// The configuration area of an OTP image lies at its start whatever "ConfigAddress" says, and
// holds the code: a whole 16 KiB OTP image is patched there and cut to its area.
TEST_F(PreActionTest, OtpImageIsPatchedAtItsStartWhateverTheConfigAddress) {
    AreaContent entry = OtpSaveSnEntry(0xF000);
    entry.cacheCodes = {Bytes(200, 0x3C)};
    Bytes image = MakeImage(0x4000, 0, MakeArea(entry));
    CEepromConfigInfo info;
    info.AttachImage(&image);
    info.m_strSerialNumber = "OTP-SN";
    std::int32_t code = 0;
    ASSERT_TRUE(info.PreActionForAllInOne(code)) << code;
    const CDescGlobal header = HeaderAt(image, 0);
    EXPECT_EQ(image.size(), header.m_wTotalLength);
    EXPECT_GT(image.size(), 200u);
    ASSERT_TRUE(info.LoadImageConfig(image));
    EXPECT_EQ(info.m_strManufacturer, "OTP-SN");
    // The code came through the rebuild unchanged.
    DescriptorReader reader;
    reader.Open(image);
    ASSERT_TRUE(reader.ReadHeader());
    bool found = false;
    for (auto block = reader.NextBlock(); block; block = reader.NextBlock())
        if (block->Type() == kTypeSmallCachecode)
            found = reader.Blob().size() == 200 &&
                    std::all_of(reader.Blob().begin(), reader.Blob().end(),
                                [](std::uint8_t b) { return b == 0x3C; });
    EXPECT_TRUE(found);
}

// A rebuild drops a block it cannot produce (here a code descriptor larger than the cache-code
// kind holds); for an OTP, programmed from this area alone, the code would be lost for good, so
// the patch is refused instead.
TEST_F(PreActionTest, OtpAreaTheRebuildCannotKeepWholeIsRefused) {
    AreaContent entry = OtpSaveSnEntry(0xF000);
    Bytes area = MakeArea(entry);
    const std::size_t data = 9000;
    const std::size_t at = area.size();
    const Bytes code{0xFF,
                     0xE7,
                     static_cast<std::uint8_t>(data + 8),
                     static_cast<std::uint8_t>((data + 8) >> 8),
                     static_cast<std::uint8_t>(at + 8),
                     static_cast<std::uint8_t>((at + 8) >> 8),
                     static_cast<std::uint8_t>(data),
                     static_cast<std::uint8_t>(data >> 8)};
    area.insert(area.end(), code.begin(), code.end());
    area.insert(area.end(), data, 0x3C);
    area[3] = static_cast<std::uint8_t>(area.size());
    area[4] = static_cast<std::uint8_t>(area.size() >> 8);
    ++area[5];
    Bytes image = MakeImage(0x4000, 0, area);
    const Bytes original = image;
    CEepromConfigInfo info;
    info.AttachImage(&image);
    info.m_strSerialNumber = "OTP-SN";
    std::int32_t code41713 = 0;
    EXPECT_FALSE(info.PreActionForAllInOne(code41713));
    EXPECT_EQ(code41713, 41713);
    EXPECT_EQ(image, original);
}

TEST_F(PreActionTest, OtpImageWithoutAWholeAreaIsRefused) {
    AreaContent entry = OtpSaveSnEntry(0);
    const Bytes area = MakeArea(entry);
    for (Bytes image : {Bytes(0x4000, 0xFF), Bytes(area.begin(), area.begin() + 20)}) {
        const Bytes original = image;
        CEepromConfigInfo info;
        info.AttachImage(&image);
        info.m_strSerialNumber = "OTP-SN";
        std::int32_t code = 0;
        EXPECT_FALSE(info.PreActionForAllInOne(code));
        EXPECT_EQ(code, 41713);
        EXPECT_EQ(image, original);
    }
}

}  // namespace
}  // namespace uafw::test
