// Files the server did not write, through the binary: a copy of a note, a
// named pipe and a link to a device among the notes, a folder that is a link
// onto another disk. Every tool and command answers and finishes; none
// hangs, grows without end, or writes over a note.

#include "testing/command_fixture.hpp"
#include "testing/platform.hpp"



namespace mcp::command_tests {
namespace {

// The text of a tool's answer, or "error: " and the message of the error
// it answered.
std::string answer_of(const std::string& line) {
  json envelope = json::parse(line, nullptr, false);
  if (envelope.contains("error")) return "error: " + envelope["error"].value("message", "");
  return envelope["result"]["content"][0]["text"].get<std::string>();
}

class ForeignFiles : public CommandTest {
 protected:
  void SetUp() override {
    BT_REQUIRE_LINKS();
    enable(vault.root());
    serve(call(1, "upsert_note", {{"id", "a"}, {"title", "Alpha"}, {"body", "alpha words"}}) +
          call(2, "upsert_note", {{"id", "c"}, {"title", "Linker"}, {"body", "see [[Alpha]]"}}));
    fs::copy_file(vault.notes() / "a.md", vault.notes() / "b.md");  // a file manager's copy
    core::testing::make_named_pipe(vault.notes() / "pipe.md");
    fs::create_symlink("/dev/zero", vault.notes() / "zero.md");
    fs::create_directories(vault.root() / "other-disk");
    fs::create_directory_symlink(vault.root() / "other-disk", vault.notes() / "linked");
  }
};

TEST_F(ForeignFiles, ToolsRefuseToWriteACopyAndAnswerForOddFileKinds) {
  const auto before = vault.files();
  auto lines = serve(call(1, "upsert_note", {{"id", "b"}, {"title", "Bee"}, {"body", "bee"}}) +
                     call(2, "get_note", {{"id", "pipe"}}) + call(3, "get_note", {{"id", "zero"}}) +
                     call(4, "set_metas", {{"id", "b"}, {"metas", {{"k", "v"}}}}) +
                     call(5, "move_note", {{"id", "b"}, {"folder", "linked"}}));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(answer_of(lines[0]), "error: the file notes/b.md holds note a, not note b");
  EXPECT_EQ(answer_of(lines[1]), "error: IO error: not a regular file (a named pipe)");
  EXPECT_EQ(answer_of(lines[2]), "error: IO error: not a regular file (a device)");
  EXPECT_EQ(answer_of(lines[3]), "error: the file notes/b.md holds note a, not note b");
  EXPECT_EQ(answer_of(lines[4]), "error: the file notes/b.md holds note a, not note b");
  EXPECT_EQ(vault.files(), before);

  // The note a moves into the linked folder and stays found there.
  lines = serve(call(1, "move_note", {{"id", "a"}, {"folder", "linked"}}) + call(2, "get_note", {{"id", "a"}}) +
                call(3, "delete_note", {{"id", "b"}}) + call(4, "get_note", {{"id", "a"}}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(ids_in(lines[1]), std::set<std::string>{"a"});
  EXPECT_TRUE(fs::exists(vault.root() / "other-disk" / "a.md"));
  EXPECT_FALSE(fs::exists(vault.notes() / "b.md"));
  EXPECT_EQ(ids_in(lines[3]), std::set<std::string>{"a"});
  EXPECT_EQ(vault.read_file("notes/c.md").find("[[Alpha]]") != std::string::npos, true);
}

// reindex and doctor list the odd files as problems of their own and go
// on: neither blocks on the pipe nor reads the device without end. Their
// whole reports are pinned: a problem dropped or added shows.
TEST_F(ForeignFiles, ReindexAndDoctorListOddFilesAndFinish) {
  auto reindexed = run({"reindex"});
  EXPECT_EQ(reindexed.exit_status, 1) << reindexed.out << reindexed.err;
  EXPECT_EQ(reindexed.out, "Vault: " + vault.root().string() +
                               " (from mcp.json)\n"
                               "Notes on disk: 5, live index rows: 2\n"
                               "Indexed 0 notes (0 new, 0 changed)\n"
                               "Marked 0 deleted\n"
                               "Left alone (3):\n"
                               "  cannot read notes/pipe.md: IO error: not a regular file (a named pipe)\n"
                               "  cannot read notes/zero.md: IO error: not a regular file (a device)\n"
                               "  id a is held by notes/a.md notes/b.md (give all but one a new id)\n");

  auto doctor = run({"doctor", "--json"});
  EXPECT_EQ(doctor.exit_status, 1) << doctor.out << doctor.err;
  json report = json::parse(doctor.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << doctor.out;
  EXPECT_EQ(report["problems"], json::array({"cannot read notes/pipe.md: IO error: not a regular file (a named pipe)",
                                             "cannot read notes/zero.md: IO error: not a regular file (a device)",
                                             "id a is held by two files or more"}));
}

// A note deleted a moment ago is younger than any number of days, however
// large: the cut-off never wraps into the future.
TEST_F(ForeignFiles, EmptyingTheTrashByAgeKeepsARecentDeleteForAnyDayCount) {
  serve(call(1, "delete_note", {{"id", "c"}}));
  for (const char* days : {"150000", "1000000"}) {
    auto r = run({"trash", "empty", "--older-than", days, "--json"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"bytes\":0,\"removed\":0}\n") << days;
  }
  auto over = run({"trash", "empty", "--older-than", "1000001"});
  EXPECT_EQ(over.exit_status, 2);
  EXPECT_EQ(over.err.find("--older-than needs a whole number of days"), over.err.find("--older-than"));
  auto listed = run({"trash", "list", "--json"});
  EXPECT_EQ(json::parse(listed.out)["notes"].size(), 1u);
}

}  // namespace
}  // namespace mcp::command_tests
