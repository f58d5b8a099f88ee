#include "commands/trash_command.hpp"

#include "index/index_db.hpp"
#include "store/note_store.hpp"
#include "store/trash.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <vector>

namespace mcp {
namespace {

namespace fs = std::filesystem;
using core::testing::is_ok;
using namespace std::chrono_literals;

struct Outcome {
  int status;
  std::string out, err;
};

class TrashCommand : public ::testing::Test {
 protected:
  void SetUp() override { env.set("HOME", home.path().string()).unset("BRASK_TOLVANE_VAULT"); }

  Outcome run(std::vector<std::string> words, bool with_vault = true) {
    if (with_vault) words.insert(words.begin(), {"--vault", tv.root().string()});
    std::vector<std::string_view> args(words.begin(), words.end());
    std::ostringstream out, err;
    const int status = trash_main(args, out, err);
    return {status, out.str(), err.str()};
  }

  void make_and_delete(const std::string& id, const std::string& body) {
    auto vault = core::open_vault(tv.root());
    ASSERT_TRUE(is_ok(vault));
    ASSERT_TRUE(is_ok(core::upsert_note(*vault, {"Title " + id, body, id, {}, {}})));
    ASSERT_TRUE(is_ok(core::delete_note(*vault, id)));
  }

  core::testing::TempDir home;
  core::testing::ScopedEnv env;
  core::testing::TempVault tv;
};

TEST_F(TrashCommand, WrongArgumentsAreUsageErrors) {
  struct Case { std::vector<std::string> args; std::string problem; };
  for (const Case& c : std::vector<Case>{
           {{}, "missing action: list, restore or empty"},
           {{"bogus"}, "unknown action: bogus"},
           {{"restore"}, "restore needs the id of a trashed note"},
           {{"list", "x"}, "unexpected argument: x"},
           {{"restore", "a", "b"}, "unexpected argument: b"},
           {{"list", "--as", "m"}, "option --as belongs to restore"},
           {{"restore", "a", "--older-than", "3"}, "option --older-than belongs to empty"},
           {{"empty", "--older-than", "-1"}, "--older-than needs a whole number of days: -1"},
           {{"empty", "--older-than=1.5"}, "--older-than needs a whole number of days: 1.5"},
           {{"empty", "--older-than="}, "--older-than needs a whole number of days: "},
           {{"--frobnicate"}, "unknown option: --frobnicate"},
           {{"list", "--json=1"}, "option --json takes no value"},
       }) {
    Outcome r = run(c.args, false);
    EXPECT_EQ(r.status, kExitUsage) << c.problem;
    EXPECT_EQ(r.err, "brask-tolvane-mcp trash: " + c.problem + "\nTry 'brask-tolvane-mcp trash --help'.\n");
    EXPECT_EQ(r.out, "");
  }
  Outcome help = run({"list", "--help"}, false);
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_TRUE(help.out.starts_with("Usage: brask-tolvane-mcp trash [--vault V]")) << help.out;
  EXPECT_EQ(help.err, "");
}

TEST_F(TrashCommand, TheVaultIsCheckedBeforeAnythingIsDone) {
  const std::string missing = (home.path() / "absent").string();
  Outcome r = run({"--vault", missing, "list"}, false);
  EXPECT_EQ(r.status, kExitProblems);
  EXPECT_EQ(r.err, "brask-tolvane-mcp trash: vault path does not exist: " + missing + "\n");
  r = run({"--vault", home.path().string(), "empty"}, false);
  EXPECT_EQ(r.status, kExitProblems);
  EXPECT_EQ(r.err, "brask-tolvane-mcp trash: not a Brask Tolvane vault (missing .brask-tolvane/): " +
                       home.path().string() + "\n");
#ifndef _WIN32  // a Windows path is UTF-16: no name can be other than Unicode
  const std::string odd = (home.path() / "v\xfe").string();  // a folder named in another encoding
  r = run({"--vault", odd, "list"}, false);
  EXPECT_EQ(r.err, "brask-tolvane-mcp trash: vault path does not exist: " + home.path().string() + "/v\\xFE\n");
#endif

  env.set("BRASK_TOLVANE_VAULT", tv.root().string());  // the server's default chain
  r = run({"list"}, false);
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "The trash is empty.\n");
}

TEST_F(TrashCommand, ListRestoreAndRefuse) {
  make_and_delete("n", "first");
  make_and_delete("n", "second");
  Outcome listed = run({"list"});
  ASSERT_EQ(listed.status, kExitOk) << listed.err;
  std::istringstream lines(listed.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 2u) << listed.out;
  EXPECT_TRUE(rows[0] > rows[1]) << "newest first";
  EXPECT_TRUE(rows[0].ends_with("  n  Title n  notes  " + std::to_string(fs::file_size(
                                    core::list_trash(tv.root())->front().file)) + " bytes"))
      << rows[0];

  Outcome restored = run({"restore", "n"});
  EXPECT_EQ(restored.status, kExitOk) << restored.err;
  EXPECT_EQ(restored.out, "restored n to notes/n.md\n");
  auto vault = core::open_vault(tv.root());
  ASSERT_TRUE(is_ok(vault));
  EXPECT_EQ(core::get_note(*vault, "n")->body, "second");

  Outcome refused = run({"restore", "n"});
  EXPECT_EQ(refused.status, kExitProblems);
  EXPECT_EQ(refused.err, "brask-tolvane-mcp trash: a note with id n exists; restore it under another id with --as NEW_ID\n");
  EXPECT_EQ(refused.out, "");
  Outcome beside = run({"restore", "n", "--as", "m", "--json"});
  EXPECT_EQ(beside.status, kExitOk) << beside.err;
  EXPECT_EQ(beside.out, "{\"id\":\"m\",\"path\":\"notes/m.md\"}\n");
  EXPECT_EQ(core::get_note(*vault, "m")->body, "first");
  Outcome none = run({"restore", "n"});
  EXPECT_EQ(none.status, kExitProblems);
  EXPECT_EQ(none.err, "brask-tolvane-mcp trash: nothing in the trash for id: n\n");
}

// Each refusal that --as mends says so; the others are shown as they are.
TEST_F(TrashCommand, OnlyTheRefusalsThatAsMendsSuggestIt) {
  tv.write_file("notes/plain.md", "just words\n");
  {
    auto vault = core::open_vault(tv.root());
    ASSERT_TRUE(is_ok(vault));
    ASSERT_TRUE(is_ok(core::delete_note(*vault, "plain")));
  }
  Outcome refused = run({"restore", "plain"});
  EXPECT_EQ(refused.status, kExitProblems);
  EXPECT_EQ(refused.err, "brask-tolvane-mcp trash: the trashed file of plain has no frontmatter, so it names no id; "
                         "restore it with --as NEW_ID to give it one\n");
  Outcome unsafe = run({"restore", "plain", "--as", "../x"});
  EXPECT_EQ(unsafe.status, kExitProblems);
  EXPECT_EQ(unsafe.err, "brask-tolvane-mcp trash: invalid note id: ../x\n");
  Outcome restored = run({"restore", "plain", "--as", "given"});
  EXPECT_EQ(restored.status, kExitOk) << restored.err;
  make_and_delete("given", "again");
  tv.write_file("notes/given.md", "---\nid: given\ntitle: Back\nupdated: U\n---\nback\n");
  Outcome taken = run({"restore", "given", "--as", "given"});
  EXPECT_EQ(taken.status, kExitProblems);
  EXPECT_EQ(taken.err, "brask-tolvane-mcp trash: a note with id given exists\n");
}

TEST_F(TrashCommand, EmptyOlderThanKeepsTheNewer) {
  const auto now = core::TrashClock::now();
  for (auto [id, age] : {std::pair{"old", 10 * 24h}, {"new", 1 * 24h}}) {
    tv.write_file(std::string("notes/") + id + ".md", "---\nid: " + std::string(id) + "\ntitle: T\nupdated: U\n---\nbody\n");
    ASSERT_TRUE(is_ok(core::move_to_trash(tv.root(), tv.notes() / (std::string(id) + ".md"), id, now - age)));
  }
  Outcome emptied = run({"empty", "--older-than", "5"});
  EXPECT_EQ(emptied.status, kExitOk) << emptied.err;
  EXPECT_EQ(emptied.out, "removed 1 note from the trash (41 bytes)\n");
  Outcome listed = run({"list", "--json"});
  auto notes = nlohmann::json::parse(listed.out)["notes"];
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0]["id"], "new");
  EXPECT_EQ(notes[0]["folder"], "");
  EXPECT_EQ(notes[0]["path"], "notes/new.md");
  EXPECT_EQ(notes[0]["size"], 41);
  EXPECT_EQ(notes[0]["title"], "T");
  EXPECT_EQ(run({"empty", "--json"}).out, "{\"bytes\":41,\"removed\":1}\n");
  EXPECT_EQ(run({"list"}).out, "The trash is empty.\n");
}

}  // namespace
}  // namespace mcp
