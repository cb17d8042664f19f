// The OTP block write engine against the virtual chip: choosing the VD entry and start address,
// chunked writes with failing bytes repaired by ECC entries, the verify with ECC applied, the VD
// entry and its moves, the retiring of superseded blocks and ECC entries, and the failures.
// Every scenario checks the chip's OTP bytes afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "otp_fixture.h"

namespace uafw::flowtest {
namespace {

// A VD entry moved away: its five bytes complemented, the failing byte left as it was.
VdEntry Scrapped(std::uint8_t failingFlag = 0x00) {
    return {0xFFFF, 0xFFFF, failingFlag};
}

std::string FaultList(const std::vector<std::uint16_t>& addresses) {
    std::string list;
    for (const std::uint16_t a : addresses) {
        char text[16];
        std::snprintf(text, sizeof(text), "0x%04X", a);
        list += (list.empty() ? "" : ", ") + std::string(text);
    }
    return list.empty() ? "" : "otp_fail = " + list + "\n";
}

class OtpEngineTest : public OtpFlowFixture {
protected:
    // Every entry from `from` on is free.
    void ExpectVdFreeFrom(const OtpImage& otp, int from) {
        for (int i = from; i < kOtpEntryCount; ++i)
            EXPECT_EQ(otp.VdAt(i), VdEntry{}) << "VD entry " << i;
    }
    void ExpectEccFreeFrom(const OtpImage& otp, int from) {
        for (int i = from; i < kOtpEntryCount; ++i)
            EXPECT_EQ(otp.EccAt(i), EccEntry{}) << "ECC entry " << i;
    }
    bool Succeeded() { return Failures().empty(); }
};

TEST_F(OtpEngineTest, PresetOtpReachesTheChipAndReadsBackThroughTheEngine) {
    OtpImage otp;
    otp.Bytes(0x10, {0x11, 0x22, 0x33})
        .Vd(0, 0x0000, 0x0040, kVdCode)
        .Ecc(0, 0x11, 0x99, kEccInUse);
    ASSERT_NE(StartOtp("", otp), nullptr);
    EXPECT_EQ(ChipOtp().All(), otp.All());
    EXPECT_EQ(ChipOtp().VdAt(0), (VdEntry{0, 0x40, kVdCode}));
    OtpBytes read(3);
    ASSERT_EQ(m_flow->OTP_Veriry_Cmd2(0x10, read), 1);
    EXPECT_EQ(read, (OtpBytes{0x11, 0x22, 0x33}));
    m_flow->MP_OTPGetCorrectCodeData(0x10, read);
    EXPECT_EQ(read, (OtpBytes{0x11, 0x99, 0x33}));
    EXPECT_EQ(read, otp.Corrected(0x10, 3));
}

// ---- first programming ----------------------------------------------------------------------

struct FirstCase {
    const char* name;
    std::uint8_t kind;
    std::uint16_t length;
    std::uint8_t flag;
    std::vector<std::uintptr_t> progress;  // posted during the data write
};

class OtpFirstProgramming : public OtpEngineTest,
                            public ::testing::WithParamInterface<FirstCase> {};

TEST_P(OtpFirstProgramming, WritesTheBlockAtZeroIntoVdEntryZeroAndRetiresNothing) {
    const FirstCase& c = GetParam();
    ASSERT_NE(StartOtp(), nullptr);
    const OtpBytes block = PatternBlock(c.length);
    ASSERT_EQ(ProgramBlock(c.kind, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.Slice(0, c.length), block);
    EXPECT_EQ(otp.Slice(c.length, 0x100), OtpBytes(0x100, 0)) << "nothing behind the block";
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, c.length, c.flag}));
    ExpectVdFreeFrom(otp, 1);
    ExpectEccFreeFrom(otp, 0);
    EXPECT_EQ(m_flow->m_iSelBlock, 0);
    EXPECT_EQ(m_flow->m_iPreSelBlock, 0);
    EXPECT_TRUE(LogHas("VD Flag Initial"));
    EXPECT_EQ(m_window.Words(kMsgStatus).front(), std::uintptr_t{kStatusDownload});
    EXPECT_EQ(m_window.Words(kMsgProgress), c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OtpFirstProgramming,
    ::testing::Values(FirstCase{"Code", kOtpBlockCode, 100, kVdCode, {90}},
                      FirstCase{"CodeOfTwoChunks", kOtpBlockCode, 5000, kVdCode, {75, 90}},
                      FirstCase{"Config", kOtpBlockConfig, 0x40, kVdConfig, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpEngineTest, EveryStepIsTracedWithStartAndExit) {
    ASSERT_NE(StartOtp(), nullptr);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x20)), 1);
    for (const char* step : {"OTP_UpdateEx_Cmd2", "MP_OTPWrite", "MP_CheckVDInfo", "MP_OTPReduant",
                             "MP_OTPWriteBlock", "MP_OTPAnalyzeECC", "MP_OTPWriteEnale"}) {
        const std::string name = std::string("CMpFlow_OTP::") + step + ":> ";
        EXPECT_GE(LogCount(name + "START --->>>"), 1u) << step;
        EXPECT_EQ(LogCount(name + "START --->>>"), LogCount(name + "EXIT <<<---")) << step;
    }
}

