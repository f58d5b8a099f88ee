#include "server/tool_table.hpp"

#include "server/tool_schemas.hpp"

#include <array>

namespace mcp {
namespace {

constexpr std::array<ToolSpec, 8> kTools = {{
    {"search_notes", "Search Brask Tolvane vault notes (FTS + tags + meta filters).", search_notes_input,
     search_notes_tool, false},
    {"list_notes", "List note summaries, optionally filtered by folder and/or tag.", list_notes_input,
     list_notes_tool, false},
    {"get_note", "Load a note by id from the vault.", id_only_input, get_note_tool, false},
    {"list_backlinks", "List notes linking to the given note id.", id_only_input, list_backlinks_tool, false},
    {"upsert_note", "Create or update a note in the vault (agents write path).", upsert_note_input,
     upsert_note_tool, true},
    {"set_metas", "Merge or replace frontmatter metas on a note without rewriting body/title.", set_metas_input,
     set_metas_tool, true},
    {"move_note", "Move a note into a folder under notes/ (empty folder = vault root).", move_note_input,
     move_note_tool, true},
    {"delete_note", "Delete a note by id from the vault.", id_only_input, delete_note_tool, true},
}};

}  // namespace

std::span<const ToolSpec> all_tools() { return kTools; }

const ToolSpec* find_tool(std::string_view name) {
  for (const ToolSpec& tool : kTools)
    if (tool.name == name) return &tool;
  return nullptr;
}

}  // namespace mcp
