// The libusb backend driven for real through libusb against emulated usbdevfs devices.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <mutex>
#include <vector>

#include "tests/usb_libusb/UmockdevFixture.h"

namespace uafw::test {
namespace {

using usb::HotplugEvent;
using usb::UsbDeviceInfo;

// ---- Enumeration: port paths, hub chain, root-hub generation, AudioControl interface ----

struct Placement {
    const char* name;
    std::uint8_t bus;
    std::uint8_t generation;
    std::vector<std::uint8_t> ports;
    const char* location;
    std::vector<std::uint8_t> chainPorts;  // port on each hub, parent hub first
};

void PrintTo(const Placement& p, std::ostream* os) {
    *os << p.name;
}

class EnumerationPlacement : public UmockdevFixture,
                             public ::testing::WithParamInterface<Placement> {};

TEST_P(EnumerationPlacement, ReportsPortPathAndHubChainUpToTheRootHub) {
    const Placement& p = GetParam();
    ASSERT_TRUE(host_->AddBus(p.bus, p.generation));
    Plug(std::make_shared<TestAudioDevice>(), p.bus, p.ports);

    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    const UsbDeviceInfo& d = list[0];
    EXPECT_EQ(d.locationPath, p.location);
    ASSERT_EQ(d.hubChain.size(), p.chainPorts.size());
    for (std::size_t i = 0; i < d.hubChain.size(); ++i) {
        EXPECT_EQ(d.hubChain[i].port, p.chainPorts[i]) << "hub " << i;
        EXPECT_NE(d.hubChain[i].nodeId, 0u);
        EXPECT_NE(d.hubChain[i].nodeId, d.nodeId);
        EXPECT_EQ(d.hubChain[i].isRoot, i + 1 == d.hubChain.size());
    }
    EXPECT_EQ(d.hubChain.back().usbGeneration, p.generation);
    EXPECT_EQ(d.parentNodeId, d.hubChain.front().nodeId);
    EXPECT_EQ(d.parentPort, p.chainPorts.front());
}

INSTANTIATE_TEST_SUITE_P(
    Placements, EnumerationPlacement,
    ::testing::Values(Placement{"RootPortUsb2", 1, 2, {2}, "1-2", {2}},
                      Placement{"TwoHubsOnUsb3Root", 2, 3, {1, 4, 3}, "2-1.4.3", {3, 4, 1}},
                      Placement{"OneHubUsb2", 3, 2, {5, 2}, "3-5.2", {2, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UmockdevFixture, ListsOnlyDevicesWithAnAudioControlInterface) {
    TestAudioDeviceShape hidOnly;
    hidOnly.audio = false;
    hidOnly.productId = 0x0001;
    Plug(std::make_shared<TestAudioDevice>(hidOnly), 1, {1});
    Plug(std::make_shared<TestAudioDevice>(), 1, {3});

    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].locationPath, "1-3");
    EXPECT_EQ(list[0].vendorId, 0x1209);
    EXPECT_EQ(list[0].productId, 0x7050);
    EXPECT_EQ(list[0].bcdDevice, 0x0100);
    EXPECT_EQ(list[0].displayName, "Test Codec");
}

TEST_F(UmockdevFixture, CompositeDeviceReportsTheAudioControlInterfaceNumber) {
    TestAudioDeviceShape shape;
    shape.composite = true;
    Plug(std::make_shared<TestAudioDevice>(shape), 1, {1});
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].audioControlInterface, 1);
}

TEST_F(UmockdevFixture, NodeIdsAreStableAndDistinctWhileAttached) {
    Plug(std::make_shared<TestAudioDevice>(), 1, {1});
    Plug(std::make_shared<TestAudioDevice>(), 1, {2});
    auto first = Backend().Enumerate();
    auto second = Backend().Enumerate();
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(first[0].locationPath, "1-1");
    EXPECT_EQ(first[1].locationPath, "1-2");
    EXPECT_NE(first[0].nodeId, first[1].nodeId);
    EXPECT_EQ(first[0].nodeId, second[0].nodeId);
    EXPECT_EQ(first[1].nodeId, second[1].nodeId);
    // Both hang on the same root hub.
    EXPECT_EQ(first[0].parentNodeId, first[1].parentNodeId);
}

TEST_F(UmockdevFixture, DevicesAreListedInPortOrder) {
    Plug(std::make_shared<TestAudioDevice>(), 1, {10});
    Plug(std::make_shared<TestAudioDevice>(), 1, {2, 1});
    Plug(std::make_shared<TestAudioDevice>(), 1, {3});
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].locationPath, "1-2.1");
    EXPECT_EQ(list[1].locationPath, "1-3");
    EXPECT_EQ(list[2].locationPath, "1-10");
}

