#include "query/search_query.hpp"

#include "base/text.hpp"

#include <algorithm>
#include <optional>

namespace core {
namespace {

constexpr std::string_view kMetaPrefix = "meta:";

// The filter of a "meta:key=value" word, or nullopt for any other word.
std::optional<MetaFilter> meta_filter_of(std::string_view word) {
  if (!word.starts_with(kMetaPrefix)) return std::nullopt;
  const std::string_view rest = word.substr(kMetaPrefix.size());
  const size_t equals = rest.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return MetaFilter{std::string(rest.substr(0, equals)), std::string(rest.substr(equals + 1))};
}

// The tag a "#" word names: leading "#" removed, cut at the next "#".
// nullopt when the word has no "#" in front or nothing is left.
std::optional<std::string_view> hashtag_of(std::string_view word) {
  if (!word.starts_with('#')) return std::nullopt;
  word.remove_prefix(std::min(word.find_first_not_of('#'), word.size()));
  word = word.substr(0, word.find('#'));
  if (word.empty()) return std::nullopt;
  return word;
}

void append_joined(std::string& out, std::string_view piece, std::string_view separator) {
  if (!out.empty()) out += separator;
  out += piece;
}

}  // namespace

SearchQuery parse_search_query(std::string_view query) {
  SearchQuery parsed;
  std::vector<std::string> folded_tags;
  for (std::string_view word : split_words(query)) {
    if (std::optional<MetaFilter> filter = meta_filter_of(word)) {
      parsed.metas.push_back(std::move(*filter));
      continue;
    }
    const std::optional<std::string_view> tag = hashtag_of(word);
    if (!tag) {
      append_joined(parsed.text, word, " ");
      continue;
    }
    std::string folded = unicode_lower(*tag);
    if (std::find(folded_tags.begin(), folded_tags.end(), folded) != folded_tags.end()) continue;
    folded_tags.push_back(std::move(folded));
    parsed.tags.emplace_back(*tag);
  }
  return parsed;
}

std::string build_match_expression(std::string_view text) {
  std::string expression;
  for (std::string_view word : split_words(text)) {
    std::string term = "\"";
    for (char c : word) {
      // The engine reads the expression only up to a NUL; as a space it
      // separates tokens just as the tokenizer treats a NUL in a note.
      if (c == '\0') c = ' ';
      if (c == '"') term += '"';
      term += c;
    }
    term += "\"*";
    append_joined(expression, term, " AND ");
  }
  return expression;
}

bool note_matches_filters(const NoteFrontmatter& note, const SearchQuery& query,
                          std::chrono::year_month_day today) {
  for (const std::string& tag : query.tags) {
    const bool carried = std::any_of(note.tags.begin(), note.tags.end(),
                                     [&](const std::string& stored) { return ascii_iequals(stored, tag); });
    if (!carried) return false;
  }
  return std::all_of(query.metas.begin(), query.metas.end(),
                     [&](const MetaFilter& filter) { return meta_matches(note.metas, filter, today); });
}

}  // namespace core
