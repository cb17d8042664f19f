// The descriptor chain of a device's configuration block: finding the carried long descriptor
// and placing it into an image's block.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "flow/DeviceDataChain.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A block: header (kind 0x55, 0xA5, chip byte, total length, count), then the descriptors, then
// erased bytes up to `size`.
Bytes Block(const std::vector<Bytes>& descriptors, std::size_t size = 64) {
    Bytes b{0x55, 0xA5, 0xCA, 0, 0, static_cast<std::uint8_t>(descriptors.size())};
    for (const Bytes& d : descriptors)
        b.insert(b.end(), d.begin(), d.end());
    b[3] = static_cast<std::uint8_t>(b.size());
    b.resize(size, 0xFF);
    return b;
}

Bytes Long(std::uint8_t type, const Bytes& payload) {
    Bytes d{0xFF, type, static_cast<std::uint8_t>(payload.size() + 4), 0};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

const Bytes kShort{0x03, 0x08, 0xC2};
const Bytes kOther{0x04, 0x50, 0x11, 0x22};  // a short descriptor of type 0x50 does not count

TEST(DeviceDataChain, CarriedPayloadIsTheFirstLongDescriptorOfTheType) {
    const Bytes block =
        Block({kShort, kOther, Long(0x51, {9}), Long(0x50, {1, 2, 3}), Long(0x50, {7})});
    EXPECT_EQ(CDeviceDataChain::CarriedPayload(block, 0x50), (Bytes{1, 2, 3}));
}

TEST(DeviceDataChain, PayloadOverSixteenBytesIsCarriedAsSixteenZeros) {
    const Bytes block = Block({Long(0x50, Bytes(17, 0xAB))});
    EXPECT_EQ(CDeviceDataChain::CarriedPayload(block, 0x50), Bytes(16, 0x00));
    const Bytes exact = Block({Long(0x50, Bytes(16, 0xAB))});
    EXPECT_EQ(CDeviceDataChain::CarriedPayload(exact, 0x50), Bytes(16, 0xAB));
}

TEST(DeviceDataChain, NothingIsCarriedWithoutTheDescriptorOrFromABrokenChain) {
    EXPECT_FALSE(CDeviceDataChain::CarriedPayload(Block({kShort, kOther}), 0x50));
    // A zero length cannot be walked past.
    EXPECT_FALSE(CDeviceDataChain::CarriedPayload(Block({{0x00, 0x08}, Long(0x50, {1})}), 0x50));
    // A descriptor running past the block.
    Bytes cut = Block({kShort, Long(0x50, {1, 2, 3})}, 12);
    EXPECT_FALSE(CDeviceDataChain::CarriedPayload(cut, 0x50));
    // The count says more descriptors than the block holds.
    Bytes overCount = Block({kShort}, 12);
    overCount[5] = 9;
    EXPECT_FALSE(CDeviceDataChain::CarriedPayload(overCount, 0x50));
}

TEST(DeviceDataChain, PlacingWithoutTheDescriptorAppendsItAndCountsIt) {
    Bytes area = Block({kShort, kOther});
    ASSERT_TRUE(CDeviceDataChain::PlaceLongDescriptor(area, 0x50, Bytes{5, 6}));
    EXPECT_EQ(area, Block({kShort, kOther, Long(0x50, {5, 6})}));
}

TEST(DeviceDataChain, PlacingReplacesTheDescriptorAndMovesTheOnesBehindIt) {
    const Bytes after{0x03, 0x07, 0x99};
    for (const Bytes& payload : {Bytes{1}, Bytes{1, 2, 3}, Bytes{1, 2, 3, 4, 5, 6}}) {
        Bytes area = Block({kShort, Long(0x50, {9, 9, 9}), after});
        ASSERT_TRUE(CDeviceDataChain::PlaceLongDescriptor(area, 0x50, payload));
        EXPECT_EQ(area, Block({kShort, Long(0x50, payload), after})) << payload.size();
    }
}

TEST(DeviceDataChain, PlacingRefusesToOverwriteDataOrLeaveTheArea) {
    // Bytes behind the chain that are not erased (a code blob, say) stay as they are.
    Bytes blob = Block({kShort});
    blob[9] = 0x12;
    const Bytes before = blob;
    EXPECT_FALSE(CDeviceDataChain::PlaceLongDescriptor(blob, 0x50, Bytes{1, 2}));
    EXPECT_EQ(blob, before);
    // No room left in the area.
    Bytes full = Block({kShort}, 12);
    EXPECT_FALSE(CDeviceDataChain::PlaceLongDescriptor(full, 0x50, Bytes{1, 2, 3}));
    EXPECT_EQ(full, Block({kShort}, 12));
    // A broken chain.
    Bytes broken = Block({{0x00, 0x08}});
    EXPECT_FALSE(CDeviceDataChain::PlaceLongDescriptor(broken, 0x50, Bytes{1}));
}

}  // namespace
