#include "sync/vault_compare.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"
#include "store/note_store.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;

std::string note_text(std::string_view id, std::string_view title, std::string_view body) {
  return "---\nid: " + std::string(id) + "\ntitle: " + std::string(title) + "\nupdated: U\n---\n" + std::string(body);
}

class VaultCompare : public testing::VaultTest {
 protected:
  // `relative` written and indexed as it is.
  void indexed_file(const fs::path& relative, std::string_view id, std::string_view title, std::string_view body) {
    tv.write_file(relative, note_text(id, title, body));
    auto note = read_note_file(tv.root() / relative);
    ASSERT_TRUE(is_ok(note));
    ASSERT_TRUE(is_ok(index_note(*vault, *note)));
  }
  VaultComparison compare() {
    auto c = compare_vault(*vault);
    EXPECT_TRUE(is_ok(c));
    return c ? std::move(*c) : VaultComparison{};
  }
};

// Names that are not ids, a linked folder reached twice (a loop), notes the
// server wrote: all in step.
TEST_F(VaultCompare, FilesUnderOtherNamesAndLinkedFoldersAreInStep) {
  BT_REQUIRE_LINKS();
  testing::TempDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), tv.notes() / "linked");
  fs::create_directory_symlink(tv.notes(), elsewhere.path() / "loop");
  indexed_file("notes/renamed.md", "kept-id", "Kept", "body");
  indexed_file("notes/linked/far.md", "far-id", "Far", "body");
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Made", "by the server", "made", std::nullopt, {}})));
  const VaultComparison c = compare();
  EXPECT_TRUE(c.in_step()) << c.to_index.size() << " to index, " << c.gone.size() << " gone, "
                           << c.unreadable.size() << " unreadable";
  EXPECT_EQ(c.files, 3u);
  EXPECT_EQ(c.live_rows, 3u);
}

// Every way a file and its row part, each reported once and in order; a
// file that is not a regular file is left alone, never waited on.
TEST_F(VaultCompare, EachDifferenceIsReportedWhereItIs) {
  indexed_file("notes/retitled.md", "retitled", "Old", "same");
  indexed_file("notes/edited.md", "edited", "Same", "old body");
  indexed_file("notes/gone.md", "gone", "Gone", "b");
  tv.write_file("notes/retitled.md", note_text("retitled", "New", "same"));
  tv.write_file("notes/edited.md", note_text("edited", "Same", "new body"));
  fs::remove(tv.notes() / "gone.md");
  tv.write_file("notes/fresh.md", note_text("fresh", "Fresh", "b"));
  tv.write_file("notes/bad.md", "---\nid: [x\n---\n");
  tv.write_file("notes/plain.md", "no frontmatter\n");
  tv.write_file("notes/twin-a.md", note_text("twin", "A", "b"));
  tv.write_file("notes/twin-b.md", note_text("twin", "B", "b"));
  core::testing::make_named_pipe(tv.notes() / "pipe.md");

  const VaultComparison c = compare();
  ASSERT_EQ(c.to_index.size(), 3u);
  EXPECT_EQ(c.to_index[0].note.frontmatter.id, "edited");
  EXPECT_EQ(c.to_index[0].differs, std::vector<std::string>{"body"});
  EXPECT_EQ(c.to_index[1].note.frontmatter.id, "fresh");
  EXPECT_TRUE(c.to_index[1].is_new);
  EXPECT_EQ(c.to_index[2].note.frontmatter.id, "retitled");
  EXPECT_EQ(c.to_index[2].differs, (std::vector<std::string>{"title", "body"}));  // the full-text row holds the title too
  EXPECT_EQ(c.gone, std::vector<std::string>{"gone"});
  ASSERT_EQ(c.unreadable.size(), core::testing::kHasNamedPipes ? 2u : 1u);  // Windows has no pipe to make
  EXPECT_EQ(c.unreadable[0].path, "notes/bad.md");
  EXPECT_TRUE(c.unreadable[0].error.starts_with("YAML error: ")) << c.unreadable[0].error;
  if (core::testing::kHasNamedPipes) {
    EXPECT_EQ(c.unreadable[1].path, "notes/pipe.md");
  }
  EXPECT_EQ(c.without_frontmatter, std::vector<std::string>{"notes/plain.md"});
  ASSERT_EQ(c.duplicates.size(), 1u);
  EXPECT_EQ(c.duplicates[0].paths, (std::vector<std::string>{"notes/twin-a.md", "notes/twin-b.md"}));
}

