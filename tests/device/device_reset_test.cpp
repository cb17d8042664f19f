// Resets with reconnection against the virtual chip: the reset senders and values, the settle
// wait, the search by port path, the budget, and what the device API does after success and
// failure.
#include "device/DeviceReset.h"

#include <gtest/gtest.h>

#include "device/DeviceApi.h"
#include "sim_fixture.h"

namespace uafw::test {
namespace {

class ResetTest : public SimDeviceFixture {
protected:
    // Opens the first device as the current device.
    CZynCam& OpenCurrent() {
        EXPECT_NE(DA_OpenByIndex(0), 0u);
        CZynCam* device = CCurrentDevice::Instance().Get();
        EXPECT_NE(device, nullptr);
        Take();
        return *device;
    }
    // The transfers of the reset itself: vendor requests 0x01/0x20-0x22 or extension-unit
    // command blocks 07-09.
    static std::vector<Transfer> Resets(const std::vector<Transfer>& transfers) {
        std::vector<Transfer> resets;
        for (const Transfer& t : transfers) {
            if ((t.bmRequestType == 0x40 &&
                 (t.bRequest == 0x01 || (t.bRequest >= 0x20 && t.bRequest <= 0x22))) ||
                (t.IsCommandBlock() && t.out.size() == 8 && t.out[0] == 0 && t.out[1] >= 7 &&
                 t.out[1] <= 9))
                resets.push_back(t);
        }
        return resets;
    }
};

TEST_F(ResetTest, UpdateResetReconnectsOnTheSamePortWithRebuiltTransports) {
    Start({"[chip]\nreenum_ms = 800\n"});
    CZynCam& device = OpenCurrent();
    const std::uint32_t oldNode = DA_GetDeviceNode();
    const std::string oldLocation = device.Record().location;
    std::uint16_t size = 64;
    ASSERT_EQ(DA_SetDataControlSize(0, size), 1);
    Take();

    std::uint32_t node = 0;
    const std::uint64_t start = Now();
    ASSERT_EQ(DA_ResetToUpdateFW(node, 0, 0, 5000), 1);
    EXPECT_NE(node, oldNode);
    EXPECT_EQ(DA_GetDeviceNode(), node);
    EXPECT_EQ(CCurrentDevice::Instance().Get(), &device);  // the same device object
    EXPECT_EQ(device.Record().location, oldLocation);
    EXPECT_EQ(device.Record().deviceNode, node);
    ASSERT_NE(device.ExtUnit(), nullptr);
    EXPECT_EQ(device.ExtUnit()->DataControlSize(), 8);
    EXPECT_FALSE(Chip().RunningCode());  // the update reset leaves the chip in its ROM loader
    // The removal notification ended the settle wait long before 5000 ms.
    EXPECT_LT(Now() - start, 5000u);

    const auto resets = Resets(Take());
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].bRequest, 0x20);
    EXPECT_EQ(resets[0].wValue, 0);
    // The new transports work on the new device.
    std::uint8_t id[2] = {};
    ASSERT_EQ(DA_ReadMem(0, 0xFE21, 2, id, 0), 1);
    EXPECT_EQ(id[0] | (id[1] << 8), 0xD011);
}

TEST_F(ResetTest, ParameterTwoSkipsTheSettleWaitAndTheSystemCheck) {
    Start({"[chip]\nreenum_ms = 400\n"});
    CZynCam& device = OpenCurrent();
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.parameter = 2;
    request.settleMs = 5000;  // no event: a settle wait would sleep all of it
    std::unique_ptr<DeviceRecord> reconnected;
    const std::uint64_t start = Now();
    ASSERT_EQ(ResetAndReconnect(device.Record(), request, reconnected), 0u);
    EXPECT_LT(Now() - start, 2000u);
    ASSERT_TRUE(reconnected);
    EXPECT_TRUE(reconnected->Usable());
    EXPECT_FALSE(device.Record().Usable());  // the old record is closed
    const auto resets = Resets(Take());
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].wValue, 2);

    // With another parameter and no event the whole settle time passes.
    request.parameter = 0;
    DeviceRecord& again = *reconnected;
    std::unique_ptr<DeviceRecord> second;
    const std::uint64_t before = Now();
    ASSERT_EQ(ResetAndReconnect(again, request, second), 0u);
    EXPECT_GE(Now() - before, 5000u);
}