// ---- second programming ---------------------------------------------------------------------

struct SecondCase {
    const char* name;
    std::uint8_t kind;
    VdEntry vd0, vd1;     // the old code and configuration entries afterwards
    EccEntry ecc0, ecc1;  // ECC entries inside the old code and configuration blocks afterwards
};

class OtpSecondProgramming : public OtpEngineTest,
                             public ::testing::WithParamInterface<SecondCase> {};

TEST_P(OtpSecondProgramming, AppendsBehindTheNewestBlockAndRetiresTheOldOneOfItsKind) {
    const SecondCase& c = GetParam();
    OtpImage preset;
    preset.Bytes(0, PatternBlock(0x140, 9))
        .Vd(0, 0x0000, 0x0100, kVdCode)
        .Vd(1, 0x0100, 0x0040, kVdConfig)
        .Ecc(0, 0x0010, 0x77, kEccInUse)
        .Ecc(1, 0x0110, 0x66, kEccInUse);
    ASSERT_NE(StartOtp("", preset), nullptr);
    const OtpBytes block = PatternBlock(0x80, 3);
    ASSERT_EQ(ProgramBlock(c.kind, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.Slice(0x140, 0x80), block);
    EXPECT_EQ(otp.Slice(0, 0x140), preset.Slice(0, 0x140)) << "old blocks untouched";
    EXPECT_EQ(otp.VdAt(2), (VdEntry{0x140, 0x80, c.kind == kOtpBlockCode ? kVdCode : kVdConfig}));
    EXPECT_EQ(otp.VdAt(0), c.vd0);
    EXPECT_EQ(otp.VdAt(1), c.vd1);
    EXPECT_EQ(otp.EccAt(0), c.ecc0);
    EXPECT_EQ(otp.EccAt(1), c.ecc1);
    ExpectVdFreeFrom(otp, 3);
    ExpectEccFreeFrom(otp, 2);
    EXPECT_TRUE(LogHas("Find VD Flag 1"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, OtpSecondProgramming,
                         ::testing::Values(SecondCase{"Code",
                                                      kOtpBlockCode,
                                                      {0, 0x100, kVdRetired},
                                                      {0x100, 0x40, kVdConfig},
                                                      {0x10, 0x77, kEccRetired},
                                                      {0x110, 0x66, kEccInUse}},
                                           SecondCase{"Config",
                                                      kOtpBlockConfig,
                                                      {0, 0x100, kVdCode},
                                                      {0x100, 0x40, kVdRetired},
                                                      {0x10, 0x77, kEccInUse},
                                                      {0x110, 0x66, kEccRetired}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- failing bytes and ECC repair ----------------------------------------------------------

TEST_F(OtpEngineTest, FailingBytesAreRepairedByEccEntriesAndTheCorrectedReadMatches) {
    // One failing byte in each of two chunks.
    ASSERT_NE(StartOtp(FaultList({0x0005, 0x1020})), nullptr);
    const OtpBytes block = PatternBlock(0x1100);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.All()[0x0005], 0x00) << "the raw bytes differ";
    EXPECT_EQ(otp.All()[0x1020], 0x00);
    EXPECT_NE(otp.Slice(0, 0x1100), block);
    EXPECT_EQ(otp.EccAt(0), (EccEntry{0x0005, block[0x0005], kEccInUse}));
    EXPECT_EQ(otp.EccAt(1), (EccEntry{0x1020, block[0x1020], kEccInUse}));
    ExpectEccFreeFrom(otp, 2);
    EXPECT_EQ(otp.Corrected(0, 0x1100), block);
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0x1100, kVdCode}));
}

// Where the placeholder lies: first in the table, or behind a free entry (which must stay free,
// or two entries would name the same byte).
class OtpKnownBadByte : public OtpEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(OtpKnownBadByte, PlaceholderIsFilledInAndItsReportIsRecordedOnce) {
    const int index = GetParam();
    // A placeholder (value 0) for a byte known to be bad, one of whose bits already took.
    OtpImage preset;
    preset.Bytes(0x30, {0x01}).Ecc(index, 0x0030, 0x00, kEccInUse);
    ASSERT_NE(StartOtp(FaultList({0x0030}), preset), nullptr);
    OtpBytes block = PatternBlock(0x40);
    block[0x30] = 0x0F;
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.All()[0x30], 0x01);
    EXPECT_EQ(otp.EccAt(index), (EccEntry{0x0030, 0x0F, kEccInUse})) << "the placeholder is used";
    for (int i = 0; i < kOtpEntryCount; ++i) {
        if (i != index) {
            EXPECT_EQ(otp.EccAt(i), EccEntry{}) << i;
        }
    }
    EXPECT_EQ(otp.Corrected(0, 0x40), block);
    EXPECT_TRUE(LogHas("Change Data"));
    EXPECT_EQ(LogCount("Reduant Addr Again"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Places, OtpKnownBadByte, ::testing::Values(0, 1));

TEST_F(OtpEngineTest, FailingByteReportedByALaterWriteIsRecordedOnce) {
    ASSERT_NE(StartOtp(FaultList({0x0042})), nullptr);
    CMpFlow_OTP& f = *m_flow;
    f.MP_OTPInit();
    f.m_uExecECCNum = 8;
    f.m_uTotalErrorNum = 0;
    const OtpBytes chunk = PatternBlock(16);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(f.MP_OTPWriteWithRetry(0x40, f.m_uExecECCNum, chunk), 1) << round;
        EXPECT_EQ(f.m_uExecECCNum, 7u) << round;
        EXPECT_EQ(f.m_uTotalErrorNum, 1u) << round;
    }
    EXPECT_EQ(std::count(f.m_dwFailFlag.begin(), f.m_dwFailFlag.end(), 1u), 1);
    EXPECT_EQ(f.m_wFailAddr[0], 0x42);
    EXPECT_EQ(f.m_byFailValue[0], chunk[2]);
    EXPECT_EQ(LogCount("Reduant Addr Again"), 1u);
}

TEST_F(OtpEngineTest, FailingEccEntryIsRetiredAndTheByteGoesToTheNextEntry) {
    // The value byte of ECC entry 0 does not program.
    ASSERT_NE(StartOtp(FaultList({0x0005, 0x3FC2})), nullptr);
    const OtpBytes block = PatternBlock(0x40);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.EccAt(0), (EccEntry{0x0005, 0x00, kEccRetired}));
    EXPECT_EQ(otp.EccAt(1), (EccEntry{0x0005, block[5], kEccInUse}));
    ExpectEccFreeFrom(otp, 2);
    EXPECT_EQ(otp.Corrected(0, 0x40), block);
    EXPECT_TRUE(LogHas("Fail HW Error"));
}

// ---- the failing-byte budget ---------------------------------------------------------------

struct BudgetCase {
    const char* name;
    int failing;       // failing bytes in the block (one chunk)
    int placeholders;  // placeholders beyond the block's end
    bool accepted;
};

class OtpFailBudget : public OtpEngineTest, public ::testing::WithParamInterface<BudgetCase> {};

TEST_P(OtpFailBudget, MoreFailingBytesThanTheBudgetFailTheBlock) {
    const BudgetCase& c = GetParam();
    std::vector<std::uint16_t> bad;
    for (int k = 0; k < c.failing; ++k)
        bad.push_back(static_cast<std::uint16_t>(0x10 + 3 * k));
    OtpImage preset;
    for (int k = 0; k < c.placeholders; ++k)
        preset.Ecc(k, static_cast<std::uint16_t>(0x2000 + k), 0x00, kEccInUse);
    ASSERT_NE(StartOtp(FaultList(bad), preset), nullptr);
    const OtpBytes block = PatternBlock(0x100);
    const int result = ProgramBlock(kOtpBlockCode, block);
    const OtpImage otp = ChipOtp();
    if (c.accepted) {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
        EXPECT_EQ(otp.Corrected(0, 0x100), block);
        EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0x100, kVdCode}));
        return;
    }
    EXPECT_EQ(result, 0);
    ASSERT_FALSE(Failures().empty());
    EXPECT_EQ(Failures().front(), std::uintptr_t{kOtpErrorNumExceedCode});
    EXPECT_TRUE(LogHas("m_uCurErrorNum > m_uExecECCNum"));
    // The device stopped at the failing byte past the budget: the failed block reaches there.
    const std::uint16_t stop = bad.back();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, stop, kVdRetired}));
    EXPECT_EQ(otp.Slice(stop + 1, 0x100 - stop - 1), OtpBytes(0x100 - stop - 1, 0));
    ExpectEccFreeFrom(otp, c.placeholders);
    ExpectVdFreeFrom(otp, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, OtpFailBudget,
                         ::testing::Values(BudgetCase{"EightFit", 8, 0, true},
                                           BudgetCase{"NineDoNot", 9, 0, false},
                                           BudgetCase{"TwoFitBesideSixKnownBad", 2, 6, true},
                                           BudgetCase{"ThreeDoNotBesideSixKnownBad", 3, 6, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpEngineTest, NextAttemptAfterTooManyFailingBytesStartsBehindTheFailedBlock) {
    std::vector<std::uint16_t> bad;
    for (int k = 0; k < 9; ++k)
        bad.push_back(static_cast<std::uint16_t>(0x10 + k));
    ASSERT_NE(StartOtp(FaultList(bad)), nullptr);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x40)), 0);
    const OtpBytes block = PatternBlock(0x40, 5);
    m_window.Clear();
    g_ErrCode = 0;
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0x18, kVdRetired}));
    EXPECT_EQ(otp.VdAt(1), (VdEntry{0x18, 0x40, kVdCode}));
    // 0x18 is bad too: the new block repairs it.
    EXPECT_EQ(otp.EccAt(0), (EccEntry{0x18, block[0], kEccInUse}));
    EXPECT_EQ(otp.Corrected(0x18, 0x40), block);
}

