#include "index/indexer.hpp"

#include "index/index_test_helpers.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

using core::testing::is_ok;
using core::testing::note_in;
using core::testing::rows;
using Rows = std::vector<std::string>;

class Indexer : public testing::VaultTest {
 protected:
  Note note(std::string id, std::string title, std::string body = "") {
    return note_in(*vault, std::move(id), std::move(title), std::move(body));
  }
  void index(const Note& n) { ASSERT_TRUE(is_ok(index_note(*vault, n))); }
  Rows links_of(std::string_view id) {
    return rows(*vault, "SELECT target_title, target_id, unresolved, link_type FROM links WHERE source_id = '" +
                             std::string(id) + "' ORDER BY rowid");
  }
  Rows note_row(std::string_view id) {
    return rows(*vault, "SELECT path, title, tags_json, metas_json, workspace_id, updated_at, deleted_at "
                         "FROM note_files WHERE id = '" + std::string(id) + "'");
  }
  Rows fts_row(std::string_view id) {
    return rows(*vault, "SELECT title, body FROM notes_fts WHERE note_id = '" + std::string(id) + "'");
  }

};

TEST(StoredPath, RelativeToTheRootWithSlashes) {
  struct Case { std::string_view root, path, want; };
  const Case cases[] = {
      {"/v", "/v/notes/a.md", "notes/a.md"},
      {"/v/", "/v/notes/work/a.md", "notes/work/a.md"},
      {"/v", "/v/notes/a\\b.md", "notes/a/b.md"},
      {"/v", "/vault/notes/a.md", "/vault/notes/a.md"},  // a prefix of the text is not a prefix of the path
      {"/v", "/w/notes/a.md", "/w/notes/a.md"},
#ifndef _WIN32  // a Windows path is UTF-16 and cannot hold the stray byte
      {"/v", "/v/notes/\xFF\xC3\xA4.md", "notes/\xEF\xBF\xBD\xC3\xA4.md"},
#endif
      // Roots and paths spelled with empty or "." components, or "..".
      {"/v/.", "/v/notes/a.md", "notes/a.md"},
      {"/v", "/v/./notes/a.md", "notes/a.md"},
      {"/v", "/v//notes/a.md", "notes/a.md"},
      {"/v//", "/v/notes/a.md", "notes/a.md"},
      {"//v", "/v/notes/a.md", "notes/a.md"},
      {"v", "v/notes/a.md", "notes/a.md"},
      {"./v", "v/notes/a.md", "notes/a.md"},
      {"/w/../v", "/w/../v/notes/a.md", "notes/a.md"},
      {"/w/../v", "/v/notes/a.md", "/v/notes/a.md"},
      {"/v", "/v/notes/.hidden.md", "notes/.hidden.md"},
      {"/v", "/v/notes/..md", "notes/..md"},
      {"/v", "/v", ""},
      {"/v", "/v/", ""},
      {"/v", "/v/notes/a/", "notes/a"},
      {"/", "/notes/a.md", "notes/a.md"},
  };
  for (const Case& c : cases) EXPECT_EQ(stored_path(c.root, c.path), c.want) << "root: " << c.root << " path: " << c.path;
}

TEST_F(Indexer, WritesTheNoteRowAndFullTextRow) {
  Note full = note("n1", "Full", "Body text");
  full.path = tv.root() / "notes" / "work" / "n1.md";
  full.frontmatter.tags = {"b", "a", "q\"\\x", "\xC3\xA4"};
  full.frontmatter.metas = {{"z", "1"}, {"a", "line\nbreak"}};
  full.frontmatter.workspace_id = "ws";
  index(full);
  index(note("n2", "Bare"));
  EXPECT_EQ(note_row("n1"), Rows{"notes/work/n1.md|Full|[\"b\",\"a\",\"q\\\"\\\\x\",\"\xC3\xA4\"]|"
                                 "{\"a\":\"line\\nbreak\",\"z\":\"1\"}|ws|2024-05-01T10:00:00+00:00|NULL"});
  EXPECT_EQ(note_row("n2"), Rows{"notes/n2.md|Bare|[]|{}|NULL|2024-05-01T10:00:00+00:00|NULL"});
  EXPECT_EQ(fts_row("n1"), Rows{"Full|Body text"});
  full.frontmatter.title = "Fuller";
  full.body = "New body";
  index(full);
  EXPECT_EQ(fts_row("n1"), Rows{"Fuller|New body"});
}

