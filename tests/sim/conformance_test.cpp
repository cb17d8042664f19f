// Command families of the virtual chip on both transports, driven through the USB seam with
// hand-built requests: memory, SPI flash and EEPROM reads and writes, the status block, the
// flash physics, write protection, erase with busy polling and the resets.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::Wire;

enum class Family { Mem, Spi, Eep8, Eep16 };

// The host side of one transport for the families the flows use.
class Transport {
public:
    explicit Transport(Wire& w) : m_w(w) {}
    virtual ~Transport() = default;
    virtual std::optional<Bytes> Read(Family f, std::uint32_t address, std::size_t length) = 0;
    virtual std::uint32_t Write(Family f, std::uint32_t address, const Bytes& data) = 0;
    virtual std::optional<Bytes> StatusBlock(std::size_t length) = 0;
    virtual std::uint32_t Reset(int kind) = 0;  // 7 into the ROM loader, 9 restart
    virtual std::optional<std::uint8_t> ReadSr() = 0;
    virtual std::uint32_t WriteSr(std::uint8_t value) = 0;
    virtual std::uint32_t EraseChip() = 0;  // returns once the flash is idle again

protected:
    Wire& m_w;
};

class ExtensionUnit final : public Transport {
public:
    using Transport::Transport;
    static std::pair<std::uint8_t, std::uint8_t> Opcodes(Family f) {
        switch (f) {
            case Family::Mem:
                return {0xC2, 0x82};
            case Family::Spi:
                return {0xC2, 0x82};
            case Family::Eep8:
                return {0xCB, 0x8B};
            case Family::Eep16:
                return {0xD1, 0x91};
        }
        return {0, 0};
    }
    static std::uint8_t Group(Family f) { return f == Family::Mem ? 0x00 : 0x02; }
    std::optional<Bytes> Read(Family f, std::uint32_t a, std::size_t n) override {
        return m_w.EuIn(Group(f), Opcodes(f).first, static_cast<std::uint16_t>(a),
                        static_cast<std::uint16_t>(n), static_cast<std::uint16_t>(a >> 16), n);
    }
    std::uint32_t Write(Family f, std::uint32_t a, const Bytes& d) override {
        return m_w.EuOut(Group(f), Opcodes(f).second, static_cast<std::uint16_t>(a),
                         static_cast<std::uint16_t>(d.size()), static_cast<std::uint16_t>(a >> 16),
                         d);
    }
    std::optional<Bytes> StatusBlock(std::size_t n) override {
        Bytes out;
        for (std::uint16_t k = 0; out.size() < n; ++k) {
            auto block = m_w.EuIn(0x00, 0xCD, k, 8, 0, 8);
            if (!block)
                return std::nullopt;
            out.insert(out.end(), block->begin(),
                       block->begin() +
                           static_cast<std::ptrdiff_t>(std::min<std::size_t>(8, n - out.size())));
        }
        return out;
    }
    std::uint32_t Reset(int kind) override {
        return m_w.SetCmd(0x00, static_cast<std::uint8_t>(kind), kind == 7 ? 6 : 0);
    }
    std::optional<std::uint8_t> ReadSr() override {
        auto b = m_w.EuIn(0x02, 0xC3, 0, 1, 0, 1);
        return b ? std::optional<std::uint8_t>((*b)[0]) : std::nullopt;
    }
    std::uint32_t WriteSr(std::uint8_t v) override { return m_w.EuOut(0x02, 0x83, 0, 1, 0, {v}); }
    std::uint32_t EraseChip() override {
        if (auto e = m_w.SetCmd(0x02, 0x04))
            return e;
        for (int i = 0; i < 1000; ++i) {
            auto sr = ReadSr();
            if (!sr)
                return 31;
            if ((*sr & 1) == 0)
                return 0;
            uafw::Clock().SleepMs(50);
        }
        return 1460;
    }
};

