// The EEPROM flows against virtual chips with 16-bit and 8-bit I2C EEPROMs: the tag written last,
// the 64 bytes the 8-bit download erases and checks, the write-protect pin registers after
// success and failure, the erases, the silent write and verify, the read whose restart fails,
// the updates of the secondary image, the dumps and the serial-number countdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flow/DumpFile.h"
#include "flow/EepromInfo.h"
#include "flow_fixture.h"

namespace uafw::flowtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Width = CEepromInfo::Width;

constexpr std::uint16_t kChipId = 0xD011;  // a KSC7050
constexpr int kChipCode = 25;

// The extension-unit opcodes and vendor requests of the EEPROM commands, for injected faults.
constexpr int kEep16WriteOpcode = 0x91;
constexpr int kEep16ReadOpcode = 0xD1;
constexpr int kEep8ReadOpcode = 0xCB;
constexpr int kEep8ReadRequest = 0x35;

// An EEPROM image: a configuration area at offset 0 (memory kind, signature 0xA5 at byte 1, chip
// code, no blocks) followed by data that differs from byte to byte.
Bytes EepromImage(Width width, std::size_t length, int chipCode = kChipCode, int seed = 1) {
    Bytes image(length, 0xFF);
    const std::uint8_t header[6] = {static_cast<std::uint8_t>(width == Width::k16 ? 0x12 : 0x11),
                                    0xA5,
                                    static_cast<std::uint8_t>(chipCode << 3),
                                    6,
                                    0,
                                    0};
    std::copy(std::begin(header), std::end(header), image.begin());
    for (std::size_t i = sizeof(header); i < length; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed));
    return image;
}

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

bool AllAre(const Bytes& bytes, std::uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [=](std::uint8_t b) { return b == value; });
}

std::string ChipIni(Width width, const std::string& more = "") {
    return std::string("[chip]\ntype = KSC7050\nmemory = ") +
           (width == Width::k16 ? "eeprom16" : "eeprom8") + "\n" + more;
}

const char* WidthName(Width width) {
    return width == Width::k16 ? "16-bit" : "8-bit";
}

class EepromFlowTest : public FlowSimFixture {
protected:
    void SetUp() override {
        FlowSimFixture::SetUp();
        m_savedReadLength = g_dwReadLength;
        m_savedCmdLine = g_bCmdLineMode;
        g_bCmdLineMode = 0;
    }
    void TearDown() override {
        g_dwReadLength = m_savedReadLength;
        g_bCmdLineMode = m_savedCmdLine;
        m_flow.reset();
        FlowSimFixture::TearDown();
    }

