#include "store/note_store.hpp"

#include "index/index_db.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "index/backlinks.hpp"
#include "index/indexer.hpp"
#include "note/note_file.hpp"
#include "store/note_paths.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::drop;
using testing::is_ok;

class NoteStore : public testing::VaultTest {
 protected:
  UpsertNoteResult upsert(std::string title, std::string body, std::optional<std::string> id = std::nullopt,
                          std::map<std::string, std::string> metas = {}) {
    auto r = upsert_note(*vault, {std::move(title), std::move(body), std::move(id), std::nullopt, std::move(metas)});
    EXPECT_TRUE(is_ok(r));
    return r ? *r : UpsertNoteResult{};
  }

  std::string file_of(const std::string& id) {
    auto note = get_note(*vault, id);
    return note ? tv.read_file(note->path.lexically_relative(tv.root())) : std::string();
  }

  std::optional<std::string> stored_path(const std::string& id) {
    auto path = path_by_id(*vault, id);
    return path ? *path : std::nullopt;
  }

  void set_stored_path(const std::string& id, std::string_view stored) {
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = ?1 WHERE id = ?2", std::string(stored), id)));
  }

};

TEST_F(NoteStore, NewNotesGoToNotesUnderTheirId) {
  UpsertNoteResult made = upsert("  Weekly #plan  ", "\n\n body \n\n");
  EXPECT_TRUE(made.created);
  EXPECT_EQ(made.title, "Weekly #plan");
  EXPECT_TRUE(fs::exists(tv.notes() / (made.id + ".md")));
  auto note = get_note(*vault, made.id);
  ASSERT_TRUE(is_ok(note));
  EXPECT_EQ(note->body, "body");
  EXPECT_EQ(note->frontmatter.tags, std::vector<std::string>{"plan"});
  EXPECT_TRUE(note->frontmatter.created_at.has_value());
  EXPECT_EQ(note->frontmatter.updated, made.updated);
  EXPECT_EQ(stored_path(made.id), "notes/" + made.id + ".md");

  UpsertNoteResult named = upsert("Named", "b", "given-id");
  EXPECT_TRUE(named.created);
  EXPECT_EQ(named.id, "given-id");
  EXPECT_TRUE(fs::exists(tv.notes() / "given-id.md"));

  EXPECT_EQ(to_text(upsert_note(*vault, {" ", "b", {}, {}, {}}).error()), "title is required");
  EXPECT_EQ(to_text(upsert_note(*vault, {"t", " \n\t", {}, {}, {}}).error()), "body is required");
  EXPECT_EQ(to_text(get_note(*vault, "nope").error()), "note not found: nope");
}

TEST_F(NoteStore, UpdatesKeepPlaceCreationAndExtraKeys) {
  tv.write_file("notes/sub/hand.md",
                "---\nid: hand\ntitle: Old #x\ntags:\n- x\nmetas:\n  a: '1'\ncreated_at: C\nupdated: U\nzeta: [1, 2]\n---\nold\n");
  UpsertNoteResult r = upsert("New title", "new body", " hand ", {{"b", "2"}});
  EXPECT_FALSE(r.created);
  EXPECT_EQ(r.id, "hand");
  auto note = get_note(*vault, "hand");
  ASSERT_TRUE(is_ok(note));
  EXPECT_EQ(note->path, tv.notes() / "sub" / "hand.md");
  EXPECT_EQ(note->frontmatter.created_at, "C");
  EXPECT_TRUE(note->frontmatter.tags.empty());
  EXPECT_EQ(note->frontmatter.metas, (std::map<std::string, std::string>{{"b", "2"}}));
  EXPECT_EQ(note->frontmatter.extra.count("zeta"), 1u);
  EXPECT_EQ(note->body, "new body");
  EXPECT_FALSE(fs::exists(tv.notes() / "hand.md"));
  EXPECT_EQ(stored_path("hand"), "notes/sub/hand.md");
}

