#include "index/index_db.hpp"

#include <system_error>
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

constexpr std::string_view kLookupIndexCount =
    "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
    "('bt_note_files_title_key', 'bt_links_title_key', 'bt_notes_fts_note_id')";

// Whether all three lookup indexes exist: one read of the schema, cheaper on
// every open than preparing the three CREATE statements.
bool has_lookup_indexes(sqlite3* db) {
  auto stmt = prepare(db, kLookupIndexCount);
  if (!stmt) return false;
  auto row = stmt->step();
  return row && *row && stmt->column_int64(0) == 3;
}

// Adds the lookup indexes where missing; tells whether the full-text one is
// there. A failure only costs speed, so it is not an error of the open.
bool add_lookup_indexes(sqlite3* db) {
  if (has_lookup_indexes(db)) return true;
  (void)exec(db, kTitleKeyIndex);
  (void)exec(db, kLinkTitleKeyIndex);
  return exec(db, kFtsNoteIdIndex).has_value();
}

// Only existence counts: the marker may be a directory or anything else.
bool has_marker(const std::filesystem::path& root) {
  std::error_code ec;
  const auto status = std::filesystem::status(root / ".brask-tolvane", ec);
  return !ec && status.type() != std::filesystem::file_type::not_found &&
         status.type() != std::filesystem::file_type::none;
}

}  // namespace

Result<Vault> open_vault(const std::filesystem::path& root) {
  Vault vault{root, nullptr};
  if (!has_marker(vault.root)) return std::unexpected(CoreError::message("not a vault: " + root.string()));
  auto db = open_database(vault.root / ".brask-tolvane" / "index.db");
  if (!db) return std::unexpected(std::move(db.error()));
  vault.connection = std::move(*db);
  // On failure below the connection closes with `vault`.
  // The journal mode is kept in the file; foreign keys are per connection,
  // hence set on every open.
  if (auto pragmas = exec(vault.db(), kPragmas); !pragmas) return std::unexpected(std::move(pragmas.error()));
  if (auto schema = exec(vault.db(), kSchema); !schema) return std::unexpected(std::move(schema.error()));
  vault.fts_note_id_indexed = add_lookup_indexes(vault.db());
  return vault;
}

}  // namespace core
