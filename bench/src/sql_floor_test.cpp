#include "sql_floor.hpp"

#include "generator.hpp"
#include "index_fill.hpp"
#include "temp_folder_for_tests.hpp"

#include <gtest/gtest.h>

namespace bench {
namespace {

template <class T>
::testing::AssertionResult is_ok(const Outcome<T>& outcome) {
  if (outcome) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << outcome.error();
}

// An index filled with a generated vault of 200 notes.
class FilledIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = open_index(file_);
    ASSERT_TRUE(is_ok(opened));
    db_ = std::move(*opened);
    LinkIds ids('y');
    ASSERT_TRUE(is_ok(fill_index(db_.get(), vault_, ids)));
  }
  size_t count(const std::string& sql) {
    auto rows = query(db_.get(), sql);
    return rows && !rows->empty() ? std::stoul(rows->front().front()) : size_t(-1);
  }

  testing::TempFolder folder_;
  std::filesystem::path file_ = folder_.path() / "index.db";
  VaultGenerator vault_{200, 7};
  DbHandle db_;
};

TEST_F(FilledIndex, OpenMakesTheSchemaInWalModeAndReopeningKeepsRows) {
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE name IN ('note_files','notes_fts','links','app_state')"), 4u);
  EXPECT_EQ(count("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'idx_%'"), 4u);
  auto mode = query(db_.get(), "PRAGMA journal_mode");
  ASSERT_TRUE(is_ok(mode));
  EXPECT_EQ(mode->front().front(), "wal");
  db_.reset();
  auto again = open_index(file_);
  ASSERT_TRUE(is_ok(again));
  db_ = std::move(*again);
  EXPECT_EQ(count("SELECT count(*) FROM note_files"), 200u);
  EXPECT_EQ(count("SELECT count(*) FROM notes_fts"), 200u);
}

TEST_F(FilledIndex, LookupsFindWhatTheFillWrote) {
  const NoteDraft note = vault_.note(17);
  auto path = path_by_id(db_.get(), note.id);
  ASSERT_TRUE(is_ok(path));
  ASSERT_EQ(path->size(), 1u);
  EXPECT_EQ(path->front().front(), stored_path(note.folder, note.id));
  auto title = title_by_id(db_.get(), note.id);
  ASSERT_TRUE(is_ok(title));
  EXPECT_EQ(title->front().front(), note.title);
  EXPECT_TRUE(path_by_id(db_.get(), "nobody")->empty());

  struct Case { std::string title; std::optional<std::string> want; };
  std::string shouted = note.title;
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Case& c : {Case{note.title, note.id}, Case{"  " + shouted + " ", note.id}, Case{"\t" + note.title, std::nullopt},
                        Case{"no such title", std::nullopt}}) {
    auto found = id_by_title(db_.get(), c.title);
    ASSERT_TRUE(is_ok(found)) << c.title;
    EXPECT_EQ(*found, c.want) << "title: '" << c.title << "'";
  }
}

TEST_F(FilledIndex, ReadStatementsGiveTheVaultsRows) {
  const QueryWords words = vault_.query_words();
  size_t in_projects = 0;
  for (size_t i = 0; i < vault_.size(); ++i) in_projects += vault_.folder(i) == "projects";
  struct Case { std::string label; Outcome<Rows> rows; size_t want; };
  Case cases[] = {{"recent 5", recent_notes(db_.get(), 5), 5},
                  {"listing", listing(db_.get()), 200},
                  {"common", full_text(db_.get(), match_expression(words.common), 25), 25},
                  {"rare", full_text(db_.get(), match_expression(words.rare), 25), VaultGenerator::kRareNotes},
                  {"missing", full_text(db_.get(), match_expression(words.missing), 25), 0},
                  {"rank only", rank_only(db_.get(), match_expression(words.common), 25), 25},
                  {"folder", folder_rows(db_.get(), "projects"), in_projects},
                  {"backlinks", backlinks(db_.get(), vault_.id(VaultGenerator::kHub)), VaultGenerator::kHubLinkers},
                  {"linking sources", linking_sources(db_.get(), vault_.id(VaultGenerator::kHub), vault_.title(VaultGenerator::kHub)),
                   VaultGenerator::kHubLinkers}};
  for (const Case& c : cases) {
    ASSERT_TRUE(is_ok(c.rows)) << c.label;
    EXPECT_EQ(c.rows->size(), c.want) << c.label;
  }
  auto rare = full_text(db_.get(), match_expression(words.rare), 25);
  EXPECT_NE(rare->front().back().find("**" + words.rare + "**"), std::string::npos) << rare->front().back();
  auto counted = document_count(db_.get(), words.rare);
  ASSERT_TRUE(is_ok(counted));
  EXPECT_EQ(*counted, 3);
}

TEST_F(FilledIndex, IndexNoteReplacesRowsAndResolvesTitleLinks) {
  const NoteDraft note = vault_.note(30);
  IndexedNote indexed = indexed_form(vault_, note, note.folder);
  indexed.links = {{std::nullopt, "  " + vault_.title(VaultGenerator::kHub)}, {note.id, std::nullopt}};
  LinkIds ids('x');
  ASSERT_TRUE(is_ok(index_note(db_.get(), indexed, ids)));
  ASSERT_TRUE(is_ok(index_note(db_.get(), indexed, ids)));  // twice: rows are replaced, not added
  const std::string where = " WHERE source_id = '" + note.id + "'";
  EXPECT_EQ(count("SELECT count(*) FROM links" + where), 1u);  // the link to itself is dropped
  EXPECT_EQ(count("SELECT count(*) FROM links" + where + " AND target_id = '" + vault_.id(0) + "' AND unresolved = 0"), 1u);
  EXPECT_EQ(count("SELECT count(*) FROM notes_fts WHERE note_id = '" + note.id + "'"), 1u);
  EXPECT_EQ(count("SELECT count(*) FROM note_files"), 200u);
}

TEST_F(FilledIndex, FailuresCarrySqliteMessages) {
  auto bad = query(db_.get(), "SELEC 1");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error(), "database error: near \"SELEC\": syntax error");
  IndexedNote clash = indexed_form(vault_, vault_.note(250), "");
  clash.path = stored_path(vault_.folder(3), vault_.id(3));  // another note's path
  LinkIds ids('x');
  auto refused = insert_note(db_.get(), clash, ids);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "database error: UNIQUE constraint failed: note_files.path");
}

TEST(SqlFloor, OpenFailsInAMissingFolder) {
  auto opened = open_index("/nonexistent-folder/index.db");
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error(), "database error: unable to open database file");
}

TEST(SqlFloor, MatchExpressionQuotesEachWordAsAPrefix) {
  struct Case { std::string_view in, want; };
  for (const Case& c : {Case{"", ""}, Case{"   ", ""}, Case{"a", "\"a\"*"}, Case{"  a  b ", "\"a\"* AND \"b\"*"},
                        Case{"report q\"3", "\"report\"* AND \"q\"\"3\"*"}})
    EXPECT_EQ(match_expression(c.in), c.want) << "in: '" << c.in << "'";
}

TEST(SqlFloor, LinkIdsAreDistinctAndCarryTheirLead) {
  LinkIds ids('q');
  std::set<std::string> made;
  for (int n = 0; n < 100; ++n) {
    const std::string id = ids.next();
    EXPECT_EQ(id.size(), 24u);
    EXPECT_EQ(id[0], 'q');
    made.insert(id);
  }
  EXPECT_EQ(made.size(), 100u);
}

}  // namespace
}  // namespace bench
