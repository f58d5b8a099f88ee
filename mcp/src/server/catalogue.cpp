#include "server/catalogue.hpp"

#include <initializer_list>
#include <string_view>

namespace mcp {
namespace {

using nlohmann::json;

constexpr std::string_view kVaultDescription =
    "Library label, id, or absolute path. Absent \u2192 MCP/settings default vault.";

json property(std::string_view type) { return {{"type", type}}; }

json property(std::string_view type, std::string_view description) {
  return {{"description", description}, {"type", type}};
}

json metas_property() { return {{"additionalProperties", property("string")}, {"type", "object"}}; }

// A schema over `properties` (every tool also takes `vault`). `required`
// is left out altogether when `required` is null.
json schema(json properties, json required) {
  properties["vault"] = property("string", kVaultDescription);
  json out = {{"properties", std::move(properties)}, {"type", "object"}};
  if (!required.is_null()) out["required"] = std::move(required);
  return out;
}

json names(std::initializer_list<std::string_view> list) {
  json out = json::array();
  for (std::string_view name : list) out.push_back(name);
  return out;
}

json tool(std::string_view name, std::string_view description, json input_schema) {
  return {{"description", description}, {"inputSchema", std::move(input_schema)}, {"name", name}};
}

json id_only_schema() { return schema({{"id", property("string")}}, names({"id"})); }

}  // namespace

json tool_catalogue() {
  json tools = json::array();
  tools.push_back(tool("search_notes", "Search Brask Tolvane vault notes (FTS + tags + meta filters).",
                       schema({{"limit", property("integer")}, {"query", property("string")}}, names({"query"}))));
  tools.push_back(tool("list_notes", "List note summaries, optionally filtered by folder and/or tag.",
                       schema({{"folder", property("string", "Folder path under notes/ (empty string = vault root)")},
                               {"limit", property("integer")},
                               {"tag", property("string")}},
                              nullptr)));
  tools.push_back(tool("get_note", "Load a note by id from the vault.", id_only_schema()));
  tools.push_back(tool("list_backlinks", "List notes linking to the given note id.", id_only_schema()));
  tools.push_back(tool("upsert_note", "Create or update a note in the vault (agents write path).",
                       schema({{"body", property("string")},
                               {"id", property("string")},
                               {"metas", metas_property()},
                               {"title", property("string")},
                               {"workspace_id", property("string")}},
                              names({"title", "body"}))));
  tools.push_back(tool("set_metas", "Merge or replace frontmatter metas on a note without rewriting body/title.",
                       schema({{"id", property("string")},
                               {"metas", metas_property()},
                               {"replace", property("boolean", "If true, replace metas wholesale (default false = merge)")}},
                              names({"id", "metas"}))));
  tools.push_back(tool("move_note", "Move a note into a folder under notes/ (empty folder = vault root).",
                       schema({{"folder", property("string")}, {"id", property("string")}}, names({"id", "folder"}))));
  tools.push_back(tool("delete_note", "Delete a note by id from the vault.", id_only_schema()));
  return {{"tools", std::move(tools)}};
}

}  // namespace mcp
