#include "server/tool_table.hpp"

#include "server/tool_schemas.hpp"

#include <array>

namespace mcp {
namespace {

// Reading tools change nothing, so the same call again changes nothing more.
// A read tool's handler in the table's one handler type: it is given the
// call's vault and reads it through a const view.
template <ReadToolHandler Read>
ToolOutcome reading(core::Vault& vault, const nlohmann::json& arguments) {
  return Read(vault, arguments);
}

constexpr ToolHints kReads{.read_only = true, .destructive = false, .idempotent = true, .open_world = false};

constexpr std::array<ToolSpec, 8> kTools = {{
    {"search_notes", "Search notes", "Search Brask Tolvane vault notes (FTS + tags + meta filters).",
     search_notes_input, search_notes_output, reading<search_notes_tool>, false, kReads},
    {"list_notes", "List notes", "List note summaries, optionally filtered by folder and/or tag.", list_notes_input,
     list_notes_output, reading<list_notes_tool>, false, kReads},
    {"get_note", "Get note", "Load a note by id from the vault.", id_only_input, get_note_output, reading<get_note_tool>, false,
     kReads},
    {"list_backlinks", "List backlinks", "List notes linking to the given note id.", id_only_input,
     list_backlinks_output, reading<list_backlinks_tool>, false, kReads},
    // Replaces the title, body and metas of the note it names; without an
    // id every call makes another note.
    {"upsert_note", "Create or update note", "Create or update a note in the vault (agents write path).",
     upsert_note_input, upsert_note_output, upsert_note_tool, true,
     {.read_only = false, .destructive = true, .idempotent = false, .open_world = false}},
    // Overwrites the values it names, or all metas with `replace`; the same
    // call again leaves the same metas.
    {"set_metas", "Set metas", "Merge or replace frontmatter metas on a note without rewriting body/title.",
     set_metas_input, set_metas_output, set_metas_tool, true,
     {.read_only = false, .destructive = true, .idempotent = true, .open_world = false}},
    // Loses nothing; a note already in the folder stays as it is.
    {"move_note", "Move note", "Move a note into a folder under notes/ (empty folder = vault root).", move_note_input,
     move_note_output, move_note_tool, true,
     {.read_only = false, .destructive = false, .idempotent = true, .open_world = false}},
    // Takes the note out of the vault (into its trash); deleting it again
    // changes nothing.
    {"delete_note", "Delete note", "Delete a note by id from the vault.", id_only_input, delete_note_output,
     delete_note_tool, true, {.read_only = false, .destructive = true, .idempotent = true, .open_world = false}},
}};

}  // namespace

std::span<const ToolSpec> all_tools() { return kTools; }

const ToolSpec* find_tool(std::string_view name) {
  for (const ToolSpec& tool : kTools)
    if (tool.name == name) return &tool;
  return nullptr;
}

}  // namespace mcp
