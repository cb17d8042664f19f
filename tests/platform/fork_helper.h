#pragma once
// Child processes for tests of cross-process behaviour.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace uafw_test {

// Runs `body` in a forked child that ends with body's result as its exit status (also when the
// body leaves locks held: the child ends without any clean-up of its own).
inline pid_t ForkChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

// The child's exit status, or -1 when it did not end normally.
inline int WaitChild(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A one-shot signal between a parent and its forked children.
class ProcessSignal {
public:
    ProcessSignal() {
        if (pipe(m_fds) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    ~ProcessSignal() {
        for (const int fd : m_fds)
            if (fd >= 0)
                close(fd);
    }
    ProcessSignal(const ProcessSignal&) = delete;
    ProcessSignal& operator=(const ProcessSignal&) = delete;

    // Releases every waiter, in every process that shares the signal.
    void Notify() {
        if (m_fds[1] >= 0)
            close(m_fds[1]);
        m_fds[1] = -1;
    }
    // True when notified within the time.
    bool Wait(int timeoutMs) {
        if (m_fds[1] >= 0) {  // our copy of the write end would keep the pipe from closing
            close(m_fds[1]);
            m_fds[1] = -1;
        }
        pollfd p{m_fds[0], POLLIN, 0};
        return poll(&p, 1, timeoutMs) == 1;
    }

private:
    int m_fds[2];
};

}  // namespace uafw_test
