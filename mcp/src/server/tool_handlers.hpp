#pragma once
// The eight tool handlers. Each reads its arguments from the call's JSON,
// calls one core operation on the opened vault and builds its result object.

#include "server/tool_result.hpp"

#include <nlohmann/json.hpp>

namespace core {
struct Vault;
class CoreError;
}  // namespace core

namespace mcp {

// A handler is given the vault the call opened; a read tool only reads it.
using ToolHandler = ToolOutcome (*)(core::Vault& vault, const nlohmann::json& arguments);
using ReadToolHandler = ToolOutcome (*)(const core::Vault& vault, const nlohmann::json& arguments);

// Read tools.
[[nodiscard]] ToolOutcome get_note_tool(const core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome list_notes_tool(const core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome search_notes_tool(const core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome list_backlinks_tool(const core::Vault& vault, const nlohmann::json& arguments);

// Write tools.
[[nodiscard]] ToolOutcome upsert_note_tool(core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome set_metas_tool(core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome move_note_tool(core::Vault& vault, const nlohmann::json& arguments);
[[nodiscard]] ToolOutcome delete_note_tool(core::Vault& vault, const nlohmann::json& arguments);

// The failure of a core operation, shown as its display text alone.
ToolError core_failure(const core::CoreError& error);

}  // namespace mcp
