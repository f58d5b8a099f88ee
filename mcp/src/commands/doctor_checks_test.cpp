#include "commands/doctor_checks.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "note/note_file.hpp"
#include "store/note_store.hpp"
#include "testing/platform.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using core::testing::is_ok;

class DoctorChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", home.path().string()).unset("BRASK_TOLVANE_VAULT").unset("APPDATA");
    fs::create_directories(home.path() / ".config" / "brask-tolvane");
    std::ofstream(home.path() / ".config" / "brask-tolvane" / "mcp.json") << R"({"enabled": true})";
  }
  DoctorFindings check(const fs::path& root) {
    const std::string named = root.string();
    return run_doctor_checks(&named);
  }
  // A note written by hand under a name that is not its id, then indexed.
  void hand_written(const fs::path& relative, const std::string& id) {
    tv.write_file(relative, "---\nid: " + id + "\ntitle: By hand\nupdated: U\n---\nbody\n");
    auto vault = core::open_vault(tv.root());
    ASSERT_TRUE(is_ok(vault));
    auto note = core::read_note_file(tv.root() / relative);
    ASSERT_TRUE(is_ok(note));
    ASSERT_TRUE(is_ok(core::index_note(*vault, *note)));
  }

  core::testing::TempDir home;
  core::testing::ScopedEnv env;
  core::testing::TempVault tv;
};

// Notes under other names and through a linked folder are the vault's own:
// nothing to report.
TEST_F(DoctorChecks, AVaultInStepHasNoProblems) {
  BT_REQUIRE_LINKS();
  core::testing::TempDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), tv.notes() / "linked");
  hand_written("notes/renamed.md", "kept-id");
  hand_written("notes/linked/far.md", "far-id");
  const DoctorFindings f = check(tv.root());
  EXPECT_TRUE(f.problems.empty()) << ::testing::PrintToString(f.problems);
  EXPECT_TRUE(f.vault_exists && f.marker && f.index_exists);
  EXPECT_EQ(f.integrity, std::vector<std::string>{"ok"});
  ASSERT_TRUE(f.comparison);
  EXPECT_TRUE(f.comparison->in_step());
  EXPECT_EQ(f.comparison->files, 2u);
  EXPECT_EQ(doctor_json(f)["index"]["live_rows"], 2);
}

TEST_F(DoctorChecks, ARootThatIsNoVaultIsSaidSoOnce) {
  core::testing::TempDir dir;
  std::ofstream(dir.path() / "file") << "x";
  struct Case { fs::path root; bool exists; std::string problem; };
  for (const Case& c : {Case{dir.path() / "absent", false,
                             "vault path does not exist: " + (dir.path() / "absent").string() +
                                 " (`brask-tolvane-mcp init` makes one)"},
                        Case{dir.path() / "file", true,
                             "not a Brask Tolvane vault (missing .brask-tolvane/): " + (dir.path() / "file").string()},
                        Case{dir.path(), true,
                             "not a Brask Tolvane vault (missing .brask-tolvane/): " + dir.path().string()}}) {
    const DoctorFindings f = check(c.root);
    EXPECT_EQ(f.vault_exists, c.exists) << c.root;
    EXPECT_FALSE(f.marker) << c.root;
    EXPECT_EQ(f.problems, std::vector<std::string>{c.problem}) << c.root;
    EXPECT_FALSE(f.comparison) << c.root;
  }
}

// A named pipe is never opened as a note (doctor would wait on it for
// ever), and a second writer's rows are read as they are: the JSON lists
// the first 20 of each kind with the full count.
TEST_F(DoctorChecks, ForeignFilesAreCountedAndListsAreCut) {
  core::testing::make_named_pipe(tv.notes() / "pipe.md");
  for (int i = 0; i < 25; ++i)
    tv.write_file("notes/n" + std::to_string(100 + i) + ".md",
                  "---\nid: n" + std::to_string(i) + "\ntitle: T\nupdated: U\n---\nb\n");
  {
    auto writer = core::open_vault(tv.root());  // the second writer
    ASSERT_TRUE(is_ok(writer));
    ASSERT_TRUE(is_ok(core::upsert_note(*writer, {"Gone soon", "b", "gone", {}, {}})));
  }
  fs::remove(tv.notes() / "gone.md");
  const DoctorFindings f = check(tv.root());
  ASSERT_TRUE(f.comparison);
  const nlohmann::json index = doctor_json(f)["index"];
  EXPECT_EQ(index["not_indexed"]["count"], 25);
  EXPECT_EQ(index["not_indexed"]["first"].size(), 20u);
  if (core::testing::kHasNamedPipes) {  // Windows has no pipe to make
    EXPECT_EQ(index["unreadable"]["count"], 1);
    EXPECT_EQ(index["unreadable"]["first"][0]["path"], "notes/pipe.md");
  }
  EXPECT_EQ(index["file_gone"]["first"], nlohmann::json::array({"gone"}));
  EXPECT_FALSE(f.problems.empty());
}

}  // namespace
}  // namespace mcp
