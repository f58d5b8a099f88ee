#include "sync/follow.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "store/note_store.hpp"
#include "sync/seen_files.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::is_ok;

std::string note_text(std::string_view id, std::string_view title, std::string_view body) {
  return "---\nid: " + std::string(id) + "\ntitle: " + std::string(title) +
         "\ntags: []\nupdated: 2024-01-01T00:00:00Z\n---\n" + std::string(body);
}

// Where notices arrive at once (inotify queues them as the change is made),
// the tests follow with the watcher. Elsewhere (Windows, where they come a
// moment later, or no watcher) every call walks, which takes in the same
// changes through the same code; the watcher has tests of its own.
#ifdef __linux__
constexpr bool kNoticesAtOnce = true;
#else
constexpr bool kNoticesAtOnce = false;
#endif

FollowOptions test_options(FollowOptions options = {}) {
  if (!kNoticesAtOnce) {
    options.watch = false;
    options.walk_every = std::chrono::milliseconds(0);
  }
  return options;
}

class Follow : public testing::VaultTest {
 protected:
  std::string save(std::string title, std::string body) {
    auto r = upsert_note(*vault, {std::move(title), std::move(body), std::nullopt, std::nullopt, {}});
    EXPECT_TRUE(is_ok(r));
    return r ? r->id : std::string();
  }
  // "path|title|body" of the row of `id`, "deleted" for a deleted row, or "none".
  std::string row(std::string_view id) {
    auto stmt = prepare(vault->db(),
                        "SELECT f.path, f.title, t.body, f.deleted_at IS NOT NULL FROM note_files f "
                        "LEFT JOIN notes_fts t ON t.note_id = f.id WHERE f.id = ?1");
    EXPECT_TRUE(is_ok(stmt));
    EXPECT_TRUE(is_ok(stmt->bind_all(id)));
    auto next = stmt->step();
    if (!next || !*next) return "none";
    if (stmt->column_int64(3)) return "deleted";
    return *stmt->column_text(0) + "|" + *stmt->column_text(1) + "|" + stmt->column_text(2).value_or("");
  }
  std::string link_target(std::string_view source) {
    auto stmt = prepare(vault->db(), "SELECT coalesce(target_id, '(unresolved)') FROM links WHERE source_id = ?1");
    EXPECT_TRUE(is_ok(stmt));
    EXPECT_TRUE(is_ok(stmt->bind_all(source)));
    auto next = stmt->step();
    return next && *next ? *stmt->column_text(0) : "(none)";
  }
};

TEST_F(Follow, TakesInWhatOtherProgramsWriteBetweenCalls) {
  const std::string edited = save("Edited", "old words");
  const std::string renamed_over = save("Saved by rename", "first draft");
  const std::string removed = save("Removed", "its file goes");
  const std::string moved = save("Moved", "to a folder");
  const std::string target = save("Target", "linked to");
  fs::create_directories(tv.notes() / "box");
  tv.write_file("notes/box/in-box.md", note_text("boxed", "Boxed", "in a folder renamed later"));
  testing::make_named_pipe(tv.notes() / "pipe.md");

  VaultFollower follower(test_options());
  FollowStep first = follower.follow(*vault);
  EXPECT_TRUE(first.walked);
  EXPECT_FALSE(first.deferred);
  EXPECT_EQ(first.outcome.indexed, std::vector<std::string>{"boxed"});
  // Nothing changed: no walk, nothing read.
  FollowStep idle = follower.follow(*vault);
  EXPECT_EQ(idle.walked, !kNoticesAtOnce);
  EXPECT_EQ(idle.read, 0u);

  tv.write_file("notes/" + edited + ".md", note_text(edited, "Edited", "new words"));
  tv.write_file("notes/.tmp-save", note_text(renamed_over, "Saved by rename", "second draft"));
  fs::rename(tv.notes() / ".tmp-save", tv.notes() / (renamed_over + ".md"));
  fs::remove(tv.notes() / (removed + ".md"));
  fs::create_directories(tv.notes() / "sub");
  fs::rename(tv.notes() / (moved + ".md"), tv.notes() / "sub" / (moved + ".md"));
  fs::rename(tv.notes() / "box", tv.notes() / "crate");
  // A file named apart from the id it holds, linking by title.
  tv.write_file("notes/by-hand.md", note_text("hand1", "By hand", "see [[Target]]"));

  FollowStep step = follower.follow(*vault);
  EXPECT_EQ(step.walked, !kNoticesAtOnce);
  EXPECT_FALSE(step.deferred);
  EXPECT_EQ(row(edited), "notes/" + edited + ".md|Edited|new words");
  EXPECT_EQ(row(renamed_over), "notes/" + renamed_over + ".md|Saved by rename|second draft");
  EXPECT_EQ(row(removed), "deleted");
  EXPECT_EQ(row(moved), "notes/sub/" + moved + ".md|Moved|to a folder");
  EXPECT_EQ(row("boxed"), "notes/crate/in-box.md|Boxed|in a folder renamed later");
  EXPECT_EQ(row("hand1"), "notes/by-hand.md|By hand|see [[Target]]");
  EXPECT_EQ(link_target("hand1"), target);

  // A new folder is watched as it appears, and so is one reached by a link.
  fs::create_directories(tv.notes() / "later" / "deeper");
  tv.write_file("notes/later/deeper/deep.md", note_text("deep", "Deep", "new folder"));
  follower.follow(*vault);
  EXPECT_EQ(row("deep"), "notes/later/deeper/deep.md|Deep|new folder");
  tv.write_file("notes/later/deeper/deep.md", note_text("deep", "Deep", "edited in the new folder"));
  follower.follow(*vault);
  EXPECT_EQ(row("deep"), "notes/later/deeper/deep.md|Deep|edited in the new folder");
  if (kNoticesAtOnce) EXPECT_EQ(follower.how().rfind("inotify, ", 0), 0u) << follower.how();
}

