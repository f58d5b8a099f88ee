#include "server/tool_schemas.hpp"

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

// A map of text keys to text values.
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

}  // namespace

json search_notes_input() {
  return schema({{"limit", property("integer")}, {"query", property("string")}}, names({"query"}));
}

json list_notes_input() {
  return schema({{"folder", property("string", "Folder path under notes/ (empty string = vault root)")},
                 {"limit", property("integer")},
                 {"tag", property("string")}},
                nullptr);
}

json id_only_input() { return schema({{"id", property("string")}}, names({"id"})); }

json upsert_note_input() {
  return schema({{"body", property("string")},
                 {"id", property("string")},
                 {"metas", metas_property()},
                 {"title", property("string")},
                 {"workspace_id", property("string")}},
                names({"title", "body"}));
}

json set_metas_input() {
  return schema({{"id", property("string")},
                 {"metas", metas_property()},
                 {"replace", property("boolean", "If true, replace metas wholesale (default false = merge)")}},
                names({"id", "metas"}));
}

json move_note_input() {
  return schema({{"folder", property("string")}, {"id", property("string")}}, names({"id", "folder"}));
}

}  // namespace mcp
