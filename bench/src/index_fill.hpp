#pragma once
// The index rows that the notes of a generated vault get, for the floor's
// write statements and for filling an index without the server.

#include "generator.hpp"
#include "outcome.hpp"
#include "sql_floor.hpp"

#include <string>
#include <string_view>

struct sqlite3;

namespace bench {

// The tags the server derives from a generated title, as compact JSON.
std::string title_tags_json(std::string_view title);

// "notes/<folder>/<id>.md", or "notes/<id>.md" for the empty folder.
std::string stored_path(std::string_view folder, std::string_view id);

// What the indexer writes for `note` of `vault` when it lies in `folder`:
// tags from the title's hashtags, metas as compact JSON, title links then
// address links. A title link carries its target's id when the target's
// index is below `resolved_below` (written before), else it is unresolved.
IndexedNote indexed_form(const VaultGenerator& vault, const NoteDraft& note, std::string_view folder,
                         size_t resolved_below = 0);

// Writes every note of `vault` into the open index in one transaction, as
// loading the notes in index order through the server leaves it: a title
// link resolves when its target comes earlier. Writes no note files.
[[nodiscard]] Outcome<void> fill_index(sqlite3* db, const VaultGenerator& vault, LinkIds& ids);

}  // namespace bench
