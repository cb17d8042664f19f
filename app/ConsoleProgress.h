#pragma once
// The progress line of a command-line run on a terminal: the current step text and percent, drawn
// on standard error from the flows' progress and step messages. It never reaches standard output
// or Result.txt, which line tooling reads.
#include <cstdint>
#include <cstdio>
#include <string>

class CConsoleProgress {
public:
    // Draws on `out` (standard error unless a test passes its own stream).
    explicit CConsoleProgress(std::FILE* out = stderr) : m_out(out) {}
    ~CConsoleProgress();
    CConsoleProgress(const CConsoleProgress&) = delete;
    CConsoleProgress& operator=(const CConsoleProgress&) = delete;

    // Starts observing the flows' messages when `out` is a terminal (or always when `force`).
    void Attach(bool force = false);
    // Stops observing and clears the line.
    void Detach();

    // Clears the line of the attached progress display (before console text is printed on the
    // same terminal); the next progress message draws it again.
    static void ClearActiveLine();

    // One message of the flows: 0x413 progress, 0x417 step text.
    void OnMessage(std::uint32_t message, std::uintptr_t wParam);

private:
    void Draw();
    void Clear();

    std::FILE* m_out;
    bool m_bAttached = false;
    bool m_bDrawn = false;
    std::string m_strStep;
    int m_nPercent = 0;
};
