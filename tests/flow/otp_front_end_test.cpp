// The OTP front end: an OTP image split into its code and configuration blocks, the 16 KiB OTP
// memory image a flash chip takes instead of an OTP, the read-back of the newest blocks into one
// image, the space questions, the silent writes and the OTP space text, each against a virtual
// chip with OTP memory whose OTP is checked after the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "flow/OtpBlockLayout.h"
#include "flow/OtpInfo.h"
#include "flow/SPIFlashInfoUSB.h"
#include "otp_fixture.h"
#include "platform/MessageBox.h"

namespace uafw::flowtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kChip = 25;
constexpr std::uint16_t kChipId = 0xD011;  // the virtual chip's default type

// A configuration descriptor: a string block of `type` with `text`.
Bytes StringBlock(std::uint8_t type, const std::string& text) {
    Bytes b(text.size() + 4);
    b[0] = static_cast<std::uint8_t>(text.size() + 4);
    b[1] = type;
    b[2] = static_cast<std::uint8_t>(text.size() + 2);
    b[3] = 3;
    std::copy(text.begin(), text.end(), b.begin() + 4);
    return b;
}
Bytes VidPidBlock() {
    return {8, 4, 0x09, 0x12, 0x50, 0x70, 0x00, 0x01};
}

// An OTP image: header (memory kind 0x60), the two fixed leading blocks (version, EEPROM info),
// a code descriptor with `codeData` data bytes when nonzero, then the configuration descriptors;
// padded with 0xFF to `padTo` bytes.
struct OtpImageRecipe {
    std::uint8_t chipCode = kChip;
    std::uint8_t bootOption = 0;
    std::size_t codeData = 0;
    std::vector<Bytes> config;
    std::size_t padTo = 0;
};

Bytes BuildOtpImage(const OtpImageRecipe& recipe) {
    Bytes image{0x60, 0xA5, static_cast<std::uint8_t>(recipe.chipCode << 3 | recipe.bootOption),
                0,    0,    0};
    const Bytes fixed{6, 47, 0x50, 0x70, 0x60, 0x10, 3, 8, 0xC2};
    image.insert(image.end(), fixed.begin(), fixed.end());
    std::uint8_t count = 2;
    if (recipe.codeData != 0) {
        const std::size_t n = recipe.codeData + 8;
        const std::size_t offset = image.size() + 8;
        image.insert(image.end(),
                     {0xFF, 0xE7, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                      static_cast<std::uint8_t>(recipe.codeData),
                      static_cast<std::uint8_t>(recipe.codeData >> 8)});
        const Bytes code = PatternBlock(recipe.codeData, 3);
        image.insert(image.end(), code.begin(), code.end());
        ++count;
    }
    for (const Bytes& block : recipe.config) {
        image.insert(image.end(), block.begin(), block.end());
        ++count;
    }
    image[3] = static_cast<std::uint8_t>(image.size());
    image[4] = static_cast<std::uint8_t>(image.size() >> 8);
    image[5] = count;
    if (image.size() < recipe.padTo)
        image.resize(recipe.padTo, 0xFF);
    return image;
}

OtpImageRecipe CodeOnly(std::size_t data = 600) {
    return {kChip, 0, data, {}, 0};
}
OtpImageRecipe ConfigOnly() {
    return {kChip, 0, 0, {VidPidBlock(), StringBlock(1, "Tavenic"), StringBlock(3, "SN01")}, 0};
}
OtpImageRecipe CodeAndConfig(std::size_t data = 600) {
    return {kChip, 0, data, {VidPidBlock(), StringBlock(1, "Tavenic")}, 0};
}

std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
Bytes Sub(const Bytes& b, std::size_t from, std::size_t length) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(from + length));
}

// The blocks as the layout defines them, written out independently of the code under test.
Bytes ExpectedCodeBlock(const Bytes& image, std::size_t n) {
    Bytes block = Sub(image, 0, n + 15);
    block[2] = static_cast<std::uint8_t>(kChip * 8 + 3);
    block[3] = static_cast<std::uint8_t>(n + 15);
    block[4] = static_cast<std::uint8_t>((n + 15) >> 8);
    block[5] = 3;
    return block;
}
Bytes ExpectedConfigBlock(const Bytes& image, std::size_t n, std::size_t configBlocks) {
    const std::size_t total = Le16(image, 3);
    Bytes block = Sub(image, 0, 15);
    const Bytes rest = Sub(image, n + 15, total - n - 15);
    block.insert(block.end(), rest.begin(), rest.end());
    block[2] = static_cast<std::uint8_t>(kChip * 8 + 1);
    block[3] = static_cast<std::uint8_t>(total - n);
    block[4] = static_cast<std::uint8_t>((total - n) >> 8);
    block[5] = static_cast<std::uint8_t>(configBlocks + 2);  // two fixed blocks and the rest
    return block;
}

// ---- block layout ----------------------------------------------------------------------------

