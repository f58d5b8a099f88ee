#include "query/listing.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "store/note_paths.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>

namespace core {
namespace {

// Every live note, newest first. The unary "+" makes the planner walk the
// updated_at index rather than collect all live rows and sort them, so rows
// arrive in order one at a time and a listing with a limit stops reading
// once it has enough. Same rows, same order.
constexpr std::string_view kLiveNotes =
    "SELECT id, title, updated_at, tags_json, path FROM note_files\n"
    "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC";

std::string_view without_leading_hashes(std::string_view tag) {
  return tag.substr(std::min(tag.find_first_not_of('#'), tag.size()));
}

// The tags of a `tags_json` value; anything but an array of strings has none.
std::vector<std::string> tags_from_json(std::string_view text) {
  const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (!value.is_array()) return {};
  std::vector<std::string> tags;
  for (const nlohmann::json& tag : value) {
    if (!tag.is_string()) return {};
    tags.push_back(tag.get<std::string>());
  }
  return tags;
}

// The row's item; `path` is read already. Tags are parsed only here, for
// rows that passed the folder filter.
Result<NoteListItem> read_item(const Statement& stmt, std::string path) {
  NoteListItem item;
  item.path = std::move(path);
  std::string tags_json;
  for (auto [column, field] : {std::pair{0, &item.id}, {1, &item.title}, {2, &item.updated_at}, {3, &tags_json}}) {
    auto text = stmt.column_text(column);
    if (!text) return std::unexpected(std::move(text.error()));
    *field = std::move(*text);
  }
  item.tags = tags_from_json(tags_json);
  return item;
}

bool has_tag(const NoteListItem& item, std::string_view wanted) {
  for (const std::string& tag : item.tags)
    if (ascii_iequals(without_leading_hashes(tag), wanted)) return true;
  return false;
}

}  // namespace

Result<std::vector<NoteListItem>> list_notes(const Vault& vault, const std::optional<std::string>& folder,
                                             const std::optional<std::string>& tag, std::optional<std::uint64_t> limit) {
  const std::optional<std::string> wanted_folder = folder ? std::optional(normalize_folder(*folder)) : std::nullopt;
  std::optional<std::string> wanted_tag;
  if (tag && !trim(*tag).empty()) wanted_tag = ascii_lower(without_leading_hashes(trim(*tag)));

  auto stmt = prepare(vault.db(), kLiveNotes);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  std::vector<NoteListItem> items;
  while (!limit || items.size() < *limit) {
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) break;
    auto path = stmt->column_text(4);
    if (!path) return std::unexpected(std::move(path.error()));
    if (wanted_folder && folder_of(*path) != *wanted_folder) continue;
    auto item = read_item(*stmt, std::move(*path));
    if (!item) return std::unexpected(std::move(item.error()));
    if (wanted_tag && !has_tag(*item, *wanted_tag)) continue;
    items.push_back(std::move(*item));
  }
  return items;
}

}  // namespace core
