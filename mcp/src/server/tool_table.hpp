#pragma once
// The eight tools, one row each: `tools/list` and dispatch both walk this
// table, and no other source names a tool.

#include "server/tool_handlers.hpp"

#include <nlohmann/json.hpp>

#include <span>
#include <string_view>

namespace mcp {

struct ToolSpec {
  std::string_view name;
  std::string_view description;       // one line, as `tools/list` gives it
  nlohmann::json (*input_schema)();   // the JSON Schema of the arguments
  ToolHandler handler;
  bool writes;  // changes note files, then commits the index once at its end;
                // not cut short by the read deadline
};

// Every tool, in the order `tools/list` gives them.
std::span<const ToolSpec> all_tools();

// The tool named exactly `name` (case-sensitive), or nullptr.
const ToolSpec* find_tool(std::string_view name);

}  // namespace mcp
