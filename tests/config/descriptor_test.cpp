// The block codec of the configuration area: header forms, block kinds and their byte layouts, the
// reader's walk with the fixed leading blocks, the writer's rebuild and its capacity rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "config/Descriptor.h"
#include "config/DescriptorKinds.h"
#include "config/DescriptorKinds7020.h"
#include "config/DescriptorKinds7040.h"
#include "config/DescriptorReader.h"
#include "config/DescriptorWriter.h"

namespace uafw {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Assembles an area from raw blocks: header first, then the blocks in order; Build() fills in the
// total length and the count (unless they were overridden) and pads with 0xFF.
class AreaBuilder {
public:
    AreaBuilder(std::uint8_t memoryKind, std::uint8_t chipCode, std::uint8_t bootOption = 2)
        : m_bytes{memoryKind, 0xA5, static_cast<std::uint8_t>(chipCode << 3 | bootOption),
                  0,          0,    0} {}
    AreaBuilder& Block(const Bytes& block) {
        m_bytes.insert(m_bytes.end(), block.begin(), block.end());
        ++m_count;
        return *this;
    }
    // Raw bytes behind the chain that are not a block (a code blob).
    AreaBuilder& Tail(const Bytes& bytes) {
        m_tail.insert(m_tail.end(), bytes.begin(), bytes.end());
        return *this;
    }
    std::size_t ChainLength() const { return m_bytes.size(); }
    Bytes Build(std::size_t padTo = 0, int count = -1) const {
        Bytes area = m_bytes;
        area[3] = static_cast<std::uint8_t>(area.size() & 0xFF);
        area[4] = static_cast<std::uint8_t>(area.size() >> 8);
        area[5] = static_cast<std::uint8_t>(count >= 0 ? count : m_count);
        area.insert(area.end(), m_tail.begin(), m_tail.end());
        if (area.size() < padTo)
            area.resize(padTo, 0xFF);
        return area;
    }

private:
    Bytes m_bytes;
    Bytes m_tail;
    int m_count = 0;
};

Bytes StringBlock(std::uint8_t type, const std::string& text) {
    Bytes b(text.size() + 4, 0);
    b[0] = static_cast<std::uint8_t>(text.size() + 4);
    b[1] = type;
    b[2] = static_cast<std::uint8_t>(text.size() + 2);
    b[3] = 3;
    for (std::size_t i = 0; i < text.size(); ++i)
        b[4 + i] = static_cast<std::uint8_t>(text[i]);
    return b;
}

// Walks the remaining blocks of an open reader as the image operations do. Returns the blocks
// produced, or nothing when the chain is broken.
struct WalkResult {
    bool complete = false;
    std::vector<std::unique_ptr<CDescriptor>> blocks;
    int skipped = 0;
};

WalkResult Walk(DescriptorReader& reader, std::uint8_t count) {
    WalkResult r;
    for (int i = 0; i < count; ++i) {
        if (auto block = reader.NextBlock()) {
            r.blocks.push_back(std::move(block));
        } else if (reader.SkipBlock()) {
            ++r.skipped;
        } else {
            return r;
        }
    }
    r.complete = true;
    return r;
}

// ---------------------------------------------------------------------------------------------
// Block header forms

TEST(BlockHeader, DecodesLongAndShortForms) {
    struct Case {
        Bytes bytes;
        std::uint16_t length;
        std::uint8_t type;
        bool longForm;
    };
    const Case cases[] = {
        {{0xFF, 0xE7, 0x34, 0x12}, 0x1234, 39, true},  // the long form of type 39
        {{0xFF, 0x27}, 255, 0x27, false},              // b0 = 0xFF, any other b1: short
        {{0xFF, 0xFF}, 255, 0xFF, false},              // erased filler
        {{0xFF, 0xC7}, 255, 0xC7, false},              // 10-bit length 1023 but type 7
        {{0x06, 0x2F}, 6, 47, false},
        {{0x2C, 0x5B}, 0x2C, 0x5B, false},  // a 300-byte codec script seen by the walk
    };
    for (const Case& c : cases) {
        const auto h = DecodeBlockHeader(c.bytes);
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(h->length, c.length);
        EXPECT_EQ(h->type, c.type);
        EXPECT_EQ(h->longForm, c.longForm);
    }
}

TEST(BlockHeader, NeedsTheBytesOfItsForm) {
    EXPECT_FALSE(DecodeBlockHeader(Bytes{}).has_value());
    EXPECT_FALSE(DecodeBlockHeader(Bytes{0x06}).has_value());
    EXPECT_FALSE(DecodeBlockHeader(Bytes{0xFF, 0xE7, 0x10}).has_value());
}

TEST(BlockHeader, EncodesLongFormFrom1023Bytes) {
    Bytes out(4, 0);
    ASSERT_TRUE(EncodeBlockHeader(out, 1023, 39));
    EXPECT_EQ(out, (Bytes{0xFF, 0xE7, 0xFF, 0x03}));
    ASSERT_TRUE(EncodeBlockHeader(out, 255, 1));
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 1);
    // 256 to 1022 bytes have no header form of their own.
    EXPECT_FALSE(EncodeBlockHeader(out, 300, 27));
}