TEST_F(NoteStore, AnUnreadableFileIsNeverReplacedByANewNote) {
  const std::string broken = "---\nid: bad\ntitle: never closed\n";
  tv.write_file("notes/bad.md", broken);
  auto r = upsert_note(*vault, {"Title", "Body", "bad", {}, {}});
  ASSERT_FALSE(r);
  EXPECT_EQ(to_text(r.error()), "unclosed frontmatter");
  EXPECT_EQ(tv.read_file("notes/bad.md"), broken);
}

TEST_F(NoteStore, StaleIndexPathsFallBackToTheFileName) {
  UpsertNoteResult r = upsert("Wanderer", "body");
  fs::create_directories(tv.notes() / "elsewhere");
  fs::rename(tv.notes() / (r.id + ".md"), tv.notes() / "elsewhere" / (r.id + ".md"));

  auto found = get_note(*vault, r.id);
  ASSERT_TRUE(is_ok(found));
  EXPECT_EQ(found->path, tv.notes() / "elsewhere" / (r.id + ".md"));
  upsert("Wanderer", "updated body", r.id);
  EXPECT_EQ(stored_path(r.id), "notes/elsewhere/" + r.id + ".md");

  fs::rename(tv.notes() / "elsewhere" / (r.id + ".md"), tv.notes() / (r.id + ".md"));
  ASSERT_TRUE(is_ok(move_note(*vault, r.id, "target")));
  EXPECT_TRUE(fs::exists(tv.notes() / "target" / (r.id + ".md")));
  EXPECT_FALSE(fs::exists(tv.notes() / (r.id + ".md")));

  fs::rename(tv.notes() / "target" / (r.id + ".md"), tv.notes() / (r.id + ".md"));
  ASSERT_TRUE(is_ok(delete_note(*vault, r.id)));
  EXPECT_FALSE(fs::exists(tv.notes() / (r.id + ".md")));
  EXPECT_EQ(stored_path(r.id), std::nullopt);
}

TEST_F(NoteStore, RetitlingRewritesLinksInLinkingNotesOnly) {
  UpsertNoteResult alpha = upsert("Alpha", "I am [[alpha]] myself");
  UpsertNoteResult linker = upsert("Linker", "see [[Alpha]] and [[ ALPHA ]]");
  UpsertNoteResult bystander = upsert("Bystander", "nothing here");
  const std::string bystander_file = file_of(bystander.id);
  const std::string linker_updated = get_note(*vault, linker.id)->frontmatter.updated;

  upsert("ALPHA", "I am [[alpha]] myself", alpha.id);  // case only: nothing to rewrite
  EXPECT_EQ(get_note(*vault, linker.id)->body, "see [[Alpha]] and [[ ALPHA ]]");

  upsert("Beta", "I am [[alpha]] myself", alpha.id);
  auto linked = get_note(*vault, linker.id);
  ASSERT_TRUE(is_ok(linked));
  EXPECT_EQ(linked->body, "see [[Beta]] and [[Beta]]");
  EXPECT_NE(linked->frontmatter.updated, linker_updated);
  EXPECT_EQ(get_note(*vault, alpha.id)->body, "I am [[Beta]] myself");
  EXPECT_EQ(file_of(bystander.id), bystander_file);
}

// Regression: a rename used to rewrite the links whose text looked like the
// old title once white space of every kind was cut, though the index (its
// lookups and backlinks) holds that [[Target]] does not name a title ending
// in a tab. A rename now rewrites only what the index counts as links to it.
TEST_F(NoteStore, RetitlingAHandWrittenTitleEndingInATabLeavesLookalikeLinks) {
  tv.write_file("notes/hand-written.md", "---\nid: target01\ntitle: \"Target\\t\"\nupdated: U\n---\nself [[Target]]\n");
  auto hand = read_note_file(tv.notes() / "hand-written.md");
  ASSERT_TRUE(is_ok(hand));
  ASSERT_EQ(hand->frontmatter.title, "Target\t");
  ASSERT_TRUE(is_ok(index_note(*vault, *hand)));
  // Found by the rename through its address; its title link is no link to
  // "Target\t" by the index's rule.
  UpsertNoteResult linker = upsert("Linker", "see brask-tolvane://target01 and [[Target]]");
  ASSERT_TRUE(is_ok(list_backlinks(*vault, "target01")));
  EXPECT_EQ(list_backlinks(*vault, "target01")->size(), 1u);  // by its address only

  upsert("Goal", "self [[Target]]", "target01");
  EXPECT_EQ(get_note(*vault, linker.id)->body, "see brask-tolvane://target01 and [[Target]]");
  EXPECT_EQ(get_note(*vault, "target01")->body, "self [[Target]]");
  EXPECT_EQ(stored_path("target01"), "notes/hand-written.md");
}

