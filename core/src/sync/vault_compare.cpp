#include "sync/vault_compare.hpp"

#include "base/files.hpp"
#include "index/index_db.hpp"
#include "index/indexer.hpp"
#include "index/sqlite.hpp"
#include "index/lookups.hpp"
#include "note/note_file.hpp"
#include "store/note_paths.hpp"

#include <nlohmann/json.hpp>


#include <algorithm>
#include <cerrno>
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
constexpr std::string_view kRowById =
    "SELECT id, path, title, tags_json, metas_json, workspace_id, deleted_at FROM note_files WHERE id = ?1";
constexpr std::string_view kFtsRowById = "SELECT note_id, title, body FROM notes_fts WHERE note_id = ?1";
// The same through the lookup index on the full-text table's content (see
// index_db.cpp), where it exists: the plain text scans every full-text row.
constexpr std::string_view kFtsRowByIdIndexed =
    "SELECT note_id, title, body FROM notes_fts WHERE rowid IN (SELECT id FROM notes_fts_content WHERE c0 = ?1)";

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

using Rows = std::unordered_map<std::string, IndexRow>;

// Adds every row `stmt` (kRows' columns) gives to `rows`.
Result<void> take_rows(Statement& stmt, Rows& rows) {
  for (;;) {
    auto more = stmt.step();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return {};
    IndexRow row;
    std::optional<std::string> id, path, title, tags, metas, deleted;
    for (auto [column, out] : {std::pair{0, &id}, {1, &path}, {2, &title}, {3, &tags}, {4, &metas},
                               {5, &row.workspace_id}, {6, &deleted}}) {
      auto text = nullable_text(stmt, column);
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
}

// Adds the full-text title and body `stmt` (kFtsRows' columns) gives to the
// rows of `rows`.
Result<void> take_fts_rows(Statement& fts, Rows& rows) {
  for (;;) {
    auto more = fts.step();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return {};
    auto id = nullable_text(fts, 0);
    auto title = nullable_text(fts, 1);
    auto body = nullable_text(fts, 2);
    if (!id || !title || !body) continue;  // a value of another type differs from any file
    if (!*id) continue;
    auto row = rows.find(**id);
    if (row == rows.end()) continue;
    row->second.fts_title = title->value_or("");
    row->second.fts_body = body->value_or("");
  }
}

Result<Rows> read_rows(const Vault& vault) {
  Rows rows;
  auto stmt = prepare(vault.db(), kRows);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto taken = take_rows(*stmt, rows); !taken) return std::unexpected(std::move(taken.error()));
  auto fts = prepare(vault.db(), kFtsRows);
  if (!fts) return std::unexpected(std::move(fts.error()));
  if (auto taken = take_fts_rows(*fts, rows); !taken) return std::unexpected(std::move(taken.error()));
  return rows;
}

// The row of `id` alone, as read_rows reads it; nullopt when there is none.
Result<std::optional<IndexRow>> read_row(const Vault& vault, std::string_view id) {
  Rows rows;
  auto stmt = vault.lend_query(kRowById);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = (*stmt)->bind_all(id); !bound) return std::unexpected(std::move(bound.error()));
  if (auto taken = take_rows(**stmt, rows); !taken) return std::unexpected(std::move(taken.error()));
  auto fts = vault.lend_query(vault.fts_note_id_indexed ? kFtsRowByIdIndexed : kFtsRowById);
  if (!fts) return std::unexpected(std::move(fts.error()));
  if (auto bound = (*fts)->bind_all(id); !bound) return std::unexpected(std::move(bound.error()));
  if (auto taken = take_fts_rows(**fts, rows); !taken) return std::unexpected(std::move(taken.error()));
  auto row = rows.find(std::string(id));
  if (row == rows.end()) return std::nullopt;
  return std::move(row->second);
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
  std::vector<std::pair<fs::path::string_type, std::size_t>> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    fs::path::string_type key = path_of(items[i]).native();
    // Windows separates with either slash.
    for (auto& c : key)
      if (c == '/' || c == fs::path::preferred_separator) c = '\0';
    keys.emplace_back(std::move(key), i);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<T> sorted;
  sorted.reserve(items.size());
  for (const auto& [key, i] : keys) sorted.push_back(std::move(items[i]));
  items = std::move(sorted);
}

using FolderKey = std::pair<std::uintmax_t, std::uintmax_t>;