    // A chip with an EEPROM holding `eeprom` when it powers on, a chip description with the chip
    // code and "ConfigAddress", and an open flow of the width holding `image` prepared.
    void Open(Width width, const std::string& chipIni, const Bytes& eeprom, const Bytes& image,
              int chipCode = kChipCode, std::uint32_t configAddress = 0xF000,
              std::uint32_t configSize = 4096) {
        std::string dir = (std::filesystem::temp_directory_path() / "uafw-eep-XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        m_dirs.push_back(dir);
        std::ofstream(dir + "/chip.ini") << chipIni;
        if (!eeprom.empty())
            std::ofstream(dir + "/eeprom.bin", std::ios::binary)
                .write(reinterpret_cast<const char*>(eeprom.data()),
                       static_cast<std::streamsize>(eeprom.size()));
        std::string error;
        m_backend = uafw::sim::SimBackend::FromStateDirs(dir, error);
        ASSERT_TRUE(m_backend) << error;
        uafw::usb::SetCurrentUsbBackend(m_backend.get());
        ASSERT_TRUE(DeviceLibraryStartup(0));

        char text[512];
        std::snprintf(text, sizeof(text),
                      "[Vorlo Config]\nIc Name=TEST\nBus Type=USB\nProject Type=%s\n"
                      "[Camera_Register_00]\nICRegister1=0x%02X\nICRegister2=0x%02X\n"
                      "ChipInfo=%d\n[Vendor Info M1]\nConfigAddress=%u\nConfigSize=%u\n"
                      "TagAddress=0xEFFE\n",
                      width == Width::k16 ? "EEPROM16" : "EEPROM8", kChipId & 0xF0,
                      (kChipId >> 8) & 0xF0, chipCode, configAddress, configSize);
        m_catalogue = CICTypeIni();
        ASSERT_TRUE(m_catalogue.LoadFromText(text));
        ASSERT_TRUE(m_catalogue.MatchChipId(kChipId & 0xF0, (kChipId >> 8) & 0xF0));

        if (width == Width::k16)
            m_flow = std::make_unique<CEepromInfo16_USB>();
        else
            m_flow = std::make_unique<CEepromInfo8_USB>();
        ASSERT_NO_FATAL_FAILURE(OpenWithImage(*m_flow, image));
        m_generation = Chip().Generation();
    }

    // An EEPROM of the chip's size holding `image` at 0 and `fill` behind it.
    Bytes EepromWith(Width width, const Bytes& image, std::uint8_t fill = 0x00) {
        Bytes eeprom(width == Width::k16 ? 0x10000 : 0x800, fill);
        std::copy(image.begin(), image.end(), eeprom.begin());
        return eeprom;
    }

    // Records the pin registers when the restart into the new code begins (the restart powers
    // the registers up afresh), then runs `also` for every post.
    void WatchPinsAtRestart(std::function<void(const Posted&)> also = {}) {
        m_window.OnPost([this, also](const Posted& p) {
            if (p == Posted{kMsgStatus, kStatusResetNewCode}) {
                m_pinsAtRestart.clear();
                for (std::uint32_t address : {0xFEA0u, 0xFEA1u, 0xFEA6u, 0xFEA7u})
                    m_pinsAtRestart.push_back(ChipByte(address));
            }
            if (also)
                also(p);
        });
    }
    // The pins recorded at the restart show the protection on.
    void ExpectProtectedAtRestart() {
        ASSERT_EQ(m_pinsAtRestart.size(), 4u) << "no restart seen";
        EXPECT_EQ(m_pinsAtRestart[0] & 0x20, 0);
        EXPECT_EQ(m_pinsAtRestart[1] & 0x02, 0);
        EXPECT_EQ(m_pinsAtRestart[2] & 0x01, 0x01);
        EXPECT_EQ(m_pinsAtRestart[3] & 0x01, 0x01);
    }

    // The write-protect pin released: output enables cleared, level bit 0 set.
    void ExpectWriteProtected() {
        EXPECT_EQ(ChipByte(0xFEA0) & 0x20, 0);
        EXPECT_EQ(ChipByte(0xFEA1) & 0x02, 0);
        EXPECT_EQ(ChipByte(0xFEA6) & 0x01, 0x01);
        EXPECT_EQ(ChipByte(0xFEA7) & 0x01, 0x01);
    }
    // The pin driven low: output enables set, level bits cleared.
    void ExpectWritable() {
        EXPECT_EQ(ChipByte(0xFEA0) & 0x20, 0x20);
        EXPECT_EQ(ChipByte(0xFEA1) & 0x02, 0x02);
        EXPECT_EQ(ChipByte(0xFEA6) & 0x20, 0);
        EXPECT_EQ(ChipByte(0xFEA7) & 0x02, 0);
    }

    std::vector<std::uintptr_t> Failures() { return m_window.Words(kMsgFailure); }
    std::vector<std::uintptr_t> Statuses() { return m_window.Words(kMsgStatus); }
    std::uint32_t Appearances() { return Chip().Generation() - m_generation; }

    std::unique_ptr<CEepromInfo> m_flow;
    std::uint32_t m_generation = 0;
    std::vector<std::uint8_t> m_pinsAtRestart;

private:
    std::uint32_t m_savedReadLength = 0;
    std::int32_t m_savedCmdLine = 0;
};

// ---- the 16-bit download -----------------------------------------------------------------

TEST_F(EepromFlowTest, SixteenBitDownloadWritesTheTagLastAndRunsTheNewCode) {
    const Bytes oldImage = EepromImage(Width::k16, 0x300, kChipCode, 9);
    const Bytes image = EepromImage(Width::k16, 0x200);
    ASSERT_NO_FATAL_FAILURE(
        Open(Width::k16, ChipIni(Width::k16), EepromWith(Width::k16, oldImage), image));
    ASSERT_TRUE(Chip().RunningCode());  // the old image carries its tag
    Bytes eepromAtTag;
    WatchPinsAtRestart([&](const Posted& p) {
        if (p == Posted{kMsgStatus, kStatusWriteTag}) {
            eepromAtTag = Chip().EepromBytes();
            ExpectWritable();
        }
    });

    EXPECT_EQ(m_flow->OpDownload(), 1);

    // Everything but the tag was in place before the tag command.
    Bytes blank = image;
    blank[1] = 0xFF;
    ASSERT_FALSE(eepromAtTag.empty());
    EXPECT_EQ(Slice(eepromAtTag, 0, image.size()), blank);
    const Bytes eeprom = Chip().EepromBytes();
    EXPECT_EQ(Slice(eeprom, 0, image.size()), image);
    EXPECT_EQ(eeprom[1], 0xA5);
    // No erase: the old image's bytes behind the new one stay.
    EXPECT_EQ(Slice(eeprom, image.size(), 0x100), Slice(oldImage, image.size(), 0x100));
    // The image was changed the way it was written.
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, blank);

