#pragma once
// What the program knows of the operating system it runs on.
#include <cstdint>
#include <string>

class COsInfo {
public:
    // Fills the record from the running kernel: its release "major.minor..." and its machine.
    void Fill();
    // Parses a kernel release text such as "6.1.0-18-amd64" into the two version numbers (0 for a
    // field that is missing).
    static void ParseRelease(const std::string& release, std::uint32_t& major,
                             std::uint32_t& minor);
    // True for the machine names of 64-bit systems ("x86_64", "aarch64", "s390x", ...).
    static bool Is64BitMachine(const std::string& machine);

    std::uint32_t m_dwMajorVersion = 0;
    std::uint32_t m_dwMinorVersion = 0;
    // 1 when the system is a 64-bit one.
    std::int32_t m_b64BitSystem = 0;
};

// The process-wide record, created and filled at start-up.
extern COsInfo* g_pOsInfo;
