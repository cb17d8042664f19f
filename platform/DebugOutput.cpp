#include "platform/DebugOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/NamedMutex.h"
#include "platform/Wait.h"

namespace uafw {

namespace {

// How long a writer waits for its turn among writers and for the capture to free the buffer.
// Like the system's own writer it then gives up: debug output must never hold up the program.
constexpr std::uint32_t kWriterLockWaitMs = 500;
constexpr std::uint32_t kBufferReadyWaitMs = 250;
// How long a starting capture waits for a writer's short look at the liveness lock.
constexpr int kAliveLockTries = 100;

// Semaphore waits of the channel always run in real time: they belong to background work, not
// to the program's own timing that tests drive through the clock port.
DebugOutputReceiver::DataWait WaitSemaphore(sem_t* sem, std::uint32_t timeoutMs) {
    int rc;
    if (timeoutMs == kWaitInfinite) {
        do {
            rc = sem_wait(sem);
        } while (rc != 0 && errno == EINTR);
    } else {
        const timespec deadline = MonotonicDeadline(timeoutMs);
        do {
            rc = sem_clockwait(sem, CLOCK_MONOTONIC, &deadline);
        } while (rc != 0 && errno == EINTR);
    }
    if (rc == 0)
        return DebugOutputReceiver::DataWait::kData;
    return errno == ETIMEDOUT ? DebugOutputReceiver::DataWait::kTimedOut
                              : DebugOutputReceiver::DataWait::kFailed;
}

void Drain(sem_t* sem) {
    while (sem_trywait(sem) == 0) {
    }
}

// True when some capture holds the liveness lock of the buffer behind `fd`.
bool CaptureAlive(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        flock(fd, LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

// The writer's handles on a channel, closed again when the write is over.
class WriterChannel {
public:
    explicit WriterChannel(const DebugOutputNames& names) {
        m_fd = shm_open(names.buffer.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (m_fd < 0 || !CaptureAlive(m_fd))
            return;
        struct stat st {};
        if (fstat(m_fd, &st) != 0 || static_cast<std::size_t>(st.st_size) < kDebugBufferSize)
            return;
        m_bufferReady = sem_open(names.bufferReady.c_str(), 0);
        m_dataReady = sem_open(names.dataReady.c_str(), 0);
        if (m_bufferReady == SEM_FAILED || m_dataReady == SEM_FAILED)
            return;
        void* view = mmap(nullptr, kDebugBufferSize, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (view != MAP_FAILED)
            m_view = static_cast<unsigned char*>(view);
    }
    ~WriterChannel() {
        if (m_view != nullptr)
            munmap(m_view, kDebugBufferSize);
        if (m_bufferReady != SEM_FAILED)
            sem_close(m_bufferReady);
        if (m_dataReady != SEM_FAILED)
            sem_close(m_dataReady);
        if (m_fd >= 0)
            close(m_fd);
    }
    WriterChannel(const WriterChannel&) = delete;
    WriterChannel& operator=(const WriterChannel&) = delete;

    bool Usable() const { return m_view != nullptr; }

    // Hands one record of at most kDebugTextCapacity bytes to the capture.
    bool Send(std::uint32_t pid, std::string_view piece) {
        if (WaitSemaphore(m_bufferReady, kBufferReadyWaitMs) !=
            DebugOutputReceiver::DataWait::kData)
            return false;
        const std::size_t n = piece.size() < kDebugTextCapacity ? piece.size() : kDebugTextCapacity;
        std::memcpy(m_view, &pid, sizeof pid);
        std::memcpy(m_view + sizeof pid, piece.data(), n);
        m_view[sizeof pid + n] = 0;
        return sem_post(m_dataReady) == 0;
    }

private:
    int m_fd = -1;
    sem_t* m_bufferReady = SEM_FAILED;
    sem_t* m_dataReady = SEM_FAILED;
    unsigned char* m_view = nullptr;
};

}  // namespace

DebugOutputNames DebugOutputNames::System() {
    return DebugOutputNames{"/DBWIN_BUFFER", "/DBWIN_BUFFER_READY", "/DBWIN_DATA_READY",
                            "DBWinMutex"};
}

DebugOutputNames DebugOutputNames::Scoped(std::string_view scope) {
    const std::string s(scope);
    return DebugOutputNames{"/" + s + "_DBWIN_BUFFER", "/" + s + "_DBWIN_BUFFER_READY",
                            "/" + s + "_DBWIN_DATA_READY", s + "_DBWinMutex"};
}

void OutputDebugString(std::string_view text) {
    SendDebugOutput(text, DebugOutputNames::System());
}

bool SendDebugOutput(std::string_view text, const DebugOutputNames& names) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos)
        text = text.substr(0, zero);

    // Quick look first: without a live capture there is nobody to wait for.
    {
        const int fd = shm_open(names.buffer.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const bool alive = CaptureAlive(fd);
        close(fd);
        if (!alive)
            return false;
    }

    NamedMutex lock(names.writerLock);
    const MutexWait turn = lock.WaitRealTime(kWriterLockWaitMs);
    if (turn != MutexWait::kAcquired && turn != MutexWait::kAbandoned)
        return false;
    bool sent = false;
    {
        WriterChannel channel(names);
        if (channel.Usable()) {
            const auto pid = static_cast<std::uint32_t>(getpid());
            sent = true;
            do {
                const std::string_view piece = text.substr(0, kDebugTextCapacity);
                text.remove_prefix(piece.size());
                sent = channel.Send(pid, piece);
            } while (sent && !text.empty());
        }
    }
    lock.Release();
    return sent;
}

DebugOutputReceiver::DebugOutputReceiver(DebugOutputNames names) : m_names(std::move(names)) {}

DebugOutputReceiver::~DebugOutputReceiver() {
    Close();
}

void DebugOutputReceiver::Close() {
    if (m_view != nullptr) {
        munmap(const_cast<unsigned char*>(m_view), kDebugBufferSize);
        m_view = nullptr;
    }
    if (m_fd >= 0) {
        close(m_fd);  // also drops the liveness lock
        m_fd = -1;
    }
    if (m_bufferReady != nullptr) {
        sem_close(m_bufferReady);
        m_bufferReady = nullptr;
    }
    if (m_dataReady != nullptr) {
        sem_close(m_dataReady);
        m_dataReady = nullptr;
    }
}

DebugOutputReceiver::OpenResult DebugOutputReceiver::Open() {
    Close();
    sem_t* sem = sem_open(m_names.bufferReady.c_str(), O_CREAT, 0666, 0);
    if (sem == SEM_FAILED)
        return OpenResult::kBufferReadyFailed;
    m_bufferReady = sem;
    sem = sem_open(m_names.dataReady.c_str(), O_CREAT, 0666, 0);
    if (sem == SEM_FAILED) {
        Close();
        return OpenResult::kDataReadyFailed;
    }
    m_dataReady = sem;

    m_fd = shm_open(m_names.buffer.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        Close();
        return OpenResult::kMappingFailed;
    }
    (void)fchmod(m_fd, 0666);  // any process may write; the creator's umask must not narrow it
    struct stat st {};
    if (fstat(m_fd, &st) != 0 || (static_cast<std::size_t>(st.st_size) < kDebugBufferSize &&
                                  ftruncate(m_fd, kDebugBufferSize) != 0)) {
        Close();
        return OpenResult::kMappingFailed;
    }

    // Mark the capture alive. The only capture of the channel also clears what a capture before
    // it left behind: a record that nobody read and a turn that nobody took.
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        Drain(m_dataReady);
        Drain(m_bufferReady);
    }
    bool alive = false;
    for (int i = 0; i < kAliveLockTries && !alive; ++i) {
        alive = flock(m_fd, LOCK_SH | LOCK_NB) == 0;
        if (!alive)
            usleep(1000);  // a writer's look at the lock takes microseconds
    }
    if (!alive) {
        Close();
        return OpenResult::kMappingFailed;
    }

    void* view = mmap(nullptr, kDebugBufferSize, PROT_READ, MAP_SHARED, m_fd, 0);
    if (view == MAP_FAILED) {
        Close();
        return OpenResult::kViewFailed;
    }
    m_view = static_cast<const unsigned char*>(view);
    return OpenResult::kOk;
}

void DebugOutputReceiver::SignalBufferReady() {
    if (m_bufferReady == nullptr)
        return;
    // Only captures post this semaphore and writers only take it, so a zero seen here cannot
    // grow before the post.
    int value = 0;
    if (sem_getvalue(m_bufferReady, &value) == 0 && value <= 0)
        sem_post(m_bufferReady);
}

DebugOutputReceiver::DataWait DebugOutputReceiver::WaitDataReady(std::uint32_t timeoutMs) {
    if (m_dataReady == nullptr)
        return DataWait::kFailed;
    return WaitSemaphore(m_dataReady, timeoutMs);
}

DebugRecord DebugOutputReceiver::ReadRecord() const {
    DebugRecord record;
    if (m_view == nullptr)
        return record;
    std::memcpy(&record.processId, m_view, sizeof record.processId);
    const unsigned char* text = m_view + sizeof record.processId;
    constexpr std::size_t kTextArea = kDebugBufferSize - sizeof record.processId;
    const void* end = std::memchr(text, 0, kTextArea);
    const std::size_t n =
        end != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(end) - text)
                       : kTextArea;
    record.text.assign(reinterpret_cast<const char*>(text), n);
    return record;
}

void DebugOutputReceiver::RemoveObjects(const DebugOutputNames& names) {
    shm_unlink(names.buffer.c_str());
    sem_unlink(names.bufferReady.c_str());
    sem_unlink(names.dataReady.c_str());
    NamedMutex::Remove(names.writerLock);
}

}  // namespace uafw
