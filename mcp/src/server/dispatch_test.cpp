#include "server/dispatch.hpp"

#include "testing/scoped_env.hpp"
#include "testing/temp_vault.hpp"

#include <gtest/gtest.h>

namespace mcp {
namespace {

TEST(CallDeadline, ComesFromTheEnvironmentWithinItsRange) {
  using std::chrono::milliseconds;
  core::testing::ScopedEnv env;
  env.unset("BRASK_TOLVANE_DEADLINE_MS");
  EXPECT_EQ(call_deadline(), milliseconds(10000));
  struct Case { std::string value; milliseconds want; };
  for (const Case& c : {Case{"1", milliseconds(1)}, Case{"250", milliseconds(250)},
                        Case{"86400000", milliseconds(86400000)}, Case{"86400001", milliseconds(10000)},
                        Case{"0", milliseconds(10000)}, Case{"-5", milliseconds(10000)}, Case{"", milliseconds(10000)},
                        Case{"5s", milliseconds(10000)}, Case{" 5", milliseconds(10000)},
                        Case{"99999999999999999999", milliseconds(10000)}}) {
    env.set("BRASK_TOLVANE_DEADLINE_MS", c.value);
    EXPECT_EQ(call_deadline(), c.want) << "'" << c.value << "'";
  }
}


// A session that answers failed tools as results still answers these two
// as JSON-RPC errors: no tool ran.
TEST(CallTool, OnlyTheRefusalAndAnUnknownNameAreProtocolErrors) {
  core::testing::ScopedEnv env;
  core::testing::TempDir home;
  core::testing::TempVault vault;
  env.set("HOME", home.path().string());
  env.unset("BRASK_TOLVANE_VAULT");
  core::McpConfig config;
  config.vault_flag = vault.root().string();
  struct Case { std::string name; nlohmann::json arguments; bool enabled; std::string text; bool protocol; };
  const Case cases[] = {
      {"get_note", {{"id", "x"}}, false, "MCP server disabled. Set enabled:true in " +
                                             (home.path() / ".config" / "brask-tolvane" / "mcp.json").string(), true},
      {"get_notes", nlohmann::json::object(), true, "unknown tool: get_notes", true},
      {"get_note", nlohmann::json::object(), true, "id required", false},
      {"get_note", {{"id", "x"}}, true, "note not found: x", false},
      {"list_notes", {{"vault", "nowhere"}}, true,
       "Unknown vault 'nowhere'. Use a library label, id, or absolute path from Settings \u2192 Vaults.", false},
  };
  for (const Case& c : cases) {
    config.enabled = c.enabled;
    const ToolOutcome outcome = call_tool(c.name, c.arguments, config);
    ASSERT_FALSE(outcome) << c.name;
    EXPECT_EQ(outcome.error().text, c.text);
    EXPECT_EQ(outcome.error().protocol_error, c.protocol) << c.text;
  }
}

}  // namespace
}  // namespace mcp
