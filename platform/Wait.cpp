#include "platform/Wait.h"

namespace uafw {

timespec MonotonicDeadline(std::uint32_t ms) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    constexpr long kNsPerSec = 1000000000L;
    long nsec = now.tv_nsec + static_cast<long>(ms % 1000u) * 1000000L;
    time_t sec = now.tv_sec + static_cast<time_t>(ms / 1000u);
    if (nsec >= kNsPerSec) {
        nsec -= kNsPerSec;
        ++sec;
    }
    return timespec{sec, nsec};
}

}  // namespace uafw
