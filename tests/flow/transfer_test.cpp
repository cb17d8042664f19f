// The chunked transfers against the virtual chip: what lands in the chip's memories, the device
// address rule of each chip code, status words and progress bands, chunk retries, cancel after k
// chunks, and the SPI empty check's 16 KiB pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "flow/MpFlow4.h"
#include "flow_fixture.h"
#include "platform/OperationLog.h"

namespace {

using uafw::flowtest::FlowSimFixture;
using uafw::flowtest::Posted;

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>((i * 7 + seed + i / 4096) & 0xFF);
    // Never all-erased within a chunk.
    for (std::size_t i = 0; i < size; i += 4096)
        data[i] = 0x5A;
    return data;
}

// Progress words of a band after each chunk of a transfer.
std::vector<std::uintptr_t> Band(int start, int width, std::uint32_t chunk, std::uint32_t total) {
    std::vector<std::uintptr_t> words;
    for (std::uint32_t done = 0; done < total;) {
        done = std::min(done + chunk, total);
        words.push_back(static_cast<std::uintptr_t>(start + std::uint64_t{done} * width / total));
    }
    return words;
}

class Transfers : public FlowSimFixture {
protected:
    void StartFlashChip(std::uint16_t chipId, int chipCode, const char* faults = "") {
        char chip[160];
        std::snprintf(chip, sizeof(chip), "[chip]\nid = 0x%04X\n%s", chipId, faults);
        Start({chip});
        UseChipCode(chipId, chipCode);
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
        ASSERT_EQ(m_flow.MP_SPIWriteProtectOff(), 1);
        m_window.Clear();
    }
    void StartEepromChip(const char* memory) {
        char chip[64];
        std::snprintf(chip, sizeof(chip), "[chip]\nmemory = %s\n", memory);
        Start({chip});
        ASSERT_EQ(m_flow.MP_OpenDevice(0), 1);
        m_window.Clear();
    }
    void ProgramFlash(std::uint32_t address, const std::vector<std::uint8_t>& data) {
        ASSERT_EQ(DA_SpiWrite(DA_GetDeviceNode(), address, static_cast<std::uint32_t>(data.size()),
                              data.data(), 0),
                  1);
        m_window.Clear();
    }
    std::vector<std::uint8_t> FlashAt(std::uint32_t address, std::uint32_t length) {
        const auto flash = Chip().FlashBytes();
        return std::vector<std::uint8_t>(flash.begin() + address, flash.begin() + address + length);
    }

    CMpFlow4 m_flow;
};

// ---- SPI write -------------------------------------------------------------------------------

struct AddressCase {
    int chipCode;
    std::uint16_t chipId;
    std::uint32_t length;
    std::uint32_t base;  // where the image lands
};

class SpiWriteAddress : public Transfers, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(SpiWriteAddress, ImageLandsAtTheChipCodesAddressWithDownloadBand) {
    const AddressCase& c = GetParam();
    StartFlashChip(c.chipId, c.chipCode);
    const auto data = Pattern(c.length);
    EXPECT_EQ(m_flow.MP_SPIWrite(data, c.length), 1);
    EXPECT_EQ(FlashAt(c.base, c.length), data);
    // Nothing before or behind it.
    if (c.base > 0) {
        EXPECT_EQ(FlashAt(0, 0x100), std::vector<std::uint8_t>(0x100, 0xFF));
    }
    EXPECT_EQ(FlashAt(c.base + c.length, 0x100), std::vector<std::uint8_t>(0x100, 0xFF));

    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusDownload}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(35, 30, 4096, c.length));
    EXPECT_EQ(m_window.Posts().front(), (Posted{kMsgStatus, kStatusDownload}));
}

INSTANTIATE_TEST_SUITE_P(ChipCodes, SpiWriteAddress,
                         ::testing::Values(AddressCase{25, 0xD011, 3 * 4096 + 100, 0},
                                           AddressCase{23, 0xE011, 3 * 4096 + 100, 0x10000},
                                           AddressCase{26, 0x1011, 0x20000, 0x20000},
                                           AddressCase{26, 0x1011, 5000, 5000}),
                         [](const auto& info) {
                             return "Code" + std::to_string(info.param.chipCode) + "Length" +
                                    std::to_string(info.param.length);
                         });

TEST_F(Transfers, SpiWriteOfLengthZeroPostsOnlyItsStatusWord) {
    StartFlashChip(0xD011, 25);
    const auto data = Pattern(4096);
    EXPECT_EQ(m_flow.MP_SPIWrite(data, 0), 0);
    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgStatus, kStatusDownload}}));
    EXPECT_EQ(FlashAt(0, 4096), std::vector<std::uint8_t>(4096, 0xFF));
}