FolderKey folder_key(const FileStamp& stamp) { return {stamp.device, stamp.inode}; }

// Adds every `*.md` entry that is not a folder under `dir` to `found`,
// walks every real folder below it that `seen` does not hold yet, and adds
// the links to folders it meets to `links`. A folder that cannot be listed
// (or not to its end) is recorded as such: what it holds is unknown, not
// gone.
bool is_note_name(std::string_view name) { return name.ends_with(".md"); }

void walk(const fs::path& dir, std::set<FolderKey>& seen, NotesWalk& found, std::vector<fs::path>& links,
          const BeforeListing& before_listing) {
  found.folders.push_back(dir);
  if (before_listing) before_listing(dir);
  FolderListing listing = list_folder(dir, is_note_name);
  for (FolderEntry& entry : listing.entries) {
    const bool folder = entry.status && entry.status->kind == EntryKind::Folder;
    if (!folder) {
      if (is_note_name(entry.name) && entry.name.size() > 3) {
        std::optional<FileStamp> stamp;
        if (const auto& st = entry.status)
          stamp = FileStamp{st->size, st->modified_ns, st->changed_ns, st->device, st->inode, false};
        found.files.push_back({dir / utf8_path(entry.name), stamp});
      }
      continue;
    }
    fs::path path = dir / utf8_path(entry.name);
    if (entry.link) links.push_back(std::move(path));
    else if (seen.insert({entry.status->device, entry.status->inode}).second)
      walk(path, seen, found, links, before_listing);
  }
  if (listing.error != 0) found.unlisted.emplace_back(dir, std::generic_category().message(listing.error));
}

// Whether a file read as `read` is note `id`: its frontmatter id, or,
// without frontmatter, its file name.
bool holds_id(const NoteFileRead& read, std::string_view id) {
  if (read.has_frontmatter) return read.note.frontmatter.id == id;
  return path_utf8(read.note.path.filename()) == std::string(id) + ".md";
}

}  // namespace

NotesWalk walk_notes(const fs::path& dir, const BeforeListing& before_listing) {
  NotesWalk found;
  std::set<FolderKey> seen;
  const std::optional<FileStamp> top = file_stamp(dir);
  if (!top || !top->folder) return found;
  seen.insert(folder_key(*top));
  std::vector<fs::path> links;
  walk(dir, seen, found, links, before_listing);
  while (!links.empty()) {
    std::vector<fs::path> round = std::move(links);
    links.clear();
    std::sort(round.begin(), round.end());
    for (const fs::path& link : round)
      if (const auto st = file_stamp(link); st && seen.insert(folder_key(*st)).second)
        walk(link, seen, found, links, before_listing);
  }
  std::sort(found.unlisted.begin(), found.unlisted.end());
  return found;
}

std::optional<std::int64_t> data_version(const Vault& vault) {
  auto stmt = prepare(vault.db(), "PRAGMA data_version");
  if (!stmt) return std::nullopt;
  auto row = stmt->step();
  if (!row || !*row) return std::nullopt;
  return stmt->column_int64(0);
}

std::optional<std::string> notes_folder_problem(const fs::path& root) {
  const fs::path notes = root / "notes";
  std::error_code ec;
  const fs::file_status status = fs::status(notes, ec);
  if (!fs::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory) return "notes/ cannot be read: " + ec.message();
    std::error_code link_ec;
    if (fs::is_symlink(fs::symlink_status(notes, link_ec))) return "notes/ is a link that leads nowhere";
    return "notes/ is missing";
  }
  if (!fs::is_directory(status)) return "notes/ is not a folder";
  fs::directory_iterator listing(notes, ec);
  if (ec) return "notes/ cannot be read: " + ec.message();
  return std::nullopt;
}

