#include "platform/Event.h"

#include <chrono>

#include "platform/Clock.h"

namespace uafw {

Event::Event(Mode mode, bool signalled) : m_mode(mode), m_signalled(signalled) {}

void Event::Set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_signalled = true;
    }
    if (m_mode == Mode::kManualReset)
        m_changed.notify_all();
    else
        m_changed.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signalled = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_signalled;
}

bool Event::TakeLocked() {
    if (!m_signalled)
        return false;
    if (m_mode == Mode::kAutoReset)
        m_signalled = false;
    return true;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (TakeLocked())
        return true;
    if (timeoutMs == 0)
        return false;
    if (timeoutMs == kWaitInfinite) {
        m_changed.wait(lock, [this] { return m_signalled; });
        return TakeLocked();
    }
    if (ClockIsReal()) {
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return m_signalled; }))
            return false;
        return TakeLocked();
    }
    // Under a virtual clock the time-out is measured by that clock.
    lock.unlock();
    return Clock().WaitUntil(
        [this] {
            std::lock_guard<std::mutex> guard(m_lock);
            return TakeLocked();
        },
        timeoutMs, 1);
}

}  // namespace uafw