TEST(OtpBlockLayoutTest, CodeBlockIsPrefixAndCodeWithItsOwnHeader) {
    const Bytes image = BuildOtpImage(CodeAndConfig(600));
    Bytes block;
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, image, block), kOtpBlockPrepared);
    EXPECT_EQ(block, ExpectedCodeBlock(image, 608));
}

TEST(OtpBlockLayoutTest, ConfigurationBlockIsPrefixAndTheDescriptorsBehindTheCode) {
    const Bytes image = BuildOtpImage(CodeAndConfig(600));
    Bytes block;
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, image, block), kOtpBlockPrepared);
    EXPECT_EQ(block, ExpectedConfigBlock(image, 608, 2));
}

TEST(OtpBlockLayoutTest, ConfigurationOnlyImageIsItsWholeAreaUnchanged) {
    const Bytes image = BuildOtpImage({kChip, 0, 0, ConfigOnly().config, 0x4000});
    Bytes block;
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, image, block), kOtpBlockPrepared);
    EXPECT_EQ(block, Sub(image, 0, Le16(image, 3)));
    EXPECT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, image, block), kOtpBlockAbsent);
    EXPECT_TRUE(block.empty());
}

TEST(OtpBlockLayoutTest, CodeOnlyImageHasNoConfigurationBlock) {
    const Bytes image = BuildOtpImage(CodeOnly());
    Bytes block;
    EXPECT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, image, block), kOtpBlockAbsent);
    EXPECT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, image, block), kOtpBlockPrepared);
}

// Every length taken from the image is checked against the bytes held.
TEST(OtpBlockLayoutTest, ImagesWhoseLengthsDoNotFitAreUnreadable) {
    struct Case {
        const char* name;
        Bytes image;
    };
    const Bytes good = BuildOtpImage(CodeAndConfig(600));
    Bytes noSignature = good;
    noSignature[1] = 0x5A;
    Bytes cutInCode = Sub(good, 0, 15 + 300);  // the code descriptor runs past the bytes held
    Bytes totalPastEnd = good;                 // the area claims more bytes than are held
    totalPastEnd[3] = 0xFF;
    totalPastEnd[4] = 0x7F;
    Bytes totalInsideCode = good;  // a total length that ends inside the code
    totalInsideCode[3] = 100;
    totalInsideCode[4] = 0;
    Bytes countTooHigh = good;  // more descriptors than the bytes hold
    countTooHigh[5] = 40;
    // A configuration descriptor in front of the code: the code block cannot be cut out.
    Bytes codeBehindConfig = BuildOtpImage(ConfigOnly());
    {
        const Bytes code = BuildOtpImage(CodeOnly(600));
        codeBehindConfig.insert(codeBehindConfig.end(), code.begin() + 15, code.end());
        const std::size_t total = codeBehindConfig.size();
        codeBehindConfig[3] = static_cast<std::uint8_t>(total);
        codeBehindConfig[4] = static_cast<std::uint8_t>(total >> 8);
        ++codeBehindConfig[5];
    }
    const std::vector<Case> cases{{"code behind configuration", codeBehindConfig},
                                  {"no signature", noSignature},
                                  {"code cut", cutInCode},
                                  {"total past end", totalPastEnd},
                                  {"total inside code", totalInsideCode},
                                  {"count too high", countTooHigh},
                                  {"too short", Bytes{0x60, 0xA5, 0xC8}}};
    for (const Case& c : cases) {
        Bytes block{1, 2, 3};
        EXPECT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, c.image, block), kOtpBlockUnreadable)
            << c.name;
        EXPECT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, c.image, block), kOtpBlockUnreadable)
            << c.name;
        EXPECT_TRUE(block.empty()) << c.name;
    }
}

// ---- OTP-format flash image --------------------------------------------------------------------

class OtpFlashImageTest : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(OtpFlashImageTest, CodeAndConfigurationBlocksWithTheirVdEntries) {
    const std::uint8_t boot = GetParam();
    OtpImageRecipe recipe = CodeAndConfig(700);
    recipe.bootOption = boot;
    recipe.padTo = 0x4000;
    const Bytes source = BuildOtpImage(recipe);
    Bytes image = source;
    ASSERT_TRUE(COtpBlockLayout::MakeFlashImage(image));
    ASSERT_EQ(image.size(), 0x4000u);

