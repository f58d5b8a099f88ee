#pragma once
// The answer to `tools/list`: the eight tools of the tool table.

#include <nlohmann/json.hpp>

namespace mcp {

// `{"tools":[...]}` with the eight tools in their fixed order, each with its
// name, one-line description and input schema.
nlohmann::json tool_catalogue();

}  // namespace mcp
