#include "flow/MpFlowOtp.h"

#include <algorithm>
#include <array>

#include "platform/OperationLog.h"

namespace {
// Progress of a chunked OTP transfer: 10..90 over the bytes done.
std::int32_t ChunkProgress(std::size_t done, std::size_t total) {
    return static_cast<std::int32_t>(10 + done * 80 / std::max<std::size_t>(total, 1));
}
}  // namespace

int CMpFlow_OTP::OTP_ReadEx_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer,
                                 bool progress) {
    PostStatus(kStatusRead);
    for (std::size_t done = 0; done < buffer.size();) {
        if (MP_CheckCancel())
            return 0;
        const std::size_t n = std::min<std::size_t>(kOtpChunkSize, buffer.size() - done);
        if (!OtpRead(start + static_cast<std::uint32_t>(done), buffer.subspan(done, n)))
            return 0;
        done += n;
        if (progress)
            PostProgress(ChunkProgress(done, buffer.size()));
    }
    return 1;
}

int CMpFlow_OTP::OTP_Veriry_Cmd2(std::uint32_t start, std::span<std::uint8_t> buffer) {
    for (std::size_t done = 0; done < buffer.size();) {
        if (MP_CheckCancel())
            return 0;
        const std::size_t n = std::min<std::size_t>(kOtpChunkSize, buffer.size() - done);
        if (!OtpRead(start + static_cast<std::uint32_t>(done), buffer.subspan(done, n)))
            return 0;
        done += n;
    }
    return 1;
}

void CMpFlow_OTP::MP_OTPGetCorrectCodeData(std::uint32_t start, std::span<std::uint8_t> buffer) {
    LogScope log("CMpFlow_OTP::MP_OTPGetCorrectCodeData", true, uafw::kLogOtp);
    for (int i = 0; i < kOtpEntryCount; ++i) {
        std::array<std::uint8_t, kOtpEccEntrySize> entry{};
        if (!OtpRead(OtpEccEntryAddress(i), entry) || entry[3] != kEccInUse)
            continue;
        const std::uint32_t address = (std::uint32_t{entry[0]} << 8) | entry[1];
        if (address >= start && address - start < buffer.size())
            buffer[address - start] = entry[2];
    }
}

// The write engine is being completed; until it is, programming refuses with a failure instead
// of pretending to have written anything.
int CMpFlow_OTP::OTP_UpdateEx_Cmd2(std::span<std::uint8_t> block, std::uint16_t length) {
    static_cast<void>(block);
    static_cast<void>(length);
    PostFailure(kOtpWriteBlockFailCode);
    return 0;
}