TEST_F(UmockdevFixture, OsIdentityComesFromTheKernelTablesWithoutARequest) {
    auto model = std::make_shared<TestAudioDevice>();
    const int slot = Plug(model, 1, {2});
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    usb::UsbOsIdentity id;
    ASSERT_TRUE(Backend().OsIdentity(list[0].nodeId, id));
    EXPECT_EQ(id.manufacturer, "Test Maker");
    EXPECT_EQ(id.product, "Test Codec");
    EXPECT_EQ(id.serial, "SN0001");
    EXPECT_EQ(id.deviceDescriptor, model->DeviceDescriptor());
    EXPECT_EQ(id.configurationDescriptor, model->ConfigurationDescriptor());
    EXPECT_EQ(host_->Node(slot)->ControlTransfers(), 0);
    EXPECT_FALSE(Backend().OsIdentity(list[0].nodeId + 1000, id));
}

// ---- Open: automatic kernel-driver detach and claim of the AudioControl interface ----

class OpenAndClaim : public UmockdevFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(OpenAndClaim, DetachesTheAudioDriverWhileOpenAndGivesItBackOnClose) {
    sim::UsbdevfsNodeOptions node;
    node.disconnectClaim = GetParam();
    TestAudioDeviceShape shape;
    shape.composite = true;
    auto model = std::make_shared<TestAudioDevice>(shape);
    const int slot = Plug(model, 1, {1}, node);
    auto devnode = host_->Node(slot);
    ASSERT_TRUE(devnode->DriverBound(1));

    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    std::uint32_t error = 99;
    const usb::UsbHandle h = Backend().Open(list[0].nodeId, error);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(devnode->Claimed(1));
    EXPECT_FALSE(devnode->DriverBound(1));
    EXPECT_FALSE(devnode->Claimed(0));  // the HID interface is left alone

    Backend().Close(h);
    EXPECT_FALSE(devnode->Claimed(1));
    EXPECT_TRUE(devnode->DriverBound(1));
}

INSTANTIATE_TEST_SUITE_P(KernelVariants, OpenAndClaim, ::testing::Bool(), [](const auto& info) {
    return info.param ? "DisconnectClaim" : "DetachThenClaim";
});

TEST_F(UmockdevFixture, InterfaceHeldByAnotherProgramIsNotReady) {
    const int slot = Plug(std::make_shared<TestAudioDevice>(), 1, {1});
    host_->Node(slot)->HoldByOtherProgram(0);
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    std::uint32_t error = 0;
    EXPECT_EQ(Backend().Open(list[0].nodeId, error), 0u);
    EXPECT_EQ(error, usb::kErrNotReady);
}

TEST_F(UmockdevFixture, OpenOfAnUnknownNodeReportsDeviceNotConnected) {
    Plug(std::make_shared<TestAudioDevice>(), 1, {1});
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    std::uint32_t error = 0;
    EXPECT_EQ(Backend().Open(list[0].nodeId + 1000, error), 0u);
    EXPECT_EQ(error, usb::kErrNotConnected);
    // A hub is not an audio device and cannot be opened through the seam.
    EXPECT_EQ(Backend().Open(list[0].parentNodeId, error), 0u);
    EXPECT_EQ(error, usb::kErrNotConnected);
}

// ---- Control transfers of both transports ----

