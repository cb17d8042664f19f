#include "flow/DeviceDataChain.h"

#include <algorithm>

bool CDeviceDataChain::WalkUntil(std::span<const std::uint8_t> block,
                                 std::optional<std::uint8_t> type, std::vector<Entry>& entries) {
    entries.clear();
    if (block.size() < kFirstDescriptor)
        return false;
    const std::size_t count = block[kCountOffset];
    std::size_t pos = kFirstDescriptor;
    for (std::size_t i = 0; i < count; ++i) {
        if (pos + 2 > block.size())
            return false;
        Entry e;
        e.offset = pos;
        if (block[pos] == 0xFF) {
            if (pos + kLongHeader > block.size())
                return false;
            e.isLong = true;
            e.type = block[pos + 1];
            e.length = static_cast<std::size_t>(block[pos + 2] | (block[pos + 3] << 8));
            if (e.length < kLongHeader)
                return false;
        } else {
            e.type = block[pos + 1];
            e.length = block[pos];
            if (e.length < 2)
                return false;
        }
        if (e.length > block.size() - pos)
            return false;
        entries.push_back(e);
        if (type && e.isLong && e.type == *type)
            return true;
        pos += e.length;
    }
    return true;
}

bool CDeviceDataChain::Walk(std::span<const std::uint8_t> block, std::uint8_t type,
                            std::vector<Entry>& entries) {
    return WalkUntil(block, type, entries);
}

bool CDeviceDataChain::WalkAll(std::span<const std::uint8_t> block, std::vector<Entry>& entries) {
    return WalkUntil(block, std::nullopt, entries);
}

std::optional<std::vector<std::uint8_t>> CDeviceDataChain::CarriedPayload(
    std::span<const std::uint8_t> block, std::uint8_t type) {
    std::vector<Entry> entries;
    if (!Walk(block, type, entries) || entries.empty())
        return std::nullopt;
    const Entry& last = entries.back();
    if (!last.isLong || last.type != type)
        return std::nullopt;
    const std::size_t payloadLength = last.length - kLongHeader;
    if (payloadLength > kMaxCarriedPayload)
        return std::vector<std::uint8_t>(kMaxCarriedPayload, 0x00);
    const auto first = block.begin() + static_cast<std::ptrdiff_t>(last.offset + kLongHeader);
    return std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(payloadLength));
}

bool CDeviceDataChain::PlaceLongDescriptor(std::span<std::uint8_t> area, std::uint8_t type,
                                           std::span<const std::uint8_t> payload) {
    const std::size_t newLength = payload.size() + kLongHeader;
    if (newLength > 0xFFFF)
        return false;
    std::vector<Entry> all;
    if (!WalkAll(area, all))
        return false;
    const std::size_t chainEnd =
        all.empty() ? kFirstDescriptor : all.back().offset + all.back().length;

    const auto found = std::find_if(all.begin(), all.end(),
                                    [&](const Entry& e) { return e.isLong && e.type == type; });
    const bool append = found == all.end();
    if (append && area[kCountOffset] == 0xFF)
        return false;  // the count cannot grow
    const std::size_t at = append ? chainEnd : found->offset;
    const std::size_t oldLength = append ? 0 : found->length;
    const std::size_t newEnd = chainEnd - oldLength + newLength;
    if (newEnd > area.size())
        return false;
    if (newEnd > chainEnd && !std::all_of(area.begin() + static_cast<std::ptrdiff_t>(chainEnd),
                                          area.begin() + static_cast<std::ptrdiff_t>(newEnd),
                                          [](std::uint8_t b) { return b == 0xFF; }))
        return false;

    // Move the descriptors behind the replaced one, then write the new one.
    const std::vector<std::uint8_t> tail(area.begin() + static_cast<std::ptrdiff_t>(at + oldLength),
                                         area.begin() + static_cast<std::ptrdiff_t>(chainEnd));
    std::copy(tail.begin(), tail.end(), area.begin() + static_cast<std::ptrdiff_t>(at + newLength));
    if (newEnd < chainEnd)
        std::fill(area.begin() + static_cast<std::ptrdiff_t>(newEnd),
                  area.begin() + static_cast<std::ptrdiff_t>(chainEnd), 0xFF);
    area[at] = 0xFF;
    area[at + 1] = type;
    area[at + 2] = static_cast<std::uint8_t>(newLength & 0xFF);
    area[at + 3] = static_cast<std::uint8_t>(newLength >> 8);
    std::copy(payload.begin(), payload.end(),
              area.begin() + static_cast<std::ptrdiff_t>(at + kLongHeader));
    if (append)
        ++area[kCountOffset];
    const std::size_t oldTotal = static_cast<std::size_t>(area[3] | (area[4] << 8));
    const std::size_t newTotal = oldTotal + newLength - oldLength;
    if (newTotal <= 0xFFFF) {
        area[3] = static_cast<std::uint8_t>(newTotal & 0xFF);
        area[4] = static_cast<std::uint8_t>(newTotal >> 8);
    }
    return true;
}
