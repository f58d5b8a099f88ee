#pragma once
// Prepared statements kept for the life of a connection, so that a statement
// run once per note (or per link) is compiled once per run rather than once
// per use.

#include "index/sqlite.hpp"
#include "base/error.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace core {

class StatementCache {
 public:
  // A statement borrowed from the cache. When the lease ends the statement
  // is reset and its parameters unbound, so a borrowed query never keeps a
  // read transaction open and the next borrower starts afresh. A statement
  // is lent to one borrower at a time: `lend` must not be asked for the
  // same text while a lease on it lives.
  class Lease {
   public:
    explicit Lease(Statement& stmt) : stmt_(&stmt) {}
    Lease(Lease&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (stmt_) stmt_->reset();
    }

    Statement& operator*() const { return *stmt_; }
    Statement* operator->() const { return stmt_; }

   private:
    Statement* stmt_;
  };

  // The statement for `sql` on `db`, prepared on first use. Every call on
  // one cache must name the same connection. Fails with Database as
  // `prepare` does; a failed text is not kept.
  [[nodiscard]] Result<Lease> lend(sqlite3* db, std::string_view sql);
  // `lend` for a statement that must only read (Statement::read_only); one
  // that would write fails with Database and is not kept prepared.
  [[nodiscard]] Result<Lease> lend_query(sqlite3* db, std::string_view sql);

 private:
  // Looked up by the text itself, without copying it into a key first.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using Map = std::unordered_map<std::string, Statement, TextHash, std::equal_to<>>;
  // The kept statement for `sql`, prepared and kept first when missing;
  // with `query_only` a statement that would write is refused.
  [[nodiscard]] Result<Map::iterator> find_or_prepare(sqlite3* db, std::string_view sql, bool query_only);
  Map statements_;
};

// Borrows `sql` from `cache`, binds `values` as `Statement::bind_all` does
// and steps it to the end, ignoring rows: `run_statement` without preparing
// the statement again.
template <class... Values>
[[nodiscard]] Result<void> run_cached(StatementCache& cache, sqlite3* db, std::string_view sql,
                                      const Values&... values) {
  auto stmt = cache.lend(db, sql);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = (*stmt)->bind_all(values...); !bound) return bound;
  return (*stmt)->run();
}

}  // namespace core