class OpenDevice : public UmockdevFixture {
protected:
    void PlugAndOpen(TestAudioDeviceShape shape = {}) {
        model_ = std::make_shared<TestAudioDevice>(shape);
        slot_ = Plug(model_, 1, {2});
        auto list = Backend().Enumerate();
        ASSERT_EQ(list.size(), 1u);
        info_ = list[0];
        std::uint32_t error = 0;
        handle_ = Backend().Open(info_.nodeId, error);
        ASSERT_NE(handle_, 0u) << "error " << error;
    }
    void TearDown() override {
        if (backend_ && handle_ != 0) {
            backend_->Close(handle_);
        }
        UmockdevFixture::TearDown();
    }
    usb::UsbTransferResult Transfer(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                                    std::uint16_t index, std::uint8_t* data, std::uint16_t length,
                                    std::uint32_t timeoutMs = 1000) {
        return Backend().ControlTransfer(handle_, type, request, value, index, data, length,
                                         timeoutMs);
    }

    std::shared_ptr<TestAudioDevice> model_;
    int slot_ = 0;
    UsbDeviceInfo info_;
    usb::UsbHandle handle_ = 0;
};

TEST_F(OpenDevice, ExtensionUnitClassRequestsReachTheUnitOnTheAudioControlInterface) {
    TestAudioDeviceShape shape;
    shape.composite = true;
    PlugAndOpen(shape);
    const std::uint16_t index =
        static_cast<std::uint16_t>((model_->UnitId() << 8) | info_.audioControlInterface);
    for (std::uint16_t control : {std::uint16_t{0x0A00}, std::uint16_t{0x0B00}}) {
        std::array<std::uint8_t, 8> command{
            0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, static_cast<std::uint8_t>(control >> 8)};
        auto set = Transfer(0x21, 0x01, control, index, command.data(), 8);
        ASSERT_TRUE(set.ok()) << set.error;
        EXPECT_EQ(set.transferred, 8u);
        auto seen = model_->LastSetup();
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->bmRequestType, 0x21);
        EXPECT_EQ(seen->wValue, control);
        EXPECT_EQ(seen->wIndex, index);
        EXPECT_EQ(seen->wLength, 8);
        EXPECT_EQ(model_->LastOutData(), std::vector<std::uint8_t>(command.begin(), command.end()));

        std::array<std::uint8_t, 8> back{};
        auto get = Transfer(0xA1, 0x81, control, index, back.data(), 8);
        ASSERT_TRUE(get.ok()) << get.error;
        EXPECT_EQ(get.transferred, 8u);
        EXPECT_EQ(back, command);
    }
}

TEST_F(OpenDevice, VendorRequestsCarryDataBothWays) {
    PlugAndOpen();
    std::vector<std::uint8_t> out(64);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    auto w = Transfer(0x40, 0x05, 0x1234, 0xC3BA, out.data(), 64);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.transferred, 64u);
    auto seen = model_->LastSetup();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->wValue, 0x1234);
    EXPECT_EQ(seen->wIndex, 0xC3BA);

    std::vector<std::uint8_t> in(64, 0);
    auto r = Transfer(0xC0, 0x05, 0, 0, in.data(), 64);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.transferred, 64u);
    EXPECT_EQ(in, out);
}

TEST_F(OpenDevice, ShortAnswerReportsTheBytesReceived) {
    PlugAndOpen();
    std::array<std::uint8_t, 3> three{9, 8, 7};
    ASSERT_TRUE(Transfer(0x40, 0x07, 0, 0, three.data(), 3).ok());
    std::array<std::uint8_t, 8> in{};
    auto r = Transfer(0xC0, 0x07, 0, 0, in.data(), 8);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.transferred, 3u);
    EXPECT_EQ(in[0], 9);
    EXPECT_EQ(in[2], 7);
    EXPECT_EQ(in[3], 0);
}

TEST_F(OpenDevice, StandardDescriptorReadsGoToTheDevice) {
    PlugAndOpen();
    std::array<std::uint8_t, 18> dd{};
    auto r = Transfer(0x80, 0x06, 0x0100, 0, dd.data(), 18);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.transferred, 18u);
    const auto expected = model_->DeviceDescriptor();
    EXPECT_TRUE(std::equal(dd.begin(), dd.end(), expected.begin()));
}