    EXPECT_EQ(Statuses(),
              (std::vector<std::uintptr_t>{kStatusWaitReset, kStatusDownload, kStatusVerify,
                                           kStatusWriteTag, kStatusResetNewCode}));
    const auto progress = m_window.Words(kMsgProgress);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100u);
    EXPECT_NE(std::find(progress.begin(), progress.end(), 70u), progress.end());
    EXPECT_NE(std::find(progress.begin(), progress.end(), 90u), progress.end());
    EXPECT_EQ(m_window.Posts().back(), (Posted{kMsgSuccess, kEepDownloadSucceedCode}));
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, 0);
    ExpectProtectedAtRestart();
    // Into the ROM loader and back into the new code.
    EXPECT_EQ(Appearances(), 2u);
    EXPECT_TRUE(Chip().RunningCode());
}

struct UpdateFault {
    const char* name;
    std::string faults;  // [faults] keys; {chunks} is replaced by the image's chunk count
    std::int32_t failure;
};

class SixteenBitUpdateFault : public EepromFlowTest,
                              public ::testing::WithParamInterface<UpdateFault> {};

TEST_P(SixteenBitUpdateFault, LeavesNoTagAndTheEepromProtected) {
    const Bytes oldImage = EepromImage(Width::k16, 0x200, kChipCode, 9);
    const Bytes image = EepromImage(Width::k16, 0x200);
    std::string faults = GetParam().faults;
    const auto at = faults.find("{chunks}");
    if (at != std::string::npos)
        faults.replace(at, 8, std::to_string(image.size() / 8));
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16, "[faults]\n" + faults),
                                 EepromWith(Width::k16, oldImage), image));

    EXPECT_EQ(m_flow->OpDownload(), 0);

    // The old tag went with the first chunk; the new one was never written.
    EXPECT_EQ(Chip().EepromBytes()[1], 0xFF);
    EXPECT_EQ(Failures(),
              (std::vector<std::uintptr_t>{static_cast<std::uintptr_t>(GetParam().failure)}));
    EXPECT_EQ(g_ErrCode, GetParam().failure);
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
    const auto statuses = Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), kStatusResetNewCode), 0);
    ExpectWriteProtected();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SixteenBitUpdateFault,
    ::testing::Values(UpdateFault{"Write", "fail_opcode = 0x91\nfail_skip = 4\nfail_times = 8\n",
                                  41804},
                      UpdateFault{"VerifyRead", "fail_opcode = 0xD1\nfail_times = 8\n", 41802},
                      UpdateFault{"Tag", "fail_opcode = 0x91\nfail_skip = {chunks}\n", 41712}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EepromFlowTest, SixteenBitTagFailureLeavesTheVerifiedImageWithoutItsTag) {
    const Bytes image = EepromImage(Width::k16, 0x100);
    ASSERT_NO_FATAL_FAILURE(
        Open(Width::k16,
             ChipIni(Width::k16, "[faults]\nfail_opcode = " + std::to_string(kEep16WriteOpcode) +
                                     "\nfail_skip = 32\n"),
             {}, image));

    EXPECT_EQ(m_flow->OpDownload(), 0);

    Bytes blank = image;
    blank[1] = 0xFF;
    EXPECT_EQ(Slice(Chip().EepromBytes(), 0, image.size()), blank);
    EXPECT_EQ(g_ErrCode, kWriteTagFailCode);
    // The chip stays in its ROM loader: no restart after a failure.
    EXPECT_FALSE(Chip().RunningCode());
}

