#include "query/search.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "query/search_query.hpp"

#include <algorithm>
#include <climits>
#include <unordered_set>
#include <utility>

namespace core {
namespace {

constexpr std::int64_t kMaxHits = 200;

// The statement's result, as first written: ranked matches joined to live notes.
//   SELECT nf.id, nf.title, nf.path, nf.updated_at, snippet(notes_fts, 2, '**', '**', '\u2026', 32)
//     FROM notes_fts f JOIN note_files nf ON nf.id = f.note_id
//     WHERE notes_fts MATCH ?1 AND nf.deleted_at IS NULL ORDER BY bm25(notes_fts) LIMIT ?2
// It is now run in two steps, below.

// Ranks first, reading only the full-text index: joining in the statement
// reads every match's stored text (and builds its snippet) before the sort
// keeps a page of them.
constexpr std::string_view kRanked =
    "SELECT rowid FROM notes_fts WHERE notes_fts MATCH ?1 ORDER BY bm25(notes_fts) LIMIT ?2";

// Then reads one ranked row: its live note and snippet, found by rowid, so
// stored text is read only for rows that may make the page.
constexpr std::string_view kRankedHit =
    "SELECT nf.id, nf.title, nf.path, nf.updated_at, snippet(notes_fts, 2, '**', '**', '\u2026', 32)\n"
    "         FROM notes_fts f\n"
    "         JOIN note_files nf ON nf.id = f.note_id\n"
    "         WHERE notes_fts MATCH ?1 AND f.rowid = ?2 AND nf.deleted_at IS NULL";

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

// The first `n` ranked matches that belong to live notes, best first.
// Ranked rows of deleted or unknown notes take no place: when a ranking
// read `depth` deep held some, it is read again twice as deep, skipping the
// rows already read (by rowid, so rows of equal rank that come back in
// another order are neither lost nor doubled), until the page is full or
// the matches run out.
Result<std::vector<SearchHit>> full_text_hits(const Vault& vault, const std::string& match, std::int64_t n) {
  auto ranked = prepare(vault.db(), kRanked);
  if (!ranked) return std::unexpected(std::move(ranked.error()));
  auto one_hit = prepare(vault.db(), kRankedHit);
  if (!one_hit) return std::unexpected(std::move(one_hit.error()));
  std::vector<SearchHit> hits;
  std::unordered_set<std::int64_t> seen;
  for (std::int64_t depth = n;; depth = depth > INT64_MAX / 2 ? INT64_MAX : depth * 2) {
    ranked->reset();
    if (auto bound = ranked->bind_all(match, depth); !bound) return std::unexpected(std::move(bound.error()));
    std::int64_t rows = 0;
    for (;;) {
      auto row = ranked->step();
      if (!row) return std::unexpected(std::move(row.error()));
      if (!*row) break;
      ++rows;
      const std::int64_t rowid = ranked->column_int64(0);
      if (!seen.insert(rowid).second) continue;
      one_hit->reset();
      if (auto bound = one_hit->bind_all(match, rowid); !bound) return std::unexpected(std::move(bound.error()));
      auto found = read_hits(*one_hit);
      if (!found) return std::unexpected(std::move(found.error()));
      for (SearchHit& hit : *found) {
        hits.push_back(std::move(hit));
        if (std::cmp_greater_equal(hits.size(), n)) return hits;
      }
    }
    if (rows < depth) return hits;
  }
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
  auto hits = parsed.text.empty() ? query_hits(vault, kRecent, n)
                                  : full_text_hits(vault, build_match_expression(parsed.text), n);
  if (hits && filtered) keep_matching(vault, parsed, *hits);
  return hits;
}

}  // namespace core