// ---- VD entries ----------------------------------------------------------------------------

TEST_F(OtpEngineTest, FailingVdEntryIsScrappedAndTheEntryMovesToTheNextIndex) {
    // The flag byte of VD entry 0 does not program.
    ASSERT_NE(StartOtp(FaultList({OtpVdEntryAddress(0) + 4})), nullptr);
    const OtpBytes block = PatternBlock(0x30);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), Scrapped());
    EXPECT_EQ(otp.VdAt(1), (VdEntry{0, 0x30, kVdCode}));
    EXPECT_EQ(m_flow->m_iSelBlock, 1);
    ExpectVdFreeFrom(otp, 2);
    EXPECT_EQ(otp.Slice(0, 0x30), block);
}

TEST_F(OtpEngineTest, FailingLastVdEntryFailsTheBlock) {
    // Entries 0-14 hold earlier (retired) blocks of 16 bytes; entry 15's flag byte is bad.
    OtpImage preset;
    for (int i = 0; i < 15; ++i)
        preset.Vd(i, static_cast<std::uint16_t>(16 * i), 16, kVdRetired);
    preset.Bytes(0, PatternBlock(16 * 15, 7));
    ASSERT_NE(StartOtp(FaultList({OtpVdEntryAddress(15) + 4}), preset), nullptr);
    const OtpBytes block = PatternBlock(0x20);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, block), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpWriteBlockFailCode});
    EXPECT_TRUE(LogHas("MP_OTPReduantVDFlag Exceed 15"));
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(15), Scrapped());
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(otp.VdAt(i), preset.VdAt(i)) << i;
    EXPECT_EQ(otp.Slice(240, 0x20), block) << "the data was written before the entry failed";
}