TEST_F(EepromFlowTest, SixteenBitDownloadWithoutProgramStepOnlyRestarts) {
    const Bytes oldImage = EepromImage(Width::k16, 0x100, kChipCode, 9);
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), EepromWith(Width::k16, oldImage),
                                 EepromImage(Width::k16, 0x100)));
    g_dwDownloadOption = kOptionRestart;
    WatchPinsAtRestart();

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(Slice(Chip().EepromBytes(), 0, 0x100), oldImage);
    EXPECT_EQ(Statuses(), (std::vector<std::uintptr_t>{kStatusWaitReset, kStatusResetNewCode}));
    ExpectProtectedAtRestart();
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_F(EepromFlowTest, SixteenBitDownloadCancelledBeforeTheUpdateWritesNothing) {
    // A blank EEPROM: the chip runs its ROM loader, so nothing checks the stop flag earlier.
    ASSERT_NO_FATAL_FAILURE(
        Open(Width::k16, ChipIni(Width::k16), {}, EepromImage(Width::k16, 0x100)));
    m_window.SetStop(true);

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kResetDeviceFailCode}));
    EXPECT_EQ(g_ErrCode, kResetDeviceFailCode);
    EXPECT_TRUE(AllAre(Chip().EepromBytes(), 0xFF));
    m_window.SetStop(false);
}

TEST_F(EepromFlowTest, SixteenBitDownloadCancelledDuringTheWriteLeavesNoTag) {
    const Bytes oldImage = EepromImage(Width::k16, 0x100, kChipCode, 9);
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), EepromWith(Width::k16, oldImage),
                                 EepromImage(Width::k16, 0x100)));
    // Stop once the first chunk is written (progress 50 of the write band).
    m_window.StopAfter({kMsgProgress, 50}, 1);

    EXPECT_EQ(m_flow->OpDownload(), 0);

    const Bytes eeprom = Chip().EepromBytes();
    EXPECT_EQ(eeprom[1], 0xFF);
    EXPECT_EQ(Slice(eeprom, 8, 0xF8), Slice(oldImage, 8, 0xF8));  // one chunk written
    EXPECT_EQ(g_ErrCode, kEepUpdateFailCode);
    m_window.SetStop(false);
    ExpectWriteProtected();
}

// ---- the 8-bit download ------------------------------------------------------------------

TEST_F(EepromFlowTest, EightBitDownloadErasesAndChecksOnlyTheFirst64Bytes) {
    const Bytes image = EepromImage(Width::k8, 0x100);
    ASSERT_NO_FATAL_FAILURE(Open(Width::k8, ChipIni(Width::k8), Bytes(0x800, 0x00), image));
    Bytes eepromAtWrite;
    WatchPinsAtRestart([&](const Posted& p) {
        if (p == Posted{kMsgStatus, kStatusDownload})
            eepromAtWrite = Chip().EepromBytes();
    });

    EXPECT_EQ(m_flow->OpDownload(), 1);

    ASSERT_EQ(eepromAtWrite.size(), 0x800u);
    EXPECT_TRUE(AllAre(Slice(eepromAtWrite, 0, 64), 0xFF));
    EXPECT_TRUE(AllAre(Slice(eepromAtWrite, 64, 0x800 - 64), 0x00));
    const Bytes eeprom = Chip().EepromBytes();
    // The image is written unchanged, tag byte included; the rest was never touched.
    EXPECT_EQ(Slice(eeprom, 0, image.size()), image);
    EXPECT_EQ(m_flow->m_ImageRecord.m_image, image);
    EXPECT_TRUE(AllAre(Slice(eeprom, image.size(), 0x800 - image.size()), 0x00));

    EXPECT_EQ(Statuses(),
              (std::vector<std::uintptr_t>{kStatusCheckEmpty, kStatusDownload, kStatusRead,
                                           kStatusWriteTag, kStatusResetNewCode}));
    // The empty check reads 64 bytes in 8-byte chunks, progress 30 to 50.
    std::vector<std::uintptr_t> checkProgress;
    bool inCheck = false;
    for (const Posted& p : m_window.Posts()) {
        if (p.message == kMsgStatus)
            inCheck = p.word == static_cast<std::uintptr_t>(kStatusCheckEmpty);
        else if (inCheck && p.message == kMsgProgress)
            checkProgress.push_back(p.word);
    }
    EXPECT_EQ(checkProgress, (std::vector<std::uintptr_t>{32, 35, 37, 40, 42, 45, 47, 50}));
    EXPECT_EQ(m_window.Posts().back(), (Posted{kMsgSuccess, kEepDownloadSucceedCode}));
    EXPECT_EQ(g_ErrCode, 0);
    ExpectProtectedAtRestart();
    EXPECT_TRUE(Chip().RunningCode());
}