TEST_F(Indexer, TagsThatAreNotUtf8FailAsJsonAndWriteNothing) {
  Note bad = note("n1", "Bad");
  bad.frontmatter.tags = {"ok", "\xFF"};
  auto result = index_note(*vault, bad);
  ASSERT_FALSE(result);
  EXPECT_EQ(to_text(result.error()), "JSON error: [json.exception.type_error.316] invalid UTF-8 byte at index 0: 0xFF");
  EXPECT_TRUE(note_row("n1").empty());
}

TEST_F(Indexer, ResolvesTitleLinksToOneLiveHolder) {
  index(note("target01", "Plan"));
  index(note("twin0001", "Twin"));
  index(note("twin0002", " TWIN "));
  index(note("ghost001", "Ghost"));
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "ghost001")));
  index(note("source01", "Source",
             "[[ plan ]] [[twin]] [[Ghost]] [[Nobody]] [[source]] tolvane://source01 tolvane://target01 "
             "tolvane://elsewhere"));
  EXPECT_EQ(links_of("source01"), (Rows{"plan|target01|0|markdown", "twin|NULL|1|markdown", "Ghost|NULL|1|markdown",
                                        "Nobody|NULL|1|markdown", "NULL|target01|0|markdown",
                                        "NULL|elsewhere|0|markdown"}));
  EXPECT_EQ(rows(*vault, "SELECT count(DISTINCT id), min(length(id)) FROM links"), Rows{"6|24"});
  index(note("source01", "Source", "no links any more"));
  EXPECT_TRUE(links_of("source01").empty());
}

TEST_F(Indexer, DeletedNoteKeepsItsRowsAndComesBackToLife) {
  index(note("n1", "One", "see tolvane://other001"));
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "n1")));
  EXPECT_EQ(rows(*vault, "SELECT title, deleted_at GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
                          "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]' FROM note_files WHERE id = 'n1'"),
            Rows{"One|1"});
  EXPECT_TRUE(fts_row("n1").empty());
  EXPECT_EQ(links_of("n1").size(), 1u);
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "n1")));  // again: still deleted, no failure
  ASSERT_TRUE(is_ok(mark_note_deleted(*vault, "nobody")));
  EXPECT_EQ(rows(*vault, "SELECT count(*) FROM note_files"), Rows{"1"});
  index(note("n1", "One again", "body"));
  EXPECT_EQ(rows(*vault, "SELECT title, deleted_at FROM note_files WHERE id = 'n1'"), Rows{"One again|NULL"});
  EXPECT_EQ(fts_row("n1"), Rows{"One again|body"});
}

TEST_F(Indexer, PathHeldByAnotherNoteIsRefused) {
  index(note("n1", "One"));
  Note clash = note("n2", "Two");
  clash.path = tv.root() / "notes" / "n1.md";
  auto result = index_note(*vault, clash);
  ASSERT_FALSE(result);
  EXPECT_EQ(to_text(result.error()), "database error: UNIQUE constraint failed: note_files.path");
  EXPECT_TRUE(note_row("n2").empty());
  EXPECT_TRUE(fts_row("n2").empty());
}

TEST_F(Indexer, FailureHalfwayLeavesThePreviousRowsUntouched) {
  index(note("target01", "Plan"));
  index(note("n1", "Before", "[[Plan]] tolvane://target01"));
  const Rows row = note_row("n1"), fts = fts_row("n1"), links = links_of("n1");
  ASSERT_TRUE(is_ok(exec(vault->db(), "CREATE TEMP TRIGGER refuse_links BEFORE INSERT ON main.links "
                                       "BEGIN SELECT RAISE(ABORT, 'links refused'); END;")));
  Note changed = note("n1", "After", "[[Other]]");
  changed.frontmatter.updated = "2024-06-01T00:00:00+00:00";
  auto result = index_note(*vault, changed);
  ASSERT_FALSE(result);
  EXPECT_EQ(to_text(result.error()), "database error: links refused");
  EXPECT_EQ(note_row("n1"), row);
  EXPECT_EQ(fts_row("n1"), fts);
  EXPECT_EQ(links_of("n1"), links);
  // The connection is out of the failed transaction: the next write works.
  ASSERT_TRUE(is_ok(exec(vault->db(), "DROP TRIGGER temp.refuse_links")));
  index(changed);
  EXPECT_EQ(links_of("n1"), Rows{"Other|NULL|1|markdown"});
}

}  // namespace
}  // namespace core
