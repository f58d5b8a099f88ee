#include "server/dispatch.hpp"

#include "config/vault_select.hpp"
#include "index/index_db.hpp"
#include "server/tool_args.hpp"
#include "server/tool_handlers.hpp"
#include "base/text.hpp"

#include <array>
#include <filesystem>
#include <utility>

namespace mcp {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::pair<std::string_view, ToolHandler>, 8> kHandlers = {{
    {"search_notes", search_notes_tool},
    {"list_notes", list_notes_tool},
    {"get_note", get_note_tool},
    {"list_backlinks", list_backlinks_tool},
    {"upsert_note", upsert_note_tool},
    {"set_metas", set_metas_tool},
    {"move_note", move_note_tool},
    {"delete_note", delete_note_tool},
}};

ToolHandler find_handler(std::string_view name) {
  for (const auto& [tool, handler] : kHandlers)
    if (tool == name) return handler;
  return nullptr;
}

std::unexpected<ToolError> fail(std::string text) { return std::unexpected(ToolError{std::move(text)}); }

// The root named by the call's `vault` argument (trimmed; blank or
// non-string counts as absent), or the default chain.
std::expected<fs::path, std::string> select_root(const nlohmann::json& arguments, const core::McpConfig& config) {
  const std::optional<std::string> vault = string_argument(arguments, "vault");
  std::optional<std::string_view> named;
  if (vault && !core::trim(*vault).empty()) named = core::trim(*vault);
  return core::resolve_vault(named, config);
}

}  // namespace

ToolOutcome call_tool(const std::string& name, const nlohmann::json& arguments, const core::McpConfig& config) {
  if (!config.enabled)
    return fail("MCP server disabled. Set enabled:true in " + core::mcp_config_file().string());
  auto root = select_root(arguments, config);
  if (!root) return fail(std::move(root.error()));
  const std::string shown = root->string();
  std::error_code ec;
  if (const fs::file_status status = fs::status(*root, ec); ec || !fs::exists(status))
    return fail("Vault path does not exist: " + shown +
                ". Set vault arg, BRASK_TOLVANE_VAULT, mcp.json vault_path, or settings.json vault_path.");
  if (!fs::is_directory(*root / ".brask-tolvane", ec))
    return fail("Not a Brask Tolvane vault (missing .brask-tolvane/): " + shown);
  auto vault = core::open_vault(*root);
  if (!vault) return fail("Cannot open vault at " + shown + ": " + core::to_text(vault.error()));
  ToolHandler handler = find_handler(name);
  if (!handler) return fail("unknown tool: " + name);
  return handler(*vault, arguments);  // the vault closes when it goes out of scope, on every path
}

ToolOutcome call_tool_with_current_config(const std::string& name, const nlohmann::json& arguments,
                                          const std::optional<std::string>& vault_flag) {
  core::McpConfig config = core::load_mcp_config();
  config.vault_flag = vault_flag;
  return call_tool(name, arguments, config);
}

}  // namespace mcp
