#include "flow/MpFlow3.h"

#include "config/Settings.h"
#include "platform/Clock.h"
#include "platform/OperationLog.h"

namespace {
constexpr std::int32_t kDefaultEraseTimeOutMs = 10000;
constexpr std::uint32_t kBlockSize = 0x10000;
}  // namespace

int CMpFlow3::MP_EraseSPIFlash(std::uint8_t skipSpecial, std::uint32_t blockWord) {
    LogScope scope("CMpFlow3::MP_EraseSPIFlash", false, uafw::kLogDevice);
    const auto timeout =
        static_cast<std::uint32_t>(ReadSettingInt(kDefaultEraseTimeOutMs, "EraseTimeOut"));
    const auto commandTime = static_cast<std::uint32_t>(ReadSettingInt(0, "EraseCommandTime"));
    PostStatus(kStatusErasing);

    const std::uint8_t chipCode = skipSpecial ? 0 : CatalogueChipCode();
    const auto attempt = [&]() -> int {
        switch (chipCode) {
            case 23:
                // The second bank of a KSC7032.
                return SpiEraseBlock(kBlockSize, 0);
            case 26: {
                // The region the image goes to: `blockWord` bytes from address `blockWord`. No
                // region (the whole-memory erase) erases the whole chip. Only whole blocks can be
                // erased, so a region that does not start and end on a block boundary cannot be
                // erased without touching the running bank: the attempt fails.
                if (blockWord == 0)
                    return SpiEraseChip(timeout);
                if (blockWord % kBlockSize != 0) {
                    scope.Fail("Erase region 0x%X is not whole blocks\n", blockWord);
                    return 0;
                }
                const std::uint32_t blocks = blockWord / kBlockSize;
                for (std::uint32_t i = 0; i < blocks; ++i) {
                    const std::uint64_t address = std::uint64_t{blockWord} + i * kBlockSize;
                    if (address > 0xFFFFFFFFu ||
                        !SpiEraseBlock(static_cast<std::uint32_t>(address), 1))
                        return 0;
                }
                return 1;
            }
            case 30: {
                std::uint8_t value = 0;
                if (!ReadByte(0x0409, value))
                    return 0;
                if (value & 0x80)
                    return SpiEraseBlock(0, 0);
                return SpiEraseChip(timeout);
            }
            default:
                return SpiEraseChip(timeout);
        }
    };
    const int result = EraseCommand(attempt);
    uafw::Clock().SleepMs(commandTime);
    PostProgress(5);
    return result;
}
