#pragma once
// The floor: the index statements of each tool call, run directly on the
// vault's index.db with nothing around them. Statement texts, bindings and
// the way the database is opened are those of the server, so that server
// time divided by floor time shows what the server adds.

#include "outcome.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace bench {

struct CloseDb {
  void operator()(sqlite3* db) const;
};
using DbHandle = std::unique_ptr<sqlite3, CloseDb>;

// Opens `file` as the server opens the index for every tool call:
// read-write, created when missing, URI names, no SQLite mutex, a 5000 ms
// busy wait, extended result codes, then the pragma batch and the schema
// batch. Fails with SQLite's message.
[[nodiscard]] Outcome<DbHandle> open_index(const std::filesystem::path& file);

using SqlParam = std::variant<std::nullptr_t, int64_t, std::string>;
// Every column of every row, read as text (NULL reads as empty), copied out
// as the server copies them.
using Rows = std::vector<std::vector<std::string>>;

// Prepares `sql`, binds `params` as ?1, ?2, ..., steps through all rows and
// finalises. Fails with SQLite's message.
[[nodiscard]] Outcome<Rows> query(sqlite3* db, std::string_view sql, const std::vector<SqlParam>& params = {});

// The server's lookups and read statements, one function each.
[[nodiscard]] Outcome<Rows> path_by_id(sqlite3* db, std::string_view id);
[[nodiscard]] Outcome<Rows> title_by_id(sqlite3* db, std::string_view id);
// The id of the one live note holding `title`; nullopt when none or several do.
[[nodiscard]] Outcome<std::optional<std::string>> id_by_title(sqlite3* db, std::string_view title);
[[nodiscard]] Outcome<Rows> recent_notes(sqlite3* db, int64_t limit);
// `match` is an FTS5 expression such as the one match_expression makes.
[[nodiscard]] Outcome<Rows> full_text(sqlite3* db, std::string_view match, int64_t limit);
// The rowids of the best `limit` matches, nothing else read: the floor of
// any ranked search.
[[nodiscard]] Outcome<Rows> rank_only(sqlite3* db, std::string_view match, int64_t limit);
[[nodiscard]] Outcome<Rows> listing(sqlite3* db);
// The live rows stored as "notes/<folder>/<file>", newest first.
[[nodiscard]] Outcome<Rows> folder_rows(sqlite3* db, std::string_view folder);
[[nodiscard]] Outcome<Rows> backlinks(sqlite3* db, std::string_view id);
[[nodiscard]] Outcome<Rows> linking_sources(sqlite3* db, std::string_view id, std::string_view old_title);

// The FTS5 expression the server builds for free words: each word quoted
// (inner quotes doubled) as a prefix term, the terms joined with AND.
std::string match_expression(std::string_view free_text);

// One link of a note body as the indexer stores it.
struct IndexedLink {
  std::optional<std::string> target_id;     // set on address links, and on resolved title links
  std::optional<std::string> target_title;  // set on title links
};

// What the indexer writes for one note.
// The `updated_at` every row written by the floor or a direct fill carries.
inline constexpr std::string_view kFilledUpdatedAt = "2024-06-01T12:00:00.000+00:00";

struct IndexedNote {
  std::string id;
  std::string path;        // relative to the vault root, "/" separators
  std::string title;
  std::string tags_json;   // compact JSON array
  std::string metas_json;  // compact JSON object, keys ascending
  std::string body;
  std::vector<IndexedLink> links;  // title links first, then address links
};

// Fresh identifiers for link rows: `lead` and 23 base-36 digits counting
// up, so sources with different leads never collide with each other.
class LinkIds {
 public:
  explicit LinkIds(char lead) : lead_(lead) {}
  std::string next();

 private:
  char lead_;
  uint64_t count_ = 0;
};

// The indexer's statements for one note, in its order and in one
// transaction (BEGIN IMMEDIATE ... COMMIT): the note_files upsert, the
// full-text delete and insert, the links delete, a title lookup per title
// link (which then replaces target_id or leaves the link unresolved), and
// one insert per link not pointing at the note itself.
[[nodiscard]] Outcome<void> index_note(sqlite3* db, const IndexedNote& note, LinkIds& ids);

// Writes `note` into an index that has no rows for it yet, with its links
// resolved as given: the inserts of index_note without the deletes and
// lookups. For filling an index quickly.
[[nodiscard]] Outcome<void> insert_note(sqlite3* db, const IndexedNote& note, LinkIds& ids);

// The number of live-or-deleted full-text rows matching `word` as a prefix.
[[nodiscard]] Outcome<int64_t> document_count(sqlite3* db, std::string_view word);

}  // namespace bench
