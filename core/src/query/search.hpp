#pragma once
// Search: free words through the full-text index, ranked, with snippets;
// #tags and meta:key=value filters tested against each candidate's file.

#include "base/error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct Vault;

struct SearchHit {
  std::string id;
  std::string title;
  std::string path;                    // relative to the vault root, "/" separators
  std::string updated_at;
  // Full-text hits only: matches between "**"; none for a row matching more
  // than 2,000 instances of the query's words, whose snippet would cost time
  // in the square of that number.
  std::optional<std::string> snippet;
};

// The hits for `query`, at most `limit` of them (a limit below 1 counts as
// 1, above 200 as 200). Free words are searched as prefixes in titles and
// bodies, best match first; without free words the newest notes are the
// candidates. The filters then only remove candidates, in order, so a
// filtered search may return fewer hits than exist. A query with nothing in
// it lists the newest notes. Fails with Database only.
[[nodiscard]] Result<std::vector<SearchHit>> search_notes(const Vault& vault, std::string_view query,
                                                          std::int64_t limit);

}  // namespace core
