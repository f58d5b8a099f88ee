#include "server/catalogue.hpp"

#include "server/tool_table.hpp"

namespace mcp {
namespace {

using nlohmann::json;

json annotations(const ToolHints& hints) {
  return {{"destructiveHint", hints.destructive},
          {"idempotentHint", hints.idempotent},
          {"openWorldHint", hints.open_world},
          {"readOnlyHint", hints.read_only}};
}

json tool_object(const ToolSpec& tool, ProtocolVersion agreed) {
  json out = {{"description", tool.description}, {"inputSchema", tool.input_schema()}, {"name", tool.name}};
  if (offers_tool_annotations(agreed)) out["annotations"] = annotations(tool.hints);
  if (offers_structured_results(agreed)) {
    out["title"] = tool.title;
    out["outputSchema"] = tool.output_schema();
  }
  return out;
}

}  // namespace

json tool_catalogue() { return tool_catalogue(kDefaultProtocol); }

json tool_catalogue(ProtocolVersion agreed) {
  json tools = json::array();
  for (const ToolSpec& tool : all_tools()) tools.push_back(tool_object(tool, agreed));
  return {{"tools", std::move(tools)}};
}

}  // namespace mcp