    const std::size_t f = 708 + 15;
    Bytes code = ExpectedCodeBlock(source, 708);
    Bytes config = ExpectedConfigBlock(source, 708, 2);
    // Only boot option 2 changes the chip bytes of the blocks.
    code[2] = boot == 2 ? static_cast<std::uint8_t>(kChip * 8 + 3) : source[2];
    config[2] = boot == 2 ? static_cast<std::uint8_t>(kChip * 8 + 1) : source[2];
    EXPECT_EQ(Sub(image, 0, f), code);
    EXPECT_EQ(Sub(image, f, config.size()), config);
    const std::size_t end = f + config.size();
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<std::ptrdiff_t>(end), image.begin() + 16224,
                            [](std::uint8_t b) { return b == 0xFF; }));
    const OtpImage otp(image);
    EXPECT_EQ(otp.VdAt(15), (VdEntry{0, static_cast<std::uint16_t>(f), 0x55}));
    EXPECT_EQ(otp.VdAt(14), (VdEntry{static_cast<std::uint16_t>(f),
                                     static_cast<std::uint16_t>(config.size()), 0xAA}));
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(otp.VdAt(i), VdEntry{}) << i;
    const Bytes tables = Sub(image, 16224, OtpVdEntryAddress(14) - 16224);
    EXPECT_TRUE(std::all_of(tables.begin(), tables.end(), [](std::uint8_t b) { return !b; }));
    const Bytes ecc = Sub(image, 0x3FC0, 64);
    EXPECT_TRUE(std::all_of(ecc.begin(), ecc.end(), [](std::uint8_t b) { return !b; }));
}

INSTANTIATE_TEST_SUITE_P(BootOptions, OtpFlashImageTest, ::testing::Values(0, 2));

TEST(OtpFlashImageConversionTest, WithoutCodeTheConfigurationBlockIsAtZeroInEntry15) {
    const Bytes source = BuildOtpImage({kChip, 0, 0, ConfigOnly().config, 0x4000});
    Bytes image = source;
    ASSERT_TRUE(COtpBlockLayout::MakeFlashImage(image));
    const std::size_t m = Le16(source, 3);
    EXPECT_EQ(Sub(image, 0, m), Sub(source, 0, m));
    const OtpImage otp(image);
    EXPECT_EQ(otp.VdAt(15), (VdEntry{0, static_cast<std::uint16_t>(m), 0xAA}));
    EXPECT_EQ(otp.VdAt(14), VdEntry{});
    EXPECT_EQ(image[m], 0xFF);
}

TEST(OtpFlashImageConversionTest, ImagesThatCannotBecomeAnOtpImageAreLeftAlone) {
    struct Case {
        const char* name;
        Bytes image;
    };
    Bytes noSignature = BuildOtpImage({kChip, 0, 600, {}, 0x4000});
    noSignature[1] = 0;
    // 9023 code bytes and 8000 configuration bytes would reach into the VD table.
    const std::vector<Bytes> tail(40, [] {
        Bytes block(200, 0x44);
        block[0] = 200;
        block[1] = 0x33;
        return block;
    }());
    const std::vector<Case> cases{
        {"no signature", noSignature},
        {"shorter than the OTP", BuildOtpImage(CodeAndConfig(600))},
        {"blocks past the block area", BuildOtpImage({kChip, 0, 9000, tail, 0x4000})},
    };
    for (const Case& c : cases) {
        Bytes image = c.image;
        EXPECT_FALSE(COtpBlockLayout::MakeFlashImage(image)) << c.name;
        EXPECT_EQ(image, c.image) << c.name;
    }
}

// ---- combine rule ------------------------------------------------------------------------------

TEST(OtpBlockLayoutTest, CombinedImageIsCodeThenConfigurationBehindItsPrefix) {
    const Bytes image = BuildOtpImage(CodeAndConfig(500));
    Bytes code, config;
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, image, code), kOtpBlockPrepared);
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, image, config), kOtpBlockPrepared);

    const Bytes joined = COtpBlockLayout::CombineBlocks(code, config);

    Bytes expected = code;
    expected.insert(expected.end(), config.begin() + 15, config.end());
    const std::size_t total = code.size() + config.size() - 15;
    ASSERT_EQ(expected.size(), total);
    expected[3] = static_cast<std::uint8_t>(total);
    expected[4] = static_cast<std::uint8_t>(total >> 8);
    expected[5] = static_cast<std::uint8_t>(config[5] - 2 + 3);  // count behind the fixed blocks
    expected[2] = static_cast<std::uint8_t>(kChip * 8 + 2);
    EXPECT_EQ(joined, expected);
    // The joined area holds the original image's descriptors again.
    EXPECT_EQ(Sub(joined, 6, total - 6), Sub(image, 6, total - 6));
    EXPECT_EQ(joined[5], image[5]);
}

TEST(OtpBlockLayoutTest, CombineNeverReadsPastAShortConfigurationBlock) {
    const Bytes code = PatternBlock(40);
    EXPECT_EQ(COtpBlockLayout::CombineBlocks(code, Bytes(10, 0x11)), code);
    EXPECT_EQ(COtpBlockLayout::CombineBlocks(code, {}), code);
    const Bytes config = BuildOtpImage(ConfigOnly());
    EXPECT_EQ(COtpBlockLayout::CombineBlocks({}, config), config);
    EXPECT_TRUE(COtpBlockLayout::CombineBlocks({}, {}).empty());
}

// ---- the front end on the virtual chip ---------------------------------------------------------

