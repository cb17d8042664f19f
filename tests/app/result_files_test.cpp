#include "app/ResultFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_test_support.h"
#include "platform/AppState.h"
#include "platform/MessageBox.h"

namespace {

using apptest::ReadBytes;
using apptest::ScopedCurrentDir;
using apptest::TempDir;
using apptest::WriteBytes;

const std::string kHeaderLines = std::string(kBurnResultHeader) + "\r\n" + kBurnResultRule + "\r\n";

std::tm FixedTime() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

// Records the message boxes instead of showing them.
class RecordingBox : public uafw::IMessageBox {
public:
    RecordingBox() { uafw::SetMessageBoxPort(this); }
    ~RecordingBox() override { uafw::SetMessageBoxPort(nullptr); }
    uafw::MsgBoxResult Show(const std::string& text, const std::string&, uafw::MsgBoxButtons,
                            uafw::MsgBoxResult defaultResult) override {
        texts.push_back(text);
        return defaultResult;
    }
    std::vector<std::string> texts;
};

class ErrCodeGuard {
public:
    ErrCodeGuard() : m_saved(g_ErrCode) {}
    ~ErrCodeGuard() { g_ErrCode = m_saved; }

private:
    std::int32_t m_saved;
};

// The lines of a CR LF text; a last line without CR LF is marked.
std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// "YYYY-MM-DD,       HH:MM:SS,         " at the start of the line.
bool IsDateTimeColumns(const std::string& line) {
    const std::string pattern = "dddd-dd-dd,       dd:dd:dd,         ";
    if (line.size() < pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (pattern[i] == 'd' ? !digit : line[i] != pattern[i])
            return false;
    }
    return true;
}

// ---- the data line --------------------------------------------------------------------------

TEST(BurnResultLine, HeaderAndRuleAreTheFixedTexts) {
    EXPECT_STREQ(kBurnResultHeader,
                 "Update date       Update Time       Serial number              Result   ErrCode");
    EXPECT_STREQ(kBurnResultRule,
                 "================  ================  =========================  =======  =======");
}

struct LineCase {
    const char* what;
    std::string text;
    int verdict;
    std::int32_t code;
    std::string expected;
};

class BurnResultLineLayout : public ::testing::TestWithParam<LineCase> {};

TEST_P(BurnResultLineLayout, MatchesTheColumns) {
    const LineCase& c = GetParam();
    EXPECT_EQ(ComposeBurnResultLine(FixedTime(), c.verdict, c.text, c.code), c.expected);
}

const std::string kWhen = "2026-12-01,       09:05:07,         ";

INSTANTIATE_TEST_SUITE_P(
    Cases, BurnResultLineLayout,
    ::testing::Values(
        // 26 characters and the comma fill columns 37 to 63 exactly.
        LineCase{"text of 26", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 1, 0,
                 kWhen + "ABCDEFGHIJKLMNOPQRSTUVWXYZ," + "Pass,    " + "0:"},
        // A longer text is not cut and pushes the rest to the right.
        LineCase{"text of 30", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", 0, 41706,
                 kWhen + "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123," + "Fail,    " + "41706:"},
        LineCase{"short text", "Tavenic", 1, 0,
                 kWhen + "Tavenic," + std::string(19, ' ') + "Pass,    0:"},
        LineCase{"empty text", "", 0, 41511,
                 kWhen + "," + std::string(26, ' ') + "Fail,    41511:"},
        LineCase{"negative code", "X", 0, -5, kWhen + "X," + std::string(25, ' ') + "Fail,    -5:"},
        // "ü" is one character (byte 0xFC); "€" has no single byte and becomes '?'.
        LineCase{"characters beyond ASCII", "M\xC3\xBCller \xE2\x82\xAC", 1, 0,
                 kWhen + "M\xFCller ?," + std::string(18, ' ') + "Pass,    0:"}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(BurnResultLine, ColumnsStartWhereTheHeaderSaysForTheLongestPaddedText) {
    const std::string line = ComposeBurnResultLine(FixedTime(), 1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0);
    const std::string header = kBurnResultHeader;
    EXPECT_EQ(line.find("09:05:07"), header.find("Update Time"));
    EXPECT_EQ(line.find("ABCDEF"), header.find("Serial number"));
    EXPECT_EQ(line.find("Pass,"), header.find("Result"));
    EXPECT_EQ(line.find("0:"), header.find("ErrCode"));
}

// ---- burn_result.txt ------------------------------------------------------------------------

TEST(BurnResultFile, NewFileGetsTheHeaderOnceAndOneLinePerRun) {
    TempDir dir;
    ScopedCurrentDir cwd(dir.Path());
    ErrCodeGuard code;
    RecordingBox box;

    g_ErrCode = 0;
    ASSERT_TRUE(WriteBurnResult(1, "Tavenic"));
    g_ErrCode = 41706;
    ASSERT_TRUE(WriteBurnResult(0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"));

    const std::string bytes = ReadBytes(dir.File("burn_result.txt"));
    ASSERT_EQ(bytes.rfind(kHeaderLines, 0), 0u);
    const std::vector<std::string> lines = SplitCrLf(bytes.substr(kHeaderLines.size()));
    ASSERT_EQ(lines.size(), 2u) << bytes;
    EXPECT_TRUE(IsDateTimeColumns(lines[0])) << lines[0];
    EXPECT_TRUE(IsDateTimeColumns(lines[1])) << lines[1];
    EXPECT_EQ(lines[0].substr(36), "Tavenic," + std::string(19, ' ') + "Pass,    0:");
    EXPECT_EQ(lines[1].substr(36), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123,Fail,    41706:");
    EXPECT_TRUE(box.texts.empty());
}

TEST(BurnResultFile, ExistingFileIsAppendedWithoutHeader) {
    TempDir dir;
    WriteBytes(dir.File("burn_result.txt"), "kept line\r\n");
    ErrCodeGuard code;
    g_ErrCode = 0;
    CBurnResultFile file;
    ASSERT_TRUE(file.Open(dir.File("burn_result.txt")));
    ASSERT_TRUE(file.AppendResult(1, "Tavenic"));
    file.Close();
    const std::string bytes = ReadBytes(dir.File("burn_result.txt"));
    ASSERT_EQ(bytes.rfind("kept line\r\n", 0), 0u);
    EXPECT_EQ(bytes.find("Update date"), std::string::npos);
    EXPECT_EQ(bytes.size(), 11u + 36 + 27 + 9 + 2 + 2);
}

TEST(BurnResultFile, DirectoryOfThatNameIsReportedAndSkipped) {
    TempDir dir;
    ScopedCurrentDir cwd(dir.Path());
    apptest::fs::create_directory(dir.Path() / "burn_result.txt");
    RecordingBox box;
    EXPECT_FALSE(WriteBurnResult(1, "Tavenic"));
    EXPECT_EQ(box.texts, std::vector<std::string>{"Can't Open burn_result.txt"});
    EXPECT_TRUE(apptest::fs::is_directory(dir.Path() / "burn_result.txt"));
    EXPECT_TRUE(apptest::fs::is_empty(dir.Path() / "burn_result.txt"));
}

TEST(BurnResultFile, AppendWithoutOpenFileWritesNothing) {
    CBurnResultFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.AppendResult(1, "x"));
}

// ---- Result.txt -----------------------------------------------------------------------------

struct ResultTextCase {
    const char* what;
    std::vector<std::string> writes;
    std::string expected;
};

class ResultTxtContent : public ::testing::TestWithParam<ResultTextCase> {};

TEST_P(ResultTxtContent, IsSingleByteTextWithCrLf) {
    const ResultTextCase& c = GetParam();
    TempDir dir;
    CResultFile file;
    ASSERT_TRUE(file.Open(dir.File("Result.txt")));
    for (const std::string& w : c.writes)
        EXPECT_TRUE(file.Write(w));
    file.Close();
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultTxtContent,
    ::testing::Values(ResultTextCase{"verdict only", {"pass"}, "pass"},
                      ResultTextCase{"crlf texts unchanged",
                                     {"Begin to Erase!\r\n", "Erase pass!\r\n", "pass"},
                                     "Begin to Erase!\r\nErase pass!\r\npass"},
                      ResultTextCase{"line feed becomes crlf",
                                     {"Get IC Info Fail\n", "a\nb\n", "fail"},
                                     "Get IC Info Fail\r\na\r\nb\r\nfail"},
                      ResultTextCase{"cr and lf in separate texts", {"x\r", "\ny"}, "x\r\ny"},
                      ResultTextCase{"beyond ascii", {"M\xC3\xBCller \xE2\x82\xAC"}, "M\xFCller ?"},
                      ResultTextCase{"nothing written", {}, ""}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(ResultTxtFile, OpenTruncatesAndWriteAfterCloseFails) {
    TempDir dir;
    WriteBytes(dir.File("Result.txt"), "old verdict");
    CResultFile file;
    ASSERT_TRUE(file.Open(dir.File("Result.txt")));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), "");
    file.Close();
    EXPECT_FALSE(file.Write("late"));
    EXPECT_EQ(ReadBytes(dir.File("Result.txt")), "");
}

}  // namespace