Result<VaultComparison> compare_vault(const Vault& vault) {
  if (auto problem = notes_folder_problem(vault.root)) return std::unexpected(CoreError::message(std::move(*problem)));
  VaultComparison result;
  // Read before the rows: a commit after this point shows as a change.
  result.data_version = data_version(vault);
  // Every page of the index is read once below; reading them through a
  // memory map spares a system call per page. It changes no result, so a
  // connection that refuses it reads as before.
  (void)exec(vault.db(), kMapIndex);
  auto rows = read_rows(vault);
  if (!rows) return std::unexpected(std::move(rows.error()));
  for (const auto& [id, row] : *rows)
    if (!row.deleted) ++result.live_rows;

  NotesWalk walked = walk_notes(vault.root / "notes");
  sort_in_walk_order(walked.files, [](const WalkedFile& file) -> const fs::path& { return file.path; });
  result.files = walked.files.size();
  std::set<std::string> left_alone;  // stored paths of files not taken in
  std::vector<std::string> unknown_folders;  // stored paths of folders not listed, each with its "/"
  for (const auto& [folder, why] : walked.unlisted) {
    std::string stored = stored_path(vault.root, folder);
    result.unreadable.push_back({stored, "IO error: the folder cannot be listed: " + why});
    unknown_folders.push_back(std::move(stored) + "/");
  }
  auto in_unknown_folder = [&](const std::string& path) {
    return std::any_of(unknown_folders.begin(), unknown_folders.end(),
                       [&](const std::string& folder) { return path.starts_with(folder); });
  };
  struct Held {
    std::string stored;
    Note note;
    std::optional<FileStamp> stamp;
  };
  std::map<std::string, std::vector<Held>> by_id;
  for (const auto& [file, stamp] : walked.files) {  // each stamp taken before the read: a write after it shows
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
      by_id[id].push_back({std::move(stored), std::move(read->note), stamp});
    }
  }

  for (auto& [id, holders] : by_id) {
    if (holders.size() > 1) {
      DuplicateId duplicate{id, {}};
      for (const Held& held : holders) {
        duplicate.paths.push_back(held.stored);
        left_alone.insert(held.stored);
      }
      result.duplicates.push_back(std::move(duplicate));
      continue;
    }
    Held& held = holders.front();
    auto row = rows->find(id);
    if (row == rows->end() || row->second.deleted) {
      result.to_index.push_back({std::move(held.note), true, {}, held.stamp});
      continue;
    }
    auto differs = differences(held.stored, held.note, row->second);
    if (!differs.empty()) result.to_index.push_back({std::move(held.note), false, std::move(differs), held.stamp});
  }
  sort_in_walk_order(result.to_index, [](const NoteChange& change) -> const fs::path& { return change.note.path; });

  for (const auto& [id, row] : *rows) {
    if (row.deleted || by_id.contains(id) || left_alone.contains(row.path) || in_unknown_folder(row.path)) continue;
    result.gone.push_back(id);
  }
  std::sort(result.gone.begin(), result.gone.end());
  std::sort(result.unreadable.begin(), result.unreadable.end(),
            [](const FileProblem& a, const FileProblem& b) { return a.path < b.path; });
  return result;
}

Result<std::optional<NoteChange>> compare_note(const Vault& vault, Note note, std::optional<FileStamp> stamp) {
  auto row = read_row(vault, note.frontmatter.id);
  if (!row) return std::unexpected(std::move(row.error()));
  NoteChange change{std::move(note), false, {}, stamp};
  if (!*row || (*row)->deleted) {
    change.is_new = true;
    return change;
  }
  change.differs = differences(stored_path(vault.root, change.note.path), change.note, **row);
  if (change.differs.empty()) return std::nullopt;
  return change;
}

Result<std::optional<NoteChange>> recheck_change(const Vault& vault, const NoteChange& seen, bool rows_changed) {
  const std::optional<FileStamp> stamp = file_stamp(seen.note.path);
  const bool file_changed = !stamp || !seen.stamp || *stamp != *seen.stamp;
  if (!file_changed && !rows_changed) return seen;
  if (!file_changed) return compare_note(vault, seen.note, stamp);
  auto read = read_note_file_checked(seen.note.path);
  if (!read || !read->has_frontmatter || !holds_id(*read, seen.note.frontmatter.id))
    return std::nullopt;  // the next run sees it anew
  return compare_note(vault, std::move(read->note), stamp);
}

Result<bool> still_gone(const Vault& vault, std::string_view id) {
  auto path = path_by_id(vault, id);
  if (!path) return std::unexpected(std::move(path.error()));
  if (!*path) return false;  // no longer live
  for (const std::optional<fs::path>& file : {safe_stored_path(vault, **path), default_note_path(vault, id)}) {
    if (!file) continue;
    std::error_code ec;
    if (!fs::exists(*file, ec)) continue;
    auto read = read_note_file_checked(*file);
    if (!read || holds_id(*read, id)) return false;
  }
  return true;
}

}  // namespace core
