#include "query/search.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "query/search_query.hpp"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <unordered_set>
#include <utility>

namespace core {
namespace {

constexpr std::int64_t kMaxHits = 200;

// Snippets are limited: snippet() weighs every instance of the query's
// phrases in a row against every other, so its time grows with the square
// of their number: a body repeating the searched word a million times would
// hold the single-threaded server for hours, past any deadline, since one
// function call on one row cannot be interrupted. Rows matching more than 2,000 instances (some 0.3 s
// of snippet work) answer without a snippet; every other row gets exactly
// the snippet it always had.

// A search of words gives the best-ranked matches that are live notes, best
// first, each with its snippet, at most ?2 of them, in two steps below.

// Ranks first, reading only the full-text index: joining in the statement
// reads every match's stored text (and builds its snippet) before the sort
// keeps a page of them.
constexpr std::string_view kRanked =
    "SELECT rowid FROM notes_fts WHERE notes_fts MATCH ?1 ORDER BY bm25(notes_fts) LIMIT ?2";

// Then reads the ranked rows (?2, a JSON array of rowids): their live notes
// and snippets, so stored text is read only for rows that may make the
// page (snippets limited as above). The unary "+" makes it one pass over
// the matches testing each rowid; used as a constraint, each rowid would
// evaluate the whole match again.
constexpr std::string_view kRankedHits =
    "SELECT nf.id, nf.title, nf.path, nf.updated_at,\n"
    "         CASE WHEN bt_instance_count(notes_fts) <= 2000\n"
    "              THEN snippet(notes_fts, 2, '**', '**', '\u2026', 32) END,\n"
    "         f.rowid\n"
    "         FROM notes_fts f\n"
    "         JOIN note_files nf ON nf.id = f.note_id\n"
    "         WHERE notes_fts MATCH ?1 AND +f.rowid IN (SELECT value FROM json_each(?2)) AND nf.deleted_at IS NULL";

// The newest live notes. The unary "+" keeps the planner from reading every
// live row through the deleted_at index and sorting them; it walks the
// updated_at index instead and stops after ?1 rows. Same rows, same order.
constexpr std::string_view kRecent =
    "SELECT id, title, path, updated_at FROM note_files\n"
    "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC LIMIT ?1";

// Every row of a prepared and bound statement whose first four columns are
// id, title, path and updated_at, whose fifth, if any, is the snippet and
// whose sixth, if any, the full-text rowid.
struct RankedHit : SearchHit {
  std::int64_t rowid = 0;
};

Result<std::vector<RankedHit>> read_hits(Statement& stmt) {
  std::vector<RankedHit> hits;
  for (;;) {
    auto row = stmt.step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return hits;
    RankedHit hit;
    for (auto [column, field] : {std::pair{0, &hit.id}, {1, &hit.title}, {2, &hit.path}, {3, &hit.updated_at}}) {
      auto text = stmt.column_text(column);
      if (!text) return std::unexpected(std::move(text.error()));
      *field = std::move(*text);
    }
    if (stmt.column_count() > 5) hit.rowid = stmt.column_int64(5);
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
  auto rows = read_hits(*stmt);
  if (!rows) return std::unexpected(std::move(rows.error()));
  return std::vector<SearchHit>(std::make_move_iterator(rows->begin()), std::make_move_iterator(rows->end()));
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
  if (auto added = add_instance_count_function(vault.db()); !added) return std::unexpected(std::move(added.error()));
  auto page = prepare(vault.db(), kRankedHits);
  if (!page) return std::unexpected(std::move(page.error()));
  std::vector<SearchHit> hits;
  std::unordered_set<std::int64_t> seen;
  for (std::int64_t depth = n;; depth = depth > INT64_MAX / 2 ? INT64_MAX : depth * 2) {
    ranked->reset();
    if (auto bound = ranked->bind_all(match, depth); !bound) return std::unexpected(std::move(bound.error()));
    std::int64_t rows = 0;
    std::vector<std::int64_t> fresh;  // ranked rows not read before, best first
    for (;;) {
      auto row = ranked->step();
      if (!row) return std::unexpected(std::move(row.error()));
      if (!*row) break;
      ++rows;
      if (const std::int64_t rowid = ranked->column_int64(0); seen.insert(rowid).second) fresh.push_back(rowid);
    }
    std::string rowids = "[";
    for (std::int64_t rowid : fresh) rowids += (rowids.size() > 1 ? "," : "") + std::to_string(rowid);
    rowids += "]";
    page->reset();
    if (auto bound = page->bind_all(match, rowids); !bound) return std::unexpected(std::move(bound.error()));
    auto found = read_hits(*page);  // in the full-text table's order; column 5 was the rowid
    if (!found) return std::unexpected(std::move(found.error()));
    for (std::int64_t rowid : fresh) {
      for (size_t i = 0; i < found->size(); ++i) {
        if ((*found)[i].rowid != rowid) continue;
        hits.push_back(std::move((*found)[i]));
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
