#include "config/config.hpp"

#include "testing/platform.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"
#include "base/text.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

namespace core {
namespace {

namespace fs = std::filesystem;

// A fake HOME holding the configuration directory; no other variable that
// the configuration reads is set.
class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() {
    env_.set("HOME", home_.path().string()).unset("APPDATA").unset("USERPROFILE").unset("BRASK_TOLVANE_VAULT");
  }
  fs::path dir() const { return home_.path() / ".config/brask-tolvane"; }
  void write(const std::string& name, std::string_view text) const {
    fs::create_directories(dir());
    std::ofstream(dir() / name, std::ios::binary) << text;
  }

  testing::TempDir home_;
  testing::ScopedEnv env_;
};

TEST_F(ConfigTest, DirectoryComesFromHomeThenAppdataThenRelative) {
  testing::TempDir appdata;
  env_.set("APPDATA", appdata.path().string());
  write("mcp.json", R"({"enabled": true})");
  EXPECT_TRUE(load_mcp_config().enabled);  // HOME wins over APPDATA

  env_.unset("HOME");
  EXPECT_EQ(mcp_config_file(), appdata.path() / "brask-tolvane/mcp.json");
  EXPECT_FALSE(load_mcp_config().enabled);

  env_.unset("APPDATA");
  EXPECT_EQ(settings_file(), fs::path(".config/brask-tolvane/settings.json"));
  env_.set("HOME", "").set("APPDATA", appdata.path().string());  // set but empty still wins
  EXPECT_EQ(config_dir(), fs::path(".config/brask-tolvane"));
}

TEST_F(ConfigTest, McpConfigReadsStrictlyOrAsDefaults) {
  struct Case { std::string_view text; bool enabled; std::optional<std::string> vault_path; };
  const Case cases[] = {
      {R"({})", false, std::nullopt},
      {R"({"enabled": true, "vault_path": " /v "})", true, " /v "},
      {R"({"enabled": true, "vault_path": null})", true, std::nullopt},
      {"\t{\"enabled\": true}\r\n ", true, std::nullopt},
      {R"({"enabled": true, "x": 1, "x": {"enabled": 1, "enabled": 2}})", true, std::nullopt},
      {R"({"enabled": "true", "vault_path": "/v"})", false, std::nullopt},
      {R"({"enabled": null, "vault_path": "/v"})", false, std::nullopt},
      {R"({"enabled": true, "vault_path": 5})", false, std::nullopt},
      {R"({"enabled": true, "enabled": true})", false, std::nullopt},
      {R"({"enabled": true} x)", false, std::nullopt},
      {R"({"enabled": true)", false, std::nullopt},
      {R"([{"enabled": true}])", false, std::nullopt},
      {"// on\n{\"enabled\": true}", false, std::nullopt},
      {"\xEF\xBB\xBF{\"enabled\": true}", false, std::nullopt},
      {"{\"enabled\": true, \"vault_path\": \"/v\xFF\"}", false, std::nullopt},
  };
  for (const Case& c : cases) {
    write("mcp.json", c.text);
    McpConfig config = load_mcp_config();
    EXPECT_EQ(config.enabled, c.enabled) << "mcp.json: " << c.text;
    EXPECT_EQ(config.vault_path, c.vault_path) << "mcp.json: " << c.text;
  }
}

TEST_F(ConfigTest, FollowFilesIsOffUnlessTheFileSaysTrue) {
  for (const auto& [text, follow] : {std::pair{R"({"enabled": true})", false},
                                     {R"({"enabled": true, "follow_files": false})", false},
                                     {R"({"enabled": true, "follow_files": true})", true},
                                     {R"({"enabled": true, "follow_files": null})", false}}) {
    write("mcp.json", text);
    EXPECT_EQ(load_mcp_config().follow_files, follow) << text;
  }
}

TEST_F(ConfigTest, MissingOrUnreadableFilesReadAsDefaultsWithoutCreatingAnything) {
  BT_REQUIRE_LINKS();
  EXPECT_FALSE(load_mcp_config().enabled);
  EXPECT_TRUE(load_vault_library().vaults.empty());
  EXPECT_EQ(read_settings_vault_path(), std::nullopt);
  EXPECT_FALSE(fs::exists(home_.path() / ".config"));

  fs::create_directories(dir() / "mcp.json");
  fs::create_directories(dir() / "settings.json");
  EXPECT_FALSE(load_mcp_config().enabled);
  EXPECT_TRUE(load_vault_library().vaults.empty());
  EXPECT_EQ(read_settings_vault_path(), std::nullopt);

  // Read on every tool call: a named pipe, or a link to a device, in their
  // place would hold the server forever or read without end.
  fs::remove(dir() / "mcp.json");
  fs::remove(dir() / "settings.json");
  testing::make_named_pipe(dir() / "mcp.json");
  fs::create_symlink("/dev/zero", dir() / "settings.json");
  McpConfig config;
  EXPECT_EQ(check_mcp_config(config).state, ConfigFileState::Unreadable);
  EXPECT_FALSE(config.enabled);
  EXPECT_TRUE(load_vault_library().vaults.empty());
  EXPECT_EQ(read_settings_vault_path(), std::nullopt);
}

TEST_F(ConfigTest, MalformedSettingsGiveAnEmptyLibrary) {
  // A well-formed file with one entry gives one entry; every other shape here
  // makes the whole file read as the empty snapshot. The entry's path and
  // the vault_path name the same vault, so completion adds nothing.
  struct Case { std::string_view text; std::size_t entries; };
  const Case cases[] = {
      {R"({"vault_path": "/v", "vaults": [{"id": "e", "label": "L", "path": "/v"}]})", 1},
      {R"({"vaults": [{"id": "e", "label": "L", "path": "/v", "pinned": true, "last_opened_at": null}]})", 1},
      {R"({"vaults": [{"id": "e", "label": "L", "path": "/v", "x": 1, "x": 2, "y": {"id": 1, "id": 2}}]})", 1},
      {R"({"w": {"vault_path": 1, "vault_path": 2}, "vaults": [{"id": "e", "label": "L", "path": "/v"}]})", 1},
      {R"({"vaults": [{"id": "e", "path": "/v"}]})", 0},
      {R"({"vaults": [{"id": "e", "label": 7, "path": "/v"}]})", 0},
      {R"({"vaults": [{"id": null, "label": "L", "path": "/v"}]})", 0},
      {R"({"vaults": [{"id": "e", "label": "L", "path": "/v", "pinned": "true"}]})", 0},
      {R"({"vaults": [{"id": "e", "id": "e", "label": "L", "path": "/v"}]})", 0},
      {R"({"vaults": [{"id": "e", "label": "L", "path": "/v"}, "/w"]})", 0},
      {R"({"vaults": [{"id": "e", "label": "L", "path": "/v"}], "vaults": []})", 0},
      {R"({"vault_path": null})", 0},
      {R"({"recent_vaults": null})", 0},
      {R"({"recent_vaults": ["/v", null]})", 0},
      {R"({"recent_vaults": ["/v"]}])", 0},
  };
  for (const Case& c : cases) {
    write("settings.json", c.text);
    VaultLibrarySnapshot library = load_vault_library();
    EXPECT_EQ(library.vaults.size(), c.entries) << "settings.json: " << c.text;
    EXPECT_TRUE(library.recent_vaults.empty()) << "settings.json: " << c.text;
  }
}

TEST_F(ConfigTest, SettingsVaultPathIsReadUntyped) {
  struct Case { std::string_view text; std::optional<std::string> want; };
  const Case cases[] = {
      {R"({"vault_path": "  /v  ", "vaults": [{"id": "e", "path": "/v"}]})", "/v"},  // library rejected
      {R"({"vault_path": "/a", "vault_path": "/b"})", "/b"},
      {R"({"vault_path": " \u3000 "})", std::nullopt},
      {R"({"vault_path": null})", std::nullopt},
      {R"(["/v"])", std::nullopt},
      {R"({"vault_path": "/v"} x)", std::nullopt},
  };
  for (const Case& c : cases) {
    write("settings.json", c.text);
    EXPECT_EQ(read_settings_vault_path(), c.want) << "settings.json: " << c.text;
  }
}

TEST_F(ConfigTest, LoadingFoldsVaultPathAndRecentPathsIntoTheLibrary) {
  write("settings.json", R"({
    "vault_path": " ~/Notes/b ",
    "vaults": [{"id": "e1", "label": "Work", "path": "D:/Vaults/Work/", "pinned": true}],
    "recent_vaults": ["d:\\vaults\\work", "~/Notes/a", "  ", "~/notes/A/", "/srv/x/..", "~/Notes/b"],
    "theme": "dark"})");
  VaultLibrarySnapshot library = load_vault_library();
  EXPECT_EQ(library.vault_path, " ~/Notes/b ");
  EXPECT_TRUE(library.recent_vaults.empty());
  ASSERT_EQ(library.vaults.size(), 4u);
  EXPECT_EQ(library.vaults[0].id, "e1");
  struct Want { std::string label, path; };
  const Want want[] = {{"Work", "D:/Vaults/Work/"}, {"b", "~/Notes/b"}, {"a", "~/Notes/a"}, {"/srv/x/..", "/srv/x/.."}};
  std::set<std::string> ids;
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(library.vaults[i].label, want[i].label) << "entry " << i;
    EXPECT_EQ(library.vaults[i].path, want[i].path) << "entry " << i;
    EXPECT_TRUE(ids.insert(library.vaults[i].id).second) << "repeated id " << library.vaults[i].id;
    EXPECT_EQ(library.vaults[i].pinned, i == 0);
  }
  EXPECT_EQ(library.vaults[1].id.size(), 24u);
}

