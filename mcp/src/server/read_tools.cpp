#include "server/tool_args.hpp"
#include "server/tool_handlers.hpp"
#include "server/json_text.hpp"

#include "index/backlinks.hpp"
#include "store/note_store.hpp"
#include "query/listing.hpp"
#include "query/search.hpp"

#include <cstdint>

namespace mcp {
namespace {

using nlohmann::json;

constexpr std::int64_t kDefaultSearchLimit = 25;

// `list_notes` takes any non-negative JSON integer as its limit; negative,
// fractional and non-numeric values mean "no limit".
std::optional<std::uint64_t> listing_limit(const json& arguments) {
  const json* value = argument(arguments, "limit");
  if (!value) return std::nullopt;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  if (value->is_number_integer() && value->get<std::int64_t>() >= 0) return value->get<std::uint64_t>();
  return std::nullopt;
}

// `search_notes` takes any integer that fits 64 signed bits, else 25.
std::int64_t search_limit(const json& arguments) {
  const json* value = argument(arguments, "limit");
  if (!value || !value->is_number_integer()) return kDefaultSearchLimit;
  if (value->is_number_unsigned() && value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
    return kDefaultSearchLimit;
  return value->get<std::int64_t>();
}

}  // namespace

ToolError core_failure(const core::CoreError& error) { return ToolError{core::to_text(error)}; }

ToolOutcome get_note_tool(const core::Vault& vault, const json& arguments) {
  auto id = string_argument(arguments, "id");
  if (!id) return std::unexpected(ToolError{"id required"});
  auto note = core::get_note(vault, *id);
  if (!note) return std::unexpected(core_failure(note.error()));
  const core::NoteFrontmatter& fm = note->frontmatter;
  return json{{"body", note->body}, {"id", fm.id}, {"metas", fm.metas}, {"tags", fm.tags}, {"title", fm.title}};
}

ToolOutcome list_notes_tool(const core::Vault& vault, const json& arguments) {
  std::optional<std::string> folder;
  if (const json* value = argument(arguments, "folder"))
    folder = value->is_string() ? value->get<std::string>() : std::string();
  // Each row goes into the answer's text as it is read: the whole vault is
  // never held as rows, as a tree and as text at once. The bytes are those
  // of {"notes":[row,...]} serialised whole.
  ContentText text;
  text.append("{\"notes\":[");
  bool first = true;
  std::string row_text;  // one row's JSON, members in key order as the serialiser writes them
  auto listed = core::for_each_listed_note(vault, folder, string_argument(arguments, "tag"), listing_limit(arguments),
                                           [&](const core::NoteListItem& row) {
                                             row_text.assign(first ? "{\"id\":" : ",{\"id\":");
                                             first = false;
                                             append_json_string(row_text, row.id);
                                             row_text += ",\"path\":";
                                             append_json_string(row_text, row.path);
                                             row_text += ",\"tags\":[";
                                             for (size_t i = 0; i < row.tags.size(); ++i) {
                                               if (i > 0) row_text += ',';
                                               append_json_string(row_text, row.tags[i]);
                                             }
                                             row_text += "],\"title\":";
                                             append_json_string(row_text, row.title);
                                             row_text += ",\"updated_at\":";
                                             append_json_string(row_text, row.updated_at);
                                             row_text += '}';
                                             text.append(row_text);
                                           });
  if (!listed) return std::unexpected(core_failure(listed.error()));
  text.append("]}");
  return text;
}

ToolOutcome search_notes_tool(const core::Vault& vault, const json& arguments) {
  auto hits = core::search_notes(vault, string_argument(arguments, "query").value_or(""), search_limit(arguments));
  if (!hits) return std::unexpected(core_failure(hits.error()));
  json notes = json::array();
  for (const core::SearchHit& hit : *hits)
    notes.push_back({{"id", hit.id}, {"path", hit.path}, {"snippet", hit.snippet ? json(*hit.snippet) : json()},
                     {"title", hit.title}, {"updated_at", hit.updated_at}});
  return json{{"notes", std::move(notes)}};
}

ToolOutcome list_backlinks_tool(const core::Vault& vault, const json& arguments) {
  auto id = string_argument(arguments, "id");
  if (!id) return std::unexpected(ToolError{"id required"});
  auto rows = core::list_backlinks(vault, *id);
  if (!rows) return std::unexpected(core_failure(rows.error()));
  json backlinks = json::array();
  for (const core::Backlink& row : *rows) backlinks.push_back(json::array({row.id, row.title}));
  return json{{"backlinks", std::move(backlinks)}};
}

}  // namespace mcp
