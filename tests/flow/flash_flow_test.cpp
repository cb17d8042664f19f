// The SPI flash flows against the virtual chip: the download with its notifications, the tag rule
// of each family, the dual-image chips, the signature check, the restart and its question,
// write protection after failures, the silent verify and the dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/BuiltInImages.h"
#include "config/image_test_support.h"
#include "flow/DumpFile.h"
#include "flow/RebootExemptions.h"
#include "flow/SPIFlashInfoUSB.h"
#include "flow_fixture.h"
#include "platform/MessageBox.h"

namespace uafw::flowtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kTag = 0xEFFE;

Bytes BuiltIn(std::int32_t id) {
    const BuiltInImageEntry* entry = FindBuiltInImage(id);
    EXPECT_NE(entry, nullptr) << id;
    return entry ? BuildBuiltInImage(*entry) : Bytes{};
}

// The image as the serial-number patch leaves it: tag 0x55 0xAA.
Bytes Tagged(Bytes image) {
    image[kTag] = 0x55;
    image[kTag + 1] = 0xAA;
    return image;
}

// A flash of the chip's size holding `image` at `offset`.
Bytes FlashWith(const Bytes& image, std::uint32_t offset = 0, std::uint32_t size = 0x100000) {
    Bytes flash(size, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin() + offset);
    return flash;
}

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// The eight version bytes of a code image as the chip reports them in its status block (bytes
// 76-83) while it runs that image.
std::array<std::uint8_t, 8> StatusVersionOf(const Bytes& image) {
    const auto v = Slice(image, kVersionBytesAddress, 8);
    return {v[3], v[2], v[1], v[0], v[7], v[6], v[5], v[4]};
}

// Answers questions as told and records every box.
class ScriptedMessageBox final : public IMessageBox {
public:
    MsgBoxResult Show(const std::string& text, const std::string& caption, MsgBoxButtons,
                      MsgBoxResult defaultResult) override {
        boxes.push_back(caption + ": " + text);
        return text == "Reboot the device to launch new FW?" ? answer : defaultResult;
    }
    MsgBoxResult answer = MsgBoxResult::Yes;
    std::vector<std::string> boxes;
};

class FlashFlowTest : public FlowSimFixture {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        SetMessageBoxPort(&m_boxes);
        m_savedReadLength = g_dwReadLength;
        m_savedCmdLine = g_bCmdLineMode;
        g_bCmdLineMode = 0;
    }
    void TearDown() override {
        SetMessageBoxPort(nullptr);
        g_dwReadLength = m_savedReadLength;
        g_bCmdLineMode = m_savedCmdLine;
        m_flow.reset();
        FlowSimFixture::TearDown();
    }

    // The chip, its description and an open flow holding `image` as its prepared firmware image.
    void Open(const std::string& chipIni, std::uint16_t chipId, int chipCode, const Bytes& flash,
              const Bytes& image) {
        ASSERT_NO_FATAL_FAILURE(Start({chipIni}, flash));
        ASSERT_NO_FATAL_FAILURE(UseChipCode(chipId, chipCode));
        m_flow = std::make_unique<CSPIFlashInfo_USB>();
        ASSERT_NO_FATAL_FAILURE(OpenWithImage(*m_flow, image));
        m_generation = Chip().Generation();
    }

    std::vector<std::uint8_t> RunningVersion() {
        std::array<std::uint8_t, 104> status{};
        EXPECT_EQ(DA_GetStatus(DA_GetDeviceNode(), status.data(), 0), 1);
        return Slice(Bytes(status.begin(), status.end()), 76, 8);
    }
    Bytes Version(const Bytes& image) {
        const auto v = StatusVersionOf(image);
        return Bytes(v.begin(), v.end());
    }
    // Restarts and ROM resets the chip went through since Open.
    std::uint32_t Appearances() { return Chip().Generation() - m_generation; }

    // Write protection as the pins and the flash status register show it: status 0x8C, pin
    // output enabled and driven low.
    void ExpectWriteProtected(std::uint32_t enable, std::uint32_t level, std::uint8_t bit) {
        EXPECT_EQ(Chip().FlashStatus(), 0x8C);
        EXPECT_EQ(ChipByte(enable) & bit, bit);
        EXPECT_EQ(ChipByte(level) & bit, 0);
    }

    // The failure notifications posted.
    std::vector<std::uintptr_t> Failures() { return m_window.Words(kMsgFailure); }

    ScriptedMessageBox m_boxes;
    std::unique_ptr<CSPIFlashInfo_USB> m_flow;
    std::uint32_t m_generation = 0;

