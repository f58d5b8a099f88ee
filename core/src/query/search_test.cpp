#include "query/search.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/index_test_helpers.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"
#include "store/note_store.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using testing::is_ok;

class Search : public testing::VaultTest {
 protected:
  // A note written by hand (so its tags and metas are exactly as given) and
  // indexed; notes made later are newer.
  void hand_note(const std::string& id, const std::string& frontmatter_rest, const std::string& body) {
    tv.write_file("notes/" + id + ".md", "---\nid: " + id + "\n" + frontmatter_rest + "updated: " + next_stamp() +
                                             "\n---\n" + body);
    auto note = read_note_file(tv.notes() / (id + ".md"));
    ASSERT_TRUE(is_ok(note));
    ASSERT_TRUE(is_ok(index_note(*vault, *note)));
  }

  std::string next_stamp() { return "2024-05-01T10:00:" + std::to_string(10 + stamps++) + "+00:00"; }

  std::vector<std::string> ids(std::string_view query, std::int64_t limit = 25) {
    auto hits = search_notes(*vault, query, limit);
    EXPECT_TRUE(is_ok(hits)) << query;
    std::vector<std::string> out;
    if (hits)
      for (const SearchHit& hit : *hits) out.push_back(hit.id);
    return out;
  }

  int stamps = 0;
};

using Ids = std::vector<std::string>;

TEST_F(Search, FreeWordsArePrefixesInTitlesAndBodies) {
  hand_note("a", "title: Budget review\n", "numbers for q3");
  hand_note("b", "title: Groceries\n", "buy bread and a budgeting book");
  hand_note("c", "title: Other\n", "nothing relevant");
  EXPECT_EQ(ids("budg").size(), 2u);
  EXPECT_EQ(ids("budget q3"), Ids{"a"});
  EXPECT_EQ(ids("nomatch"), Ids{});
  auto hits = search_notes(*vault, "bread", 25);
  ASSERT_TRUE(is_ok(hits));
  ASSERT_EQ(hits->size(), 1u);
  EXPECT_EQ(hits->front().snippet, "buy **bread** and a budgeting book");
  EXPECT_EQ(hits->front().path, "notes/b.md");
  for (std::string_view quoted : {"q\"3", "\"", "\"budget\"", "a\"\"b", "NOT", "budget OR", "title:x", "(a", "*"})
    EXPECT_TRUE(is_ok(search_notes(*vault, quoted, 25))) << quoted;
}

// JSON text may hold NUL characters (\u0000); they separate words, and never
// make the search fail.
TEST_F(Search, NulCharactersInTheQuerySeparateWords) {
  hand_note("a", "title: Budget review\n", "numbers for q3");
  EXPECT_EQ(ids(std::string_view("budget\0", 7)), Ids{"a"});
  EXPECT_EQ(ids(std::string_view("budget\0rev", 11)), Ids{"a"});
  EXPECT_EQ(ids(std::string_view("\0", 1)), Ids{});
}

TEST_F(Search, EmptyQueriesListTheNewestWithoutSnippets) {
  for (int i = 0; i < 205; ++i) {
    Note note = testing::note_in(*vault, "n" + std::to_string(i), "Note " + std::to_string(i));
    note.frontmatter.updated = "2024-05-01T10:00:00." + std::to_string(100 + i) + "+00:00";
    ASSERT_TRUE(is_ok(index_note(*vault, note)));
  }
  auto hits = search_notes(*vault, " \t\u3000", 3);
  ASSERT_TRUE(is_ok(hits));
  ASSERT_EQ(hits->size(), 3u);
  EXPECT_EQ(hits->front().id, "n204");
  EXPECT_FALSE(hits->front().snippet.has_value());
  struct Case { std::int64_t limit; size_t want; };
  for (const Case& c : {Case{0, 1}, Case{-5, 1}, Case{1, 1}, Case{200, 200}, Case{500, 200}, Case{INT64_MIN, 1}})
    EXPECT_EQ(ids("", c.limit).size(), c.want) << c.limit;
  EXPECT_EQ(ids("Note", 500).size(), 200u);
}

TEST_F(Search, TagFiltersCompareStoredTagsAsWritten) {
  hand_note("hashed", "title: One\ntags:\n- '#work'\n", "text");
  hand_note("plain", "title: Two\ntags:\n- Work\n", "text");
  hand_note("none", "title: Three\n", "text");
  EXPECT_EQ(ids("#WORK"), Ids{"plain"});
  EXPECT_EQ(ids("##work text"), Ids{"plain"});
  hand_note("ws", "title: Four\ntags:\n- work\nworkspace_id: home\n", "text");
  EXPECT_EQ(ids("#work"), (Ids{"ws", "plain"}));
}

TEST_F(Search, MetaFiltersIncludingTheEmptyKey) {
  hand_note("empty-key", "title: A\nmetas:\n  '': x\n", "body");
  hand_note("status", "title: B\nmetas:\n  status: Draft\n", "body");
  EXPECT_EQ(ids("meta:=x"), Ids{"empty-key"});
  EXPECT_EQ(ids("meta:status=draft body"), Ids{"status"});
  EXPECT_EQ(ids("meta:status"), Ids{});  // no "=": a free word, found nowhere
}

TEST_F(Search, DeletedNotesAreNeverFound) {
  UpsertNoteResult kept = *upsert_note(*vault, {"Keep", "shared word", {}, {}, {}});
  UpsertNoteResult gone = *upsert_note(*vault, {"Gone", "shared word", {}, {}, {}});
  ASSERT_TRUE(is_ok(delete_note(*vault, gone.id)));
  EXPECT_EQ(ids("shared"), Ids{kept.id});
  EXPECT_EQ(ids(""), Ids{kept.id});
  // A full-text row left behind by another program still finds nothing.
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "INSERT INTO notes_fts (note_id, title, body) VALUES (?1, 'Gone', 'shared')",
                                  gone.id)));
  EXPECT_EQ(ids("shared"), Ids{kept.id});
}

