// init through the binary, and --vault on the server's command line.

#include "commands/shown_path.hpp"
#include "base/files.hpp"
#include "testing/platform.hpp"
#include "testing/command_fixture.hpp"

#include <functional>

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
  const json command = json::parse(host, nullptr, false)["mcpServers"]["brask-tolvane"]["command"];
  ASSERT_TRUE(command.is_string()) << r.out;
  // The program that ran, by its absolute path (on Windows with its drive
  // and backslashes, as a host there expects it).
  std::error_code ec;
  EXPECT_TRUE(fs::equivalent(core::utf8_path(command.get<std::string>()), BT_SERVER_BINARY, ec)) << command;
  EXPECT_TRUE(core::utf8_path(command.get<std::string>()).is_absolute()) << command;

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

// What stands where a vault keeps its parts makes init fail, naming it,
// and changes nothing.
TEST_F(CommandTest, InitRefusesAFolderThatIsNoVault) {
  BT_REQUIRE_LINKS();
  struct Case { std::string what; std::function<void(const fs::path&)> plant; std::string named; };
  const std::vector<Case> cases = {
      {"a plain file as marker", [](const fs::path& r) { std::ofstream(r / ".brask-tolvane") << "x"; }, ".brask-tolvane exists and is not a folder"},
      {"a dangling marker link", [](const fs::path& r) { fs::create_symlink(r / "nowhere", r / ".brask-tolvane"); }, ".brask-tolvane exists and is not a folder"},
      {"a plain file as notes", [](const fs::path& r) { fs::create_directory(r / ".brask-tolvane"); std::ofstream(r / "notes") << "x"; }, "notes exists and is not a folder"},
      {"a folder as index", [](const fs::path& r) { fs::create_directories(r / ".brask-tolvane" / "index.db"); }, "index.db exists and is not a file"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fs::path root = home.path() / ("v" + std::to_string(i));
    fs::create_directories(root);
    cases[i].plant(root);
    auto r = run({"init", root.string()});
    EXPECT_EQ(r.exit_status, 1) << cases[i].what << '\n' << r.out;
    EXPECT_NE(r.err.find(cases[i].named), std::string::npos) << cases[i].what << '\n' << r.err;
    EXPECT_NE(r.err.find("is no vault"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("left as it is"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(config_dir() / "mcp.json")) << cases[i].what;
  }
}

#ifndef _WIN32  // a Windows path is UTF-16: no name can be other than Unicode
// A path that is not UTF-8 is printed escaped, and init finishes: mcp.json
// names a vault below such a HOME as "~/...", and says why it cannot name
// one whose own name is not UTF-8.
TEST_F(CommandTest, InitOnPathsThatAreNotUtf8) {
  const fs::path odd_home = home.path() / "h\xfe";
  fs::create_directories(odd_home);
  auto r = testing::run_server(BT_SERVER_BINARY, "", {{"HOME", odd_home.string()}}, {"init"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("Created a vault at " + shown_path(odd_home / "Brask/vaults/default")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("h\\xFE"), std::string::npos) << r.out;
  json written = json::parse(std::ifstream(odd_home / ".config/brask-tolvane/mcp.json"), nullptr, false);
  EXPECT_EQ(written, (json{{"enabled", true}, {"vault_path", "~/Brask/vaults/default"}}));
  auto served = testing::run_server(BT_SERVER_BINARY, call(1, "upsert_note", {{"id", "n"}, {"title", "T"}, {"body", "b"}}),
                                    {{"HOME", odd_home.string()}}, {});
  EXPECT_EQ(ids_in(served.out), std::set<std::string>{"n"}) << served.out;
  EXPECT_TRUE(fs::exists(odd_home / "Brask/vaults/default/notes/n.md"));

  const fs::path odd_vault = home.path() / "v\xfe";
  auto named = run({"init", odd_vault.string()});
  EXPECT_EQ(named.exit_status, 1) << named.out << named.err;
  EXPECT_TRUE(fs::is_regular_file(odd_vault / ".brask-tolvane" / "index.db"));
  EXPECT_NE(named.out.find(shown_path(odd_vault)), std::string::npos) << named.out;
  EXPECT_NE(named.err.find("mcp.json cannot name " + shown_path(odd_vault)), std::string::npos) << named.err;
  EXPECT_FALSE(fs::exists(config_dir() / "mcp.json"));
}
#endif

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
                        Case{{"--vault", ""}, "brask-tolvane-mcp: missing value: --vault\n"},
                        Case{{"--vault", " "}, "brask-tolvane-mcp: missing value: --vault\n"},
                        Case{{"--vault="}, "brask-tolvane-mcp: missing value: --vault=\n"},
                        Case{{"--vault", "v", "x"}, "brask-tolvane-mcp: unexpected argument: x\n"},
                        Case{{"--vault=v", "x"}, "brask-tolvane-mcp: unexpected argument: x\n"}}) {
    auto r = run(c.args, call(1, "list_notes"));
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(c.first_line)) << r.err;
  }
}

// A blank --vault would otherwise quietly mean the default vault, which is
// a sound one here.
TEST_F(CommandTest, ABlankVaultIsAUsageErrorForEveryCommand) {
  enable(vault.root());
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"doctor"}, std::vector<std::string>{"reindex"}, std::vector<std::string>{"trash", "list"}}) {
    for (const std::vector<std::string>& flag : {std::vector<std::string>{"--vault", ""}, std::vector<std::string>{"--vault="}}) {
      std::vector<std::string> args = command;
      args.insert(args.end(), flag.begin(), flag.end());
      auto r = run(args);
      EXPECT_EQ(r.exit_status, 2) << command[0] << ' ' << flag[0] << '\n' << r.out;
      EXPECT_EQ(r.out, "") << command[0];
      EXPECT_NE(r.err.find("option --vault needs a value"), std::string::npos) << r.err;
    }
  }
}

}  // namespace
}  // namespace mcp::command_tests
