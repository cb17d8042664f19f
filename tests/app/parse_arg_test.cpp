#include "app/ParseArg.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "config/Settings.h"
#include "platform/OperationLog.h"
#include "platform/ProgramPath.h"
#include "platform/TextCodec.h"
#include "platform/UiLink.h"

namespace {

using apptest::ReadBytes;
using apptest::TempDir;
using apptest::WriteBytes;

constexpr const char* kInvalid = "Fail --- Invalid parameter!\r\n";

struct ParseCase {
    const char* what;
    std::vector<std::string> args;  // after the program name
    int result;
    char action;
    const char* file;
    const char* option;
    int position;
    std::uint32_t readLength;
    bool invalidLogged;
};

constexpr char kNone = CParseArg::kActionNone;
constexpr std::uint32_t kDefLen = CParseArg::kDefaultReadLength;

// Counts the "Fail --- Invalid parameter!" lines the parser logs.
class InvalidParameterCounter {
public:
    int Count() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_count;
    }

private:
    std::mutex m_lock;
    int m_count = 0;
    uafw::ScopedLogObserver m_observer{[this](const std::u16string& line) {
        const std::string text = uafw::Utf16ToUtf8(line);
        if (text.size() >= std::string(kInvalid).size() &&
            text.compare(text.size() - std::string(kInvalid).size(), std::string::npos, kInvalid) ==
                0) {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_count;
        }
    }};
};

