#include "index/statement_cache.hpp"

namespace core {
namespace {

CoreError writes_through_a_reader(std::string_view sql) {
  return CoreError::database("a statement that writes lent for reading: " + std::string(sql));
}

}  // namespace

Result<StatementCache::Map::iterator> StatementCache::find_or_prepare(sqlite3* db, std::string_view sql,
                                                                     bool query_only) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) {
    if (query_only && !found->second.read_only()) return std::unexpected(writes_through_a_reader(sql));
    return found;
  }
  auto stmt = prepare(db, sql);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (query_only && !stmt->read_only()) return std::unexpected(writes_through_a_reader(sql));
  return statements_.emplace(std::string(sql), std::move(*stmt)).first;
}

Result<StatementCache::Lease> StatementCache::lend(sqlite3* db, std::string_view sql) {
  auto found = find_or_prepare(db, sql, false);
  if (!found) return std::unexpected(std::move(found.error()));
  return Lease((*found)->second);
}

Result<StatementCache::Lease> StatementCache::lend_query(sqlite3* db, std::string_view sql) {
  auto found = find_or_prepare(db, sql, true);
  if (!found) return std::unexpected(std::move(found.error()));
  return Lease((*found)->second);
}

}  // namespace core
