#include "index/statement_cache.hpp"

namespace core {

Result<StatementCache::Lease> StatementCache::lend(sqlite3* db, std::string_view sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    auto stmt = prepare(db, sql);
    if (!stmt) return std::unexpected(std::move(stmt.error()));
    found = statements_.emplace(std::string(sql), std::move(*stmt)).first;
  }
  return Lease(found->second);
}

}  // namespace core
