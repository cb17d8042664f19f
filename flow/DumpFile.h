#pragma once
// Dump files of a memory read back from a device: the bytes as they are, or a hexadecimal text
// of two upper-case digits and a space per byte, 16 bytes to a line, lines separated by CR LF.
// Before writing, a relative path is made absolute against the current directory and every
// missing directory on it is created; one that cannot be created is reported in a message box
// and the file is still attempted.
#include <cstdint>
#include <span>
#include <string>

class CDumpFile {
public:
    static constexpr std::size_t kBytesPerLine = 16;

    // The hexadecimal text of `bytes`; no line break follows the last byte's space.
    static std::string HexText(std::span<const std::uint8_t> bytes);
    // The absolute form of `path`, with the missing directories on it created. A directory that
    // cannot be created shows "Create Directory (%s) : Failed !" with its path.
    static std::string PreparePath(const std::string& path);
    // Writes the bytes, or their hexadecimal text, to the file at `path` (created or truncated).
    // True when written whole.
    static bool WriteBinary(const std::string& path, std::span<const std::uint8_t> bytes);
    static bool WriteHex(const std::string& path, std::span<const std::uint8_t> bytes);

private:
    static bool WriteFile(const std::string& path, const char* data, std::size_t length);
};
