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
  return vault;
}

}  // namespace core
