#pragma once
// A thin owner layer over the SQLite C API. It is the only code that calls
// sqlite3_* functions; every failure comes back as a Database error carrying
// SQLite's own message, read at the call that failed.

#include "base/error.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace core {

struct CloseDb {
  void operator()(sqlite3* db) const;
};
struct Finalize {
  void operator()(sqlite3_stmt* stmt) const;
};
using DbHandle = std::unique_ptr<sqlite3, CloseDb>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, Finalize>;

// Opens (creating when missing) the database `file` read-write, with URI
// file names allowed, no mutex on the connection (one thread uses it),
// extended result codes and a 5000 ms wait on locks held by others.
// Fails with Database; a half-opened connection is closed.
[[nodiscard]] Result<DbHandle> open_database(const std::filesystem::path& file);

// Whether `db`'s main database was opened read-only (a file or folder this
// process may not write): every write to it would fail.
bool is_read_only(sqlite3* db);

// Whether `db` holds nothing between two uses: no transaction open and no
// statement stepped but not reset, so it keeps no lock and no read snapshot
// that would hide what others commit.
bool is_idle(sqlite3* db);

// For a connection about to close: copies into the database file what the
// write-ahead log holds and empties the log file, without waiting for
// anyone (the busy wait is given up first). What readers of other
// connections still need stays in the log, and the log is then left as it
// is. This works also when the connection's file has been deleted, moved
// or replaced meanwhile, where SQLite's own checkpoint at close does
// nothing: the log at the old name must not stay full, or the file now
// there would be read through it. Failures only leave the log longer, so
// none is reported.
void checkpoint_before_close(sqlite3* db);

// Runs `sql`, which may hold several statements separated by ";", and drops
// any rows they give. Stops at the first failing statement with Database.
[[nodiscard]] Result<void> exec(sqlite3* db, std::string_view sql);

// One prepared statement on a connection that must outlive it.
// Parameter and column indexes follow SQLite: parameters count from 1 (?1),
// columns from 0.
class Statement {
 public:
  Statement(sqlite3* db, StmtHandle stmt) : db_(db), stmt_(std::move(stmt)) {}

  // Text is copied by SQLite, so `text` need not outlive the call.
  [[nodiscard]] Result<void> bind_text(int index, std::string_view text);
  [[nodiscard]] Result<void> bind_int64(int index, std::int64_t value);
  [[nodiscard]] Result<void> bind_null(int index);
  // Binds the text, or NULL when `text` holds none.
  [[nodiscard]] Result<void> bind_optional_text(int index, const std::optional<std::string>& text);
  // Binds `values` to ?1, ?2, ... in order, stopping at the first failure.
  // Each value is text (anything that converts to std::string_view), an
  // std::optional<std::string> (none binds NULL), std::nullopt (NULL) or an
  // integer.
  template <class... Values>
  [[nodiscard]] Result<void> bind_all(const Values&... values) {
    Result<void> result;
    int index = 1;
    (void)(((result = bind_value(index++, values)).has_value()) && ...);
    return result;
  }

  // Advances: true when a row is ready to read, false when the statement
  // has finished. A failure leaves the statement to be reset or dropped.
  [[nodiscard]] Result<bool> step();
  // Steps until the statement has finished, ignoring any rows
  // (for INSERT, UPDATE, DELETE).
  [[nodiscard]] Result<void> run();
  // Back to the start with all parameters unbound, ready to bind again.
  void reset();

  // Column readers for the current row. Text is copied out, because
  // SQLite's pointer dies at the next step. `column_text` fails with
  // Database when the value is not text (NULL included): test
  // `column_is_null` first for nullable columns.
  [[nodiscard]] Result<std::string> column_text(int column) const;
  std::int64_t column_int64(int column) const;
  bool column_is_null(int column) const;
  int column_count() const;
  // Whether the statement only reads: it makes no change to the database
  // itself (SQLite's own judgement of the compiled statement).
  bool read_only() const;

 private:
  [[nodiscard]] Result<void> check_bind(int rc) const;

  template <class V>
  [[nodiscard]] Result<void> bind_value(int index, const V& value) {
    if constexpr (std::is_same_v<V, std::optional<std::string>>) return bind_optional_text(index, value);
    else if constexpr (std::is_same_v<V, std::nullopt_t>) return bind_null(index);
    else if constexpr (std::is_integral_v<V>) return bind_int64(index, static_cast<std::int64_t>(value));
    else return bind_text(index, std::string_view(value));
  }

  sqlite3* db_;
  StmtHandle stmt_;
};

// Compiles the first statement of `sql` on `db`. Fails with Database on a
// syntax error, an unknown table or column, or when `sql` holds no statement.
[[nodiscard]] Result<Statement> prepare(sqlite3* db, std::string_view sql);

// Prepares `sql`, binds `values` as `Statement::bind_all` does and steps it
// to the end, ignoring rows: one call for an INSERT, UPDATE or DELETE.
template <class... Values>
[[nodiscard]] Result<void> run_statement(sqlite3* db, std::string_view sql, const Values&... values) {
  auto stmt = prepare(db, sql);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = stmt->bind_all(values...); !bound) return bound;
  return stmt->run();
}

// A write transaction: BEGIN IMMEDIATE on creation, so the write lock is
// taken (waiting out the busy timeout) before any statement runs. Unless
// `commit` succeeded, the transaction is rolled back when the guard goes.
// Begun while a transaction is open, it is a savepoint inside it instead:
// `commit` releases it into the outer transaction (which alone makes the
// changes permanent) and the guard rolls back to it. Guards end in the
// reverse order of their beginning.
class Transaction {
 public:
  [[nodiscard]] static Result<Transaction> begin_immediate(sqlite3* db);

  Transaction(Transaction&& other) noexcept
      : db_(std::exchange(other.db_, nullptr)), nested_(other.nested_) {}
  Transaction& operator=(Transaction&&) = delete;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  // Makes the changes permanent (or part of the outer transaction). On
  // failure the guard still rolls back.
  [[nodiscard]] Result<void> commit();

 private:
  Transaction(sqlite3* db, bool nested) : db_(db), nested_(nested) {}
  sqlite3* db_;  // null once committed or moved from
  bool nested_;  // a savepoint within an open transaction
};

// While it lives, statements on `db` still running `limit` after its
// creation are interrupted: the step fails with Database "interrupted: the
// call ran past its deadline" and a write transaction is rolled back.
// SQLite looks at the clock between the steps of its virtual machine, so
// the work of one step (one function on one row) runs to its end first.
// `db` must outlive the guard; one guard per connection at a time.
class StatementDeadline {
 public:
  StatementDeadline(sqlite3* db, std::chrono::milliseconds limit);
  ~StatementDeadline();
  StatementDeadline(const StatementDeadline&) = delete;
  StatementDeadline& operator=(const StatementDeadline&) = delete;

 private:
  static int expired(void* self);
  sqlite3* db_;
  std::chrono::steady_clock::time_point at_;
};

// Adds to `db` the full-text auxiliary function bt_instance_count(table):
// how many phrase instances the current row matches, in all columns. It
// costs time in proportion to the row's positions, where snippet() costs it
// in proportion to their square. Fails with Database.
[[nodiscard]] Result<void> add_instance_count_function(sqlite3* db);

}  // namespace core