TEST_F(EepromFlowTest, EightBitDownloadFailureSwitchesProtectionOnAgain) {
    const Bytes image = EepromImage(Width::k8, 0x100);
    ASSERT_NO_FATAL_FAILURE(
        Open(Width::k8,
             ChipIni(Width::k8, "[faults]\nfail_opcode = " + std::to_string(kEep8ReadOpcode) +
                                    "\nfail_request = " + std::to_string(kEep8ReadRequest) +
                                    "\nfail_times = 8\n"),
             {}, image));

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kCheckEmptyFailCode}));
    EXPECT_EQ(g_ErrCode, kCheckEmptyFailCode);
    ExpectWriteProtected();
    EXPECT_TRUE(AllAre(Chip().EepromBytes(), 0xFF));
}

TEST_F(EepromFlowTest, EightBitDownloadOfAnImageShorterThanTheCheckedPart) {
    const Bytes image = EepromImage(Width::k8, 24);
    ASSERT_NO_FATAL_FAILURE(Open(Width::k8, ChipIni(Width::k8), Bytes(0x800, 0x00), image));

    EXPECT_EQ(m_flow->OpDownload(), 1);

    const Bytes eeprom = Chip().EepromBytes();
    EXPECT_EQ(Slice(eeprom, 0, 24), image);
    EXPECT_TRUE(AllAre(Slice(eeprom, 24, 40), 0xFF));
    EXPECT_EQ(g_ErrCode, 0);
}

// ---- write protection ----------------------------------------------------------------------

TEST_F(EepromFlowTest, WriteProtectionTouchesOnlyThePinBits) {
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), {}, {}));
    for (std::uint32_t address : {0xFEA0u, 0xFEA1u, 0xFEA6u, 0xFEA7u})
        SetChipByte(address, 0x5A);

    ASSERT_EQ(m_flow->EE_GpioWriteProtectOff(), 1);
    EXPECT_EQ(ChipByte(0xFEA0), 0x7A);
    EXPECT_EQ(ChipByte(0xFEA6), 0x5A & ~0x20);
    EXPECT_EQ(ChipByte(0xFEA1), 0x5A);
    EXPECT_EQ(ChipByte(0xFEA7), 0x58);

    ASSERT_EQ(m_flow->EE_GpioWriteProtectOn(), 1);
    EXPECT_EQ(ChipByte(0xFEA0), 0x5A);
    EXPECT_EQ(ChipByte(0xFEA6), 0x5B);
    EXPECT_EQ(ChipByte(0xFEA1), 0x58);
    EXPECT_EQ(ChipByte(0xFEA7), 0x59);
}

TEST_F(EepromFlowTest, WriteProtectionWithoutDeviceFails) {
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), {}, {}));
    m_flow->m_hDevice = 0;
    EXPECT_EQ(m_flow->EE_GpioWriteProtectOff(), 0);
    EXPECT_EQ(m_flow->EE_GpioWriteProtectOn(), 0);
}

// ---- erases --------------------------------------------------------------------------------

class EepromEraseTest : public EepromFlowTest, public ::testing::WithParamInterface<Width> {};

TEST_P(EepromEraseTest, EraseFillsTheReadLengthAndSucceeds) {
    const Width width = GetParam();
    const Bytes image = EepromImage(width, 0x300);
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), EepromWith(width, image), {}));
    g_dwReadLength = 0x100;

    EXPECT_EQ(m_flow->OpEraseWithRestart(0), 1);

    const Bytes eeprom = Chip().EepromBytes();
    EXPECT_TRUE(AllAre(Slice(eeprom, 0, 0x100), 0xFF));
    EXPECT_EQ(Slice(eeprom, 0x100, 0x200), Slice(image, 0x100, 0x200));
    EXPECT_EQ(m_window.Words(kMsgProgress), (std::vector<std::uintptr_t>{30, 100}));
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kEepEraseSucceedCode}));
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(Appearances(), 1u);  // into the ROM loader only
    if (width == Width::k16) {
        ExpectWriteProtected();
    } else {
        // The 8-bit erase leaves the pin alone.
        EXPECT_EQ(ChipByte(0xFEA0) & 0x20, 0);
        EXPECT_EQ(ChipByte(0xFEA6), 0);
    }
}