TEST(BlockHeader, CodecScriptOf300BytesUsesItsTenBitForm) {
    CDescI2SCodecCommonSetting script;
    ASSERT_TRUE(script.SetScript(Bytes(296, 0x11)));
    script.SetValue(0xBEEF);
    Bytes out(300, 0);
    ASSERT_TRUE(script.Serialize(out));
    EXPECT_EQ(out[0], 0x2C);
    EXPECT_EQ(out[1], 0x5B);
    EXPECT_EQ(out[298], 0xBE);
    EXPECT_EQ(out[299], 0xEF);

    // Its own Parse reads the 10-bit length back.
    CDescI2SCodecCommonSetting back;
    ASSERT_TRUE(back.Parse(out));
    EXPECT_EQ(back.Length(), 300);
    EXPECT_EQ(back.Script(), Bytes(296, 0x11));
    EXPECT_EQ(back.Value(), 0xBEEF);

    // The chain walk takes the same header as a short block of type 0x5B and length 0x2C.
    const Bytes area = AreaBuilder(0x55, 17).Block(out).Build();
    DescriptorReader reader;
    reader.Open(area);
    ASSERT_TRUE(reader.ReadHeader().has_value());
    auto block = reader.NextBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_NE(dynamic_cast<CDescDummy*>(block.get()), nullptr);
    EXPECT_EQ(block->Type(), 0x5B);
    EXPECT_EQ(block->Length(), 0x2C);
    EXPECT_EQ(reader.Position(), 6u + 0x2C);
}

// ---------------------------------------------------------------------------------------------
// The factory

TEST(CreateDescriptor, PicksTheKindOfTheTypeAndChip) {
    struct Case {
        std::uint8_t type;
        std::uint8_t chip;
        std::type_index kind;
    };
    const Case cases[] = {
        {1, 25, typeid(CDescStringManu)},
        {2, 17, typeid(CDescStringProd)},
        {3, 21, typeid(CDescStringSN)},
        {6, 26, typeid(CDescStringUBistName)},
        {7, 24, typeid(CDescStringIAD)},
        {4, 23, typeid(CDescVIDPID)},
        {15, 17, typeid(CDescCodeInfo)},
        {8, 17, typeid(CDescI2S0_7020)},
        {8, 25, typeid(CDescDummy)},
        {12, 17, typeid(CDescI2SCodec0Setting)},
        {16, 17, typeid(CDescI2SCodec1Setting)},
        {27, 17, typeid(CDescI2SCodecCommonSetting)},
        {33, 17, typeid(CDescI2SCodecSuspendSetting)},
        {27, 21, typeid(CDescDummy)},
        {47, 17, typeid(CDescEndPointType)},
        {47, 25, typeid(CDescDummy)},
        {52, 17, typeid(CDescI2SEPGVolumeSetting)},
        {55, 17, typeid(CDescI2SEPJVolumeSetting)},
        {58, 17, typeid(CDescI2SCodec1MuteSetting)},
        {59, 17, typeid(CDescDummy)},
        {14, 21, typeid(CDescSLB)},
        {14, 25, typeid(CDescDummy)},
        {39, 24, typeid(CDescSmallCachecode)},
        {39, 25, typeid(CDescDummy)},
        {64, 21, typeid(CDescUACTop)},
        {70, 24, typeid(CDescEPIInfo)},
        {74, 21, typeid(CDescGPIODrivingInfo)},
        {75, 21, typeid(CDescDummy)},
        {20, 25, typeid(CDescDummy)},
        {0, 17, typeid(CDescDummy)},
    };
    for (const Case& c : cases) {
        auto block = CreateDescriptor(c.type, c.chip);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(std::type_index(typeid(*block)), c.kind)
            << "type " << int(c.type) << " chip " << int(c.chip);
    }
}

