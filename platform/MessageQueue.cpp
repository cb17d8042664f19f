#include "platform/MessageQueue.h"

#include <chrono>

#include "platform/Clock.h"
#include "platform/Wait.h"

namespace uafw {

bool MessageQueue::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == kQuit) {
        PostQuit(static_cast<int>(wParam));
        return true;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_quitPosted)
            return false;
        m_messages.push_back(ThreadMessage{message, wParam, lParam});
    }
    m_posted.notify_one();
    return true;
}

void MessageQueue::PostQuit(int exitCode) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_quitPosted)
            return;
        m_quitPosted = true;
        m_exitCode = exitCode;
    }
    m_posted.notify_all();
}

MessageQueue::GetResult MessageQueue::TakeLocked(ThreadMessage& out) {
    if (!m_messages.empty()) {
        out = m_messages.front();
        m_messages.pop_front();
        return GetResult::kMessage;
    }
    if (m_quitPosted) {
        out = ThreadMessage{kQuit, static_cast<std::uintptr_t>(m_exitCode), 0};
        return GetResult::kQuit;
    }
    return GetResult::kTimedOut;
}

bool MessageQueue::Get(ThreadMessage& out) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_posted.wait(lock, [this] { return !m_messages.empty() || m_quitPosted; });
    return TakeLocked(out) == GetResult::kMessage;
}

MessageQueue::GetResult MessageQueue::Get(ThreadMessage& out, std::uint32_t timeoutMs) {
    if (timeoutMs == kWaitInfinite)
        return Get(out) ? GetResult::kMessage : GetResult::kQuit;
    std::unique_lock<std::mutex> lock(m_lock);
    if (ClockIsReal() || timeoutMs == 0) {
        m_posted.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return !m_messages.empty() || m_quitPosted; });
        return TakeLocked(out);
    }
    // Under a virtual clock the time-out is measured by that clock.
    lock.unlock();
    GetResult result = GetResult::kTimedOut;
    Clock().WaitUntil(
        [&] {
            std::lock_guard<std::mutex> guard(m_lock);
            result = TakeLocked(out);
            return result != GetResult::kTimedOut;
        },
        timeoutMs, 1);
    return result;
}

std::size_t MessageQueue::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages.size();
}

int MessageQueue::ExitCode() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_exitCode;
}

}  // namespace uafw
