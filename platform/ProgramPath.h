#pragma once
// Where the program lives: result files, the log and the debug capture are written next to it.
#include <string>

namespace uafw {

// Directory of the running program's executable, with a trailing '/'.
std::string ProgramDirectory();

// The same without the trailing '/' (the command-line prompt shows this form).
std::string ProgramDirectoryNoSlash();

}  // namespace uafw