TEST_F(Transfers, SpiWriteLongerThanItsBufferWritesNothing) {
    StartFlashChip(0xD011, 25);
    const auto data = Pattern(4096);
    EXPECT_EQ(m_flow.MP_SPIWrite(data, 4097), 0);
    EXPECT_EQ(FlashAt(0, 4096), std::vector<std::uint8_t>(4096, 0xFF));
}

TEST_F(Transfers, CancelAfterKChunksStopsThere) {
    StartFlashChip(0xD011, 25);
    constexpr int k = 3;
    auto progress = std::make_shared<int>(0);
    m_window.OnPost([this, progress](const Posted& p) {
        if (p.message == kMsgProgress && ++*progress == k)
            m_window.SetStop(true);
    });
    const auto data = Pattern(8 * 4096);
    EXPECT_EQ(m_flow.MP_SPIWrite(data, 8 * 4096), 0);
    EXPECT_EQ(FlashAt(0, k * 4096),
              std::vector<std::uint8_t>(data.begin(), data.begin() + k * 4096));
    EXPECT_EQ(FlashAt(k * 4096, 5 * 4096), std::vector<std::uint8_t>(5 * 4096, 0xFF));
    // The last progress posted is the k-th chunk's.
    const auto words = m_window.Words(kMsgProgress);
    ASSERT_EQ(words.size(), static_cast<std::size_t>(k));
    EXPECT_EQ(words.back(), 35u + k * 30u / 8u);
}

struct RetryCase {
    std::uint32_t failures;
    int result;
};

class ChunkRetry : public Transfers, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(ChunkRetry, AChunkGetsEightAttempts) {
    char faults[96];
    // SPI write is vendor request 0x2F on the virtual chip.
    std::snprintf(faults, sizeof(faults), "[faults]\nfail_request = 0x2F\nfail_times = %u\n",
                  GetParam().failures);
    StartFlashChip(0xD011, 25, faults);
    const auto data = Pattern(2 * 4096);
    EXPECT_EQ(m_flow.MP_SPIWrite(data, 2 * 4096), GetParam().result);
    if (GetParam().result == 1) {
        EXPECT_EQ(FlashAt(0, 2 * 4096), data);
    } else {
        EXPECT_EQ(FlashAt(0, 2 * 4096), std::vector<std::uint8_t>(2 * 4096, 0xFF));
        EXPECT_TRUE(m_window.Words(kMsgProgress).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, ChunkRetry, ::testing::Values(RetryCase{7, 1}, RetryCase{8, 0}),
                         [](const auto& info) {
                             return "Fails" + std::to_string(info.param.failures);
                         });

// ---- SPI empty check ---------------------------------------------------------------------------

TEST_F(Transfers, EmptyCheckReadsOnlyTheFirst4KiBOfEvery16KiB) {
    StartFlashChip(0xD011, 25);
    // Not erased inside a skipped chunk: the check does not see it.
    ProgramFlash(0x1000 + 5, {0x00});
    ProgramFlash(0x6000 + 7, {0x00});
    std::vector<std::uint8_t> buffer(0x10000, 0x00);
    EXPECT_EQ(m_flow.MP_CheckSPIFlashEmpty(buffer, 0x10000), 1);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusCheckEmpty}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(5, 30, 4096, 0x10000));

    // Inside a read chunk it fails the check.
    ProgramFlash(0x4000 + 9, {0x00});
    EXPECT_EQ(m_flow.MP_CheckSPIFlashEmpty(buffer, 0x10000), 0);
    EXPECT_EQ(buffer[0x4009], 0x00);
}

TEST_F(Transfers, EmptyCheckOfTheBankedChipReadsEverythingAtItsAddress) {
    StartFlashChip(0xE011, 23);
    ProgramFlash(0x1000 + 5, {0x00});  // the first bank is not checked
    std::vector<std::uint8_t> buffer(0x8000, 0x00);
    EXPECT_EQ(m_flow.MP_CheckSPIFlashEmpty(buffer, 0x8000), 1);
    ProgramFlash(0x10000 + 0x1005, {0x00});  // bit 12 set, still read for chip code 23
    EXPECT_EQ(m_flow.MP_CheckSPIFlashEmpty(buffer, 0x8000), 0);
}

TEST_F(Transfers, EmptyCheckLogsAChunkThatCannotBeRead) {
    // SPI read is vendor request 0x2E; it fails for good.
    StartFlashChip(0xD011, 25, "[faults]\nfail_request = 0x2E\nfail_times = 1000\n");
    std::vector<std::string> lines;
    uafw::ScopedLogObserver observer(
        [&](const std::u16string& line) { lines.emplace_back(line.begin(), line.end()); });
    std::vector<std::uint8_t> buffer(0x4000, 0xFF);
    EXPECT_EQ(m_flow.MP_CheckSPIFlashEmpty(buffer, 0x4000), 0);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("----------------: Read Flash Code Fail") != std::string::npos;
    }));
}

