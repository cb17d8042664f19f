#include "app/ResultFiles.h"

#include <sys/stat.h>

#include "platform/AppState.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"

namespace {

constexpr std::size_t kTextColumnWidth = 27;
constexpr std::size_t kVerdictColumnWidth = 9;

void PadRight(std::string& text, std::size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool WriteAll(std::FILE* file, const std::string& bytes) {
    if (bytes.empty())
        return true;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fflush(file) == 0 && ok;
}

}  // namespace

std::string ComposeBurnResultLine(const std::tm& localTime, int verdict,
                                  const std::string& manufacturerText, std::int32_t errCode) {
    char when[64] = {};
    if (std::strftime(when, sizeof when, "%Y-%m-%d,       %H:%M:%S,         ", &localTime) == 0)
        when[0] = '\0';
    std::string text = uafw::Utf8ToSingleByte(manufacturerText) + ",";
    PadRight(text, kTextColumnWidth);
    std::string result = verdict != 0 ? "Pass," : "Fail,";
    PadRight(result, kVerdictColumnWidth);
    return std::string(when) + text + result + std::to_string(errCode) + ":";
}

CBurnResultFile::~CBurnResultFile() {
    Close();
}

bool CBurnResultFile::Open(const std::string& path) {
    Close();
    if (IsRegularFile(path)) {
        m_file = std::fopen(path.c_str(), "ab");
    } else {
        m_file = std::fopen(path.c_str(), "wb");
        if (m_file != nullptr &&
            !WriteAll(m_file, std::string(kBurnResultHeader) + "\r\n" + kBurnResultRule + "\r\n"))
            Close();
    }
    if (m_file == nullptr) {
        uafw::ShowMessage(kCantOpenBurnResult);
        return false;
    }
    return true;
}

bool CBurnResultFile::AppendResult(int verdict, const std::string& manufacturerText) {
    if (m_file == nullptr)
        return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return WriteAll(m_file,
                    ComposeBurnResultLine(local, verdict, manufacturerText, g_ErrCode) + "\r\n");
}

void CBurnResultFile::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool WriteBurnResult(int verdict, const std::string& manufacturerText) {
    CBurnResultFile file;
    if (!file.Open())
        return false;
    return file.AppendResult(verdict, manufacturerText);
}

CResultFile::~CResultFile() {
    Close();
}

bool CResultFile::Open(const std::string& path) {
    Close();
    m_file = std::fopen(path.c_str(), "w+b");
    m_lastByte = 0;
    return m_file != nullptr;
}

bool CResultFile::Write(const std::string& text) {
    if (m_file == nullptr)
        return false;
    const std::string single = uafw::Utf8ToSingleByte(text);
    std::string bytes;
    bytes.reserve(single.size() + 8);
    for (const char c : single) {
        if (c == '\n' && m_lastByte != '\r')
            bytes.push_back('\r');
        bytes.push_back(c);
        m_lastByte = c;
    }
    return WriteAll(m_file, bytes);
}

void CResultFile::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}
