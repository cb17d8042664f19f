#pragma once
// Shared vocabulary of the blocking waits: the "no time-out" value and the kernel deadline that a
// wait under the real clock hands to the timed kernel calls.
#include <time.h>

#include <cstdint>

namespace uafw {

// A time-out that never ends.
inline constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFFu;

// The CLOCK_MONOTONIC time `ms` milliseconds from now.
timespec MonotonicDeadline(std::uint32_t ms);

}  // namespace uafw
