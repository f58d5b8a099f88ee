#include "sync/reindex.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "sync/vault_compare.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

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

// Another writer (the desktop application, a server) may save between the
// comparison and the moment the run holds the write lock: each note is
// then decided from the file and the row as they are under the lock.
TEST_F(Reindex, AWriterBetweenTheComparisonAndTheLockIsNotUndone) {
  BT_REQUIRE_LINKS();
  const std::string a = save("Alpha", "first words");
  const std::string g = save("Gee", "gee words");
  const std::string b = save("Bee", "bee words");
  tv.write_file("notes/" + a + ".md", note_text(a, "Hand title", "hand words"));
  fs::remove(tv.notes() / (g + ".md"));
  tv.write_file("notes/" + b + ".md", note_text(b, "Bee two", "bee words"));
  tv.write_file("notes/named-apart.md", note_text("apart", "Apart", "its file name is not its id"));
  fs::create_symlink(tv.notes() / "nowhere.md", tv.notes() / "dangling.md");
  VaultComparison stale = compare();
  ASSERT_EQ(stale.gone, std::vector<std::string>{g});
  ASSERT_EQ(stale.to_index.size(), 3u);

  {  // the second writer, on its own connection, commits before the run begins
    auto other = open_vault(tv.root());
    ASSERT_TRUE(is_ok(other));
    ASSERT_TRUE(is_ok(upsert_note(*other, {"Second title", "second words", a, std::nullopt, {}})));
    ASSERT_TRUE(is_ok(upsert_note(*other, {"Gee again", "back again", g, std::nullopt, {}})));
  }
  // and a person saves b once more by hand, without the index
  tv.write_file("notes/" + b + ".md", note_text(b, "Bee three", "bee words, longer now"));

  auto applied = apply_reindex(*vault, stale);
  ASSERT_TRUE(is_ok(applied));
  EXPECT_EQ(*title_by_id(*vault, a), std::optional<std::string>("Second title"));
  EXPECT_EQ(*path_by_id(*vault, g), std::optional<std::string>("notes/" + g + ".md"));
  EXPECT_EQ(*title_by_id(*vault, b), std::optional<std::string>("Bee three"));
  EXPECT_EQ(*path_by_id(*vault, "apart"), std::optional<std::string>("notes/named-apart.md"));
  EXPECT_TRUE(applied->deleted.empty());
  std::vector<std::string> untouched = applied->in_step_by_then, indexed = applied->indexed;
  std::sort(untouched.begin(), untouched.end());
  std::sort(indexed.begin(), indexed.end());
  EXPECT_EQ(untouched, (std::vector<std::string>{std::min(a, g), std::max(a, g)}));
  EXPECT_EQ(indexed, (std::vector<std::string>{std::min<std::string>("apart", b), std::max<std::string>("apart", b)}));
  VaultComparison after = compare();
  EXPECT_TRUE(after.to_index.empty());
  EXPECT_TRUE(after.gone.empty());
  EXPECT_EQ(after.unreadable.size(), 1u);  // the dangling link, left alone
}

// A folder link below notes/ is part of the vault, as the store writes
// through it; a loop of links, or a second link to a folder, is walked once
// and by the folder's own path when it has one.
TEST_F(Reindex, NotesInLinkedFoldersAreSeen) {
  BT_REQUIRE_LINKS();
  testing::TempDir outside;
  fs::create_directories(tv.notes() / "sub");
  fs::create_symlink(outside.path(), tv.notes() / "linked");
  fs::create_symlink(tv.notes(), outside.path() / "back");      // a loop
  fs::create_symlink(tv.notes() / "sub", tv.notes() / "alias");  // sorts before sub
  const std::string moved = save("Moved", "into the linked folder");
  ASSERT_TRUE(is_ok(move_note(*vault, moved, "linked")));
  ASSERT_TRUE(fs::exists(outside.path() / (moved + ".md")));
  tv.write_file("notes/sub/s.md", note_text("s", "Sub", "in a real folder"));
  std::ofstream(outside.path() / "hand.md") << note_text("hand", "Hand", "written in the linked folder");

  VaultComparison c = compare();
  EXPECT_TRUE(c.gone.empty());
  EXPECT_TRUE(c.duplicates.empty());
  EXPECT_EQ(c.files, 3u);
  std::map<std::string, std::string> paths;
  for (const NoteChange& change : c.to_index) paths[change.note.frontmatter.id] = stored_path(tv.root(), change.note.path);
  EXPECT_EQ(paths, (std::map<std::string, std::string>{{"hand", "notes/linked/hand.md"}, {"s", "notes/sub/s.md"}}));
  auto applied = apply_reindex(*vault, c);
  ASSERT_TRUE(is_ok(applied));
  EXPECT_TRUE(applied->deleted.empty());
  EXPECT_EQ(*path_by_id(*vault, moved), std::optional<std::string>("notes/linked/" + moved + ".md"));
  EXPECT_TRUE(compare().in_step());
}

