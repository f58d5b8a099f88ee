#include "sync/reindex.hpp"

#include "index/index_db.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "sync/vault_compare.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

std::string note_text(std::string_view id, std::string_view title, std::string_view body) {
  return "---\nid: " + std::string(id) + "\ntitle: " + std::string(title) +
         "\ntags: []\nupdated: 2024-01-01T00:00:00Z\n---\n" + std::string(body);
}

class Reindex : public testing::VaultTest {
 protected:
  std::string save(std::string title, std::string body) {
    auto r = upsert_note(*vault, {std::move(title), std::move(body), std::nullopt, std::nullopt, {}});
    EXPECT_TRUE(is_ok(r));
    return r ? r->id : std::string();
  }
  VaultComparison compare() {
    auto c = compare_vault(*vault);
    EXPECT_TRUE(is_ok(c));
    return c ? std::move(*c) : VaultComparison{};
  }
  // The target of the one link from `source`, or "(unresolved)".
  std::string link_target(std::string_view source) {
    auto stmt = prepare(vault->db(), "SELECT target_id FROM links WHERE source_id = ?1");
    EXPECT_TRUE(is_ok(stmt));
    EXPECT_TRUE(is_ok(stmt->bind_all(source)));
    auto row = stmt->step();
    if (!row || !*row) return "(none)";
    if (stmt->column_is_null(0)) return "(unresolved)";
    return *stmt->column_text(0);
  }
};

TEST_F(Reindex, BringsTheIndexInStepAndLeavesProblemFilesAlone) {
  const std::string kept = save("Kept", "unchanged");
  const std::string edited = save("Old title", "old words");
  const std::string removed = save("Removed", "its file goes");
  const std::string moved = save("Moved", "to a folder");
  const std::string broken = save("Broken", "its file breaks");
  // A link to a note that only a later file of the same run brings in.
  tv.write_file("notes/a-first.md", note_text("hand1", "Hand one", "see [[Zed Later]]"));
  tv.write_file("notes/z-later.md", note_text("hand2", "Zed Later", "the target"));
  tv.write_file("notes/" + edited + ".md", note_text(edited, "New title", "new words"));
  fs::remove(tv.notes() / (removed + ".md"));
  fs::create_directories(tv.notes() / "sub");
  fs::rename(tv.notes() / (moved + ".md"), tv.notes() / "sub" / (moved + ".md"));
  const std::string broken_text = "---\nid: " + broken + "\ntitle: [unclosed\n---\nbody";
  tv.write_file("notes/" + broken + ".md", broken_text);
  tv.write_file("notes/plain.md", "no frontmatter at all");
  tv.write_file("notes/twin1.md", note_text("twin", "Twin", "one"));
  tv.write_file("notes/sub/twin2.md", note_text("twin", "Twin", "two"));

  VaultComparison before = compare();
  EXPECT_EQ(before.files, 9u);
  EXPECT_EQ(before.live_rows, 5u);
  std::map<std::string, std::pair<bool, std::vector<std::string>>> changes;
  for (const NoteChange& c : before.to_index) changes[c.note.frontmatter.id] = {c.is_new, c.differs};
  using Differs = std::vector<std::string>;
  EXPECT_EQ(changes, (std::map<std::string, std::pair<bool, Differs>>{
                         {"hand1", {true, {}}},
                         {"hand2", {true, {}}},
                         {edited, {false, {"title", "body"}}},
                         {moved, {false, {"path"}}}}));
  EXPECT_EQ(before.gone, std::vector<std::string>{removed});  // not `broken`: its file is only unreadable
  ASSERT_EQ(before.unreadable.size(), 1u);
  EXPECT_EQ(before.unreadable[0].path, "notes/" + broken + ".md");
  EXPECT_NE(before.unreadable[0].error.find("YAML error"), std::string::npos) << before.unreadable[0].error;
  EXPECT_EQ(before.without_frontmatter, std::vector<std::string>{"notes/plain.md"});
  ASSERT_EQ(before.duplicates.size(), 1u);
  EXPECT_EQ(before.duplicates[0].paths, (std::vector<std::string>{"notes/sub/twin2.md", "notes/twin1.md"}));

  auto applied = apply_reindex(*vault, before, {std::chrono::milliseconds(0), nullptr});  // a batch per write
  ASSERT_TRUE(is_ok(applied));
  EXPECT_EQ(applied->indexed.size(), 4u);
  EXPECT_EQ(applied->deleted, std::vector<std::string>{removed});
  EXPECT_TRUE(applied->failed.empty());

  EXPECT_EQ(link_target("hand1"), "hand2");
  EXPECT_EQ(*title_by_id(*vault, edited), std::optional<std::string>("New title"));
  EXPECT_EQ(*path_by_id(*vault, moved), std::optional<std::string>("notes/sub/" + moved + ".md"));
  EXPECT_EQ(*path_by_id(*vault, removed), std::nullopt);
  EXPECT_EQ(*title_by_id(*vault, broken), std::optional<std::string>("Broken"));
  EXPECT_EQ(tv.read_file("notes/" + broken + ".md"), broken_text);
  EXPECT_EQ(*path_by_id(*vault, kept), std::optional<std::string>("notes/" + kept + ".md"));

  VaultComparison after = compare();
  EXPECT_TRUE(after.to_index.empty());
  EXPECT_TRUE(after.gone.empty());
  EXPECT_EQ(after.unreadable.size(), 1u);
  EXPECT_EQ(after.live_rows, 6u);
}

