#include "index/sqlite.hpp"

#include "base/files.hpp"

#include <sqlite3.h>

namespace core {
namespace {

constexpr int kBusyTimeoutMs = 5000;
// Virtual machine steps between two looks at the clock: often enough that a
// statement stops soon after its deadline, seldom enough to cost nothing.
constexpr int kStepsPerDeadlineCheck = 100;
// Only a StatementDeadline interrupts statements in this program.
constexpr const char* kInterrupted = "interrupted: the call ran past its deadline";

// SQLite's description of the last failure on `db`; without a connection
// (an open that could not even allocate one) only the code is known.
CoreError db_error(sqlite3* db, int rc) {
  if ((rc & 0xff) == SQLITE_INTERRUPT) return CoreError::database(kInterrupted);
  if (db == nullptr) return CoreError::database(sqlite3_errstr(rc));
  return CoreError::database(sqlite3_errmsg(db));
}

std::string type_name(int type) {
  switch (type) {
    case SQLITE_INTEGER: return "integer";
    case SQLITE_FLOAT: return "real";
    case SQLITE_BLOB: return "blob";
    case SQLITE_NULL: return "null";
    default: return "text";
  }
}

}  // namespace

void CloseDb::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

void Finalize::operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }

Result<DbHandle> open_database(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path_utf8(file).c_str(), &raw, flags, nullptr);
  DbHandle db(raw);  // own it first: a failed open still needs closing
  if (rc != SQLITE_OK) return std::unexpected(db_error(raw, rc));
  sqlite3_extended_result_codes(raw, 1);
  if (int busy = sqlite3_busy_timeout(raw, kBusyTimeoutMs); busy != SQLITE_OK)
    return std::unexpected(db_error(raw, busy));
  // A connection that closes last checkpoints the log. Keeping the -wal and
  // -shm files then spares the next open deleting and making them anew, and
  // leaves the files in place for any other connection still using them
  // (none is deleted by name). The size limit of 0 empties the kept log at
  // that close, and cuts it back to what is in use each time it restarts
  // after a checkpoint, so it never stays larger than the last stretch of
  // writes needs. Both settings belong to this connection only; refusing
  // them costs time and space, nothing else.
  int keep = 1;
  (void)sqlite3_file_control(raw, "main", SQLITE_FCNTL_PERSIST_WAL, &keep);
  (void)sqlite3_exec(raw, "PRAGMA journal_size_limit=0", nullptr, nullptr, nullptr);
  return db;
}

bool is_read_only(sqlite3* db) { return sqlite3_db_readonly(db, "main") == 1; }

bool is_idle(sqlite3* db) {
  if (sqlite3_get_autocommit(db) == 0) return false;
  for (sqlite3_stmt* stmt = sqlite3_next_stmt(db, nullptr); stmt != nullptr; stmt = sqlite3_next_stmt(db, stmt))
    if (sqlite3_stmt_busy(stmt) != 0) return false;
  return true;
}

void checkpoint_before_close(sqlite3* db) {
  // Without a busy handler the truncating checkpoint copies what it can as
  // a passive one does and gives up where it would wait.
  (void)sqlite3_busy_timeout(db, 0);
  (void)sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

Result<void> exec(sqlite3* db, std::string_view sql) {
  const std::string text(sql);  // sqlite3_exec wants a terminated string
  char* message = nullptr;
  const int rc = sqlite3_exec(db, text.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return {};
  // The message handed out belongs to this call; the connection's may
  // already describe something else when the batch stopped early.
  CoreError error = message && (rc & 0xff) != SQLITE_INTERRUPT ? CoreError::database(message) : db_error(db, rc);
  sqlite3_free(message);
  return std::unexpected(std::move(error));
}

Result<Statement> prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) return std::unexpected(db_error(db, rc));
  if (!stmt) return std::unexpected(CoreError::database("no statement in SQL text"));
  return Statement(db, std::move(stmt));
}

Result<void> Statement::check_bind(int rc) const {
  if (rc == SQLITE_OK) return {};
  return std::unexpected(db_error(db_, rc));
}

Result<void> Statement::bind_text(int index, std::string_view text) {
  return check_bind(sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                                        SQLITE_UTF8));
}

Result<void> Statement::bind_int64(int index, std::int64_t value) {
  return check_bind(sqlite3_bind_int64(stmt_.get(), index, value));
}

