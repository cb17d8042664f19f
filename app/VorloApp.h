#pragma once
// The application object: process start-up with the settings store and the process-wide objects,
// the run-mode decision, and shut-down with the exit status.
#include <memory>
#include <string>
#include <vector>

#include "app/DebugCapture.h"
#include "app/UsbBackendChoice.h"

// Holds the built-in default settings text.
class CConfigIni {
public:
    const std::string& DefaultSettingsText() const { return m_strDefaultSettings; }

protected:
    std::string m_strDefaultSettings;
};

class CVorloApp : public CConfigIni {
public:
    // Start-up and the one run that follows, given the argument vector (entry 0 is the program).
    // Always false: the program runs no message loop of its own.
    bool InitInstance(const std::vector<std::string>& args);
    // Shut-down; returns the exit status: 1 when the last result code is non-zero, else 0.
    int ExitInstance();

    // True when the arguments after the program name ask for the command-line mode: they are not
    // empty and not "/forcerestart" (ignoring case).
    static bool IsCommandLineRun(const std::vector<std::string>& args);

private:
    void LoadSettings();
    void StartDebugCapture();
    void StopDebugCapture();
    void CreateProcessObjects();
    // Installs the USB backend and starts the device library with "Lib Type"; false with a
    // message on standard error when the backend named by UAFW_SIM cannot be loaded.
    bool StartDeviceLibrary();
    void StopDeviceLibrary();
    void RunCommandLine(const std::vector<std::string>& args);
    void RunDialog();

    // The debug-output capture while "Debug Log" is set.
    std::unique_ptr<DebugCapture> m_pDebugCapture;
    CUsbBackendChoice m_usbBackend;
    bool m_bDeviceLibraryStarted = false;
};

// The program version the main window shows ("3.0.24"), at most 15 characters.
extern char g_szAppVersion[16];