TEST(CreateDescriptor, FixedKindsHaveTheirBlockLength) {
    struct Case {
        std::uint8_t type;
        std::uint8_t chip;
        std::size_t length;
    };
    const Case cases[] = {
        {4, 25, 8},   {15, 25, 6},  {14, 21, 15}, {64, 21, 18}, {65, 21, 17}, {67, 24, 17},
        {68, 21, 16}, {70, 21, 16}, {71, 21, 14}, {72, 21, 8},  {73, 21, 10}, {74, 21, 12},
        {8, 17, 29},  {9, 17, 10},  {10, 17, 17}, {11, 17, 6},  {12, 17, 50}, {16, 17, 26},
        {47, 17, 18}, {48, 17, 56}, {52, 17, 56}, {49, 17, 32}, {55, 17, 32}, {56, 17, 38},
        {57, 17, 38}, {58, 17, 26},
    };
    for (const Case& c : cases) {
        auto block = CreateDescriptor(c.type, c.chip);
        EXPECT_EQ(block->EncodedLength(), c.length) << "type " << int(c.type);
    }
    EXPECT_EQ(CDescHWAPVersion().EncodedLength(), 6u);
    EXPECT_EQ(CDescEEPInfo().EncodedLength(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Block kinds: each parses and writes back the same bytes, with its byte order

struct KindCase {
    const char* name;
    std::uint8_t chip;
    Bytes block;
};

class BlockKindRoundTrip : public ::testing::TestWithParam<KindCase> {};

TEST_P(BlockKindRoundTrip, WritesBackTheBytesItParsed) {
    const KindCase& c = GetParam();
    auto h = DecodeBlockHeader(c.block);
    ASSERT_TRUE(h.has_value());
    auto block = CreateDescriptor(h->type, c.chip);
    ASSERT_TRUE(block->Parse(c.block));
    EXPECT_EQ(dynamic_cast<CDescDummy*>(block.get()), nullptr) << "expected a specific kind";
    Bytes out(c.block.size(), 0x00);
    ASSERT_TRUE(block->Serialize(out));
    EXPECT_EQ(out, c.block);
}

Bytes Sequence(std::uint8_t length, std::uint8_t type, std::uint8_t first = 0x10) {
    Bytes b{length, type};
    for (std::uint8_t i = 2; i < length; ++i)
        b.push_back(static_cast<std::uint8_t>(first + i));
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BlockKindRoundTrip,
    ::testing::Values(
        KindCase{"String", 25, StringBlock(1, "Tavenic")},
        KindCase{"VidPid", 25, {8, 4, 0x09, 0x12, 0x50, 0x70, 0x00, 0x01}},
        KindCase{"Slb", 21, Sequence(15, 14)},
        KindCase{
            "UacTop",
            21,
            {18, 64, 0x02, 0x00, 1, 0, 4, 4, 7, 3, 1, 0xFF, 0x12, 0x09, 0x70, 0x40, 0x01, 0x00}},
        KindCase{"EpA", 21, Sequence(17, 65)}, KindCase{"EpC", 24, Sequence(17, 67)},
        KindCase{"EpG", 21, Sequence(16, 68)},
        KindCase{"InterCodec", 21, {14, 71, 1, 2, 3, 4, 5, 6, 0x40, 8, 9, 10, 11, 12}},
        KindCase{"Spdif", 21, Sequence(8, 72)}, KindCase{"Uart", 24, Sequence(10, 73)},
        KindCase{"Gpio", 21, Sequence(12, 74)}, KindCase{"I2S0", 17, Sequence(29, 8)},
        KindCase{"I2S0Channel", 17, Sequence(10, 9)}, KindCase{"I2S1", 17, Sequence(17, 10)},
        KindCase{"I2S1Channel", 17, Sequence(6, 11)}, KindCase{"Codec0", 17, Sequence(50, 12)},
        KindCase{"Codec1", 17, Sequence(26, 16)}, KindCase{"Script", 17, Sequence(20, 30)},
        KindCase{"EndPointType", 17, Sequence(18, 47)}, KindCase{"VolumeA", 17, Sequence(56, 48)},
        KindCase{"VolumeB", 17, Sequence(32, 49)}, KindCase{"MuteIn", 17, Sequence(38, 56)},
        KindCase{"Mute1", 17, Sequence(26, 58)}),
    [](const ::testing::TestParamInfo<KindCase>& info) { return info.param.name; });

TEST(BlockKinds, FieldsHaveTheirByteOrder) {
    CDescVIDPID vidpid;
    ASSERT_TRUE(vidpid.Parse(Bytes{8, 4, 0x09, 0x12, 0x50, 0x70, 0x00, 0x01}));
    EXPECT_EQ(vidpid.Vid(), 0x1209);
    EXPECT_EQ(vidpid.Pid(), 0x7050);
    EXPECT_EQ(vidpid.Revision(), 0x0100);

    CDescUACTop top;
    ASSERT_TRUE(top.Parse(
        Bytes{18, 64, 0x02, 0x00, 1, 0, 4, 4, 7, 3, 1, 0xFF, 0x12, 0x09, 0x70, 0x40, 0x01, 0x00}));
    EXPECT_EQ(top.UacVersion(), 0x0200);
    EXPECT_EQ(top.Vid(), 0x1209);
    EXPECT_EQ(top.Pid(), 0x7040);
    EXPECT_EQ(top.Revision(), 0x0100);

    CDescInterUartInfo uart;
    ASSERT_TRUE(uart.Parse(Bytes{10, 73, 0, 1, 8, 0x18, 0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(uart.BaudRate(), 115200u);

    CDescEPAInfo ep;
    ASSERT_TRUE(ep.Parse(
        Bytes{17, 65, 1, 0xBB, 0x80, 16, 0, 3, 0x06, 0x03, 0x81, 0x00, 0x00, 0x00, 0x01, 0x00, 1}));
    EXPECT_EQ(ep.SampleRate(), 48000);

    CDescI2SEPAVolumeSetting volume;
    Bytes v(56, 0);
    v[0] = 56;
    v[1] = 48;
    v[50] = 0x7F;  // maximum 127 dB
    v[52] = 0x81;  // minimum -127 dB
    v[55] = 0x80;  // resolution 0.5 dB
    ASSERT_TRUE(volume.Parse(v));
    EXPECT_EQ(volume.VolumeMaximum(), 0x7F00);

    CDescSLB slb;
    ASSERT_TRUE(slb.Parse(Sequence(15, 14)));
    // [4-7] little-endian: 0x14 0x15 0x16 0x17.
    EXPECT_EQ(slb.Field(2), 0x17161514u);
}

TEST(BlockKinds, WritesForcedRangesOfUacTopAndCodecLink) {
    struct Case {
        std::uint8_t type;
        std::uint8_t given;
        std::uint8_t written;
    };
    const Case cases[] = {{64, 0, 1}, {64, 7, 7}, {64, 16, 15}, {64, 200, 15},
                          {71, 0, 2}, {71, 1, 2}, {71, 64, 64}, {71, 200, 127}};
    for (const Case& c : cases) {
        auto block = CreateDescriptor(c.type, 21);
        Bytes in(block->EncodedLength(), 0x05);
        in[0] = static_cast<std::uint8_t>(in.size());
        in[1] = c.type;
        in[8] = c.given;
        ASSERT_TRUE(block->Parse(in));
        Bytes out(in.size(), 0);
        ASSERT_TRUE(block->Serialize(out));
        EXPECT_EQ(out[8], c.written) << "type " << int(c.type) << " given " << int(c.given);
        EXPECT_EQ(out[9], 0x05);
    }
}

TEST(BlockKinds, RefuseBlocksTheyCannotHold) {
    // A fixed kind with a length other than its own.
    EXPECT_FALSE(CDescVIDPID().Parse(Bytes{6, 4, 1, 2, 3, 4}));
    EXPECT_FALSE(CDescEndPointType().Parse(Bytes{6, 47, 0x50, 0x70, 0x60, 0x10}));
    // A string with bLength above 55, or one that disagrees with its block length.
    Bytes longString(58, 'x');
    longString[0] = 58;
    longString[1] = 1;
    longString[2] = 56;
    longString[3] = 3;
    EXPECT_FALSE(CDescStringManu().Parse(longString));
    EXPECT_FALSE(CDescStringManu().Parse(Bytes{8, 1, 10, 3, 'a', 'b', 'c', 'd'}));
    // A string kind refuses content beyond 53 bytes.
    CDescStringSN sn;
    EXPECT_TRUE(sn.SetContent(Bytes(53, 'a')));
    EXPECT_FALSE(sn.SetContent(Bytes(54, 'a')));
    // Small cache code above 8192 data bytes.
    Bytes cache{0xFF, 0xE7, 0x08, 0x00, 0x08, 0x00, 0x01, 0x20};  // data length 8193
    EXPECT_FALSE(CDescSmallCachecode().Parse(cache));
    EXPECT_FALSE(CDescSmallCachecode().SetData(Bytes(8193, 0)));
    // Blocks without their data cannot be written.
    Bytes out(64, 0);
    EXPECT_FALSE(CDescCodeInfo().Serialize(out));
    EXPECT_FALSE(CDescSmallCachecode().Serialize(out));
    EXPECT_FALSE(CDescDummy().Serialize(out));
    // And none writes past the room it is given.
    CDescVIDPID vidpid;
    Bytes small(7, 0);
    EXPECT_FALSE(vidpid.Serialize(small));
}

TEST(BlockKinds, StringTextEndsAtTheFirstZero) {
    CDescStringManu s;
    ASSERT_TRUE(s.Parse(Bytes{8, 1, 6, 3, 'A', 'b', 0, 'z'}));
    EXPECT_EQ(s.Text(), "Ab");
    EXPECT_EQ(s.Content().size(), 4u);
}

// ---------------------------------------------------------------------------------------------
// Reader

// The area of a built-in code image: 55 A5 CA 0F 00 02 / 06 2F 50 70 60 10 / 03 08 C2.
const Bytes kExampleArea{0x55, 0xA5, 0xCA, 0x0F, 0x00, 0x02, 0x06, 0x2F,
                         0x50, 0x70, 0x60, 0x10, 0x03, 0x08, 0xC2};

TEST(DescriptorReader, DecodesTheExampleArea) {
    Bytes area = kExampleArea;
    area.resize(4096, 0xFF);
    DescriptorReader reader;
    reader.Open(area);
    const auto header = reader.ReadHeader();
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->m_byMemoryKind, 0x55);
    EXPECT_TRUE(header->HasSignature());
    EXPECT_EQ(header->m_byChipCode, 25);
    EXPECT_EQ(header->m_byBootOption, 2);
    EXPECT_EQ(header->m_wTotalLength, 15);
    EXPECT_EQ(reader.Header().m_wTotalLength, 15);
    EXPECT_EQ(header->m_byCount, 0);  // both blocks were fixed leading blocks
    EXPECT_EQ(reader.FixedValues().apVersion, 0x1060);
    EXPECT_TRUE(reader.FixedValues().hasEepInfo);
    EXPECT_EQ(reader.FixedValues().eepInfo, 0xC2);
    EXPECT_FALSE(reader.FixedValues().hasBankCopy);
    EXPECT_EQ(reader.Position(), 15u);
    EXPECT_EQ(reader.NextBlock(), nullptr);  // at the total length
}

TEST(DescriptorReader, ReadHeaderAgainKeepsTheCount) {
    const Bytes area = AreaBuilder(0x55, 25)
                           .Block({6, 47, 0x50, 0x70, 0x61, 0x10})
                           .Block({3, 8, 0xC2})
                           .Block({3, 20, 0x5A})
                           .Block({3, 21, 0x50})
                           .Block(StringBlock(1, "Tavenic"))
                           .Build(256);
    DescriptorReader reader;
    reader.Open(area);
    auto first = reader.ReadHeader();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->m_byCount, 1);
    EXPECT_TRUE(reader.FixedValues().hasBankCopy);
    EXPECT_EQ(reader.FixedValues().bankCopy, 0x5A);
    EXPECT_TRUE(reader.FixedValues().hasForceUpdate);
    EXPECT_EQ(reader.FixedValues().forceUpdate, 0x50);
    const std::size_t position = reader.Position();
    auto second = reader.ReadHeader();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->m_byCount, 1);
    EXPECT_EQ(reader.Position(), position);
    auto block = reader.NextBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<CDescString&>(*block).Text(), "Tavenic");
}

TEST(DescriptorReader, BankCopyIsALeadingBlockOnlyForChips25And26) {
    for (std::uint8_t chip : {21, 25, 26}) {
        const Bytes area = AreaBuilder(0x55, chip)
                               .Block({6, 47, 0x40, 0x70, 0x60, 0x10})
                               .Block({3, 20, 0x5A})
                               .Build(64);
        DescriptorReader reader;
        reader.Open(area);
        auto header = reader.ReadHeader();
        ASSERT_TRUE(header.has_value());
        const bool leading = chip != 21;
        EXPECT_EQ(reader.FixedValues().hasBankCopy, leading) << int(chip);
        EXPECT_EQ(header->m_byCount, leading ? 0 : 1) << int(chip);
        if (!leading) {
            auto block = reader.NextBlock();
            ASSERT_NE(block, nullptr);
            EXPECT_NE(dynamic_cast<CDescDummy*>(block.get()), nullptr);
            EXPECT_EQ(block->Type(), 20);
        }
    }
}

TEST(DescriptorReader, Chip17TakesOnlyTheSixByteVersionBlock) {
    Bytes endpointTypes = Sequence(18, 47);
    const Bytes area =
        AreaBuilder(0x55, 17).Block({6, 47, 0x20, 0x70, 0x62, 0x10}).Block(endpointTypes).Build(64);
    DescriptorReader reader;
    reader.Open(area);
    auto header = reader.ReadHeader();
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(reader.FixedValues().apVersion, 0x1062);
    EXPECT_EQ(header->m_byCount, 1);
    auto block = reader.NextBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_NE(dynamic_cast<CDescEndPointType*>(block.get()), nullptr);
}

TEST(DescriptorReader, AnAreaWithoutVersionBlockHasNoApVersion) {
    const Bytes area = AreaBuilder(0x55, 25).Block(StringBlock(1, "Tavenic")).Build(64);
    DescriptorReader reader;
    reader.Open(area);
    ASSERT_TRUE(reader.ReadHeader().has_value());
    EXPECT_EQ(reader.FixedValues().apVersion, 0);
    EXPECT_EQ(reader.Header().m_byCount, 1);
}

TEST(DescriptorReader, TakesCodeBlobAndCacheDataFromTheirOffsets) {
    const Bytes blob{0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    AreaBuilder b(0x55, 21);
    b.Block({6, 47, 0x40, 0x70, 0x60, 0x10});
    const std::size_t cacheAt = b.ChainLength();
    Bytes cache{0xFF, 0xE7, 12, 0, static_cast<std::uint8_t>(cacheAt + 8), 0, 4, 0, 1, 2, 3, 4};
    b.Block(cache);
    const std::size_t chainEnd = b.ChainLength() + 6;
    b.Block({6, 15, static_cast<std::uint8_t>(chainEnd), 0, 5, 0});
    b.Tail(blob);
    const Bytes area = b.Build(128);
    DescriptorReader reader;
    reader.Open(area);
    ASSERT_TRUE(reader.ReadHeader().has_value());
    auto first = reader.NextBlock();
    auto* cacheBlock = dynamic_cast<CDescSmallCachecode*>(first.get());
    ASSERT_NE(cacheBlock, nullptr);
    EXPECT_EQ(cacheBlock->Data(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(reader.Position(), cacheAt + 12);
    auto second = reader.NextBlock();
    auto* code = dynamic_cast<CDescCodeInfo*>(second.get());
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->Blob(), blob);
    EXPECT_EQ(Bytes(reader.Blob().begin(), reader.Blob().end()), blob);
}

// A table of malformed areas: the walk ends (complete or broken) without reading outside the
// bytes held; under the sanitizer build any stray access fails the test.
struct MalformedCase {
    const char* name;
    Bytes area;
    bool header;    // ReadHeader yields a header
    bool complete;  // the walk of the remaining count ends without a break
};

class MalformedArea : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedArea, WalkEndsCleanly) {
    const MalformedCase& c = GetParam();
    DescriptorReader reader;
    reader.Open(c.area);
    auto header = reader.ReadHeader();
    ASSERT_EQ(header.has_value(), c.header);
    if (!header)
        return;
    const WalkResult r = Walk(reader, header->m_byCount);
    EXPECT_EQ(r.complete, c.complete);
    EXPECT_LE(reader.Position(), c.area.size());
}

Bytes Truncate(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Areas, MalformedArea,
    ::testing::Values(
        MalformedCase{"EmptyArea", {}, false, false},
        MalformedCase{"TruncatedHeader", {0x55, 0xA5, 0xCA}, false, false},
        MalformedCase{"TruncatedVersionBlock", {0x55, 0xA5, 0xCA, 0x0C, 0x00, 0x01, 0x06, 0x2F},
                      true, false},
        MalformedCase{"BlockPastTheEnd",
                      Truncate(AreaBuilder(0x55, 25).Block(StringBlock(1, "Tavenic")).Build(), 12),
                      true, false},
        MalformedCase{"CountLargerThanChainWithoutFiller",
                      AreaBuilder(0x55, 25).Block(StringBlock(1, "Tavenic")).Build(0, 5), true,
                      false},
        MalformedCase{"CountLargerThanChainOverFiller",
                      AreaBuilder(0x55, 25).Block(StringBlock(1, "Tavenic")).Build(4096, 10),
                      true, true},
        MalformedCase{"ZeroLengthBlock", AreaBuilder(0x55, 25).Block({0, 1}).Build(64), true,
                      false},
        MalformedCase{"OneByteBlock", AreaBuilder(0x55, 25).Block({1, 1}).Build(64), true, false},
        MalformedCase{"LongFormPastTheEnd",
                      AreaBuilder(0x55, 21).Block({0xFF, 0xE7, 0x00, 0x10, 0, 0, 0, 0}).Build(64),
                      true, false},
        MalformedCase{"LongFormShorterThanItsHeader",
                      AreaBuilder(0x55, 21).Block({0xFF, 0xE7, 0x04, 0x00}).Build(64, 1), true,
                      true},
        MalformedCase{"CacheDataOffsetOutside",
                      AreaBuilder(0x55, 21)
                          .Block({0xFF, 0xE7, 0x0C, 0x00, 0xF0, 0xFF, 0x04, 0x00, 1, 2, 3, 4})
                          .Build(64),
                      true, true},
        MalformedCase{"CacheDataAbove8192",
                      AreaBuilder(0x55, 21)
                          .Block({0xFF, 0xE7, 0x08, 0x00, 0x0E, 0x00, 0x01, 0x20})
                          .Build(64),
                      true, true},
        MalformedCase{"CodeBlobOutside",
                      AreaBuilder(0x55, 25).Block({6, 15, 0x00, 0x01, 0x00, 0x10}).Build(64), true,
                      true},
        MalformedCase{"StringLengthAbove55", AreaBuilder(0x55, 25).Block([] {
                          Bytes b(60, 'x');
                          b[0] = 60;
                          b[1] = 3;
                          b[2] = 58;
                          b[3] = 3;
                          return b;
                      }()).Build(128),
                      true, true},
        MalformedCase{"TotalLengthShorterThanChain", [] {
                          Bytes a = AreaBuilder(0x55, 25)
                                        .Block(StringBlock(1, "Tavenic"))
                                        .Block(StringBlock(2, "Audio"))
                                        .Build(8);
                          a[3] = 8;  // ends inside the first block
                          return a;
                      }(),
                      true, true}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

TEST(DescriptorReader, SurplusCountIsSkippedIn255ByteStepsOverFiller) {
    const Bytes area = AreaBuilder(0x55, 25).Block(StringBlock(1, "Tavenic")).Build(4096, 4);
    DescriptorReader reader;
    reader.Open(area);
    auto header = reader.ReadHeader();
    ASSERT_TRUE(header.has_value());
    const WalkResult r = Walk(reader, header->m_byCount);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.blocks.size(), 1u);
    EXPECT_EQ(r.skipped, 3);
    EXPECT_EQ(reader.Position(), 6u + 11u + 3u * 255u);
}

TEST(DescriptorReader, CopiesAtMost2MiB) {
    Bytes big(kMaxAreaBytes + 100, 0xFF);
    std::copy(kExampleArea.begin(), kExampleArea.end(), big.begin());
    DescriptorReader reader;
    reader.Open(big);
    EXPECT_EQ(reader.Size(), kMaxAreaBytes);
    EXPECT_TRUE(reader.ReadHeader().has_value());
}

TEST(DescriptorReader, NothingBeforeOpen) {
    DescriptorReader reader;
    EXPECT_FALSE(reader.ReadHeader().has_value());
    EXPECT_EQ(reader.NextBlock(), nullptr);
    EXPECT_FALSE(reader.SkipBlock());
}

// ---------------------------------------------------------------------------------------------
// Writer

// A realistic KSC7040 area: fixed blocks, strings, identity, loop-back test, UAC settings,
// endpoints, inter-chip links, an unknown block, small cache code and a code blob behind the
// chain.
Bytes RealisticArea7040() {
    AreaBuilder b(0x55, 21, 2);
    b.Block({6, 47, 0x40, 0x70, 0x60, 0x10})
        .Block({3, 8, 0xC2})
        .Block({3, 21, 0x10})
        .Block(StringBlock(1, "Tavenic"))
        .Block(StringBlock(2, "KSC7040 USB Audio"))
        .Block(StringBlock(3, "000000000042"))
        .Block({8, 4, 0x09, 0x12, 0x40, 0x70, 0x00, 0x01})
        .Block(Sequence(15, 14))
        .Block({18, 64, 0x02, 0x00, 1, 0, 4, 4, 7, 3, 1, 0xFF, 0x12, 0x09, 0x70, 0x40, 0x01, 0x00})
        .Block(Sequence(17, 65))
        .Block(Sequence(16, 68))
        .Block({14, 71, 1, 2, 3, 4, 5, 6, 0x40, 8, 9, 10, 11, 12})
        .Block(Sequence(8, 72))
        .Block(Sequence(10, 73))
        .Block(Sequence(12, 74))
        .Block(Sequence(9, 0x50, 0x60));  // a type the chip does not know
    const std::size_t cacheAt = b.ChainLength();
    Bytes cache{0xFF, 0xE7, 24, 0, static_cast<std::uint8_t>(cacheAt + 8), 0, 16, 0};
    for (int i = 0; i < 16; ++i)
        cache.push_back(static_cast<std::uint8_t>(0xA0 + i));
    b.Block(cache);
    const std::size_t chainEnd = b.ChainLength() + 6;
    b.Block({6, 15, static_cast<std::uint8_t>(chainEnd & 0xFF),
             static_cast<std::uint8_t>(chainEnd >> 8), 32, 0});
    Bytes blob;
    for (int i = 0; i < 32; ++i)
        blob.push_back(static_cast<std::uint8_t>(i * 7));
    b.Tail(blob);
    return b.Build();
}

TEST(DescriptorWriter, ReadModifyWriteReproducesTheAreaByteForByte) {
    const Bytes source = RealisticArea7040();
    Bytes reserved = source;
    reserved.resize(4096, 0xFF);

    DescriptorReader reader;
    reader.Open(reserved);
    auto header = reader.ReadHeader();
    ASSERT_TRUE(header.has_value());
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(*header, reader.FixedValues(), true));
    const WalkResult r = Walk(reader, header->m_byCount);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.skipped, 0);
    for (const auto& block : r.blocks)
        ASSERT_TRUE(writer.Append(*block)) << "type " << int(block->Type());

    Bytes out(4096, 0xFF);
    ASSERT_TRUE(writer.Finish(out, out.size()));
    EXPECT_EQ(writer.AreaLength(), source.size());
    EXPECT_EQ(out, reserved);
}

TEST(DescriptorWriter, BeginRegeneratesTheVersionBlock) {
    CDescGlobal source;
    source.m_byMemoryKind = 0x60;
    source.m_byBootOption = 5;
    source.m_byChipCode = 26;
    DescFixedValues fixed;  // no AP version: 0x1060 is written
    fixed.hasBankCopy = true;
    fixed.bankCopy = 0x5A;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, fixed, true));
    Bytes out(256, 0xFF);
    ASSERT_TRUE(writer.Finish(out, out.size()));
    const Bytes expected{0x60, 0xA5, 26 << 3 | 5, 15,   0, 2,  6,   47,
                         0x80, 0x70, 0x60,        0x10, 3, 20, 0x5A};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 15), expected);
    EXPECT_EQ(out[15], 0xFF);

    // Without the regenerate flag no version block is written.
    ASSERT_TRUE(writer.Begin(source, fixed, false));
    EXPECT_EQ(writer.Header().m_byCount, 1);
    EXPECT_EQ(writer.Header().m_wTotalLength, 9);
}

