#include "query/listing.hpp"

#include "index/index_db.hpp"
#include "index/sqlite.hpp"
#include "index/stored_path.hpp"
#include "store/note_paths.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <unordered_set>

namespace core {
namespace {

// Every live note, newest first. The unary "+" makes the planner walk the
// updated_at index rather than collect all live rows and sort them, so rows
// arrive in order one at a time and a listing with a limit stops reading
// once it has enough. Same rows, same order.
constexpr std::string_view kLiveNotes =
    "SELECT id, title, updated_at, tags_json, path FROM note_files\n"
    "         WHERE +deleted_at IS NULL ORDER BY updated_at DESC";

// A folder's rows, from the range of stored paths that begin with its plain
// prefix, in path order: reads the folder instead of every live row. The
// unary "+" keeps the planner on the path index.
constexpr std::string_view kPathRange =
    "SELECT rowid, id, title, updated_at, tags_json, path FROM note_files\n"
    "         WHERE path >= ?1 AND path < ?2 AND +deleted_at IS NULL ORDER BY path";

// The rows whose stored path only a full test can place, through the
// partial index over exactly them.
std::string odd_paths_statement() {
  return "SELECT rowid, id, title, updated_at, tags_json, path FROM note_files\n"
         "         WHERE " + std::string(kOddStoredPath) + " AND +deleted_at IS NULL";
}

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

// The row's item, its columns id, title, updated_at and tags_json starting
// at `first`; `path` is read already. Tags are parsed only here, for rows
// that passed the folder filter.
Result<NoteListItem> read_item(const Statement& stmt, std::string path, int first = 0) {
  NoteListItem item;
  item.path = std::move(path);
  std::string tags_json;
  for (auto [column, field] : {std::pair{0, &item.id}, {1, &item.title}, {2, &item.updated_at}, {3, &tags_json}}) {
    auto text = stmt.column_text(first + column);
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

struct FolderRow {
  std::int64_t rowid;
  NoteListItem item;
};

// Whether a piece of a plain path names a folder of its own, so that every
// path below it lies in another folder than the one listed.
bool names_subfolder(std::string_view piece) {
  return !piece.empty() && piece != "." && piece != ".." && piece.find('\\') == std::string_view::npos;
}

// The live rows of `folder` (normalised) as they come: first the range of
// paths that begin with "notes/<folder>/", jumping over each subfolder's
// share of it, then the oddly spelled paths; each row is tested in full.
Result<std::vector<FolderRow>> folder_rows(const Vault& vault, const std::string& folder) {
  const std::string prefix = folder_prefix(folder);
  const std::string high = range_end(prefix);
  std::vector<FolderRow> rows;
  std::unordered_set<std::int64_t> taken;
  auto take = [&](const Statement& stmt, std::string path) -> Result<void> {
    if (folder_of(path) != folder) return {};
    const std::int64_t rowid = stmt.column_int64(0);
    if (!taken.insert(rowid).second) return {};
    auto item = read_item(stmt, std::move(path), 1);
    if (!item) return std::unexpected(std::move(item.error()));
    rows.push_back({rowid, std::move(*item)});
    return {};
  };
  auto range = prepare(vault.db(), kPathRange);
  if (!range) return std::unexpected(std::move(range.error()));
  for (std::string low = prefix; !low.empty();) {
    range->reset();
    if (auto bound = range->bind_all(low, high); !bound) return std::unexpected(std::move(bound.error()));
    low.clear();
    for (;;) {
      auto row = range->step();
      if (!row) return std::unexpected(std::move(row.error()));
      if (!*row) break;
      auto path = range->column_text(5);
      if (!path) return std::unexpected(std::move(path.error()));
      const std::string_view rest = std::string_view(*path).substr(prefix.size());
      if (const size_t slash = rest.find('/'); slash != std::string_view::npos && names_subfolder(rest.substr(0, slash))) {
        low = range_end(prefix + std::string(rest.substr(0, slash + 1)));  // past the subfolder
        break;
      }
      if (auto taken_row = take(*range, std::move(*path)); !taken_row) return std::unexpected(std::move(taken_row.error()));
    }
  }
  auto odd = prepare(vault.db(), odd_paths_statement());
  if (!odd) return std::unexpected(std::move(odd.error()));
  for (;;) {
    auto row = odd->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) break;
    auto path = odd->column_text(5);
    if (!path) return std::unexpected(std::move(path.error()));
    if (auto taken_row = take(*odd, std::move(*path)); !taken_row) return std::unexpected(std::move(taken_row.error()));
  }
  return rows;
}

// A folder's live notes newest first, in the order the listing statement
// walks them: updated_at descending, equal times by rowid.
Result<std::vector<FolderRow>> sorted_folder_rows(const Vault& vault, const std::string& folder) {
  auto rows = folder_rows(vault, folder);
  if (!rows) return rows;
  std::sort(rows->begin(), rows->end(), [](const FolderRow& a, const FolderRow& b) {
    if (a.item.updated_at != b.item.updated_at) return a.item.updated_at > b.item.updated_at;
    return a.rowid < b.rowid;
  });
  return rows;
}

}  // namespace

Result<void> for_each_listed_note(const Vault& vault, const std::optional<std::string>& folder,
                                  const std::optional<std::string>& tag, std::optional<std::uint64_t> limit,
                                  const std::function<void(const NoteListItem&)>& visit) {
  const std::optional<std::string> wanted_folder = folder ? std::optional(normalize_folder(*folder)) : std::nullopt;
  std::optional<std::string> wanted_tag;
  if (tag && !trim(*tag).empty()) wanted_tag = ascii_lower(without_leading_hashes(trim(*tag)));
  std::uint64_t given = 0;
  auto give = [&](const NoteListItem& item) {
    if (wanted_tag && !has_tag(item, *wanted_tag)) return;
    visit(item);
    ++given;
  };

  if (wanted_folder && vault.odd_paths_indexed) {
    auto rows = sorted_folder_rows(vault, *wanted_folder);
    if (!rows) return std::unexpected(std::move(rows.error()));
    for (const FolderRow& row : *rows) {
      if (limit && given >= *limit) break;
      give(row.item);
    }
    return {};
  }
  auto stmt = prepare(vault.db(), kLiveNotes);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  while (!limit || given < *limit) {
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) break;
    auto path = stmt->column_text(4);
    if (!path) return std::unexpected(std::move(path.error()));
    if (wanted_folder && folder_of(*path) != *wanted_folder) continue;
    auto item = read_item(*stmt, std::move(*path));
    if (!item) return std::unexpected(std::move(item.error()));
    give(*item);
  }
  return {};
}

Result<std::vector<NoteListItem>> list_notes(const Vault& vault, const std::optional<std::string>& folder,
                                             const std::optional<std::string>& tag, std::optional<std::uint64_t> limit) {
  std::vector<NoteListItem> items;
  auto listed = for_each_listed_note(vault, folder, tag, limit, [&](const NoteListItem& item) { items.push_back(item); });
  if (!listed) return std::unexpected(std::move(listed.error()));
  return items;
}

}  // namespace core
