#include "flow/DumpFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/MessageBox.h"

std::string CDumpFile::HexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3 + (bytes.size() / kBytesPerLine) * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && i % kBytesPerLine == 0)
            text += "\r\n";
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}

std::string CDumpFile::PreparePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path full = fs::absolute(fs::path(path), ec);
    if (ec)
        full = fs::path(path);
    fs::path directory;
    for (const fs::path& part : full.parent_path()) {
        directory /= part;
        if (fs::is_directory(directory, ec))
            continue;
        if (!fs::create_directory(directory, ec) && !fs::is_directory(directory, ec)) {
            uafw::ShowMessage("Create Directory (" + directory.string() + ") : Failed !");
            break;
        }
    }
    return full.string();
}

bool CDumpFile::WriteFile(const std::string& path, const char* data, std::size_t length) {
    std::ofstream out(PreparePath(path), std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(data, static_cast<std::streamsize>(length));
    out.close();
    return static_cast<bool>(out);
}

bool CDumpFile::WriteBinary(const std::string& path, std::span<const std::uint8_t> bytes) {
    return WriteFile(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool CDumpFile::WriteHex(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string text = HexText(bytes);
    return WriteFile(path, text.data(), text.size());
}
