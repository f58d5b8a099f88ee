#pragma once
// The answer to `tools/list`: the eight tools of the tool table.

#include "server/protocol.hpp"

#include <nlohmann/json.hpp>

namespace mcp {

// `{"tools":[...]}` with the eight tools in their fixed order, each with its
// name, one-line description and input schema: the same value on every call.
nlohmann::json tool_catalogue();

// The catalogue as a session on `agreed` sees it: tool_catalogue() itself on
// 2024-11-05; each tool's `annotations` (every hint given) from 2025-03-26;
// its `title` and `outputSchema` from 2025-06-18.
nlohmann::json tool_catalogue(ProtocolVersion agreed);

}  // namespace mcp