private:
    std::uint32_t m_savedReadLength = 0;
    std::int32_t m_savedCmdLine = 0;
};

// The notifications of a download split at the status words: each status word with the progress
// values posted after it.
struct Step {
    std::uintptr_t status;
    std::vector<std::uintptr_t> progress;
};

std::vector<Step> Steps(const std::vector<Posted>& posts) {
    std::vector<Step> steps;
    for (const Posted& p : posts) {
        if (p.message == kMsgStatus)
            steps.push_back({p.word, {}});
        else if (p.message == kMsgProgress && !steps.empty())
            steps.back().progress.push_back(p.word);
    }
    return steps;
}

// ---- the download ------------------------------------------------------------------------

TEST_F(FlashFlowTest, DownloadOnKsc7050PostsTheStepsAndRunsTheNewCode) {
    const Bytes oldImage = BuiltIn(3021);       // FFU_1209_7101, another KSC7050 image
    const Bytes image = Tagged(BuiltIn(3023));  // FFU_7050
    ASSERT_NE(Version(oldImage), Version(image));
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(oldImage), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    const auto steps = Steps(m_window.Posts());
    ASSERT_EQ(steps.size(), 6u);
    const std::uintptr_t order[] = {41718, 41719, 41720, 41721, 41722, 41724};
    EXPECT_EQ(steps[0].status, 41718u);
    EXPECT_TRUE(steps[0].progress.empty());
    EXPECT_EQ(steps[1].status, 41719u);
    EXPECT_EQ(steps[1].progress, (std::vector<std::uintptr_t>{5}));
    const std::pair<std::uintptr_t, std::uintptr_t> bands[] = {{5, 35}, {35, 65}, {65, 95}};
    for (int i = 0; i < 3; ++i) {
        const Step& s = steps[static_cast<std::size_t>(2 + i)];
        EXPECT_EQ(s.status, order[2 + i]);
        ASSERT_FALSE(s.progress.empty()) << s.status;
        EXPECT_TRUE(std::is_sorted(s.progress.begin(), s.progress.end())) << s.status;
        EXPECT_GT(s.progress.front(), bands[i].first) << s.status;
        EXPECT_EQ(s.progress.back(), bands[i].second) << s.status;
    }
    EXPECT_EQ(steps[5].status, 41724u);
    EXPECT_EQ(steps[5].progress, (std::vector<std::uintptr_t>{100}));
    // The success ends the sequence.
    const auto posts = m_window.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts.back(), (Posted{kMsgSuccess, 41755}));
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, 0);

    // A mode-register chip keeps a blank tag; the image was changed the same way.
    const Bytes flash = Chip().FlashBytes();
    Bytes expected = image;
    expected[kTag] = expected[kTag + 1] = 0xFF;
    EXPECT_EQ(Slice(flash, 0, image.size()), expected);
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, expected);
    // Protected again, and the chip runs the image just programmed.
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_EQ(RunningVersion(), Version(image));
    EXPECT_EQ(Appearances(), 2u);  // into the ROM loader and back into the code
}

TEST_F(FlashFlowTest, LegacyChipGetsItsTagWrittenAfterTheVerifiedImage) {
    const Bytes image = Tagged(BuiltIn(3012));  // FFU_7020
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7020\n", 0x7011, 17, FlashWith(BuiltIn(3021)), image));
    // What the flash holds when the verify read starts, i.e. after the image was written.
    Bytes atVerify;
    m_window.OnPost([&](const Posted& p) {
        if (p == Posted{kMsgStatus, 41722})
            atVerify = Chip().FlashBytes();
    });

    EXPECT_EQ(m_flow->OpDownload(), 1);

    ASSERT_FALSE(atVerify.empty());
    EXPECT_EQ(atVerify[kTag], 0xFF);
    EXPECT_EQ(atVerify[kTag + 1], 0xFF);
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Slice(flash, 0, image.size()), image);
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, image);
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_EQ(RunningVersion(), Version(image));
}