struct Refusal {
    const char* name;
    std::uint8_t type;
    std::uint8_t request;
    std::uint32_t timeoutMs;
    std::uint32_t error;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class RefusedTransfer : public OpenDevice, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedTransfer, MapsToTheErrorVocabulary) {
    PlugAndOpen();
    const Refusal& c = GetParam();
    std::array<std::uint8_t, 8> buf{};
    auto r = Transfer(c.type, c.request, 0, 0, buf.data(), 8, c.timeoutMs);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.transferred, 0u);
    // The device still answers afterwards.
    std::array<std::uint8_t, 1> one{5};
    EXPECT_TRUE(Transfer(0x40, 0x01, 0, 0, one.data(), 1).ok());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedTransfer,
    ::testing::Values(Refusal{"UnknownVendorReadStalls", 0xC0, 0x42, 1000, usb::kErrGenFailure},
                      Refusal{"ClassRequestToAnotherEntityStalls", 0xA1, 0x81, 1000,
                              usb::kErrGenFailure},
                      Refusal{"UnansweredRequestTimesOut", 0xC0, TestAudioDevice::kNeverAnswered,
                              150, usb::kErrTimeout}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenDevice, TransfersOnAClosedHandleOrWithoutBufferFail) {
    PlugAndOpen();
    EXPECT_EQ(Transfer(0xC0, 0x05, 0, 0, nullptr, 4).error, usb::kErrInvalidParam);
    Backend().Close(handle_);
    std::array<std::uint8_t, 4> buf{};
    EXPECT_EQ(Transfer(0xC0, 0x05, 0, 0, buf.data(), 4).error, usb::kErrInvalidHandle);
    handle_ = 0;
}

// ---- Unplug, reset with re-enumeration, hot-plug ----

struct EventLog {
    std::mutex mu;
    std::vector<std::pair<HotplugEvent, UsbDeviceInfo>> events;
    std::size_t Count(HotplugEvent kind) {
        std::lock_guard lock(mu);
        std::size_t n = 0;
        for (auto& e : events) {
            n += e.first == kind ? 1 : 0;
        }
        return n;
    }
    std::optional<UsbDeviceInfo> Last(HotplugEvent kind) {
        std::lock_guard lock(mu);
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->first == kind) {
                return it->second;
            }
        }
        return std::nullopt;
    }
};

TEST_F(OpenDevice, UnplugEndsTransfersWithDeviceNotConnectedAndReportsTheRemoval) {
    PlugAndOpen();
    EventLog log;
    const int sub = Backend().SubscribeHotplug([&](HotplugEvent e, const UsbDeviceInfo& d) {
        std::lock_guard lock(log.mu);
        log.events.emplace_back(e, d);
    });
    ASSERT_NE(sub, 0);

    host_->Unplug(slot_);
    std::array<std::uint8_t, 8> buf{};
    EXPECT_EQ(Transfer(0xC0, 0x05, 0, 0, buf.data(), 8).error, usb::kErrNotConnected);
    ASSERT_TRUE(PumpUntil([&] { return log.Count(HotplugEvent::Removed) == 1; }));
    auto removed = log.Last(HotplugEvent::Removed);
    EXPECT_EQ(removed->nodeId, info_.nodeId);
    EXPECT_EQ(removed->locationPath, "1-2");
    EXPECT_TRUE(Backend().Enumerate().empty());
    std::uint32_t error = 0;
    EXPECT_EQ(Backend().Open(info_.nodeId, error), 0u);
    EXPECT_EQ(error, usb::kErrNotConnected);
    Backend().UnsubscribeHotplug(sub);
}

