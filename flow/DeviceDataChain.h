#pragma once
// The descriptor chain of a configuration block as the boot code of a flashed device keeps it:
// byte 0 the memory-kind code, byte 5 the descriptor count, descriptors from byte 6. A
// descriptor starts with its length byte followed by its type byte, or, when its first byte is
// 0xFF, with 0xFF, its type byte and a little-endian 16-bit length (the long form). Lengths count
// the whole descriptor. The flash download uses it to carry one long descriptor of a device's
// configuration block into the image that replaces it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class CDeviceDataChain {
public:
    static constexpr std::size_t kCountOffset = 5;
    static constexpr std::size_t kFirstDescriptor = 6;
    static constexpr std::size_t kLongHeader = 4;
    // A carried payload longer than this is replaced by this many zero bytes.
    static constexpr std::size_t kMaxCarriedPayload = 16;

    struct Entry {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::uint8_t type = 0;
        bool isLong = false;
    };

    // Walks the descriptors of `block` up to the first long descriptor of `type` (included) or
    // to the count's end. False when a descriptor runs outside the block or has a length too
    // small to move on; `entries` then holds those walked before.
    static bool Walk(std::span<const std::uint8_t> block, std::uint8_t type,
                     std::vector<Entry>& entries);
    // Walks all descriptors of the count; the same failure rule.
    static bool WalkAll(std::span<const std::uint8_t> block, std::vector<Entry>& entries);

    // The payload (length - 4 bytes) of the first long descriptor of `type`; 16 zero bytes when
    // that payload is longer than 16 bytes; nothing when the chain holds no such descriptor.
    static std::optional<std::vector<std::uint8_t>> CarriedPayload(
        std::span<const std::uint8_t> block, std::uint8_t type);

    // Writes the long descriptor 0xFF, `type`, length (payload + 4), payload over the first
    // long descriptor of `type` of `area`, or behind the last descriptor (the count then grows
    // by one). The descriptors behind a replaced one move with it when the length changes, and
    // the area's total length (bytes 3-4) follows. False, with the area unchanged, when the
    // chain is broken or the bytes the area would grow into are not erased (0xFF) or lie outside
    // the area.
    static bool PlaceLongDescriptor(std::span<std::uint8_t> area, std::uint8_t type,
                                    std::span<const std::uint8_t> payload);

private:
    static bool WalkUntil(std::span<const std::uint8_t> block, std::optional<std::uint8_t> type,
                          std::vector<Entry>& entries);
};
