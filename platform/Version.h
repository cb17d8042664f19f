#pragma once
// The program's own four-field file version (from the build) and the text the window shows.
#include <string>

namespace uafw {

// The four-field file version, for example "3.0.0.24".
const char* FileVersionText();

// Keeps everything up to and including the second dot and appends what follows the third dot:
// "3.0.0.24" gives "3.0.24". A text with fewer than three dots gives an empty text. The result
// is cut to 15 characters, the size of the program's version text.
std::string ShortVersionText(const std::string& fileVersion);

}  // namespace uafw
