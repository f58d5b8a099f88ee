#include "server/catalogue.hpp"

#include "server/tool_table.hpp"

namespace mcp {

using nlohmann::json;

json tool_catalogue() {
  json tools = json::array();
  for (const ToolSpec& tool : all_tools())
    tools.push_back({{"description", tool.description}, {"inputSchema", tool.input_schema()}, {"name", tool.name}});
  return {{"tools", std::move(tools)}};
}

}  // namespace mcp
