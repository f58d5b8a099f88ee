#include "server/server_info.hpp"

#include <string_view>

namespace mcp {
namespace {

using nlohmann::json;

constexpr std::string_view kTitle = "Brask Tolvane notes";
constexpr std::string_view kDescription =
    "Searches, reads and edits the Markdown notes of a Brask Tolvane vault.";

// Read by agents on every start: only what makes them use the tools well.
constexpr std::string_view kInstructions =
    "Notes are Markdown with a title, tags and metas (text key/value pairs).\n"
    "search_notes: free words search titles and bodies; #tag keeps notes with that tag; meta:key=value keeps "
    "notes whose meta has that value, and meta:key=today notes whose date is today, rolling dates included "
    "(a meta such as rolling:tomorrow, rolling:+7d or rolling:next-monday counts from the day of the search). "
    "Filters sift the best `limit` matches (25 unless given, at most 200), so raise limit when filtering. "
    "An empty query lists the newest notes.\n"
    "get_note, list_backlinks, set_metas, move_note and delete_note take ids from search_notes or list_notes "
    "results.\n"
    "upsert_note with an id replaces that note's title, body and metas; without one it makes a new note. "
    "set_metas changes metas only. [[Title]] links follow a renamed note.\n"
    "delete_note moves the note to the vault's trash; only the vault's owner can bring it back.";

}  // namespace

json initialize_result(ProtocolVersion agreed) {
  json info = {{"name", "brask-tolvane-mcp"}, {"version", "0.1.0"}};
  json result = {{"capabilities", {{"tools", json::object()}}}, {"protocolVersion", version_text(agreed)}};
  if (offers_server_description(agreed)) {
    info["title"] = kTitle;
    info["description"] = kDescription;
    result["instructions"] = kInstructions;
  }
  result["serverInfo"] = std::move(info);
  return result;
}

}  // namespace mcp