TEST(DescriptorWriter, HardwareIdsOfTheChips) {
    const std::pair<std::uint8_t, std::uint16_t> ids[] = {{17, 0x7020}, {21, 0x7040}, {22, 0x7030},
                                                          {23, 0x7032}, {24, 0x7042}, {25, 0x7050},
                                                          {26, 0x7080}, {3, 0}};
    for (const auto& [chip, id] : ids)
        EXPECT_EQ(HardwareIdOfChip(chip), id);
    for (std::uint8_t chip = 27; chip <= 31; ++chip)
        EXPECT_NE(HardwareIdOfChip(chip), 0);
}

TEST(DescriptorWriter, AppendedStringGrowsCountByOneAndTotalByTextPlusFour) {
    CDescGlobal source;
    source.m_byMemoryKind = 0x55;
    source.m_byChipCode = 25;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, DescFixedValues(), true));
    const auto count = writer.Header().m_byCount;
    const auto total = writer.Header().m_wTotalLength;
    CDescStringSN sn;
    const std::string text = "SN-0001";
    ASSERT_TRUE(sn.SetContent(Bytes(text.begin(), text.end())));
    ASSERT_TRUE(writer.Append(sn));
    EXPECT_EQ(writer.Header().m_byCount, count + 1);
    EXPECT_EQ(writer.Header().m_wTotalLength, total + text.size() + 4);
}