TEST_F(ConfigTest, EnsureLibraryEntryDerivesLabelsFromTheLastComponent) {
  struct Case { std::string_view path; std::optional<std::string> label; };
  const Case cases[] = {
      {"~/Brask/vaults/default", "default"},
      {"D:\\Vaults\\Work", "Work"},
      {"  /srv/notes/  ", "notes"},
      {"~", home_.path().filename().string()},
      {"/", "/"},
      {"D:\\", "D:\\"},
      {"a/..", "a/.."},
      {"", std::nullopt},
      {" \u00A0", std::nullopt},
  };
  for (const Case& c : cases) {
    VaultLibrarySnapshot library;
    ensure_library_entry(library, c.path);
    ASSERT_EQ(library.vaults.size(), c.label ? 1u : 0u) << "path: '" << c.path << "'";
    if (!c.label) continue;
    EXPECT_EQ(library.vaults[0].label, *c.label) << "path: '" << c.path << "'";
    EXPECT_EQ(library.vaults[0].path, trim(c.path)) << "path: '" << c.path << "'";
  }
}

TEST_F(ConfigTest, ExpandHomeReplacesOnlyALeadingTildeSlashOrALoneTilde) {
  env_.set("HOME", "/h").set("USERPROFILE", "/u");
  struct Case { std::string_view in, want; };
  for (const Case& c : {Case{"~", "/h"}, Case{"~/x/y", "/h/x/y"}, Case{" \t~/x ", "/h/x"}, Case{"~user/x", "~user/x"},
                        Case{"~\\x", "~\\x"}, Case{"/a/~/b", "/a/~/b"}, Case{"x~", "x~"}, Case{"", ""}})
    EXPECT_EQ(expand_home(c.in), fs::path(c.want)) << "in: '" << c.in << "'";
  env_.unset("HOME");
  EXPECT_EQ(expand_home("~/x"), fs::path("/u/x"));
  env_.unset("USERPROFILE");
  EXPECT_EQ(expand_home(" ~/x "), fs::path("~/x"));
  EXPECT_EQ(expand_home("~"), fs::path("~"));
}

TEST_F(ConfigTest, SameVaultPathIgnoresSeparatorsCaseAndTrailingSlashes) {
  env_.set("HOME", "/Home/U");
  struct Case { std::string_view a, b; bool same; };
  const Case cases[] = {
      {"D:/Vaults/Work/", "d:\\vaults\\work", true},
      {"/a/b", " /a/b/// ", true},
      {"~/Notes", "/home/u/notes", true},
      {"/\u00C4pfel/\u0130", "/\u00E4PFEL/i\u0307", true},
      {"/", "/", true},
      {"/", "//", false},
      {"/a/b", "/a/c", false},
      {"/a/\xFF", "/a/\xFE", true},
      {"/a/\xE2\x82", "/a/\uFFFD", true},
      {"/a/\xE2\x82", "/a/\uFFFD\uFFFD", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(same_vault_path(c.a, c.b), c.same) << "a: '" << c.a << "' b: '" << c.b << "'";
}

}  // namespace
}  // namespace core
