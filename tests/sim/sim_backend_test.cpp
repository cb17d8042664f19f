// The in-process backend: enumeration and topology, identity, hot-plug, resets with
// re-enumeration in virtual time, and state that survives the backend.
#include <gtest/gtest.h>

#include "platform/Resources.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using simtest::Bytes;
using simtest::SimFixture;
using simtest::TempDir;
namespace usb = uafw::usb;

struct Event {
    usb::HotplugEvent kind;
    std::uint32_t nodeId;
    std::string path;
};

class Backend : public SimFixture {
protected:
    std::vector<Event> m_events;
    void Listen() {
        m_backend->SubscribeHotplug([this](usb::HotplugEvent e, const usb::UsbDeviceInfo& info) {
            m_events.push_back({e, info.nodeId, info.locationPath});
        });
    }
};

TEST_F(Backend, DefaultChipIsListedWithItsIdentityOnRootPortOne) {
    Start();
    auto list = m_backend->Enumerate();
    ASSERT_EQ(list.size(), 1u);
    const usb::UsbDeviceInfo& d = list[0];
    EXPECT_EQ(d.vendorId, 0x1209);
    EXPECT_EQ(d.productId, 0x7050);
    EXPECT_EQ(d.bcdDevice, 0x0100);
    EXPECT_EQ(d.locationPath, "1-1");
    EXPECT_EQ(d.audioControlInterface, 0);
    ASSERT_EQ(d.hubChain.size(), 1u);
    EXPECT_TRUE(d.hubChain[0].isRoot);
    EXPECT_EQ(d.hubChain[0].usbGeneration, 2);
    EXPECT_EQ(d.parentNodeId, d.hubChain[0].nodeId);
    EXPECT_EQ(d.parentPort, 1);
    EXPECT_FALSE(d.displayName.empty());

    usb::UsbOsIdentity id;
    ASSERT_TRUE(m_backend->OsIdentity(d.nodeId, id));
    EXPECT_EQ(id.manufacturer, "Tavenic");
    EXPECT_EQ(id.serial, "0001");
    ASSERT_EQ(id.deviceDescriptor.size(), 18u);
    EXPECT_EQ(id.deviceDescriptor[8] | (id.deviceDescriptor[9] << 8), 0x1209);
}

TEST_F(Backend, HubPortPathGivesTheHubChainAndRootGeneration) {
    Start("[chip]\nport = 4.2\nroot_usb = 3\n");
    auto list = m_backend->Enumerate();
    ASSERT_EQ(list.size(), 1u);
    const usb::UsbDeviceInfo& d = list[0];
    EXPECT_EQ(d.locationPath, "2-4.2");
    ASSERT_EQ(d.hubChain.size(), 2u);
    EXPECT_FALSE(d.hubChain[0].isRoot);
    EXPECT_EQ(d.hubChain[0].port, 2);  // the external hub's port the chip hangs on
    EXPECT_TRUE(d.hubChain[1].isRoot);
    EXPECT_EQ(d.hubChain[1].port, 4);
    EXPECT_EQ(d.hubChain[1].usbGeneration, 3);
    EXPECT_EQ(d.parentNodeId, d.hubChain[0].nodeId);
    EXPECT_EQ(d.parentPort, 2);
}

TEST(BackendDirs, TwoDirectoriesGiveTwoChipsOnDifferentPorts) {
    TempDir a;
    TempDir b;
    b.Write("chip.ini", "[chip]\ntype = KSC7080\nserial = B\n");
    std::string error;
    auto backend = uafw::sim::SimBackend::FromStateDirs(a.Path() + ":" + b.Path(), error);
    ASSERT_TRUE(backend) << error;
    auto list = backend->Enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].locationPath, "1-1");
    EXPECT_EQ(list[1].locationPath, "1-2");
    EXPECT_NE(list[0].nodeId, list[1].nodeId);
    EXPECT_EQ(list[1].productId, 0x7080);
}

TEST(BackendDirs, DevicesAreListedInPortOrder) {
    TempDir a;
    TempDir b;
    TempDir c;
    a.Write("chip.ini", "[chip]\nport = 10\n");
    b.Write("chip.ini", "[chip]\nport = 2.3\n");
    c.Write("chip.ini", "[chip]\nport = 2\n");
    std::string error;
    auto backend =
        uafw::sim::SimBackend::FromStateDirs(a.Path() + ":" + b.Path() + ":" + c.Path(), error);
    ASSERT_TRUE(backend) << error;
    std::vector<std::string> paths;
    for (const auto& d : backend->Enumerate())
        paths.push_back(d.locationPath);
    EXPECT_EQ(paths, (std::vector<std::string>{"1-2", "1-2.3", "1-10"}));
}