TEST_F(FlashFlowTest, ImageWithItsAreaAtTheStartGetsNoTag) {
    // A configuration-only image: the area at offset 0, the rest erased.
    test::AreaContent content;
    content.chipCode = 17;
    content.memoryKind = 0x30;
    Bytes image = test::MakeImage(0x10000, 0, test::MakeArea(content));
    image = Tagged(image);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7020\n", 0x7011, 17, FlashWith(BuiltIn(3021)), image));
    ASSERT_EQ(m_flow->m_bAreaAtStart, 1);

    EXPECT_EQ(m_flow->OpDownload(), 1);

    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(flash[kTag], 0xFF);
    EXPECT_EQ(flash[kTag + 1], 0xFF);
    EXPECT_EQ(flash[0], image[0]);
}

// Dual-image chips keep running their old image while the new one goes behind it.
struct DualImageCase {
    const char* name;
    const char* chipIni;
    std::uint16_t chipId;
    int chipCode;
    std::int32_t oldImage;
    std::int32_t newImage;
    std::uint32_t length;  // the new image padded to this length
    std::uint32_t offset;  // where it must land
};
void PrintTo(const DualImageCase& c, std::ostream* os) {
    *os << c.name;
}

class DualImageTest : public FlashFlowTest, public ::testing::WithParamInterface<DualImageCase> {};

TEST_P(DualImageTest, WritesBehindTheRunningImageWithoutRomReset) {
    const DualImageCase& c = GetParam();
    const Bytes oldImage = BuiltIn(c.oldImage);
    Bytes image = BuiltIn(c.newImage);
    image.resize(c.length, 0xFF);
    ASSERT_NO_FATAL_FAILURE(Open(c.chipIni, c.chipId, c.chipCode, FlashWith(oldImage), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    const auto status = m_window.Words(kMsgStatus);
    EXPECT_EQ(std::count(status.begin(), status.end(), 41718u), 0);  // no "Wait device to reset"
    EXPECT_EQ(m_boxes.boxes,
              (std::vector<std::string>{"Warning: Reboot the device to launch new FW?"}));
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Slice(flash, 0, oldImage.size()), oldImage);  // the old image stays
    EXPECT_EQ(Slice(flash, c.offset, image.size()), image);
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_EQ(Appearances(), 1u);  // only the restart into the new code
    EXPECT_EQ(RunningVersion(), Version(image));
}

INSTANTIATE_TEST_SUITE_P(
    ChipCodes, DualImageTest,
    ::testing::Values(
        // FFU_1209_7104 is a KSC7032 image newer than FFU_7032.
        DualImageCase{"Ksc7032At0x10000", "[chip]\ntype = KSC7032\n", 0xE011, 23, 3045, 3038,
                      0x10000, 0x10000},
        // FFU_1209_7105 is a KSC7080 image newer than FFU_7080; 128 KiB long it goes to 0x20000.
        DualImageCase{"Ksc7080AtImageLength", "[chip]\ntype = KSC7080\n", 0x1011, 26, 3046, 3039,
                      0x20000, 0x20000}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the device's signature check --------------------------------------------------------

// A KSC7080 image whose force-update block asks for the signature check (bit 6).
Bytes SignedKsc7080Image() {
    Bytes image = BuiltIn(3039);
    test::AreaContent content;
    content.chipCode = 26;
    content.vid = 0x1209;
    content.pid = 0x7080;
    content.hasForceUpdate = true;
    content.forceUpdate = 0x40;
    const Bytes area = test::MakeArea(content);
    std::fill(image.begin() + 0xF000, image.end(), 0xFF);
    std::copy(area.begin(), area.end(), image.begin() + 0xF000);
    return image;
}

struct SignatureCase {
    const char* name;
    const char* outcome;
    std::uint64_t minimumWaitMs;  // the busy answers waited at least this long
};
void PrintTo(const SignatureCase& c, std::ostream* os) {
    *os << c.name;
}

class SignatureCheckTest : public FlashFlowTest,
                           public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(SignatureCheckTest, FailedCheckZeroesTheTagAndFails) {
    const Bytes oldImage = BuiltIn(3046);
    const Bytes image = SignedKsc7080Image();
    ASSERT_NO_FATAL_FAILURE(Open(
        std::string("[chip]\ntype = KSC7080\n[faults]\nsignature = ") + GetParam().outcome + "\n",
        0x1011, 26, FlashWith(oldImage), image));
    ASSERT_EQ(m_flow->m_bForceUpdateBit6, 1);
    const std::uint64_t before = m_clock.NowMs();

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_GE(m_clock.NowMs() - before, GetParam().minimumWaitMs);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{42042}));
    EXPECT_EQ(g_ErrCode, 42042);
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Slice(flash, kTag, 4), Bytes(4, 0x00));
    EXPECT_EQ(Slice(flash, 0x10000, image.size()), image);  // the new image itself is in place
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_EQ(Appearances(), 0u);  // no restart
    EXPECT_TRUE(m_boxes.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SignatureCheckTest,
                         ::testing::Values(
                             // Busy first (5000 ms), then the failed state.
                             SignatureCase{"Failed", "fail", 5000},
                             // Busy in all 8 polls.
                             SignatureCase{"NeverDone", "busy", 8 * 5000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFlowTest, PassedSignatureCheckRestartsIntoTheNewImage) {
    const Bytes image = SignedKsc7080Image();
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7080\n", 0x1011, 26, FlashWith(BuiltIn(3046)), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(g_ErrCode, 0);
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Slice(flash, kTag, 4), Slice(BuiltIn(3046), kTag, 4));
    EXPECT_EQ(RunningVersion(), Version(image));
}

// ---- the restart -------------------------------------------------------------------------

TEST_F(FlashFlowTest, ChipNotRunningTheNewCodePostsNotInCacheThenResetFailure) {
    // An image the chip cannot boot: its first byte is no jump.
    Bytes image = BuiltIn(3023);
    image[0] = 0x00;
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3021)), image));

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41935, 41512}));
    EXPECT_EQ(g_ErrCode, 41512);
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_FALSE(Chip().RunningCode());
    EXPECT_EQ(m_window.Words(kMsgSuccess), std::vector<std::uintptr_t>{});
}

