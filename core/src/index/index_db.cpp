#include "index/index_db.hpp"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>
#include <utility>

namespace core {
namespace {

constexpr std::string_view kPragmas = "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;";

// Every statement is "IF NOT EXISTS", so the batch runs on each open and
// changes nothing in an index that already has its tables.
constexpr std::string_view kSchema =
    "-- Brask Tolvane hybrid vault index (regeneratable from notes/*.md)\n"
    "\n"
    "CREATE TABLE IF NOT EXISTS note_files (\n"
    "  id TEXT NOT NULL PRIMARY KEY,\n"
    "  path TEXT NOT NULL UNIQUE,\n"
    "  title TEXT NOT NULL,\n"
    "  tags_json TEXT NOT NULL DEFAULT '[]',\n"
    "  metas_json TEXT NOT NULL DEFAULT '{}',\n"
    "  workspace_id TEXT,\n"
    "  updated_at TEXT NOT NULL,\n"
    "  deleted_at TEXT\n"
    ");\n"
    "\n"
    "CREATE INDEX IF NOT EXISTS idx_note_files_deleted ON note_files (deleted_at);\n"
    "CREATE INDEX IF NOT EXISTS idx_note_files_updated ON note_files (updated_at DESC);\n"
    "\n"
    "-- FTS maintained by indexer (not external-content triggers)\n"
    "CREATE VIRTUAL TABLE IF NOT EXISTS notes_fts USING fts5(\n"
    "  note_id UNINDEXED,\n"
    "  title,\n"
    "  body,\n"
    "  tokenize='unicode61'\n"
    ");\n"
    "\n"
    "CREATE TABLE IF NOT EXISTS links (\n"
    "  id TEXT NOT NULL PRIMARY KEY,\n"
    "  source_id TEXT NOT NULL REFERENCES note_files (id) ON DELETE CASCADE,\n"
    "  target_id TEXT,\n"
    "  target_title TEXT,\n"
    "  link_type TEXT NOT NULL,\n"
    "  unresolved INTEGER NOT NULL DEFAULT 0\n"
    ");\n"
    "\n"
    "CREATE INDEX IF NOT EXISTS idx_links_source ON links (source_id);\n"
    "CREATE INDEX IF NOT EXISTS idx_links_target ON links (target_id);\n"
    "\n"
    "CREATE TABLE IF NOT EXISTS app_state (\n"
    "  key TEXT NOT NULL PRIMARY KEY,\n"
    "  value TEXT NOT NULL\n"
    ");";

// Indexes of this system's own, beside the shared schema. Each is a plain
// "IF NOT EXISTS" index on existing columns, using only SQLite's built-in
// functions, so other programs sharing the file keep them up to date without
// knowing of them. They let the title lookup, the backlinks query and the
// replacement of a note's full-text row find their rows instead of scanning
// the vault. The statements that use them keep their texts, apart from the
// full-text delete, which names the full-text table's content table.
constexpr std::string_view kTitleKeyIndex =
    "CREATE INDEX IF NOT EXISTS bt_note_files_title_key ON note_files (lower(trim(title))) "
    "WHERE deleted_at IS NULL";
constexpr std::string_view kLinkTitleKeyIndex =
    "CREATE INDEX IF NOT EXISTS bt_links_title_key ON links (lower(trim(target_title))) "
    "WHERE target_id IS NULL AND target_title IS NOT NULL";
constexpr std::string_view kFtsNoteIdIndex =
    "CREATE INDEX IF NOT EXISTS bt_notes_fts_note_id ON notes_fts_content (c0)";
// Every link by the title it names, resolved or not: a rename finds the
// notes to rewrite through it instead of reading every link row.
constexpr std::string_view kLinkAnyTitleIndex =
    "CREATE INDEX IF NOT EXISTS bt_links_any_title_key ON links (lower(trim(COALESCE(target_title, ''))))";
// The notes whose stored path is not spelled `notes/<folders>/<file>` plainly
// (see stored_path.hpp); a folder listing reads the folder's
// range of plain paths and tests only these others in full.
constexpr std::string_view kOddPathIndex =
    "CREATE INDEX IF NOT EXISTS bt_note_files_odd_path ON note_files (path) WHERE ";

constexpr std::string_view kLookupIndexNames =
    "SELECT name FROM sqlite_master WHERE type = 'index' AND name IN "
    "('bt_note_files_title_key', 'bt_links_title_key', 'bt_notes_fts_note_id', 'bt_links_any_title_key', "
    "'bt_note_files_odd_path')";

// The names of the lookup indexes that exist: one read of the schema,
// cheaper on every open than preparing the CREATE statements.
std::vector<std::string> existing_lookup_indexes(sqlite3* db) {
  std::vector<std::string> names;
  auto stmt = prepare(db, kLookupIndexNames);
  if (!stmt) return names;
  for (auto row = stmt->step(); row && *row; row = stmt->step())
    if (auto name = stmt->column_text(0)) names.push_back(std::move(*name));
  return names;
}

bool holds(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Adds the lookup indexes where missing. A failure only costs speed, so it
// is not an error of the open; the vault then notes the index as missing.
void add_lookup_indexes(sqlite3* db) {
  const std::vector<std::string> existing = existing_lookup_indexes(db);
  auto ensure = [&](std::string_view name, const std::string& create) {
    if (!holds(existing, name)) (void)exec(db, create);
  };
  ensure("bt_note_files_title_key", std::string(kTitleKeyIndex));
  ensure("bt_links_title_key", std::string(kLinkTitleKeyIndex));
  ensure("bt_notes_fts_note_id", std::string(kFtsNoteIdIndex));
  ensure("bt_links_any_title_key", std::string(kLinkAnyTitleIndex));
  ensure("bt_note_files_odd_path", std::string(kOddPathIndex) + std::string(kOddStoredPath));
}

// Only existence counts: the marker may be a directory or anything else.
bool has_marker(const std::filesystem::path& root) {
  std::error_code ec;
  const auto status = std::filesystem::status(root / ".brask-tolvane", ec);
  return !ec && status.type() != std::filesystem::file_type::not_found &&
         status.type() != std::filesystem::file_type::none;
}

}  // namespace

Vault::Vault(std::filesystem::path root_in, DbHandle connection_in)
    : root(std::move(root_in)), connection(std::move(connection_in)) {
  const std::vector<std::string> existing = existing_lookup_indexes(db());
  fts_note_id_indexed = holds(existing, "bt_notes_fts_note_id");
  link_titles_indexed = holds(existing, "bt_links_any_title_key");
  odd_paths_indexed = holds(existing, "bt_note_files_odd_path");
}

Result<StatementCache::Lease> Vault::lend_query(std::string_view sql) const {
  return statements_.lend_query(db(), sql);
}

Result<Vault> open_vault(const std::filesystem::path& root) {
  if (!has_marker(root)) return std::unexpected(CoreError::message("not a vault: " + root.string()));
  auto db = open_database(root / ".brask-tolvane" / "index.db");
  if (!db) return std::unexpected(std::move(db.error()));
  // On failure below the connection closes with `db`.
  // The journal mode is kept in the file; foreign keys are per connection,
  // hence set on every open.
  if (auto pragmas = exec(db->get(), kPragmas); !pragmas) return std::unexpected(std::move(pragmas.error()));
  if (auto schema = exec(db->get(), kSchema); !schema) return std::unexpected(std::move(schema.error()));
  add_lookup_indexes(db->get());
  return Vault(root, std::move(*db));
}

}  // namespace core
