#pragma once
// The operation log that every layer writes through. A traced function opens a LogScope named with
// its qualified name ("CDevFlow::DEV_OpenDevice"); its lines look like
//     (1A2B-123456):CDevFlow::DEV_OpenDevice:> text
// with the kernel thread id in upper-case hexadecimal and the millisecond tick count of the clock
// port. A line is composed in a buffer of 512 UTF-16 characters (terminator included), so a longer
// line is cut; a final line feed becomes CR LF when the buffer has room for it.
//
// The file output is off by default: lines are composed and then dropped. With the environment
// variable UAFW_LOG set to 1 at start-up, the lines are appended to Log.txt in the program
// directory as UTF-16 little-endian text without byte-order mark.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace uafw {

// One bit per part of the program that writes the log.
enum LogCategory : std::uint32_t {
    kLogShell = 1,   // application shell: command line, main window
    kLogDevice = 2,  // device access and device flow
    kLogOtp = 4,     // OTP programming steps
};
inline constexpr std::uint32_t kLogAllCategories = kLogShell | kLogDevice | kLogOtp;

// Size of the line buffer in UTF-16 characters, terminator included.
inline constexpr std::size_t kLogLineBufferChars = 512;

// The separator that starts the text of a logged failure.
inline constexpr const char* kLogFailSeparator = "----------------: ";

class OperationLog {
public:
    // Sees every composed line (UTF-16, without terminator) while the lock is held. It must not
    // write to the log itself.
    using LineObserver = std::function<void(const std::u16string& line)>;

    static OperationLog& Instance();

    // Start-up: the log file is "Log.txt" in the program directory; if that file exists without
    // write permission for its owner, the permission is added. The enabled categories become all
    // three. The file is opened (for appending) only when UAFW_LOG is 1.
    void Initialise();
    // The same with the directory (ending in '/') and the file-output choice given.
    void Initialise(const std::string& directory, bool fileOutput);
    // Shut-down: flushes and closes the file if it is open.
    void Shutdown();

    // A log line: header, scope name, ":> " and the formatted text.
    void WriteLine(const char* name, std::uint32_t category, const char* format, va_list args);
    // A log text: the formatted text alone, continuing a line.
    void WriteText(std::uint32_t category, const char* format, va_list args);

    std::uint32_t EnabledCategories() const;
    void SetEnabledCategories(std::uint32_t mask);
    // True while the lines go to the open file.
    bool FileOutput() const;
    // The log file's path, empty before Initialise.
    std::string FilePath() const;

    // Installs the observer (an empty function removes it); returns the previous one.
    LineObserver SetLineObserver(LineObserver observer);

private:
    OperationLog() = default;
    // Composes the line (header optional) and hands it to the file and the observer.
    void Emit(const char* name, std::uint32_t category, const char* format, va_list args);

    mutable std::mutex m_lock;
    std::u16string m_line;
    std::FILE* m_file = nullptr;
    std::string m_path;
    // Read before the lock is taken, so that a disabled category costs no locking.
    std::atomic<std::uint32_t> m_enabled{kLogAllCategories};
    std::int32_t m_bFileOutput = 0;
    LineObserver m_observer;
};

// Installs a line observer for the lifetime of the guard (tests use it to read composed lines).
class ScopedLogObserver {
public:
    explicit ScopedLogObserver(OperationLog::LineObserver observer);
    ~ScopedLogObserver();
    ScopedLogObserver(const ScopedLogObserver&) = delete;
    ScopedLogObserver& operator=(const ScopedLogObserver&) = delete;

private:
    OperationLog::LineObserver m_previous;
};

}  // namespace uafw

// The trace scope of one function. With the exit trace it writes "START --->>>\n" when it begins
// and "EXIT <<<---\n" when it ends, on every return path. `name` must outlive the scope (it is a
// string literal in practice).
class LogScope {
public:
    explicit LogScope(const char* name, bool exitTrace = false,
                      std::uint32_t category = uafw::kLogShell);
    ~LogScope();
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

    // A log line under this scope's name.
    void Line(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // A log text (no header) in this scope's category.
    void Text(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // A failure: the separator "----------------: " followed by the formatted text, as log text.
    void Fail(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    const char* Name() const { return m_name; }
    std::uint32_t Category() const { return m_category; }

private:
    const char* m_name;
    std::int32_t m_bExitTrace;
    std::uint32_t m_category;
};
