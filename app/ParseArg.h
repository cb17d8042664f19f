#pragma once
// The command-line object: parses the command line of a production run, prints its messages on
// the console and records them in Result.txt, and receives the opened device's port and hub while
// no main window exists.
//
//   uafwtool -f -write|-verify|-detect|-dumpotp|-dumpspi <file> [-d <n>]
//   uafwtool -f -erase|-version [-d <n>]
//   uafwtool -f <file> [anything] [-d <n>]          (write <file>)
#include <cstdint>
#include <string>
#include <vector>

#include "app/ResultFiles.h"
#include "platform/UiLink.h"

class CParseArg : public CDeviceInfoSink {
public:
    // Action codes.
    static constexpr char kActionNone = static_cast<char>(0xFF);
    static constexpr char kActionWrite = 'W';
    static constexpr char kActionVerify = 'V';
    static constexpr char kActionErase = 'E';
    static constexpr char kActionVersion = 'D';
    static constexpr char kActionDetect = 'C';
    static constexpr char kActionDumpOtp = 'Y';
    static constexpr char kActionDumpSpi = 'Z';

    // Read lengths of a dump: the flow's initial one, and the one "-dumpspi" asks for.
    static constexpr std::uint32_t kDefaultReadLength = 0x40000;
    static constexpr std::uint32_t kDumpSpiReadLength = 0x10000;

    // Registers itself as the receiver of the device value pair.
    CParseArg();
    ~CParseArg() override;
    CParseArg(const CParseArg&) = delete;
    CParseArg& operator=(const CParseArg&) = delete;

    // Parses the argument vector (entry 0 is the program) and returns 1 when a run follows. Takes
    // "SaveResultToFile" and uses 1 in its place, records the program directory, and parses.
    int Parse_Arg(const std::vector<std::string>& args);
    // The parsing rules proper; the program directory must be set (Parse_Arg does it).
    int Parse_Arg_Normal(const std::vector<std::string>& args);

    // Turns the console output on; messages go to standard output as it is.
    void AttachParentConsole();
    // Prints the text on standard output when the console output is on, and records it in
    // Result.txt while that file is open. Long texts are printed and recorded whole.
    void PrintMsg(const std::string& text);
    // The program directory followed by ">".
    void PrintPrompt();
    // Creates or empties Result.txt in the program directory; other processes may open it too.
    bool OpenResultFile();
    // Writes a verdict word ("pass" or "fail") into Result.txt, without line end.
    void WriteResult(const std::string& verdict);
    void CloseResultFile();

    void SetDeviceInfo(std::int32_t port, std::int32_t hub) override;

    // The device-open step: opens Result.txt, opens the device and finds the chip type that
    // accepts the image; 1 when the action can run. On failure Result.txt gets "fail".
    int GetICInfo();
    // Opens the device, loads the image of the write, verify and detect actions (or the
    // built-in image for the device) and selects the catalogue entry whose area accepts it.
    int LoadICTypeIni();
    // Runs the action, writes the verdict into Result.txt and, with "LogType", the result line
    // into burn_result.txt. Returns the verdict.
    int Excute_Arg();
    // Runs the action with its console texts; returns the verdict.
    int Excute_Arg_Normal();

    // The full command line: the arguments joined by single spaces.
    static std::string FullCommandLine(const std::vector<std::string>& args);

    char ActionCode() const { return m_cAction; }
    const std::string& FileArgument() const { return m_strFile; }
    const std::string& ActionOption() const { return m_strOption; }
    std::int32_t FirstDevicePosition() const { return m_nFirstDevPos; }
    std::uint32_t ReadLength() const { return m_dwReadLength; }
    const std::string& ProgramDirectory() const { return m_strProgramDir; }
    void SetProgramDirectory(const std::string& dir) { m_strProgramDir = dir; }
    std::int32_t ConsoleOutput() const { return m_nConsoleOutput; }
    std::int32_t SaveResult() const { return m_nSaveResult; }
    std::int32_t DevicePort() const { return m_nDevPort; }
    std::int32_t DeviceHub() const { return m_nDevHub; }
    bool ResultFileOpen() const { return m_resultFile.IsOpen(); }
    // Result.txt's path.
    std::string ResultFilePath() const;

private:
    // Opens the device by identity list or by position, as the settings ask.
    bool OpenDevice();
    // Loads the file argument or, failing that, the built-in image for the device into the flow.
    // `fromFile` tells which one it was. False with 41530 when no usable image exists.
    bool LoadActionImage(bool& fromFile);
    // Selects the catalogue entry that identifies the open device's chip.
    bool SelectDescriptionOfChip();
    // Walks the catalogue for the entry whose configuration area accepts the flow's image.
    bool SelectChipTypeForImage();
    // The flow operation of the action code; g_ErrCode is cleared first.
    int RunDeviceCommand();
    // The OTP usage report of the detect action, formatted into `report`.
    int OtpUsageReport(std::string& report);

    char m_cAction = kActionNone;
    std::string m_strFile;
    std::string m_strOption;
    std::int32_t m_nFirstDevPos = 0;
    // The read length of a dump, handed to the flow object when the action runs.
    std::uint32_t m_dwReadLength = kDefaultReadLength;
    CResultFile m_resultFile;
    std::string m_strProgramDir;
    std::int32_t m_nConsoleOutput = 0;
    std::int32_t m_nDevPort = 0;
    std::int32_t m_nDevHub = 0;
    std::int32_t m_nSaveResult = 0;
    std::int32_t m_nLogType = 0;
    CBurnResultFile m_burnResultFile;
    std::string m_strOtpReport;
};

// The process-wide command-line object, created at start-up.
extern CParseArg* g_pParseArg;
