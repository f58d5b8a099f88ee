#include "sql_floor.hpp"

#include <sqlite3.h>

#include <charconv>

// The benchmark does not link the core (it times the server from outside),
// and the floor must stay a fixed yardstick while the server's statements
// change, so the statements below are its own copies of the first ones.
namespace bench {
namespace {

struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StmtHandle = std::unique_ptr<sqlite3_stmt, Finalize>;

constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kPragmaBatch = "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;";

// The server's schema batch, character for character: it runs on every
// open, so its parsing is part of what each call pays.
constexpr const char* kSchemaBatch = R"sql(-- Brask Tolvane hybrid vault index (regeneratable from notes/*.md)

CREATE TABLE IF NOT EXISTS note_files (
  id TEXT NOT NULL PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  title TEXT NOT NULL,
  tags_json TEXT NOT NULL DEFAULT '[]',
  metas_json TEXT NOT NULL DEFAULT '{}',
  workspace_id TEXT,
  updated_at TEXT NOT NULL,
  deleted_at TEXT
);

CREATE INDEX IF NOT EXISTS idx_note_files_deleted ON note_files (deleted_at);
CREATE INDEX IF NOT EXISTS idx_note_files_updated ON note_files (updated_at DESC);

-- FTS maintained by indexer (not external-content triggers)
CREATE VIRTUAL TABLE IF NOT EXISTS notes_fts USING fts5(
  note_id UNINDEXED,
  title,
  body,
  tokenize='unicode61'
);

CREATE TABLE IF NOT EXISTS links (
  id TEXT NOT NULL PRIMARY KEY,
  source_id TEXT NOT NULL REFERENCES note_files (id) ON DELETE CASCADE,
  target_id TEXT,
  target_title TEXT,
  link_type TEXT NOT NULL,
  unresolved INTEGER NOT NULL DEFAULT 0
);

CREATE INDEX IF NOT EXISTS idx_links_source ON links (source_id);
CREATE INDEX IF NOT EXISTS idx_links_target ON links (target_id);

CREATE TABLE IF NOT EXISTS app_state (
  key TEXT NOT NULL PRIMARY KEY,
  value TEXT NOT NULL
);)sql";

constexpr const char* kUpsertNoteFile = R"sql(INSERT INTO note_files (id, path, title, tags_json, metas_json, workspace_id, updated_at, deleted_at)
         VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, NULL)
         ON CONFLICT(id) DO UPDATE SET
           path=excluded.path, title=excluded.title, tags_json=excluded.tags_json,
           metas_json=excluded.metas_json, workspace_id=excluded.workspace_id,
           updated_at=excluded.updated_at, deleted_at=NULL)sql";

constexpr const char* kInsertLink = R"sql(INSERT INTO links (id, source_id, target_id, target_title, link_type, unresolved)
             VALUES (?1, ?2, ?3, ?4, ?5, ?6))sql";

constexpr const char* kFullText = R"sql(SELECT nf.id, nf.title, nf.path, nf.updated_at, snippet(notes_fts, 2, '**', '**', '…', 32)
         FROM notes_fts f
         JOIN note_files nf ON nf.id = f.note_id
         WHERE notes_fts MATCH ?1 AND nf.deleted_at IS NULL
         ORDER BY bm25(notes_fts)
         LIMIT ?2)sql";

// The least any ranked search must do: rank the matches, read nothing else.
constexpr const char* kRankOnly =
    "SELECT rowid FROM notes_fts WHERE notes_fts MATCH ?1 ORDER BY bm25(notes_fts) LIMIT ?2";

// One folder's rows, newest first, read through the path index: the range of
// paths under "notes/<folder>/", without those of its subfolders.
constexpr const char* kFolderRows = R"sql(SELECT id, title, updated_at, tags_json, path FROM note_files
         WHERE path >= ?1 AND path < ?2 AND instr(substr(path, ?3), '/') = 0 AND +deleted_at IS NULL
         ORDER BY updated_at DESC)sql";

constexpr const char* kRecentNotes = R"sql(SELECT id, title, path, updated_at FROM note_files
         WHERE deleted_at IS NULL ORDER BY updated_at DESC LIMIT ?1)sql";

constexpr const char* kListing = R"sql(SELECT id, title, updated_at, tags_json, path FROM note_files
         WHERE deleted_at IS NULL ORDER BY updated_at DESC)sql";

