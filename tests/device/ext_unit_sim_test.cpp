// The extension-unit transport against the virtual chip: an unplug in the middle of a command,
// and a refused command with the chip's own status code.
#include <gtest/gtest.h>

#include "device/DeviceDiscovery.h"
#include "device/ExtUnit.h"
#include "sim_fixture.h"

namespace uafw::test {
namespace {

class ExtUnitSimTest : public SimDeviceFixture {
protected:
    void OpenUnit() {
        ASSERT_EQ(OpenListEntry(0, record), 0u);  // one transfer: the device descriptor
        eu = std::make_unique<CExtUnit>(record, 6);
        Take();
    }
    void TearDown() override {
        eu.reset();
        record.Close();
        SimDeviceFixture::TearDown();
    }
    DeviceRecord record;
    std::unique_ptr<CExtUnit> eu;
};

TEST_F(ExtUnitSimTest, UnplugDuringTheDataPhaseFailsWithoutStatusReadBack) {
    Start({"[chip]\n[faults]\nunplug_after = 2\n"});
    OpenUnit();
    std::uint8_t data[16] = {};
    EXPECT_EQ(eu->ReadMem(0x2000, 16, data, nullptr, nullptr), kHrDeviceNotConnected);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_TRUE(transfers[0].IsCommandBlock());
    EXPECT_TRUE(transfers[1].IsGetData());
    EXPECT_EQ(transfers[1].error, 1167u);
    EXPECT_EQ(eu->EraseFlash(), kHrDeviceNotConnected);
    EXPECT_EQ(Take().size(), 1u);  // no read-back, no status clear
}

TEST_F(ExtUnitSimTest, RefusedCommandIsFollowedByReadBackAndClear) {
    Start({"[chip]\n[faults]\nfail_opcode = 0x04\nfail_code = 31\n"});
    OpenUnit();
    EXPECT_EQ(eu->EraseFlash(), 0x8007001Fu);
    const auto transfers = Take();
    ASSERT_EQ(transfers.size(), 3u);
    EXPECT_TRUE(transfers[1].IsGetCmd());
    EXPECT_EQ(transfers[2].out, (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0, 0, 0, 0}));
    // The chip takes the next command.
    std::uint8_t id[2] = {};
    ASSERT_EQ(eu->ReadMem(0xFE21, 2, id, nullptr, nullptr), S_OK);
    EXPECT_EQ(id[0] | (id[1] << 8), 0xD011);
}

}  // namespace
}  // namespace uafw::test
