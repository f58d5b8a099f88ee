#pragma once
// How the commands print a path: in one form that loses nothing and is
// always valid UTF-8, so that a path holding bytes that are not UTF-8 (a
// folder named by another system's encoding) can go into a line of text or
// a JSON string and be read back byte for byte.
//
// A backslash is written "\\"; a byte that is not part of well-formed
// UTF-8, and a control character (below U+0020, or U+007F), is written
// "\xHH" with two upper-case hex digits; every other character is kept.
// So "/home/v\xfe/notes" prints as `/home/v\xFE/notes`, and an ordinary
// path prints as it is.

#include <filesystem>
#include <string>
#include <string_view>

namespace mcp {

// `text` (bytes from the file system) in the printed form above.
std::string shown_text(std::string_view text);

// shown_text of the path's bytes.
std::string shown_path(const std::filesystem::path& path);

}  // namespace mcp
