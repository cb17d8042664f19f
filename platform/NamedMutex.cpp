#include "platform/NamedMutex.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "platform/Clock.h"
#include "platform/Wait.h"

namespace uafw {

namespace {

constexpr std::string_view kPrefix = "/uafw_mutex_";
constexpr std::uint32_t kReadyMagic = 0x55414D58u;  // "UAMX"
// Longest shared-memory name we form; longer mutex names are cut and tagged with their hash so
// that two long names still give two locks.
constexpr std::size_t kMaxShmName = NAME_MAX - 1;

bool AllowedInShmName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

std::uint32_t NameHash(std::string_view text) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

// The shared-memory layout. `ready` is written last, under the file lock, once the mutex is
// initialised; every opener reads it under the same file lock.
struct NamedMutex::Shared {
    std::uint32_t ready;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

std::string NamedMutex::SharedMemoryName(std::string_view name) {
    std::string shm(kPrefix);
    for (const char c : name)
        shm += AllowedInShmName(c) ? c : '_';
    if (shm.size() > kMaxShmName) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "~%08x", NameHash(name));
        shm.resize(kMaxShmName - 9);
        shm += tag;
    }
    return shm;
}

bool NamedMutex::Remove(std::string_view name) {
    return shm_unlink(SharedMemoryName(name).c_str()) == 0;
}

NamedMutex::NamedMutex(std::string_view name) : m_name(name) {
    const std::string shm = SharedMemoryName(name);
    m_fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return;
    // Every process of every user may use a system-wide lock; the creator's umask must not narrow
    // that. Failing here (someone else's object) leaves the mode its creator gave it.
    (void)fchmod(m_fd, 0666);

    // The file lock makes creation race-free: whoever holds it first sizes and initialises the
    // object, everybody else sees `ready` set. A creator that died half-way released the file
    // lock with its death and left `ready` clear, so the next opener initialises again.
    int rc;
    do {
        rc = flock(m_fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(m_fd);
        m_fd = -1;
        return;
    }
    struct stat st {};
    bool ok = fstat(m_fd, &st) == 0;
    if (ok && static_cast<std::size_t>(st.st_size) < sizeof(Shared))
        ok = ftruncate(m_fd, sizeof(Shared)) == 0;
    void* map = MAP_FAILED;
    if (ok)
        map = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (map != MAP_FAILED) {
        auto* shared = static_cast<Shared*>(map);
        if (shared->ready != kReadyMagic) {
            pthread_mutexattr_t attr;
            pthread_mutexattr_init(&attr);
            pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
            const int init = pthread_mutex_init(&shared->mutex, &attr);
            pthread_mutexattr_destroy(&attr);
            if (init == 0)
                __atomic_store_n(&shared->ready, kReadyMagic, __ATOMIC_RELEASE);
        }
        if (__atomic_load_n(&shared->ready, __ATOMIC_ACQUIRE) == kReadyMagic)
            m_shared = shared;
        else
            munmap(map, sizeof(Shared));
    }
    flock(m_fd, LOCK_UN);
    if (m_shared == nullptr) {
        close(m_fd);
        m_fd = -1;
    }
}

NamedMutex::~NamedMutex() {
    if (m_shared != nullptr) {
        while (m_holds > 0 && pthread_mutex_unlock(&m_shared->mutex) == 0)
            --m_holds;
        // A hold of another thread still links the mutex into that thread's robust list, which
        // the C library and the kernel walk; the mapping must stay valid for them, so it is kept.
        if (m_holds == 0)
            munmap(m_shared, sizeof(Shared));
        m_shared = nullptr;
    }
    if (m_fd >= 0)
        close(m_fd);
}

MutexWait NamedMutex::Wait(std::uint32_t timeoutMs) {
    return WaitImpl(timeoutMs, ClockIsReal());
}

MutexWait NamedMutex::WaitRealTime(std::uint32_t timeoutMs) {
    return WaitImpl(timeoutMs, true);
}

MutexWait NamedMutex::WaitImpl(std::uint32_t timeoutMs, bool realTime) {
    if (m_shared == nullptr)
        return MutexWait::kFailed;
    pthread_mutex_t* mutex = &m_shared->mutex;
    int rc = pthread_mutex_trylock(mutex);
    if (rc == EBUSY && timeoutMs != 0) {
        if (timeoutMs == kWaitInfinite) {
            rc = pthread_mutex_lock(mutex);
        } else if (realTime) {
            const timespec deadline = MonotonicDeadline(timeoutMs);
            rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
        } else {
            Clock().WaitUntil(
                [&] {
                    rc = pthread_mutex_trylock(mutex);
                    return rc != EBUSY;
                },
                timeoutMs, 1);
        }
    }
    switch (rc) {
        case 0:
            ++m_holds;
            return MutexWait::kAcquired;
        case EOWNERDEAD:
            // The caller owns the lock; marking it consistent keeps it usable for everybody.
            if (pthread_mutex_consistent(mutex) != 0) {
                pthread_mutex_unlock(mutex);
                return MutexWait::kFailed;
            }
            ++m_holds;
            return MutexWait::kAbandoned;
        case EBUSY:
        case ETIMEDOUT:
            return MutexWait::kTimedOut;
        default:
            return MutexWait::kFailed;
    }
}

bool NamedMutex::Release() {
    if (m_shared == nullptr)
        return false;
    if (pthread_mutex_unlock(&m_shared->mutex) != 0)
        return false;
    // The hold may have been taken through another object of the same name on this thread.
    int holds = m_holds.load();
    while (holds > 0 && !m_holds.compare_exchange_weak(holds, holds - 1)) {
    }
    return true;
}

}  // namespace uafw
