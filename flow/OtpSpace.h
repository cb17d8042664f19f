#pragma once
// The OTP space of the attached chip as its VD table tells it: the end of the newest block
// (used), the block bytes left behind it (free) and the VD entries left (free entries).
#include <algorithm>
#include <cstdint>
#include <string>

#include "flow/MpFlowCustomize.h"

struct COtpSpace {
    std::uint32_t used = 0;
    std::uint32_t free = 0;
    std::uint32_t freeEntries = 0;

    // Reads the VD table of the flow's device. A newest block that ends past the block area
    // leaves no free space (never a wrapped-around count).
    static COtpSpace Query(CMpFlow_Customize& flow) {
        COtpSpace space;
        space.used = flow.MP_OTPUsedSpace();
        space.free = space.used >= kOtpBlockCapacity ? 0 : kOtpBlockCapacity - space.used;
        space.freeEntries = flow.MP_OTPFreeVDNum();
        return space;
    }

    // How many more times an image of `imageLength` bytes can be programmed: limited by the
    // free bytes and by the free VD entries; 0 for an empty image.
    std::uint32_t RemainingTimes(std::size_t imageLength) const {
        if (imageLength == 0)
            return 0;
        return static_cast<std::uint32_t>(std::min<std::size_t>(free / imageLength, freeEntries));
    }

    // Used and free space in KB, in single precision as the texts show them.
    float UsedKB() const { return static_cast<float>(used) / 1024.0f; }
    float FreeKB() const { return static_cast<float>(free) / 1024.0f; }
};
