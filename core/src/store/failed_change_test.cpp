// A write that fails changes nothing: whether the index refuses a
// statement, the commit fails after the files were put in place, or a
// linking note cannot be read half-way through a rename, the note files,
// the trash and the index are all as they were.

#include "store/note_store.hpp"

#include "base/files.hpp"
#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "store/trash.hpp"
#include "testing/platform.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <functional>
#include <memory>

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

// The vault every case starts from: a note linked from two others (one in
// a folder that is a link onto another disk), a copy of it under another
// name, and a named pipe among the notes that no change may open.
struct Scene {
  Scene() {
    auto opened = open_vault(tv.root());
    EXPECT_TRUE(is_ok(opened));
    vault.emplace(std::move(*opened));
    EXPECT_TRUE(is_ok(upsert_note(*vault, {"Target", "body", "target", std::nullopt, {{"k", "v"}}})));
    EXPECT_TRUE(is_ok(upsert_note(*vault, {"Linker A", "see [[Target]]", "linker-a", std::nullopt, {}})));
    EXPECT_TRUE(is_ok(upsert_note(*vault, {"Linker B", "and [[Target]]", "linker-b", std::nullopt, {}})));
    fs::create_directories(tv.root() / "elsewhere-disk");
    // Where links cannot be made (Wine), "linked" is made a plain folder by the move.
    if (testing::links_supported()) fs::create_directory_symlink(tv.root() / "elsewhere-disk", tv.notes() / "linked");
    EXPECT_TRUE(is_ok(move_note(*vault, "linker-b", "linked")));
    fs::copy_file(tv.notes() / "target.md", tv.notes() / "copy.md");
    testing::make_named_pipe(tv.notes() / "pipe.md");
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

  // Temporaries left among the notes (a save's, or a replaced file kept).
  std::vector<std::string> temporaries() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(tv.notes(), fs::directory_options::follow_directory_symlink))
      if (entry.path().extension() == ".tmp") found.push_back(entry.path().filename().string());
    return found;
  }

  void expect_unchanged(const std::string& name) {
    EXPECT_EQ(tv.files("notes"), before_notes) << name;
    EXPECT_EQ(tv.files("elsewhere-disk"), before_disk) << name;
    EXPECT_EQ(rows(), before_rows) << name;
    EXPECT_TRUE(tv.files(".brask-tolvane/trash").empty()) << name;
    EXPECT_FALSE(fs::exists(tv.notes() / "elsewhere")) << name;  // a move's new folder goes with it
    EXPECT_EQ(temporaries(), std::vector<std::string>{}) << name;
  }

  testing::TempVault tv;
  std::optional<Vault> vault;
  std::map<std::string, std::string> before_notes, before_disk;
  std::vector<std::string> before_rows;
};

class FailedChange : public ::testing::Test {
 protected:
  std::unique_ptr<Scene> s = std::make_unique<Scene>();
};

// The commit is the last step: by then every file is in place, and each
// must go back (a replaced file from the copy kept aside, a new file
// removed, a trashed file returned).
TEST_F(FailedChange, AFailedCommitPutsEveryFileBack) {
  sqlite3_commit_hook(s->vault->db(), [](void*) { return 1; }, nullptr);  // turns every COMMIT into a rollback
  for (const Case& c : every_change()) {
    auto changed = c.change(*s->vault);
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "database error: constraint failed") << c.name;
    s->expect_unchanged(c.name);
  }
  sqlite3_commit_hook(s->vault->db(), nullptr, nullptr);
  ASSERT_TRUE(is_ok(upsert_note(*s->vault, {"Renamed", "body", "target", std::nullopt, {}})));
  EXPECT_EQ(get_note(*s->vault, "linker-b")->body, "and [[Renamed]]");
}

// The index refuses every change to its rows (as a full disk or a
// read-only index would, after the write lock was had): each write fails at
// its first index statement, before any file is in place.
TEST_F(FailedChange, AnIndexThatRefusesWritesFailsBeforeAnyFileChanges) {
  for (const char* event : {"INSERT", "UPDATE", "DELETE"})
    ASSERT_TRUE(is_ok(exec(s->vault->db(), std::string("CREATE TEMP TRIGGER refuse_") + event + " BEFORE " + event +
                                            " ON main.note_files BEGIN SELECT RAISE(ABORT, 'no room'); END;")));
  for (const Case& c : every_change()) {
    if (c.name == "delete_note (a copy)") continue;  // no row holds the id: the index has nothing to refuse
    auto changed = c.change(*s->vault);
    ASSERT_FALSE(changed) << c.name;
    EXPECT_EQ(to_text(changed.error()), "database error: no room") << c.name;
    s->expect_unchanged(c.name);
  }
}

// The second linking note does not read any more: the rename fails, and the
// first linking note, already rewritten in the change, keeps its old link.
TEST_F(FailedChange, ARenameThatCannotRewriteEveryLinkRewritesNone) {
  ASSERT_TRUE(is_ok(upsert_note(*s->vault, {"Linker C", "last [[Target]]", "linker-c", std::nullopt, {}})));
  s->tv.write_file("notes/linker-c.md", "---\nid: linker-c\ntitle: [unclosed\n---\nlast [[Target]]");
  const auto before = s->tv.files("notes");
  auto renamed = upsert_note(*s->vault, {"Renamed", "body", "target", std::nullopt, {}});
  ASSERT_FALSE(renamed);
  EXPECT_EQ(s->tv.files("notes"), before);
  EXPECT_EQ(s->tv.files("elsewhere-disk"), s->before_disk);
  EXPECT_EQ(title_by_id(*s->vault, "target").value(), "Target");
}

// The n-th file call of one kind fails, for every kind and every n a change
// reaches: the change either fails and leaves everything as it was, or the
// fault came after its commit (dropping a kept file, removing a moved
// note's old file) and the change stands, every note still readable, a
// leftover at most one temporary per note.
TEST_F(FailedChange, AFaultAtAnyFileStepLosesNothing) {
  const std::vector<FileCall> kinds = {FileCall::Flush, FileCall::FlushFolder, FileCall::Rename, FileCall::Link,
                                       FileCall::Remove, FileCall::Copy, FileCall::Create};
  std::size_t failed = 0, stood = 0;
  for (const Case& c : every_change()) {
    for (const FileCall kind : kinds) {
      for (int nth = 1;; ++nth) {
        s = std::make_unique<Scene>();
        int seen = 0;
        set_file_fault([&](FileCall call, const fs::path&) { return call == kind && ++seen == nth ? EIO : 0; });
        auto changed = c.change(*s->vault);
        set_file_fault({});
        const std::string where = c.name + ", call kind " + std::to_string(static_cast<int>(kind)) + " #" +
                                  std::to_string(nth);
        if (!changed) {
          ++failed;
          EXPECT_EQ(to_text(changed.error()), "IO error: Input/output error") << where;
          s->expect_unchanged(where);
        } else {
          if (seen >= nth) ++stood;
          for (const char* id : {"linker-a", "linker-b"}) EXPECT_TRUE(is_ok(get_note(*s->vault, id))) << where;
          EXPECT_LE(s->temporaries().size(), 1u) << where;
        }
        if (seen < nth) break;  // every call of this kind ran: no later one to fail
      }
    }
  }
  EXPECT_GT(failed, 20u);  // the seam reaches the steps before each commit
  EXPECT_GT(stood, 0u);    // and the tidying after it
}

}  // namespace
}  // namespace core
