#pragma once
// The two result files that production-line tooling reads:
//  - burn_result.txt in the current directory: a table with one line per programming run;
//  - Result.txt in the program directory: the run's console texts and a one-word verdict.
// Both are single-byte text: every character below 256 is written as the byte of the same value,
// a character above 255 (or text that is not valid UTF-8) as '?'. Lines end in CR LF.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

inline constexpr const char* kBurnResultFileName = "burn_result.txt";
inline constexpr const char* kResultFileName = "Result.txt";

inline constexpr const char* kBurnResultHeader =
    "Update date       Update Time       Serial number              Result   ErrCode";
inline constexpr const char* kBurnResultRule =
    "================  ================  =========================  =======  =======";
inline constexpr const char* kCantOpenBurnResult = "Can't Open burn_result.txt";

// One data line of burn_result.txt without its line end: date and time columns, the text followed
// by a comma and padded to 27 characters (a longer text is not cut), "Pass," or "Fail," padded to
// 9 characters, then the result code and ':'. The text is converted to single bytes first, so the
// padding counts characters.
std::string ComposeBurnResultLine(const std::tm& localTime, int verdict,
                                  const std::string& manufacturerText, std::int32_t errCode);

// burn_result.txt while a result line is written.
class CBurnResultFile {
public:
    CBurnResultFile() = default;
    ~CBurnResultFile();
    CBurnResultFile(const CBurnResultFile&) = delete;
    CBurnResultFile& operator=(const CBurnResultFile&) = delete;

    // Opens the file for appending. When no file of that name exists (a directory of that name
    // counts as missing) it is created and gets the header and rule lines. When it cannot be
    // opened, the message box "Can't Open burn_result.txt" is shown and false returned.
    bool Open(const std::string& path = kBurnResultFileName);
    bool IsOpen() const { return m_file != nullptr; }
    // Appends the result line for the verdict (non-zero = pass) with the current local time and
    // the current g_ErrCode. Nothing happens when the file is not open.
    bool AppendResult(int verdict, const std::string& manufacturerText);
    void Close();

private:
    std::FILE* m_file = nullptr;
};

// Appends one result line to burn_result.txt in the current directory (opening and closing it);
// a file that cannot be opened is reported in a message box and the line is skipped.
bool WriteBurnResult(int verdict, const std::string& manufacturerText);

// Result.txt while a run writes it. Any other process may open the file at the same time.
class CResultFile {
public:
    CResultFile() = default;
    ~CResultFile();
    CResultFile(const CResultFile&) = delete;
    CResultFile& operator=(const CResultFile&) = delete;

    // Creates the file, or empties an existing one, for reading and writing.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file != nullptr; }
    // Writes the text as single bytes; a line feed that does not follow a carriage return is
    // written as CR LF, so the file keeps CR LF line ends whichever form the text uses. The file
    // is flushed, so that a reader sees every text as soon as it is written.
    bool Write(const std::string& text);
    void Close();

private:
    std::FILE* m_file = nullptr;
    char m_lastByte = 0;
};
