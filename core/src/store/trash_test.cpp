#include "store/trash.hpp"

#include "index/index_db.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"
#include "store/note_store.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::is_ok;
using namespace std::chrono_literals;

class Trash : public testing::VaultTest {
 protected:
  std::string make(const std::string& id, const std::string& body, const std::string& folder = "") {
    auto made = upsert_note(*vault, {"Title " + id, body, id, {}, {}});
    EXPECT_TRUE(is_ok(made));
    if (!folder.empty()) {
      EXPECT_TRUE(is_ok(move_note(*vault, id, folder)));
    }
    return tv.read_file(fs::path("notes") / folder / (id + ".md"));
  }

  std::vector<TrashEntry> entries() {
    auto listed = list_trash(tv.root());
    EXPECT_TRUE(is_ok(listed));
    return listed ? *listed : std::vector<TrashEntry>{};
  }

  std::optional<std::string> stored_path(const std::string& id) {
    auto path = path_by_id(*vault, id);
    return path ? *path : std::nullopt;
  }
};

TEST_F(Trash, DeleteMovesTheFileIntoTheTrashByteForByte) {
  const std::string bytes = make("n", "body", "a/b");
  ASSERT_TRUE(is_ok(delete_note(*vault, "n")));
  EXPECT_FALSE(fs::exists(tv.notes() / "a" / "b" / "n.md"));
  EXPECT_EQ(stored_path("n"), std::nullopt);

  auto listed = entries();
  ASSERT_EQ(listed.size(), 1u);
  const TrashEntry& entry = listed[0];
  EXPECT_EQ(entry.id, "n");
  EXPECT_EQ(entry.title, "Title n");
  EXPECT_EQ(entry.folder, "a/b");
  EXPECT_EQ(entry.original_path, "notes/a/b/n.md");
  EXPECT_EQ(entry.size, bytes.size());
  EXPECT_EQ(tv.read_file(entry.file.lexically_relative(tv.root())), bytes);
  const std::string name = entry.file.filename().string();
  EXPECT_EQ(name.size(), std::string("20261209T145257.123456Z-n.md").size()) << name;
  EXPECT_EQ(tv.read_file(fs::path(".brask-tolvane/trash") / (name.substr(0, name.size() - 3) + ".json")),
            "{\"path\":\"notes/a/b/n.md\"}\n");
  auto summary = trash_summary(tv.root());
  ASSERT_TRUE(is_ok(summary));
  EXPECT_EQ(summary->count, 1u);
  EXPECT_EQ(summary->bytes, bytes.size());

  ASSERT_TRUE(is_ok(delete_note(*vault, "never-existed")));
  EXPECT_EQ(entries().size(), 1u);
}

TEST_F(Trash, AFailedMoveLosesNothing) {
  BT_REQUIRE_LINKS();
  const std::string bytes = make("n", "body");
  tv.write_file(".brask-tolvane/trash", "a file where the trash folder goes");
  auto deleted = delete_note(*vault, "n");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(to_text(deleted.error()), "IO error: Not a directory");
  fs::remove(tv.root() / ".brask-tolvane" / "trash");
  fs::create_directory_symlink(tv.root() / "nowhere", tv.root() / ".brask-tolvane" / "trash");
  deleted = delete_note(*vault, "n");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(to_text(deleted.error()), "IO error: File exists");
  EXPECT_EQ(tv.read_file("notes/n.md"), bytes);
  EXPECT_EQ(stored_path("n"), "notes/n.md");
}