struct RebootCase {
    const char* name;
    int disableCheck, loopTest, loopTestReboot;
    bool exempt, cmdLine;
    MsgBoxResult answer;
    bool asked, restarted;
};
void PrintTo(const RebootCase& c, std::ostream* os) {
    *os << c.name;
}

class RebootQuestionTest : public FlashFlowTest,
                           public ::testing::WithParamInterface<RebootCase> {};

TEST_P(RebootQuestionTest, DecidesTheRestartOfADualImageChip) {
    const RebootCase& c = GetParam();
    const Bytes oldImage = BuiltIn(3045);
    const Bytes image = BuiltIn(3038);
    const UsbIdPair exempt = CRebootExemptions::Rows().front();
    char ini[128];
    std::snprintf(ini, sizeof(ini), "[chip]\ntype = KSC7032\nvid = 0x%04X\npid = 0x%04X\n",
                  c.exempt ? exempt.vid : 0x1209, c.exempt ? exempt.pid : 0x7032);
    ASSERT_NO_FATAL_FAILURE(Open(ini, 0xE011, 23, FlashWith(oldImage), image));
    SetSetting("Disable Reboot Check", c.disableCheck);
    SetSetting("Loop Test", c.loopTest);
    SetSetting("Loop Test Reboot", c.loopTestReboot);
    g_bCmdLineMode = c.cmdLine ? 1 : 0;
    m_boxes.answer = c.answer;

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(m_boxes.boxes.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(Appearances(), c.restarted ? 1u : 0u);
    EXPECT_EQ(RunningVersion(), Version(c.restarted ? image : oldImage));
    EXPECT_EQ(Slice(Chip().FlashBytes(), 0x10000, image.size()), image);
    EXPECT_EQ(g_ErrCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RebootQuestionTest,
    ::testing::Values(
        RebootCase{"AnsweredYes", 0, 0, 0, false, false, MsgBoxResult::Yes, true, true},
        RebootCase{"AnsweredNo", 0, 0, 0, false, false, MsgBoxResult::No, true, false},
        RebootCase{"ExemptDevice", 0, 0, 0, true, false, MsgBoxResult::No, false, true},
        RebootCase{"CheckDisabled", 1, 0, 0, false, false, MsgBoxResult::No, false, true},
        RebootCase{"LoopTestWithReboot", 0, 1, 1, false, false, MsgBoxResult::No, false, true},
        RebootCase{"LoopTestWithoutReboot", 0, 1, 0, false, false, MsgBoxResult::Yes, false, false},
        RebootCase{"CommandLine", 0, 0, 0, false, true, MsgBoxResult::Yes, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- write protection after failures -----------------------------------------------------

struct FailureCase {
    const char* name;
    std::uintptr_t stopAtStatus;  // the operator presses Stop when this step starts
    std::uintptr_t failure;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailureProtectionTest : public FlashFlowTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureProtectionTest, FlashIsProtectedAgainAfterTheFailure) {
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3021)), image));
    m_window.StopAfter({kMsgStatus, GetParam().stopAtStatus}, 1);
    g_dwDownloadOption &= ~kOptionRestart;  // keeps the pin registers readable afterwards

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{GetParam().failure}));
    EXPECT_EQ(g_ErrCode, static_cast<std::int32_t>(GetParam().failure));
    m_window.SetStop(false);
    ExpectWriteProtected(0xFEC0, 0xFEC6, 0x01);
}