TEST_F(OtpEngineTest, VdEntryCoveredByAnEccEntryIsRetiredWithItAndNotUsed) {
    OtpImage preset;
    preset.Ecc(0, static_cast<std::uint16_t>(OtpVdEntryAddress(0) + 2), 0x12, kEccInUse);
    ASSERT_NE(StartOtp("", preset), nullptr);
    const OtpBytes block = PatternBlock(0x30);
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0, kVdRetired}));
    EXPECT_EQ(otp.EccAt(0),
              (EccEntry{static_cast<std::uint16_t>(OtpVdEntryAddress(0) + 2), 0x12, kEccRetired}));
    EXPECT_EQ(otp.VdAt(1), (VdEntry{0, 0x30, kVdCode}));
    EXPECT_EQ(otp.Slice(0, 0x30), block);
    ExpectEccFreeFrom(otp, 1);
    EXPECT_TRUE(LogHas("VD Flag Second"));
}

TEST_F(OtpEngineTest, AllVdEntriesUsedIsRefusedWithoutWriting) {
    OtpImage preset;
    for (int i = 0; i < kOtpEntryCount; ++i)
        preset.Vd(i, static_cast<std::uint16_t>(16 * i), 16, kVdRetired);
    ASSERT_NE(StartOtp("", preset), nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x20)), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpNotEnoughVdCode});
    EXPECT_EQ(ChipOtp().All(), preset.All());
}

