// The floor keeps the server's statements as they were first written, so
// that it stays a fixed yardstick. This test holds it to that claim: every
// statement the floor runs is one the server runs now, or stands (in
// kDrift) for a server statement that was changed on purpose, written here
// as the server has it. A server statement that changes fails the test
// until the floor or kDrift is brought up to date, so the floor never
// measures another plan unnoticed. It links the core, which the benchmark
// program itself never does.

#include "sql_floor.hpp"
#include "temp_folder_for_tests.hpp"

#include "index/backlinks.hpp"
#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/lookups.hpp"
#include "query/listing.hpp"
#include "query/search.hpp"
#include "store/note_store.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <map>
#include <set>

namespace bench {
namespace {

// The floor's statement text, and the server's text it stands for now.
const std::map<std::string, std::string> kDrift = {
    // The server steers the planner with a unary "+" on deleted_at.
    {"SELECT id, title, updated_at, tags_json, path FROM note_files\n"
     "         WHERE deleted_at IS NULL ORDER BY updated_at DESC",
     "SELECT id, title, updated_at, tags_json, path FROM note_files\n"
     "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC"},
    {"SELECT id, title, path, updated_at FROM note_files\n"
     "         WHERE deleted_at IS NULL ORDER BY updated_at DESC LIMIT ?1",
     "SELECT id, title, path, updated_at FROM note_files\n"
     "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC LIMIT ?1"},
    // The server ranks first and reads only the page's rows and snippets.
    {"SELECT nf.id, nf.title, nf.path, nf.updated_at, snippet(notes_fts, 2, '**', '**', '\u2026', 32)\n"
     "         FROM notes_fts f\n"
     "         JOIN note_files nf ON nf.id = f.note_id\n"
     "         WHERE notes_fts MATCH ?1 AND nf.deleted_at IS NULL\n"
     "         ORDER BY bm25(notes_fts)\n"
     "         LIMIT ?2",
     "SELECT nf.id, nf.title, nf.path, nf.updated_at,\n"
     "         CASE WHEN bt_instance_count(notes_fts) <= 2000\n"
     "              THEN snippet(notes_fts, 2, '**', '**', '\u2026', 32) END,\n"
     "         f.rowid\n"
     "         FROM notes_fts f\n"
     "         JOIN note_files nf ON nf.id = f.note_id\n"
     "         WHERE notes_fts MATCH ?1 AND +f.rowid IN (SELECT value FROM json_each(?2)) AND nf.deleted_at IS NULL"},
    // The server finds full-text rows and linking notes through its own indexes.
    {"DELETE FROM notes_fts WHERE note_id = ?1",
     "DELETE FROM notes_fts WHERE rowid IN (SELECT id FROM notes_fts_content WHERE c0 = ?1)"},
    {"SELECT DISTINCT source_id FROM links\n"
     "         WHERE source_id != ?1\n"
     "           AND (\n"
     "             target_id = ?1\n"
     "             OR (\n"
     "               lower(trim(COALESCE(target_title, ''))) = lower(trim(?2))\n"
     "             )\n"
     "           )\n"
     "         ORDER BY source_id",
     "SELECT source_id FROM links WHERE target_id = ?1 AND source_id != ?1\n"
     "         UNION\n"
     "         SELECT source_id FROM links\n"
     "         WHERE lower(trim(COALESCE(target_title, ''))) = lower(trim(?2)) AND source_id != ?1\n"
     "         ORDER BY source_id"},
};

// The text of every statement run on a connection while the log lives.
class StatementLog {
 public:
  explicit StatementLog(sqlite3* db) : db_(db) { sqlite3_trace_v2(db_, SQLITE_TRACE_STMT, &StatementLog::record, this); }
  ~StatementLog() { sqlite3_trace_v2(db_, 0, nullptr, nullptr); }
  StatementLog(const StatementLog&) = delete;
  StatementLog& operator=(const StatementLog&) = delete;
  const std::set<std::string>& texts() const { return texts_; }

