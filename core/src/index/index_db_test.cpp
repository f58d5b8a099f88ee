#include "index/index_db.hpp"

#include "index/index_test_helpers.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::rows;
using core::testing::TempDir;
using core::testing::TempVault;

constexpr std::string_view kSchemaObjects =
    "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' AND name NOT LIKE 'notes_fts_%' "
    "ORDER BY type, name";

TEST(OpenVault, FreshVaultGetsTheWholeSchemaInWalMode) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  EXPECT_EQ(vault->root, tv.root());
  EXPECT_TRUE(std::filesystem::exists(tv.root() / ".brask-tolvane" / "index.db"));
  EXPECT_EQ(rows(*vault, kSchemaObjects),
            (std::vector<std::string>{"index|bt_links_any_title_key", "index|bt_links_title_key",
                                      "index|bt_note_files_odd_path", "index|bt_note_files_title_key",
                                      "index|bt_notes_fts_note_id", "index|idx_links_source", "index|idx_links_target",
                                      "index|idx_note_files_deleted", "index|idx_note_files_updated",
                                      "table|app_state", "table|links", "table|note_files", "table|notes_fts"}));
  EXPECT_EQ(rows(*vault, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
  EXPECT_EQ(rows(*vault, "PRAGMA foreign_keys"), std::vector<std::string>{"1"});
  EXPECT_EQ(rows(*vault, "SELECT (SELECT count(*) FROM note_files) + (SELECT count(*) FROM links) + "
                         "(SELECT count(*) FROM notes_fts) + (SELECT count(*) FROM app_state)"),
            std::vector<std::string>{"0"});
}

// The lookups that run on every save or backlinks call must find their rows
// through an index, not by reading the whole vault.
TEST(OpenVault, PerNoteLookupsUseTheirIndexes) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  EXPECT_TRUE(vault->fts_note_id_indexed);
  auto plan = [&](std::string_view sql) {
    std::string text;
    for (const std::string& row : rows(*vault, "EXPLAIN QUERY PLAN " + std::string(sql))) text += row + "\n";
    return text;
  };
  EXPECT_NE(plan("SELECT id FROM note_files WHERE deleted_at IS NULL AND lower(trim(title)) = lower(trim('x')) LIMIT 2")
                .find("bt_note_files_title_key"), std::string::npos);
  EXPECT_NE(plan("DELETE FROM notes_fts WHERE rowid IN (SELECT id FROM notes_fts_content WHERE c0 = 'x')")
                .find("bt_notes_fts_note_id"), std::string::npos);
  EXPECT_TRUE(vault->link_titles_indexed);
  EXPECT_NE(plan("SELECT source_id FROM links WHERE lower(trim(COALESCE(target_title, ''))) = lower(trim('x'))")
                .find("bt_links_any_title_key"), std::string::npos);
  EXPECT_TRUE(vault->odd_paths_indexed);
  EXPECT_NE(plan("SELECT path FROM note_files WHERE " + std::string(kOddStoredPath) + " AND +deleted_at IS NULL")
                .find("bt_note_files_odd_path"), std::string::npos);
}

// The partial index holds exactly the rows its term names: every path that
// is not plainly "notes/<folders>/<file>".
TEST(OpenVault, OddPathIndexHoldsTheOddlySpelledPaths) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  struct Case { const char* path; bool odd; };
  const Case cases[] = {{"notes/a.md", false},      {"notes/p/q/a.md", false}, {"notes/.hidden/a.md", false},
                        {"./notes/a.md", true},     {"Notes/a.md", true},      {"notes\\p\\a.md", true},
                        {"notes//p/a.md", true},    {"notes/./a.md", true},    {"notes/p/../a.md", true},
                        {"elsewhere/a.md", true},   {"notes", true},           {"notes/p\\a.md", true}};
  int n = 0;
  for (const Case& c : cases)
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "INSERT INTO note_files (id, path, title, updated_at) VALUES (?1, ?2, 't', 'u')",
                                    std::to_string(n++), c.path)));
  std::vector<std::string> want;
  for (const Case& c : cases)
    if (c.odd) want.push_back(c.path);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(rows(*vault, "SELECT path FROM note_files INDEXED BY bt_note_files_odd_path WHERE " +
                             std::string(kOddStoredPath) + " AND +deleted_at IS NULL ORDER BY path"),
            want);
}