TEST_F(NoteStore, RetitlingSucceedsAfterALinkingNoteWasDeleted) {
  UpsertNoteResult alpha = upsert("Alpha", "target");
  UpsertNoteResult gone = upsert("Gone", "links [[Alpha]]");
  UpsertNoteResult kept = upsert("Kept", "links [[Alpha]]");
  ASSERT_TRUE(is_ok(delete_note(*vault, gone.id)));
  auto r = upsert_note(*vault, {"Beta", "target", alpha.id, {}, {}});
  ASSERT_TRUE(is_ok(r));
  EXPECT_EQ(get_note(*vault, kept.id)->body, "links [[Beta]]");
  EXPECT_FALSE(fs::exists(tv.notes() / (gone.id + ".md")));
}

TEST_F(NoteStore, SetMetasMergesOrReplaces) {
  UpsertNoteResult r = upsert("M", "b", std::nullopt, {{"a", "1"}, {"b", "1"}});
  auto merged = set_metas(*vault, " " + r.id + " ", {{"b", "2"}}, false);
  ASSERT_TRUE(is_ok(merged));
  EXPECT_EQ(merged->metas, (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}}));
  EXPECT_NE(merged->updated, r.updated);
  auto replaced = set_metas(*vault, r.id, {{"b", "2"}}, true);
  ASSERT_TRUE(is_ok(replaced));
  EXPECT_EQ(replaced->metas, (std::map<std::string, std::string>{{"b", "2"}}));
  EXPECT_EQ(get_note(*vault, r.id)->frontmatter.metas, replaced->metas);
  EXPECT_EQ(to_text(set_metas(*vault, "  ", {}, false).error()), "id is required");
  EXPECT_EQ(to_text(set_metas(*vault, "missing", {}, false).error()), "note not found: missing");
}

TEST_F(NoteStore, MovesStayInsideNotes) {
  UpsertNoteResult r = upsert("Mover", "b");
  struct Case { std::string_view folder; fs::path want; };
  for (const Case& c : {Case{"projects/2024", tv.notes() / "projects" / "2024"}, Case{"../../outside", tv.notes() / "outside"},
                        Case{"", tv.notes()}, Case{"a\\b", tv.notes() / "a" / "b"}, Case{"/", tv.notes()}}) {
    ASSERT_TRUE(is_ok(move_note(*vault, r.id, c.folder))) << c.folder;
    EXPECT_EQ(get_note(*vault, r.id)->path, c.want / (r.id + ".md")) << c.folder;
    EXPECT_EQ(folder_of(*stored_path(r.id)), normalize_folder(c.folder)) << c.folder;
  }
  ASSERT_TRUE(is_ok(move_note(*vault, r.id, "projects/2024")));
  EXPECT_FALSE(fs::exists(tv.notes() / (r.id + ".md")));
  const std::string before = file_of(r.id);
  ASSERT_TRUE(is_ok(move_note(*vault, r.id, "/projects//2024/")));  // same place: nothing written
  EXPECT_EQ(file_of(r.id), before);
  EXPECT_FALSE(fs::exists(tv.root() / "outside"));
}