TEST_F(Reindex, ARefusedNoteIsRolledBackAloneAndReported) {
  const std::string saved = save("Saved", "body");
  // Another id now sits in the saved note's file: its path is held by the
  // saved note's row, which stays (the file is there) but no longer matches.
  tv.write_file("notes/" + saved + ".md", note_text("other", "Other", "body"));
  tv.write_file("notes/fine.md", note_text("fine", "Fine", "body"));
  VaultComparison c = compare();
  auto applied = apply_reindex(*vault, c);
  ASSERT_TRUE(is_ok(applied));
  EXPECT_EQ(applied->indexed, std::vector<std::string>{"fine"});
  ASSERT_EQ(applied->failed.size(), 1u);
  EXPECT_EQ(applied->failed[0].path, "notes/" + saved + ".md");
  EXPECT_EQ(applied->deleted, std::vector<std::string>{saved});
}

TEST_F(Reindex, ProgressCountsEveryStep) {
  tv.write_file("notes/a.md", note_text("a", "A", "x"));
  tv.write_file("notes/b.md", note_text("b", "B", "y"));
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  auto applied = apply_reindex(*vault, compare(),
                               {std::chrono::milliseconds(100), [&](std::size_t d, std::size_t t) { seen.push_back({d, t}); }});
  ASSERT_TRUE(is_ok(applied));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.back(), (std::pair<std::size_t, std::size_t>{4, 4}));
}

// The run widens the connection's page cache and WAL checkpoint interval for
// itself; the server's calls after it must find the connection as it was.
TEST_F(Reindex, ConnectionSettingsComeBackAfterTheRun) {
  auto pragma = [&](const char* name) {
    auto stmt = prepare(vault->db(), std::string("PRAGMA ") + name);
    EXPECT_TRUE(is_ok(stmt));
    EXPECT_TRUE(stmt && stmt->step().value_or(false));
    return stmt ? stmt->column_int64(0) : -1;
  };
  const std::int64_t cache = pragma("cache_size"), checkpoint = pragma("wal_autocheckpoint");
  tv.write_file("notes/a.md", note_text("a", "A", "x"));
  ASSERT_TRUE(is_ok(apply_reindex(*vault, compare())));
  EXPECT_EQ(pragma("cache_size"), cache);
  EXPECT_EQ(pragma("wal_autocheckpoint"), checkpoint);
}

// Names where text order and component order part: "-" and " " sort
// below "/" as bytes, above it as components.
TEST_F(Reindex, NotesAreListedInPathOrder) {
  const std::vector<std::string> names = {"a-b.md", "a/b.md", "a.md", "a b.md", "a/a/z.md", "ab.md", "a/-.md", "a0.md"};
  std::vector<fs::path> want;
  for (std::size_t i = 0; i < names.size(); ++i) {
    tv.write_file("notes/" + names[i], note_text("n" + std::to_string(i), "N" + std::to_string(i), "x"));
    want.push_back(tv.notes() / names[i]);
  }
  std::sort(want.begin(), want.end());
  std::vector<fs::path> got;
  for (const NoteChange& change : compare().to_index) got.push_back(change.note.path);
  EXPECT_EQ(got, want);
}

// Tags and metas are compared as JSON values: another program's spelling
// of the same value is in step, a different value is not.
TEST_F(Reindex, JsonColumnsCompareAsValues) {
  tv.write_file("notes/m.md", "---\nid: m\ntitle: M\ntags: [x, \"q\\\"\"]\nmetas:\n  b: '2'\n  a: '1'\n"
                              "updated: 2024-01-01T00:00:00Z\n---\nbody");
  ASSERT_TRUE(is_ok(apply_reindex(*vault, compare())));
  struct Case { std::string_view tags, metas, differs; };
  for (const Case& c : {Case{R"(["x","q\""])", R"({"a":"1","b":"2"})", ""},
                        Case{R"([ "x", "q\u0022" ])", R"({ "b": "2", "a": "1" })", ""},
                        Case{R"(["x"])", R"({"a":"1","b":"2"})", "tags"},
                        Case{R"(["x","q\""])", R"({"a":"1"})", "metas"},
                        Case{"not json", R"({"a":"1","b":"2"})", "tags"}}) {
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET tags_json = ?1, metas_json = ?2 WHERE id = 'm'",
                                    c.tags, c.metas)));
    VaultComparison now = compare();
    std::string differs;
    for (const NoteChange& change : now.to_index)
      for (const std::string& what : change.differs) differs += what;
    EXPECT_EQ(differs, c.differs) << c.tags << ' ' << c.metas;
  }
}

}  // namespace
}  // namespace core
