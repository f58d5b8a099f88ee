#pragma once
// The eight tools, one row each: `tools/list` and dispatch both walk this
// table, and no other source names a tool.

#include "server/tool_handlers.hpp"

#include <nlohmann/json.hpp>

#include <span>
#include <string_view>

namespace mcp {

// How a tool behaves, as the protocol's annotations say it (from 2025-03-26).
struct ToolHints {
  bool read_only;    // changes nothing
  bool destructive;  // may change or remove what is there (not only add)
  bool idempotent;   // the same call again changes nothing more
  bool open_world;   // reaches beyond the vault
};

struct ToolSpec {
  std::string_view name;
  std::string_view title;             // for people, from 2025-06-18
  std::string_view description;       // one line, as `tools/list` gives it
  nlohmann::json (*input_schema)();   // the JSON Schema of the arguments
  nlohmann::json (*output_schema)();  // the exact schema of the answer object, from 2025-06-18
  ToolHandler handler;
  bool writes;  // changes note files, then commits the index once at its end;
                // not cut short by the read deadline
  ToolHints hints;
};

// Every tool, in the order `tools/list` gives them.
std::span<const ToolSpec> all_tools();

// The tool named exactly `name` (case-sensitive), or nullptr.
const ToolSpec* find_tool(std::string_view name);

}  // namespace mcp