class ParseArgForms : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseArgForms, ParsesTheCommandLine) {
    const ParseCase& c = GetParam();
    TempDir dir;
    const std::string resultPath = dir.File("Result.txt");
    WriteBytes(resultPath, "old");

    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    std::vector<std::string> argv{"/opt/tool/uafwtool"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    InvalidParameterCounter invalid;

    EXPECT_EQ(parser.Parse_Arg_Normal(argv), c.result);
    EXPECT_EQ(parser.ActionCode(), c.action);
    EXPECT_EQ(parser.FileArgument(), c.file);
    EXPECT_EQ(parser.ActionOption(), c.option);
    EXPECT_EQ(parser.FirstDevicePosition(), c.position);
    EXPECT_EQ(parser.ReadLength(), c.readLength);
    EXPECT_EQ(invalid.Count(), c.invalidLogged ? 1 : 0);
    // Only a command line without "-f" writes Result.txt at parse time.
    EXPECT_EQ(ReadBytes(resultPath), "old");
    EXPECT_FALSE(parser.ResultFileOpen());
}

INSTANTIATE_TEST_SUITE_P(
    SyntaxTable, ParseArgForms,
    ::testing::Values(
        ParseCase{"write keyword",
                  {"-f", "-write", "fw.bin"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  0,
                  kDefLen,
                  false},
        ParseCase{
            "rfw file alone", {"-f", "fw.rfw"}, 1, 'W', "fw.rfw", "fw.rfw", 0, kDefLen, false},
        ParseCase{"rfw file then verify still writes",
                  {"-f", "fw.rfw", "-verify"},
                  1,
                  'W',
                  "fw.rfw",
                  "fw.rfw",
                  0,
                  kDefLen,
                  false},
        ParseCase{"upper case keywords",
                  {"-F", "-WRITE", "fw.bin"},
                  1,
                  'W',
                  "fw.bin",
                  "-WRITE",
                  0,
                  kDefLen,
                  false},
        ParseCase{
            "verify", {"-f", "-verify", "fw.bin"}, 1, 'V', "fw.bin", "-verify", 0, kDefLen, false},
        ParseCase{"erase", {"-f", "-erase"}, 1, 'E', "", "-erase", 0, kDefLen, false},
        ParseCase{
            "version mixed case", {"-f", "-VerSion"}, 1, 'D', "", "-VerSion", 0, kDefLen, false},
        ParseCase{
            "detect", {"-f", "-detect", "fw.bin"}, 1, 'C', "fw.bin", "-detect", 0, kDefLen, false},
        ParseCase{"dump otp",
                  {"-f", "-dumpotp", "otp.bin"},
                  1,
                  'Y',
                  "otp.bin",
                  "-dumpotp",
                  0,
                  kDefLen,
                  false},
        ParseCase{"dump spi sets the read length",
                  {"-f", "-dumpspi", "spi.bin"},
                  1,
                  'Z',
                  "spi.bin",
                  "-dumpspi",
                  0,
                  CParseArg::kDumpSpiReadLength,
                  false},
        ParseCase{"other file without rfw is written but logged",
                  {"-f", "fw.bin"},
                  1,
                  'W',
                  "fw.bin",
                  "fw.bin",
                  0,
                  kDefLen,
                  true},
        ParseCase{"write without file", {"-f", "-write"}, 1, 'W', "", "-write", 0, kDefLen, false},
        ParseCase{"path containing -f passes the first check",
                  {"-write", "/data/x-files/a.bin"},
                  1,
                  'W',
                  "/data/x-files/a.bin",
                  "/data/x-files/a.bin",
                  0,
                  kDefLen,
                  true},
        ParseCase{"device position after the file",
                  {"-f", "-write", "fw.bin", "-d", "3"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  3,
                  kDefLen,
                  false},
        ParseCase{"device keyword ignores case",
                  {"-f", "-write", "fw.bin", "-D", "12"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  12,
                  kDefLen,
                  false},
        ParseCase{"device keyword without number",
                  {"-f", "-write", "fw.bin", "-d"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  0,
                  kDefLen,
                  false},
        ParseCase{"other text in the device place",
                  {"-f", "-write", "fw.bin", "-x", "5"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  0,
                  kDefLen,
                  false},
        ParseCase{"erase with device position",
                  {"-f", "-erase", "-d", "2"},
                  1,
                  'E',
                  "",
                  "-erase",
                  2,
                  kDefLen,
                  false},
        ParseCase{"version with device position",
                  {"-f", "-version", "-d", "4"},
                  1,
                  'D',
                  "",
                  "-version",
                  4,
                  kDefLen,
                  false},
        ParseCase{"file form with device position",
                  {"-f", "fw.rfw", "-d", "1"},
                  1,
                  'W',
                  "fw.rfw",
                  "fw.rfw",
                  1,
                  kDefLen,
                  false},
        ParseCase{"erase with a fourth argument then device",
                  {"-f", "-erase", "x", "-d", "6"},
                  1,
                  'E',
                  "x",
                  "-erase",
                  6,
                  kDefLen,
                  false},
        ParseCase{"five arguments are the most",
                  {"-f", "-write", "fw.bin", "-d", "2"},
                  1,
                  'W',
                  "fw.bin",
                  "-write",
                  2,
                  kDefLen,
                  false},
        ParseCase{"first argument not -f is only logged",
                  {"-write", "-f", "fw.bin"},
                  1,
                  'W',
                  "-f",
                  "-f",
                  0,
                  kDefLen,
                  true},
        ParseCase{"too few arguments", {"-f"}, 0, kNone, "", "", 0, kDefLen, true},
        ParseCase{"too many arguments",
                  {"-f", "-write", "fw.bin", "-d", "2", "extra"},
                  0,
                  kNone,
                  "",
                  "",
                  0,
                  kDefLen,
                  true}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(ParseArg, CommandLineWithoutDashFWritesFailAndStops) {
    TempDir dir;
    WriteBytes(dir.File("Result.txt"), "previous content");
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    InvalidParameterCounter invalid;
    EXPECT_EQ(parser.Parse_Arg_Normal({"/opt/tool/uafwtool", "-x", "-write", "fw.bin"}), 0);
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), "fail");
    EXPECT_FALSE(parser.ResultFileOpen());
    EXPECT_EQ(parser.ActionCode(), CParseArg::kActionNone);
    EXPECT_EQ(invalid.Count(), 0);
}

TEST(ParseArg, ProgramPathIsPartOfTheCommandLine) {
    EXPECT_EQ(CParseArg::FullCommandLine({"/a/uafwtool", "-f", "-erase"}), "/a/uafwtool -f -erase");
    TempDir dir;
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    // "-f" in the program's own path passes the first check; the count check then refuses.
    EXPECT_EQ(parser.Parse_Arg_Normal({"/opt/x-files/uafwtool", "-x"}), 0);
    EXPECT_FALSE(apptest::fs::exists(dir.File("Result.txt")));
}

TEST(ParseArg, ParseArgUsesSaveResultOneAndTheProgramDirectory) {
    CIniFile settings;
    settings.LoadFromText("[Vorlo Config]\r\nSaveResultToFile=2");
    CIniFile* previous = g_pSettings;
    g_pSettings = &settings;
    CParseArg parser;
    EXPECT_EQ(parser.Parse_Arg({"uafwtool", "-f", "-erase"}), 1);
    g_pSettings = previous;
    EXPECT_EQ(parser.SaveResult(), 1);
    EXPECT_EQ(parser.ProgramDirectory(), uafw::ProgramDirectoryNoSlash());
    EXPECT_NE(parser.ProgramDirectory().back(), '/');
    EXPECT_EQ(parser.ResultFilePath(), uafw::ProgramDirectory() + "Result.txt");
}

// ---- console and Result.txt -----------------------------------------------------------------

TEST(ParseArgOutput, NothingIsPrintedBeforeTheConsoleStep) {
    CParseArg parser;
    EXPECT_EQ(parser.ConsoleOutput(), 0);
    ::testing::internal::CaptureStdout();
    parser.PrintMsg("hidden\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    parser.AttachParentConsole();
    EXPECT_EQ(parser.ConsoleOutput(), 1);
    ::testing::internal::CaptureStdout();
    parser.PrintMsg("Begin to Erase!\r\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Begin to Erase!\r\n");
}

TEST(ParseArgOutput, SuccessfulWriteLeavesTheMessagesAndPassInResultTxt) {
    TempDir dir;
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    parser.AttachParentConsole();
    ::testing::internal::CaptureStdout();
    parser.PrintMsg("\n");  // before the device-open step: console only
    ASSERT_TRUE(parser.OpenResultFile());
    parser.PrintMsg("Begin to Write fw!\r\n");
    parser.PrintMsg("Write fw pass!\r\n");
    parser.PrintPrompt();
    parser.WriteResult("pass");
    parser.CloseResultFile();
    const std::string prompt = dir.Path().string() + ">";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nBegin to Write fw!\r\nWrite fw pass!\r\n" + prompt);
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")),
              "Begin to Write fw!\r\nWrite fw pass!\r\n" + prompt + "pass");
}

TEST(ParseArgOutput, ResultTxtKeepsCrLfLineEndsAndSingleBytes) {
    TempDir dir;
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    ASSERT_TRUE(parser.OpenResultFile());
    parser.PrintMsg("Cannot find Tavenic USB Audio!\n");
    parser.PrintMsg("Get IC Info Fail\n");
    parser.WriteResult("fail");
    parser.CloseResultFile();
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")),
              "Cannot find Tavenic USB Audio!\r\nGet IC Info Fail\r\nfail");
}

TEST(ParseArgOutput, LongMessageIsPrintedAndRecordedWhole) {
    TempDir dir;
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string() + "/" + std::string(100, 'a') + "/" +
                               std::string(100, 'b') + "/" + std::string(100, 'c'));
    apptest::fs::create_directories(parser.ProgramDirectory());
    parser.AttachParentConsole();
    ASSERT_TRUE(parser.OpenResultFile());
    ::testing::internal::CaptureStdout();
    parser.PrintPrompt();
    const std::string out = ::testing::internal::GetCapturedStdout();
    parser.CloseResultFile();
    EXPECT_EQ(out, parser.ProgramDirectory() + ">");
    EXPECT_GT(out.size(), 259u);
    EXPECT_EQ(ReadBytes(parser.ResultFilePath()), out);
}

TEST(ParseArgOutput, OpeningResultTxtEmptiesIt) {
    TempDir dir;
    WriteBytes(dir.File("Result.txt"), "a much longer previous verdict");
    CParseArg parser;
    parser.SetProgramDirectory(dir.Path().string());
    ASSERT_TRUE(parser.OpenResultFile());
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), "");
    parser.WriteResult("fail");
    // Another process can read the file while the run holds it open.
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), "fail");
    parser.CloseResultFile();
}

TEST(ParseArgOutput, ResultTxtInAMissingDirectoryFailsQuietly) {
    CParseArg parser;
    parser.SetProgramDirectory("/nonexistent/uafw/dir");
    EXPECT_FALSE(parser.OpenResultFile());
    parser.PrintMsg("text");
    parser.WriteResult("fail");
    EXPECT_FALSE(parser.ResultFileOpen());
}

// ---- device value pair ----------------------------------------------------------------------

TEST(ParseArgDeviceInfo, ReceivesThePairWhileNoMainWindowExists) {
    ASSERT_EQ(g_pMainDlg, nullptr);
    {
        CParseArg parser;
        EXPECT_EQ(g_pDeviceInfoSink, &parser);
        SetUIDeviceInfo(3, 7);
        EXPECT_EQ(parser.DevicePort(), 3);
        EXPECT_EQ(parser.DeviceHub(), 7);
    }
    EXPECT_EQ(g_pDeviceInfoSink, nullptr);
    SetUIDeviceInfo(1, 1);  // nobody receives it, nothing breaks
}

}  // namespace