TEST_F(OpenDevice, ResetLeavesTheBusAndComesBackOnTheSamePortWithANewNode) {
    PlugAndOpen();
    EventLog log;
    const int sub = Backend().SubscribeHotplug([&](HotplugEvent e, const UsbDeviceInfo& d) {
        std::lock_guard lock(log.mu);
        log.events.emplace_back(e, d);
    });
    ASSERT_NE(sub, 0);
    const std::uint8_t oldDevnum = host_->DeviceNumber(slot_);

    model_->SetAttached(false);  // the chip restarts and drops off the bus
    ASSERT_TRUE(PumpUntil([&] { return log.Count(HotplugEvent::Removed) == 1; }));
    std::array<std::uint8_t, 8> buf{};
    EXPECT_EQ(Transfer(0xC0, 0x05, 0, 0, buf.data(), 8).error, usb::kErrNotConnected);
    Backend().Close(handle_);
    handle_ = 0;

    model_->SetAttached(true);
    ASSERT_TRUE(PumpUntil([&] { return log.Count(HotplugEvent::Arrived) == 1; }));
    auto arrived = log.Last(HotplugEvent::Arrived);
    EXPECT_EQ(arrived->locationPath, info_.locationPath);
    EXPECT_NE(arrived->nodeId, info_.nodeId);
    EXPECT_EQ(arrived->parentNodeId, info_.parentNodeId);
    EXPECT_NE(host_->DeviceNumber(slot_), oldDevnum);

    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].nodeId, arrived->nodeId);
    std::uint32_t error = 0;
    handle_ = Backend().Open(list[0].nodeId, error);
    ASSERT_NE(handle_, 0u) << error;
    std::array<std::uint8_t, 2> data{1, 2};
    EXPECT_TRUE(Transfer(0x40, 0x03, 0, 0, data.data(), 2).ok());
    Backend().UnsubscribeHotplug(sub);
}

TEST_F(OpenDevice, EnumerationAloneFollowsAResetWithoutHotplug) {
    PlugAndOpen();
    model_->SetAttached(false);
    EXPECT_TRUE(PumpUntil([&] { return Backend().Enumerate().empty(); }));
    model_->SetAttached(true);
    std::vector<UsbDeviceInfo> list;
    ASSERT_TRUE(PumpUntil([&] {
        list = Backend().Enumerate();
        return list.size() == 1;
    }));
    EXPECT_EQ(list[0].locationPath, info_.locationPath);
    EXPECT_NE(list[0].nodeId, info_.nodeId);
    // The handle of the old appearance stays dead; the old node id opens nothing.
    std::array<std::uint8_t, 1> one{};
    EXPECT_EQ(Transfer(0xC0, 0x05, 0, 0, one.data(), 1).error, usb::kErrNotConnected);
    std::uint32_t error = 0;
    EXPECT_EQ(Backend().Open(info_.nodeId, error), 0u);
    EXPECT_EQ(error, usb::kErrNotConnected);
}

TEST_F(UmockdevFixture, HotplugReportsArrivalOfANewAudioDeviceOnly) {
    Backend();  // libusb runs before the devices arrive
    EventLog log;
    const int sub = Backend().SubscribeHotplug([&](HotplugEvent e, const UsbDeviceInfo& d) {
        std::lock_guard lock(log.mu);
        log.events.emplace_back(e, d);
    });
    ASSERT_NE(sub, 0);
    TestAudioDeviceShape hidOnly;
    hidOnly.audio = false;
    Plug(std::make_shared<TestAudioDevice>(hidOnly), 1, {1});
    Plug(std::make_shared<TestAudioDevice>(), 1, {4});
    ASSERT_TRUE(PumpUntil([&] { return log.Count(HotplugEvent::Arrived) >= 1; }));
    // Give a stray notification for the HID device the chance to show up.
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(log.Count(HotplugEvent::Arrived), 1u);
    auto arrived = log.Last(HotplugEvent::Arrived);
    EXPECT_EQ(arrived->locationPath, "1-4");
    EXPECT_EQ(arrived->displayName, "Test Codec");
    auto list = Backend().Enumerate();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].nodeId, arrived->nodeId);

    // After unsubscribing nothing is delivered any more.
    Backend().UnsubscribeHotplug(sub);
    Plug(std::make_shared<TestAudioDevice>(), 1, {5});
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(log.Count(HotplugEvent::Arrived), 1u);
}

}  // namespace
}  // namespace uafw::test
