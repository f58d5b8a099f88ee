#include "query/search.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "query/search_query.hpp"

#include <algorithm>

namespace core {
namespace {

constexpr std::int64_t kMaxHits = 200;

// snippet() weighs every instance of the query's phrases in a row against
// every other, so its time grows with the square of their number: a body
// repeating the searched word a million times would hold the single-threaded
// server for hours, past any deadline, since one function call on one row
// cannot be interrupted. Rows matching more than 2,000 instances (some 0.3 s
// of snippet work) answer without a snippet; every other row gets exactly
// the snippet it always had.
constexpr std::string_view kFullText =
    "SELECT nf.id, nf.title, nf.path, nf.updated_at,\n"
    "         CASE WHEN bt_instance_count(notes_fts) <= 2000\n"
    "              THEN snippet(notes_fts, 2, '**', '**', '\u2026', 32) END\n"
    "         FROM notes_fts f\n"
    "         JOIN note_files nf ON nf.id = f.note_id\n"
    "         WHERE notes_fts MATCH ?1 AND nf.deleted_at IS NULL\n"
    "         ORDER BY bm25(notes_fts)\n"
    "         LIMIT ?2";

// The newest live notes. The unary "+" keeps the planner from reading every
// live row through the deleted_at index and sorting them; it walks the
// updated_at index instead and stops after ?1 rows. Same rows, same order.
constexpr std::string_view kRecent =
    "SELECT id, title, path, updated_at FROM note_files\n"
    "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC LIMIT ?1";

// Every row of a prepared and bound statement whose first four columns are
// id, title, path and updated_at, and whose fifth, if any, is the snippet.
Result<std::vector<SearchHit>> read_hits(Statement& stmt) {
  std::vector<SearchHit> hits;
  for (;;) {
    auto row = stmt.step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return hits;
    SearchHit hit;
    for (auto [column, field] : {std::pair{0, &hit.id}, {1, &hit.title}, {2, &hit.path}, {3, &hit.updated_at}}) {
      auto text = stmt.column_text(column);
      if (!text) return std::unexpected(std::move(text.error()));
      *field = std::move(*text);
    }
    if (stmt.column_count() > 4 && !stmt.column_is_null(4)) {
      auto snippet = stmt.column_text(4);
      if (!snippet) return std::unexpected(std::move(snippet.error()));
      hit.snippet = std::move(*snippet);
    }
    hits.push_back(std::move(hit));
  }
}

template <class... Values>
Result<std::vector<SearchHit>> query_hits(const Vault& vault, std::string_view sql, const Values&... values) {
  auto stmt = prepare(vault.db(), sql);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = stmt->bind_all(values...); !bound) return std::unexpected(std::move(bound.error()));
  return read_hits(*stmt);
}

// Keeps the candidates whose note file passes the query's filters; a note
// that cannot be loaded does not pass.
void keep_matching(const Vault& vault, const SearchQuery& query, std::vector<SearchHit>& hits) {
  const auto today = current_local_date(local_time_zone());
  std::erase_if(hits, [&](const SearchHit& hit) {
    auto note = get_note(vault, hit.id);
    return !note || !note_matches_filters(note->frontmatter, query, today);
  });
}

}  // namespace

Result<std::vector<SearchHit>> search_notes(const Vault& vault, std::string_view query, std::int64_t limit) {
  const std::int64_t n = std::clamp<std::int64_t>(limit, 1, kMaxHits);
  const SearchQuery parsed = parse_search_query(query);
  const bool filtered = !parsed.tags.empty() || !parsed.metas.empty();
  Result<std::vector<SearchHit>> hits;
  if (parsed.text.empty()) {
    hits = query_hits(vault, kRecent, n);
  } else if (auto added = add_instance_count_function(vault.db()); !added) {
    hits = std::unexpected(std::move(added.error()));
  } else {
    hits = query_hits(vault, kFullText, build_match_expression(parsed.text), n);
  }
  if (hits && filtered) keep_matching(vault, parsed, *hits);
  return hits;
}

}  // namespace core