// Answers the questions from a script (No once the script is used up) and records every box.
class ScriptedBoxes final : public IMessageBox {
public:
    MsgBoxResult Show(const std::string& text, const std::string&, MsgBoxButtons buttons,
                      MsgBoxResult defaultResult) override {
        shown.push_back(text);
        if (buttons != MsgBoxButtons::YesNo)
            return defaultResult;
        defaults.push_back(defaultResult);
        if (answers.empty())
            return MsgBoxResult::No;
        const MsgBoxResult a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<MsgBoxResult> answers;
    std::vector<std::string> shown;
    std::vector<MsgBoxResult> defaults;
};

class OtpFrontEndTest : public OtpFlowFixture {
protected:
    void SetUp() override {
        OtpFlowFixture::SetUp();
        SetMessageBoxPort(&m_boxes);
        m_savedCmdLine = g_bCmdLineMode;
        g_bCmdLineMode = 0;
    }
    void TearDown() override {
        SetMessageBoxPort(nullptr);
        g_bCmdLineMode = m_savedCmdLine;
        OtpFlowFixture::TearDown();
    }
    COTPInfo_USB* Open(const OtpImage& otp = OtpImage(), const std::string& faults = "") {
        COTPInfo_USB* flow = StartOtp<COTPInfo_USB>(faults, otp, "reenum_ms = 20\n");
        EXPECT_NE(flow, nullptr);
        if (flow == nullptr)
            return nullptr;
        UseChipCode(kChipId, kChip);
        flow->MP_RefreshDeviceInfo();
        m_window.Clear();
        g_ErrCode = 0;
        m_generation = Chip().Generation();
        return flow;
    }
    // Restarts and ROM resets since Open.
    std::uint32_t Appearances() { return Chip().Generation() - m_generation; }

    ScriptedBoxes m_boxes;
    std::uint32_t m_generation = 0;

private:
    std::int32_t m_savedCmdLine = 0;
};

// An OTP holding `used` bytes in one code block recorded in entry `entry`, entries below it
// recorded as retired blocks of length 0, so that `16 - entry - 1` entries stay free.
OtpImage UsedOtp(std::uint16_t used, int entry = 0) {
    OtpImage otp;
    for (int i = 0; i < entry; ++i)
        otp.Vd(i, 0, 0, kVdRetired);
    otp.Vd(entry, 0, used, kVdCode);
    otp.Bytes(0, PatternBlock(std::min<std::size_t>(used, 64)));
    return otp;
}

// Programming: which blocks an image puts into the OTP, code first.
struct DownloadCase {
    const char* name;
    OtpImageRecipe recipe;
    bool code;
    bool config;
};

void PrintTo(const DownloadCase& c, std::ostream* os) {
    *os << c.name;
}

class OtpDownloadTest : public OtpFrontEndTest,
                        public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(OtpDownloadTest, ProgramsOnlyTheBlocksTheImageHas) {
    const DownloadCase& c = GetParam();
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    const Bytes image = BuildOtpImage(c.recipe);
    flow->m_ImageRecord.m_image = image;

    EXPECT_EQ(flow->OpDownload(), 1) << c.name;

    const OtpImage otp = ChipOtp();
    const std::size_t n = c.recipe.codeData + 8;
    std::uint16_t next = 0;
    int entry = 0;
    if (c.code) {
        const Bytes block = ExpectedCodeBlock(image, n);
        EXPECT_EQ(otp.VdAt(entry), (VdEntry{0, static_cast<std::uint16_t>(block.size()), 0x55}));
        EXPECT_EQ(otp.Corrected(0, static_cast<std::uint32_t>(block.size())), block);
        next = static_cast<std::uint16_t>(block.size());
        ++entry;
    }
    if (c.config) {
        const Bytes block = c.code ? ExpectedConfigBlock(image, n, c.recipe.config.size())
                                   : Sub(image, 0, Le16(image, 3));
        EXPECT_EQ(otp.VdAt(entry), (VdEntry{next, static_cast<std::uint16_t>(block.size()), 0xAA}));
        EXPECT_EQ(otp.Corrected(next, static_cast<std::uint32_t>(block.size())), block);
        next = static_cast<std::uint16_t>(next + block.size());
        ++entry;
    }
    for (int i = entry; i < kOtpEntryCount; ++i)
        EXPECT_EQ(otp.VdAt(i), VdEntry{}) << i;
    const Bytes behind = otp.Slice(next, kOtpBlockCapacity - next);
    EXPECT_TRUE(std::all_of(behind.begin(), behind.end(), [](std::uint8_t b) { return !b; }));
    // Each block is announced with "Download" by the front end and again by the engine's write;
    // the chip is restarted into its new code.
    const auto status = m_window.Words(kMsgStatus);
    EXPECT_EQ(std::count(status.begin(), status.end(), kStatusDownload), 2 * entry);
    EXPECT_EQ(status.back(), static_cast<std::uintptr_t>(kStatusResetNewCode));
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41931}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_TRUE(flow->m_otpBlock.empty());
    EXPECT_TRUE(flow->m_otpBlockReference.empty());
    EXPECT_EQ(flow->m_byOtpBlockKind, kOtpBlockConfig);
    EXPECT_TRUE(m_boxes.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Images, OtpDownloadTest,
    ::testing::Values(DownloadCase{"code only", CodeOnly(), true, false},
                      DownloadCase{"configuration only", ConfigOnly(), false, true},
                      DownloadCase{"code and configuration", CodeAndConfig(), true, true}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(OtpFrontEndTest, UpdateProgramsTheSecondaryImage) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    const Bytes image = BuildOtpImage(CodeOnly(300));
    flow->m_ImageRecord.m_image = BuildOtpImage(ConfigOnly());
    flow->m_ImageRecord.m_secondary = image;

    EXPECT_EQ(flow->OpUpdate(), 1);

    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 323, kVdCode}));
    EXPECT_EQ(otp.Corrected(0, 323), ExpectedCodeBlock(image, 308));
    EXPECT_EQ(otp.VdAt(1), VdEntry{});
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kUpdateOtpSucceedCode}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_TRUE(flow->m_otpBlock.empty());
}

