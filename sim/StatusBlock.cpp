#include "sim/StatusBlock.h"

#include <algorithm>

namespace uafw::sim {

std::array<std::uint8_t, kStatusAreaSize> BuildStatusArea(const ChipRunState& state) {
    std::array<std::uint8_t, kStatusAreaSize> a{};
    a[0] = static_cast<std::uint8_t>(state.chipId);
    a[1] = static_cast<std::uint8_t>(state.chipId >> 8);
    a[2] = state.bootMode;
    std::copy(kStatusSignature.begin(), kStatusSignature.end(), a.begin() + 24);

    // Version bytes: b76..b83 for version format 3, s[12..19] of the block at 128.
    ImageVersion v;
    v.fill(0xBB);
    if (state.running)
        v = *state.running;
    a[76] = v[3];
    a[77] = v[2];
    a[78] = v[1];
    a[79] = v[0];
    a[80] = v[7];
    a[81] = v[6];
    a[82] = v[5];
    a[83] = v[4];
    std::copy(v.begin(), v.end(), a.begin() + 128 + 12);

    // Image records: byte 0 = version format (high nibble) and run state (low nibble), byte 3 the
    // version byte, bytes 6-7 the version word. The ROM loader marks the second record 0xB.
    if (state.running) {
        a[64] = 0x31;
        a[67] = v[1];
        a[70] = v[3];
        a[71] = v[2];
        a[72] = 0x30;
    } else {
        a[64] = 0x30;
        a[72] = 0x3B;
    }
    return a;
}

}  // namespace uafw::sim
