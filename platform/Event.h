#pragma once
// A process-local event. A manual-reset event stays signalled until Reset() and releases every
// waiter; an auto-reset event releases one waiter and becomes unsignalled again by that.
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Wait.h"

namespace uafw {

class Event {
public:
    enum class Mode { kManualReset, kAutoReset };

    explicit Event(Mode mode, bool signalled = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits until the event is signalled or `timeoutMs` milliseconds passed (kWaitInfinite:
    // without time-out, 0: just looks). True when signalled; an auto-reset event is then reset.
    bool Wait(std::uint32_t timeoutMs = kWaitInfinite);
    // The state without waiting and without resetting an auto-reset event.
    bool IsSet() const;

private:
    // Takes the signal when it is there; the caller holds m_lock.
    bool TakeLocked();

    const Mode m_mode;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_signalled;
};

}  // namespace uafw
