#include "platform/OperationLog.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileAttributes.h"
#include "platform/ProgramPath.h"
#include "platform/TextCodec.h"

namespace {

// The printf-style text, whole (the line buffer cuts it later).
std::string FormatText(const char* format, va_list args) {
    if (format == nullptr)
        return {};
    va_list copy;
    va_copy(copy, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<std::size_t>(n) < sizeof small)
        return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    va_list again;
    va_copy(again, args);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

}  // namespace

namespace uafw {

namespace {

// Room for the characters of a line: the buffer less its terminator.
constexpr std::size_t kLineCapacity = kLogLineBufferChars - 1;

// Appends `part` to `line` without going past the capacity; a surrogate pair is never split.
void AppendCut(std::u16string& line, const std::u16string& part) {
    if (line.size() >= kLineCapacity)
        return;
    std::size_t room = kLineCapacity - line.size();
    if (part.size() <= room) {
        line += part;
        return;
    }
    if (room > 0 && part[room - 1] >= 0xD800 && part[room - 1] <= 0xDBFF)
        --room;
    line.append(part, 0, room);
}

bool EnvironmentAsksForFile() {
    const char* value = std::getenv("UAFW_LOG");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

OperationLog& OperationLog::Instance() {
    static OperationLog log;
    return log;
}

void OperationLog::Initialise() {
    Initialise(ProgramDirectory(), EnvironmentAsksForFile());
}

void OperationLog::Initialise(const std::string& directory, bool fileOutput) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_path = directory + "Log.txt";
    ClearReadOnly(m_path);
    m_bFileOutput = 0;
    m_enabled = kLogAllCategories;
    if (fileOutput) {
        m_file = std::fopen(m_path.c_str(), "ab");
        m_bFileOutput = m_file != nullptr ? 1 : 0;
    }
}

void OperationLog::Shutdown() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file != nullptr) {
        std::fflush(m_file);
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_bFileOutput = 0;
}

void OperationLog::WriteLine(const char* name, std::uint32_t category, const char* format,
                             va_list args) {
    Emit(name != nullptr ? name : "", category, format, args);
}

void OperationLog::WriteText(std::uint32_t category, const char* format, va_list args) {
    Emit(nullptr, category, format, args);
}

void OperationLog::Emit(const char* name, std::uint32_t category, const char* format,
                        va_list args) {
    if ((category & EnabledCategories()) == 0)
        return;
    char header[48] = {};
    if (name != nullptr) {
        const auto tid = static_cast<unsigned>(::gettid());
        const auto tick = static_cast<std::int32_t>(static_cast<std::uint32_t>(Clock().NowMs()));
        std::snprintf(header, sizeof header, "(%X-%d):", tid, static_cast<int>(tick));
    }
    std::lock_guard<std::mutex> guard(m_lock);
    // Nobody reads the line: composing it would change nothing.
    if (!m_observer && m_file == nullptr)
        return;
    const std::string text = FormatText(format, args);
    m_line.clear();
    if (name != nullptr) {
        AppendCut(m_line, Utf8ToUtf16(header));
        AppendCut(m_line, Utf8ToUtf16(name));
        AppendCut(m_line, u":> ");
    }
    AppendCut(m_line, Utf8ToUtf16(text));
    // A final bare line feed becomes CR LF; a text that already ends in CR LF keeps it.
    const std::size_t n = m_line.size();
    if (n > 0 && m_line[n - 1] == u'\n' && (n < 2 || m_line[n - 2] != u'\r') && n < kLineCapacity) {
        m_line.back() = u'\r';
        m_line.push_back(u'\n');
    }
    if (m_bFileOutput != 0 && m_file != nullptr) {
        std::string bytes;
        bytes.reserve(m_line.size() * 2);
        for (const char16_t c : m_line) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        std::fwrite(bytes.data(), 1, bytes.size(), m_file);
        std::fflush(m_file);
    }
    if (m_observer)
        m_observer(m_line);
}

std::uint32_t OperationLog::EnabledCategories() const {
    return m_enabled.load();
}

void OperationLog::SetEnabledCategories(std::uint32_t mask) {
    m_enabled.store(mask);
}

bool OperationLog::FileOutput() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bFileOutput != 0 && m_file != nullptr;
}

std::string OperationLog::FilePath() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_path;
}

OperationLog::LineObserver OperationLog::SetLineObserver(LineObserver observer) {
    std::lock_guard<std::mutex> guard(m_lock);
    LineObserver previous = std::move(m_observer);
    m_observer = std::move(observer);
    return previous;
}

ScopedLogObserver::ScopedLogObserver(OperationLog::LineObserver observer)
    : m_previous(OperationLog::Instance().SetLineObserver(std::move(observer))) {}

ScopedLogObserver::~ScopedLogObserver() {
    OperationLog::Instance().SetLineObserver(std::move(m_previous));
}

}  // namespace uafw

namespace {

void LogLineOf(const char* name, std::uint32_t category, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogLineOf(const char* name, std::uint32_t category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    uafw::OperationLog::Instance().WriteLine(name, category, format, args);
    va_end(args);
}

void LogTextOf(std::uint32_t category, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void LogTextOf(std::uint32_t category, const char* format, ...) {
    va_list args;
    va_start(args, format);
    uafw::OperationLog::Instance().WriteText(category, format, args);
    va_end(args);
}

}  // namespace

LogScope::LogScope(const char* name, bool exitTrace, std::uint32_t category)
    : m_name(name != nullptr ? name : ""), m_bExitTrace(exitTrace ? 1 : 0), m_category(category) {
    if (m_bExitTrace != 0)
        LogLineOf(m_name, m_category, "%s", "START --->>>\n");
}

LogScope::~LogScope() {
    if (m_bExitTrace != 0)
        LogLineOf(m_name, m_category, "%s", "EXIT <<<---\n");
}

void LogScope::Line(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    uafw::OperationLog::Instance().WriteLine(m_name, m_category, format, args);
    va_end(args);
}

void LogScope::Text(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    uafw::OperationLog::Instance().WriteText(m_category, format, args);
    va_end(args);
}

void LogScope::Fail(const char* format, ...) const {
    if ((m_category & uafw::OperationLog::Instance().EnabledCategories()) == 0)
        return;
    va_list args;
    va_start(args, format);
    const std::string text = std::string(uafw::kLogFailSeparator) + FormatText(format, args);
    va_end(args);
    // Handed on as a "%s" argument so that a '%' in the formatted text stays literal.
    LogTextOf(m_category, "%s", text.c_str());
}