// The filters read each candidate's file by id; a stored path spelled with
// "." components must lead there as the plain spelling does.
TEST_F(Search, FiltersFollowStoredPathsWithDotComponents) {
  for (std::string_view stored : {"./notes/a/n.md", "notes/./a/n.md", "notes\\a\\n.md"}) {
    tv.write_file("notes/a/n.md", "---\nid: k\ntitle: 'Dotted #dot'\nmetas:\n  s: x\nupdated: U\n---\nword\n");
    auto note = read_note_file(tv.notes() / "a" / "n.md");
    ASSERT_TRUE(is_ok(note));
    ASSERT_TRUE(is_ok(index_note(*vault, *note)));
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = ?1 WHERE id = 'k'", std::string(stored))));
    EXPECT_EQ(ids("#dot"), Ids{"k"}) << stored;
    EXPECT_EQ(ids("word meta:s=x"), Ids{"k"}) << stored;
  }
}

// snippet() costs the square of a row's matches; past 2,000 of them a hit
// comes without a snippet, while an ordinary note keeps its snippet exactly.
TEST_F(Search, ARowWithThousandsOfMatchesHasNoSnippet) {
  std::string flood;
  for (int i = 0; i < 2001; ++i) flood += "flood ";
  hand_note("huge", "title: Huge\n", flood);
  hand_note("normal", "title: Normal\n", "a flood came; the flood went");
  auto hits = search_notes(*vault, "flood", 10);
  ASSERT_TRUE(is_ok(hits));
  ASSERT_EQ(hits->size(), 2u);
  for (const SearchHit& hit : *hits) {
    if (hit.id == "huge") EXPECT_FALSE(hit.snippet);
    else EXPECT_EQ(hit.snippet, "a **flood** came; the **flood** went");
  }
}

// Under a deadline the statement ends instead of holding the server.
TEST_F(Search, ASearchPastItsDeadlineFails) {
  // Thousands of matching rows, written straight into the index.
  ASSERT_TRUE(is_ok(exec(vault->db(),
                         "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                         "INSERT INTO note_files (id, path, title, updated_at) "
                         "SELECT 'n' || i, 'notes/n' || i || '.md', 'Note ' || i, '2024-05-01' FROM n; "
                         "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                         "INSERT INTO notes_fts (note_id, title, body) "
                         "SELECT 'n' || i, 'Note ' || i, 'many words in every body, the searched word among them' FROM n;")));
  const StatementDeadline deadline(vault->db(), std::chrono::milliseconds(1));
  auto hits = search_notes(*vault, "searched", 5);
  ASSERT_FALSE(hits);
  EXPECT_EQ(to_text(hits.error()), "database error: interrupted: the call ran past its deadline");
}

// The statement as first written: every match joined to its live note in
// one pass. The ranked two-step search must give what it gave.
std::vector<std::pair<std::string, std::string>> joined_statement(const Vault& vault, const std::string& match,
                                                                  std::int64_t limit) {
  auto stmt = prepare(vault.db(),
                      "SELECT nf.id, snippet(notes_fts, 2, '**', '**', '\u2026', 32) FROM notes_fts f "
                      "JOIN note_files nf ON nf.id = f.note_id WHERE notes_fts MATCH ?1 AND nf.deleted_at IS NULL "
                      "ORDER BY bm25(notes_fts) LIMIT ?2");
  EXPECT_TRUE(is_ok(stmt));
  EXPECT_TRUE(is_ok(stmt->bind_all(match, limit)));
  std::vector<std::pair<std::string, std::string>> rows;
  while (*stmt->step()) rows.emplace_back(*stmt->column_text(0), *stmt->column_text(1));
  return rows;
}

TEST_F(Search, RankedPagesSkipDeletedAndUnknownNotesLikeTheJoinedStatement) {
  // Note i holds "alpha" i+1 times in a body of distinct length, so every
  // rank differs; the best-ranked ones are then deleted or lose their note
  // row, so a page must read past them.
  for (int i = 0; i < 60; ++i) {
    std::string body = "filler" + std::to_string(i);
    for (int k = 0; k <= i; ++k) body += " alpha w" + std::to_string(k);
    hand_note("n" + std::to_string(i), "title: T" + std::to_string(i) + "\n", body);
  }
  for (int i = 59; i >= 20; --i)
    if (i % 3 != 0) {
      ASSERT_TRUE(is_ok(delete_note(*vault, "n" + std::to_string(i))));
    }
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "DELETE FROM note_files WHERE id IN ('n0', 'n3', 'n6')")));
  ASSERT_TRUE(is_ok(run_statement(vault->db(),
                                  "INSERT INTO notes_fts (note_id, title, body) VALUES ('ghost', 'alpha', 'alpha alpha')")));
  for (std::int64_t limit : {1, 2, 5, 13, 25, 200}) {
    auto hits = search_notes(*vault, "alpha", limit);
    ASSERT_TRUE(is_ok(hits));
    std::vector<std::pair<std::string, std::string>> got;
    for (const SearchHit& hit : *hits) got.emplace_back(hit.id, hit.snippet.value_or("<none>"));
    EXPECT_EQ(got, joined_statement(*vault, "\"alpha\"*", limit)) << limit;
  }
  EXPECT_EQ(ids("alpha", 200).size(), 60u - 27u - 3u);
}

}  // namespace
}  // namespace core
