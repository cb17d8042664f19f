#include "flow/MpFlowCustomize.h"

#include <array>

OtpVdEntry OtpVdEntry::Decode(const std::uint8_t* bytes) {
    OtpVdEntry e;
    e.start = static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
    e.length = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
    e.flag = bytes[4];
    e.allZero = (bytes[0] | bytes[1] | bytes[2] | bytes[3] | bytes[4]) == 0;
    return e;
}

std::optional<OtpVdEntry> CMpFlow_Customize::ReadVdEntry(int index) {
    if (index < 0 || index >= kOtpEntryCount)
        return std::nullopt;
    std::array<std::uint8_t, kOtpVdEntrySize> bytes{};
    if (!OtpRead(OtpVdEntryAddress(index), bytes)) {
        m_bVdTableUnread = true;
        return std::nullopt;
    }
    return OtpVdEntry::Decode(bytes.data());
}

template <typename Match>
std::optional<OtpVdEntry> CMpFlow_Customize::NewestEntry(Match match) {
    for (int i = kOtpEntryCount - 1; i >= 0; --i) {
        const auto entry = ReadVdEntry(i);
        if (entry && match(*entry))
            return entry;
    }
    return std::nullopt;
}

int CMpFlow_Customize::MP_OTPBlockValid(std::uint32_t entryAddress) {
    std::array<std::uint8_t, kOtpEccEntrySize * kOtpEntryCount> ecc{};
    if (!OtpRead(kOtpEccTable, ecc)) {
        m_bEccTableUnread = true;
        return 0;
    }
    for (std::size_t j = 0; j < ecc.size(); j += kOtpEccEntrySize) {
        const std::uint32_t address = (std::uint32_t{ecc[j]} << 8) | ecc[j + 1];
        if (address >= entryAddress && address < entryAddress + kOtpVdEntrySize)
            return 0;
    }
    return 1;
}

std::uint32_t CMpFlow_Customize::MP_OTPNewestLength() {
    const auto e = NewestEntry([](const OtpVdEntry& v) { return v.Recorded(); });
    return e ? e->length : 0;
}

std::uint32_t CMpFlow_Customize::MP_OTPAddressOfLength(std::uint32_t length) {
    const auto e =
        NewestEntry([length](const OtpVdEntry& v) { return v.Recorded() && v.length == length; });
    return e ? e->start : 0;
}

std::uint32_t CMpFlow_Customize::MP_OTPFreeVDNum() {
    std::uint32_t passed = 0;
    for (int i = kOtpEntryCount - 1; i >= 0; --i) {
        const auto entry = ReadVdEntry(i);
        if (entry && entry->Recorded())
            return passed;
        ++passed;
    }
    return passed;
}

std::uint32_t CMpFlow_Customize::MP_OTPNewestLengthOfKind(std::uint8_t flag) {
    const auto e = NewestEntry([flag](const OtpVdEntry& v) { return v.flag == flag; });
    return e ? e->length : 0;
}

std::uint32_t CMpFlow_Customize::MP_OTPAddressOfKind(std::uint8_t flag, std::uint32_t length) {
    const auto e = NewestEntry(
        [flag, length](const OtpVdEntry& v) { return v.flag == flag && v.length == length; });
    return e ? e->start : 0;
}

std::uint32_t CMpFlow_Customize::MP_OTPUsedSpace() {
    const std::uint32_t length = MP_OTPNewestLength();
    return length + MP_OTPAddressOfLength(length);
}
