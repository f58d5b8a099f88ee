// A note is the file that holds its id. A vault holds files the server did
// not write: a copy a file manager made, a sync tool's conflict copy, a
// file renamed by hand. No write ever changes, replaces or removes a file
// that holds another note.

#include "store/note_store.hpp"

#include "index/lookups.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"
#include "store/trash.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::drop;
using testing::is_ok;

std::string note_text(std::string_view id, std::string_view title, std::string_view body) {
  return "---\nid: " + std::string(id) + "\ntitle: " + std::string(title) + "\nupdated: U\n---\n" + std::string(body);
}

class NoteIdentity : public testing::VaultTest {
 protected:
  void upsert(const std::string& id, const std::string& title, const std::string& body) {
    ASSERT_TRUE(is_ok(upsert_note(*vault, {title, body, id, std::nullopt, {}})));
  }
  std::optional<std::string> stored_path(const std::string& id) {
    auto path = path_by_id(*vault, id);
    return path ? *path : std::nullopt;
  }
  std::optional<std::string> indexed_title(const std::string& id) {
    auto title = title_by_id(*vault, id);
    return title ? *title : std::nullopt;
  }
};

// notes/b.md is a copy of note a: every write by id b refuses, naming the
// file and what it holds, and neither a, nor the copy, nor the note that
// links to a changes. A read by id b answers the file as the note it holds.
TEST_F(NoteIdentity, ACopyOfANoteIsNeverWrittenAsAnotherNote) {
  upsert("a", "Alpha", "alpha body");
  upsert("c", "Linker", "see [[Alpha]]");
  fs::copy_file(tv.notes() / "a.md", tv.notes() / "b.md");
  const auto before = tv.files();
  const std::string refusal = "the file notes/b.md holds note a, not note b";

  struct Case { std::string name; std::function<Result<void>()> change; };
  const std::vector<Case> cases = {
      {"upsert", [&] { return drop(upsert_note(*vault, {"Bee", "bee body", "b", std::nullopt, {}})); }},
      {"set_metas", [&] { return drop(set_metas(*vault, "b", {{"k", "v"}}, false)); }},
      {"move_note", [&] { return move_note(*vault, "b", "elsewhere"); }},
  };
  for (const Case& c : cases) {
    auto changed = c.change();
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), refusal) << c.name;
    EXPECT_EQ(changed.error().kind(), ErrorKind::Conflict) << c.name;
    EXPECT_EQ(tv.files(), before) << c.name;
  }
  EXPECT_EQ(stored_path("a"), "notes/a.md");
  EXPECT_EQ(stored_path("b"), std::nullopt);
  EXPECT_EQ(indexed_title("a"), "Alpha");

  auto read = get_note(*vault, "b");
  ASSERT_TRUE(is_ok(read));
  EXPECT_EQ(read->frontmatter.id, "a");
  EXPECT_EQ(read->path, tv.notes() / "b.md");

  // Deleting b trashes the copy and leaves note a alone.
  ASSERT_TRUE(is_ok(delete_note(*vault, "b")));
  EXPECT_FALSE(fs::exists(tv.notes() / "b.md"));
  EXPECT_EQ(tv.read_file("notes/a.md"), before.at("notes/a.md"));
  EXPECT_EQ(stored_path("a"), "notes/a.md");
  auto trashed = list_trash(tv.root());
  ASSERT_TRUE(is_ok(trashed));
  ASSERT_EQ(trashed->size(), 1u);
  EXPECT_EQ((*trashed)[0].id, "b");
  EXPECT_EQ(tv.read_file((*trashed)[0].file.lexically_relative(tv.root())), before.at("notes/a.md"));
}

// The index still places note a in x.md, which a person has since given to
// note x; a's own file is a.md. Saving a writes a.md and never removes x.md
// as a's "previous" file.
TEST_F(NoteIdentity, ASaveNeverRemovesAFileThatHoldsAnotherNote) {
  upsert("a", "Alpha", "alpha body");
  tv.write_file("notes/x.md", note_text("x", "Ex", "x body"));
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = 'notes/x.md' WHERE id = 'a'")));

  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Alpha", "new body", "a", std::nullopt, {}})));
  EXPECT_EQ(tv.read_file("notes/x.md"), note_text("x", "Ex", "x body"));
  EXPECT_EQ(get_note(*vault, "a")->body, "new body");
  EXPECT_EQ(stored_path("a"), "notes/a.md");

  // A move of a out of the stale place does not take x.md with it either.
  ASSERT_TRUE(is_ok(move_note(*vault, "a", "moved")));
  EXPECT_EQ(tv.read_file("notes/x.md"), note_text("x", "Ex", "x body"));
  EXPECT_FALSE(fs::exists(tv.notes() / "a.md"));
}

