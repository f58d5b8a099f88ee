#include "note/hashtags.hpp"

#include "base/text.hpp"

#include <unordered_set>

namespace core {

std::vector<std::string> extract_hashtags(std::string_view text) {
  std::vector<std::string> tags;
  std::unordered_set<std::string> folded;
  for (std::string_view word : split_words(text)) {
    if (!word.starts_with('#')) continue;
    const size_t start = word.find_first_not_of('#');
    if (start == std::string_view::npos) continue;
    std::string_view tag = word.substr(start);
    tag = tag.substr(0, tag.find('#'));
    if (folded.insert(unicode_lower(tag)).second) tags.emplace_back(tag);
  }
  return tags;
}

}  // namespace core
