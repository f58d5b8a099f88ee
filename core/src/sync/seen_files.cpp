#include "sync/seen_files.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"

#include <bit>
#include <cstdint>
#include <utility>

namespace core {
namespace {

constexpr std::string_view kCreate =
    "CREATE TABLE IF NOT EXISTS bt_seen_files (\n"
    "  path TEXT NOT NULL PRIMARY KEY,\n"
    "  note_id TEXT,\n"
    "  size INTEGER NOT NULL,\n"
    "  modified_ns INTEGER NOT NULL,\n"
    "  changed_ns INTEGER NOT NULL,\n"
    "  device INTEGER NOT NULL,\n"
    "  inode INTEGER NOT NULL\n"
    ") WITHOUT ROWID;\n"
    "CREATE INDEX IF NOT EXISTS bt_seen_files_note_id ON bt_seen_files (note_id);\n"
    "CREATE TABLE IF NOT EXISTS bt_follow_state (\n"
    "  key TEXT NOT NULL PRIMARY KEY,\n"
    "  value TEXT NOT NULL\n"
    ");";
constexpr std::string_view kHasTables =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('bt_seen_files', 'bt_follow_state')";
constexpr std::string_view kColumns = "SELECT path, note_id, size, modified_ns, changed_ns, device, inode FROM bt_seen_files";
// '0' follows '/' among the bytes: the range holds the paths below the folder.
constexpr std::string_view kBelow =
    "SELECT path, note_id, size, modified_ns, changed_ns, device, inode FROM bt_seen_files "
    "WHERE path = ?1 OR (path >= ?1 || '/' AND path < ?1 || '0')";
constexpr std::string_view kHolding = "SELECT path FROM bt_seen_files WHERE note_id = ?1";
constexpr std::string_view kRecord =
    "INSERT OR REPLACE INTO bt_seen_files (path, note_id, size, modified_ns, changed_ns, device, inode) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
constexpr std::string_view kForget = "DELETE FROM bt_seen_files WHERE path = ?1";
constexpr std::string_view kWriteState = "INSERT OR REPLACE INTO bt_follow_state (key, value) VALUES (?1, ?2)";
constexpr std::string_view kReadState = "SELECT key, value FROM bt_follow_state";

std::int64_t as_int(std::uintmax_t value) { return std::bit_cast<std::int64_t>(static_cast<std::uint64_t>(value)); }
std::uintmax_t as_unsigned(std::int64_t value) { return std::bit_cast<std::uint64_t>(value); }

Result<SeenFiles> take_rows(Statement& stmt) {
  SeenFiles seen;
  for (;;) {
    auto row = stmt.step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return seen;
    auto path = stmt.column_text(0);
    if (!path) return std::unexpected(std::move(path.error()));
    SeenFile file;
    if (!stmt.column_is_null(1)) {
      auto id = stmt.column_text(1);
      if (!id) return std::unexpected(std::move(id.error()));
      file.id = std::move(*id);
    }
    file.stamp.size = as_unsigned(stmt.column_int64(2));
    file.stamp.modified_ns = stmt.column_int64(3);
    file.stamp.changed_ns = stmt.column_int64(4);
    file.stamp.device = as_unsigned(stmt.column_int64(5));
    file.stamp.inode = as_unsigned(stmt.column_int64(6));
    seen.insert_or_assign(std::move(*path), std::move(file));
  }
}

}  // namespace

Result<void> create_seen_tables(Vault& vault) { return exec(vault.db(), kCreate); }

bool has_seen_tables(const Vault& vault) {
  auto stmt = prepare(vault.db(), kHasTables);
  if (!stmt) return false;
  auto row = stmt->step();
  return row && *row && stmt->column_int64(0) == 2;
}

Result<SeenFiles> read_seen(const Vault& vault, std::string_view below) {
  if (below.empty()) {
    // Read once per walk: not worth keeping prepared.
    auto stmt = prepare(vault.db(), kColumns);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    return take_rows(*stmt);
  }
  auto stmt = vault.lend_query(kBelow);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = (*stmt)->bind_text(1, below); !bound) return std::unexpected(std::move(bound.error()));
  return take_rows(**stmt);
}

Result<std::vector<std::string>> seen_paths_holding(const Vault& vault, std::string_view id) {
  auto stmt = vault.lend_query(kHolding);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = (*stmt)->bind_text(1, id); !bound) return std::unexpected(std::move(bound.error()));
  std::vector<std::string> paths;
  for (;;) {
    auto row = (*stmt)->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return paths;
    auto path = (*stmt)->column_text(0);
    if (!path) return std::unexpected(std::move(path.error()));
    paths.push_back(std::move(*path));
  }
}

Result<void> write_seen(Vault& vault, const SeenFiles& record, const std::vector<std::string>& forget) {
  for (const std::string& path : forget) {
    auto stmt = vault.lend(kForget);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    if (auto done = (*stmt)->bind_all(path); !done) return done;
    if (auto done = (*stmt)->run(); !done) return done;
  }
  for (const auto& [path, file] : record) {
    auto stmt = vault.lend(kRecord);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    Statement& s = **stmt;
    for (auto bound : {s.bind_text(1, path), s.bind_optional_text(2, file.id), s.bind_int64(3, as_int(file.stamp.size)),
                       s.bind_int64(4, file.stamp.modified_ns), s.bind_int64(5, file.stamp.changed_ns),
                       s.bind_int64(6, as_int(file.stamp.device)), s.bind_int64(7, as_int(file.stamp.inode))})
      if (!bound) return bound;
    if (auto done = s.run(); !done) return done;
  }
  return {};
}

Result<void> write_follow_state(Vault& vault, std::string_view key, std::string_view value) {
  return run_statement(vault.db(), kWriteState, key, value);
}

Result<std::map<std::string, std::string>> read_follow_state(const Vault& vault) {
  auto stmt = prepare(vault.db(), kReadState);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  std::map<std::string, std::string> state;
  for (;;) {
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return state;
    auto key = stmt->column_text(0);
    auto value = stmt->column_text(1);
    if (key && value) state[std::move(*key)] = std::move(*value);
  }
}

}  // namespace core