// A hand rename made notes/p/x.md hold note y. Moving note x into p would
// write over y: the move refuses before anything is written.
TEST_F(NoteIdentity, AMoveNeverWritesOverAnotherFile) {
  BT_REQUIRE_LINKS();
  upsert("x", "Ex", "x body");
  tv.write_file("notes/p/x.md", note_text("y", "Why", "y body"));
  const auto before = tv.files();
  auto moved = move_note(*vault, "x", "p");
  ASSERT_FALSE(moved);
  EXPECT_EQ(to_text(moved.error()), "a file exists at notes/p/x.md");
  EXPECT_EQ(tv.files(), before);
  EXPECT_EQ(stored_path("x"), "notes/x.md");

  // What stands in the way need not be a note: a named pipe or a dangling
  // link is another file too.
  fs::create_directories(tv.notes() / "q");
  fs::create_symlink("nowhere.md", tv.notes() / "q" / "x.md");
  EXPECT_EQ(to_text(move_note(*vault, "x", "q").error()), "a file exists at notes/q/x.md");
  EXPECT_TRUE(fs::is_symlink(tv.notes() / "q" / "x.md"));

  // The note's own file reached through a linked folder is no other file.
  fs::create_directories(tv.notes() / "real");
  fs::create_directory_symlink("real", tv.notes() / "alias");
  ASSERT_TRUE(is_ok(move_note(*vault, "x", "real")));
  ASSERT_TRUE(is_ok(move_note(*vault, "x", "alias")));
  EXPECT_EQ(get_note(*vault, "x")->body, "x body");
}

// A retitle rewrites the links of the notes that link to the old title; a
// linking note's file that now holds another note is not rewritten.
TEST_F(NoteIdentity, ARetitleLeavesAFileThatHoldsAnotherNoteAlone) {
  upsert("a", "Alpha", "alpha body");
  upsert("c", "Linker", "see [[Alpha]]");
  upsert("d", "Other", "also [[Alpha]]");
  const std::string copied = tv.read_file("notes/d.md");
  tv.write_file("notes/c.md", copied);  // a sync tool's copy of d over c's name

  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Beta", "alpha body", "a", std::nullopt, {}})));
  EXPECT_EQ(tv.read_file("notes/c.md"), copied);
  EXPECT_EQ(get_note(*vault, "d")->body, "also [[Beta]]");
}

// Where the index places the note and its file name disagree, the file that
// holds the id is the note, whichever is found first.
TEST_F(NoteIdentity, TheFileThatHoldsTheIdWins) {
  upsert("a", "Alpha", "alpha body");
  fs::create_directories(tv.notes() / "sub");
  fs::rename(tv.notes() / "a.md", tv.notes() / "sub" / "renamed.md");
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = 'notes/sub/renamed.md' WHERE id = 'a'")));
  tv.write_file("notes/a.md", note_text("z", "Zed", "z body"));  // a.md now holds note z

  auto read = get_note(*vault, "a");
  ASSERT_TRUE(is_ok(read));
  EXPECT_EQ(read->path, tv.notes() / "sub" / "renamed.md");
  ASSERT_TRUE(is_ok(set_metas(*vault, "a", {{"k", "v"}}, false)));
  EXPECT_EQ(tv.read_file("notes/a.md"), note_text("z", "Zed", "z body"));
  EXPECT_EQ(get_note(*vault, "a")->frontmatter.metas.at("k"), "v");

  // A file without frontmatter names no id of its own: found as a.md it is
  // note a and reads with that id.
  tv.write_file("notes/plain.md", "just text");
  auto plain = get_note(*vault, "plain");
  ASSERT_TRUE(is_ok(plain));
  EXPECT_EQ(plain->frontmatter.id, "plain");
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Plain", "now with frontmatter", "plain", std::nullopt, {}})));
  EXPECT_EQ(get_note(*vault, "plain")->frontmatter.title, "Plain");
}