TEST(BackendDirs, TwoChipsOnOnePortAreRefused) {
    TempDir a;
    TempDir b;
    a.Write("chip.ini", "[chip]\nport = 3\n");
    b.Write("chip.ini", "[chip]\nport = 3\n");
    std::string error;
    EXPECT_FALSE(uafw::sim::SimBackend::FromStateDirs(a.Path() + ":" + b.Path(), error));
    EXPECT_NE(error.find("port 1-3"), std::string::npos) << error;
}

TEST_F(Backend, ConfigurationDescriptorCarriesTheMakersExtensionUnit) {
    Start();
    Bytes cfg(512);
    auto r = W().Xfer(0x80, 6, 0x0200, 0, cfg.data(), 512);
    ASSERT_TRUE(r.ok());
    cfg.resize(r.transferred);
    ASSERT_EQ(cfg.size(), static_cast<std::size_t>(cfg[2] | (cfg[3] << 8)));
    // The class-specific descriptors right after the first interface descriptor.
    std::size_t i = 0;
    while (i < cfg.size() && cfg[i + 1] != 0x04)
        i += cfg[i];
    ASSERT_LT(i, cfg.size());
    EXPECT_EQ(cfg[i + 5], 1);  // AudioControl: class 1, subclass 1
    EXPECT_EQ(cfg[i + 6], 1);
    int unit = -1;
    for (i += cfg[i]; i < cfg.size() && cfg[i + 1] == 0x24; i += cfg[i]) {
        if (cfg[i + 2] == 8 && (cfg[i + 4] | (cfg[i + 5] << 8)) == 0x1209)
            unit = cfg[i + 3];
    }
    EXPECT_EQ(unit, 6);
}

TEST_F(Backend, ExtensionCodeOfAnotherVendorIsConfigurable) {
    Start("[chip]\next_code = 0x046D\n");
    usb::UsbOsIdentity id;
    ASSERT_TRUE(m_backend->OsIdentity(m_backend->Enumerate()[0].nodeId, id));
    const Bytes& c = id.configurationDescriptor;
    bool makers = false;
    for (std::size_t i = 0; i + 5 < c.size(); i += c[i])
        makers |= c[i + 1] == 0x24 && c[i + 2] == 8 && (c[i + 4] | (c[i + 5] << 8)) == 0x1209;
    EXPECT_FALSE(makers);
}

TEST_F(Backend, StringDescriptorsAreUtf16) {
    Start("[chip]\nproduct = Codec\n");
    Bytes s(255);
    auto r = W().Xfer(0x80, 6, 0x0302, 0x0409, s.data(), 255);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.transferred, 12u);
    EXPECT_EQ(Bytes(s.begin(), s.begin() + 4), (Bytes{12, 3, 'C', 0}));
}

TEST_F(Backend, ResetDropsTheDeviceAndBringsItBackOnTheSamePathWithANewNodeId) {
    Start("[chip]\nreenum_ms = 1500\n");
    Listen();
    const usb::UsbDeviceInfo before = m_backend->Enumerate()[0];
    ASSERT_EQ(W().VendorOut(0x20, 6, 0), 0u);  // reset into the ROM loader
    EXPECT_TRUE(m_backend->Enumerate().empty());
    EXPECT_EQ(W().VendorIn(0x06, 0, 0, 1), std::nullopt);

    m_clock.Advance(1499);
    EXPECT_TRUE(m_backend->Enumerate().empty());
    m_clock.Advance(1);
    auto after = m_backend->Enumerate();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].locationPath, before.locationPath);
    EXPECT_NE(after[0].nodeId, before.nodeId);

    // The old handle stays gone; the new appearance opens.
    std::uint8_t b = 0;
    EXPECT_EQ(W().Xfer(0xC0, 0x06, 0, 0, &b, 1).error, uafw::usb::kErrNotConnected);
    std::uint32_t error = 0;
    EXPECT_EQ(m_backend->Open(before.nodeId, error), 0u);
    EXPECT_EQ(error, uafw::usb::kErrNotConnected);
    Reopen();
    EXPECT_TRUE(W().VendorIn(0x06, 0, 0, 1).has_value());

    m_backend->PollEvents();
    ASSERT_EQ(m_events.size(), 2u);
    EXPECT_EQ(m_events[0].kind, usb::HotplugEvent::Removed);
    EXPECT_EQ(m_events[0].nodeId, before.nodeId);
    EXPECT_EQ(m_events[1].kind, usb::HotplugEvent::Arrived);
    EXPECT_EQ(m_events[1].nodeId, after[0].nodeId);
    EXPECT_EQ(m_events[1].path, before.locationPath);
}

