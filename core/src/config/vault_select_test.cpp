#include "config/vault_select.hpp"

#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace core {
namespace {

namespace fs = std::filesystem;

class VaultSelectTest : public ::testing::Test {
 protected:
  VaultSelectTest() {
    env_.set("HOME", home_.path().string()).unset("APPDATA").unset("USERPROFILE").unset("BRASK_TOLVANE_VAULT");
  }
  void write_settings(std::string_view text) const {
    fs::path dir = home_.path() / ".config/brask-tolvane";
    fs::create_directories(dir);
    std::ofstream(dir / "settings.json", std::ios::binary) << text;
  }
  fs::path home(std::string_view relative) const { return home_.path() / relative; }

  testing::TempDir home_;
  testing::ScopedEnv env_;
};

TEST_F(VaultSelectTest, IdBeatsLabelBeatsPathThenPathLikeTexts) {
  const std::vector<VaultLibraryEntry> entries = {
      {"p0", "other", "work", false, std::nullopt},
      {"e1", "Work", "/v/work", false, std::nullopt},
      {"e2", "e3", "/v/two", false, std::nullopt},
      {"e3", "Work", "~/Three", false, std::nullopt},
      {"e4", "\u00C4pfel", "D:/Vaults/Apples/", false, std::nullopt},
  };
  struct Case { std::string_view text; std::optional<fs::path> want; };
  const Case cases[] = {
      {"e1", "/v/work"},
      {"WORK", "/v/work"},  // the first of two equal labels; a label beats p0's path
      {"e3", home("Three")},  // an id beats e2's earlier label
      {"\u00C4PFEL", "D:/Vaults/Apples/"},
      {"\u00E4pfel", std::nullopt},  // only ASCII letters fold
      {"d:\\vaults\\apples", "D:/Vaults/Apples/"},
      {"/V/TWO/", "/v/two"},
      {"notes", std::nullopt},
      {"a", std::nullopt},
      {"sub/dir", "sub/dir"},
      {"D:", "D:"},
      {"~", home_.path()},
      {"~/Vaults/Work", home("Vaults/Work")},
      {"\\\\server\\share", "\\\\server\\share"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(resolve_vault_argument(c.text, entries), c.want) << "text: '" << c.text << "'";
}

TEST_F(VaultSelectTest, NamedVaultComesFromTheLoadedLibrary) {
  write_settings(R"({"vault_path": "~/Vaults/Current",
                     "vaults": [{"id": "w1", "label": "Work", "path": " ~/Vaults/Work "}],
                     "recent_vaults": ["~/Notes/Alpha"]})");
  env_.set("BRASK_TOLVANE_VAULT", "/env");
  McpConfig config{true, "/mcp", std::nullopt};
  struct Case { std::string_view vault; fs::path want; };
  for (const Case& c : {Case{"w1", home("Vaults/Work")}, Case{"work", home("Vaults/Work")},
                        Case{"alpha", home("Notes/Alpha")}, Case{"Current", home("Vaults/Current")}}) {
    auto root = resolve_vault(c.vault, config);
    ASSERT_TRUE(root) << "vault: " << c.vault << ": " << root.error();
    EXPECT_EQ(*root, c.want) << "vault: " << c.vault;
  }
}

TEST_F(VaultSelectTest, UnknownBareWordFailsWithoutFallingBack) {
  write_settings(R"({"vaults": [{"id": "w1", "label": "Work", "path": "/v/work"}]})");
  env_.set("BRASK_TOLVANE_VAULT", "/env");
  auto root = resolve_vault("Wörk", McpConfig{true, "/mcp", std::nullopt});
  ASSERT_FALSE(root);
  EXPECT_EQ(root.error(), "Unknown vault 'Wörk'. Use a library label, id, or absolute path from Settings → Vaults.");
}

TEST_F(VaultSelectTest, MalformedLibraryMakesNamesUnknown) {
  write_settings(R"({"vaults": [{"id": "w1", "label": "Work", "path": "/v/work"}, {"id": "w2", "path": "/v/x"}]})");
  auto root = resolve_vault("w1", McpConfig{});
  ASSERT_FALSE(root);
  EXPECT_EQ(root.error(), unknown_vault_text("w1"));
  EXPECT_EQ(resolve_vault("/v/work", McpConfig{}), fs::path("/v/work"));
}

TEST_F(VaultSelectTest, DefaultChainSkipsBlankSourcesAndNamesTheOneThatWon) {
  const fs::path built_in = home("Brask/vaults/default");
  using enum VaultSource;
  struct Case {
    std::optional<std::string> flag;
    std::optional<std::string> env;
    std::optional<std::string> mcp;
    std::optional<std::string_view> settings;
    fs::path want;
    VaultSource source;
  };
  const Case cases[] = {
      {" ~/f ", "/e", "/m", R"({"vault_path": "/s"})", home("f"), Flag},
      {" ", " /e ", "/m", R"({"vault_path": "/s"})", "/e", Environment},
      {std::nullopt, " /e ", "/m", R"({"vault_path": "/s"})", "/e", Environment},
      {std::nullopt, " \t", "/m", R"({"vault_path": "/s"})", "/m", McpJson},
#ifndef _WIN32  // a Windows environment is UTF-16 and cannot hold the stray byte
      {std::nullopt, "\xFF/e", " ~/m ", std::nullopt, home("m"), McpJson},
#endif
      {std::nullopt, std::nullopt, "", R"({"vault_path": " /s "})", "/s", SettingsJson},
      {"", "  ", "\u00A0", R"({"vault_path": "/s", "vaults": [{"id": "x"}]})", "/s", SettingsJson},
      {std::nullopt, std::nullopt, std::nullopt, R"({"vault_path": "  "})", built_in, BuiltIn},
      {std::nullopt, " ", " ", R"({"vault_path": 5})", built_in, BuiltIn},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, built_in, BuiltIn},
  };
  for (const Case& c : cases) {
    if (c.env) env_.set("BRASK_TOLVANE_VAULT", *c.env);
    else env_.unset("BRASK_TOLVANE_VAULT");
    fs::remove(home(".config/brask-tolvane/settings.json"));
    if (c.settings) write_settings(*c.settings);
    McpConfig config{true, c.mcp, c.flag};
    const DefaultVault chosen = explain_default_vault(config);
    EXPECT_EQ(chosen.root, c.want) << "flag: " << c.flag.value_or("(none)") << " env: " << c.env.value_or("(unset)")
                                   << " mcp: " << c.mcp.value_or("(none)") << " settings: "
                                   << c.settings.value_or("(none)");
    EXPECT_EQ(vault_source_name(chosen.source), vault_source_name(c.source)) << "want root " << c.want;
    EXPECT_EQ(resolve_vault(std::nullopt, config), c.want);
  }
}

TEST_F(VaultSelectTest, NamedVaultWinsOverTheFlag) {
  McpConfig config{true, std::nullopt, "/flagged"};
  EXPECT_EQ(resolve_vault("/named", config), fs::path("/named"));
}

}  // namespace
}  // namespace core
