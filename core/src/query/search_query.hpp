#pragma once
// The search query language and the parts of a search that need no
// database: reading a query, the full-text match expression for its free
// words, and the tag and meta test applied to each candidate note.
//
// A query is split into words at runs of white space. A word "meta:key=value"
// is a meta filter; a word "#tag" is a tag filter; every other word is a
// free word searched in titles and bodies.

#include "meta/meta_dates.hpp"
#include "note/note.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct SearchQuery {
  std::string text;                // free words joined by single spaces; may be empty
  std::vector<std::string> tags;   // without the leading "#"; unique in Unicode lower case
  std::vector<MetaFilter> metas;   // in query order; repeats kept

  bool operator==(const SearchQuery&) const = default;
};

// Reads `query`; never fails.
// - A word beginning with "meta:" (exact case) whose rest holds "=" is a
//   filter: key before the first "=", value after it (further "=" belong to
//   the value). Without "=" it is a free word.
// - A word beginning with "#" loses all its leading "#" and everything from
//   the next "#" on. What is left is a tag, as written; a tag equal in
//   Unicode lower case to an earlier one is dropped altogether. When nothing
//   is left the word is a free word.
SearchQuery parse_search_query(std::string_view query);

// The full-text match expression for free text: each word becomes a prefix
// phrase, the word in double quotes with each double quote in it doubled and
// "*" after, and the phrases are joined by " AND ". Quoting makes every word
// plain text to the full-text engine: no word can act as an operator, a
// column filter or an unbalanced quote. A NUL character in a word is written
// as a space (a token separator to the engine, which would otherwise stop
// reading there). Empty text gives the empty text.
std::string build_match_expression(std::string_view text);

// Whether a note with this frontmatter passes the tag and meta filters of
// `query` when `today` is the current local date. Each tag must equal one
// of the note's tags as stored (a stored "#" is compared too) with ASCII
// letters compared regardless of case; each meta filter must pass
// meta_matches. The note's workspace plays no part. A query without filters
// passes every note.
bool note_matches_filters(const NoteFrontmatter& note, const SearchQuery& query,
                          std::chrono::year_month_day today);

}  // namespace core