TEST_F(NoteStore, AHandWrittenNoteMovesWithoutLeavingACopy) {
  tv.write_file("notes/inbox/hand.md", "---\nid: hand\ntitle: Hand\nupdated: U\n---\nbody\n");
  ASSERT_TRUE(is_ok(move_note(*vault, "hand", "done")));
  EXPECT_TRUE(fs::exists(tv.notes() / "done" / "hand.md"));
  EXPECT_FALSE(fs::exists(tv.notes() / "inbox" / "hand.md"));
}

TEST_F(NoteStore, DeletesFindTheFileThroughTheIndexOrByName) {
  UpsertNoteResult indexed = upsert("Indexed", "b");
  ASSERT_TRUE(is_ok(move_note(*vault, indexed.id, "deep/er")));
  tv.write_file("notes/x/y/loose.md", "---\nid: loose\ntitle: Loose\nupdated: U\n---\n");
  for (const std::string& id : {indexed.id, std::string("loose")}) {
    ASSERT_TRUE(is_ok(delete_note(*vault, id))) << id;
    EXPECT_EQ(to_text(get_note(*vault, id).error()), "note not found: " + id);
  }
  EXPECT_FALSE(fs::exists(tv.notes() / "deep" / "er" / (indexed.id + ".md")));
  EXPECT_FALSE(fs::exists(tv.notes() / "x" / "y" / "loose.md"));
  EXPECT_TRUE(is_ok(delete_note(*vault, "never-existed")));
}

TEST_F(NoteStore, UnsafeIdsNeverBecomePaths) {
  tv.write_file("outside.md", "---\nid: x\ntitle: Outside\nupdated: U\n---\nsecret\n");
  tv.write_file("notes/..md", "---\nid: y\ntitle: Dots\nupdated: U\n---\n");
  for (const std::string& id : std::vector<std::string>{"../outside", "..", ".", "a/b", "a\\b", std::string("a\0b", 3)}) {
    EXPECT_EQ(to_text(get_note(*vault, id).error()), "note not found: " + id);
    EXPECT_EQ(to_text(upsert_note(*vault, {"T", "B", id, {}, {}}).error()), "invalid note id: " + id);
    EXPECT_EQ(to_text(move_note(*vault, id, "").error()), "note not found: " + id);
    EXPECT_TRUE(is_ok(delete_note(*vault, id)));
  }
  EXPECT_TRUE(fs::exists(tv.root() / "outside.md"));
  EXPECT_TRUE(fs::exists(tv.notes() / "..md"));
}

TEST_F(NoteStore, StoredPathsThatClimbOutOfNotesAreNotUsed) {
  tv.write_file("outside.md", "---\nid: victim\ntitle: Outside\nupdated: U\n---\nkeep me\n");
  UpsertNoteResult r = upsert("Victim", "inside", "victim");
  for (std::string_view stored : {"notes/../outside.md", "../outside.md", "/etc/hostname", "outside.md",
                                  "notes/a/../../outside.md", "notes\\..\\outside.md", "./../outside.md",
                                  "notes/./../outside.md", "\\outside.md", "notes", "notes/.", "notes/a/.."}) {
    ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = ?1 WHERE id = ?2", std::string(stored),
                                    r.id)));
    auto note = get_note(*vault, r.id);
    ASSERT_TRUE(is_ok(note)) << stored;
    EXPECT_EQ(note->path, tv.notes() / "victim.md") << stored;
  }
  ASSERT_TRUE(is_ok(delete_note(*vault, r.id)));
  EXPECT_EQ(tv.read_file("outside.md"), "---\nid: victim\ntitle: Outside\nupdated: U\n---\nkeep me\n");
  EXPECT_FALSE(fs::exists(tv.notes() / "victim.md"));
}

