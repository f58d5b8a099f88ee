#pragma once
// What the server says about itself in answer to `initialize`.

#include "server/protocol.hpp"

#include <nlohmann/json.hpp>

namespace mcp {

// The `initialize` result for a session on `agreed`: `capabilities` (tools
// only), `protocolVersion` and `serverInfo` (name "brask-tolvane-mcp",
// version "0.1.0"); where the version offers them, the server's title and
// description and the instructions for agents.
nlohmann::json initialize_result(ProtocolVersion agreed);

}  // namespace mcp