// Without its notes folder a vault says nothing about its notes.
TEST_F(Reindex, ANotesFolderThatCannotBeWalkedIsRefused) {
  BT_REQUIRE_LINKS();
  save("Kept", "its row must stay");
  struct Case { std::function<void()> breaks; std::string problem; };
  testing::TempDir moved;
  EXPECT_EQ(notes_folder_problem(tv.root()), std::nullopt);
  const std::vector<Case> cases = {
      {[&] { fs::rename(tv.notes(), moved.path() / "n"); fs::create_symlink(moved.path() / "gone", tv.notes()); },
       "notes/ is a link that leads nowhere"},
      {[&] { fs::remove(tv.notes()); }, "notes/ is missing"},
      {[&] { tv.write_file("notes", "a plain file"); }, "notes/ is not a folder"},
  };
  for (const Case& c : cases) {
    c.breaks();
    EXPECT_EQ(notes_folder_problem(tv.root()), std::optional<std::string>(c.problem));
    auto compared = compare_vault(*vault);
    ASSERT_FALSE(compared) << c.problem;
    EXPECT_EQ(to_text(compared.error()), c.problem);
  }
}

// A run whose notes folder goes away after the comparison marks nothing
// deleted.
TEST_F(Reindex, NoDeletionsWhenTheNotesFolderWentAwayDuringTheRun) {
  const std::string id = save("Kept", "its row must stay");
  fs::remove(tv.notes() / (id + ".md"));
  VaultComparison c = compare();
  ASSERT_EQ(c.gone, std::vector<std::string>{id});
  fs::remove(tv.notes());
  auto applied = apply_reindex(*vault, c);
  ASSERT_FALSE(applied);
  EXPECT_EQ(to_text(applied.error()), "notes/ is missing");
  EXPECT_EQ(*path_by_id(*vault, id), std::optional<std::string>("notes/" + id + ".md"));
}

#ifndef _WIN32  // POSIX permissions and users
// A folder that cannot be listed holds notes that are unknown, not gone:
// their rows stay, and the folder is named as a problem. Root lists every
// folder, so the comparison runs in a child that has given up root.
TEST_F(Reindex, AFolderThatCannotBeListedIsNotEmpty) {
  const std::string id = save("Locked", "in a folder no one may list");
  ASSERT_TRUE(is_ok(move_note(*vault, id, "locked")));
  vault.reset();
  for (const auto& entry : fs::recursive_directory_iterator(tv.root()))
    fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(tv.root(), fs::perms::all, fs::perm_options::add);
  fs::permissions(tv.notes() / "locked", fs::perms::none);

  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string report = "cannot drop root";
    if (::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0)) {
      auto opened = open_vault(tv.root());
      auto c = opened ? compare_vault(*opened) : Result<VaultComparison>(std::unexpected(opened.error()));
      if (!c) {
        report = to_text(c.error());
      } else {
        report = "gone " + std::to_string(c->gone.size());
        for (const FileProblem& p : c->unreadable) report += "; " + p.path + ": " + p.error;
      }
    }
    (void)!::write(pipe_ends[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipe_ends[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  fs::permissions(tv.notes() / "locked", fs::perms::owner_all);
  EXPECT_EQ(report, "gone 0; notes/locked: IO error: the folder cannot be listed: Permission denied");
}
#endif

// One refused note in a batch: the batch rolls back and is written again
// note by note, so the notes before and after the refused one are indexed
// with their links, and the refused one leaves no row and no link behind.
TEST_F(Reindex, ABatchReplayedAroundARefusedNoteKeepsTheOthersAndNoLinksOfIt) {
  tv.write_file("notes/a-first.md", note_text("first", "First", "see [[Last]]"));
  tv.write_file("notes/m-taken.md", note_text("taken", "Taken", "links [[First]]"));
  tv.write_file("notes/z-last.md", note_text("last", "Last", "back to [[First]]"));
  // The row of `holder` claims m-taken.md: indexing `taken` there fails
  // (the holder's own file sorts after it, so its row still holds the path).
  const std::string holder = "y-holder";
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Holder", "owns the path", holder, std::nullopt, {}})));
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = 'notes/m-taken.md' WHERE id = ?1", holder)));
  VaultComparison c = compare();
  auto applied = apply_reindex(*vault, c);
  ASSERT_TRUE(is_ok(applied));
  std::vector<std::string> indexed = applied->indexed;
  std::sort(indexed.begin(), indexed.end());
  EXPECT_EQ(indexed, (std::vector<std::string>{"first", "last", "y-holder"}));  // the holder's path is mended
  ASSERT_EQ(applied->failed.size(), 1u);
  EXPECT_EQ(applied->failed[0].path, "notes/m-taken.md");
  EXPECT_EQ(link_target("first"), "last");
  EXPECT_EQ(link_target("last"), "first");
  EXPECT_EQ(link_target("taken"), "(none)");
  EXPECT_EQ(*path_by_id(*vault, "taken"), std::nullopt);
}

}  // namespace
}  // namespace core
