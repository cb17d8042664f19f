#include "flow/IdentityLists.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/Resources.h"

namespace uafw {
namespace {

constexpr int kBuiltinIdListId = 3034;

std::string_view Trim(std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && blank(line.back()))
        line.remove_suffix(1);
    return line;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    return Lower(text).find(Lower(part)) != std::string::npos;
}

}  // namespace

std::string_view BuiltinIdListText() {
    return ResourceText("ICINI", kBuiltinIdListId);
}

bool IdentityInBuiltinList(std::string_view listText, std::string_view identity) {
    std::size_t start = 0;
    while (start <= listText.size()) {
        std::size_t end = listText.find('\n', start);
        if (end == std::string_view::npos)
            end = listText.size();
        std::string_view line = Trim(listText.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.starts_with("//"))
            continue;
        // "VID_hhhh&PID_hhhh&REV_hhhh" loses "&REV_hhhh": the cut falls before the character that
        // precedes "REV".
        const std::size_t rev = line.find("REV");
        if (rev != std::string_view::npos)
            line = line.substr(0, rev == 0 ? 0 : rev - 1);
        if (line.empty())
            continue;
        if (ContainsIgnoringCase(identity, line))
            return true;
    }
    return false;
}

ListFileResult IdentityInListFile(const std::string& path, std::string_view identity) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return ListFileResult::kMissing;
    std::ifstream in(path, std::ios::binary);
    if (!in || std::filesystem::is_directory(path, ec))
        return ListFileResult::kUnreadable;
    std::string raw;
    while (std::getline(in, raw)) {
        const std::string_view line = Trim(raw);
        if (!line.empty() && ContainsIgnoringCase(line, "REV") &&
            ContainsIgnoringCase(identity, line))
            return ListFileResult::kMatch;
    }
    return ListFileResult::kNoMatch;
}

}  // namespace uafw