INSTANTIATE_TEST_SUITE_P(Steps, FailureProtectionTest,
                         ::testing::Values(FailureCase{"Erase", 41719, 41705},
                                           FailureCase{"EmptyCheck", 41720, 41717},
                                           FailureCase{"Write", 41721, 41706},
                                           FailureCase{"VerifyRead", 41722, 41704}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFlowTest, DifferenceFoundByTheVerifyFailsWithCompareAndProtects) {
    const Bytes image = Tagged(BuiltIn(3012));
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7020\n", 0x7011, 17, FlashWith(BuiltIn(3021)), image));
    g_dwDownloadOption &= ~kOptionRestart;
    // A flash cell that does not keep what was written: clear a bit of byte 0x100 after the write.
    m_window.OnPost([&](const Posted& p) {
        if (p == Posted{kMsgStatus, 41722}) {
            const std::uint8_t zero = 0x00;
            EXPECT_EQ(DA_SpiWrite(DA_GetDeviceNode(), 0x100, 1, &zero, 0), 1);
        }
    });

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41709}));
    EXPECT_EQ(g_ErrCode, 41709);
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(flash[kTag], 0xFF);  // no tag on a failed image
    ExpectWriteProtected(0xFEA0, 0xFEA6, 0x01);
}

TEST_F(FlashFlowTest, OtpFormatImageOnModeRegisterChipFailsCleanly) {
    const Bytes before = FlashWith(BuiltIn(3021));
    ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7050\n", 0xD011, 25, before, {}));
    m_flow->m_ImageRecord.m_image.assign(0x4000, 0x5A);

    EXPECT_EQ(m_flow->FFU_FlashUpdate(m_flow->m_ImageRecord.m_image), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41702}));
    EXPECT_EQ(g_ErrCode, 41702);
    EXPECT_EQ(Chip().FlashBytes(), before);
}

// ---- silent operations -------------------------------------------------------------------

using SilentFlashTest = FlashFlowTest;

TEST_F(SilentFlashTest, VerifyAgainstADifferingFileReadsThenFailsWithCompare) {
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(image), {}));
    Bytes differing = image;
    differing[0x8000] ^= 0x01;

    EXPECT_EQ(m_flow->OpSilentVerify(WriteFile("differing.bin", differing)), 0);

    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41751}));
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, 41709);
    EXPECT_EQ(g_dwReadLength, image.size());

    m_window.Clear();
    EXPECT_EQ(m_flow->OpSilentVerify(WriteFile("same.bin", image)), 1);
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(SilentFlashTest, VerifyOfAMissingFileFailsWithLoad) {
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3023)), {}));
    EXPECT_EQ(m_flow->OpSilentVerify(m_dirs.front() + "/none.bin"), 0);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41530}));
    EXPECT_EQ(g_ErrCode, 41530);
}

