// What doctor shows of the configuration files: which state each file is
// in and, for one that is not used, why.

#include "config/config.hpp"

#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace core {
namespace {

namespace fs = std::filesystem;

class ConfigCheck : public ::testing::Test {
 protected:
  ConfigCheck() { env_.set("HOME", home_.path().string()).unset("APPDATA"); }
  void write(std::string_view name, std::string_view text) const {
    fs::create_directories(config_dir());
    std::ofstream(config_dir() / name, std::ios::binary) << text;
  }
  testing::TempDir home_;
  testing::ScopedEnv env_;
};

TEST_F(ConfigCheck, McpJsonStatesAndReasons) {
  struct Case { std::optional<std::string_view> text; ConfigFileState state; std::string problem; bool enabled; };
  using enum ConfigFileState;
  const Case cases[] = {
      {std::nullopt, Missing, "", false},
      {R"({"enabled": true, "vault_path": "/v"})", Read, "", true},
      {R"({"enabled": "true"})", Invalid, R"("enabled" must be true or false, found a string)", false},
      {"{\"enabled\": true,\n}", Invalid,
       "line 2, column 1: syntax error while parsing object key - unexpected '}'; expected string literal", false},
      {R"({"enabled": true, "enabled": true})", Invalid, R"(key "enabled" occurs twice)", false},
      {R"({"vault_path": 3})", Invalid, R"("vault_path" must be a string or null, found a number)", false},
      {R"({"enabled": true, "follow_files": "yes"})", Invalid, R"("follow_files" must be true or false, found a string)",
       false},
      {"[]", Invalid, "the top-level value is an array, not an object", false},
      {"\xEF\xBB\xBF{}", Invalid, "starts with a byte order mark", false},
      {"{\"enabled\": true, \"vault_path\": \"\xFF\"}", Invalid, "not valid UTF-8", false},
  };
  for (const Case& c : cases) {
    fs::remove(mcp_config_file());
    if (c.text) write("mcp.json", *c.text);
    McpConfig config{true, "stale", std::nullopt};
    const ConfigFileCheck check = check_mcp_config(config);
    EXPECT_EQ(check.file, mcp_config_file());
    EXPECT_EQ(static_cast<int>(check.state), static_cast<int>(c.state)) << c.text.value_or("(missing)");
    EXPECT_EQ(check.problem, c.problem) << c.text.value_or("(missing)");
    EXPECT_EQ(config.enabled, c.enabled) << c.text.value_or("(missing)");
    EXPECT_EQ(load_mcp_config().enabled, c.enabled);
  }
}

TEST_F(ConfigCheck, SettingsJsonReasonsNameTheEntry) {
  struct Case { std::string_view text; std::string problem; };
  const Case cases[] = {
      {R"({"vaults": [{"id": "a", "label": "A"}]})", R"(an entry of "vaults" has no "path")"},
      {R"({"vaults": [{"id": "a", "label": "A", "path": "/p", "pinned": 1}]})",
       R"(in an entry of "vaults": "pinned" must be true or false, found a number)"},
      {R"({"vaults": [{"id": "a", "id": "b", "label": "A", "path": "/p"}]})",
       R"(key "id" occurs twice in an entry of "vaults")"},
      {R"({"recent_vaults": [null]})", R"(an entry of "recent_vaults" is null, not a string)"},
  };
  for (const Case& c : cases) {
    write("settings.json", c.text);
    VaultLibrarySnapshot snapshot;
    const ConfigFileCheck check = check_settings(snapshot);
    EXPECT_EQ(static_cast<int>(check.state), static_cast<int>(ConfigFileState::Invalid)) << c.text;
    EXPECT_EQ(check.problem, c.problem) << c.text;
    EXPECT_TRUE(snapshot.vaults.empty());
  }
  write("settings.json", R"({"vault_path": "/cur", "vaults": [{"id": "a", "label": "A", "path": "/p"}]})");
  VaultLibrarySnapshot snapshot;
  EXPECT_EQ(static_cast<int>(check_settings(snapshot).state), static_cast<int>(ConfigFileState::Read));
  EXPECT_EQ(snapshot.vaults.size(), 1u);  // as in the file: the current vault is not folded in
  EXPECT_EQ(load_vault_library().vaults.size(), 2u);
}

}  // namespace
}  // namespace core