TEST_P(EepromEraseTest, EraseWithRestartRestartsTheChip) {
    const Width width = GetParam();
    ASSERT_NO_FATAL_FAILURE(
        Open(width, ChipIni(width), EepromWith(width, EepromImage(width, 0x100)), {}));
    g_dwReadLength = 0x40;

    EXPECT_EQ(m_flow->OpEraseWithRestart(1), 1);

    EXPECT_EQ(Statuses(), (std::vector<std::uintptr_t>{kStatusWaitReset, kStatusResetNewCode}));
    EXPECT_EQ(Appearances(), 2u);
    // The tag is gone: the chip stays in its ROM loader.
    EXPECT_FALSE(Chip().RunningCode());
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_P(EepromEraseTest, FailedEraseIsRetriedThreeTimesAndReported) {
    const Width width = GetParam();
    const std::string faults = width == Width::k16
                                   ? "[faults]\nfail_opcode = 0x91\nfail_times = 3\n"
                                   : "[faults]\nfail_opcode = 0x8B\nfail_request = 0x36\n"
                                     "fail_times = 3\n";
    ASSERT_NO_FATAL_FAILURE(
        Open(width, ChipIni(width, faults), EepromWith(width, EepromImage(width, 0x100)), {}));
    g_dwReadLength = 0x40;
    const std::uint64_t start = m_clock.NowMs();

    EXPECT_EQ(m_flow->OpEraseWithRestart(0), 0);

    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kEepEraseFailCode}));
    EXPECT_EQ(g_ErrCode, kEepEraseFailCode);
    EXPECT_GE(m_clock.NowMs() - start, 3u * 128u);
    if (width == Width::k16)
        ExpectWriteProtected();
}

INSTANTIATE_TEST_SUITE_P(Widths, EepromEraseTest, ::testing::Values(Width::k16, Width::k8),
                         [](const auto& info) {
                             return std::string(info.param == Width::k16 ? "SixteenBit"
                                                                         : "EightBit");
                         });

// ---- reads, dumps, verify ------------------------------------------------------------------

class EepromReadTest : public EepromFlowTest, public ::testing::WithParamInterface<Width> {};

TEST_P(EepromReadTest, ReadKeepsTheDataWhenTheRestartFails) {
    const Width width = GetParam();
    const Bytes image = EepromImage(width, 0x100);
    // The chip starts in its ROM loader, so the only reset is the restart after the read.
    ASSERT_NO_FATAL_FAILURE(Open(width,
                                 ChipIni(width, "boot_rom = 1\n[faults]\nnever_return = 1\n"),
                                 EepromWith(width, image), {}));
    g_dwReadLength = 0x100;

    EXPECT_EQ(m_flow->OpRead(), 0);

    EXPECT_EQ(m_flow->m_ImageRecord.m_dump, image);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kResetDeviceFailCode}));
    EXPECT_EQ(g_ErrCode, kResetDeviceFailCode);
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
}

TEST_P(EepromReadTest, ReadRestartsTheChipAndSucceeds) {
    const Width width = GetParam();
    const Bytes image = EepromImage(width, 0x100);
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), EepromWith(width, image), {}));
    g_dwReadLength = 0x180;

    EXPECT_EQ(m_flow->OpRead(), 1);

    EXPECT_EQ(m_flow->m_ImageRecord.m_dump, Slice(EepromWith(width, image), 0, 0x180));
    EXPECT_EQ(Statuses(),
              (std::vector<std::uintptr_t>{kStatusWaitReset, kStatusRead, kStatusResetNewCode}));
    EXPECT_EQ(m_window.Posts().back(), (Posted{kMsgSuccess, kEepReadSucceedCode}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(Appearances(), 2u);
    EXPECT_TRUE(Chip().RunningCode());
}

TEST_P(EepromReadTest, SilentVerifyFindsADifferingByte) {
    const Width width = GetParam();
    const Bytes image = EepromImage(width, 0x100);
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), EepromWith(width, image), {}));
    Bytes differing = image;
    differing[0x80] ^= 0x01;

    EXPECT_EQ(m_flow->OpSilentVerify(WriteFile("same.bin", image)), 1);
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_EQ(g_dwReadLength, 0x100u);

    m_window.Clear();
    EXPECT_EQ(m_flow->OpSilentVerify(WriteFile("differing.bin", differing)), 0);
    // The read itself succeeded and restarted the chip; the difference is the result.
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kEepReadSucceedCode}));
    EXPECT_TRUE(Failures().empty());
    EXPECT_EQ(g_ErrCode, kCompareFailCode);
    EXPECT_TRUE(Chip().RunningCode());

    EXPECT_EQ(m_flow->OpSilentVerify(m_dirs.front() + "/missing.bin"), 0);
    EXPECT_EQ(g_ErrCode, kLoadFileFailCode);
}