constexpr const char* kBacklinks = R"sql(SELECT DISTINCT nf.id, nf.title FROM links l
         JOIN note_files nf ON nf.id = l.source_id
         WHERE nf.deleted_at IS NULL
           AND l.source_id != ?1
           AND (
             l.target_id = ?1
             OR (
               l.target_id IS NULL
               AND l.target_title IS NOT NULL
               AND lower(trim(l.target_title)) = lower(trim(
                 (SELECT title FROM note_files WHERE id = ?1 LIMIT 1)
               ))
             )
           )
         ORDER BY nf.title COLLATE NOCASE)sql";

constexpr const char* kLinkingSources = R"sql(SELECT DISTINCT source_id FROM links
         WHERE source_id != ?1
           AND (
             target_id = ?1
             OR (
               lower(trim(COALESCE(target_title, ''))) = lower(trim(?2))
             )
           )
         ORDER BY source_id)sql";

// A fixed timestamp: the floor measures the statements, not the clock.

std::string db_message(sqlite3* db, int rc) {
  const char* text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return std::string("database error: ") + (text != nullptr ? text : sqlite3_errstr(rc));
}

Outcome<void> execute_batch(sqlite3* db, const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return {};
  std::string text = std::string("database error: ") + (message != nullptr ? message : sqlite3_errstr(rc));
  sqlite3_free(message);
  return failure(std::move(text));
}

int bind(sqlite3_stmt* statement, int index, const SqlParam& param) {
  if (const auto* text = std::get_if<std::string>(&param))
    return sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  if (const auto* number = std::get_if<int64_t>(&param)) return sqlite3_bind_int64(statement, index, *number);
  return sqlite3_bind_null(statement, index);
}

std::vector<std::string> row_of(sqlite3_stmt* statement) {
  std::vector<std::string> row;
  const int columns = sqlite3_column_count(statement);
  for (int c = 0; c < columns; ++c) {
    const auto* text = sqlite3_column_text(statement, c);
    const int bytes = sqlite3_column_bytes(statement, c);
    row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "", static_cast<size_t>(bytes));
  }
  return row;
}

SqlParam text(std::string_view value) { return std::string(value); }
SqlParam optional_text(const std::optional<std::string>& value) {
  return value ? SqlParam(*value) : SqlParam(nullptr);
}

Outcome<void> insert_links(sqlite3* db, const IndexedNote& note, const std::vector<IndexedLink>& links, LinkIds& ids) {
  for (const IndexedLink& link : links) {
    if (link.target_id && *link.target_id == note.id) continue;  // a note never links to itself in the index
    const bool unresolved = link.target_title.has_value() && !link.target_id.has_value();
    auto done = query(db, kInsertLink,
                      {ids.next(), note.id, optional_text(link.target_id), optional_text(link.target_title),
                       std::string("markdown"), int64_t{unresolved ? 1 : 0}});
    if (!done) return failure(done.error());
  }
  return {};
}

Outcome<void> upsert_row(sqlite3* db, const IndexedNote& note) {
  auto done = query(db, kUpsertNoteFile,
                    {note.id, note.path, note.title, note.tags_json, note.metas_json, nullptr, std::string(kFilledUpdatedAt)});
  if (!done) return failure(done.error());
  return {};
}

Outcome<void> index_statements(sqlite3* db, const IndexedNote& note, LinkIds& ids) {
  if (auto done = upsert_row(db, note); !done) return done;
  if (auto done = query(db, "DELETE FROM notes_fts WHERE note_id = ?1", {note.id}); !done) return failure(done.error());
  auto inserted = query(db, "INSERT INTO notes_fts (note_id, title, body) VALUES (?1, ?2, ?3)", {note.id, note.title, note.body});
  if (!inserted) return failure(inserted.error());
  if (auto done = query(db, "DELETE FROM links WHERE source_id = ?1", {note.id}); !done) return failure(done.error());
  std::vector<IndexedLink> links = note.links;
  for (IndexedLink& link : links) {
    if (!link.target_title) continue;
    auto found = id_by_title(db, *link.target_title);
    if (!found) return failure(found.error());
    if (*found) link.target_id = **found;
  }
  return insert_links(db, note, links, ids);
}

}  // namespace

void CloseDb::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

Outcome<DbHandle> open_index(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  DbHandle db(raw);  // owned first: a failed open still needs closing
  if (rc != SQLITE_OK) return failure(db_message(raw, rc));
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  sqlite3_extended_result_codes(raw, 1);
  if (auto done = execute_batch(raw, kPragmaBatch); !done) return failure(done.error());
  if (auto done = execute_batch(raw, kSchemaBatch); !done) return failure(done.error());
  return db;
}