// ---- where the block goes ------------------------------------------------------------------

struct LengthCase {
    std::uint16_t length;  // behind a block of 16000 bytes
    bool accepted;
};

class OtpBlockEnd : public OtpEngineTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(OtpBlockEnd, BlockMayEndAt16224ButNotLater) {
    const LengthCase& c = GetParam();
    OtpImage preset;
    preset.Vd(0, 0, 16000, kVdCode);
    ASSERT_NE(StartOtp("", preset), nullptr);
    const OtpBytes block = PatternBlock(c.length);
    const int result = ProgramBlock(kOtpBlockConfig, block);
    const OtpImage otp = ChipOtp();
    if (c.accepted) {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
        EXPECT_EQ(otp.Slice(16000, c.length), block);
        EXPECT_EQ(otp.VdAt(1), (VdEntry{16000, c.length, kVdConfig}));
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpExceedLengthCode});
        EXPECT_TRUE(LogHas("Exceed Code Length"));
        EXPECT_EQ(otp.All(), preset.All()) << "nothing written";
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OtpBlockEnd,
                         ::testing::Values(LengthCase{224, true}, LengthCase{225, false}));

// The ECC table is read once for every VD entry looked at while the entry and the start address
// are chosen. One of those reads failing must not make a recorded block look absent: the new
// block would then start on top of it. The old blocks here hold zeros between their bytes, so
// the check for data behind the last block cannot see them.
struct EccReadFailCase {
    const char* name;
    std::uint32_t readsBefore;  // OTP reads that pass before the failing one
    std::vector<VdEntry> entries;
};

class OtpEccUnreadWhileChoosing : public OtpEngineTest,
                                  public ::testing::WithParamInterface<EccReadFailCase> {};

TEST_P(OtpEccUnreadWhileChoosing, RefusesTheWriteAndLeavesTheOtpAsItWas) {
    const EccReadFailCase& c = GetParam();
    OtpImage preset;
    OtpBytes sparse(0x80, 0);
    for (std::size_t i = 0; i < sparse.size(); i += 2)
        sparse[i] = static_cast<std::uint8_t>(0x11 + i);
    preset.Bytes(0, sparse);
    for (std::size_t i = 0; i < c.entries.size(); ++i)
        preset.Vd(static_cast<int>(i), c.entries[i].start, c.entries[i].length, c.entries[i].flag);
    ASSERT_NE(StartOtp("fail_opcode = 0xD7\nfail_times = 1\nfail_skip = " +
                           std::to_string(c.readsBefore) + "\n",
                       preset),
              nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x20)), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpWriteFailCode});
    EXPECT_EQ(ChipOtp().All(), preset.All()) << "nothing written over the recorded blocks";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OtpEccUnreadWhileChoosing,
    ::testing::Values(
        // VD table, entry 0 valid, entry 0 checked, entry 1 unread: entry 1 (free) is passed
        // over, entry 2 chosen and free entry 1 taken as the predecessor of start 0.
        EccReadFailCase{"FreeEntryPassedOver", 3, {{0, 0x80, kVdCode}}},
        // VD table, entry 1 valid, entries 0-2 checked, then the predecessor entry 1 unread:
        // entry 0 would be taken and the block start on entry 1's block.
        EccReadFailCase{"PredecessorUnread", 5, {{0, 0x40, kVdCode}, {0x40, 0x40, kVdConfig}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StrayCase {
    const char* name;
    std::uint32_t offset;  // behind the last block
    int count;             // nonzero bytes in a row there
    bool refused;
};

class OtpStrayData : public OtpEngineTest, public ::testing::WithParamInterface<StrayCase> {};

TEST_P(OtpStrayData, EightNonZeroBytesBehindTheLastBlockRefuseTheWrite) {
    const StrayCase& c = GetParam();
    OtpImage preset;
    preset.Vd(0, 0, 0x40, kVdCode).Bytes(0x40 + c.offset, OtpBytes(c.count, 0x5C));
    ASSERT_NE(StartOtp("", preset), nullptr);
    const OtpBytes block = PatternBlock(0x10);
    const int result = ProgramBlock(kOtpBlockCode, block);
    if (c.refused) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpAbnormalCode});
        EXPECT_TRUE(LogHas("Last OTP Write Operation Abnomal"));
        EXPECT_EQ(ChipOtp().All(), preset.All()) << "nothing written";
    } else {
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
        EXPECT_EQ(ChipOtp().VdAt(1), (VdEntry{0x40, 0x10, kVdCode}));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OtpStrayData,
                         ::testing::Values(StrayCase{"Eight", 100, 8, true},
                                           StrayCase{"EightEndingAtTheWindowEnd", 248, 8, true},
                                           StrayCase{"EightReachingPastTheWindow", 249, 8, false},
                                           StrayCase{"Seven", 200, 7, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpEngineTest, StrayBitsInsideTheBlockFailTheCompareAndTheBlockIsRecordedAsFailed) {
    OtpImage preset;
    preset.Bytes(0x03, {0x80});
    ASSERT_NE(StartOtp("", preset), nullptr);
    OtpBytes block = PatternBlock(0x20);
    block[3] = 0x01;
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, block), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kCompareFailCode});
    EXPECT_EQ(ChipOtp().VdAt(0), (VdEntry{0, 0x20, kVdRetired}));
}