// A stored path spelled with "." components, "\\" separators or a ".." that
// stays below `notes` names the same file as its plain form. The file is
// named apart from its id, so only the stored path can lead to it.
TEST_F(NoteStore, StoredPathsWithDotComponentsAreFollowed) {
  for (std::string_view stored : {"./notes/a/n.md", "notes/./a/n.md", "notes\\a\\n.md", "notes//a/./n.md",
                                  "notes/b/../a/n.md", "./notes/../notes/a/n.md"}) {
    SCOPED_TRACE(stored);
    const std::string id = "k";
    upsert("Dotted #dot", "body", id);
    fs::create_directories(tv.notes() / "a");
    fs::rename(tv.notes() / "k.md", tv.notes() / "a" / "n.md");
    set_stored_path(id, stored);

    auto note = get_note(*vault, id);
    ASSERT_TRUE(is_ok(note));
    EXPECT_EQ(note->path, tv.notes() / "a" / "n.md");
    ASSERT_TRUE(is_ok(move_note(*vault, id, "c")));
    EXPECT_TRUE(fs::exists(tv.notes() / "c" / "k.md"));
    EXPECT_FALSE(fs::exists(tv.notes() / "a" / "n.md"));

    fs::rename(tv.notes() / "c" / "k.md", tv.notes() / "a" / "n.md");
    set_stored_path(id, stored);
    ASSERT_TRUE(is_ok(delete_note(*vault, id)));
    EXPECT_FALSE(fs::exists(tv.notes() / "a" / "n.md"));
    EXPECT_EQ(stored_path(id), std::nullopt);
  }
}

// Two spellings of one file: the save writes the file, then must not remove
// it as the "previous" one.
TEST_F(NoteStore, AMoveNeverRemovesTheFileItJustWrote) {
  BT_REQUIRE_LINKS();
  upsert("Dotted", "b", "n");
  fs::create_directories(tv.notes() / "a");
  fs::rename(tv.notes() / "n.md", tv.notes() / "a" / "n.md");
  set_stored_path("n", "notes/./a/n.md");
  ASSERT_TRUE(is_ok(move_note(*vault, "n", "a")));
  ASSERT_TRUE(is_ok(get_note(*vault, "n")));
  EXPECT_TRUE(fs::exists(tv.notes() / "a" / "n.md"));

  fs::create_directories(tv.notes() / "real");
  fs::create_directory_symlink("real", tv.notes() / "alias");
  upsert("Linked", "b", "l");
  ASSERT_TRUE(is_ok(move_note(*vault, "l", "alias")));
  ASSERT_TRUE(is_ok(move_note(*vault, "l", "real")));
  auto linked = get_note(*vault, "l");
  ASSERT_TRUE(is_ok(linked));
  EXPECT_EQ(linked->path, tv.notes() / "real" / "l.md");
  EXPECT_EQ(stored_path("l"), "notes/real/l.md");
}

// A hard link is a second name of the old inode; the write replaces the
// target's inode, so the old name is a stale copy and goes.
TEST_F(NoteStore, AMoveOntoAHardLinkedNameLeavesOneCurrentFile) {
  upsert("Hard", "old body", "h");
  ASSERT_TRUE(is_ok(move_note(*vault, "h", "x")));
  fs::create_directories(tv.notes() / "y");
  fs::create_hard_link(tv.notes() / "x" / "h.md", tv.notes() / "y" / "h.md");
  ASSERT_TRUE(is_ok(move_note(*vault, "h", "y")));
  EXPECT_FALSE(fs::exists(tv.notes() / "x" / "h.md"));
  auto note = get_note(*vault, "h");
  ASSERT_TRUE(is_ok(note));
  EXPECT_EQ(note->path, tv.notes() / "y" / "h.md");
  EXPECT_EQ(note->body, "old body");
  EXPECT_EQ(fs::hard_link_count(note->path), 1u);
}

