#pragma once
// The accepted-identity lists that decide whether an attached device may be worked on. An
// identity text has the form VID_hhhh&PID_hhhh&REV_hhhh.
//
// The built-in list (resource "ICINI" 3034) holds one identity per line; lines beginning with "//"
// are inactive, blank lines separate groups. A line accepts every revision of its VID and PID.
// The list file VidPidList.ini holds one identity per line, surrounding blanks ignored; a line
// accepts only a device whose identity includes its REV field.
#include <string>
#include <string_view>

namespace uafw {

// The text of the built-in identity list (empty when the program carries none).
std::string_view BuiltinIdListText();

// True when an active line of `listText`, trimmed and cut before its "&REV_hhhh" tail, occurs in
// `identity` (ignoring case). A line that is empty after the cut accepts nothing.
bool IdentityInBuiltinList(std::string_view listText, std::string_view identity);

// Outcome of a look-up in the list file.
enum class ListFileResult { kMatch, kNoMatch, kMissing, kUnreadable };

// Looks `identity` up in the list file at `path`: a line matches when, trimmed, it is not empty,
// carries a REV field and occurs in the identity (ignoring case).
ListFileResult IdentityInListFile(const std::string& path, std::string_view identity);

}  // namespace uafw
