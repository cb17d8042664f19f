#include "app/DebugCapture.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <utility>

namespace {

// The capture loop looks at the stop flag at least this often, also when no text arrives, so
// that a stop never waits for a writer.
constexpr std::uint32_t kStopPollMs = 20;
// Records that the loop still takes once it has seen the stop flag, when they are waiting.
constexpr int kRecordsTakenAfterStop = 64;

// The capture file, closed on every way out of the thread.
class CaptureFile {
public:
    explicit CaptureFile(const std::string& path)
        : m_fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0666)) {}
    ~CaptureFile() { Close(); }
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Append(const std::string& bytes) {
        std::size_t done = 0;
        while (m_fd >= 0 && done < bytes.size()) {
            const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }
    void Close() {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

void Print(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

DebugCapture::DebugCapture(std::string directory, uafw::DebugOutputNames names)
    : m_directory(std::move(directory)), m_names(std::move(names)) {
    if (m_directory.empty())
        m_directory = "./";
    else if (m_directory.back() != '/')
        m_directory += '/';
}

DebugCapture::~DebugCapture() {
    Stop();
}

std::string DebugCapture::LogPath() const {
    return m_directory + "DebugLog.txt";
}

bool DebugCapture::Start() {
    Stop();
    m_lastResult = -1;
    m_lastDone = false;
    auto state = std::make_shared<State>();
    state->path = LogPath();
    state->names = m_names;
    try {
        m_thread = std::thread([state] {
            state->result = Run(*state);
            state->finished.Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool DebugCapture::Stop(std::uint32_t waitMs) {
    if (!m_state)
        return true;
    // The loop sees the flag within kStopPollMs. Waking it with a record of our own instead would
    // make the stop wait for the buffer when the loop has already seen the flag.
    m_state->stop = 1;
    const bool ended = m_state->finished.Wait(waitMs);
    if (ended)
        m_thread.join();
    else
        m_thread.detach();  // it keeps its own share of the state
    m_lastResult = ended ? m_state->result.load() : -1;
    m_lastDone = m_state->done.IsSet();
    m_state->done.Reset();
    m_state.reset();
    return ended;
}

bool DebugCapture::WaitUntilTracing(std::uint32_t timeoutMs) const {
    return m_state && m_state->tracing.Wait(timeoutMs);
}

bool DebugCapture::IsDone() const {
    return m_state && m_state->done.IsSet();
}

int DebugCapture::ThreadResult() const {
    return m_state ? m_state->result.load() : m_lastResult;
}

int DebugCapture::Run(State& state) {
    // 1. The capture file, replacing an earlier one.
    CaptureFile file(state.path);
    if (!file.IsOpen())
        return 0;
    // 2. Not done yet.
    state.done.Reset();
    // 3. Every process may use the channel: the objects are created with mode 0666.
    // 4. The channel's objects.
    uafw::DebugOutputReceiver channel(state.names);
    switch (channel.Open()) {
        case uafw::DebugOutputReceiver::OpenResult::kOk:
            break;
        case uafw::DebugOutputReceiver::OpenResult::kBufferReadyFailed:
            Print("ERROR: CreateEvent DBWIN_BUFFER_READY\\n");
            return 1;
        case uafw::DebugOutputReceiver::OpenResult::kDataReadyFailed:
            Print("ERROR: CreateEvent DBWIN_DATA_READY\\n");
            return 1;
        case uafw::DebugOutputReceiver::OpenResult::kMappingFailed:
            Print("ERROR: CreateFileMapping DBWIN_BUFFER\\n");
            return 1;
        case uafw::DebugOutputReceiver::OpenResult::kViewFailed:
            Print("ERROR: MapViewOfFile\\n");
            return 1;
    }
    // 5. Ready for the first writer.
    const auto ownPid = static_cast<std::uint32_t>(getpid());
    channel.SignalBufferReady();
    std::printf("Tracing PID: %d\n", static_cast<int>(ownPid));
    std::fflush(stdout);
    state.tracing.Set();
    // 6. One record per turn, until the stop flag is seen. The buffer is offered again only
    // after its record was read: offering it while a writer fills it would let the next writer
    // overwrite that record unread. Once the flag is set, records that are already waiting are
    // still taken (a bounded number, so that busy writers cannot hold the stop up).
    int leftAfterStop = kRecordsTakenAfterStop;
    for (;;) {
        const bool stopping = state.stop != 0;
        if (stopping && leftAfterStop-- == 0)
            break;
        const uafw::DebugOutputReceiver::DataWait wait =
            channel.WaitDataReady(stopping ? 0 : kStopPollMs);
        if (wait == uafw::DebugOutputReceiver::DataWait::kFailed) {
            Print("ERROR: WaitForSingleObject\\n");
            return 1;
        }
        if (wait != uafw::DebugOutputReceiver::DataWait::kData) {
            if (stopping)
                break;
            continue;
        }
        // The record is copied out first, so the next writer need not wait for the disk.
        const uafw::DebugRecord record = channel.ReadRecord();
        channel.SignalBufferReady();
        if (record.processId == ownPid)
            file.Append(record.text);
    }
    // 7. Close the channel and the file, then report done.
    file.Close();
    channel.Close();
    state.done.Set();
    return 0;
}