// Ids a person wrote by hand that cannot name a file, and ids so long that
// the trash must shorten its name for them: a delete that reports success
// has moved the note's file into the trash, and a restore brings it back.
TEST_F(NoteIdentity, EveryNoteThatExistsCanBeDeletedAndRestored) {
  struct Case { std::string id; std::string file; };
  const std::vector<Case> cases = {{"a/b", "notes/odd-slash.md"}, {"..", "notes/odd-dots.md"},
                                   {"x\\y", "notes/odd-back.md"}, {std::string(252, 'l'), ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    std::string file = c.file;
    if (file.empty()) {
      upsert(c.id, "Long", "odd body");
      file = "notes/" + c.id + ".md";
    } else {  // indexed as reindex indexes a hand-written file
      tv.write_file(file, note_text("'" + c.id + "'", "Odd", "odd body"));
      auto read = read_note_file(tv.root() / file);
      ASSERT_TRUE(is_ok(read));
      ASSERT_TRUE(is_ok(index_note(*vault, *read)));
    }
    const std::string bytes = tv.read_file(file);
    ASSERT_TRUE(is_ok(get_note(*vault, c.id)));

    ASSERT_TRUE(is_ok(delete_note(*vault, c.id)));
    EXPECT_FALSE(fs::exists(tv.root() / file));
    EXPECT_EQ(stored_path(c.id), std::nullopt);
    auto trashed = list_trash(tv.root());
    ASSERT_TRUE(is_ok(trashed));
    ASSERT_EQ(trashed->size(), 1u);
    EXPECT_EQ((*trashed)[0].id, c.id);
    EXPECT_EQ((*trashed)[0].original_path, file);

    auto restored = restore_from_trash(*vault, c.id, std::nullopt);
    ASSERT_TRUE(is_ok(restored));
    EXPECT_EQ(restored->path, file);
    EXPECT_EQ(tv.read_file(file), bytes);
    EXPECT_EQ(get_note(*vault, c.id)->body, "odd body");
    EXPECT_TRUE(is_ok(list_trash(tv.root())) && list_trash(tv.root())->empty());
  }
}

// Callers tell refusals apart by kind, never by text; each text stays as
// it was.
TEST_F(NoteIdentity, RefusalsCarryTheKindCallersActOn) {
  upsert("a", "Alpha", "alpha body");
  tv.write_file("notes/renamed.md", note_text("elsewhere", "Else", "b"));
  struct Case { std::string name; std::function<Result<void>()> change; ErrorKind kind; std::string text; };
  const std::vector<Case> cases = {
      {"missing", [&] { return drop(get_note(*vault, "gone")); }, ErrorKind::NotFound, "note not found: gone"},
      {"missing set_metas", [&] { return drop(set_metas(*vault, "gone", {}, false)); }, ErrorKind::NotFound,
       "note not found: gone"},
      {"blank title", [&] { return drop(upsert_note(*vault, {" \t", "b", std::nullopt, std::nullopt, {}})); },
       ErrorKind::Invalid, "title is required"},
      {"blank body", [&] { return drop(upsert_note(*vault, {"T", "\u00a0", std::nullopt, std::nullopt, {}})); },
       ErrorKind::Invalid, "body is required"},
      {"blank id", [&] { return drop(set_metas(*vault, " ", {}, false)); }, ErrorKind::Invalid, "id is required"},
      {"unsafe id", [&] { return drop(upsert_note(*vault, {"T", "b", "../x", std::nullopt, {}})); },
       ErrorKind::Invalid, "invalid note id: ../x"},
      {"NUL folder", [&] { return move_note(*vault, "a", std::string("p\0q", 3)); }, ErrorKind::Invalid,
       std::string("invalid folder: p\0q", 19)},
      {"renamed by hand", [&] { return move_note(*vault, "renamed", "p"); }, ErrorKind::Conflict,
       "the file notes/renamed.md holds note elsewhere, not note renamed"},
  };
  for (const Case& c : cases) {
    auto changed = c.change();
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(changed.error().kind(), c.kind) << c.name;
    EXPECT_EQ(to_text(changed.error()), c.text) << c.name;
  }
}

// A person renamed a.md to b.md and the index followed (reindex): b.md is
// note a's own file now, not a copy, and a delete by the name b refuses
// rather than take note a away.
TEST_F(NoteIdentity, ADeleteByAFileNameNeverTakesAnotherNotesOwnFile) {
  upsert("a", "Alpha", "alpha body");
  fs::rename(tv.notes() / "a.md", tv.notes() / "b.md");
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE note_files SET path = 'notes/b.md' WHERE id = 'a'")));
  const auto before = tv.files();
  auto deleted = delete_note(*vault, "b");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(to_text(deleted.error()), "the file notes/b.md holds note a, not note b");
  EXPECT_EQ(tv.files(), before);
  EXPECT_EQ(stored_path("a"), "notes/b.md");
  EXPECT_TRUE(tv.files(".brask-tolvane/trash").empty());
  ASSERT_TRUE(is_ok(delete_note(*vault, "a")));  // by its own id it goes
  EXPECT_FALSE(fs::exists(tv.notes() / "b.md"));
}

}  // namespace
}  // namespace core