TEST_F(SilentFlashTest, WriteProgramsAFileMeantForTheChip) {
    const Bytes image = Tagged(BuiltIn(3012));
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7020\n", 0x7011, 17, FlashWith(BuiltIn(3021)), {}));

    EXPECT_EQ(m_flow->OpSilentWrite(WriteFile("fw.bin", image)), 1);

    EXPECT_EQ(Slice(Chip().FlashBytes(), 0, image.size()), image);
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41755}));
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(SilentFlashTest, WriteRefusesAFileForAnotherChip) {
    const Bytes before = FlashWith(BuiltIn(3021));
    ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7020\n", 0x7011, 17, before, {}));

    EXPECT_EQ(m_flow->OpSilentWrite(WriteFile("fw.bin", BuiltIn(3023))), 0);  // a KSC7050 image

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41715}));
    EXPECT_EQ(g_ErrCode, 41715);
    EXPECT_EQ(Chip().FlashBytes(), before);
}

struct ChipMatchCase {
    const char* name;
    int imageChip, descriptionChip;
    std::int32_t result;
};
void PrintTo(const ChipMatchCase& c, std::ostream* os) {
    *os << c.name;
}

class ChipMatchTest : public SilentFlashTest,
                      public ::testing::WithParamInterface<ChipMatchCase> {};

TEST_P(ChipMatchTest, FileChipCodeMustNameTheSelectedChip) {
    const ChipMatchCase& c = GetParam();
    test::AreaContent content;
    content.chipCode = static_cast<std::uint8_t>(c.imageChip);
    const Bytes image = test::MakeImage(0x10000, 0xF000, test::MakeArea(content));
    const Bytes before = FlashWith(BuiltIn(3021));
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, c.descriptionChip, before, {}));

    EXPECT_EQ(m_flow->OpSilentWrite(WriteFile("fw.bin", image)), c.result);

    EXPECT_EQ(g_ErrCode, c.result ? 0 : 41715);
    EXPECT_EQ(Slice(Chip().FlashBytes(), 0, image.size()),
              c.result ? image : Slice(before, 0, image.size()));
}

