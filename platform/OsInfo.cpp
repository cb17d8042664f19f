#include "platform/OsInfo.h"

#include <sys/utsname.h>

COsInfo* g_pOsInfo = nullptr;

namespace {

// The decimal number at `pos`, moving `pos` past it; 0 when no digit is there.
std::uint32_t ReadNumber(const std::string& text, std::size_t& pos) {
    std::uint64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        if (value > UINT32_MAX)
            value = UINT32_MAX;
        ++pos;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

void COsInfo::Fill() {
    m_dwMajorVersion = 0;
    m_dwMinorVersion = 0;
    m_b64BitSystem = 0;
    struct utsname names {};
    if (::uname(&names) != 0)
        return;
    ParseRelease(names.release, m_dwMajorVersion, m_dwMinorVersion);
    m_b64BitSystem = Is64BitMachine(names.machine) ? 1 : 0;
}

void COsInfo::ParseRelease(const std::string& release, std::uint32_t& major, std::uint32_t& minor) {
    std::size_t pos = 0;
    major = ReadNumber(release, pos);
    minor = 0;
    if (pos < release.size() && release[pos] == '.') {
        ++pos;
        minor = ReadNumber(release, pos);
    }
}

bool COsInfo::Is64BitMachine(const std::string& machine) {
    return machine.find("64") != std::string::npos || machine == "s390x";
}
