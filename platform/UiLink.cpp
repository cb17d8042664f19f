#include "platform/UiLink.h"

#include <atomic>

#include "platform/AppState.h"

std::atomic<std::int32_t> g_ErrCode{0};

CMainWindowLink* g_pMainDlg = nullptr;
CDeviceInfoSink* g_pDeviceInfoSink = nullptr;

bool CThreadFlag::StopRequested() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bStop == 1;
}

void CThreadFlag::SetStop(bool stop) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bStop = stop ? 1 : 0;
}

bool IsSuccessResultId(std::int32_t id) {
    switch (id) {
        case 41751:
        case 41755:
        case 41851:
        case 41854:
        case 41910:
        case 41913:
        case 41931:
            return true;
        default:
            return false;
    }
}

namespace {
std::atomic<UiMessageObserver> g_uiObserver{nullptr};
}

UiMessageObserver SetUiMessageObserver(UiMessageObserver observer) {
    return g_uiObserver.exchange(observer);
}

int PostUIMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (UiMessageObserver observer = g_uiObserver.load())
        observer(message, wParam, lParam);
    int posted = 0;
    if (g_pMainDlg != nullptr)
        posted = g_pMainDlg->PostMessage(message, wParam, lParam);
    if (message != 0x412) {
        const auto code = static_cast<std::int32_t>(wParam);
        g_ErrCode = IsSuccessResultId(code) ? 0 : code;
    }
    return posted;
}

void SetUIDeviceInfo(std::int32_t port, std::int32_t hub) {
    if (g_pMainDlg != nullptr) {
        g_pMainDlg->SetDeviceInfo(port, hub);
    } else if (g_pDeviceInfoSink != nullptr) {
        g_pDeviceInfoSink->SetDeviceInfo(port, hub);
    }
}

bool IsStopRequested() {
    return g_pMainDlg != nullptr && g_pMainDlg->StopRequested();
}
