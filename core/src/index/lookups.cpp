#include "index/lookups.hpp"

#include "index/sqlite.hpp"

#include <utility>

namespace core {
namespace {

constexpr std::string_view kPathById =
    "SELECT path FROM note_files WHERE id = ?1 AND deleted_at IS NULL LIMIT 1";
constexpr std::string_view kTitleById =
    "SELECT title FROM note_files WHERE id = ?1 AND deleted_at IS NULL LIMIT 1";
constexpr std::string_view kIdByTitle =
    "SELECT id FROM note_files WHERE deleted_at IS NULL AND lower(trim(title)) = lower(trim(?1)) LIMIT 2";

// Borrows `sql` from the vault's statements and binds `value` to ?1.
Result<StatementCache::Lease> query_with(const Vault& vault, std::string_view sql, std::string_view value) {
  auto stmt = vault.lend_query(sql);
  if (!stmt) return stmt;
  if (auto bound = (*stmt)->bind_text(1, value); !bound) return std::unexpected(std::move(bound.error()));
  return stmt;
}

// Column 0 of the next row, or nullopt when there is none.
Result<std::optional<std::string>> next_text(Statement& stmt) {
  auto row = stmt.step();
  if (!row) return std::unexpected(std::move(row.error()));
  if (!*row) return std::nullopt;
  auto text = stmt.column_text(0);
  if (!text) return std::unexpected(std::move(text.error()));
  return std::move(*text);
}

Result<std::optional<std::string>> first_text(const Vault& vault, std::string_view sql, std::string_view value) {
  auto stmt = query_with(vault, sql, value);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  return next_text(**stmt);
}

}  // namespace

Result<std::optional<std::string>> path_by_id(const Vault& vault, std::string_view id) {
  return first_text(vault, kPathById, id);
}

Result<std::optional<std::string>> title_by_id(const Vault& vault, std::string_view id) {
  return first_text(vault, kTitleById, id);
}

Result<std::optional<std::string>> id_by_title(const Vault& vault, std::string_view title) {
  auto stmt = query_with(vault, kIdByTitle, title);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  auto first = next_text(**stmt);
  if (!first || !*first) return first;
  auto second = (*stmt)->step();
  if (!second) return std::unexpected(std::move(second.error()));
  if (*second) return std::nullopt;  // two live notes share the title: ambiguous
  return first;
}

}  // namespace core
