#include "flow/MpFlow2.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/OperationLog.h"

namespace {

constexpr int kChunkAttempts = 8;
constexpr int kEraseAttempts = 3;
constexpr std::uint32_t kEraseRetryPauseMs = 128;
constexpr std::uint32_t kSpiChunk = 4096;
constexpr std::uint32_t kEepromChunk = 8;
constexpr std::uint32_t kEeprom8EmptyCheckBytes = 64;

// One chunked transfer: its status word, chunk size and progress band.
struct TransferPlan {
    std::int32_t status;
    std::uint32_t chunk;
    std::int32_t bandStart;
    std::int32_t bandWidth;
};

constexpr TransferPlan kSpiWritePlan{kStatusDownload, kSpiChunk, 35, 30};
constexpr TransferPlan kSpiEmptyPlan{kStatusCheckEmpty, kSpiChunk, 5, 30};
constexpr TransferPlan kSpiVerifyPlan{kStatusVerify, kSpiChunk, 65, 30};
constexpr TransferPlan kSpiReadPlan{kStatusRead, kSpiChunk, 10, 80};
constexpr TransferPlan kEep16WritePlan{kStatusDownload, kEepromChunk, 50, 20};
constexpr TransferPlan kEep16VerifyPlan{kStatusVerify, kEepromChunk, 70, 20};
constexpr TransferPlan kEep16ReadPlan{kStatusRead, kEepromChunk, 10, 80};
constexpr TransferPlan kEep8WritePlan{kStatusDownload, kEepromChunk, 50, 20};
constexpr TransferPlan kEep8EmptyPlan{kStatusCheckEmpty, kEepromChunk, 30, 20};
constexpr TransferPlan kEep8ReadPlan{kStatusRead, kEepromChunk, 10, 80};

bool AllErased(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// True when every chunk address of a transfer of `length` bytes fits the 32-bit flash address.
bool BankAddressesFit(std::uint8_t chipCode, std::uint32_t length) {
    const std::uint64_t base = chipCode == 23 ? 0x10000 : chipCode == 26 ? length : 0;
    return base + length <= 0x100000000ull;
}

// Chip codes whose flash transfers go to the second bank and read every chunk.
bool IsBankChip(std::uint8_t chipCode) {
    return chipCode == 23 || chipCode == 26;
}

}  // namespace

// The chunk loop shared by every whole-memory transfer: status word, cancel check before each
// chunk, the chunk command with its retries, progress after each chunk.
class CChunkedTransfer {
public:
    using ChunkOp = std::function<int(std::uint32_t offset, std::uint32_t size)>;

    CChunkedTransfer(CMpFlow2& flow, const TransferPlan& plan) : m_flow(flow), m_plan(plan) {}

