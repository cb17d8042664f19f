#include "app/ParseArg.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/ConsoleProgress.h"
#include "config/Settings.h"
#include "platform/OperationLog.h"
#include "platform/ProgramPath.h"

CParseArg* g_pParseArg = nullptr;

namespace {

constexpr const char* kInvalidParameter = "Fail --- Invalid parameter!\r\n";

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    return LowerAscii(a) == b;
}

struct Keyword {
    const char* text;
    char action;
};

constexpr Keyword kKeywords[] = {
    {"-erase", CParseArg::kActionErase},     {"-write", CParseArg::kActionWrite},
    {"-verify", CParseArg::kActionVerify},   {"-version", CParseArg::kActionVersion},
    {"-detect", CParseArg::kActionDetect},   {"-dumpotp", CParseArg::kActionDumpOtp},
    {"-dumpspi", CParseArg::kActionDumpSpi},
};

// The action code of a keyword (ignoring case), or kActionNone.
char KeywordAction(const std::string& text) {
    const std::string lower = LowerAscii(text);
    for (const Keyword& k : kKeywords) {
        if (lower == k.text)
            return k.action;
    }
    return CParseArg::kActionNone;
}

// The decimal value of the text's leading number (after white space and an optional sign), 0 when
// there is none; out-of-range values are held at the int32 limits.
std::int32_t DecimalValue(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str())
        return 0;
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

const std::string& ArgOrEmpty(const std::vector<std::string>& args, std::size_t index) {
    static const std::string kEmpty;
    return index < args.size() ? args[index] : kEmpty;
}

}  // namespace

CParseArg::CParseArg() {
    g_pDeviceInfoSink = this;
}

CParseArg::~CParseArg() {
    if (g_pDeviceInfoSink == this)
        g_pDeviceInfoSink = nullptr;
}

std::string CParseArg::FullCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i != 0)
            line += ' ';
        line += args[i];
    }
    return line;
}

int CParseArg::Parse_Arg(const std::vector<std::string>& args) {
    LogScope scope("CParseArg::Parse_Arg");
    m_nSaveResult = ReadSettingInt(0, "SaveResultToFile");
    // A command-line run always records its verdict.
    m_nSaveResult = 1;
    m_strProgramDir = uafw::ProgramDirectoryNoSlash();
    return Parse_Arg_Normal(args);
}

int CParseArg::Parse_Arg_Normal(const std::vector<std::string>& args) {
    LogScope scope("CParseArg::Parse_Arg_Normal");
    if (LowerAscii(FullCommandLine(args)).find("-f") == std::string::npos) {
        // Not a command line of this program: leave a verdict for the script that started it.
        if (OpenResultFile()) {
            WriteResult("fail");
            CloseResultFile();
        }
        return 0;
    }
    if (args.size() < 3 || args.size() > 6) {
        scope.Line("%s", kInvalidParameter);
        return 0;
    }
    const std::string& arg1 = args[1];
    const std::string& arg2 = args[2];
    if (!SameIgnoringCase(arg1, "-f") ||
        (KeywordAction(arg2) == kActionNone && LowerAscii(arg2).find(".rfw") == std::string::npos))
        scope.Line("%s", kInvalidParameter);

    m_strOption = arg2;
    m_strFile = ArgOrEmpty(args, 3);
    m_cAction = KeywordAction(m_strOption);
    // Whether argument 3 is the action's file; otherwise "-d" may already stand there.
    bool fileInArg3 = true;
    if (m_cAction == kActionNone) {
        // Any other text names the image to write.
        m_strFile = m_strOption;
        m_cAction = kActionWrite;
        fileInArg3 = false;
    } else if (m_cAction == kActionDumpSpi) {
        m_dwReadLength = kDumpSpiReadLength;
    } else if (m_cAction == kActionErase || m_cAction == kActionVersion) {
        fileInArg3 = false;
    }

    m_nFirstDevPos = 0;
    if (args.size() > 4 && SameIgnoringCase(args[4], "-d")) {
        m_nFirstDevPos = DecimalValue(ArgOrEmpty(args, 5));
    } else if (!fileInArg3 && args.size() > 3 && SameIgnoringCase(args[3], "-d")) {
        // "-f -erase -d n", "-f -version -d n" and "-f <file> -d n": the actions without a file
        // in argument 3 take "-d n" right after argument 2.
        m_nFirstDevPos = DecimalValue(ArgOrEmpty(args, 4));
        if (m_cAction != kActionWrite)
            m_strFile.clear();
    }
    return 1;
}

void CParseArg::AttachParentConsole() {
    m_nConsoleOutput = 1;
}

void CParseArg::PrintMsg(const std::string& text) {
    if (m_nConsoleOutput > 0) {
        CConsoleProgress::ClearActiveLine();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    if (m_resultFile.IsOpen())
        m_resultFile.Write(text);
}

void CParseArg::PrintPrompt() {
    PrintMsg(m_strProgramDir + ">");
}

std::string CParseArg::ResultFilePath() const {
    return m_strProgramDir + "/" + kResultFileName;
}

bool CParseArg::OpenResultFile() {
    return m_resultFile.Open(ResultFilePath());
}

void CParseArg::WriteResult(const std::string& verdict) {
    m_resultFile.Write(verdict);
}

void CParseArg::CloseResultFile() {
    m_resultFile.Close();
}

void CParseArg::SetDeviceInfo(std::int32_t port, std::int32_t hub) {
    m_nDevPort = port;
    m_nDevHub = hub;
}