// ---- SPI verify read and read ----------------------------------------------------------------

TEST_F(Transfers, VerifyReadSkipsChunksWhoseReferenceIsErased) {
    StartFlashChip(0xD011, 25);
    auto reference = Pattern(3 * 4096);
    std::fill(reference.begin() + 4096, reference.begin() + 2 * 4096, 0xFF);
    const auto flash = Pattern(3 * 4096, 9);  // differs from the reference everywhere
    ProgramFlash(0, flash);
    std::vector<std::uint8_t> buffer = reference;
    EXPECT_EQ(m_flow.MP_SPIVerifyRead(buffer, 3 * 4096), 1);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 4096, flash.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 4096, buffer.begin() + 2 * 4096,
                            [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(buffer.begin() + 2 * 4096, buffer.end(), flash.begin() + 2 * 4096));
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusVerify}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(65, 30, 4096, 3 * 4096));
}

TEST_F(Transfers, ReadTakesTheFlashFromAddressZeroWhateverTheChipCode) {
    StartFlashChip(0xE011, 23);
    const auto flash = Pattern(2 * 4096 + 10);
    ProgramFlash(0, flash);
    std::vector<std::uint8_t> buffer(flash.size(), 0x00);
    EXPECT_EQ(m_flow.MP_SPIRead(buffer, static_cast<std::uint32_t>(buffer.size())), 1);
    EXPECT_EQ(buffer, flash);
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusRead}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(10, 80, 4096, 2 * 4096 + 10));
}

// ---- EEPROM transfers --------------------------------------------------------------------------

TEST_F(Transfers, Eeprom16WriteVerifyAndReadIn8ByteChunks) {
    StartEepromChip("eeprom16");
    const auto data = Pattern(21);
    EXPECT_EQ(m_flow.MP_EEP16Write(data, 21), 1);
    const auto eeprom = Chip().EepromBytes();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), eeprom.begin()));
    EXPECT_EQ(eeprom[21], 0xFF);
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(50, 20, 8, 21));

    m_window.Clear();
    std::vector<std::uint8_t> buffer = data;
    EXPECT_EQ(m_flow.MP_EEP16VerifyRead(buffer, 21), 1);
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusVerify}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(70, 20, 8, 21));

    m_window.Clear();
    std::vector<std::uint8_t> read(21, 0x00);
    EXPECT_EQ(m_flow.MP_EEP16Read(read, 21), 1);
    EXPECT_EQ(read, data);
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusRead}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(10, 80, 8, 21));
}

TEST_F(Transfers, Eeprom8WriteEmptyCheckAndRead) {
    StartEepromChip("eeprom8");
    std::vector<std::uint8_t> buffer(64, 0x00);
    EXPECT_EQ(m_flow.MP_EEP8CheckEmpty(buffer), 1);
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusCheckEmpty}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(30, 20, 8, 64));
    std::vector<std::uint8_t> small(63, 0xFF);
    EXPECT_EQ(m_flow.MP_EEP8CheckEmpty(small), 0);  // must hold the 64 bytes

    m_window.Clear();
    const auto data = Pattern(70);
    EXPECT_EQ(m_flow.MP_EEP8Write(data, 70), 1);
    const auto eeprom = Chip().EepromBytes();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), eeprom.begin()));
    EXPECT_EQ(m_window.Words(kMsgStatus), (std::vector<std::uintptr_t>{kStatusDownload}));
    EXPECT_EQ(m_window.Words(kMsgProgress), Band(50, 20, 8, 70));

    EXPECT_EQ(m_flow.MP_EEP8CheckEmpty(buffer), 0);

    std::vector<std::uint8_t> read(70, 0x00);
    EXPECT_EQ(m_flow.MP_EEP8Read(read, 70), 1);
    EXPECT_EQ(read, data);
}

class EepromTag : public Transfers, public ::testing::WithParamInterface<std::string> {};

TEST_P(EepromTag, TagWritePostsWriteTagAndMarksTheEeprom) {
    StartEepromChip(GetParam().c_str());
    ASSERT_NE(Chip().EepromBytes()[1], 0xA5);
    const int result =
        GetParam() == "eeprom16" ? m_flow.MP_EEP16WriteTag() : m_flow.MP_EEP8WriteTag();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Chip().EepromBytes()[1], 0xA5);
    EXPECT_EQ(m_window.Posts(), (std::vector<Posted>{{kMsgStatus, kStatusWriteTag}}));
}

INSTANTIATE_TEST_SUITE_P(Widths, EepromTag, ::testing::Values("eeprom16", "eeprom8"),
                         [](const auto& info) { return info.param; });

}  // namespace
