// init through the binary, and --vault on the server's command line.

#include "testing/command_fixture.hpp"

namespace mcp::command_tests {
namespace {

TEST_F(CommandTest, InitOnAFreshHomeMakesAVaultTheServerUses) {
  auto r = run({"init"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const fs::path root = home.path() / "Brask" / "vaults" / "default";
  EXPECT_TRUE(fs::is_regular_file(root / ".brask-tolvane" / "index.db"));
  EXPECT_TRUE(fs::is_directory(root / "notes"));
  json written = json::parse(std::ifstream(config_dir() / "mcp.json"), nullptr, false);
  EXPECT_EQ(written, (json{{"enabled", true}, {"vault_path", root.string()}}));
  const std::string host = r.out.substr(r.out.find("{\n  \"mcpServers\""));
  EXPECT_TRUE(json::parse(host, nullptr, false)["mcpServers"]["brask-tolvane"]["command"].is_string()) << r.out;

  const auto lines = serve(call(1, "upsert_note", {{"id", "n"}, {"title", "T"}, {"body", "b"}}));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ids_in(lines[0]), std::set<std::string>{"n"});
  EXPECT_TRUE(fs::exists(root / "notes" / "n.md"));
}

TEST_F(CommandTest, InitNeverOverwritesAConfigurationOrAVault) {
  const std::string own = R"({"enabled": false, "vault_path": "/elsewhere"})";
  write_config("mcp.json", own);
  vault.write_file("notes/kept.md", "kept");
  const auto index_time = fs::last_write_time(vault.root() / ".brask-tolvane");
  auto r = run({"init", vault.root().string()});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("left as it is"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("was not changed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"vault_path\": " + json(vault.root().string()).dump()), std::string::npos) << r.out;
  EXPECT_EQ(vault.read_file("notes/kept.md"), "kept");
  EXPECT_EQ(fs::last_write_time(vault.root() / ".brask-tolvane"), index_time);
  std::ifstream in(config_dir() / "mcp.json");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), own);

  auto fresh = run({"init", (home.path() / "second").string()});
  EXPECT_EQ(fresh.exit_status, 0);
  EXPECT_TRUE(fs::is_directory(home.path() / "second" / "notes"));
  EXPECT_EQ(run({"init", "a", "b"}).exit_status, 2);
}

TEST_F(CommandTest, VaultFlagSelectsTheVaultAndTheCallsArgumentStillWins) {
  core::testing::TempVault other;
  enable(other.root());  // mcp.json and BRASK_TOLVANE_VAULT both name `other`
  const std::string input = call(1, "upsert_note", {{"id", "flagged"}, {"title", "T"}, {"body", "b"}}) +
                            call(2, "upsert_note", {{"vault", other.root().string()}, {"id", "named"}, {"title", "T"}, {"body", "b"}});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--vault", vault.root().string()}, std::vector<std::string>{"--vault=" + vault.root().string()}}) {
    serve(input, args, {{"BRASK_TOLVANE_VAULT", other.root().string()}});
    EXPECT_TRUE(fs::exists(vault.notes() / "flagged.md")) << args[0];
    EXPECT_FALSE(fs::exists(other.notes() / "flagged.md")) << args[0];
    EXPECT_TRUE(fs::exists(other.notes() / "named.md")) << args[0];
    EXPECT_FALSE(fs::exists(vault.notes() / "named.md")) << args[0];
    fs::remove(vault.notes() / "flagged.md");
  }
  struct Case { std::vector<std::string> args; std::string first_line; };
  for (const Case& c : {Case{{"--vault"}, "brask-tolvane-mcp: missing value: --vault\n"},
                        Case{{"--vault", "v", "x"}, "brask-tolvane-mcp: unexpected argument: x\n"},
                        Case{{"--vault=v", "x"}, "brask-tolvane-mcp: unexpected argument: x\n"}}) {
    auto r = run(c.args, call(1, "list_notes"));
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(c.first_line)) << r.err;
  }
}

}  // namespace
}  // namespace mcp::command_tests
