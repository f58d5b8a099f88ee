#pragma once
// Tags written as #hashtags in a text (a note's title, a search query).

#include <string>
#include <string_view>
#include <vector>

namespace core {

// The hashtags of `text`, in order of first appearance. A word (split at
// Unicode white space) counts when it starts with "#": its leading "#"s are
// dropped and it is cut at the next "#"; nothing else is stripped, so
// "#work," gives "work,". Words left empty ("#", "##") are skipped, and so is
// a tag whose full Unicode lower case equals that of a tag already taken;
// tags keep their letters as written. "Sprint ##q3#draft" gives {"q3"}.
std::vector<std::string> extract_hashtags(std::string_view text);

}  // namespace core