TEST_F(OtpEngineTest, LockedOtpIsRefusedAndNothingIsWritten) {
    ASSERT_NE(StartOtp("otp_locked = 1\n"), nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x20)), 0);
    ASSERT_FALSE(Failures().empty());
    EXPECT_EQ(Failures().front(), std::uintptr_t{kOtpLockedCode});
    EXPECT_EQ(g_ErrCode, kOtpLockedCode);
    EXPECT_EQ(ChipOtp().All(), OtpImage().All());
    EXPECT_TRUE(LogHas(":> Lock"));
}

// ---- power cut and unreadable replies ------------------------------------------------------

TEST_F(OtpEngineTest, PowerCutMidBlockThenANewAttemptSucceedsBehindTheFailedBlock) {
    // A known-bad byte with its placeholder lies in the first chunk; the second chunk's
    // programming loses its supply after 1000 bytes.
    OtpImage preset;
    preset.Ecc(0, 0x0020, 0x00, kEccInUse);
    ASSERT_NE(
        StartOtp("otp_power_cut = 2\notp_power_cut_bytes = 1000\n" + FaultList({0x20}), preset),
        nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(6000)), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpWriteFailCode});
    OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 5096, kVdRetired}));
    EXPECT_EQ(otp.EccAt(0), (EccEntry{0x0020, 0x00, kEccRetired}));
    EXPECT_EQ(otp.Slice(5096, 0x100), OtpBytes(0x100, 0)) << "nothing past the cut";

    const OtpBytes block = PatternBlock(6000, 4);
    m_window.Clear();
    g_ErrCode = 0;
    ASSERT_EQ(ProgramBlock(kOtpBlockCode, block), 1);
    EXPECT_TRUE(Succeeded()) << ::testing::PrintToString(Failures());
    otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 5096, kVdRetired}));
    EXPECT_EQ(otp.VdAt(1), (VdEntry{5096, 6000, kVdCode}));
    EXPECT_EQ(otp.Slice(5096, 6000), block);
    ExpectVdFreeFrom(otp, 2);
    ExpectEccFreeFrom(otp, 1);
}

TEST_F(OtpEngineTest, UnreadableFailReplyIsAWriteFailureAndTheWholeBlockIsConsumed) {
    // The first failing-address request (after the data write) fails.
    ASSERT_NE(StartOtp("fail_opcode = 0xDC\nfail_times = 1\n"), nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x40)), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpWriteFailCode});
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0x40, kVdRetired}));
    ExpectVdFreeFrom(otp, 1);
}

// The read-back is only a verify when every ECC entry could be applied: here an old entry
// names a byte of the new block with another value, so the chip's code sees that value.
TEST_F(OtpEngineTest, EccEntryUnreadDuringTheVerifyFailsTheBlock) {
    OtpImage preset;
    preset.Ecc(0, 0x0005, 0x99, kEccInUse);
    // OTP reads before the verify's first ECC entry: VD table, ECC table for entry 0, the bytes
    // behind the last block, the ECC table for the budget and for the conversion, the block.
    ASSERT_NE(StartOtp("fail_opcode = 0xD7\nfail_times = 1\nfail_skip = 6\n", preset), nullptr);
    const OtpBytes block = PatternBlock(0x20);
    ASSERT_NE(block[5], 0x99);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, block), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpReadFailCode});
    EXPECT_TRUE(m_window.Words(kMsgSuccess).empty());
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 0x20, kVdRetired})) << "the block takes its entry";
    EXPECT_EQ(otp.EccAt(0), (EccEntry{0x0005, 0x99, kEccRetired}))
        << "the old entry inside the failed block is retired";
}

