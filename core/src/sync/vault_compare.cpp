#include "sync/vault_compare.hpp"

#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "note/note_file.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_map>

namespace core {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view kRows =
    "SELECT id, path, title, tags_json, metas_json, workspace_id, deleted_at FROM note_files";
constexpr std::string_view kMapIndex = "PRAGMA mmap_size = 1073741824";
constexpr std::string_view kFtsRows = "SELECT note_id, title, body FROM notes_fts";

struct IndexRow {
  std::string path;
  std::string title;
  std::string tags_json;
  std::string metas_json;
  std::optional<std::string> workspace_id;
  bool deleted = false;
  std::optional<std::string> fts_title;
  std::optional<std::string> fts_body;
};

Result<std::optional<std::string>> nullable_text(const Statement& stmt, int column) {
  if (stmt.column_is_null(column)) return std::nullopt;
  auto text = stmt.column_text(column);
  if (!text) return std::unexpected(std::move(text.error()));
  return std::move(*text);
}

Result<std::unordered_map<std::string, IndexRow>> read_rows(const Vault& vault) {
  std::unordered_map<std::string, IndexRow> rows;
  auto stmt = prepare(vault.db(), kRows);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  for (;;) {
    auto more = stmt->step();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) break;
    IndexRow row;
    std::optional<std::string> id, path, title, tags, metas, deleted;
    for (auto [column, out] : {std::pair{0, &id}, {1, &path}, {2, &title}, {3, &tags}, {4, &metas},
                               {5, &row.workspace_id}, {6, &deleted}}) {
      auto text = nullable_text(*stmt, column);
      if (!text) return std::unexpected(std::move(text.error()));
      *out = std::move(*text);
    }
    row.path = path.value_or("");
    row.title = title.value_or("");
    row.tags_json = tags.value_or("[]");
    row.metas_json = metas.value_or("{}");
    row.deleted = deleted.has_value();
    rows.insert_or_assign(id.value_or(""), std::move(row));
  }
  auto fts = prepare(vault.db(), kFtsRows);
  if (!fts) return std::unexpected(std::move(fts.error()));
  for (;;) {
    auto more = fts->step();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) break;
    auto id = nullable_text(*fts, 0);
    auto title = nullable_text(*fts, 1);
    auto body = nullable_text(*fts, 2);
    if (!id || !title || !body) continue;  // a value of another type differs from any file
    if (!*id) continue;
    auto row = rows.find(**id);
    if (row == rows.end()) continue;
    row->second.fts_title = title->value_or("");
    row->second.fts_body = body->value_or("");
  }
  return rows;
}

// The value a JSON column holds; a text that does not parse matches nothing.
json parsed_or_discarded(const std::string& text) { return json::parse(text, nullptr, false); }

// Whether the JSON column `text` holds `value`. The text an index write
// stores (`written`, when it could be made) settles it without parsing;
// another text (spacing, key order, escapes written by another program) is
// compared as a JSON value.
template <class Value>
bool holds(const std::string& text, const std::string* written, const Value& value) {
  if (written && text == *written) return true;
  return parsed_or_discarded(text) == json(value);
}

// `stored` is the note's stored path.
std::vector<std::string> differences(const std::string& stored, const Note& note, const IndexRow& row) {
  const NoteFrontmatter& fm = note.frontmatter;
  std::vector<std::string> differs;
  const auto written = stored_json(fm);
  if (row.title != fm.title) differs.emplace_back("title");
  if (!holds(row.tags_json, written ? &written->tags : nullptr, fm.tags)) differs.emplace_back("tags");
  if (!holds(row.metas_json, written ? &written->metas : nullptr, fm.metas)) differs.emplace_back("metas");
  if (row.workspace_id != fm.workspace_id) differs.emplace_back("workspace");
  if (row.path != stored) differs.emplace_back("path");
  if (row.fts_body != note.body || row.fts_title != fm.title) differs.emplace_back("body");
  return differs;
}

// Sorts `items` by `path_of(item)` in the order of fs::path's own
// comparison (component by component), for the paths one directory walk
// gives: they share the spelling of the walk's folder and below it hold no
// empty or "." component, so that order is the order of their text with
// "/" below every other byte (a file name holds no NUL). Comparing fs::path
// values would split both into components on every comparison.
template <class T, class PathOf>
void sort_in_walk_order(std::vector<T>& items, PathOf path_of) {
  std::vector<std::pair<std::string, std::size_t>> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::string key = path_of(items[i]).native();
    std::replace(key.begin(), key.end(), '/', '\0');
    keys.emplace_back(std::move(key), i);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<T> sorted;
  sorted.reserve(items.size());
  for (const auto& [key, i] : keys) sorted.push_back(std::move(items[i]));
  items = std::move(sorted);
}

// Every `*.md` file under `dir`, sorted. Folders that cannot be listed are
// passed over; their files are simply not seen.
std::vector<fs::path> note_files(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return files;
  fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (path.extension() != ".md") continue;
    std::error_code type_ec;
    if (it->is_directory(type_ec)) continue;
    files.push_back(path);
  }
  sort_in_walk_order(files, [](const fs::path& path) -> const fs::path& { return path; });
  return files;
}

}  // namespace

Result<VaultComparison> compare_vault(const Vault& vault) {
  // Every page of the index is read once below; reading them through a
  // memory map spares a system call per page. It changes no result, so a
  // connection that refuses it reads as before.
  (void)exec(vault.db(), kMapIndex);
  auto rows = read_rows(vault);
  if (!rows) return std::unexpected(std::move(rows.error()));
  VaultComparison result;
  for (const auto& [id, row] : *rows)
    if (!row.deleted) ++result.live_rows;

  const std::vector<fs::path> files = note_files(vault.root / "notes");
  result.files = files.size();
  std::set<std::string> left_alone;  // stored paths of files not taken in
  std::map<std::string, std::vector<std::pair<std::string, Note>>> by_id;  // id → (stored path, note)
  for (const fs::path& file : files) {
    std::string stored = stored_path(vault.root, file);
    auto read = read_note_file_checked(file);
    if (!read) {
      result.unreadable.push_back({stored, to_text(read.error())});
      left_alone.insert(std::move(stored));
    } else if (!read->has_frontmatter) {
      result.without_frontmatter.push_back(stored);
      left_alone.insert(std::move(stored));
    } else {
      const std::string id = read->note.frontmatter.id;
      by_id[id].emplace_back(std::move(stored), std::move(read->note));
    }
  }

  for (auto& [id, holders] : by_id) {
    if (holders.size() > 1) {
      DuplicateId duplicate{id, {}};
      for (auto& [stored, note] : holders) {
        duplicate.paths.push_back(stored);
        left_alone.insert(stored);
      }
      result.duplicates.push_back(std::move(duplicate));
      continue;
    }
    auto& [stored, note] = holders.front();
    auto row = rows->find(id);
    if (row == rows->end() || row->second.deleted) {
      result.to_index.push_back({std::move(note), true, {}});
      continue;
    }
    auto differs = differences(stored, note, row->second);
    if (!differs.empty()) result.to_index.push_back({std::move(note), false, std::move(differs)});
  }
  sort_in_walk_order(result.to_index, [](const NoteChange& change) -> const fs::path& { return change.note.path; });

  for (const auto& [id, row] : *rows) {
    if (row.deleted || by_id.contains(id) || left_alone.contains(row.path)) continue;
    result.gone.push_back(id);
  }
  std::sort(result.gone.begin(), result.gone.end());
  return result;
}

}  // namespace core