TEST_P(EepromReadTest, DumpsWriteWhatWasRead) {
    const Width width = GetParam();
    const Bytes image = EepromImage(width, 0x20);
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), EepromWith(width, image), {}));
    g_dwReadLength = 0x20;
    const std::string bin = m_dirs.front() + "/out/dump.bin";
    const std::string hex = m_dirs.front() + "/out/dump.txt";

    EXPECT_EQ(m_flow->OpReadToBinFile(bin), 1);
    EXPECT_EQ(m_flow->OpReadToHexFile(hex), 1);

    std::ifstream binFile(bin, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(binFile), {}), image);
    std::ifstream hexFile(hex, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(hexFile), {}), CDumpFile::HexText(image));
    EXPECT_EQ(g_ErrCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, EepromReadTest, ::testing::Values(Width::k16, Width::k8),
                         [](const auto& info) {
                             return std::string(info.param == Width::k16 ? "SixteenBit"
                                                                         : "EightBit");
                         });

// ---- silent write ----------------------------------------------------------------------------

struct ChipCodeCase {
    Width width;
    int imageCode;
    int catalogueCode;
    bool accepted;
};

class SilentWriteChipCode : public EepromFlowTest,
                            public ::testing::WithParamInterface<ChipCodeCase> {};

TEST_P(SilentWriteChipCode, OnlyTheExactChipCodeIsAccepted) {
    const ChipCodeCase c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open(c.width, ChipIni(c.width), {}, {}, c.catalogueCode));
    const Bytes image = EepromImage(c.width, 0x80, c.imageCode);
    const std::string path = WriteFile("fw.bin", image);

    EXPECT_EQ(m_flow->OpSilentWrite(path), c.accepted ? 1 : 0) << WidthName(c.width);

    const Bytes eeprom = Chip().EepromBytes();
    if (c.accepted) {
        EXPECT_EQ(Slice(eeprom, 0, image.size()), image);
        EXPECT_EQ(g_ErrCode, 0);
    } else {
        EXPECT_TRUE(AllAre(eeprom, 0xFF));
        EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kWrongFirmwareCode}));
        EXPECT_EQ(g_ErrCode, kWrongFirmwareCode);
        EXPECT_EQ(Appearances(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, SilentWriteChipCode,
                         ::testing::Values(ChipCodeCase{Width::k16, 8, 9, false},
                                           ChipCodeCase{Width::k16, 9, 8, false},
                                           ChipCodeCase{Width::k8, 8, 9, false},
                                           ChipCodeCase{Width::k16, 9, 9, true},
                                           ChipCodeCase{Width::k8, 8, 8, true}));

TEST_F(EepromFlowTest, SilentWriteRefusesMissingAndUnparsableFiles) {
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), {}, {}));
    // A held image does not stand in for a missing file.
    m_flow->m_ImageRecord.m_image = EepromImage(Width::k16, 0x10000);
    EXPECT_EQ(m_flow->OpSilentWrite(m_dirs.front() + "/missing.bin"), 0);
    EXPECT_EQ(g_ErrCode, kLoadFileFailCode);
    EXPECT_EQ(m_flow->OpSilentWriteSN(m_dirs.front() + "/missing.bin", "1"), 0);
    EXPECT_EQ(g_ErrCode, kLoadFileFailCode);

    EXPECT_EQ(m_flow->OpSilentWrite(WriteFile("plain.bin", Bytes(0x100, 0x33))), 0);
    EXPECT_EQ(g_ErrCode, kParseFileFailCode);
    EXPECT_TRUE(AllAre(Chip().EepromBytes(), 0xFF));
}

// ---- updates of the secondary image ------------------------------------------------------

TEST_F(EepromFlowTest, SixteenBitUpdateProgramsTheSecondaryImage) {
    ASSERT_NO_FATAL_FAILURE(Open(Width::k16, ChipIni(Width::k16), {}, {}));
    const Bytes secondary = EepromImage(Width::k16, 0x80, kChipCode, 3);
    m_flow->m_ImageRecord.m_secondary = secondary;
    WatchPinsAtRestart();

    EXPECT_EQ(m_flow->OpUpdate(), 1);

    EXPECT_EQ(Slice(Chip().EepromBytes(), 0, secondary.size()), secondary);
    EXPECT_EQ(m_window.Words(kMsgSuccess), (std::vector<std::uintptr_t>{kEepUpdateSucceedCode}));
    EXPECT_EQ(g_ErrCode, 0);
    EXPECT_TRUE(Chip().RunningCode());
    ExpectProtectedAtRestart();
}