// With "SaveSN" the serial number goes into the image's area before the blocks are cut; the
// code comes through unchanged.
TEST_F(OtpFrontEndTest, DownloadWithSaveSnProgramsThePatchedArea) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    SetSetting("SaveSN", 1);
    const Bytes image = BuildOtpImage(CodeAndConfig(400));
    flow->m_ImageRecord.m_image = image;
    flow->m_strSerialNumber = "SN-4242";

    EXPECT_EQ(flow->OpDownload(), 1);

    const OtpImage otp = ChipOtp();
    const VdEntry code = otp.VdAt(0);
    const VdEntry config = otp.VdAt(1);
    EXPECT_EQ(code, (VdEntry{0, 423, kVdCode}));
    EXPECT_EQ(otp.Corrected(15, 408), Sub(image, 15, 408));
    ASSERT_EQ(config.flag, kVdConfig);
    const Bytes block = otp.Corrected(config.start, config.length);
    const std::string text(block.begin(), block.end());
    EXPECT_NE(text.find("SN-4242"), std::string::npos);
    EXPECT_EQ(text.find("Tavenic"), std::string::npos);
}

TEST_F(OtpFrontEndTest, DownloadWithSaveSnOfAnUnpatchableImageFailsWithSaveSnFail) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    SetSetting("SaveSN", 1);
    Bytes image = BuildOtpImage(CodeAndConfig(400));
    image[4] = 0x70;  // the area claims more bytes than the image holds
    flow->m_ImageRecord.m_image = image;

    EXPECT_EQ(flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41713}));
    EXPECT_EQ(flow->m_ImageRecord.m_image, image);
    EXPECT_EQ(ChipOtp().All(), OtpImage().All());
}

TEST_F(OtpFrontEndTest, UnreadableImageIsRefusedBeforeAnythingIsWritten) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    Bytes image = BuildOtpImage(CodeAndConfig());
    image[5] = 60;  // more descriptors than the image holds
    flow->m_ImageRecord.m_image = image;

    EXPECT_EQ(flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kGetVdCodeFailCode}));
    EXPECT_EQ(ChipOtp().All(), OtpImage().All());
    EXPECT_TRUE(flow->m_otpBlock.empty());
}

// The space questions: asked only when their condition holds, in order; anything but Yes
// restarts the chip and writes nothing.
struct SpaceCase {
    const char* name;
    std::uint16_t used;
    int usedEntries;
    std::vector<MsgBoxResult> answers;
    std::vector<std::string> asked;
    bool programs;
};

void PrintTo(const SpaceCase& c, std::ostream* os) {
    *os << c.name;
}

class OtpSpaceQuestionTest : public OtpFrontEndTest,
                             public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(OtpSpaceQuestionTest, AsksInOrderAndStopsOnNo) {
    const SpaceCase& c = GetParam();
    const OtpImage before = UsedOtp(c.used, c.usedEntries - 1);
    COTPInfo_USB* flow = Open(before);
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image = BuildOtpImage(CodeOnly(200));
    m_boxes.answers.assign(c.answers.begin(), c.answers.end());

    const int result = flow->OpDownload();

    EXPECT_EQ(m_boxes.shown, c.asked) << c.name;
    for (MsgBoxResult d : m_boxes.defaults)
        EXPECT_EQ(d, MsgBoxResult::No);
    if (c.programs) {
        EXPECT_EQ(result, 1) << c.name;
        EXPECT_EQ(ChipOtp().VdAt(c.usedEntries).flag, kVdCode) << c.name;
        return;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpWriteFailCode}));
    EXPECT_EQ(g_ErrCode, kOtpWriteFailCode);
    EXPECT_EQ(ChipOtp().All(), before.All()) << c.name;
    // Into the ROM loader for the download, then restarted although nothing was written.
    EXPECT_EQ(Appearances(), 2u) << c.name;
}

const std::string kSize = kLowSpaceText;
const std::string kEntries = kFewVdBlocksText;
constexpr auto kYes = MsgBoxResult::Yes;
constexpr auto kNo = MsgBoxResult::No;

