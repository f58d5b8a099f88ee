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

// An exact object: these members, all required, and no others.
json exact_object(json properties) {
  json required = json::array();
  for (const auto& [key, value] : properties.items()) required.push_back(key);
  return {{"additionalProperties", false}, {"properties", std::move(properties)}, {"required", std::move(required)},
          {"type", "object"}};
}

json array_of(json items) { return {{"items", std::move(items)}, {"type", "array"}}; }

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

json search_notes_output() {
  const json snippet = {{"type", json::array({"string", "null"})}};
  return exact_object({{"notes", array_of(exact_object({{"id", property("string")},
                                                        {"path", property("string")},
                                                        {"snippet", snippet},
                                                        {"title", property("string")},
                                                        {"updated_at", property("string")}}))}});
}

json list_notes_output() {
  return exact_object({{"notes", array_of(exact_object({{"id", property("string")},
                                                        {"path", property("string")},
                                                        {"tags", array_of(property("string"))},
                                                        {"title", property("string")},
                                                        {"updated_at", property("string")}}))}});
}

json get_note_output() {
  return exact_object({{"body", property("string")},
                       {"id", property("string")},
                       {"metas", metas_property()},
                       {"tags", array_of(property("string"))},
                       {"title", property("string")}});
}

// A backlink is a pair, [id, title], not an object.
json list_backlinks_output() {
  json pair = array_of(property("string"));
  pair["minItems"] = 2;
  pair["maxItems"] = 2;
  return exact_object({{"backlinks", array_of(std::move(pair))}});
}

json upsert_note_output() {
  return exact_object({{"created", property("boolean")},
                       {"id", property("string")},
                       {"title", property("string")},
                       {"updated", property("string")}});
}

json set_metas_output() {
  return exact_object({{"id", property("string")}, {"metas", metas_property()}, {"updated", property("string")}});
}

json move_note_output() {
  return exact_object({{"folder", property("string")}, {"id", property("string")}, {"path", property("string")}});
}

// `deleted` is always true.
json delete_note_output() {
  return exact_object({{"deleted", {{"const", true}, {"type", "boolean"}}}, {"id", property("string")}});
}

}  // namespace mcp
