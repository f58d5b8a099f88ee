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

std::vector<std::string> differences(const Vault& vault, const Note& note, const IndexRow& row) {
  const NoteFrontmatter& fm = note.frontmatter;
  std::vector<std::string> differs;
  if (row.title != fm.title) differs.emplace_back("title");
  if (parsed_or_discarded(row.tags_json) != json(fm.tags)) differs.emplace_back("tags");
  if (parsed_or_discarded(row.metas_json) != json(fm.metas)) differs.emplace_back("metas");
  if (row.workspace_id != fm.workspace_id) differs.emplace_back("workspace");
  if (row.path != stored_path(vault.root, note.path)) differs.emplace_back("path");
  if (row.fts_body != note.body || row.fts_title != fm.title) differs.emplace_back("body");
  return differs;
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
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

Result<VaultComparison> compare_vault(const Vault& vault) {
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
    Note& note = holders.front().second;
    auto row = rows->find(id);
    if (row == rows->end() || row->second.deleted) {
      result.to_index.push_back({std::move(note), true, {}});
      continue;
    }
    auto differs = differences(vault, note, row->second);
    if (!differs.empty()) result.to_index.push_back({std::move(note), false, std::move(differs)});
  }
  std::sort(result.to_index.begin(), result.to_index.end(),
            [](const NoteChange& a, const NoteChange& b) { return a.note.path < b.note.path; });

  for (const auto& [id, row] : *rows) {
    if (row.deleted || by_id.contains(id) || left_alone.contains(row.path)) continue;
    result.gone.push_back(id);
  }
  std::sort(result.gone.begin(), result.gone.end());
  return result;
}

}  // namespace core
