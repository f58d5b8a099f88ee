#pragma once
// The JSON Schemas of the tools' arguments. Each is advisory only: the
// handlers read their arguments leniently by their own rules.

#include <nlohmann/json.hpp>

namespace mcp {

// Every schema has `type` "object", `properties` (always with `vault`) and,
// except for list_notes, `required` in a fixed order.
nlohmann::json search_notes_input();
nlohmann::json list_notes_input();
nlohmann::json id_only_input();  // get_note, list_backlinks, delete_note
nlohmann::json upsert_note_input();
nlohmann::json set_metas_input();
nlohmann::json move_note_input();

// The JSON Schemas of the objects the tools answer with, each exact: every
// member required, no other member allowed, at every level. A tool's
// `structuredContent` is that object, and its text item the same object
// serialised.
nlohmann::json search_notes_output();
nlohmann::json list_notes_output();
nlohmann::json get_note_output();
nlohmann::json list_backlinks_output();
nlohmann::json upsert_note_output();
nlohmann::json set_metas_output();
nlohmann::json move_note_output();
nlohmann::json delete_note_output();

}  // namespace mcp
