#include "query/search.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/index_test_helpers.hpp"
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

}  // namespace
}  // namespace core
