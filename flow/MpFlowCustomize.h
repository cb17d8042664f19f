#pragma once
// The OTP space queries of the flow: block validity against the ECC table, and the used space,
// free directory entries and newest blocks read from the VD table. Each query reads the device;
// a failed read counts as "no entry".
#include <cstdint>
#include <optional>

#include "flow/MpFlow4.h"
#include "flow/OtpMemoryMap.h"

// One decoded VD entry.
struct OtpVdEntry {
    std::uint16_t start = 0;
    std::uint16_t length = 0;
    std::uint8_t flag = 0;
    bool allZero = true;  // all five bytes 0: the entry is free

    // Code, configuration or retired: the entry describes a block that was written.
    bool Recorded() const { return flag == kVdCode || flag == kVdConfig || flag == kVdRetired; }
    static OtpVdEntry Decode(const std::uint8_t* bytes);
};

class CMpFlow_Customize : public CMpFlow4 {
public:
    // 1 when no ECC entry (whatever its flag) replaces a byte of the VD entry at `entryAddress`
    // (its five bytes); 0 when one does or the ECC table cannot be read.
    int MP_OTPBlockValid(std::uint32_t entryAddress);

    // Length of the newest recorded entry (code, configuration or retired); 0 when none.
    std::uint32_t MP_OTPNewestLength();
    // Start of the newest recorded entry whose length is `length`; 0 when none.
    std::uint32_t MP_OTPAddressOfLength(std::uint32_t length);
    // Entries passed (from entry 15 down) before the first recorded one; 16 when none.
    std::uint32_t MP_OTPFreeVDNum();
    // Length of the newest entry with flag `flag` (0x55 code, 0xAA configuration); 0 when none.
    std::uint32_t MP_OTPNewestLengthOfKind(std::uint8_t flag);
    // Start of the newest entry with flag `flag` whose length is `length`; 0 when none. The flag
    // is matched too, so that a code and a configuration block of equal length are told apart.
    std::uint32_t MP_OTPAddressOfKind(std::uint8_t flag, std::uint32_t length);
    // The end of the newest block: newest length plus the start of the entry with that length.
    std::uint32_t MP_OTPUsedSpace();

    // Reads VD entry `index` (0..15) from the device.
    std::optional<OtpVdEntry> ReadVdEntry(int index);

    // Used OTP space as last computed (greater than 0 when the OTP already holds code).
    std::int32_t m_iOtpUsedSize = 0;
    // Set when a block validity check could not read the ECC table (its 0 then says nothing
    // about the entry); the caller clears it before the checks it relies on.
    bool m_bEccTableUnread = false;
    // Set when a VD entry could not be read (a query then took it for no entry); the caller clears
    // it before the queries it relies on.
    bool m_bVdTableUnread = false;

private:
    // The first entry from 15 down that `match` accepts.
    template <typename Match>
    std::optional<OtpVdEntry> NewestEntry(Match match);
};