TEST_F(Trash, RestoreGivesTheNewestVersionBackInItsFolder) {
  make("n", "first", "a");
  ASSERT_TRUE(is_ok(delete_note(*vault, "n")));
  const std::string second = make("n", "second", "a");
  ASSERT_TRUE(is_ok(delete_note(*vault, "n")));
  ASSERT_EQ(entries().size(), 2u);

  auto restored = restore_from_trash(*vault, "n", std::nullopt);
  ASSERT_TRUE(is_ok(restored));
  EXPECT_EQ(restored->id, "n");
  EXPECT_EQ(restored->path, "notes/a/n.md");
  EXPECT_EQ(tv.read_file("notes/a/n.md"), second);
  EXPECT_EQ(stored_path("n"), "notes/a/n.md");
  auto left = entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(get_note(*vault, "n")->body, "second");

  auto refused = restore_from_trash(*vault, "n", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(to_text(refused.error()), "a note with id n exists");
  EXPECT_EQ(refused.error().kind(), ErrorKind::Conflict);
  EXPECT_EQ(entries().size(), 1u);

  auto beside = restore_from_trash(*vault, "n", "m");
  ASSERT_TRUE(is_ok(beside));
  EXPECT_EQ(beside->path, "notes/a/m.md");
  auto m = get_note(*vault, "m");
  ASSERT_TRUE(is_ok(m));
  EXPECT_EQ(m->frontmatter.id, "m");
  EXPECT_EQ(m->body, "first");
  EXPECT_EQ(get_note(*vault, "n")->body, "second");
  EXPECT_TRUE(entries().empty());
  EXPECT_TRUE(fs::is_empty(trash_folder(tv.root())));
}

TEST_F(Trash, RestoreRefusalsChangeNothing) {
  const std::string bytes = make("n", "body", "gone");
  ASSERT_TRUE(is_ok(delete_note(*vault, "n")));
  struct Case { std::string id; std::optional<std::string_view> as; std::string error; };
  for (const Case& c : {Case{"x", std::nullopt, "nothing in the trash for id: x"},
                        Case{"n", "a/b", "invalid note id: a/b"}, Case{"n", "..", "invalid note id: .."}}) {
    auto refused = restore_from_trash(*vault, c.id, c.as);
    ASSERT_FALSE(refused) << c.error;
    EXPECT_EQ(to_text(refused.error()), c.error);
  }
  tv.write_file("notes/gone/n.md", "someone else's file");
  auto refused = restore_from_trash(*vault, "n", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(to_text(refused.error()), "a note with id n exists");
  fs::remove_all(tv.notes() / "gone");
  tv.write_file("notes/n.md", "---\nid: other\ntitle: Other\n---\n");
  fs::rename(tv.notes() / "n.md", tv.notes() / "holder.md");
  ASSERT_EQ(entries().size(), 1u);

  auto restored = restore_from_trash(*vault, "n", std::nullopt);  // its folder is gone: into notes
  ASSERT_TRUE(is_ok(restored));
  EXPECT_EQ(restored->path, "notes/n.md");
  EXPECT_EQ(tv.read_file("notes/n.md"), bytes);
}

TEST_F(Trash, StampsKeepEveryVersionAndEmptyingByAgeKeepsTheNewer) {
  const auto day = 24h;
  const TrashTime t0 = TrashTime(1'700'000'000s) + 123456us;
  for (auto [id, when] : {std::pair{"old", t0}, {"old", t0}, {"new", t0 + 10 * day}}) {
    tv.write_file(std::string("notes/") + id + ".md", "---\nid: x\n---\n");
    ASSERT_TRUE(is_ok(move_to_trash(tv.root(), tv.notes() / (std::string(id) + ".md"), id, when)));
  }
  auto listed = entries();
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].id, "new");
  EXPECT_EQ(listed[1].deleted_at, "2023-11-14T22:13:20.123457+00:00");  // the same microsecond, taken: the next one
  EXPECT_EQ(listed[2].deleted_at, "2023-11-14T22:13:20.123456+00:00");
  EXPECT_EQ(listed[2].file.filename(), "20231114T221320.123456Z-old.md");

  auto emptied = empty_trash(tv.root(), t0 + 5 * day);
  ASSERT_TRUE(is_ok(emptied));
  EXPECT_EQ(emptied->size(), 2u);
  listed = entries();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].id, "new");
  ASSERT_TRUE(is_ok(empty_trash(tv.root(), std::nullopt)));
  EXPECT_TRUE(fs::is_empty(trash_folder(tv.root())));
}

