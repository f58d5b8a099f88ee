#include "base/title_key.hpp"

#include "base/text.hpp"

namespace core {
namespace {

// SQLite's one-argument trim removes spaces only.
std::string_view trim_spaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string title_key(std::string_view title) { return ascii_lower(trim_spaces(title)); }

bool same_title(std::string_view a, std::string_view b) { return ascii_iequals(trim_spaces(a), trim_spaces(b)); }

bool is_linkable_title(std::string_view title) {
  const std::string_view spaced = trim_spaces(title);
  return !spaced.empty() && trim(spaced).size() == spaced.size();
}

}  // namespace core
