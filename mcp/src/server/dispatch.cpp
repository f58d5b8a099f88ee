#include "server/dispatch.hpp"

#include "config/vault_check.hpp"
#include "config/vault_select.hpp"
#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "server/tool_args.hpp"
#include "server/tool_table.hpp"
#include "base/text.hpp"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace mcp {
namespace {

namespace fs = std::filesystem;

std::unexpected<ToolError> fail(std::string text) { return std::unexpected(ToolError{std::move(text)}); }

// No tool ran: the server refuses tool calls, or has no tool by that name.
std::unexpected<ToolError> fail_protocol(std::string text) {
  return std::unexpected(ToolError{std::move(text), /*protocol_error=*/true});
}

// The root named by the call's `vault` argument (trimmed; blank or
// non-string counts as absent), or the default chain.
std::expected<fs::path, std::string> select_root(const nlohmann::json& arguments, const core::McpConfig& config) {
  const std::optional<std::string> vault = string_argument(arguments, "vault");
  std::optional<std::string_view> named;
  if (vault && !core::trim(*vault).empty()) named = core::trim(*vault);
  return core::resolve_vault(named, config);
}

constexpr std::chrono::milliseconds kDefaultDeadline{10'000};
constexpr long long kLongestDeadlineMs = 86'400'000;

}  // namespace

std::chrono::milliseconds call_deadline() {
  const char* value = std::getenv("BRASK_TOLVANE_DEADLINE_MS");
  if (value == nullptr) return kDefaultDeadline;
  const std::string_view text(value);
  long long ms = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec != std::errc() || end != text.data() + text.size() || ms < 1 || ms > kLongestDeadlineMs)
    return kDefaultDeadline;
  return std::chrono::milliseconds(ms);
}

ToolOutcome call_tool(const std::string& name, const nlohmann::json& arguments, const core::McpConfig& config,
                      OpenVaults& vaults) {
  if (!config.enabled)
    return fail_protocol("MCP server disabled. Set enabled:true in " + core::mcp_config_file().string());
  auto root = select_root(arguments, config);
  if (!root) return fail(std::move(root.error()));
  const std::string shown = root->string();
  if (auto problem = core::vault_problem(*root)) return fail(core::vault_problem_sentence(*problem, shown));
  auto vault = vaults.open(*root);
  if (!vault) return fail("Cannot open vault at " + shown + ": " + core::to_text(vault.error()));
  const ToolSpec* tool = find_tool(name);
  if (!tool) return fail_protocol("unknown tool: " + name);
  if (config.follow_files) (void)vaults.follow_files(**vault);
  ToolOutcome outcome = [&] {
    if (tool->writes) return tool->handler(**vault, arguments);
    // The server answers one call at a time, so no read may hold it for
    // long: a statement past the deadline is interrupted. Writes are not
    // interrupted: by then they have changed files, and their index change
    // must commit with them.
    const core::StatementDeadline deadline((*vault)->db(), call_deadline());
    return tool->handler(**vault, arguments);
  }();
  vaults.end_call();
  return outcome;
}

ToolOutcome call_tool(const std::string& name, const nlohmann::json& arguments, const core::McpConfig& config) {
  OpenVaults for_this_call;  // closed when the call returns, on every path
  return call_tool(name, arguments, config, for_this_call);
}

ToolOutcome call_tool_with_current_config(const std::string& name, const nlohmann::json& arguments,
                                          const std::optional<std::string>& vault_flag, bool follow_flag,
                                          OpenVaults& vaults) {
  core::McpConfig config = core::load_mcp_config();
  config.vault_flag = vault_flag;
  config.follow_files = config.follow_files || follow_flag;
  return call_tool(name, arguments, config, vaults);
}

}  // namespace mcp
