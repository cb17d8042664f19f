#include "app/VorloApp.h"

#include <cstdio>
#include <cstring>

#include "app/ParseArg.h"
#include "config/ICTypeIni.h"
#include "config/Settings.h"
#include "platform/AppState.h"
#include "platform/FileAttributes.h"
#include "platform/OperationLog.h"
#include "platform/OsInfo.h"
#include "platform/ProgramPath.h"
#include "platform/Resources.h"
#include "platform/Version.h"

char g_szAppVersion[16] = {};

namespace {

// Result id of a run that found no device: "Cannot find Tavenic USB Audio!".
constexpr std::int32_t kNoDeviceResult = 41511;

std::string JoinArgs(const std::vector<std::string>& args, std::size_t first) {
    std::string text;
    for (std::size_t i = first; i < args.size(); ++i) {
        if (i != first)
            text += ' ';
        text += args[i];
    }
    return text;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

}  // namespace

bool CVorloApp::IsCommandLineRun(const std::vector<std::string>& args) {
    const std::string rest = JoinArgs(args, 1);
    return !rest.empty() && !EqualsIgnoringCase(rest, "/forcerestart");
}

bool CVorloApp::InitInstance(const std::vector<std::string>& args) {
    LoadSettings();
    StartDebugCapture();
    uafw::OperationLog::Instance().Initialise();

    const std::string version = uafw::ShortVersionText(uafw::FileVersionText());
    std::snprintf(g_szAppVersion, sizeof g_szAppVersion, "%s", version.c_str());

    g_nIniType = ReadSettingInt(0, "Ini Type");
    CreateProcessObjects();

    if (IsCommandLineRun(args)) {
        RunCommandLine(args);
    } else {
        RunDialog();
    }
    return false;
}

void CVorloApp::LoadSettings() {
    if (g_pSettings == nullptr)
        g_pSettings = new CIniFile();
    // config.ini is never read; it only must not stay read-only for its owner.
    uafw::ClearReadOnly(uafw::ProgramDirectory() + "config.ini");
    m_strDefaultSettings = std::string(uafw::ResourceText("ICINI", 3032));
    g_pSettings->LoadFromText(m_strDefaultSettings);
}

void CVorloApp::StartDebugCapture() {
    if (ReadSettingInt(0, "Debug Log") == 0)
        return;
    m_pDebugCapture = std::make_unique<DebugCapture>();
    m_pDebugCapture->Start();
}

void CVorloApp::StopDebugCapture() {
    if (ReadSettingInt(0, "Debug Log") == 0 || !m_pDebugCapture)
        return;
    m_pDebugCapture->Stop();
    m_pDebugCapture.reset();
}

void CVorloApp::CreateProcessObjects() {
    if (g_pICTypeIni == nullptr) {
        g_pICTypeIni = new CICTypeIni();
        g_pICTypeIni->ListIniNames();
        g_pICTypeIni->SelectIni();
        g_pICTypeIni->ReadChipTypeInfo();
    }
    if (g_pOsInfo == nullptr) {
        g_pOsInfo = new COsInfo();
        g_pOsInfo->Fill();
    }
    if (g_pParseArg == nullptr)
        g_pParseArg = new CParseArg();
}

void CVorloApp::RunCommandLine(const std::vector<std::string>& args) {
    if (g_pParseArg->Parse_Arg(args) != 1)
        return;
    g_bCmdLineMode = 1;
    g_pParseArg->AttachParentConsole();
    g_pParseArg->PrintMsg("\n");
    // This build cannot reach a device yet: the run ends as one that found none.
    g_pParseArg->OpenResultFile();
    std::fputs("uafwtool: device access is not available in this build yet\n", stderr);
    g_pParseArg->WriteResult("fail");
    g_pParseArg->CloseResultFile();
    g_ErrCode = kNoDeviceResult;
}

void CVorloApp::RunDialog() {
    g_bCmdLineMode = 0;
    std::fputs("uafwtool: the main window is not available in this build yet\n", stderr);
    g_ErrCode = 1;
}

int CVorloApp::ExitInstance() {
    delete g_pOsInfo;
    g_pOsInfo = nullptr;
    delete g_pICTypeIni;
    g_pICTypeIni = nullptr;
    delete g_pParseArg;
    g_pParseArg = nullptr;

    StopDebugCapture();
    uafw::OperationLog::Instance().Shutdown();

    delete g_pSettings;
    g_pSettings = nullptr;

    g_ErrCode = g_ErrCode != 0 ? 1 : 0;
    return g_ErrCode;
}
