#include "platform/ProgramPath.h"

#include <unistd.h>

#include <climits>

namespace uafw {

std::string ProgramDirectory() {
    char path[PATH_MAX + 1] = {};
    const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0)
        return "./";
    std::string full(path, static_cast<std::size_t>(n));
    const auto slash = full.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return full.substr(0, slash + 1);
}

std::string ProgramDirectoryNoSlash() {
    std::string dir = ProgramDirectory();
    if (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

}  // namespace uafw
