// The search query parser and the full-text match expression built from its
// free words.
//
// Checked beyond "no crash": for every query a client can send (valid UTF-8,
// as JSON text is) the match expression is accepted by SQLite's full-text
// engine with the index's own table definition, so no query can make a
// search fail with a syntax error.

#include "query/search_query.hpp"
#include "base/text.hpp"

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// One in-memory full-text table for the whole run, built as the index builds
// its own, holding one row so that the expression is evaluated.
sqlite3_stmt* match_statement() {
  static sqlite3_stmt* statement = [] {
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
    const char* schema =
        "CREATE VIRTUAL TABLE notes_fts USING fts5(note_id UNINDEXED, title, body, tokenize='unicode61');"
        "INSERT INTO notes_fts VALUES ('n1', 'Plan for the week', 'alpha beta \"quoted\" gamma-delta');";
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_stmt* prepared = nullptr;
    const char* sql = "SELECT note_id, snippet(notes_fts, 2, '**', '**', '...', 32) FROM notes_fts "
                      "WHERE notes_fts MATCH ?1 ORDER BY bm25(notes_fts)";
    if (sqlite3_prepare_v2(db, sql, -1, &prepared, nullptr) != SQLITE_OK) std::abort();
    return prepared;
  }();
  return statement;
}

void expect_accepted(const std::string& expression) {
  if (expression.empty()) return;  // the search lists recent notes instead
  sqlite3_stmt* statement = match_statement();
  sqlite3_bind_text(statement, 1, expression.data(), static_cast<int>(expression.size()), SQLITE_TRANSIENT);
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
  }
  sqlite3_reset(statement);
  if (rc != SQLITE_DONE) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const core::SearchQuery query = core::parse_search_query(text);
  const std::string expression = core::build_match_expression(query.text);
  if (core::is_valid_utf8(text)) expect_accepted(expression);
  return 0;
}
