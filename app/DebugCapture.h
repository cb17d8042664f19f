#pragma once
// The debug-output capture: a thread that listens on the debug-output channel and appends every
// text of the own process, byte for byte, to DebugLog.txt. Start-up starts it when "Debug Log"
// is set and shut-down stops it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/DebugOutput.h"
#include "platform/Event.h"
#include "platform/ProgramPath.h"

class DebugCapture {
public:
    // How long Stop() waits for the thread by default.
    static constexpr std::uint32_t kStopWaitMs = 2000;

    // Captures into DebugLog.txt in `directory` from the given channel.
    explicit DebugCapture(std::string directory = uafw::ProgramDirectory(),
                          uafw::DebugOutputNames names = uafw::DebugOutputNames::System());
    // Stops a running capture.
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Clears the stop flag and starts the capture thread; a capture that still runs is stopped
    // first, so every start begins a new DebugLog.txt. False when no thread could be started.
    bool Start();
    // Sets the stop flag, wakes the thread and waits at most `waitMs` for it to end; then resets
    // the done event. True when the thread has ended (or none ran). Never blocks longer, also
    // when the thread's set-up failed or it hangs.
    bool Stop(std::uint32_t waitMs = kStopWaitMs);

    // Waits at most `timeoutMs` until the thread listens ("Tracing PID" printed).
    bool WaitUntilTracing(std::uint32_t timeoutMs) const;
    // The done event: set when the thread ended through its stop path. Stop() resets it.
    bool IsDone() const;
    // The result of the thread once it ended (also after Stop(), until the next start): 0 after
    // its stop path or when the capture file could not be created, 1 after a failed channel
    // set-up or wait; -1 while it runs, before a start, or when Stop() gave up waiting.
    int ThreadResult() const;
    // After Stop(): whether the stopped thread had set its done event.
    bool StoppedThroughDone() const { return m_lastDone; }
    // DebugLog.txt in the capture's directory.
    std::string LogPath() const;

private:
    // What the thread shares with its owner; it outlives the owner when a thread is abandoned.
    struct State {
        std::string path;
        uafw::DebugOutputNames names;
        std::atomic<std::int32_t> stop{0};
        uafw::Event done{uafw::Event::Mode::kManualReset};
        uafw::Event tracing{uafw::Event::Mode::kManualReset};
        uafw::Event finished{uafw::Event::Mode::kManualReset};
        std::atomic<int> result{-1};
    };

    static int Run(State& state);

    std::string m_directory;
    uafw::DebugOutputNames m_names;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
    int m_lastResult = -1;
    bool m_lastDone = false;
};