TEST_F(NoteStore, DeleteRefusesWhatIsNotAFile) {
  BT_REQUIRE_LINKS();
  upsert("Dir", "b", "d");
  fs::remove(tv.notes() / "d.md");
  fs::create_directory(tv.notes() / "d.md");
  auto deleted = delete_note(*vault, "d");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(to_text(deleted.error()), "IO error: Is a directory");
  EXPECT_TRUE(fs::is_directory(tv.notes() / "d.md"));
  EXPECT_EQ(stored_path("d"), "notes/d.md");

  upsert("Linked", "b", "s");
  fs::rename(tv.notes() / "s.md", tv.notes() / "target.md");
  fs::create_symlink("target.md", tv.notes() / "s.md");
  ASSERT_TRUE(is_ok(delete_note(*vault, "s")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tv.notes() / "s.md")));
  EXPECT_TRUE(fs::exists(tv.notes() / "target.md"));
}

// Another connection holds the index's write lock, as a second server or the
// desktop application would: every change fails before touching a file. The
// vault's busy wait is cut from 5 s to nothing so that the test need not sit
// it out once per case.
TEST_F(NoteStore, AChangeThatCannotHaveTheWriteLockWritesNothing) {
  upsert("Target", "body", "target", {{"k", "v"}});
  upsert("Linker", "see [[Target]]", "linker");
  const auto before = tv.files();

  auto other = open_database(tv.root() / ".brask-tolvane" / "index.db");
  ASSERT_TRUE(is_ok(other));
  ASSERT_TRUE(is_ok(exec(other->get(), "BEGIN IMMEDIATE")));
  sqlite3_busy_timeout(vault->db(), 0);

  struct Case { std::string name; std::function<Result<void>()> change; };
  const std::vector<Case> cases = {
      {"upsert (retitle)", [&] { return drop(upsert_note(*vault, {"Renamed", "body", "target", std::nullopt, {}})); }},
      {"upsert (new)", [&] { return drop(upsert_note(*vault, {"New", "body", "fresh", std::nullopt, {}})); }},
      {"set_metas", [&] { return drop(set_metas(*vault, "target", {{"n", "1"}}, false)); }},
      {"move_note", [&] { return move_note(*vault, "target", "elsewhere"); }},
      {"delete_note", [&] { return delete_note(*vault, "target"); }},
  };
  for (const Case& c : cases) {
    auto changed = c.change();
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "database error: database is locked") << c.name;
    EXPECT_EQ(tv.files(), before) << c.name;
  }
  ASSERT_TRUE(is_ok(exec(other->get(), "ROLLBACK")));
  EXPECT_EQ(get_note(*vault, "linker")->body, "see [[Target]]");
  EXPECT_TRUE(is_ok(set_metas(*vault, "target", {{"n", "1"}}, false)));  // the lock released, changes go through
}

// Read-only is what a person set on purpose, so it holds even for root.
TEST_F(NoteStore, ReadOnlyNotesAreNeitherRewrittenNorMoved) {
  upsert("Frozen", "body", "frozen");
  upsert("Target", "body", "target");
  upsert("Linker", "see [[Target]]", "linker");
  for (const char* id : {"frozen", "linker"}) fs::permissions(tv.notes() / (std::string(id) + ".md"), fs::perms(0444));
  const auto before = tv.files();

  struct Case { std::string name; std::function<Result<void>()> change; };
  const std::vector<Case> cases = {
      {"upsert", [&] { return drop(upsert_note(*vault, {"Frozen", "new body", "frozen", std::nullopt, {}})); }},
      {"set_metas", [&] { return drop(set_metas(*vault, "frozen", {{"n", "1"}}, false)); }},
      {"move_note", [&] { return move_note(*vault, "frozen", "elsewhere"); }},
  };
  for (const Case& c : cases) {
    auto changed = c.change();
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "IO error: Permission denied") << c.name;
    EXPECT_EQ(tv.files(), before) << c.name;
  }
  EXPECT_EQ(fs::status(tv.notes() / "frozen.md").permissions(), fs::perms(0444));

  // A retitle goes through and leaves the links inside a read-only note alone.
  upsert("Retitled", "body", "target");
  EXPECT_EQ(get_note(*vault, "linker")->body, "see [[Target]]");
  EXPECT_EQ(get_note(*vault, "target")->frontmatter.title, "Retitled");
}

}  // namespace
}  // namespace core