TEST_F(Backend, ClosedHandleIsRefused) {
    Start();
    std::uint32_t error = 0;
    const usb::UsbHandle h = m_backend->Open(m_backend->Enumerate()[0].nodeId, error);
    m_backend->Close(h);
    std::uint8_t b = 0;
    EXPECT_EQ(m_backend->ControlTransfer(h, 0xC0, 0x06, 0, 0, &b, 1, 1000).error,
              usb::kErrInvalidHandle);
}

TEST_F(Backend, HotplugNotificationsFollowUnplugAndPlug) {
    Start();
    Listen();
    const std::uint32_t node = m_backend->Enumerate()[0].nodeId;
    Chip().Unplug();
    m_backend->PollEvents();
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].kind, usb::HotplugEvent::Removed);
    EXPECT_EQ(m_events[0].nodeId, node);
    Chip().Plug();
    m_backend->PollEvents();
    ASSERT_EQ(m_events.size(), 2u);
    EXPECT_EQ(m_events[1].kind, usb::HotplugEvent::Arrived);
    EXPECT_NE(m_events[1].nodeId, node);
}

TEST_F(Backend, ChipThatIsNotAttachedIsNotListedUntilPlugged) {
    m_dir.Write("chip.ini", "[chip]\nattached = 0\n");
    std::string error;
    m_backend = uafw::sim::SimBackend::FromStateDirs(m_dir.Path(), error);
    ASSERT_TRUE(m_backend) << error;
    EXPECT_TRUE(m_backend->Enumerate().empty());
    Listen();
    Chip().Plug();
    m_backend->PollEvents();
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].kind, usb::HotplugEvent::Arrived);
    EXPECT_EQ(m_backend->Enumerate().size(), 1u);
}