INSTANTIATE_TEST_SUITE_P(
    Questions, OtpSpaceQuestionTest,
    ::testing::Values(
        SpaceCase{"free_5120_no", 16224 - 5120, 1, {kNo}, {kSize}, false},
        SpaceCase{"free_5121_not_asked", 16224 - 5121, 1, {}, {}, true},
        SpaceCase{"free_5120_yes", 16224 - 5120, 1, {kYes}, {kSize}, true},
        SpaceCase{"entries_4_no", 1000, 12, {kNo}, {kEntries}, false},
        SpaceCase{"entries_5_not_asked", 1000, 11, {}, {}, true},
        SpaceCase{"both_yes_then_no", 16224 - 4000, 12, {kYes, kNo}, {kSize, kEntries}, false},
        SpaceCase{"both_no_asks_once", 16224 - 4000, 12, {kNo}, {kSize}, false},
        SpaceCase{"both_yes", 16224 - 4000, 12, {kYes, kYes}, {kSize, kEntries}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpFrontEndTest, NoFreeVdEntryShowsTheBoxAndWritesNothing) {
    OtpImage before;
    for (int i = 0; i < kOtpEntryCount; ++i)
        before.Vd(i, static_cast<std::uint16_t>(i * 10), 10, i == 15 ? kVdCode : kVdRetired);
    COTPInfo_USB* flow = Open(before);
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image = BuildOtpImage(CodeOnly(200));
    m_boxes.answers = {kYes, kYes};

    EXPECT_EQ(flow->OpDownload(), 0);

    EXPECT_EQ(m_boxes.shown, (std::vector<std::string>{kNoVdBlockText}));
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpWriteFailCode}));
    EXPECT_EQ(ChipOtp().All(), before.All());
    EXPECT_EQ(Appearances(), 2u);
}

// A newest block recorded past the block area leaves no free space, not a wrapped count.
TEST_F(OtpFrontEndTest, UsedEndPastTheBlockAreaMeansNoFreeSpace) {
    OtpImage before;
    before.Vd(0, 0x3F00, 0x0200, kVdCode);
    COTPInfo_USB* flow = Open(before);
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image = BuildOtpImage(CodeOnly(200));

    EXPECT_EQ(flow->OtpSpaceText(),
              "Used OTP Space: 16.25 KB Free OTP Space: 0.00 KB Remaining Programmable Times: 0.");
    EXPECT_EQ(flow->OpDownload(), 0);
    EXPECT_EQ(m_boxes.shown, (std::vector<std::string>{kSize}));
    EXPECT_EQ(ChipOtp().All(), before.All());
}

// ---- read back -------------------------------------------------------------------------------

TEST_F(OtpFrontEndTest, ReadJoinsTheNewestCodeAndConfigurationBlocks) {
    const Bytes image = BuildOtpImage(CodeAndConfig(400));
    Bytes code, config;
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockCode, image, code), kOtpBlockPrepared);
    ASSERT_EQ(COtpBlockLayout::MakeBlock(kOtpBlockConfig, image, config), kOtpBlockPrepared);
    // An older code block (retired), then the newest code and configuration blocks; one byte of
    // the code did not program and is replaced by an ECC entry.
    const std::uint16_t old = 100;
    const auto c = static_cast<std::uint16_t>(code.size());
    const auto g = static_cast<std::uint16_t>(config.size());
    OtpImage otp;
    otp.Bytes(0, PatternBlock(old, 9)).Vd(0, 0, old, kVdRetired);
    otp.Bytes(old, code).Vd(1, old, c, kVdCode);
    otp.Bytes(old + c, config).Vd(2, old + c, g, kVdConfig);
    const std::uint16_t bad = old + 200;
    otp.Bytes(bad, {0x00}).Ecc(0, bad, code[200], kEccInUse);
    COTPInfo_USB* flow = Open(otp);
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 1);

    Bytes expected = code;
    expected.insert(expected.end(), config.begin() + 15, config.end());
    expected[3] = static_cast<std::uint8_t>(expected.size());
    expected[4] = static_cast<std::uint8_t>(expected.size() >> 8);
    expected[5] = image[5];
    expected[2] = static_cast<std::uint8_t>(kChip * 8 + 2);
    EXPECT_EQ(flow->m_ImageRecord.m_dump, expected);
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kReadOtpSucceedCode}));
    EXPECT_EQ(m_window.Words(kMsgProgress).back(), 100u);
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(ChipOtp().All(), otp.All());  // reading writes nothing
}

TEST_F(OtpFrontEndTest, ReadOfAnEmptyOtpReportsItAndStillRestarts) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 1);

    EXPECT_TRUE(flow->m_ImageRecord.m_dump.empty());
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpCodeNotExistCode}));
    EXPECT_EQ(m_window.Words(kMsgStatus).back(), static_cast<std::uintptr_t>(kStatusResetNewCode));
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kReadOtpSucceedCode}));
    EXPECT_GE(Appearances(), 1u);
    EXPECT_EQ(g_ErrCode, kOtpCodeNotExistCode);
}