TEST_F(ResetTest, ExtensionUnitPathMapsParametersZeroAndOne) {
    Start({"[chip]\nreenum_ms = 300\n"});
    CZynCam& device = OpenCurrent();
    struct Case {
        std::uint16_t parameter;
        std::uint16_t sent;
    };
    std::unique_ptr<DeviceRecord> current = nullptr;
    DeviceRecord* record = &device.Record();
    for (const Case c : {Case{0, 1}, Case{1, 0}, Case{3, 3}}) {
        ResetRequest request;
        request.type = kResetToUpdateMode;
        request.parameter = c.parameter;
        request.given = true;
        request.unitId = device.Capabilities().extUnitId;
        request.settleMs = 100;
        std::unique_ptr<DeviceRecord> next;
        ASSERT_EQ(ResetAndReconnect(*record, request, next), 0u) << c.parameter;
        const auto resets = Resets(Take());
        ASSERT_EQ(resets.size(), 1u) << c.parameter;
        EXPECT_TRUE(resets[0].IsCommandBlock());
        EXPECT_EQ(resets[0].out[1], 0x07);
        EXPECT_EQ(resets[0].P(1), c.sent) << c.parameter;
        current = std::move(next);
        record = current.get();
    }
}

TEST_F(ResetTest, ForcedExtensionUnitPathSendsTheRomResetAsACommandBlock) {
    Start({"[chip]\nreenum_ms = 300\n"});
    OpenCurrent();
    std::uint32_t node = 0;
    ASSERT_EQ(DA_ResetToRomReconnect(node, kAccessForceExtUnit, 1000), 1);
    const auto resets = Resets(Take());
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_TRUE(resets[0].IsCommandBlock());
    EXPECT_EQ(resets[0].out, (std::vector<std::uint8_t>{0x00, 0x09, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ResetTest, PreResetPokeAndTheExtraWaitOfChipB013) {
    Start({"[chip]\nid = 0xB013\nreenum_ms = 300\n"});
    CZynCam& device = OpenCurrent();
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.settleMs = 100;
    std::unique_ptr<DeviceRecord> reconnected;
    const std::uint64_t start = Now();
    ASSERT_EQ(ResetAndReconnect(device.Record(), request, reconnected), 0u);
    EXPECT_GE(Now() - start, 100u + 2000u);
    const auto transfers = Take();
    bool readId = false, poked = false;
    for (const Transfer& t : transfers) {
        readId |= t.bmRequestType == 0xC0 && t.bRequest == 0x25 && t.wIndex == 0xFE21;
        poked |= t.bmRequestType == 0x40 && t.bRequest == 0x24 && t.wIndex == 0xFF92 &&
                 t.out == std::vector<std::uint8_t>{0x01};
    }
    EXPECT_TRUE(readId);
    EXPECT_TRUE(poked);
}

TEST_F(ResetTest, DeviceThatNeverReturnsEndsWith1460AfterTheBudget) {
    Start({"[chip]\n[faults]\nnever_return = 1\n"});
    CZynCam& device = OpenCurrent();
    ResetRequest request;
    request.type = kResetToRomKind;
    request.settleMs = 100;
    std::unique_ptr<DeviceRecord> reconnected;
    const std::uint64_t start = Now();
    EXPECT_EQ(ResetAndReconnect(device.Record(), request, reconnected), 1460u);
    EXPECT_FALSE(reconnected);
    EXPECT_FALSE(device.Record().Usable());
    const std::uint64_t waited = Now() - start - 100;
    EXPECT_GT(waited, 15000u);
    EXPECT_LE(waited, 15000u + 500u);
}

TEST_F(ResetTest, FailedResetLeavesNoDeviceOrTheFirstListedOne) {
    Start({"[chip]\nport = 1\n[faults]\nnever_return = 1\n", "[chip]\nport = 2\npid = 0x7042\n"});
    ASSERT_EQ(DA_OpenByIndex(0), m_backend->Enumerate()[0].nodeId);
    CZynCam* device = CCurrentDevice::Instance().Get();
    ASSERT_EQ(device->Capabilities().ProductId(), 0x7050);
    std::uint32_t node = 1234;
    EXPECT_EQ(DA_ResetToRomReconnect(node, 0, 1000), 0);
    // The first listed device (the other chip) is now current.
    ASSERT_NE(node, 0u);
    EXPECT_EQ(DA_GetDeviceNode(), node);
    EXPECT_EQ(CCurrentDevice::Instance().Get()->Capabilities().ProductId(), 0x7042);
}

TEST_F(ResetTest, AnotherDeviceOnAnotherPortIsOpenedButNotAccepted) {
    // The second chip is listed first, so the search meets it before the reset chip.
    Start({"[chip]\nport = 3\nreenum_ms = 600\n", "[chip]\nport = 1\n"});
    const auto list = m_backend->Enumerate();
    ASSERT_EQ(list.size(), 2u);
    std::size_t resetIndex = list[0].locationPath.ends_with("3") ? 0 : 1;
    ASSERT_EQ(DA_OpenByIndex(static_cast<std::uint32_t>(resetIndex)), list[resetIndex].nodeId);
    const std::string location = CCurrentDevice::Instance().Get()->Record().location;
    const std::uint32_t other = list[1 - resetIndex].nodeId;
    const std::size_t opensBefore = m_recorder->Opened().size();

    std::uint32_t node = 0;
    ASSERT_EQ(DA_ResetToUpdateFW(node, 0, 0, 1000), 1);
    EXPECT_EQ(CCurrentDevice::Instance().Get()->Record().location, location);
    EXPECT_NE(node, other);
    const auto opened = m_recorder->Opened();
    EXPECT_NE(
        std::find(opened.begin() + static_cast<std::ptrdiff_t>(opensBefore), opened.end(), other),
        opened.end())
        << "the other device was opened during the search";
    EXPECT_EQ(opened.back(), node);
}

TEST_F(ResetTest, BudgetZeroWaitsWithoutLimit) {
    Start({"[chip]\nreenum_ms = 30000\n"});
    CZynCam& device = OpenCurrent();
    ResetRequest request;
    request.type = kResetToUpdateMode;
    request.budgetMs = 0;
    request.settleMs = 100;
    std::unique_ptr<DeviceRecord> reconnected;
    ASSERT_EQ(ResetAndReconnect(device.Record(), request, reconnected), 0u);
    EXPECT_TRUE(reconnected && reconnected->Usable());
}

TEST_F(ResetTest, UnusableRecordIsRefused) {
    Start({"[chip]\n"});
    DeviceRecord record;
    std::unique_ptr<DeviceRecord> reconnected;
    EXPECT_EQ(ResetAndReconnect(record, ResetRequest{}, reconnected), 87u);
    EXPECT_TRUE(Take().empty());
    std::uint32_t node = 5;
    EXPECT_EQ(DA_ResetToUpdateFW(node, 0, 0, 100), 0);  // no current device
    EXPECT_EQ(node, 0u);
}

TEST_F(ResetTest, RefusedResetRequestIsReturnedAndTheDeviceStaysAttached) {
    Start({"[chip]\n[faults]\nfail_request = 0x20\nfail_code = 31\n"});
    CZynCam& device = OpenCurrent();
    ResetRequest request;
    request.type = kResetToUpdateMode;
    std::unique_ptr<DeviceRecord> reconnected;
    EXPECT_EQ(ResetAndReconnect(device.Record(), request, reconnected), 31u);
    EXPECT_TRUE(device.Record().Usable());
}

TEST_F(ResetTest, RomResetByVendorRequestRestartsIntoCode) {
    Start({"[chip]\nreenum_ms = 300\n"});
    OpenCurrent();
    std::uint32_t node = 0;
    ASSERT_EQ(DA_ResetToRomVendor(node, 0, 1000), 1);
    const auto resets = Resets(Take());
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].bRequest, 0x22);
    EXPECT_EQ(DA_GetDeviceNode(), node);
}

}  // namespace
}  // namespace uafw::test
