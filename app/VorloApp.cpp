#include "app/VorloApp.h"

#include <cstdio>
#include <cstring>

#include "app/ConsoleProgress.h"
#include "app/ParseArg.h"
#include "config/ICTypeIni.h"
#include "config/Settings.h"
#include "device/DeviceLibrary.h"
#include "flow/ConsoleOutput.h"
#include "flow/DevFlow.h"
#include "flow/FlowFactory.h"
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
    if (!StartDeviceLibrary()) {
        // A virtual chip state that cannot be loaded must not silently become real hardware.
        if (IsCommandLineRun(args) && g_pParseArg->Parse_Arg(args) == 1 &&
            g_pParseArg->OpenResultFile()) {
            g_pParseArg->WriteResult("fail");
            g_pParseArg->CloseResultFile();
        }
        g_ErrCode = kNoDeviceResult;
        return false;
    }

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
    if (g_pFlow == nullptr)
        CreateFlowObject();
}

bool CVorloApp::StartDeviceLibrary() {
    std::string error;
    if (!m_usbBackend.Install(error)) {
        std::fprintf(stderr, "uafwtool: %s\n", error.c_str());
        return false;
    }
    m_bDeviceLibraryStarted = DeviceLibraryStartup(ReadSettingInt(0, "Lib Type"));
    return true;
}

void CVorloApp::StopDeviceLibrary() {
    if (m_bDeviceLibraryStarted)
        DeviceLibraryShutdown(ReadSettingInt(0, "Lib Type"));
    m_bDeviceLibraryStarted = false;
    m_usbBackend.Release();
}

void CVorloApp::RunCommandLine(const std::vector<std::string>& args) {
    if (g_pParseArg->Parse_Arg(args) != 1)
        return;
    g_bCmdLineMode = 1;
    g_pParseArg->AttachParentConsole();
    g_pParseArg->PrintMsg("\n");
    // The device flow's console texts ("Cannot find ...") reach the console through the
    // command-line object, like every other message of the run.
    uafw::SetConsolePrinter([](const std::string& text) {
        if (g_pParseArg != nullptr)
            g_pParseArg->PrintMsg(text);
    });
    CConsoleProgress progress;
    progress.Attach();
    if (g_pParseArg->GetICInfo())
        g_pParseArg->Excute_Arg();
    progress.Detach();
    if (g_pFlow != nullptr)
        g_pFlow->DEV_CloseDevice();
    uafw::SetConsolePrinter(nullptr);
}

void CVorloApp::RunDialog() {
    g_bCmdLineMode = 0;
    std::fputs("uafwtool: the main window is not available in this build yet\n", stderr);
    g_ErrCode = 1;
}

int CVorloApp::ExitInstance() {
    ReleaseFlowObject();
    delete g_pOsInfo;
    g_pOsInfo = nullptr;
    delete g_pICTypeIni;
    g_pICTypeIni = nullptr;
    delete g_pParseArg;
    g_pParseArg = nullptr;

    StopDeviceLibrary();
    StopDebugCapture();
    uafw::OperationLog::Instance().Shutdown();

    delete g_pSettings;
    g_pSettings = nullptr;

    g_ErrCode = g_ErrCode != 0 ? 1 : 0;
    return g_ErrCode;
}
