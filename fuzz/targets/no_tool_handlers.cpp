// Stands in for the tool handlers, which need the whole core: the stdio
// loop target reaches the tool table only for its names and schemas, and
// its tool caller never runs a handler.

#include "server/tool_handlers.hpp"

namespace mcp {
namespace {

ToolOutcome not_built(const core::Vault&, const nlohmann::json&) {
  return std::unexpected(ToolError{"not in the fuzz build"});
}

}  // namespace

ToolOutcome get_note_tool(const core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome list_notes_tool(const core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome search_notes_tool(const core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome list_backlinks_tool(const core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome upsert_note_tool(core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome set_metas_tool(core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome move_note_tool(core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }
ToolOutcome delete_note_tool(core::Vault& v, const nlohmann::json& a) { return not_built(v, a); }

}  // namespace mcp