TEST(DescriptorWriter, SmallCachecodeDataLiesBehindItsHeader) {
    CDescGlobal source;
    source.m_byChipCode = 21;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, DescFixedValues(), true));
    CDescSmallCachecode cache;
    ASSERT_TRUE(cache.SetData(Bytes{9, 8, 7}));
    cache.SetDataOffset(0x1234);
    const std::size_t at = writer.Position();
    ASSERT_TRUE(writer.Append(cache));
    EXPECT_EQ(cache.DataOffset(), at + 8);
    Bytes out(256, 0xFF);
    ASSERT_TRUE(writer.Finish(out, out.size()));
    EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + 11),
              (Bytes{0xFF, 0xE7, 11, 0, static_cast<std::uint8_t>(at + 8), 0, 3, 0, 9, 8, 7}));
}

TEST(DescriptorWriter, CodeBlobFollowsTheChainAndItsOffsetIsWritten) {
    CDescGlobal source;
    source.m_byChipCode = 25;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, DescFixedValues(), true));
    CDescCodeInfo code;
    ASSERT_TRUE(code.SetBlob(Bytes{1, 2, 3}));
    ASSERT_TRUE(writer.Append(code));
    CDescStringManu manu;
    ASSERT_TRUE(manu.SetContent(Bytes{'T'}));
    ASSERT_TRUE(writer.Append(manu));
    Bytes out(256, 0xFF);
    ASSERT_TRUE(writer.Finish(out, out.size()));
    const std::size_t chainEnd = writer.Position();
    EXPECT_EQ(writer.Header().m_wTotalLength, chainEnd);
    // The code-info block stands behind the version block: 6 + 6.
    EXPECT_EQ(out[12 + 2], chainEnd);
    EXPECT_EQ(out[12 + 4], 3);
    EXPECT_EQ(Bytes(out.begin() + chainEnd, out.begin() + chainEnd + 4), (Bytes{1, 2, 3, 0xFF}));
    EXPECT_EQ(writer.AreaLength(), chainEnd + 3);

    // A code-info block without a blob stops the rebuild.
    CDescCodeInfo empty;
    EXPECT_FALSE(writer.Append(empty));
}

