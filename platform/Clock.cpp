#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace uafw {

bool IClock::WaitUntil(const std::function<bool()>& ready, std::uint32_t timeoutMs,
                       std::uint32_t pollMs) {
    const std::uint64_t deadline = NowMs() + timeoutMs;
    if (pollMs == 0)
        pollMs = 1;
    for (;;) {
        if (ready())
            return true;
        const std::uint64_t now = NowMs();
        if (now >= deadline)
            return false;
        const std::uint64_t left = deadline - now;
        SleepMs(static_cast<std::uint32_t>(left < pollMs ? left : pollMs));
    }
}

std::uint64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t FakeClock::NowMs() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nowMs;
}

void FakeClock::SleepMs(std::uint32_t ms) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nowMs += ms;
    m_sleptMs += ms;
}

std::uint64_t FakeClock::SleptMs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sleptMs;
}

namespace {
SystemClock g_systemClock;
std::atomic<IClock*> g_clock{&g_systemClock};
}  // namespace

IClock& Clock() {
    return *g_clock.load();
}

bool ClockIsReal() {
    return g_clock.load() == &g_systemClock;
}

ScopedClock::ScopedClock(IClock& clock) : m_previous(g_clock.exchange(&clock)) {}

ScopedClock::~ScopedClock() {
    g_clock.store(m_previous);
}

}  // namespace uafw