class VendorRequests final : public Transport {
public:
    using Transport::Transport;
    static std::pair<std::uint8_t, std::uint8_t> Requests(Family f) {
        switch (f) {
            case Family::Mem:
                return {0x25, 0x24};
            case Family::Spi:
                return {0x2E, 0x2F};
            case Family::Eep8:
                return {0x35, 0x36};
            case Family::Eep16:
                return {0x37, 0x38};
        }
        return {0, 0};
    }
    // wValue of a piece: the SPI transfers carry address bits 23-16 in the high byte, the
    // others the generic packing (address bits 19-16 in bits 11-8).
    static std::uint16_t Value(Family f, std::uint32_t a) {
        if (f == Family::Spi)
            return static_cast<std::uint16_t>(((a >> 16) & 0xFF) << 8);
        return static_cast<std::uint16_t>(((a >> 16) & 0xF) << 8);
    }
    std::optional<Bytes> Read(Family f, std::uint32_t a, std::size_t n) override {
        Bytes out;
        while (out.size() < n) {
            const std::uint32_t at = a + static_cast<std::uint32_t>(out.size());
            const auto piece =
                static_cast<std::uint16_t>(std::min<std::size_t>(4096, n - out.size()));
            auto b = m_w.VendorIn(Requests(f).first, Value(f, at), static_cast<std::uint16_t>(at),
                                  piece);
            if (!b || b->size() != piece)
                return std::nullopt;
            out.insert(out.end(), b->begin(), b->end());
        }
        return out;
    }
    std::uint32_t Write(Family f, std::uint32_t a, const Bytes& d) override {
        for (std::size_t done = 0; done < d.size(); done += 4096) {
            const std::uint32_t at = a + static_cast<std::uint32_t>(done);
            Bytes piece(d.begin() + static_cast<std::ptrdiff_t>(done),
                        d.begin() + static_cast<std::ptrdiff_t>(std::min(d.size(), done + 4096)));
            if (auto e = m_w.VendorOut(Requests(f).second, Value(f, at),
                                       static_cast<std::uint16_t>(at), piece))
                return e;
        }
        return 0;
    }
    std::optional<Bytes> StatusBlock(std::size_t n) override {
        Bytes out;
        for (std::uint16_t k = 0; out.size() < n; ++k) {
            auto block = m_w.VendorIn(0x07, k, 0, 8);
            if (!block || block->size() != 8)
                return std::nullopt;
            out.insert(out.end(), block->begin(),
                       block->begin() +
                           static_cast<std::ptrdiff_t>(std::min<std::size_t>(8, n - out.size())));
        }
        return out;
    }
    std::uint32_t Reset(int kind) override {
        return m_w.VendorOut(kind == 7 ? 0x20 : 0x22, kind == 7 ? 6 : 0, 0);
    }
    std::optional<std::uint8_t> ReadSr() override {
        auto b = m_w.VendorIn(0x30, 0, 0, 1);
        return b && b->size() == 1 ? std::optional<std::uint8_t>((*b)[0]) : std::nullopt;
    }
    std::uint32_t WriteSr(std::uint8_t v) override { return m_w.VendorOut(0x31, 0, 0, {v}); }
    std::uint32_t EraseChip() override { return m_w.VendorOut(0x32, 0, 0, {}, 10000); }
};

using TransportFactory = std::unique_ptr<Transport> (*)(Wire&);

struct TransportCase {
    const char* name;
    TransportFactory make;
};

void PrintTo(const TransportCase& c, std::ostream* os) {
    *os << c.name;
}

class Families : public simtest::SimFixture, public ::testing::WithParamInterface<TransportCase> {
protected:
    std::unique_ptr<Transport> m_t;
    void Begin(const std::string& ini = "") {
        Start(ini);
        m_t = GetParam().make(W());
    }
    // The write-protect sequence of a KSC7050: pin pair 0xFEC0/0xFEC6, bit 0.
    void Unprotect() {
        ASSERT_EQ(m_t->Write(Family::Mem, 0xFEC0, {0x01}), 0u);
        ASSERT_EQ(m_t->Write(Family::Mem, 0xFEC6, {0x01}), 0u);
        ASSERT_EQ(m_t->WriteSr(0x00), 0u);
    }
    void Protect() {
        ASSERT_EQ(m_t->Write(Family::Mem, 0xFEC0, {0x01}), 0u);
        ASSERT_EQ(m_t->Write(Family::Mem, 0xFEC6, {0x00}), 0u);
        ASSERT_EQ(m_t->WriteSr(0x8C), 0u);
    }
    void Reconnect() {
        m_clock.Advance(Chip().Config().reenumMs);
        Reopen();
        m_t = GetParam().make(W());
    }
};

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

