#pragma once
// The only channel from the flows to the window: posted window messages, the device value pair,
// and the stop flag under its lock. Posting also records the result code in g_ErrCode.
#include <cstdint>
#include <mutex>
#include <string>

// The stop flag that cancels a running flow, guarded by a process-local lock. The main window
// derives from it.
class CThreadFlag {
public:
    virtual ~CThreadFlag() = default;
    void Lock() { m_lock.lock(); }
    void Unlock() { m_lock.unlock(); }
    // Reads the stop flag under the lock.
    bool StopRequested();
    // Sets or clears the stop flag under the lock.
    void SetStop(bool stop);

    std::int32_t m_bStop = 0;

private:
    std::mutex m_lock;
};

// What the flows see of the main window.
class CMainWindowLink : public CThreadFlag {
public:
    // Queues the window message; returns non-zero when it was queued.
    virtual int PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Stores the port and hub of the opened device.
    virtual void SetDeviceInfo(std::int32_t port, std::int32_t hub) = 0;
    // Writes the verdict text directly (the serial-number countdown after a download); the
    // window shows it on the next step-text message with word 0.
    virtual void SetVerdictText(const std::string& text) { static_cast<void>(text); }
};

// Receiver of the device value pair when no main window exists (the command-line object).
class CDeviceInfoSink {
public:
    virtual ~CDeviceInfoSink() = default;
    virtual void SetDeviceInfo(std::int32_t port, std::int32_t hub) = 0;
};

// The main window while it is shown; null in command-line mode.
extern CMainWindowLink* g_pMainDlg;
// The command-line object's device value pair, when it registered itself.
extern CDeviceInfoSink* g_pDeviceInfoSink;

// Sees every message the flows post, with or without a main window (the command line's progress
// line uses it). Called on the posting thread.
using UiMessageObserver = void (*)(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam);
// Installs the observer (nullptr removes it); returns the previous one.
UiMessageObserver SetUiMessageObserver(UiMessageObserver observer);

// Posts the message to the main window when one exists (returns the posting's result, else 0).
// Unless the message is 0x412 the result code becomes wParam; a success id then clears it.
int PostUIMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// Stores the device value pair in the main window, or else in the command-line object.
void SetUIDeviceInfo(std::int32_t port, std::int32_t hub);
// True when wParam is one of the success ids that clear the result code.
bool IsSuccessResultId(std::int32_t id);
// The flow's cancel check: true when a main window exists and its stop flag is set.
bool IsStopRequested();
