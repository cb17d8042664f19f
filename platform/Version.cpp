#include "platform/Version.h"

#include "platform/VersionConfig.h"

namespace uafw {

const char* FileVersionText() {
    return kUafwFileVersion;
}

std::string ShortVersionText(const std::string& fileVersion) {
    const auto first = fileVersion.find('.');
    if (first == std::string::npos)
        return {};
    const auto second = fileVersion.find('.', first + 1);
    if (second == std::string::npos)
        return {};
    const auto third = fileVersion.find('.', second + 1);
    if (third == std::string::npos)
        return {};
    std::string text = fileVersion.substr(0, second + 1) + fileVersion.substr(third + 1);
    if (text.size() > 15)
        text.resize(15);
    return text;
}

}  // namespace uafw