Outcome<Rows> query(sqlite3* db, std::string_view sql, const std::vector<SqlParam>& params) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  StmtHandle statement(raw);
  if (rc != SQLITE_OK) return failure(db_message(db, rc));
  for (size_t i = 0; i < params.size(); ++i)
    if ((rc = bind(raw, static_cast<int>(i + 1), params[i])) != SQLITE_OK) return failure(db_message(db, rc));
  Rows rows;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) rows.push_back(row_of(raw));
  if (rc != SQLITE_DONE) return failure(db_message(db, rc));
  return rows;
}

Outcome<Rows> path_by_id(sqlite3* db, std::string_view id) {
  return query(db, "SELECT path FROM note_files WHERE id = ?1 AND deleted_at IS NULL LIMIT 1", {text(id)});
}

Outcome<Rows> title_by_id(sqlite3* db, std::string_view id) {
  return query(db, "SELECT title FROM note_files WHERE id = ?1 AND deleted_at IS NULL LIMIT 1", {text(id)});
}

Outcome<std::optional<std::string>> id_by_title(sqlite3* db, std::string_view title) {
  auto rows = query(db, "SELECT id FROM note_files WHERE deleted_at IS NULL AND lower(trim(title)) = lower(trim(?1)) LIMIT 2",
                    {text(title)});
  if (!rows) return failure(rows.error());
  if (rows->size() != 1) return std::optional<std::string>();
  return std::optional<std::string>(rows->front().front());
}

Outcome<Rows> recent_notes(sqlite3* db, int64_t limit) { return query(db, kRecentNotes, {limit}); }

Outcome<Rows> full_text(sqlite3* db, std::string_view match, int64_t limit) {
  return query(db, kFullText, {text(match), limit});
}

Outcome<Rows> rank_only(sqlite3* db, std::string_view match, int64_t limit) {
  return query(db, kRankOnly, {text(match), limit});
}

Outcome<Rows> listing(sqlite3* db) { return query(db, kListing); }

Outcome<Rows> folder_rows(sqlite3* db, std::string_view folder) {
  const std::string prefix = "notes/" + std::string(folder) + "/";
  const std::string high = "notes/" + std::string(folder) + "0";
  return query(db, kFolderRows, {text(prefix), text(high), static_cast<int64_t>(prefix.size() + 1)});
}

Outcome<Rows> backlinks(sqlite3* db, std::string_view id) { return query(db, kBacklinks, {text(id)}); }

Outcome<Rows> linking_sources(sqlite3* db, std::string_view id, std::string_view old_title) {
  return query(db, kLinkingSources, {text(id), text(old_title)});
}

std::string match_expression(std::string_view free_text) {
  std::string expression;
  size_t at = 0;
  while (at < free_text.size()) {
    const size_t start = free_text.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(free_text.find(' ', start), free_text.size());
    if (!expression.empty()) expression += " AND ";
    expression += '"';
    for (char c : free_text.substr(start, end - start)) expression += (c == '"') ? std::string("\"\"") : std::string(1, c);
    expression += "\"*";
    at = end;
  }
  return expression;
}

std::string LinkIds::next() {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string id(24, '0');
  id[0] = lead_;
  uint64_t n = count_++;
  for (size_t i = 23; i > 0 && n > 0; --i, n /= 36) id[i] = kDigits[n % 36];
  return id;
}

Outcome<void> index_note(sqlite3* db, const IndexedNote& note, LinkIds& ids) {
  // The server writes a note's rows in one transaction; the floor pays the
  // same single commit.
  if (auto begun = query(db, "BEGIN IMMEDIATE"); !begun) return failure(begun.error());
  auto written = index_statements(db, note, ids);
  if (!written) {
    (void)query(db, "ROLLBACK");  // the statement's own failure is the one to report
    return written;
  }
  if (auto committed = query(db, "COMMIT"); !committed) return failure(committed.error());
  return {};
}

Outcome<void> insert_note(sqlite3* db, const IndexedNote& note, LinkIds& ids) {
  if (auto done = upsert_row(db, note); !done) return done;
  auto inserted = query(db, "INSERT INTO notes_fts (note_id, title, body) VALUES (?1, ?2, ?3)", {note.id, note.title, note.body});
  if (!inserted) return failure(inserted.error());
  return insert_links(db, note, note.links, ids);
}

Outcome<int64_t> document_count(sqlite3* db, std::string_view word) {
  auto rows = query(db, "SELECT count(*) FROM notes_fts WHERE notes_fts MATCH ?1", {match_expression(word)});
  if (!rows) return failure(rows.error());
  const std::string& count = rows->front().front();
  int64_t value = 0;
  std::from_chars(count.data(), count.data() + count.size(), value);
  return value;
}

}  // namespace bench