TEST_F(OtpEngineTest, CorrectionReportsAnEccEntryItCouldNotRead) {
    OtpImage preset;
    preset.Bytes(0x10, {0x11, 0x22, 0x33})
        .Ecc(0, 0x11, 0x99, kEccInUse)
        .Ecc(1, 0x12, 0x98, kEccInUse);
    ASSERT_NE(StartOtp("fail_opcode = 0xD7\nfail_times = 1\n", preset), nullptr);
    OtpBytes read{0x11, 0x22, 0x33};
    EXPECT_EQ(m_flow->MP_OTPGetCorrectCodeData(0x10, read), 0);
    EXPECT_EQ(read, (OtpBytes{0x11, 0x22, 0x98})) << "the entries read are applied";
    read = {0x11, 0x22, 0x33};
    EXPECT_EQ(m_flow->MP_OTPGetCorrectCodeData(0x10, read), 1);
    EXPECT_EQ(read, preset.Corrected(0x10, 3));
}

// Once block data is in the OTP, a lock state that cannot be read must not keep the block out of
// the VD table: the next attempt would start on top of it. (A locked chip refuses the write.)
struct LockUnreadCase {
    const char* name;
    int readsBefore;  // lock-state reads that pass before the failing one
    std::string faults;
    int result;
    std::vector<std::uintptr_t> failures;
    VdEntry vd0;
    VdEntry vd1{};
};

class OtpLockUnreadAtTheRecord : public OtpEngineTest,
                                 public ::testing::WithParamInterface<LockUnreadCase> {};

TEST_P(OtpLockUnreadAtTheRecord, TheBlockIsStillRecorded) {
    const LockUnreadCase& c = GetParam();
    ASSERT_NE(StartOtp("fail_request = 0x25\nfail_times = 1\nfail_skip = " +
                       std::to_string(c.readsBefore) + "\n" + c.faults),
              nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x40)), c.result);
    EXPECT_EQ(Failures(), c.failures);
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.VdAt(0), c.vd0);
    EXPECT_EQ(otp.VdAt(1), c.vd1);
    ExpectVdFreeFrom(otp, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OtpLockUnreadAtTheRecord,
    ::testing::Values(
        // Lock reads: the chunk's, then the one before the VD entry.
        LockUnreadCase{"ProgrammedBlock", 1, "", 1, {}, {0, 0x40, kVdCode}},
        LockUnreadCase{"FailedBlock",
                       1,
                       FaultList({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}),
                       0,
                       {kOtpErrorNumExceedCode},
                       {0, 0x18, kVdRetired}},
        // The flag byte of VD entry 0 does not program. Lock reads: the chunk's, the entry's,
        // the retire's of entry 0, then the one before the move to entry 1.
        LockUnreadCase{"MovedEntry",
                       3,
                       FaultList({OtpVdEntryAddress(0) + 4}),
                       1,
                       {},
                       {0xFFFF, 0xFFFF, 0x00},
                       {0, 0x40, kVdCode}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpEngineTest, UnplugDuringTheWriteFailsTheBlock) {
    ASSERT_NE(StartOtp("otp_unplug_after = 1\n"), nullptr);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x40)), 0);
    ASSERT_FALSE(Failures().empty());
    EXPECT_EQ(Failures().front(), std::uintptr_t{kOtpWriteFailCode});
    EXPECT_EQ(m_window.Words(kMsgSuccess), std::vector<std::uintptr_t>{});
    EXPECT_EQ(ChipOtp().VdAt(0), VdEntry{}) << "the device left before anything was recorded";
}

TEST_F(OtpEngineTest, CancelBetweenChunksFailsAndTheStartedBlockTakesItsEntry) {
    ASSERT_NE(StartOtp(), nullptr);
    m_window.StopAfter({kMsgProgress, 75}, 1);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(5000)), 0);
    m_window.OnPost({});
    m_window.SetStop(false);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kResetDeviceFailCode});
    const OtpImage otp = ChipOtp();
    EXPECT_EQ(otp.Slice(0, 4096), PatternBlock(4096));
    EXPECT_EQ(otp.Slice(4096, 904), OtpBytes(904, 0)) << "the second chunk is not written";
    EXPECT_EQ(otp.VdAt(0), (VdEntry{0, 5000, kVdRetired}));
}

// ---- steps on their own --------------------------------------------------------------------