TEST_F(VaultCompare, ANotesFolderThatCannotBeWalkedIsNoComparison) {
  BT_REQUIRE_LINKS();
  fs::remove_all(tv.notes());
  EXPECT_EQ(notes_folder_problem(tv.root()), "notes/ is missing");
  auto missing = compare_vault(*vault);
  ASSERT_FALSE(missing);
  EXPECT_EQ(to_text(missing.error()), "notes/ is missing");
  fs::create_directory_symlink(tv.root() / "nowhere", tv.notes());
  EXPECT_EQ(notes_folder_problem(tv.root()), "notes/ is a link that leads nowhere");
  fs::remove(tv.notes());
  tv.write_file("notes", "a file");
  EXPECT_EQ(notes_folder_problem(tv.root()), "notes/ is not a folder");
}

// A second writer between the comparison and the write: a file written
// since is read again, and a row another connection brought in step needs
// nothing any more.
TEST_F(VaultCompare, ARecheckSeesWhatASecondWriterDid) {
  indexed_file("notes/n.md", "n", "T", "old");
  tv.write_file("notes/n.md", note_text("n", "T", "newer"));
  const VaultComparison c = compare();
  ASSERT_EQ(c.to_index.size(), 1u);
  tv.write_file("notes/n.md", note_text("n", "T", "newest, and longer"));
  auto again = recheck_change(*vault, c.to_index[0], false);
  ASSERT_TRUE(is_ok(again));
  ASSERT_TRUE(*again);
  EXPECT_EQ((*again)->note.body, "newest, and longer");

  auto writer = open_vault(tv.root());
  ASSERT_TRUE(is_ok(writer));
  auto note = read_note_file(tv.notes() / "n.md");
  ASSERT_TRUE(is_ok(note));
  ASSERT_TRUE(is_ok(index_note(*writer, *note)));
  auto done = recheck_change(*vault, **again, true);
  ASSERT_TRUE(is_ok(done));
  EXPECT_FALSE(*done);
}

// Differences only the full-text table, a deleted row or a folder's name
// show: each is found, and nothing else is.
TEST_F(VaultCompare, StaleFullTextDeletedRowsAndFoldersNamedLikeNotes) {
  indexed_file("notes/fts.md", "fts", "Fresh", "words");
  ASSERT_TRUE(is_ok(run_statement(vault->db(), "UPDATE notes_fts SET title = 'Stale' WHERE note_id = 'fts'")));
  indexed_file("notes/back.md", "back", "Back", "kept");
  const std::string bytes = tv.read_file("notes/back.md");
  ASSERT_TRUE(is_ok(delete_note(*vault, "back")));
  tv.write_file("notes/back.md", bytes);  // put back by hand
  indexed_file("notes/folder.md/inner.md", "inner", "Inner", "in a folder named like a note");

  const VaultComparison c = compare();
  EXPECT_EQ(c.files, 3u);  // the folder is no file
  ASSERT_EQ(c.to_index.size(), 2u);
  EXPECT_EQ(c.to_index[0].note.frontmatter.id, "back");
  EXPECT_TRUE(c.to_index[0].is_new);
  EXPECT_EQ(c.to_index[1].note.frontmatter.id, "fts");
  EXPECT_FALSE(c.to_index[1].is_new);
  EXPECT_EQ(c.to_index[1].differs, std::vector<std::string>{"body"});
  EXPECT_TRUE(c.gone.empty());
  EXPECT_TRUE(c.unreadable.empty());
  EXPECT_EQ(c.live_rows, 2u);
}

}  // namespace
}  // namespace core