// A full-text table that another program made with external content has no
// content table to index; saving then falls back to the plain delete.
TEST(OpenVault, AFullTextTableOfAnotherLayoutStillWorks) {
  TempVault tv;
  {
    auto db = open_database(tv.root() / ".brask-tolvane" / "index.db");
    ASSERT_TRUE(is_ok(db));
    ASSERT_TRUE(is_ok(exec(db->get(), "CREATE TABLE ext (note_id, title, body);"
                                      "CREATE VIRTUAL TABLE notes_fts USING fts5(note_id UNINDEXED, title, body, "
                                      "content='ext', tokenize='unicode61');")));
  }
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  EXPECT_FALSE(vault->fts_note_id_indexed);
}

// A vault made over a connection opened otherwise (the doctor's read-only
// one) knows the lookup indexes the file holds, as open_vault's does.
TEST(OpenVault, AVaultOverAReadOnlyConnectionFindsTheLookupIndexes) {
  TempVault tv;
  ASSERT_TRUE(is_ok(open_vault(tv.root())));
  auto db = open_database("file:" + (tv.root() / ".brask-tolvane" / "index.db").string() + "?mode=ro");
  ASSERT_TRUE(is_ok(db));
  const Vault vault(tv.root(), std::move(*db));
  EXPECT_TRUE(is_read_only(vault.db()));
  EXPECT_TRUE(vault.fts_note_id_indexed);
  EXPECT_TRUE(vault.link_titles_indexed);
  EXPECT_TRUE(vault.odd_paths_indexed);
  auto empty_db = open_database(":memory:");
  ASSERT_TRUE(is_ok(empty_db));
  const Vault bare(tv.root(), std::move(*empty_db));
  EXPECT_FALSE(bare.fts_note_id_indexed || bare.link_titles_indexed || bare.odd_paths_indexed);
}

TEST(OpenVault, OpeningAgainChangesNothing) {
  TempVault tv;
  std::vector<std::string> schema_before;
  {
    auto vault = open_vault(tv.root());
    ASSERT_TRUE(is_ok(vault));
    ASSERT_TRUE(is_ok(exec(vault->db(), "INSERT INTO app_state VALUES ('k', 'v')")));
    schema_before = rows(*vault, "SELECT type, name, sql FROM sqlite_master ORDER BY name");
  }
  auto again = open_vault(tv.root());
  ASSERT_TRUE(is_ok(again));
  EXPECT_EQ(rows(*again, "SELECT type, name, sql FROM sqlite_master ORDER BY name"), schema_before);
  EXPECT_EQ(rows(*again, "SELECT key, value FROM app_state"), std::vector<std::string>{"k|v"});
  EXPECT_EQ(rows(*again, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
}

TEST(OpenVault, MissingMarkerIsNotAVaultAndCreatesNothing) {
  TempDir dir;
  const std::filesystem::path root = dir.path() / "sub/../";  // reported as given, not normalised
  auto vault = open_vault(root);
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()), "not a vault: " + root.string());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(OpenVault, MarkerOfAnyKindPassesButAPlainFileCannotHoldTheIndex) {
  TempDir dir;
  std::ofstream(dir.path() / ".brask-tolvane") << "";
  auto vault = open_vault(dir.path());
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()).rfind("database error: ", 0), 0u) << to_text(vault.error());
}

TEST(OpenVault, IndexThatIsNotSqliteFails) {
  TempVault tv;
  tv.write_file(".brask-tolvane/index.db", std::string(4096, 'x'));
  auto vault = open_vault(tv.root());
  ASSERT_FALSE(vault);
  EXPECT_EQ(to_text(vault.error()), "database error: file is not a database");
}

TEST(OpenVault, ForeignKeysAreEnforced) {
  TempVault tv;
  auto vault = open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  auto orphan = exec(vault->db(),
                     "INSERT INTO links (id, source_id, link_type) VALUES ('l1', 'no-such-note', 'markdown')");
  ASSERT_FALSE(orphan);
  EXPECT_EQ(to_text(orphan.error()), "database error: FOREIGN KEY constraint failed");
}

}  // namespace
}  // namespace core
