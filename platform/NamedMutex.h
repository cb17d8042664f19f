#pragma once
// A named system-wide mutex: every process that opens the same name shares one lock. The lock is
// recursive for its owning thread, and when its owner dies while holding it the next waiter
// takes it over and is told so ("abandoned").
//
// The lock lives in a POSIX shared-memory object named after the mutex name, so that it outlives
// any single process; closing a NamedMutex never removes it, since other processes may use it.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Wait.h"

namespace uafw {

enum class MutexWait {
    kAcquired,   // the caller owns the lock
    kAbandoned,  // the previous owner died holding it; the caller owns it now
    kTimedOut,   // another thread held it for the whole time-out
    kFailed,     // the lock could not be opened or waited on
};

class NamedMutex {
public:
    // Creates the lock of this name, or opens it when it already exists. Check IsOpen().
    explicit NamedMutex(std::string_view name);
    // Closes the lock without removing it. Holds of the calling thread taken through this object
    // are released first.
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool IsOpen() const { return m_shared != nullptr; }
    const std::string& Name() const { return m_name; }

    // Waits at most `timeoutMs` milliseconds (kWaitInfinite: without time-out, 0: just tries).
    // Every kAcquired or kAbandoned must be matched by one Release().
    // The time-out is measured by the clock port.
    MutexWait Wait(std::uint32_t timeoutMs);
    // The same with the time-out always in real time, for background work whose waits are not
    // part of the program's own timing (debug output).
    MutexWait WaitRealTime(std::uint32_t timeoutMs);
    // Gives up one hold of the calling thread; false when the thread does not own the lock.
    bool Release();

    // The shared-memory object behind a mutex name ("/uafw_mutex_" and the name, every character
    // that a shared-memory name cannot carry replaced by '_').
    static std::string SharedMemoryName(std::string_view name);
    // Removes the lock of this name from the system (processes that have it open keep using it).
    static bool Remove(std::string_view name);

private:
    struct Shared;
    MutexWait WaitImpl(std::uint32_t timeoutMs, bool realTime);

    std::string m_name;
    int m_fd = -1;
    Shared* m_shared = nullptr;
    // Holds taken through this object and not yet released.
    std::atomic<int> m_holds{0};
};

}  // namespace uafw