TEST_F(OtpFrontEndTest, ReadOfAnEmptyOtpEndsWithTheRestartsResult) {
    COTPInfo_USB* flow = Open(OtpImage(), "never_return = 1\n");
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 0);

    EXPECT_EQ(Failures(),
              (std::vector<std::uintptr_t>{kOtpCodeNotExistCode, kResetDeviceFailCode}));
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
    EXPECT_EQ(g_ErrCode, kResetDeviceFailCode);
}

TEST_F(OtpFrontEndTest, ReadOfABlockRecordedOutsideTheBlockAreaFails) {
    OtpImage otp;
    otp.Vd(0, 0x3F00, 0x0100, kVdCode);
    COTPInfo_USB* flow = Open(otp);
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 0);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpReadFailCode}));
}

// A repaired byte whose ECC entry cannot be read would be dumped as the raw failed byte: the
// read fails instead of reporting that image as the OTP's.
TEST_F(OtpFrontEndTest, ReadFailsWhenAnEccEntryOfTheBlockCannotBeRead) {
    const OtpBytes block = PatternBlock(0x40);
    OtpImage otp;
    otp.Bytes(0, block).Bytes(5, {0x00}).Vd(0, 0, 0x40, kVdCode).Ecc(0, 5, block[5], kEccInUse);
    // 33 OTP reads pass first: the space text at the take-up, the code block's VD queries and
    // its bytes; the next one is ECC entry 0.
    COTPInfo_USB* flow = Open(otp, "fail_opcode = 0xD7\nfail_times = 1\nfail_skip = 33\n");
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpReadFailCode}));
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
    EXPECT_EQ(g_ErrCode, kOtpReadFailCode);
    EXPECT_EQ(ChipOtp().All(), otp.All());
}

// A VD entry that cannot be read would drop its block from the image: the read fails instead of
// reporting the configuration block alone as the OTP's image.
TEST_F(OtpFrontEndTest, ReadFailsWhenAVdEntryCannotBeRead) {
    OtpImage otp;
    otp.Bytes(0, PatternBlock(0x60)).Vd(0, 0, 0x40, kVdCode).Vd(1, 0x40, 0x20, kVdConfig);
    // The newest code block is looked for from entry 15 down: the 16th OTP read is entry 0.
    COTPInfo_USB* flow = Open(otp, "fail_opcode = 0xD7\nfail_times = 1\nfail_skip = 15\n");
    ASSERT_NE(flow, nullptr);

    EXPECT_EQ(flow->OpRead(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kOtpReadFailCode}));
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
    EXPECT_EQ(g_ErrCode, kOtpReadFailCode);
}

TEST_F(OtpFrontEndTest, ReadToBinFileSavesTheJoinedImage) {
    const Bytes image = BuildOtpImage(ConfigOnly());
    OtpImage otp;
    otp.Bytes(0, image).Vd(0, 0, static_cast<std::uint16_t>(image.size()), kVdConfig);
    COTPInfo_USB* flow = Open(otp);
    ASSERT_NE(flow, nullptr);
    const std::string path = m_dirs.front() + "/dump/otp.bin";

    EXPECT_EQ(flow->OpReadToBinFile(path), 1);

    std::ifstream in(path, std::ios::binary);
    const Bytes saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(saved, image);
}

// ---- silent writes -----------------------------------------------------------------------------

struct SilentCase {
    const char* name;
    int content;  // 0 missing file, 1 no area, 2 image of chip code `imageChip`
    std::uint8_t imageChip;
    std::uint8_t catalogueChip;
    std::int32_t failure;  // 0: the download runs
};

void PrintTo(const SilentCase& c, std::ostream* os) {
    *os << c.name;
}

class OtpSilentWriteTest : public OtpFrontEndTest,
                           public ::testing::WithParamInterface<SilentCase> {};

TEST_P(OtpSilentWriteTest, LoadsParsesAndChecksTheChipExactly) {
    const SilentCase& c = GetParam();
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    UseChipCode(kChipId, c.catalogueChip);
    OtpImageRecipe recipe = CodeOnly(300);
    recipe.chipCode = c.imageChip;
    std::string path = m_dirs.front() + "/missing.bin";
    if (c.content == 1)
        path = WriteFile("noarea.bin", Bytes(0x800, 0x11));
    if (c.content == 2)
        path = WriteFile("otp.bin.img", BuildOtpImage(recipe));

    const int result = flow->OpSilentWrite(path);

    if (c.failure != 0) {
        EXPECT_EQ(result, 0) << c.name;
        EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{static_cast<std::uintptr_t>(c.failure)}))
            << c.name;
        EXPECT_EQ(ChipOtp().All(), OtpImage().All()) << c.name;
        return;
    }
    EXPECT_EQ(result, 1) << c.name;
    EXPECT_EQ(ChipOtp().VdAt(0).flag, kVdCode);
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41931}));
}

