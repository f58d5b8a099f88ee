#pragma once
// One `tools/call`: the enabled check, vault selection, the vault's
// existence and marker checks, opening its index (or taking the one kept
// open from an earlier call, see open_vaults.hpp) and the tool's handler.

#include "config/config.hpp"
#include "server/open_vaults.hpp"
#include "server/tool_result.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>

namespace mcp {

// How long the index statements of one reading call may run (write tools
// are not interrupted: their index change must commit with the files they
// have changed), counted from the moment the call has its vault (opened,
// or kept open from an earlier call): BRASK_TOLVANE_DEADLINE_MS
// milliseconds when that holds a decimal number from 1 to 86,400,000 (a
// day), else 10 seconds.
// A statement still running then ends and the call fails with
// "database error: interrupted: the call ran past its deadline".
std::chrono::milliseconds call_deadline();

// Runs the tool `name` with `arguments` under `config`. The first failing
// check ends the call with its ToolError text; core errors become their
// display text with no prefix. Unknown names are reported only once the
// vault has been selected, found and opened. The disabled server and an
// unknown name are protocol errors; every other failure is the tool's.
// Every check runs on every call; only then is the vault taken from
// `vaults`, which may keep it open for the calls after this one. With
// `config.follow_files`, what other programs changed in the vault's note
// files is taken into its index before the tool runs (sync/follow.hpp).
[[nodiscard]] ToolOutcome call_tool(const std::string& name, const nlohmann::json& arguments, const core::McpConfig& config,
                      OpenVaults& vaults);
// The same with the vault opened for this call alone and closed at its end.
[[nodiscard]] ToolOutcome call_tool(const std::string& name, const nlohmann::json& arguments, const core::McpConfig& config);

// call_tool with `mcp.json` read afresh, as the loop runs every `tools/call`,
// `vault_flag` (the server's --vault) first in the default vault chain, and
// the files followed when `follow_flag` (its --follow-files) or mcp.json says so.
[[nodiscard]] ToolOutcome call_tool_with_current_config(const std::string& name, const nlohmann::json& arguments,
                                                        const std::optional<std::string>& vault_flag, bool follow_flag,
                                                        OpenVaults& vaults);

}  // namespace mcp
