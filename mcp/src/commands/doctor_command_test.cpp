// doctor through the binary: a healthy vault passes, and each broken case
// exits 1 naming the problem and the file.

#include "testing/platform.hpp"
#include "testing/command_fixture.hpp"

#include <functional>
#include <map>

namespace mcp::command_tests {
namespace {

class DoctorCommand : public CommandTest {
 protected:
  void SetUp() override {
    enable(vault.root());
    serve(call(1, "upsert_note", {{"id", "one"}, {"title", "One"}, {"body", "first"}}));
  }
};

TEST_F(DoctorCommand, AHealthyVaultPasses) {
  auto r = run({"doctor"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string& part : std::vector<std::string>{"mcp.json: read", "settings.json: missing", "Tool calls: enabled",
                           "Vault: " + vault.root().string() + " (from mcp.json)", "integrity check: ok",
                           "full-text check: ok", "notes on disk: 1", "live index rows: 1", "No problems found."})
    EXPECT_NE(r.out.find(part), std::string::npos) << "missing: " << part << "\n" << r.out;

  auto j = run({"doctor", "--json"});
  EXPECT_EQ(j.exit_status, 0);
  json report = json::parse(j.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << j.out;
  EXPECT_EQ(report["vault"]["source"], "mcp.json");
  EXPECT_EQ(report["index"]["notes_on_disk"], 1);
  EXPECT_EQ(report["problems"], json::array());
}

TEST_F(DoctorCommand, SaysWhetherAndHowTheFilesAreFollowed) {
  fs::create_directories(vault.notes() / "a" / "b");
  auto off = run({"doctor"});
  EXPECT_NE(off.out.find("follow_files: false"), std::string::npos) << off.out;
  EXPECT_NE(off.out.find("  following the files: off in mcp.json"), std::string::npos) << off.out;
  EXPECT_NE(off.out.find("    folders to watch: 3"), std::string::npos) << off.out;
  EXPECT_EQ(off.out.find("last server that followed"), std::string::npos) << off.out;

  serve(call(2, "get_note", {{"id", "one"}}), {"--follow-files"});
  auto on = run({"doctor"});
  EXPECT_EQ(on.exit_status, 0) << on.out << on.err;
  EXPECT_NE(on.out.find("    last server that followed: "), std::string::npos) << on.out;
  EXPECT_NE(on.out.find("    files seen: 1\n"), std::string::npos) << on.out;
  json report = json::parse(run({"doctor", "--json"}).out, nullptr, false);
  EXPECT_EQ(report["mcp_json"]["follow_files"], false);
  EXPECT_EQ(report["vault"]["follow"]["seen_files"], 1);
  EXPECT_EQ(report["vault"]["follow"]["folders"], 3);
  EXPECT_TRUE(report["vault"]["follow"]["how"].is_string());
}

TEST_F(DoctorCommand, ReportsWhatTheTrashHolds) {
  EXPECT_NE(run({"doctor"}).out.find("  trash: 0 deleted notes, 0 bytes\n"), std::string::npos);
  const std::string bytes = vault.read_file("notes/one.md");
  serve(call(2, "delete_note", {{"id", "one"}}));
  auto r = run({"doctor"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("  trash: 1 deleted notes, " + std::to_string(bytes.size()) + " bytes\n"), std::string::npos)
      << r.out;
  json report = json::parse(run({"doctor", "--json"}).out, nullptr, false);
  EXPECT_EQ(report["vault"]["trash"], (json{{"notes", 1}, {"bytes", bytes.size()}}));
}

TEST_F(DoctorCommand, EachBrokenCaseIsNamedWithItsFile) {
  const std::string mcp_file = (config_dir() / "mcp.json").string();
  struct Case {
    std::string what;
    std::function<void()> breaks;
    std::vector<std::string> named;
    std::vector<std::string> problems;  // the whole list, in --json
  };
  const std::string refused = "tool calls are refused: " + mcp_file + " does not set \"enabled\" to true";
  const std::string no_default = "vault path does not exist: " + (home.path() / "Brask/vaults/default").string() +
                                 " (`brask-tolvane-mcp init` makes one)";
  const std::vector<std::string> stale = {"note files not in the index: 1", "index rows whose file is gone: 1"};
  const std::string bad = "cannot read notes/bad.md: YAML error: while parsing a flow sequence at line 2 column 5: "
                          "did not find expected ',' or ']' at line 3 column 1";
  const std::string trash = "the trash " + (vault.root() / ".brask-tolvane" / "trash").string() +
                            " is not a folder: delete_note fails until it is mended";
  const std::vector<Case> cases = {
      {"a trailing comma",
       [&] { write_config("mcp.json", "{\"enabled\": true,\n}"); },
       {mcp_file + " is not valid: line 2, column 1", "tool calls are refused"},
       {mcp_file + " is not valid: line 2, column 1: syntax error while parsing object key - unexpected '}'; "
                   "expected string literal",
        refused, no_default}},
      {"enabled as text",
       [&] { write_config("mcp.json", R"({"enabled": "true"})"); },
       {R"("enabled" must be true or false, found a string)"},
       {mcp_file + R"( is not valid: "enabled" must be true or false, found a string)", refused, no_default}},
      {"stale rows",
       [&] {
         fs::remove(vault.notes() / "one.md");
         vault.write_file("notes/two.md", "---\nid: two\ntitle: Two\nupdated: x\n---\nb");
       },
       {"note files not in the index: 1", "index rows whose file is gone: 1", "notes/two.md", "Run `brask-tolvane-mcp reindex`"},
       stale},
      {"an unreadable note",
       [&] { vault.write_file("notes/bad.md", "---\nid: [x\n---\n"); },
       {"cannot read notes/bad.md: YAML error"},
       {stale[0], stale[1], bad}},
      {"a trash that is a plain file",
       [&] { vault.write_file(".brask-tolvane/trash", "not a folder"); },
       {"the trash " + (vault.root() / ".brask-tolvane" / "trash").string() + " is not a folder: delete_note fails",
        "trash: DELETES FAIL"},
       {stale[0], stale[1], bad, trash}},
      // Last: the cases before it need the index.
      {"a missing marker",
       [&] { fs::remove_all(vault.root() / ".brask-tolvane"); },
       {"not a Brask Tolvane vault (missing .brask-tolvane/): " + vault.root().string()},
       {"not a Brask Tolvane vault (missing .brask-tolvane/): " + vault.root().string()}},
  };
  for (const Case& c : cases) {
    enable(vault.root());
    c.breaks();
    auto r = run({"doctor"});
    EXPECT_EQ(r.exit_status, 1) << c.what << "\n" << r.out;
    EXPECT_NE(r.err.find("problem(s) found"), std::string::npos) << c.what;
    for (const std::string& part : c.named) EXPECT_NE(r.out.find(part), std::string::npos) << c.what << ": " << part << "\n" << r.out;
    auto j = run({"doctor", "--json"});
    EXPECT_EQ(j.exit_status, 1) << c.what;
    EXPECT_EQ(json::parse(j.out, nullptr, false)["problems"], json(c.problems)) << c.what;
  }
}

// A notes folder that is gone (a link to an unmounted disk) is said to be
// gone, not read as "every note deleted"; reindex refuses and the index
// keeps every row.
TEST_F(DoctorCommand, ANotesFolderThatCannotBeWalkedIsNamedAndReindexRefuses) {
  BT_REQUIRE_LINKS();
  const fs::path index = vault.root() / ".brask-tolvane" / "index.db";
  core::testing::TempDir disk;
  fs::rename(vault.notes(), disk.path() / "notes");
  struct Case { std::string what; std::function<void()> breaks; std::string problem; };
  const std::vector<Case> cases = {
      {"a dangling link", [&] { fs::create_symlink(disk.path() / "unmounted", vault.notes()); }, "notes/ is a link that leads nowhere"},
      {"a plain file", [&] { fs::remove(vault.notes()); vault.write_file("notes", "x"); }, "notes/ is not a folder"},
      {"nothing", [&] { fs::remove(vault.notes()); }, "notes/ is missing"},
  };
  for (const Case& c : cases) {
    c.breaks();
    auto r = run({"doctor"});
    EXPECT_EQ(r.exit_status, 1) << c.what;
    EXPECT_NE(r.out.find("  notes/: NOT USABLE: " + c.problem), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("- " + c.problem + " in " + vault.root().string()), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("rows whose file is gone"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Run `brask-tolvane-mcp reindex`"), std::string::npos) << r.out;
    EXPECT_EQ(json::parse(run({"doctor", "--json"}).out, nullptr, false)["vault"]["notes"], c.problem) << c.what;

    const auto before = fs::last_write_time(index);
    auto reindexed = run({"reindex"});
    EXPECT_EQ(reindexed.exit_status, 1) << c.what << '\n' << reindexed.out;
    EXPECT_NE(reindexed.err.find(c.problem + " in " + vault.root().string() + "; the index was not touched"),
              std::string::npos) << reindexed.err;
    EXPECT_EQ(fs::last_write_time(index), before) << c.what;
  }
  fs::rename(disk.path() / "notes", vault.notes());
  EXPECT_EQ(ids_in(serve(call(1, "get_note", {{"id", "one"}})).at(0)), std::set<std::string>{"one"});
  EXPECT_EQ(run({"doctor"}).exit_status, 0);
}

#ifndef _WIN32  // a Windows path is UTF-16: no name can be other than Unicode
// Paths that are not UTF-8 (a HOME and a vault named in another encoding)
// are printed escaped, and the JSON report is whole.
TEST_F(DoctorCommand, PathsThatAreNotUtf8AreShownEscaped) {
  const fs::path odd_home = home.path() / "h\xfe";
  const fs::path odd_vault = odd_home / "v\xe9";
  fs::create_directories(odd_vault / "notes");
  fs::create_directories(odd_vault / ".brask-tolvane");
  fs::create_directories(odd_home / ".config" / "brask-tolvane");
  std::ofstream(odd_home / ".config" / "brask-tolvane" / "mcp.json") << R"({"enabled": true, "vault_path": "~/elsewhere"})";
  const std::map<std::string, std::string> env = {{"HOME", odd_home.string()}};
  std::ofstream(odd_vault / "notes" / "n.md") << "---\nid: n\ntitle: N\nupdated: 2024-05-01T10:00:00Z\n---\nbody";
  auto reindexed = run({"reindex", "--vault", odd_vault.string()}, "", env);
  EXPECT_EQ(reindexed.exit_status, 0) << reindexed.err;
  EXPECT_NE(reindexed.out.find("Vault: " + (home.path() / "h\\xFE/v\\xE9").string() + " (from --vault)"), std::string::npos)
      << reindexed.out;

  auto r = run({"doctor", "--json", "--vault", odd_vault.string()}, "", env);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  json report = json::parse(r.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << r.out << r.err;
  EXPECT_EQ(report["config_dir"], (home.path() / "h\\xFE/.config/brask-tolvane").string());
  EXPECT_EQ(report["vault"]["path"], (home.path() / "h\\xFE/v\\xE9").string());
  EXPECT_EQ(report["index"]["live_rows"], 1);
  auto text = run({"doctor", "--vault", odd_vault.string()}, "", env);
  EXPECT_EQ(text.exit_status, 0) << text.out;
  EXPECT_NE(text.out.find("Vault: " + (home.path() / "h\\xFE/v\\xE9").string()), std::string::npos) << text.out;
}
#endif

TEST_F(DoctorCommand, ItChangesNothing) {
  const fs::path index = vault.root() / ".brask-tolvane" / "index.db";
  fs::remove(vault.notes() / "one.md");
  const auto before = fs::last_write_time(index);
  EXPECT_EQ(run({"doctor"}).exit_status, 1);
  EXPECT_EQ(fs::last_write_time(index), before);
  auto reindexed = run({"reindex", "--dry-run"});
  EXPECT_NE(reindexed.out.find("Would mark 1 deleted: one"), std::string::npos) << reindexed.out;
}

}  // namespace
}  // namespace mcp::command_tests
