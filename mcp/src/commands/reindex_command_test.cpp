// reindex through the binary: after it, the server's answers are those of a
// vault whose every note was saved through the server.

#include "testing/platform.hpp"
#include "testing/command_fixture.hpp"

namespace mcp::command_tests {
namespace {

std::string note_text(std::string_view id, std::string_view title, std::string_view body) {
  return "---\nid: " + std::string(id) + "\ntitle: " + std::string(title) +
         "\ntags: []\nupdated: 2024-05-01T10:00:00Z\n---\n" + std::string(body);
}

class ReindexCommand : public CommandTest {
 protected:
  void SetUp() override {
    enable(vault.root());
    serve(call(1, "upsert_note", {{"id", "alpha"}, {"title", "Alpha"}, {"body", "alpha words"}}) +
          call(2, "upsert_note", {{"id", "beta"}, {"title", "Beta"}, {"body", "oldword see [[Alpha]]"}}) +
          call(3, "upsert_note", {{"id", "gone"}, {"title", "Gone"}, {"body", "gonewords"}}) +
          call(4, "upsert_note", {{"id", "mover"}, {"title", "Mover"}, {"body", "moving"}}));
    // What a person, an editor or a sync tool does beside the server.
    vault.write_file("notes/beta.md", note_text("beta", "Beta Edited", "newword see [[Hand Made]]"));
    fs::remove(vault.notes() / "gone.md");
    fs::create_directories(vault.notes() / "sub");
    fs::rename(vault.notes() / "mover.md", vault.notes() / "sub" / "mover.md");
    vault.write_file("notes/hand.md", note_text("hand", "Hand Made", "handwords"));
    vault.write_file("notes/bad.md", kBad);
    vault.write_file("notes/twin-a.md", note_text("twin", "Twin", "twinwords"));
    vault.write_file("notes/twin-b.md", note_text("twin", "Twin", "twinwords"));
  }

  std::set<std::string> search(std::string_view query) const {
    return ids_in(serve(call(1, "search_notes", {{"query", query}})).at(0));
  }

  static constexpr std::string_view kBad = "---\nid: bad\ntitle: [unclosed\n---\nbadwords";
};

TEST_F(ReindexCommand, TheServerThenAnswersAsIfEveryNoteWasSaved) {
  auto dry = run({"reindex", "--dry-run"});
  EXPECT_EQ(dry.exit_status, 1) << dry.err;
  EXPECT_NE(dry.out.find("Would index 3 notes (1 new, 2 changed): beta, hand, mover"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("Would mark 1 deleted: gone"), std::string::npos) << dry.out;
  EXPECT_EQ(search("handwords"), std::set<std::string>{});  // the dry run wrote nothing

  auto first = run({"reindex"});
  EXPECT_EQ(first.exit_status, 1) << first.out;  // files were left alone
  EXPECT_NE(first.out.find("Indexed 3 notes (1 new, 2 changed): beta, hand, mover"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("cannot read notes/bad.md: YAML error"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("id twin is held by notes/twin-a.md notes/twin-b.md"), std::string::npos) << first.out;
  EXPECT_EQ(vault.read_file("notes/bad.md"), kBad);

  struct Case { std::string query; std::set<std::string> ids; };
  for (const Case& c : {Case{"handwords", {"hand"}}, Case{"newword", {"beta"}}, Case{"oldword", {}},
                        Case{"Edited", {"beta"}}, Case{"gonewords", {}}, Case{"twinwords", {}}, Case{"badwords", {}}})
    EXPECT_EQ(search(c.query), c.ids) << c.query;
  const auto lines = serve(call(1, "list_notes") + call(2, "list_notes", {{"folder", "sub"}}) +
                           call(3, "list_backlinks", {{"id", "hand"}}) + call(4, "list_backlinks", {{"id", "alpha"}}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(ids_in(lines[0]), (std::set<std::string>{"alpha", "beta", "hand", "mover"}));
  EXPECT_EQ(ids_in(lines[1]), std::set<std::string>{"mover"});
  EXPECT_EQ(ids_in(lines[2]), std::set<std::string>{"beta"});
  EXPECT_EQ(ids_in(lines[3]), std::set<std::string>{});

  auto second = run({"reindex"});
  EXPECT_NE(second.out.find("Indexed 0 notes (0 new, 0 changed)\nMarked 0 deleted\n"), std::string::npos)
      << second.out;
}

TEST_F(ReindexCommand, InStepExitsZeroAndMistakesAreUsageErrors) {
  for (const char* path : {"notes/bad.md", "notes/twin-a.md", "notes/twin-b.md"}) fs::remove(vault.root() / path);
  EXPECT_EQ(run({"reindex"}).exit_status, 0);
  auto again = run({"reindex", "--vault", vault.root().string(), "--dry-run"});
  EXPECT_EQ(again.exit_status, 0);
  EXPECT_NE(again.out.find("(from --vault)"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("Nothing to do."), std::string::npos) << again.out;

  struct Case { std::vector<std::string> args; int status; std::string err; };
  for (const Case& c : {Case{{"reindex", "--force"}, 2, "unknown option: --force"},
                        Case{{"reindex", "extra"}, 2, "unexpected argument: extra"},
                        Case{{"reindex", "--vault", "nowhere"}, 1, "Unknown vault 'nowhere'"},
                        Case{{"reindex", "--vault", home.path().string()}, 1,
                             "not a Brask Tolvane vault (missing .brask-tolvane/): " + home.path().string()}}) {
    auto r = run(c.args);
    EXPECT_EQ(r.exit_status, c.status) << c.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  auto help = run({"reindex", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: brask-tolvane-mcp reindex")) << help.out;
}

// A note the server moved into a linked folder is a note of the vault for
// doctor and reindex too.
TEST_F(CommandTest, NotesInALinkedFolderStayIndexed) {
  BT_REQUIRE_LINKS();
  enable(vault.root());
  core::testing::TempDir elsewhere;
  fs::create_symlink(elsewhere.path(), vault.notes() / "linked");
  fs::create_symlink(vault.notes(), elsewhere.path() / "loop");
  serve(call(1, "upsert_note", {{"id", "m"}, {"title", "Moved"}, {"body", "linkedwords"}}) +
        call(2, "move_note", {{"id", "m"}, {"folder", "linked"}}));
  ASSERT_TRUE(fs::exists(elsewhere.path() / "m.md"));
  auto doctor = run({"doctor"});
  EXPECT_EQ(doctor.exit_status, 0) << doctor.out;
  EXPECT_NE(doctor.out.find("rows whose file is gone: 0"), std::string::npos) << doctor.out;
  auto reindexed = run({"reindex"});
  EXPECT_EQ(reindexed.exit_status, 0) << reindexed.out;
  EXPECT_NE(reindexed.out.find("Marked 0 deleted"), std::string::npos) << reindexed.out;
  const auto lines = serve(call(1, "search_notes", {{"query", "linkedwords"}}) + call(2, "get_note", {{"id", "m"}}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(ids_in(lines[0]), std::set<std::string>{"m"});
  EXPECT_EQ(ids_in(lines[1]), std::set<std::string>{"m"});
}

}  // namespace
}  // namespace mcp::command_tests
