#include "config/IniFile.h"

#include <cstdio>
#include <fstream>

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b, bool caseInsensitive) {
    if (!caseInsensitive)
        return a == b;
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

}  // namespace

std::int32_t CIniFile::ParseInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == '0') {
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            DigitValue(text[i + 2]) < 16) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d >= static_cast<int>(base))
            break;
        value = value * base + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull;
        }
    }
    std::uint32_t result = static_cast<std::uint32_t>(value);
    // An out-of-range number reads as the largest unsigned value, whatever its sign.
    if (negative && !overflow)
        result = 0u - result;
    return static_cast<std::int32_t>(result);
}

bool CIniFile::LoadFromFile() {
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return false;
    std::string current;
    std::string line;
    while (std::getline(in, line)) {
        if (!ParseLine(line, current))
            return false;
    }
    // A read error (for example a path naming a directory) is not the end of the file.
    if (in.bad())
        return false;
    return !m_sectionNames.empty();
}

bool CIniFile::LoadFromText(const std::string& text) {
    std::string current;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start) {
            if (!ParseLine(text.substr(start, end - start), current))
                return false;
        }
        start = end + 1;
    }
    return !m_sectionNames.empty();
}

bool CIniFile::ParseLine(std::string line, std::string& currentSection) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        return true;
    const auto first = static_cast<unsigned char>(line[0]);
    if (first < 0x20 || first > 0x7E) {
        std::printf("Failing on char %d\n", static_cast<int>(static_cast<signed char>(line[0])));
        return false;
    }
    const std::size_t pos = line.find_first_of(";#[=");
    if (pos == std::string::npos) {
        PutString(currentSection, line, "", true);
    } else if (line[pos] == ';' || line[pos] == '#') {
        const std::string note = line.substr(pos + 1);
        if (!m_sectionNames.empty()) {
            AddSectionNote(currentSection, note);
        } else {
            AddFileNote(note);
        }
    } else if (line[pos] == '=') {
        PutString(currentSection, line.substr(0, pos), line.substr(pos + 1), true);
    } else {
        const std::size_t close = line.find(']');
        if (close != std::string::npos && close > pos) {
            currentSection = line.substr(pos + 1, close - pos - 1);
            AppendSection(currentSection);
        }
    }
    return true;
}

void CIniFile::Clear() {
    m_sections.clear();
    m_sectionNames.clear();
    m_fileNotes.clear();
}

int CIniFile::SectionIndex(const std::string& section) const {
    for (std::size_t i = 0; i < m_sectionNames.size(); ++i) {
        if (SameName(m_sectionNames[i], section, m_bCaseInsensitive != 0)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CIniFile::EntryIndex(int sectionIndex, const std::string& entry) const {
    if (sectionIndex < 0 || sectionIndex >= SectionCount())
        return -1;
    const Section& s = m_sections[static_cast<std::size_t>(sectionIndex)];
    for (std::size_t i = 0; i < s.names.size(); ++i) {
        if (SameName(s.names[i], entry, m_bCaseInsensitive != 0))
            return static_cast<int>(i);
    }
    return -1;
}

int CIniFile::AppendSection(const std::string& section) {
    m_sectionNames.push_back(section);
    m_sections.emplace_back();
    return SectionCount() - 1;
}

bool CIniFile::PutString(const std::string& section, const std::string& entry,
                         const std::string& value, bool create) {
    int si = SectionIndex(section);
    if (si < 0) {
        if (!create)
            return false;
        si = AppendSection(section);
    }
    Section& s = m_sections[static_cast<std::size_t>(si)];
    const int ei = m_bAllowDuplicates ? -1 : EntryIndex(si, entry);
    if (ei >= 0) {
        s.values[static_cast<std::size_t>(ei)] = value;
        return true;
    }
    if (!create)
        return false;
    s.names.push_back(entry);
    s.values.push_back(value);
    return true;
}

std::string CIniFile::GetString(const std::string& section, const std::string& entry,
                                const std::string& def) const {
    return GetString(SectionIndex(section), entry, def);
}

std::string CIniFile::GetString(int sectionIndex, const std::string& entry,
                                const std::string& def) const {
    const int ei = EntryIndex(sectionIndex, entry);
    if (ei < 0)
        return def;
    return m_sections[static_cast<std::size_t>(sectionIndex)].values[static_cast<std::size_t>(ei)];
}

std::int32_t CIniFile::GetInt(const std::string& section, const std::string& entry,
                              std::int32_t def) const {
    return GetInt(SectionIndex(section), entry, def);
}

std::int32_t CIniFile::GetInt(int sectionIndex, const std::string& entry, std::int32_t def) const {
    return ParseInt(GetString(sectionIndex, entry, std::to_string(def)));
}

bool CIniFile::PutInt(const std::string& section, const std::string& entry, std::int32_t value) {
    return PutString(section, entry, std::to_string(value), true);
}

bool CIniFile::AddSectionNote(const std::string& section, const std::string& text) {
    const int si = SectionIndex(section);
    if (si < 0)
        return false;
    m_sections[static_cast<std::size_t>(si)].notes.push_back(text);
    return true;
}

int CIniFile::EntryCount(int sectionIndex) const {
    if (sectionIndex < 0 || sectionIndex >= SectionCount())
        return 0;
    return static_cast<int>(m_sections[static_cast<std::size_t>(sectionIndex)].names.size());
}

const std::string& CIniFile::SectionName(int index) const {
    static const std::string kNone;
    if (index < 0 || index >= SectionCount())
        return kNone;
    return m_sectionNames[static_cast<std::size_t>(index)];
}

const std::string& CIniFile::EntryName(int sectionIndex, int entryIndex) const {
    static const std::string kNone;
    if (entryIndex < 0 || entryIndex >= EntryCount(sectionIndex))
        return kNone;
    return m_sections[static_cast<std::size_t>(sectionIndex)]
        .names[static_cast<std::size_t>(entryIndex)];
}

const std::vector<std::string>& CIniFile::SectionNotes(int sectionIndex) const {
    static const std::vector<std::string> kNone;
    if (sectionIndex < 0 || sectionIndex >= SectionCount())
        return kNone;
    return m_sections[static_cast<std::size_t>(sectionIndex)].notes;
}