// The cut-off is exact to the microsecond: an entry deleted at the instant
// itself is not older than it. Stamps at the far ends of the years a stamp
// can name read back without overflow.
TEST_F(Trash, EmptyingByAgeCutsAtTheExactInstant) {
  const TrashTime t0 = TrashTime(1'700'000'000s) + 123456us;
  tv.write_file("notes/n.md", "---\nid: n\n---\n");
  ASSERT_TRUE(is_ok(move_to_trash(tv.root(), tv.notes() / "n.md", "n", t0)));
  ASSERT_TRUE(is_ok(empty_trash(tv.root(), t0)));
  EXPECT_EQ(entries().size(), 1u);
  auto emptied = empty_trash(tv.root(), t0 + 1us);
  ASSERT_TRUE(is_ok(emptied));
  EXPECT_EQ(emptied->size(), 1u);

  for (const char* stamp : {"00010101T000000.000000Z", "99991231T235959.999999Z"}) {
    tv.write_file(std::string(".brask-tolvane/trash/") + stamp + "-far.md", "---\nid: far\n---\n");
    auto listed = entries();
    ASSERT_EQ(listed.size(), 1u) << stamp;
    EXPECT_EQ(listed[0].file.filename().string().substr(0, 23), stamp);
    EXPECT_EQ(listed[0].deleted.time_since_epoch().count() < 0, stamp[0] == '0') << stamp;
    ASSERT_TRUE(is_ok(empty_trash(tv.root(), std::nullopt)));
  }
}

// A hand-written fname.md holds note `other`. Deleted by its file name,
// it may not come back as `other` while a live note has that id: the live
// note's row and file would be taken over.
TEST_F(Trash, RestoreNeverTakesOverALiveNote) {
  tv.write_file("notes/fname.md", "---\nid: other\ntitle: Old Other\nupdated: U\n---\nold body\n");
  ASSERT_TRUE(is_ok(delete_note(*vault, "fname")));
  EXPECT_FALSE(fs::exists(tv.notes() / "fname.md"));
  make("other", "live body");
  const auto notes_before = tv.files();

  auto refused = restore_from_trash(*vault, "fname", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(to_text(refused.error()), "a note with id other exists");
  EXPECT_EQ(tv.files(), notes_before);
  EXPECT_EQ(entries().size(), 1u);
  EXPECT_EQ(get_note(*vault, "other")->body, "live body");
  EXPECT_EQ(stored_path("other"), "notes/other.md");

  auto beside = restore_from_trash(*vault, "fname", "fname");
  ASSERT_TRUE(is_ok(beside));
  EXPECT_EQ(beside->id, "fname");
  EXPECT_EQ(get_note(*vault, "fname")->body, "old body\n");
  EXPECT_EQ(get_note(*vault, "other")->body, "live body");
}

// Another writer holds the index's write lock: the restore fails before
// anything leaves the trash, and a retry once the lock is free succeeds.
TEST_F(Trash, ARestoreThatCannotHaveTheLockChangesNothing) {
  const std::string bytes = make("n", "body", "sub");
  ASSERT_TRUE(is_ok(delete_note(*vault, "n")));
  const auto trash_before = tv.files(".brask-tolvane/trash");

  auto other = open_database(tv.root() / ".brask-tolvane" / "index.db");
  ASSERT_TRUE(is_ok(other));
  ASSERT_TRUE(is_ok(exec(other->get(), "BEGIN IMMEDIATE")));
  sqlite3_busy_timeout(vault->db(), 0);
  auto refused = restore_from_trash(*vault, "n", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(to_text(refused.error()), "database error: database is locked");
  EXPECT_EQ(tv.files(".brask-tolvane/trash"), trash_before);
  EXPECT_FALSE(fs::exists(tv.notes() / "sub" / "n.md"));

  ASSERT_TRUE(is_ok(exec(other->get(), "ROLLBACK")));
  ASSERT_TRUE(is_ok(restore_from_trash(*vault, "n", std::nullopt)));
  EXPECT_EQ(tv.read_file("notes/sub/n.md"), bytes);
  EXPECT_TRUE(entries().empty());
}

// A file without frontmatter names no id: restoring it by the id it was
// deleted by would index it under one no later reading gives back. It
// comes back only with --as, and then with a frontmatter holding that id.
TEST_F(Trash, AFileWithoutFrontmatterComesBackOnlyWithAGivenId) {
  tv.write_file("notes/plain.md", "just words\n");
  ASSERT_TRUE(is_ok(delete_note(*vault, "plain")));
  auto refused = restore_from_trash(*vault, "plain", std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(to_text(refused.error()), "the trashed file of plain has no frontmatter, so it names no id");
  EXPECT_EQ(refused.error().kind(), ErrorKind::Invalid);
  EXPECT_EQ(entries().size(), 1u);
  EXPECT_FALSE(fs::exists(tv.notes() / "plain.md"));

  auto restored = restore_from_trash(*vault, "plain", "plain");
  ASSERT_TRUE(is_ok(restored));
  auto note = read_note_file_checked(tv.notes() / "plain.md");
  ASSERT_TRUE(is_ok(note));
  EXPECT_TRUE(note->has_frontmatter);
  EXPECT_EQ(note->note.frontmatter.id, "plain");
  EXPECT_EQ(note->note.body, "just words\n");
  EXPECT_EQ(stored_path("plain"), "notes/plain.md");
}

}  // namespace
}  // namespace core