TEST_F(Backend, UnsubscribedCallbackHearsNothing) {
    Start();
    int calls = 0;
    const int id = m_backend->SubscribeHotplug([&](usb::HotplugEvent, const auto&) { ++calls; });
    m_backend->UnsubscribeHotplug(id);
    Chip().Unplug();
    m_backend->PollEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(Backend, LatencyIsChargedToEveryTransferInVirtualTime) {
    Start("[chip]\nlatency_us = 1500\n");
    const std::uint64_t t0 = m_clock.NowMs();
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(W().VendorIn(0x06, 0, 0, 1));
    EXPECT_EQ(m_clock.NowMs() - t0, 6u);
}

TEST(BackendState, MemoriesSurviveTheBackend) {
    uafw::FakeClock clock;
    uafw::ScopedClock use(clock);
    TempDir dir;
    dir.Write("chip.ini", "[chip]\ntype = KSC7050\nmemory = eeprom16\n");
    const Bytes data{0xDE, 0xAD, 0xBE, 0xEF};
    std::string error;
    {
        auto backend = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
        ASSERT_TRUE(backend) << error;
        std::uint32_t e = 0;
        simtest::Wire w(*backend, backend->Open(backend->Enumerate()[0].nodeId, e));
        // Write protection off, then flash, EEPROM and OTP writes.
        ASSERT_EQ(w.VendorOut(0x24, 0, 0xFEC0, {0x01}), 0u);
        ASSERT_EQ(w.VendorOut(0x24, 0, 0xFEC6, {0x01}), 0u);
        ASSERT_EQ(w.VendorOut(0x31, 0, 0, {0x00}), 0u);
        ASSERT_EQ(w.VendorOut(0x2F, 0x0100, 0x2000, data), 0u);  // flash 0x012000
        ASSERT_EQ(w.VendorOut(0x38, 0, 0x0040, data), 0u);
        ASSERT_EQ(w.EuOut(0x02, 0x97, 0x0100, 4, 8, data), 0u);
    }
    const Bytes spi = dir.ReadBytes("spi.bin");
    ASSERT_EQ(spi.size(), 0x100000u);
    EXPECT_EQ(Bytes(spi.begin() + 0x12000, spi.begin() + 0x12004), data);

    auto again = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
    ASSERT_TRUE(again) << error;
    std::uint32_t e = 0;
    simtest::Wire w(*again, again->Open(again->Enumerate()[0].nodeId, e));
    EXPECT_EQ(w.VendorIn(0x2E, 0x0100, 0x2000, 4), data);
    EXPECT_EQ(w.VendorIn(0x37, 0, 0x0040, 4), data);
    EXPECT_EQ(w.EuIn(0x02, 0xD7, 0x0100, 4, 0, 4), data);
}

TEST_F(Backend, MemoryWhoseFileCannotBeWrittenReportsTheFailure) {
    Start("[chip]\nmemory = eeprom16\n");
    ASSERT_EQ(W().VendorOut(0x38, 0, 0x0010, {0x01}), 0u);
    std::filesystem::remove(m_dir.File("eeprom.bin"));
    std::filesystem::create_directory(m_dir.File("eeprom.bin"));  // the file cannot be opened
    EXPECT_EQ(W().VendorOut(0x38, 0, 0x0010, {0x02}), usb::kErrGenFailure);
    EXPECT_NE(W().EuOut(0x02, 0x91, 0x0010, 1, 0, {0x03}), 0u);
    EXPECT_EQ(W().Status(), 9);
}

TEST(BackendState, MissingFilesAreCreatedErased) {
    TempDir dir;
    dir.Write("chip.ini", "[chip]\nmemory = eeprom8\nflash_size = 0x10000\n");
    std::string error;
    ASSERT_TRUE(uafw::sim::SimBackend::FromStateDirs(dir.Path(), error)) << error;
    EXPECT_EQ(dir.ReadBytes("spi.bin"), Bytes(0x10000, 0xFF));
    EXPECT_EQ(dir.ReadBytes("eeprom.bin"), Bytes(0x800, 0xFF));
    EXPECT_EQ(dir.ReadBytes("otp.bin"), Bytes(0x4000, 0x00));
}

struct NewFlashCase {
    const char* ini;
    bool builtin;
};

class NewFlash : public ::testing::TestWithParam<NewFlashCase> {};

TEST_P(NewFlash, NewSpiBinHoldsTheBuiltInImageOnlyWhenAskedOrUndescribed) {
    const auto image = uafw::FindResource("BINARY", 3023);
    if (!image)
        GTEST_SKIP() << "the program carries no built-in default image";
    TempDir dir;
    dir.Write("chip.ini", GetParam().ini);
    std::string error;
    auto backend = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
    ASSERT_TRUE(backend) << error;
    const Bytes flash = backend->Chip(0).FlashBytes();
    EXPECT_EQ(std::equal(image->begin(), image->end(), flash.begin()), GetParam().builtin);
    EXPECT_EQ(backend->Chip(0).RunningCode(), GetParam().builtin);
}

INSTANTIATE_TEST_SUITE_P(
    Inis, NewFlash,
    ::testing::Values(NewFlashCase{"", true}, NewFlashCase{"; nothing\n[chip]\n[faults]\n", true},
                      NewFlashCase{"[chip]\npid = 0x7051\n", false},
                      NewFlashCase{"[chip]\npid = 0x7051\nnew_flash = builtin\n", true},
                      NewFlashCase{"[chip]\nnew_flash = erased\n", false}));

TEST(BackendState, ExistingSpiBinIsKeptWhateverNewFlashSays) {
    TempDir dir;
    dir.WriteBytes("spi.bin", Bytes(0x10000, 0x5A));
    dir.Write("chip.ini", "[chip]\nflash_size = 0x10000\nnew_flash = builtin\n");
    std::string error;
    auto backend = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
    ASSERT_TRUE(backend) << error;
    EXPECT_EQ(backend->Chip(0).FlashBytes(), Bytes(0x10000, 0x5A));
}

TEST(BackendState, DefaultChipHoldsTheBuiltInDefaultImage) {
    TempDir dir;
    std::string error;
    auto backend = uafw::sim::SimBackend::FromStateDirs(dir.Path(), error);
    ASSERT_TRUE(backend) << error;
    const Bytes spi = dir.ReadBytes("spi.bin");
    ASSERT_EQ(spi.size(), 0x100000u);
    if (auto image = uafw::FindResource("BINARY", 3023)) {
        EXPECT_TRUE(std::equal(image->begin(), image->end(), spi.begin()));
        EXPECT_TRUE(backend->Chip(0).RunningCode());
    } else {
        EXPECT_EQ(spi, Bytes(0x100000, 0xFF));  // no built-in image yet: erased flash
    }
}

}  // namespace