INSTANTIATE_TEST_SUITE_P(Codes, ChipMatchTest,
                         ::testing::Values(ChipMatchCase{"NineOnEight", 9, 8, 1},
                                           ChipMatchCase{"EightOnNine", 8, 9, 1},
                                           ChipMatchCase{"NineOn25", 9, 25, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct HeldImageCase {
    const char* name;
    std::size_t heldLength;
    bool withSerial;
    std::int32_t result;
};
void PrintTo(const HeldImageCase& c, std::ostream* os) {
    *os << c.name;
}

class HeldImageTest : public SilentFlashTest,
                      public ::testing::WithParamInterface<HeldImageCase> {};

TEST_P(HeldImageTest, MissingFileFallsBackToAHeldFullImageOnlyForThePlainWrite) {
    const HeldImageCase& c = GetParam();
    Bytes held = BuiltIn(3012);
    held.resize(c.heldLength, 0xFF);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7020\n", 0x7011, 17, FlashWith(BuiltIn(3021)), {}));
    m_flow->m_ImageRecord.m_image = held;
    const std::string missing = m_dirs.front() + "/missing.bin";

    const int result =
        c.withSerial ? m_flow->OpSilentWriteSN(missing, "SN1") : m_flow->OpSilentWrite(missing);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(g_ErrCode, c.result ? 0 : 41530);
    if (c.result) {
        EXPECT_EQ(Slice(Chip().FlashBytes(), 0, held.size()), held);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, HeldImageTest,
                         ::testing::Values(HeldImageCase{"WriteTakesHeld", 0x10000, false, 1},
                                           HeldImageCase{"WriteWithSerialDoesNot", 0x10000, true,
                                                         0},
                                           HeldImageCase{"ShortHeldImage", 0xF800, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- data carried from the device into the new image -----------------------------------

// A KSC7050 image whose configuration block ends with a long descriptor of type 0x50.
Bytes WithUnitKey(Bytes image, const Bytes& payload) {
    const std::size_t area = 0xF000;
    const std::size_t end = area + (image[area + 3] | (image[area + 4] << 8));
    image[end] = 0xFF;
    image[end + 1] = 0x50;
    image[end + 2] = static_cast<std::uint8_t>(payload.size() + 4);
    image[end + 3] = 0;
    std::copy(payload.begin(), payload.end(), image.begin() + static_cast<std::ptrdiff_t>(end + 4));
    ++image[area + 5];
    image[area + 3] = static_cast<std::uint8_t>(image[area + 3] + payload.size() + 4);
    return image;
}

TEST_F(FlashFlowTest, DownloadKeepsTheUnitKeyOfTheDevice) {
    const Bytes key{0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7050\npid = 0x7150\n", 0xD011, 25,
                                 FlashWith(WithUnitKey(BuiltIn(3021), key)), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    const Bytes expected = WithUnitKey(image, key);
    EXPECT_EQ(Slice(Chip().FlashBytes(), 0xF000, 0x1000), Slice(expected, 0xF000, 0x1000));
    EXPECT_TRUE(m_boxes.boxes.empty());
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(FlashFlowTest, DownloadWithoutProgrammedBlockSaysSoAndCarriesNothing) {
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\npid = 0x7151\n", 0xD011, 25, Bytes(0x100000, 0xFF), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(m_boxes.boxes, (std::vector<std::string>{"Error: SPI code not exist."}));
    EXPECT_EQ(Slice(Chip().FlashBytes(), 0, image.size()), image);
}

TEST_F(FlashFlowTest, DownloadKeepsTheUnitSectorOfTheDevice) {
    Bytes flash = FlashWith(BuiltIn(3045));  // a KSC7032 running FFU_7032
    for (std::size_t i = 0; i < 0x1000; ++i)
        flash[0x1F000 + i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes sector = Slice(flash, 0x1F000, 0x1000);
    const Bytes image = BuiltIn(3085);  // FFU_1209_7131: a 256 KiB KSC7032 image
    ASSERT_EQ(image.size(), 0x40000u);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7032\npid = 0x7131\n", 0xE011, 23, flash, image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(Slice(m_flow->m_ImageRecord.m_image, 0x1F000, 0x1000), sector);
    // The image goes to 0x10000 on this chip.
    EXPECT_EQ(Slice(Chip().FlashBytes(), 0x10000 + 0x1F000, 0x1000), sector);
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(FlashFlowTest, SerialNumberDownloadCountsDownOnTheWindow) {
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3021)), image));
    SetSetting("SaveSN", 1);
    m_flow->m_strSerialNumber = "SN-0042";
    std::vector<std::uint64_t> countdownAt;
    m_window.OnPost([&](const Posted& p) {
        if (p == Posted{kMsgStatus, 0})
            countdownAt.push_back(m_clock.NowMs());
    });

    EXPECT_EQ(m_flow->OpDownload(), 1);

    ASSERT_EQ(countdownAt.size(), 2u);
    EXPECT_EQ(countdownAt[1] - countdownAt[0], 1000u);
    const Bytes flash = Chip().FlashBytes();
    const std::string text(flash.begin() + 0xF000, flash.begin() + 0x10000);
    EXPECT_NE(text.find("SN-0042"), std::string::npos);
    EXPECT_EQ(flash[kTag], 0xFF);  // the patch's tag is not kept on a mode-register chip
    EXPECT_EQ(g_ErrCode, 0);
}

// ---- erase -------------------------------------------------------------------------------

TEST_F(FlashFlowTest, EraseLeavesTheFlashErasedProtectedAndSucceeds) {
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3023)), {}));

    EXPECT_EQ(m_flow->OpEraseWithRestart(0), 1);

    const Bytes flash = Chip().FlashBytes();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41752}));
    EXPECT_EQ(g_ErrCode, 0);
    ExpectWriteProtected(0xFEC0, 0xFEC6, 0x01);
    EXPECT_EQ(Appearances(), 1u);  // into the ROM loader only
}

TEST_F(FlashFlowTest, FailedEraseLeavesTheFlashProtected) {
    const Bytes before = FlashWith(BuiltIn(3023));
    ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7050\n", 0xD011, 25, before, {}));
    m_window.StopAfter({kMsgStatus, 41719}, 1);

    EXPECT_EQ(m_flow->OpEraseWithRestart(0), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{41705}));
    EXPECT_EQ(g_ErrCode, 41705);
    m_window.SetStop(false);
    ExpectWriteProtected(0xFEC0, 0xFEC6, 0x01);
    EXPECT_EQ(Chip().FlashBytes(), before);
}

TEST_F(FlashFlowTest, UpdateProgramsTheSecondaryImage) {
    const Bytes image = BuiltIn(3023);
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3021)), {}));
    m_flow->m_ImageRecord.m_secondary = image;
    ASSERT_EQ(m_flow->OpPrepare(m_flow->m_ImageRecord.m_secondary), 1);

    EXPECT_EQ(m_flow->OpUpdate(), 1);

    EXPECT_EQ(Slice(Chip().FlashBytes(), 0, image.size()), image);
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41753}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(RunningVersion(), Version(image));
}