TEST_P(Families, EachMemoryFamilyReadsBackWhatWasWritten) {
    Begin("[chip]\nmemory = flash\n");
    Unprotect();
    struct Case {
        Family f;
        std::uint32_t address;
        std::size_t length;
    };
    for (const Case& c : {Case{Family::Mem, 0x1234, 20}, Case{Family::Spi, 0x023456, 5000},
                          Case{Family::Eep8, 0x0101, 9}, Case{Family::Eep16, 0x8001, 300}}) {
        SCOPED_TRACE(static_cast<int>(c.f));
        const Bytes data = Pattern(c.length, static_cast<std::uint8_t>(c.address));
        ASSERT_EQ(m_t->Write(c.f, c.address, data), 0u);
        EXPECT_EQ(m_t->Read(c.f, c.address, c.length), data);
    }
    const Bytes flash = Chip().FlashBytes();
    EXPECT_EQ(Bytes(flash.begin() + 0x023456, flash.begin() + 0x023456 + 5000),
              Pattern(5000, 0x56));
}

TEST_P(Families, FlashProgrammingOnlyClearsBitsAndEraseSetsFf) {
    Begin("[chip]\nerase_ms = 300\n");
    Unprotect();
    ASSERT_EQ(m_t->EraseChip(), 0u);
    ASSERT_EQ(m_t->Write(Family::Spi, 0x100, {0xF0, 0x3C}), 0u);
    ASSERT_EQ(m_t->Write(Family::Spi, 0x100, {0x0F, 0xFF}), 0u);
    EXPECT_EQ(m_t->Read(Family::Spi, 0x100, 2), (Bytes{0x00, 0x3C}));
    ASSERT_EQ(m_t->EraseChip(), 0u);
    EXPECT_EQ(m_t->Read(Family::Spi, 0x100, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(Chip().FlashBytes(), Bytes(0x100000, 0xFF));
}

TEST_P(Families, EepromTakesTheBytesAsSent) {
    Begin("[chip]\nmemory = eeprom16\n");
    ASSERT_EQ(m_t->Write(Family::Eep16, 0x10, {0x00, 0xA5}), 0u);
    ASSERT_EQ(m_t->Write(Family::Eep16, 0x10, {0xFF, 0x5A}), 0u);
    EXPECT_EQ(m_t->Read(Family::Eep16, 0x10, 2), (Bytes{0xFF, 0x5A}));
    // A part with 16-bit word addresses does not answer 8-bit transfers.
    EXPECT_NE(m_t->Write(Family::Eep8, 0x10, {0x00}), 0u);
}

TEST_P(Families, WriteProtectionBlocksFlashWritesAndErases) {
    Begin();
    Unprotect();
    ASSERT_EQ(m_t->EraseChip(), 0u);
    ASSERT_EQ(m_t->Write(Family::Spi, 0x2000, {0x12, 0x34}), 0u);
    Protect();
    EXPECT_EQ(m_t->ReadSr(), 0x8C);
    EXPECT_NE(m_t->Write(Family::Spi, 0x2000, {0x00, 0x00}), 0u);
    EXPECT_NE(m_t->EraseChip(), 0u);
    EXPECT_EQ(m_t->Read(Family::Spi, 0x2000, 2), (Bytes{0x12, 0x34}));
    // With WP# low the locked status register refuses a new value.
    EXPECT_NE(m_t->WriteSr(0x00), 0u);
    EXPECT_EQ(m_t->ReadSr(), 0x8C);
    Unprotect();
    EXPECT_EQ(m_t->Write(Family::Spi, 0x2000, {0x00, 0x00}), 0u);
    EXPECT_EQ(m_t->Read(Family::Spi, 0x2000, 2), (Bytes{0x00, 0x00}));
}

TEST_P(Families, FlashStartsProtectedAsTheToolLeavesIt) {
    Begin();
    EXPECT_EQ(m_t->ReadSr(), 0x8C);
    EXPECT_NE(m_t->Write(Family::Spi, 0x0, {0x00}), 0u);
}

TEST_P(Families, StatusBlockCarriesTheSignature) {
    Begin();
    auto status = m_t->StatusBlock(104);
    ASSERT_TRUE(status);
    ASSERT_EQ(status->size(), 104u);
    EXPECT_EQ(std::string(status->begin() + 24, status->begin() + 31), "QUORVEX");
    EXPECT_EQ((*status)[31], 0);
    EXPECT_EQ((*status)[0] | ((*status)[1] << 8), 0xD011);
}

// The firmware version texts: the one the tool derives from an image's eight version bytes,
// and the one it derives from the status block of a chip in version format 3.
std::string ImageVersionText(const Bytes& v) {
    char t[64];
    std::snprintf(t, sizeof t, "%01X.%01X%02X.%04X-%04X.%04X", v[0] >> 4, v[0] & 0xF, v[1],
                  (v[2] << 8) | v[3], (v[4] << 8) | v[5], (v[6] << 8) | v[7]);
    return t;
}
std::string StatusVersionText(const Bytes& b) {
    char t[64];
    std::snprintf(t, sizeof t, "%01X.%01X%02X.%04X-%04X.%04X", b[79] >> 4, b[79] & 0xF, b[78],
                  b[76] | (b[77] << 8), b[82] | (b[83] << 8), b[80] | (b[81] << 8));
    return t;
}

TEST_P(Families, ResetsSwitchBetweenRomLoaderAndTheProgrammedImage) {
    Bytes image(0x10000, 0xFF);
    image[0] = 0x02;
    const Bytes version{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF1};
    std::copy(version.begin(), version.end(), image.begin() + 0x100C);
    m_dir.WriteBytes("spi.bin", image);
    Begin("[chip]\ntype = KSC7050\nreenum_ms = 700\n");

    // Power-on boots the image: boot mode "SPI", active record in format 3, run state 1.
    EXPECT_EQ(m_t->Read(Family::Mem, 0xC2A8, 1), Bytes{8});
    auto status = m_t->StatusBlock(104);
    ASSERT_TRUE(status);
    EXPECT_EQ((*status)[64], 0x31);
    EXPECT_EQ(StatusVersionText(*status), ImageVersionText(version));
    EXPECT_EQ(StatusVersionText(*status), "1.234.5678-9ABC.DEF1");

    ASSERT_EQ(m_t->Reset(7), 0u);
    Reconnect();
    EXPECT_EQ(m_t->Read(Family::Mem, 0xC2A8, 1), Bytes{0});  // "ROM"
    status = m_t->StatusBlock(104);
    ASSERT_TRUE(status);
    EXPECT_EQ((*status)[64] & 0x0F, 0);
    EXPECT_EQ(StatusVersionText(*status), "B.BBB.BBBB-BBBB.BBBB");

    ASSERT_EQ(m_t->Reset(9), 0u);
    Reconnect();
    EXPECT_EQ(m_t->Read(Family::Mem, 0xC2A8, 1), Bytes{8});
    EXPECT_TRUE(Chip().RunningCode());
}

TEST_P(Families, RestartWithoutAValidImageStaysInTheRomLoader) {
    Begin("[chip]\nflash_size = 0x10000\n");  // erased flash
    EXPECT_FALSE(Chip().RunningCode());
    ASSERT_EQ(m_t->Reset(9), 0u);
    Reconnect();
    EXPECT_EQ(m_t->Read(Family::Mem, 0xC2A8, 1), Bytes{0});
    EXPECT_FALSE(Chip().RunningCode());
}

TEST_P(Families, ResetReturnsTheDataControlSizeToEight) {
    Begin();
    ASSERT_TRUE(W().ChangeDataSize(64));
    ASSERT_EQ(m_t->Reset(7), 0u);
    Reconnect();
    EXPECT_EQ(W().GetLen(), 8);
}

INSTANTIATE_TEST_SUITE_P(
    BothTransports, Families,
    ::testing::Values(TransportCase{"ExtensionUnit",
                                    [](Wire& w) -> std::unique_ptr<Transport> {
                                        return std::make_unique<ExtensionUnit>(w);
                                    }},
                      TransportCase{"VendorRequest",
                                    [](Wire& w) -> std::unique_ptr<Transport> {
                                        return std::make_unique<VendorRequests>(w);
                                    }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- registers by chip type ----

struct IdCase {
    const char* ini;
    std::uint16_t id;
    std::uint16_t bootRegister;
};

class ChipIdRegisters : public simtest::SimFixture, public ::testing::WithParamInterface<IdCase> {};

TEST_P(ChipIdRegisters, ChipIdWordAndBootModeRegister) {
    Bytes image(0x10000, 0xFF);
    image[0] = 0x02;
    m_dir.WriteBytes("spi.bin", image);
    Start(GetParam().ini);
    auto id = W().VendorIn(0x25, 0, 0xFE21, 2);
    ASSERT_TRUE(id);
    EXPECT_EQ((*id)[0] | ((*id)[1] << 8), GetParam().id);
    EXPECT_EQ(W().VendorIn(0x25, 0, GetParam().bootRegister, 1), Bytes{8});
    // The chip ID is read-only.
    EXPECT_EQ(W().VendorOut(0x24, 0, 0xFE21, {0x00, 0x00}), 0u);
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xFE21, 2), id);
}

INSTANTIATE_TEST_SUITE_P(Types, ChipIdRegisters,
                         ::testing::Values(IdCase{"[chip]\ntype = KSC7020\n", 0x7011, 0xC2A8},
                                           IdCase{"[chip]\ntype = KSC7040\n", 0xB011, 0xC2A8},
                                           IdCase{"[chip]\ntype = KSC7042\n", 0xF011, 0xC2A8},
                                           IdCase{"[chip]\ntype = KSC7050\n", 0xD011, 0xC2A8},
                                           IdCase{"[chip]\ntype = KSC7032\n", 0xE011, 0xC2A8},
                                           IdCase{"[chip]\ntype = KSC7080\n", 0x1011, 0xC2A8},
                                           IdCase{"[chip]\nid = 0x7110\n", 0x7110, 0xC2A6}));

}  // namespace

// ---- which flash image a chip boots ----

struct BankCase {
    const char* name;
    const char* ini;
    std::uint8_t bank0Version;  // v0 of the image at 0
    std::uint8_t bank1Version;  // v0 of the image at 0x10000
    bool withdrawBank0;         // the word at 0x1010 zeroed
    std::uint8_t booted;        // v0 the status block reports
};

void PrintTo(const BankCase& c, std::ostream* os) {
    *os << c.name;
}

class BootedBank : public simtest::SimFixture, public ::testing::WithParamInterface<BankCase> {};

TEST_P(BootedBank, StatusBlockReportsTheImageTheChipBooted) {
    const BankCase& c = GetParam();
    Bytes flash(0x20000, 0xFF);
    for (std::uint32_t bank : {0x00000u, 0x10000u}) {
        flash[bank] = 0x02;
        std::fill_n(flash.begin() + bank + 0x100C, 8, 0x11);
        flash[bank + 0x100C] = bank ? c.bank1Version : c.bank0Version;
    }
    if (c.withdrawBank0)
        std::fill_n(flash.begin() + 0x1010, 4, 0x00);
    m_dir.WriteBytes("spi.bin", flash);
    Start(std::string(c.ini) + "flash_size = 0x20000\n");
    auto b = W().VendorIn(0x07, 9, 0, 8);  // bytes 72..79: b[79] is v0
    ASSERT_TRUE(b);
    EXPECT_EQ((*b)[7], c.booted);
}

INSTANTIATE_TEST_SUITE_P(
    Banks, BootedBank,
    ::testing::Values(
        BankCase{"SingleBankBootsImageAtZero", "[chip]\ntype = KSC7050\n", 0x10, 0x20, false, 0x10},
        BankCase{"DualBankBootsTheNewer", "[chip]\ntype = KSC7032\n", 0x10, 0x20, false, 0x20},
        BankCase{"DualBankKeepsANewerFirstBank", "[chip]\ntype = KSC7080\n", 0x30, 0x20, false,
                 0x30},
        BankCase{"WithdrawnFirstBankBootsTheSecond", "[chip]\ntype = KSC7080\n", 0x30, 0x20, true,
                 0x20}),
    [](const auto& info) { return std::string(info.param.name); });

class BootModes : public simtest::SimFixture {};

TEST_F(BootModes, ConfigurationOnlyImageRunsTheRomWithItsConfiguration) {
    Bytes flash(0x10000, 0xFF);
    flash[0] = 0x30;  // memory-kind code of a configuration-only image
    flash[1] = 0xA5;
    const Bytes version{0x10, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05};
    std::copy(version.begin(), version.end(), flash.begin() + 0x11B);
    m_dir.WriteBytes("spi.bin", flash);
    Start("[chip]\nflash_size = 0x10000\n");
    EXPECT_EQ(W().VendorIn(0x25, 0, 0xC2A8, 1), Bytes{32});  // "ROM&&SPI"
    Bytes s;
    for (std::uint16_t k = 16; k < 20; ++k) {
        auto block = W().VendorIn(0x07, k, 0, 8);
        ASSERT_TRUE(block);
        s.insert(s.end(), block->begin(), block->end());
    }
    EXPECT_EQ(Bytes(s.begin() + 12, s.begin() + 20), version);
}