    // `length` bytes of a buffer of `capacity` bytes.
    int Run(std::uint32_t length, std::size_t capacity, const ChunkOp& chunk) {
        CMpFlow::PostStatus(m_plan.status);
        if (length == 0 || length > capacity)
            return 0;
        for (std::uint32_t offset = 0; offset < length;) {
            if (CMpFlow::MP_CheckCancel())
                return 0;
            const std::uint32_t size = std::min(m_plan.chunk, length - offset);
            if (!m_flow.ChunkCommand([&] { return chunk(offset, size); }))
                return 0;
            offset += size;
            const auto done = static_cast<std::uint64_t>(offset);
            CMpFlow::PostProgress(m_plan.bandStart +
                                  static_cast<std::int32_t>(done * m_plan.bandWidth / length));
        }
        return 1;
    }

private:
    CMpFlow2& m_flow;
    const TransferPlan& m_plan;
};

int CMpFlow2::ChunkCommand(const std::function<int()>& command) {
    for (int attempt = 0; attempt < kChunkAttempts; ++attempt) {
        if (MP_CheckCancel())
            return 0;
        if (command())
            return 1;
    }
    return 0;
}

int CMpFlow2::EraseCommand(const std::function<int()>& command) {
    for (int attempt = 0; attempt < kEraseAttempts; ++attempt) {
        if (MP_CheckCancel())
            return 0;
        if (command())
            return 1;
        uafw::Clock().SleepMs(kEraseRetryPauseMs);
    }
    return 0;
}

std::uint32_t CMpFlow2::SpiChunkAddress(std::uint8_t chipCode, std::uint32_t offset,
                                        std::uint32_t total) {
    if (chipCode == 23)
        return offset + 0x10000;
    if (chipCode == 26)
        return offset + total;
    return offset;
}

int CMpFlow2::MP_SPIWrite(std::span<const std::uint8_t> data, std::uint32_t length) {
    const std::uint8_t chipCode = CatalogueChipCode();
    CChunkedTransfer transfer(*this, kSpiWritePlan);
    return transfer.Run(length, data.size(), [&](std::uint32_t offset, std::uint32_t size) {
        if (!BankAddressesFit(chipCode, length))
            return 0;
        return SpiWrite(SpiChunkAddress(chipCode, offset, length), data.subspan(offset, size));
    });
}

int CMpFlow2::MP_CheckSPIFlashEmpty(std::span<std::uint8_t> buffer, std::uint32_t length) {
    LogScope scope("CMpFlow2::MP_CheckSPIFlashEmpty", false, uafw::kLogDevice);
    const std::uint8_t chipCode = CatalogueChipCode();
    CChunkedTransfer transfer(*this, kSpiEmptyPlan);
    const int read =
        transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
            const auto chunk = buffer.subspan(offset, size);
            // Outside the banked chips only the first 4 KiB of every 16 KiB is read.
            if (!IsBankChip(chipCode) && (offset & 0x3000) != 0) {
                std::fill(chunk.begin(), chunk.end(), 0xFF);
                return 1;
            }
            if (!BankAddressesFit(chipCode, length))
                return 0;
            return SpiRead(SpiChunkAddress(chipCode, offset, length), chunk);
        });
    if (!read) {
        if (length != 0 && length <= buffer.size() && !MP_CheckCancel())
            scope.Fail("Read Flash Code Fail\n");
        return 0;
    }
    return AllErased(buffer.first(length)) ? 1 : 0;
}

int CMpFlow2::MP_SPIVerifyRead(std::span<std::uint8_t> buffer, std::uint32_t length) {
    const std::uint8_t chipCode = CatalogueChipCode();
    CChunkedTransfer transfer(*this, kSpiVerifyPlan);
    return transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
        const auto chunk = buffer.subspan(offset, size);
        // An all-erased reference chunk was left erased by the erase; it is not read back.
        if (!IsBankChip(chipCode) && AllErased(chunk))
            return 1;
        if (!BankAddressesFit(chipCode, length))
            return 0;
        return SpiRead(SpiChunkAddress(chipCode, offset, length), chunk);
    });
}

int CMpFlow2::MP_SPIRead(std::span<std::uint8_t> buffer, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kSpiReadPlan);
    return transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return SpiRead(offset, buffer.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP16Write(std::span<const std::uint8_t> data, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kEep16WritePlan);
    return transfer.Run(length, data.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return Eep16Write(offset, data.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP16VerifyRead(std::span<std::uint8_t> buffer, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kEep16VerifyPlan);
    return transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return Eep16Read(offset, buffer.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP16Read(std::span<std::uint8_t> buffer, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kEep16ReadPlan);
    return transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return Eep16Read(offset, buffer.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP8Write(std::span<const std::uint8_t> data, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kEep8WritePlan);
    return transfer.Run(length, data.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return Eep8Write(offset, data.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP8CheckEmpty(std::span<std::uint8_t> buffer) {
    CChunkedTransfer transfer(*this, kEep8EmptyPlan);
    const int read = transfer.Run(kEeprom8EmptyCheckBytes, buffer.size(),
                                  [&](std::uint32_t offset, std::uint32_t size) {
                                      return Eep8Read(offset, buffer.subspan(offset, size));
                                  });
    if (!read)
        return 0;
    return AllErased(buffer.first(kEeprom8EmptyCheckBytes)) ? 1 : 0;
}

int CMpFlow2::MP_EEP8Read(std::span<std::uint8_t> buffer, std::uint32_t length) {
    CChunkedTransfer transfer(*this, kEep8ReadPlan);
    return transfer.Run(length, buffer.size(), [&](std::uint32_t offset, std::uint32_t size) {
        return Eep8Read(offset, buffer.subspan(offset, size));
    });
}

int CMpFlow2::MP_EEP16WriteTag() {
    PostStatus(kStatusWriteTag);
    return Eep16WriteTag();
}

int CMpFlow2::MP_EEP8WriteTag() {
    PostStatus(kStatusWriteTag);
    return Eep8WriteTag();
}