TEST_F(FlashFlowTest, OtpFormatUpdateHasNoEmptyCheckAndNoTag) {
    ASSERT_NO_FATAL_FAILURE(
        Open("[chip]\ntype = KSC7050\n", 0xD011, 25, FlashWith(BuiltIn(3021)), {}));
    Bytes image(0x4000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13);
    ASSERT_TRUE(AllocDumpBuffer(m_flow->m_ImageRecord, 0x4000));
    std::int32_t outId = 0;

    EXPECT_EQ(m_flow->FF_UpdateEx_ForSimulateOTP(image, 0x4000, outId), 1);

    EXPECT_EQ(m_window.Words(kMsgStatus),
              (std::vector<std::uintptr_t>{41719, 41721, 41722, 41724}));
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Slice(flash, 0, 0x4000), image);
    EXPECT_TRUE(
        std::all_of(flash.begin() + 0x4000, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(Chip().FlashStatus(), 0x8C);
    EXPECT_EQ(Appearances(), 1u);
}

// ---- dumps -------------------------------------------------------------------------------

class DumpTest : public FlashFlowTest {
protected:
    void SetUp() override {
        FlashFlowTest::SetUp();
        Bytes flash(0x100000, 0xFF);
        for (std::size_t i = 0; i < 0x100; ++i)
            flash[i] = static_cast<std::uint8_t>(i);
        ASSERT_NO_FATAL_FAILURE(Open("[chip]\ntype = KSC7050\n", 0xD011, 25, flash, {}));
        m_base = m_dirs.front() + "/out";
    }
    static Bytes ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::string m_base;
};

TEST_F(DumpTest, BinaryDumpHoldsTheFlashBytesInNewDirectories) {
    g_dwReadLength = 0x2000;
    const std::string path = m_base + "/a/b/flash.bin";

    EXPECT_EQ(m_flow->OpReadToBinFile(path), 1);

    EXPECT_EQ(ReadFile(path), Slice(Chip().FlashBytes(), 0, 0x2000));
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{41751}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(DumpTest, HexDumpHasSixteenBytesALineAndNoBreakAtTheEnd) {
    g_dwReadLength = 34;
    const std::string path = m_base + "/hex/flash.txt";

    EXPECT_EQ(m_flow->OpReadToHexFile(path), 1);

    const Bytes text = ReadFile(path);
    const std::string expected =
        "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n"
        "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \r\n"
        "20 21 ";
    EXPECT_EQ(std::string(text.begin(), text.end()), expected);
}

TEST_F(DumpTest, HexTextOfFullLinesEndsWithTheLastSpace) {
    const Bytes bytes(32, 0xAB);
    const std::string text = CDumpFile::HexText(bytes);
    // One line break between the two lines, none after the last byte's space.
    EXPECT_EQ(text.size(), 32u * 3 + 2);
    EXPECT_EQ(text.substr(45, 5), "AB \r\n");
    EXPECT_EQ(text.substr(text.size() - 3), "AB ");
    EXPECT_EQ(CDumpFile::HexText({}), "");
}

// The flash was read, but a dump that cannot be saved is no dump: it fails with 41736.
TEST_F(DumpTest, DirectoryThatCannotBeCreatedIsReportedAndTheDumpFails) {
    g_dwReadLength = 16;
    std::filesystem::create_directories(m_base);
    std::ofstream(m_base + "/blocker") << "a file where a directory should go";
    const std::string path = m_base + "/blocker/sub/flash.bin";

    EXPECT_EQ(m_flow->OpReadToBinFile(path), 0);

    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0], ": Create Directory (" + m_base + "/blocker) : Failed !");
    EXPECT_EQ(g_ErrCode, 41736);
}

TEST_F(DumpTest, FailedReadWritesNoFile) {
    g_dwReadLength = 0;  // nothing to read: the read fails
    const std::string path = m_base + "/empty.bin";

    EXPECT_EQ(m_flow->OpReadToBinFile(path), 0);

    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(Failures().empty());
}

}  // namespace
}  // namespace uafw::flowtest