TEST_F(EepromFlowTest, EightBitUpdateAlwaysRestarts) {
    ASSERT_NO_FATAL_FAILURE(Open(Width::k8, ChipIni(Width::k8), Bytes(0x800, 0x00), {}));
    const Bytes secondary = EepromImage(Width::k8, 0x80, kChipCode, 3);
    m_flow->m_ImageRecord.m_secondary = secondary;
    g_dwDownloadOption = kOptionProgram;  // no restart bit
    WatchPinsAtRestart();

    EXPECT_EQ(m_flow->OpUpdate(), 1);

    const Bytes eeprom = Chip().EepromBytes();
    EXPECT_EQ(Slice(eeprom, 0, secondary.size()), secondary);
    EXPECT_TRUE(AllAre(Slice(eeprom, 0x80, 0x780), 0x00));
    // No empty check in this path.
    EXPECT_EQ(Statuses(), (std::vector<std::uintptr_t>{kStatusDownload, kStatusRead,
                                                       kStatusWriteTag, kStatusResetNewCode}));
    EXPECT_TRUE(Chip().RunningCode());
    EXPECT_EQ(g_ErrCode, 0);
    ExpectProtectedAtRestart();
}

// ---- serial number --------------------------------------------------------------------------

class SerialNumberDownload : public EepromFlowTest, public ::testing::WithParamInterface<Width> {
protected:
    // The reserved size of the area, and the image length: the area fills the whole image.
    static constexpr std::uint32_t kSnImageLength = 0x200;
};

TEST_P(SerialNumberDownload, PatchesTheSerialAndCountsDownOnTheWindow) {
    const Width width = GetParam();
    // The EEPROM chips keep their configuration area at offset 0.
    const Bytes image = EepromImage(width, kSnImageLength);
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), {}, image, kChipCode, 0, kSnImageLength));
    SetSetting("SaveSN", 1);
    m_flow->m_strSerialNumber = "SN-0042";
    std::vector<std::uint64_t> countdownAt;
    m_window.OnPost([&](const Posted& p) {
        if (p == Posted{kMsgStatus, 0})
            countdownAt.push_back(m_clock.NowMs());
    });

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_EQ(m_window.VerdictTexts(), (std::vector<std::string>{"2", "1"}));
    ASSERT_EQ(countdownAt.size(), 2u);
    EXPECT_EQ(countdownAt[1] - countdownAt[0], 1000u);
    const Bytes eeprom = Chip().EepromBytes();
    const std::string text(eeprom.begin(), eeprom.begin() + kSnImageLength);
    EXPECT_NE(text.find("SN-0042"), std::string::npos);
    EXPECT_EQ(eeprom[1], 0xA5);
    EXPECT_EQ(m_window.Posts().back(), (Posted{kMsgSuccess, kEepDownloadSucceedCode}));
    EXPECT_EQ(g_ErrCode, 0);
}

TEST_P(SerialNumberDownload, NoCountdownOnTheCommandLine) {
    const Width width = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), {}, EepromImage(width, kSnImageLength),
                                 kChipCode, 0, kSnImageLength));
    SetSetting("SaveSN", 1);
    m_flow->m_strSerialNumber = "SN-0042";
    g_bCmdLineMode = 1;

    EXPECT_EQ(m_flow->OpDownload(), 1);

    EXPECT_TRUE(m_window.VerdictTexts().empty());
    const auto statuses = Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0u), 0);
}

TEST_P(SerialNumberDownload, FailedPatchStopsBeforeTheDevice) {
    const Width width = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open(width, ChipIni(width), {}, EepromImage(width, kSnImageLength),
                                 kChipCode, 0, kSnImageLength));
    SetSetting("SaveSN", 1);
    m_flow->m_strSerialNumber = std::string(49, 'x');  // longer than a string block holds

    EXPECT_EQ(m_flow->OpDownload(), 0);

    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgFailure, kSaveSnFailCode}}));
    EXPECT_EQ(g_ErrCode, kSaveSnFailCode);
    EXPECT_TRUE(AllAre(Chip().EepromBytes(), 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Widths, SerialNumberDownload, ::testing::Values(Width::k16, Width::k8),
                         [](const auto& info) {
                             return std::string(info.param == Width::k16 ? "SixteenBit"
                                                                         : "EightBit");
                         });

}  // namespace
}  // namespace uafw::flowtest
