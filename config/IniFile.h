#pragma once
// An INI document read from a file or from text held in memory. Section and entry names are
// looked up ignoring ASCII case; names and values are stored exactly as read. The settings store
// and every per-chip description are documents of this kind.
#include <cstdint>
#include <string>
#include <vector>

class CIniFile {
public:
    CIniFile() = default;
    virtual ~CIniFile() = default;

    void SetFilePath(const std::string& path) { m_path = path; }
    const std::string& FilePath() const { return m_path; }

    // True when the file at the path was read to its end and holds at least one section.
    bool LoadFromFile();
    // The same for an INI text held in memory.
    bool LoadFromText(const std::string& text);
    // Removes all sections, entries and notes.
    void Clear();

    int SectionIndex(const std::string& section) const;
    int EntryIndex(int sectionIndex, const std::string& entry) const;
    // Appends a new, empty section, also when one of that name exists; returns its index.
    int AppendSection(const std::string& section);

    bool PutString(const std::string& section, const std::string& entry, const std::string& value,
                   bool create);
    std::string GetString(const std::string& section, const std::string& entry,
                          const std::string& def) const;
    std::string GetString(int sectionIndex, const std::string& entry, const std::string& def) const;
    std::int32_t GetInt(const std::string& section, const std::string& entry,
                        std::int32_t def) const;
    std::int32_t GetInt(int sectionIndex, const std::string& entry, std::int32_t def) const;
    // Stores the value formatted with "%d", creating section and entry when missing.
    bool PutInt(const std::string& section, const std::string& entry, std::int32_t value);

    bool AddSectionNote(const std::string& section, const std::string& text);
    void AddFileNote(const std::string& text) { m_fileNotes.push_back(text); }

    // Read access for callers that walk the document; an index out of range gives an empty
    // name or list.
    int SectionCount() const { return static_cast<int>(m_sectionNames.size()); }
    const std::string& SectionName(int index) const;
    int EntryCount(int sectionIndex) const;
    const std::string& EntryName(int sectionIndex, int entryIndex) const;
    const std::vector<std::string>& SectionNotes(int sectionIndex) const;
    const std::vector<std::string>& FileNotes() const { return m_fileNotes; }

    // Converts a text as an unsigned 32-bit number with automatic base (leading white space
    // skipped, optional sign, "0x"/"0X" hexadecimal, leading "0" octal, stops at the first
    // character that does not fit, no digits give 0) and returns it as a signed 32-bit value.
    static std::int32_t ParseInt(const std::string& text);

private:
    struct Section {
        std::vector<std::string> names;
        std::vector<std::string> values;
        std::vector<std::string> notes;
    };

    // Applies one line of INI text; false when the load must stop at it.
    bool ParseLine(std::string line, std::string& currentSection);

    std::uint8_t m_bAllowDuplicates = 0;
    std::uint8_t m_bCaseInsensitive = 1;
    std::string m_path;
    std::vector<Section> m_sections;
    std::vector<std::string> m_sectionNames;
    std::vector<std::string> m_fileNotes;
};
