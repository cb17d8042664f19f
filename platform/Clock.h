#pragma once
// The clock and sleep port. Every wait that the program times in milliseconds (settle times,
// poll intervals, erase time-outs, retry pauses) goes through the current clock, so that tests
// can replace it with a virtual clock and run those waits without real time passing.
#include <cstdint>
#include <functional>
#include <mutex>

namespace uafw {

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary fixed point; never goes backwards.
    virtual std::uint64_t NowMs() = 0;
    // Waits the given time.
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Waits until `ready` returns true or the time-out passes, checking every `pollMs`.
    // Returns the last result of `ready`. A virtual clock advances time instead of waiting.
    virtual bool WaitUntil(const std::function<bool()>& ready, std::uint32_t timeoutMs,
                           std::uint32_t pollMs);
};

// The real clock: steady time and real sleeps.
class SystemClock final : public IClock {
public:
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
};

// A virtual clock for tests: SleepMs advances the time at once. Thread-safe.
class FakeClock final : public IClock {
public:
    explicit FakeClock(std::uint64_t startMs = 0) : m_nowMs(startMs) {}
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    void Advance(std::uint64_t ms) { SleepMs(static_cast<std::uint32_t>(ms)); }
    // Total time all sleeps asked for.
    std::uint64_t SleptMs() const;

private:
    mutable std::mutex m_lock;
    std::uint64_t m_nowMs;
    std::uint64_t m_sleptMs = 0;
};

// The clock in use (the system clock unless a test installed another one).
IClock& Clock();

// True while the clock in use is the real system clock. Waits on kernel objects (mutexes,
// semaphores, condition variables) then block in the kernel with a real deadline; under any
// other clock they poll through that clock so that virtual time decides their time-outs.
bool ClockIsReal();

// Installs `clock` as the clock in use until the returned guard ends; the previous clock is
// restored then. The clock must outlive the guard.
class ScopedClock {
public:
    explicit ScopedClock(IClock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    IClock* m_previous;
};

}  // namespace uafw
