#include "platform/FileAttributes.h"

#include <sys/stat.h>

namespace uafw {

bool ClearReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if ((st.st_mode & S_IWUSR) != 0)
        return true;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

}  // namespace uafw