INSTANTIATE_TEST_SUITE_P(Files, OtpSilentWriteTest,
                         ::testing::Values(SilentCase{"missing_file", 0, 25, 25, 41530},
                                           SilentCase{"no_area", 1, 25, 25, 41531},
                                           SilentCase{"other_chip", 2, 24, 25, 41715},
                                           SilentCase{"chip_8_for_9", 2, 8, 9, 41715},
                                           SilentCase{"chip_9_for_8", 2, 9, 8, 41715},
                                           SilentCase{"same_chip", 2, 25, 25, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpFrontEndTest, SerialNumberSlotWritesTheFileLikeTheWriteSlot) {
    COTPInfo_USB* flow = Open();
    ASSERT_NE(flow, nullptr);
    const Bytes image = BuildOtpImage(CodeOnly(300));
    const std::string path = WriteFile("fw.img", image);

    EXPECT_EQ(flow->OpSilentWriteSN(path, "SN-NOT-USED"), 1);

    EXPECT_EQ(ChipOtp().Corrected(0, 323), ExpectedCodeBlock(image, 308));
}

// ---- OTP space text ----------------------------------------------------------------------------

TEST_F(OtpFrontEndTest, SpaceTextWithoutAnImage) {
    COTPInfo_USB* flow = Open(UsedOtp(3000, 2));
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image.clear();

    EXPECT_EQ(flow->OtpSpaceText(), "Used OTP Space: 2.93 KB, Remain OTP Space: 12.91 KB.");
    EXPECT_EQ(flow->m_iOtpUsedSize, 3000);
}

// 13224 free bytes hold 4 images of 3000 bytes; 13 entries are free.
TEST_F(OtpFrontEndTest, SpaceTextCountsTimesByFreeBytes) {
    COTPInfo_USB* flow = Open(UsedOtp(3000, 2));
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image.assign(3000, 0x5A);
    EXPECT_EQ(flow->OtpSpaceText(),
              "Used OTP Space: 2.93 KB Free OTP Space: 12.91 KB Remaining Programmable Times: 4.");
}

// 13224 free bytes would hold 132 images of 100 bytes, but only 13 entries are free.
TEST_F(OtpFrontEndTest, SpaceTextCountsTimesByFreeEntries) {
    COTPInfo_USB* flow = Open(UsedOtp(3000, 2));
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image.assign(100, 0x5A);
    EXPECT_EQ(flow->OtpSpaceText(),
              "Used OTP Space: 2.93 KB Free OTP Space: 12.91 KB Remaining Programmable Times: 13.");
}

// Taking up an OTP chip puts its space text into the device information.
TEST_F(OtpFrontEndTest, TakingUpTheDeviceRecordsTheSpaceText) {
    COTPInfo_USB* flow = Open(UsedOtp(3000, 2));
    ASSERT_NE(flow, nullptr);
    flow->m_ImageRecord.m_image.clear();
    // The device flow replaces the catalogue object while it identifies the chip.
    g_pICTypeIni = new CICTypeIni();
    g_pICTypeIni->ListIniNames();

    EXPECT_EQ(flow->DEV_TakeUpDevice(), 1);

    delete g_pICTypeIni;
    g_pICTypeIni = &m_catalogue;
    EXPECT_EQ(flow->m_strOtpSpace, "Used OTP Space: 2.93 KB, Remain OTP Space: 12.91 KB.");
    EXPECT_EQ(flow->m_iOtpUsedSize, 3000);
}

// ---- the flash chip's OTP-format path ----------------------------------------------------------

TEST_F(OtpFrontEndTest, FlashUpdateWritesTheOtpFormatImageIntoSpiFlash) {
    // A flash chip of the mode-register family takes a 16 KiB OTP image as its OTP memory image.
    ASSERT_NO_FATAL_FAILURE(Start({"[chip]\ntype = KSC7050\nreenum_ms = 20\n"}));
    ASSERT_NO_FATAL_FAILURE(UseChipCode(kChipId, kChip));
    g_nProjectType = kProjectFlash;
    CSPIFlashInfo_USB flow;
    ASSERT_EQ(flow.MP_OpenDevice(0), 1);
    flow.MP_RefreshDeviceInfo();
    ASSERT_EQ(flow.MP_OpenRomDevice(), 1);
    OtpImageRecipe recipe = CodeAndConfig(900);
    recipe.padTo = 0x4000;
    const Bytes source = BuildOtpImage(recipe);
    Bytes expected = source;
    ASSERT_TRUE(COtpBlockLayout::MakeFlashImage(expected));
    Bytes image = source;
    m_window.Clear();

    EXPECT_EQ(flow.FFU_FlashUpdate(image), 1);

    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Sub(flash, 0, 0x4000), expected);
    EXPECT_EQ(image, expected);
    EXPECT_TRUE(
        std::all_of(flash.begin() + 0x4000, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(m_window.Words(kMsgFailure).empty());
}

}  // namespace
}  // namespace uafw::flowtest