TEST_F(Follow, FollowsThroughALinkedFolder) {
  BT_REQUIRE_LINKS();
  const testing::TempDir elsewhere;
  fs::create_directories(elsewhere.path() / "disk");
  fs::create_directory_symlink(elsewhere.path() / "disk", tv.notes() / "linked");
  VaultFollower follower(test_options());
  follower.follow(*vault);
  {
    std::ofstream(elsewhere.path() / "disk" / "far.md") << note_text("far", "Far", "on another disk");
  }
  follower.follow(*vault);
  EXPECT_EQ(row("far"), "notes/linked/far.md|Far|on another disk");
}

TEST_F(Follow, OwnWritesAndTheIndexersOwnChangeNothing) {
  const std::string id = save("Mine", "written through the store");
  VaultFollower follower(test_options());
  follower.follow(*vault);
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Mine", "written again", id, std::nullopt, {}})));
  FollowStep step = follower.follow(*vault);
  EXPECT_TRUE(step.outcome.indexed.empty());
  EXPECT_TRUE(step.outcome.deleted.empty());
  EXPECT_LE(step.read, 1u);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Mine|written again");
  // Once its stamp is recorded, the file is not read again.
  EXPECT_EQ(follower.follow(*vault).read, 0u);
}

TEST_F(Follow, CopiesOfANoteAreLeftAloneLikeReindexLeavesThem) {
  const std::string id = save("Original", "the original");
  VaultFollower follower(test_options());
  follower.follow(*vault);
  // A file manager's copy: same id, another name. Neither is taken in.
  fs::copy_file(tv.notes() / (id + ".md"), tv.notes() / (id + " (copy).md"));
  tv.write_file("notes/" + id + ".md", note_text(id, "Original", "edited while copied"));
  follower.follow(*vault);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Original|the original");
  // The copy goes: the one file left holds the note again.
  fs::remove(tv.notes() / (id + " (copy).md"));
  follower.follow(*vault);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Original|edited while copied");
}

TEST_F(Follow, WalksWithoutAWatcherAtMostEverySoOften) {
  const std::string id = save("Polled", "before");
  VaultFollower follower({.watch = false, .walk_every = 5s});
  const auto t0 = VaultFollower::Clock::now();
  EXPECT_TRUE(follower.follow(*vault, t0).walked);
  tv.write_file("notes/" + id + ".md", note_text(id, "Polled", "after"));
  EXPECT_FALSE(follower.follow(*vault, t0 + 1s).walked);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Polled|before");
  EXPECT_TRUE(follower.follow(*vault, t0 + 5s).walked);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Polled|after");
  EXPECT_EQ(follower.how(), "walking notes/ at most every 5 s: watching is off");
}

TEST_F(Follow, ManyNoticesAtOnceAreTakenInByOneWalk) {
  VaultFollower follower(test_options({.most_entries = 8}));
  follower.follow(*vault);
  for (int i = 0; i < 50; ++i)
    tv.write_file("notes/n" + std::to_string(i) + ".md", note_text("n" + std::to_string(i), "N", "many"));
  FollowStep step = follower.follow(*vault);
  EXPECT_TRUE(step.walked);
  EXPECT_EQ(step.outcome.indexed.size(), 50u);
  EXPECT_EQ(row("n49"), "notes/n49.md|N|many");
}

TEST_F(Follow, WaitsForNobodyWhileAnotherProgramHoldsTheWriteLock) {
  const std::string id = save("Locked", "before");
  VaultFollower follower(test_options());
  follower.follow(*vault);
  tv.write_file("notes/" + id + ".md", note_text(id, "Locked", "after"));
  auto other = open_vault(tv.root());  // a second writer, holding the lock
  ASSERT_TRUE(is_ok(other));
  {
    auto lock = Transaction::begin_immediate(other->db());
    ASSERT_TRUE(is_ok(lock));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(follower.follow(*vault).deferred);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);  // not the busy timeout
    EXPECT_EQ(row(id), "notes/" + id + ".md|Locked|before");
  }
  EXPECT_FALSE(follower.follow(*vault).deferred);
  EXPECT_EQ(row(id), "notes/" + id + ".md|Locked|after");
}

TEST_F(Follow, TheFirstWalkFindsWhatChangedWhileNobodyFollowed) {
  const std::string gone = save("Gone", "removed while not followed");
  const std::string kept = save("Kept", "its file loses its frontmatter");
  {
    VaultFollower before(test_options());
    before.follow(*vault);
  }
  fs::remove(tv.notes() / (gone + ".md"));
  tv.write_file("notes/" + kept + ".md", "no frontmatter any more");
  tv.write_file("notes/new.md", note_text("new1", "New", "written while not followed"));
  VaultFollower after(test_options());
  FollowStep step = after.follow(*vault);
  EXPECT_TRUE(step.walked);
  EXPECT_EQ(row(gone), "deleted");
  EXPECT_NE(row(kept), "deleted");  // a file without frontmatter is left alone, not gone
  EXPECT_EQ(row("new1"), "notes/new.md|New|written while not followed");
  auto state = read_follow_state(*vault);
  ASSERT_TRUE(is_ok(state));
  EXPECT_EQ(state->at("how"), after.how());
}

}  // namespace
}  // namespace core
