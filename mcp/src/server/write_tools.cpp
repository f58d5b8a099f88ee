#include "server/tool_args.hpp"
#include "server/tool_handlers.hpp"

#include "index/lookups.hpp"
#include "store/note_paths.hpp"
#include "store/note_store.hpp"

namespace mcp {

using nlohmann::json;

namespace {

std::unexpected<ToolError> missing(std::string_view text) { return std::unexpected(ToolError{std::string(text)}); }

}  // namespace

ToolOutcome upsert_note_tool(core::Vault& vault, const json& arguments) {
  auto title = string_argument(arguments, "title");
  if (!title) return missing("title required");
  auto body = string_argument(arguments, "body");
  if (!body) return missing("body required");
  core::UpsertNoteInput input{*title, *body, string_argument(arguments, "id"), std::nullopt, metas_argument(arguments)};
  input.workspace_id = string_argument(arguments, "workspace_id");
  auto result = core::upsert_note(vault, input);
  if (!result) return std::unexpected(core_failure(result.error()));
  return json{{"created", result->created}, {"id", result->id}, {"title", result->title}, {"updated", result->updated}};
}

ToolOutcome set_metas_tool(core::Vault& vault, const json& arguments) {
  auto id = string_argument(arguments, "id");
  if (!id) return missing("id required");
  const json* metas = argument(arguments, "metas");
  if (!metas || !metas->is_object()) return missing("metas object required");
  const json* replace = argument(arguments, "replace");
  const bool replace_all = replace && replace->is_boolean() && replace->get<bool>();
  auto result = core::set_metas(vault, *id, metas_argument(arguments), replace_all);
  if (!result) return std::unexpected(core_failure(result.error()));
  return json{{"id", result->id}, {"metas", result->metas}, {"updated", result->updated}};
}

ToolOutcome move_note_tool(core::Vault& vault, const json& arguments) {
  auto id = string_argument(arguments, "id");
  if (!id) return missing("id required");
  auto folder = string_argument(arguments, "folder");
  if (!folder) return missing("folder required");
  if (auto moved = core::move_note(vault, *id, *folder); !moved) return std::unexpected(core_failure(moved.error()));
  // Reported as the index now holds it; a failed lookup fails the call even
  // though the move itself has been written.
  auto path = core::path_by_id(vault, *id);
  if (!path) return std::unexpected(core_failure(path.error()));
  const std::string stored = path->value_or("");
  return json{{"folder", core::folder_of(stored)}, {"id", *id}, {"path", stored}};
}

ToolOutcome delete_note_tool(core::Vault& vault, const json& arguments) {
  auto id = string_argument(arguments, "id");
  if (!id) return missing("id required");
  if (auto deleted = core::delete_note(vault, *id); !deleted) return std::unexpected(core_failure(deleted.error()));
  return json{{"deleted", true}, {"id", *id}};
}

}  // namespace mcp
