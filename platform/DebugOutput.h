#pragma once
// The system debug-output channel: any process writes a text with OutputDebugString, and a
// capture (a debugger-like listener) receives it together with the writer's process id.
//
// The channel is three shared objects: the 4096-byte buffer "DBWIN_BUFFER" (a 32-bit process
// id followed by a zero-terminated single-byte text), the semaphore "DBWIN_BUFFER_READY" (the
// capture has read the buffer, a writer may fill it) and the semaphore "DBWIN_DATA_READY" (a
// writer has filled it). Writers take turns through a named lock. A capture marks itself alive
// with a shared file lock on the buffer, so a writer recognises objects that a capture left
// behind and does not wait for a reader that is gone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <semaphore.h>

namespace uafw {

inline constexpr std::size_t kDebugBufferSize = 4096;
// The text part of the buffer without its terminator.
inline constexpr std::size_t kDebugTextCapacity = kDebugBufferSize - sizeof(std::uint32_t) - 1;

// The names of one debug-output channel.
struct DebugOutputNames {
    std::string buffer;       // POSIX shared-memory name
    std::string bufferReady;  // POSIX semaphore name
    std::string dataReady;    // POSIX semaphore name
    std::string writerLock;   // NamedMutex name

    // The channel every process uses.
    static DebugOutputNames System();
    // A private channel whose names all start with `scope` (letters, digits and '_'), so that
    // several listeners can run side by side without taking each other's texts.
    static DebugOutputNames Scoped(std::string_view scope);
};

// Sends `text` (up to its first zero byte) to the system channel. Does nothing when no capture
// is running; never waits longer than a few hundred milliseconds.
void OutputDebugString(std::string_view text);

// Sends `text` (up to its first zero byte) on the given channel. A text longer than the buffer
// goes out as consecutive records, so that a capture that concatenates them gets it whole; an
// empty text sends one empty record. True when every record was handed to a capture.
bool SendDebugOutput(std::string_view text, const DebugOutputNames& names);

// One received record.
struct DebugRecord {
    std::uint32_t processId = 0;
    std::string text;
};

// The capture side of a channel: creates (or opens) the objects and receives the records.
class DebugOutputReceiver {
public:
    enum class OpenResult {
        kOk,
        kBufferReadyFailed,
        kDataReadyFailed,
        kMappingFailed,
        kViewFailed
    };
    enum class DataWait { kData, kTimedOut, kFailed };

    explicit DebugOutputReceiver(DebugOutputNames names = DebugOutputNames::System());
    // Closes the objects; they stay in the system for other listeners and writers.
    ~DebugOutputReceiver();
    DebugOutputReceiver(const DebugOutputReceiver&) = delete;
    DebugOutputReceiver& operator=(const DebugOutputReceiver&) = delete;

    // Creates or opens both semaphores and the buffer, maps the buffer for reading and marks the
    // capture alive. The first failing step is reported; nothing is kept open after a failure.
    OpenResult Open();
    bool IsOpen() const { return m_view != nullptr; }
    // Closes the objects (also done by the destructor).
    void Close();

    // Lets the next writer fill the buffer. Like an auto-reset event, signalling twice before a
    // writer came gives one turn, never two.
    void SignalBufferReady();
    // Waits at most `timeoutMs` real milliseconds for a writer's record (kWaitInfinite: without
    // time-out).
    DataWait WaitDataReady(std::uint32_t timeoutMs);
    // The record in the buffer; the text ends at its terminator or at the buffer's end.
    DebugRecord ReadRecord() const;

    // Removes the channel's objects from the system (for private channels that are done).
    static void RemoveObjects(const DebugOutputNames& names);

private:
    DebugOutputNames m_names;
    sem_t* m_bufferReady = nullptr;
    sem_t* m_dataReady = nullptr;
    int m_fd = -1;
    const unsigned char* m_view = nullptr;
};

}  // namespace uafw
