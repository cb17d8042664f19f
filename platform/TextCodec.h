#pragma once
// Conversions of the program's internal UTF-8 text into the encodings its files use: UTF-16
// little-endian for the operation log, single bytes for the result files.
#include <string>
#include <string_view>

namespace uafw {

// UTF-8 to UTF-16. A byte sequence that is not valid UTF-8 gives U+FFFD per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8. An unpaired surrogate gives U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to single-byte text: every character below 256 becomes the byte of the same value; a
// character above 255, and a byte sequence that is not valid UTF-8, becomes '?'.
std::string Utf8ToSingleByte(std::string_view text);

}  // namespace uafw
