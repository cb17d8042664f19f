#include "app/ConsoleProgress.h"

#include <unistd.h>

#include "app/ResultMessages.h"
#include "platform/UiLink.h"

namespace {

constexpr std::uint32_t kMsgProgress = 0x413;
constexpr std::uint32_t kMsgStepText = 0x417;

// The progress line that receives the flows' messages; one at a time.
CConsoleProgress* g_pActive = nullptr;

void Observe(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
    if (g_pActive != nullptr)
        g_pActive->OnMessage(message, wParam);
}

}  // namespace

CConsoleProgress::~CConsoleProgress() {
    Detach();
}

void CConsoleProgress::Attach(bool force) {
    if (m_bAttached || m_out == nullptr)
        return;
    if (!force && !isatty(fileno(m_out)))
        return;
    g_pActive = this;
    SetUiMessageObserver(&Observe);
    m_bAttached = true;
}

void CConsoleProgress::Detach() {
    if (!m_bAttached)
        return;
    if (g_pActive == this) {
        SetUiMessageObserver(nullptr);
        g_pActive = nullptr;
    }
    Clear();
    m_bAttached = false;
}

void CConsoleProgress::ClearActiveLine() {
    if (g_pActive != nullptr)
        g_pActive->Clear();
}

void CConsoleProgress::Clear() {
    if (!m_bDrawn)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_bDrawn = false;
}

void CConsoleProgress::OnMessage(std::uint32_t message, std::uintptr_t wParam) {
    if (message == kMsgProgress) {
        const auto percent = static_cast<std::intptr_t>(wParam);
        m_nPercent = percent < 0 ? 0 : (percent > 100 ? 100 : static_cast<int>(percent));
        Draw();
    } else if (message == kMsgStepText && wParam != 0) {
        m_strStep = ResultMessageText(static_cast<std::int32_t>(wParam));
        Draw();
    }
}

void CConsoleProgress::Draw() {
    constexpr int kBarWidth = 30;
    const int filled = m_nPercent * kBarWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::fprintf(m_out, "\r\033[K[%s] %3d%% %s", bar.c_str(), m_nPercent, m_strStep.c_str());
    std::fflush(m_out);
    m_bDrawn = true;
}
