#include "flow/FlashConfigInfo.h"

#include <algorithm>

#include "flow/DeviceDataChain.h"
#include "platform/MessageBox.h"
#include "platform/OperationLog.h"

void CFlashConfigInfo::FF_CarryOverDeviceData(std::vector<std::uint8_t>& image, std::uint16_t vid,
                                              std::uint16_t pid) {
    if (vid == kUnitKeyVendorId && std::find(kUnitKeyProductIds.begin(), kUnitKeyProductIds.end(),
                                             pid) != kUnitKeyProductIds.end()) {
        CarryOverUnitKey(image);
    }
    if (vid == kUnitSectorVendorId && pid == kUnitSectorProductId)
        CarryOverUnitSector(image);
}

void CFlashConfigInfo::CarryOverUnitKey(std::vector<std::uint8_t>& image) {
    LogScope log("CFlashConfigInfo::CarryOverUnitKey", false, uafw::kLogDevice);
    std::vector<std::uint8_t> block(kCarriedBlockSize, 0xFF);
    if (!ChunkCommand([&] { return SpiRead(kUnitKeyBlockAddress, block); }) ||
        block[0] != kProgrammedBlockMark) {
        uafw::MessageBoxPort().Show("SPI code not exist.", "Error", uafw::MsgBoxButtons::Ok,
                                    uafw::MsgBoxResult::Ok);
        return;
    }
    const auto payload = CDeviceDataChain::CarriedPayload(block, kUnitKeyDescriptorType);
    if (!payload)
        return;
    if (image.size() <= kUnitKeyBlockAddress) {
        log.Fail("Image holds no configuration block\n");
        return;
    }
    const std::size_t areaLength =
        std::min<std::size_t>(kCarriedBlockSize, image.size() - kUnitKeyBlockAddress);
    const std::span<std::uint8_t> area(image.data() + kUnitKeyBlockAddress, areaLength);
    if (!CDeviceDataChain::PlaceLongDescriptor(area, kUnitKeyDescriptorType, *payload))
        log.Fail("Unit key does not fit the image's configuration block\n");
}

void CFlashConfigInfo::CarryOverUnitSector(std::vector<std::uint8_t>& image) {
    LogScope log("CFlashConfigInfo::CarryOverUnitSector", false, uafw::kLogDevice);
    std::vector<std::uint8_t> sector(kCarriedBlockSize, 0xFF);
    if (!ChunkCommand([&] { return SpiRead(kUnitSectorAddress, sector); }))
        return;
    if (image.size() < kUnitSectorAddress + kCarriedBlockSize) {
        log.Fail("Image ends before the unit sector\n");
        return;
    }
    std::copy(sector.begin(), sector.end(), image.begin() + kUnitSectorAddress);
}
