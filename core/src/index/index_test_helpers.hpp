#pragma once
// Helpers for the tests of the index and links units: notes built in
// memory and whole query results as text.

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "note/note.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace core::testing {

// A note placed at <root>/notes/<id>.md; its file is not written.
inline Note note_in(const Vault& vault, std::string id, std::string title, std::string body = "") {
  Note note;
  note.frontmatter.id = std::move(id);
  note.frontmatter.title = std::move(title);
  note.frontmatter.updated = "2024-05-01T10:00:00+00:00";
  note.body = std::move(body);
  note.path = vault.root / "notes" / (note.frontmatter.id + ".md");
  return note;
}

// Every row of `sql`, columns joined by "|"; NULL reads "NULL".
inline std::vector<std::string> rows(const Vault& vault, std::string_view sql) {
  std::vector<std::string> out;
  auto stmt = prepare(vault.db(), sql);
  if (!stmt) {
    ADD_FAILURE() << to_text(stmt.error());
    return out;
  }
  for (;;) {
    auto row = stmt->step();
    if (!row) ADD_FAILURE() << to_text(row.error());
    if (!row || !*row) break;
    std::string line;
    for (int i = 0; i < stmt->column_count(); ++i) {
      if (i > 0) line += "|";
      auto text = stmt->column_text(i);
      line += stmt->column_is_null(i) ? "NULL" : text ? *text : std::to_string(stmt->column_int64(i));
    }
    out.push_back(line);
  }
  return out;
}

}  // namespace core::testing
