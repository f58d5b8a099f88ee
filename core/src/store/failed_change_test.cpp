// A write that fails changes nothing: whether the index refuses a
// statement, the commit fails after the files were put in place, or a
// linking note cannot be read half-way through a rename, the note files,
// the trash and the index are all as they were.

#include "store/note_store.hpp"

#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "store/trash.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <functional>

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::drop;
using testing::is_ok;

struct Case {
  std::string name;
  std::function<Result<void>(Vault&)> change;
};

// Every write tool, with a retitle that rewrites two linking notes (one in
// a linked folder), a move, and the delete of a copy named apart from its id.
std::vector<Case> every_change() {
  return {
      {"upsert (retitle)", [](Vault& v) { return drop(upsert_note(v, {"Renamed", "body", "target", std::nullopt, {}})); }},
      {"upsert (new)", [](Vault& v) { return drop(upsert_note(v, {"New", "body", "fresh", std::nullopt, {}})); }},
      {"set_metas", [](Vault& v) { return drop(set_metas(v, "target", {{"n", "1"}}, false)); }},
      {"move_note", [](Vault& v) { return move_note(v, "target", "elsewhere"); }},
      {"move_note (linked folder)", [](Vault& v) { return move_note(v, "linker-b", ""); }},
      {"delete_note", [](Vault& v) { return delete_note(v, "target"); }},
      {"delete_note (a copy)", [](Vault& v) { return delete_note(v, "copy"); }},
  };
}

class FailedChange : public testing::VaultTest {
 protected:
  void SetUp() override {
    VaultTest::SetUp();
    ASSERT_TRUE(is_ok(upsert_note(*vault, {"Target", "body", "target", std::nullopt, {{"k", "v"}}})));
    ASSERT_TRUE(is_ok(upsert_note(*vault, {"Linker A", "see [[Target]]", "linker-a", std::nullopt, {}})));
    ASSERT_TRUE(is_ok(upsert_note(*vault, {"Linker B", "and [[Target]]", "linker-b", std::nullopt, {}})));
    fs::create_directories(tv.root() / "elsewhere-disk");
    fs::create_directory_symlink(tv.root() / "elsewhere-disk", tv.notes() / "linked");
    ASSERT_TRUE(is_ok(move_note(*vault, "linker-b", "linked")));
    fs::copy_file(tv.notes() / "target.md", tv.notes() / "copy.md");
    ASSERT_EQ(::mkfifo((tv.notes() / "pipe.md").c_str(), 0644), 0);  // never opened by any change
    before_notes = tv.files("notes");
    before_disk = tv.files("elsewhere-disk");
    before_rows = rows();
  }

  // The index as a reader sees it: every note's place, title and links.
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    auto stmt = prepare(vault->db(),
                        "SELECT f.id || ' ' || f.path || ' ' || f.title || ' ' || coalesce(f.deleted_at, 'live') || ' ' ||"
                        " coalesce((SELECT group_concat(target_title) FROM links WHERE source_id = f.id), '') || ' ' ||"
                        " coalesce((SELECT title || '/' || body FROM notes_fts WHERE note_id = f.id), '')"
                        " FROM note_files f ORDER BY f.id");
    EXPECT_TRUE(is_ok(stmt));
    while (stmt && stmt->step().value_or(false)) out.push_back(stmt->column_text(0).value_or("?"));
    return out;
  }

  void expect_unchanged(const std::string& name) {
    EXPECT_EQ(tv.files("notes"), before_notes) << name;
    EXPECT_EQ(tv.files("elsewhere-disk"), before_disk) << name;
    EXPECT_EQ(rows(), before_rows) << name;
    EXPECT_TRUE(tv.files(".brask-tolvane/trash").empty()) << name;
    EXPECT_FALSE(fs::exists(tv.notes() / "elsewhere")) << name;  // a move's new folder goes with it
    for (const auto& entry : fs::recursive_directory_iterator(tv.notes(), fs::directory_options::follow_directory_symlink))
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << name << ": " << entry.path();
  }

  std::map<std::string, std::string> before_notes, before_disk;
  std::vector<std::string> before_rows;
};

// The commit is the last step: by then every file is in place, and each
// must go back (a replaced file from the copy kept aside, a new file
// removed, a trashed file returned).
TEST_F(FailedChange, AFailedCommitPutsEveryFileBack) {
  sqlite3_commit_hook(vault->db(), [](void*) { return 1; }, nullptr);  // turns every COMMIT into a rollback
  for (const Case& c : every_change()) {
    auto changed = c.change(*vault);
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "database error: constraint failed") << c.name;
    expect_unchanged(c.name);
  }
  sqlite3_commit_hook(vault->db(), nullptr, nullptr);
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Renamed", "body", "target", std::nullopt, {}})));
  EXPECT_EQ(get_note(*vault, "linker-b")->body, "and [[Renamed]]");
}

// The index refuses every change to its rows (as a full disk or a
// read-only index would, after the write lock was had): each write fails at
// its first index statement, before any file is in place.
TEST_F(FailedChange, AnIndexThatRefusesWritesFailsBeforeAnyFileChanges) {
  for (const char* event : {"INSERT", "UPDATE", "DELETE"})
    ASSERT_TRUE(is_ok(exec(vault->db(), std::string("CREATE TEMP TRIGGER refuse_") + event + " BEFORE " + event +
                                            " ON main.note_files BEGIN SELECT RAISE(ABORT, 'no room'); END;")));
  for (const Case& c : every_change()) {
    if (c.name == "delete_note (a copy)") continue;  // no row holds the id: the index has nothing to refuse
    auto changed = c.change(*vault);
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "database error: no room") << c.name;
    expect_unchanged(c.name);
  }
}

// The second linking note does not read any more: the rename fails, and the
// first linking note, already rewritten in the change, keeps its old link.
TEST_F(FailedChange, ARenameThatCannotRewriteEveryLinkRewritesNone) {
  ASSERT_TRUE(is_ok(upsert_note(*vault, {"Linker C", "last [[Target]]", "linker-c", std::nullopt, {}})));
  tv.write_file("notes/linker-c.md", "---\nid: linker-c\ntitle: [unclosed\n---\nlast [[Target]]");
  const auto before = tv.files("notes");
  auto renamed = upsert_note(*vault, {"Renamed", "body", "target", std::nullopt, {}});
  ASSERT_FALSE(renamed);
  EXPECT_EQ(tv.files("notes"), before);
  EXPECT_EQ(tv.files("elsewhere-disk"), before_disk);
  EXPECT_EQ(title_by_id(*vault, "target").value(), "Target");
}

}  // namespace
}  // namespace core
