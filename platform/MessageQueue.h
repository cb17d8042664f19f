#pragma once
// A thread's message queue: any thread posts requests, the owning thread takes them one at a time
// in arrival order. A posted quit ends the queue: the messages before it are still delivered,
// then every Get reports the end.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace uafw {

struct ThreadMessage {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class MessageQueue {
public:
    // The quit message; posting it is the same as PostQuit(wParam).
    static constexpr std::uint32_t kQuit = 0x0012;

    enum class GetResult { kMessage, kQuit, kTimedOut };

    MessageQueue() = default;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Appends a message. False once quit was posted: nobody would take the message any more, so
    // the caller keeps whatever wParam or lParam refer to.
    bool Post(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // Ends the queue after the messages posted so far. A second quit changes nothing.
    void PostQuit(int exitCode = 0);

    // Takes the oldest message, waiting for one. False when the quit has been reached.
    bool Get(ThreadMessage& out);
    // The same with a time-out in milliseconds, measured by the clock port.
    GetResult Get(ThreadMessage& out, std::uint32_t timeoutMs);

    // Messages waiting before the quit.
    std::size_t Pending() const;
    // The exit code given with the quit (0 before one was posted).
    int ExitCode() const;

private:
    // Takes the oldest message when there is one; the caller holds m_lock.
    GetResult TakeLocked(ThreadMessage& out);

    mutable std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<ThreadMessage> m_messages;
    bool m_quitPosted = false;
    int m_exitCode = 0;
};

}  // namespace uafw