Result<void> Statement::bind_null(int index) { return check_bind(sqlite3_bind_null(stmt_.get(), index)); }

Result<void> Statement::bind_optional_text(int index, const std::optional<std::string>& text) {
  return text ? bind_text(index, *text) : bind_null(index);
}

Result<bool> Statement::step() {
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  return std::unexpected(db_error(db_, rc));
}

Result<void> Statement::run() {
  for (;;) {
    auto more = step();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return {};
  }
}

void Statement::reset() {
  // sqlite3_reset repeats the code of the last step, which step() has
  // already reported; there is nothing new to learn from it.
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

Result<std::string> Statement::column_text(int column) const {
  const int type = sqlite3_column_type(stmt_.get(), column);
  if (type != SQLITE_TEXT) {
    const char* name = sqlite3_column_name(stmt_.get(), column);
    return std::unexpected(CoreError::database("column " + std::string(name ? name : "?") + " holds " +
                                               type_name(type) + ", not text"));
  }
  const unsigned char* text = sqlite3_column_text(stmt_.get(), column);
  if (text == nullptr) return std::unexpected(db_error(db_, sqlite3_errcode(db_)));  // out of memory
  const int size = sqlite3_column_bytes(stmt_.get(), column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
}

std::int64_t Statement::column_int64(int column) const { return sqlite3_column_int64(stmt_.get(), column); }


bool Statement::column_is_null(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

int Statement::column_count() const { return sqlite3_column_count(stmt_.get()); }

bool Statement::read_only() const { return sqlite3_stmt_readonly(stmt_.get()) != 0; }

Result<Transaction> Transaction::begin_immediate(sqlite3* db) {
  const bool nested = sqlite3_get_autocommit(db) == 0;
  if (auto begun = exec(db, nested ? "SAVEPOINT bt_nested" : "BEGIN IMMEDIATE"); !begun)
    return std::unexpected(std::move(begun.error()));
  return Transaction(db, nested);
}

Result<void> Transaction::commit() {
  auto done = exec(db_, nested_ ? "RELEASE bt_nested" : "COMMIT");
  if (done) db_ = nullptr;
  return done;
}

Transaction::~Transaction() {
  // Some failures (disk full, I/O errors) make SQLite roll back on its
  // own; a second ROLLBACK would only fail, so check first.
  if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) return;
  // A failed rollback cannot be reported from here; SQLite then rolls the
  // transaction back itself when the connection closes. A savepoint rolled
  // back to stays open until released; the outer transaction goes on.
  const char* sql = nested_ ? "ROLLBACK TO bt_nested; RELEASE bt_nested" : "ROLLBACK";
  sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

StatementDeadline::StatementDeadline(sqlite3* db, std::chrono::milliseconds limit)
    : db_(db), at_(std::chrono::steady_clock::now() + limit) {
  sqlite3_progress_handler(db_, kStepsPerDeadlineCheck, &StatementDeadline::expired, this);
}

StatementDeadline::~StatementDeadline() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }

int StatementDeadline::expired(void* self) {
  return std::chrono::steady_clock::now() >= static_cast<StatementDeadline*>(self)->at_ ? 1 : 0;
}

namespace {

void instance_count(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* result, int, sqlite3_value**) {
  int count = 0;
  if (const int rc = api->xInstCount(fts, &count); rc != SQLITE_OK) return sqlite3_result_error_code(result, rc);
  sqlite3_result_int(result, count);
}

// The full-text extension's function table of `db`, handed out as a pointer
// value by "SELECT fts5(?1)".
Result<fts5_api*> fts5_api_of(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &raw, nullptr);
  const StmtHandle stmt(raw);
  if (rc != SQLITE_OK) return std::unexpected(db_error(db, rc));
  fts5_api* api = nullptr;
  sqlite3_bind_pointer(raw, 1, &api, "fts5_api_ptr", nullptr);
  (void)sqlite3_step(raw);  // fills `api`, or leaves it null
  if (api == nullptr) return std::unexpected(CoreError::database("no full-text extension"));
  return api;
}

}  // namespace

Result<void> add_instance_count_function(sqlite3* db) {
  auto api = fts5_api_of(db);
  if (!api) return std::unexpected(std::move(api.error()));
  const int rc = (*api)->xCreateFunction(*api, "bt_instance_count", nullptr, instance_count, nullptr);
  if (rc != SQLITE_OK) return std::unexpected(db_error(db, rc));
  return {};
}

}  // namespace core
