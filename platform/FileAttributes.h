#pragma once
// File attributes the program changes: the counterpart of clearing a file's read-only attribute.
#include <string>

namespace uafw {

// When `path` names an existing regular file that its owner may not write, adds the owner's
// write permission and keeps the other permission bits. Returns true when the file exists and is
// writable for its owner afterwards.
bool ClearReadOnly(const std::string& path);

}  // namespace uafw