 private:
  // The statements a full-text table runs for itself name their schema,
  // "'main'."; no statement of the floor or of the server does.
  static int record(unsigned, void* self, void* stmt, void*) {
    const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(stmt));
    if (sql != nullptr && std::string_view(sql).find("'main'.") == std::string_view::npos)
      static_cast<StatementLog*>(self)->texts_.insert(sql);
    return 0;
  }
  sqlite3* db_;
  std::set<std::string> texts_;
};

constexpr std::string_view kTarget = "m4x8q2v7c1n9b3k6z0p5w2ty";

class FloorMirror : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = open_index(folder_.path() / "index.db");
    ASSERT_TRUE(opened) << opened.error();
    floor_ = std::move(*opened);
    LinkIds ids('f');
    ASSERT_TRUE(index_note(floor_.get(), target_row(), ids));
    auto vault = core::open_vault(tv_.root());
    ASSERT_TRUE(core::testing::is_ok(vault));
    vault_.emplace(std::move(*vault));
    ASSERT_TRUE(core::testing::is_ok(core::upsert_note(*vault_, {"Target", "words here", std::string(kTarget), {}, {}})));
    ASSERT_TRUE(core::testing::is_ok(core::upsert_note(*vault_, {"Linker", "see [[Target]]", "linker", {}, {}})));
  }

  static IndexedNote target_row() {
    return {std::string(kTarget), "notes/x.md", "Target", "[]", "{}", "words here", {{std::nullopt, "Other"}}};
  }

  // Runs `floor` on the floor's index and `server` on the server's, and
  // checks each statement the floor ran against what the server ran.
  void expect_mirrored(const std::string& what, const std::function<void(sqlite3*)>& floor,
                       const std::function<void(core::Vault&)>& server) {
    std::set<std::string> floor_ran, server_ran;
    {
      StatementLog log(floor_.get());
      floor(floor_.get());
      floor_ran = log.texts();
    }
    {
      StatementLog log(vault_->db());
      server(*vault_);
      server_ran = log.texts();
    }
    ASSERT_FALSE(floor_ran.empty()) << what;
    for (const std::string& text : floor_ran) {
      const auto drift = kDrift.find(text);
      const std::string& wanted = drift == kDrift.end() ? text : drift->second;
      std::string ran;
      for (const std::string& s : server_ran) ran += s + "\n--\n";
      EXPECT_TRUE(server_ran.contains(wanted)) << what << ": the floor runs\n" << text << "\nstanding for\n"
                                               << wanted << "\nbut the server ran\n" << ran;
    }
  }

  testing::TempFolder folder_;
  DbHandle floor_;
  core::testing::TempVault tv_;
  std::optional<core::Vault> vault_;
};

TEST_F(FloorMirror, LookupsRunTheServersStatements) {
  expect_mirrored("path_by_id", [](sqlite3* db) { (void)path_by_id(db, kTarget); },
                  [](const core::Vault& v) { (void)core::path_by_id(v, kTarget); });
  expect_mirrored("title_by_id", [](sqlite3* db) { (void)title_by_id(db, kTarget); },
                  [](const core::Vault& v) { (void)core::title_by_id(v, kTarget); });
  expect_mirrored("id_by_title", [](sqlite3* db) { (void)id_by_title(db, "Target"); },
                  [](const core::Vault& v) { (void)core::id_by_title(v, "Target"); });
}

TEST_F(FloorMirror, ReadToolsRunTheServersStatements) {
  expect_mirrored("recent", [](sqlite3* db) { (void)recent_notes(db, 10); },
                  [](const core::Vault& v) { (void)core::search_notes(v, "", 10); });
  expect_mirrored("full text", [](sqlite3* db) { (void)full_text(db, match_expression("words"), 10); },
                  [](const core::Vault& v) { (void)core::search_notes(v, "words", 10); });
  expect_mirrored("rank only", [](sqlite3* db) { (void)rank_only(db, match_expression("words"), 10); },
                  [](const core::Vault& v) { (void)core::search_notes(v, "words", 10); });
  expect_mirrored("listing", [](sqlite3* db) { (void)listing(db); },
                  [](const core::Vault& v) { (void)core::list_notes(v, std::nullopt, std::nullopt, std::nullopt); });
  expect_mirrored("backlinks", [](sqlite3* db) { (void)backlinks(db, kTarget); },
                  [](const core::Vault& v) { (void)core::list_backlinks(v, kTarget); });
  expect_mirrored("linking sources", [](sqlite3* db) { (void)linking_sources(db, kTarget, "Target"); },
                  [](const core::Vault& v) { (void)core::linking_sources(v, kTarget, "Target"); });
}

TEST_F(FloorMirror, IndexingRunsTheServersStatements) {
  expect_mirrored(
      "index_note",
      [](sqlite3* db) {
        LinkIds ids('g');
        (void)index_note(db, target_row(), ids);
      },
      [](core::Vault& v) {
        core::Note note;
        note.frontmatter.id = std::string(kTarget);
        note.frontmatter.title = "Target";
        note.frontmatter.updated = "U";
        note.body = "words here [[Other]]";
        note.path = v.root / "notes" / "x.md";
        (void)core::index_note(v, note);
      });
}

// The schema batch, statement for statement as SQLite keeps it.
TEST_F(FloorMirror, TheSchemaIsTheServers) {
  auto schema = [](sqlite3* db) {
    std::set<std::string> rows;
    auto found = query(db, "SELECT type || ' ' || name || ': ' || COALESCE(sql, '') FROM sqlite_master "
                           "WHERE name NOT LIKE 'bt_%' AND name NOT LIKE 'sqlite_%'");
    EXPECT_TRUE(found) << found.error();
    if (found)
      for (const auto& row : *found) rows.insert(row.front());
    return rows;
  };
  EXPECT_EQ(schema(floor_.get()), schema(vault_->db()));
}

}  // namespace
}  // namespace bench
