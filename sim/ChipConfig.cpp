#include "sim/ChipConfig.h"

#include <array>
#include <cctype>
#include <functional>
#include <map>
#include <set>

namespace uafw::sim {

namespace {

struct ChipType {
    const char* name;
    std::uint16_t id;
    std::uint16_t pid;
};

constexpr std::array<ChipType, 6> kChipTypes{{
    {"KSC7020", 0x7011, 0x7020},
    {"KSC7040", 0xB011, 0x7040},
    {"KSC7042", 0xF011, 0x7042},
    {"KSC7050", 0xD011, 0x7050},
    {"KSC7032", 0xE011, 0x7032},
    {"KSC7080", 0x1011, 0x7080},
}};

std::string Trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// One key of chip.ini: how its value is stored into the configuration.
using Setter = std::function<bool(const std::string& value, ChipConfig& c, std::string& why)>;

bool IntInto(const std::string& v, std::uint64_t max, std::uint64_t& out, std::string& why) {
    auto n = ParseChipInteger(v);
    if (!n) {
        why = "is not an integer (decimal or 0x hexadecimal)";
        return false;
    }
    if (*n > max) {
        why = "is out of range (at most " + std::to_string(max) + ")";
        return false;
    }
    out = *n;
    return true;
}

template <typename T>
Setter Int(T ChipConfig::*field, std::uint64_t max) {
    return [field, max](const std::string& v, ChipConfig& c, std::string& why) {
        std::uint64_t n = 0;
        if (!IntInto(v, max, n, why))
            return false;
        c.*field = static_cast<T>(n);
        return true;
    };
}

template <typename T>
Setter FaultInt(T FaultSettings::*field, std::uint64_t max) {
    return [field, max](const std::string& v, ChipConfig& c, std::string& why) {
        std::uint64_t n = 0;
        if (!IntInto(v, max, n, why))
            return false;
        c.faults.*field = static_cast<T>(n);
        return true;
    };
}

Setter Flag(bool ChipConfig::*field) {
    return [field](const std::string& v, ChipConfig& c, std::string& why) {
        std::uint64_t n = 0;
        if (!IntInto(v, 1, n, why))
            return false;
        c.*field = n != 0;
        return true;
    };
}

Setter FaultFlag(bool FaultSettings::*field) {
    return [field](const std::string& v, ChipConfig& c, std::string& why) {
        std::uint64_t n = 0;
        if (!IntInto(v, 1, n, why))
            return false;
        c.faults.*field = n != 0;
        return true;
    };
}

Setter Text(std::string ChipConfig::*field) {
    return [field](const std::string& v, ChipConfig& c, std::string&) {
        std::string t = v;
        if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
            t = t.substr(1, t.size() - 2);
        c.*field = t;
        return true;
    };
}

bool SetType(const std::string& v, ChipConfig& c, std::string& why) {
    auto id = ChipIdOfType(v);
    if (!id) {
        why = "names no chip type (KSC7020, KSC7040, KSC7042, KSC7050, KSC7032, KSC7080)";
        return false;
    }
    c.typeName = Upper(v);
    c.chipId = *id;
    return true;
}

bool SetMemory(const std::string& v, ChipConfig& c, std::string& why) {
    const std::string m = Lower(v);
    if (m == "flash")
        c.memory = BootMemory::Flash;
    else if (m == "eeprom8")
        c.memory = BootMemory::Eeprom8;
    else if (m == "eeprom16")
        c.memory = BootMemory::Eeprom16;
    else if (m == "otp")
        c.memory = BootMemory::Otp;
    else {
        why = "names no memory kind (flash, eeprom8, eeprom16, otp)";
        return false;
    }
    return true;
}

bool SetPort(const std::string& v, ChipConfig& c, std::string& why) {
    // A port path: port numbers 1..255 separated by dots, one per hub level.
    std::size_t start = 0;
    int levels = 0;
    while (start <= v.size()) {
        std::size_t dot = v.find('.', start);
        std::string part =
            v.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        auto n = ParseChipInteger(part);
        if (part.empty() || !n || *n < 1 || *n > 255 || ++levels > 6) {
            why = "is not a port path such as 2 or 1.3 (ports 1..255, at most 6 levels)";
            return false;
        }
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    c.port = v;
    return true;
}

bool SetRootUsb(const std::string& v, ChipConfig& c, std::string& why) {
    auto n = ParseChipInteger(v);
    if (!n || (*n != 2 && *n != 3)) {
        why = "must be 2 or 3";
        return false;
    }
    c.rootUsb = static_cast<std::uint8_t>(*n);
    return true;
}

bool SetOtpFail(const std::string& v, ChipConfig& c, std::string& why) {
    c.faults.otpFail.clear();
    std::size_t start = 0;
    while (start <= v.size()) {
        std::size_t comma = v.find(',', start);
        std::string part =
            Trim(v.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!part.empty()) {
            auto n = ParseChipInteger(part);
            if (!n || *n >= 0x4000) {
                why = "holds '" + part + "', which is no OTP address (0..0x3FFF)";
                return false;
            }
            c.faults.otpFail.push_back(static_cast<std::uint16_t>(*n));
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

bool SetSignature(const std::string& v, ChipConfig& c, std::string& why) {
    const std::string s = Lower(v);
    if (s == "pass")
        c.faults.signature = SignatureOutcome::Pass;
    else if (s == "fail")
        c.faults.signature = SignatureOutcome::Fail;
    else if (s == "busy")
        c.faults.signature = SignatureOutcome::Busy;
    else {
        why = "must be pass, fail or busy";
        return false;
    }
    return true;
}

bool SetFailCode(const std::string& v, ChipConfig& c, std::string& why) {
    auto n = ParseChipInteger(v);
    if (!n || *n == 0 || *n > 0xFFFFFFFFull) {
        why = "must be a non-zero error code (31 refused, 21 not ready, 1167 gone, 1460 time-out)";
        return false;
    }
    c.faults.failCode = static_cast<std::uint32_t>(*n);
    return true;
}

bool SetNewFlash(const std::string& v, ChipConfig& c, std::string& why) {
    const std::string s = Lower(v);
    if (s != "builtin" && s != "erased") {
        why = "must be builtin or erased";
        return false;
    }
    c.newFlashBuiltin = s == "builtin";
    return true;
}

const std::map<std::string, Setter>& ChipKeys() {
    static const std::map<std::string, Setter> keys{
        {"type", SetType},
        {"id", Int(&ChipConfig::chipId, 0xFFFF)},
        {"memory", SetMemory},
        {"vid", Int(&ChipConfig::vid, 0xFFFF)},
        {"pid", Int(&ChipConfig::pid, 0xFFFF)},
        {"rev", Int(&ChipConfig::rev, 0xFFFF)},
        {"manufacturer", Text(&ChipConfig::manufacturer)},
        {"product", Text(&ChipConfig::product)},
        {"serial", Text(&ChipConfig::serial)},
        {"port", SetPort},
        {"root_usb", SetRootUsb},
        {"attached", Flag(&ChipConfig::attached)},
        {"boot_rom", Flag(&ChipConfig::bootRom)},
        {"flash_size", Int(&ChipConfig::flashSize, 0x1000000)},
        {"eeprom_size", Int(&ChipConfig::eepromSize, 0x100000)},
        {"reenum_ms", Int(&ChipConfig::reenumMs, 600000)},
        {"erase_ms", Int(&ChipConfig::eraseMs, 600000)},
        {"latency_us", Int(&ChipConfig::latencyUs, 1000000)},
        {"max_data_size", Int(&ChipConfig::maxDataSize, 4096)},
        {"ext_code", Int(&ChipConfig::extensionCode, 0xFFFF)},
        {"new_flash", SetNewFlash},
    };
    return keys;
}

const std::map<std::string, Setter>& FaultKeys() {
    static const std::map<std::string, Setter> keys{
        {"fail_transfer", FaultInt(&FaultSettings::failTransfer, 0xFFFFFFFFull)},
        {"fail_code", SetFailCode},
        {"fail_opcode", FaultInt(&FaultSettings::failOpcode, 0xFF)},
        {"fail_request", FaultInt(&FaultSettings::failRequest, 0xFF)},
        {"fail_times", FaultInt(&FaultSettings::failTimes, 0xFFFFFFFFull)},
        {"fail_skip", FaultInt(&FaultSettings::failSkip, 0xFFFFFFFFull)},
        {"unplug_after", FaultInt(&FaultSettings::unplugAfter, 0xFFFFFFFFull)},
        {"not_ready", FaultInt(&FaultSettings::notReady, 0xFFFFFFFFull)},
        {"never_return", FaultFlag(&FaultSettings::neverReturn)},
        {"otp_fail", SetOtpFail},
        {"otp_locked", FaultFlag(&FaultSettings::otpLocked)},
        {"otp_power_cut", FaultInt(&FaultSettings::otpPowerCut, 0xFFFFFFFFull)},
        {"otp_power_cut_bytes", FaultInt(&FaultSettings::otpPowerCutBytes, 0x4000)},
        {"otp_unplug_after", FaultInt(&FaultSettings::otpUnplugAfter, 0xFFFFFFFFull)},
        {"signature", SetSignature},
    };
    return keys;
}

std::string KeyList(const std::map<std::string, Setter>& keys) {
    std::string list;
    for (const auto& [name, setter] : keys)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

}  // namespace

std::uint32_t ChipConfig::EffectiveEepromSize() const {
    if (eepromSize != 0)
        return eepromSize;
    return memory == BootMemory::Eeprom8 ? 0x800u : 0x10000u;
}

std::optional<std::uint16_t> ChipIdOfType(std::string_view typeName) {
    const std::string upper = Upper(Trim(typeName));
    for (const ChipType& t : kChipTypes) {
        if (upper == t.name)
            return t.id;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseChipInteger(std::string_view text) {
    const std::string t = Trim(text);
    if (t.empty())
        return std::nullopt;
    int base = 10;
    std::size_t i = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        i = 2;
    }
    std::uint64_t value = 0;
    for (; i < t.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            return std::nullopt;
        if (value > (0xFFFFFFFFFFFFull))
            return std::nullopt;  // far beyond any value chip.ini can hold
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return value;
}

bool ParseChipConfig(std::string_view text, ChipConfig& config, std::string& error) {
    ChipConfig c = config;
    std::set<std::string> seen;
    const std::map<std::string, Setter>* section = nullptr;
    std::string sectionName;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNo;
        const std::string where = "chip.ini line " + std::to_string(lineNo) + ": ";
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']') {
                error = where + "malformed section header '" + line + "'";
                return false;
            }
            sectionName = Lower(Trim(line.substr(1, line.size() - 2)));
            if (sectionName == "chip")
                section = &ChipKeys();
            else if (sectionName == "faults")
                section = &FaultKeys();
            else {
                error = where + "unknown section [" + sectionName + "] (known: [chip], [faults])";
                return false;
            }
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = where + "expected 'key = value', found '" + line + "'";
            return false;
        }
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        if (!section) {
            error = where + "key '" + key + "' outside a section ([chip] or [faults])";
            return false;
        }
        auto it = section->find(key);
        if (it == section->end()) {
            error = where + "unknown key '" + key + "' in section [" + sectionName +
                    "] (known: " + KeyList(*section) + ")";
            return false;
        }
        std::string why;
        if (!it->second(value, c, why)) {
            error = where + "value '" + value + "' of key '" + key + "' " + why;
            return false;
        }
        seen.insert(sectionName + "." + key);
        ++c.keysGiven;
    }
    // A chip type brings its own product id and product text unless they are given.
    if (seen.count("chip.type")) {
        for (const ChipType& t : kChipTypes) {
            if (c.typeName == t.name) {
                if (!seen.count("chip.pid"))
                    c.pid = t.pid;
                if (!seen.count("chip.product"))
                    c.product = std::string(t.name) + " USB Audio";
            }
        }
    }
    if (c.flashSize < 0x10000 || (c.flashSize & 0xFFF) != 0) {
        error = "chip.ini: flash_size must be a multiple of 4 KiB and at least 64 KiB";
        return false;
    }
    if (seen.count("chip.eeprom_size") && c.eepromSize == 0) {
        error = "chip.ini: eeprom_size must not be 0";
        return false;
    }
    if (c.maxDataSize == 0) {
        error = "chip.ini: max_data_size must not be 0";
        return false;
    }
    config = c;
    return true;
}

}  // namespace uafw::sim
