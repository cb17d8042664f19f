// Reset details that need a chip whose notifications and system registration the test steers:
// a removal reported while the reset request is still going out, and the system check of the
// device found again.
#include <gtest/gtest.h>

#include "device/CurrentDevice.h"
#include "device/DeviceApi.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceReset.h"
#include "device_fixture.h"
#include "platform/Clock.h"

namespace uafw::test {
namespace {

class ResetFakeTest : public DeviceFixture {
protected:
    void TearDown() override {
        CCurrentDevice::Instance().Close();
        DeviceFixture::TearDown();
    }
    uafw::FakeClock clock{1000};
    uafw::ScopedClock scoped{clock};
};

TEST_F(ResetFakeTest, RemovalReportedDuringTheResetRequestEndsTheSettleWait) {
    FakeChip chip;
    chip.reenumMs = 300;
    backend.Add(chip);  // reports the removal from inside the reset request itself
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    CZynCam* device = CCurrentDevice::Instance().Get();
    device->ReconnectEvent().Set();  // a stale signal from before must not count
    std::uint32_t node = 0;
    const std::uint64_t start = clock.NowMs();
    ASSERT_EQ(DA_ResetToUpdateFW(node, 0, 0, 5000), 1);
    EXPECT_LT(clock.NowMs() - start, 5000u);
    EXPECT_EQ(node, backend.Chip().node);
}

TEST_F(ResetFakeTest, StaleSignalIsClearedBeforeTheReset) {
    FakeChip chip;
    chip.reenumMs = 300;
    backend.Add(chip);
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    CZynCam* device = CCurrentDevice::Instance().Get();
    device->ReconnectEvent().Set();  // a stale signal from before the reset
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.settleMs = 3000;
    request.given = true;
    request.vendor = true;
    request.reconnect = &device->ReconnectEvent();
    // Take back the removal's own signal, so that only a stale one could end the wait early.
    const int watcher =
        backend.SubscribeHotplug([&](uafw::usb::HotplugEvent e, const uafw::usb::UsbDeviceInfo&) {
            if (e == uafw::usb::HotplugEvent::Removed)
                device->ReconnectEvent().Reset();
        });
    std::unique_ptr<DeviceRecord> reconnected;
    const std::uint64_t start = clock.NowMs();
    ASSERT_EQ(ResetAndReconnect(device->Record(), request, reconnected), 0u);
    EXPECT_GE(clock.NowMs() - start, 3000u);  // the stale signal did not cut the wait
    backend.UnsubscribeHotplug(watcher);
}

TEST_F(ResetFakeTest, SameDeviceIsAcceptedOnlyOnceTheSystemRegisteredItUnlessParameterTwo) {
    FakeChip chip;
    chip.reenumMs = 300;
    chip.osNameReadable = false;
    backend.Add(chip);
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    CZynCam* device = CCurrentDevice::Instance().Get();

    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.parameter = 2;
    request.given = true;
    request.vendor = true;
    std::unique_ptr<DeviceRecord> reconnected;
    ASSERT_EQ(ResetAndReconnect(device->Record(), request, reconnected), 0u);
    ASSERT_TRUE(reconnected);
    const auto resets = backend.Transfers();
    bool sentTwo = false;
    for (const Transfer& t : resets)
        sentTwo |= t.bmRequestType == 0x40 && t.bRequest == 0x20 && t.wValue == 2;
    EXPECT_TRUE(sentTwo);

    // With another parameter the device is opened again and again but never accepted.
    request.parameter = 0;
    request.settleMs = 100;
    std::unique_ptr<DeviceRecord> again;
    const int opens = backend.Opens();
    EXPECT_EQ(ResetAndReconnect(*reconnected, request, again), 1460u);
    EXPECT_GT(backend.Opens(), opens + 1);
    EXPECT_EQ(backend.OpenHandles(), 0);  // every candidate opened on the way was closed
}

TEST_F(ResetFakeTest, NotReadyResetIsRetriedWithinTheBudget) {
    FakeChip chip;
    chip.reenumMs = 300;
    backend.Add(chip);
    ASSERT_NE(DA_OpenByIndex(0), 0u);
    CZynCam* device = CCurrentDevice::Instance().Get();
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.given = true;
    request.vendor = true;
    request.settleMs = 100;
    backend.ClearTransfers();
    backend.NotReady(5);  // two for the pre-reset poke, three for the reset
    std::unique_ptr<DeviceRecord> reconnected;
    ASSERT_EQ(ResetAndReconnect(device->Record(), request, reconnected), 0u);
    int resets = 0;
    for (const Transfer& t : backend.Transfers())
        resets += t.bmRequestType == 0x40 && t.bRequest == 0x20;
    EXPECT_EQ(resets, 4);  // three not-ready answers, then the reset that went through

    // A device that stays not ready runs out of budget.
    request.budgetMs = 1000;
    backend.NotReady(1000000);
    std::unique_ptr<DeviceRecord> never;
    EXPECT_EQ(ResetAndReconnect(*reconnected, request, never), 1460u);
    EXPECT_TRUE(reconnected->Usable());  // the device stays attached
    backend.NotReady(0);
}

}  // namespace
}  // namespace uafw::test