TEST(DescriptorWriter, DummyCarriesOverItsSourceBytes) {
    const Bytes unknown = Sequence(9, 0x50, 0x60);
    CDescDummy dummy;
    ASSERT_TRUE(dummy.Parse(unknown));
    CDescGlobal source;
    source.m_byChipCode = 25;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, DescFixedValues(), false));
    ASSERT_TRUE(writer.Append(dummy));
    Bytes out(256, 0xFF);
    ASSERT_TRUE(writer.Finish(out, out.size()));
    EXPECT_EQ(Bytes(out.begin() + 6, out.begin() + 15), unknown);
}

// Fills a writer with filler blocks until the area has exactly `areaLength` bytes.
void FillTo(DescriptorWriter& writer, std::size_t areaLength) {
    while (writer.Position() < areaLength) {
        const std::size_t rest = areaLength - writer.Position();
        const std::size_t n = rest > 255 ? (rest - 255 >= 2 ? 255 : 200) : rest;
        Bytes block(n, 0x33);
        block[0] = static_cast<std::uint8_t>(n);
        block[1] = 0x77;
        CDescDummy dummy;
        ASSERT_TRUE(dummy.Parse(block));
        ASSERT_TRUE(writer.Append(dummy));
    }
}

TEST(DescriptorWriter, FinishNeeds128BytesOfRoomBehindTheArea) {
    struct Case {
        std::size_t areaLength;
        bool fits;
    };
    for (const Case c : {Case{3968, true}, Case{3969, false}}) {
        CDescGlobal source;
        source.m_byChipCode = 25;
        DescriptorWriter writer;
        ASSERT_TRUE(writer.Begin(source, DescFixedValues(), true));
        FillTo(writer, c.areaLength);
        ASSERT_EQ(writer.AreaLength(), c.areaLength);
        Bytes out(4096, 0xEE);
        EXPECT_EQ(writer.Finish(out, 4096), c.fits) << c.areaLength;
        if (c.fits) {
            EXPECT_EQ(out[0], 0xFF);  // the memory kind of the default source header
            EXPECT_EQ(out[c.areaLength], 0xEE);
        } else {
            EXPECT_EQ(out, Bytes(4096, 0xEE));  // nothing copied
        }
    }
}

TEST(DescriptorWriter, FinishRefusesADestinationSmallerThanTheArea) {
    CDescGlobal source;
    source.m_byChipCode = 25;
    DescriptorWriter writer;
    ASSERT_TRUE(writer.Begin(source, DescFixedValues(), true));
    Bytes out(10, 0xEE);
    EXPECT_FALSE(writer.Finish(out, 4096));
    EXPECT_EQ(out, Bytes(10, 0xEE));
}

}  // namespace
}  // namespace uafw