TEST_F(OtpEngineTest, RepairWithoutAnyUsableEccEntryWritesNothingAndFails) {
    OtpImage preset;
    for (int i = 0; i < kOtpEntryCount; ++i)
        preset.Ecc(i, static_cast<std::uint16_t>(0x100 + i), 0x33, kEccRetired);
    ASSERT_NE(StartOtp("", preset), nullptr);
    CMpFlow_OTP& f = *m_flow;
    EXPECT_EQ(f.MP_OTPReduantDetail(0x10, 0x44), kOtpEccNoEntry);
    f.MP_OTPInit();
    f.m_wFailAddr[0] = 0x10;
    f.m_byFailValue[0] = 0x44;
    f.m_dwFailFlag[0] = 1;
    f.m_uTotalErrorNum = 1;
    f.m_uVirtualECCNum = 4;  // counters that claim entries the table does not have
    EXPECT_EQ(f.MP_OTPReduant(), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpReduantFailCode});
    EXPECT_EQ(ChipOtp().All(), preset.All());
}

struct StrayAddressCase {
    const char* name;
    std::uint32_t chunkAddress;  // where the engine believes the chunk was written
    std::size_t chunkLength;
};

class OtpFailAddressOutsideChunk : public OtpEngineTest,
                                   public ::testing::WithParamInterface<StrayAddressCase> {};

TEST_P(OtpFailAddressOutsideChunk, IsAnInvalidAddressAndNothingIsRecorded) {
    const StrayAddressCase& c = GetParam();
    ASSERT_NE(StartOtp(FaultList({0x0105})), nullptr);
    CMpFlow_OTP& f = *m_flow;
    // The device reports 0x0105, which is within 0x4000 of the chunk but not inside it.
    ASSERT_EQ(f.OtpWrite(0x0100, 8, OtpBytes(16, 0x3C)), 1);
    f.MP_OTPInit();
    f.m_uExecECCNum = 8;
    f.m_wCurAddr = 0xFFFF;
    EXPECT_EQ(f.MP_OTPAnalyzeECC(c.chunkAddress, PatternBlock(c.chunkLength)), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpFailAddressCode});
    EXPECT_TRUE(LogHas("Invalid Addr"));
    EXPECT_EQ(f.m_wCurAddr, 0x0110) << "the device's current address";
    EXPECT_EQ(std::count(f.m_dwFailFlag.begin(), f.m_dwFailFlag.end(), 1u), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, OtpFailAddressOutsideChunk,
                         ::testing::Values(StrayAddressCase{"BeforeTheChunk", 0x0200, 16},
                                           StrayAddressCase{"PastTheChunksEnd", 0x00F8, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OtpEngineTest, ReplyCountBeyondItsEightSlotsIsNeverReadPastThem) {
    std::vector<std::uint16_t> bad;
    for (int k = 0; k < 10; ++k)
        bad.push_back(static_cast<std::uint16_t>(0x40 + k));
    ASSERT_NE(StartOtp(FaultList(bad)), nullptr);
    CMpFlow_OTP& f = *m_flow;
    const OtpBytes chunk = PatternBlock(16);
    ASSERT_EQ(f.OtpWrite(0x40, 16, chunk), 1);  // the device reports 10 and lists 8
    f.MP_OTPInit();
    f.m_uExecECCNum = 16;  // a budget that would admit them all
    EXPECT_EQ(f.MP_OTPAnalyzeECC(0x40, chunk), 0);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kOtpErrorNumExceedCode});
    EXPECT_EQ(std::count(f.m_dwFailFlag.begin(), f.m_dwFailFlag.end(), 1u), 8);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(f.m_wFailAddr[k], 0x40 + k);
}

TEST_F(OtpEngineTest, BlockLongerThanItsReferenceIsRefusedBeforeWriting) {
    ASSERT_NE(StartOtp(), nullptr);
    PrepareBlock(kOtpBlockCode, PatternBlock(0x20));
    m_flow->m_otpBlockReference.resize(0x10);
    EXPECT_EQ(m_flow->OTP_UpdateEx_Cmd2(m_flow->m_otpBlock, 0x20), 0);
    EXPECT_EQ(m_flow->OTP_UpdateEx_Cmd2(m_flow->m_otpBlock, 0x40), 0);
    EXPECT_EQ(Failures(), (std::vector<std::uintptr_t>{kMallocFailCode, kMallocFailCode}));
    EXPECT_EQ(ChipOtp().All(), OtpImage().All());
}

TEST_F(OtpEngineTest, CancelBeforeTheWriteIsReportedAndWritesNothing) {
    ASSERT_NE(StartOtp(), nullptr);
    m_window.SetStop(true);
    EXPECT_EQ(ProgramBlock(kOtpBlockCode, PatternBlock(0x20)), 0);
    m_window.SetStop(false);
    EXPECT_EQ(Failures(), std::vector<std::uintptr_t>{kResetDeviceFailCode});
    EXPECT_EQ(ChipOtp().All(), OtpImage().All());
}

}  // namespace
}  // namespace uafw::flowtest
