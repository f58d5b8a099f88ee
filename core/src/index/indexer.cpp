#include "index/indexer.hpp"

#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "links/link_extract.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>
#include <unicode/utf8.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace core {
namespace {

constexpr std::string_view kUpsertNote =
    "INSERT INTO note_files (id, path, title, tags_json, metas_json, workspace_id, updated_at, deleted_at)\n"
    "         VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, NULL)\n"
    "         ON CONFLICT(id) DO UPDATE SET\n"
    "           path=excluded.path, title=excluded.title, tags_json=excluded.tags_json,\n"
    "           metas_json=excluded.metas_json, workspace_id=excluded.workspace_id,\n"
    "           updated_at=excluded.updated_at, deleted_at=NULL";
constexpr std::string_view kDeleteFts = "DELETE FROM notes_fts WHERE note_id = ?1";
// The same rows found through the content table's note-id index: `note_id`
// is not indexed by the full-text table itself, so the statement above reads
// every row of it. Column c0 of the content table holds `note_id`.
constexpr std::string_view kDeleteFtsIndexed =
    "DELETE FROM notes_fts WHERE rowid IN (SELECT id FROM notes_fts_content WHERE c0 = ?1)";
constexpr std::string_view kInsertFts = "INSERT INTO notes_fts (note_id, title, body) VALUES (?1, ?2, ?3)";
constexpr std::string_view kDeleteLinks = "DELETE FROM links WHERE source_id = ?1";
constexpr std::string_view kInsertLink =
    "INSERT INTO links (id, source_id, target_id, target_title, link_type, unresolved)\n"
    "             VALUES (?1, ?2, ?3, ?4, ?5, ?6)";
constexpr std::string_view kMarkDeleted = "UPDATE note_files SET deleted_at = datetime('now') WHERE id = ?1";

// Each maximal invalid sequence becomes one U+FFFD.
std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto size = static_cast<int32_t>(bytes.size());
  for (int32_t i = 0; i < size;) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(data, i, size, c);
    if (c < 0) out.append("\xEF\xBF\xBD");
    else out.append(bytes.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
  }
  return out;
}

// The components of `path` without the empty ones a trailing separator
// leaves and without ".", so that "/v/" and "/v/." name the root "/v".
std::vector<std::filesystem::path> parts_of(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> parts;
  for (const auto& part : path)
    if (!part.empty() && part != ".") parts.push_back(part);
  return parts;
}

std::filesystem::path strip_root(const std::filesystem::path& root, const std::filesystem::path& path) {
  const auto root_parts = parts_of(root);
  const auto path_parts = parts_of(path);
  if (root_parts.size() > path_parts.size() ||
      !std::equal(root_parts.begin(), root_parts.end(), path_parts.begin()))
    return path;
  std::filesystem::path rest;
  for (size_t i = root_parts.size(); i < path_parts.size(); ++i) rest /= path_parts[i];
  return rest;
}

// Whether `text` is a path written with nothing parts_of would drop or
// merge: not empty, no empty component ("//" or a trailing "/", a leading
// "/" only as the root) and no "." component. Its components joined with
// "/" then give back `text` itself.
bool plain_path(std::string_view text) {
  if (text.empty() || text.back() == '/') return false;
  if (text.find("//") != std::string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = text.find('/', start);
    const std::string_view part = text.substr(start, slash == std::string_view::npos ? slash : slash - start);
    if (part == ".") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// What strip_root gives, found by comparing text, when both `root` and
// `path` are plain and `path` is `root` + "/" + more: the rest, as text.
// Nullopt when the case is not that simple (strip_root decides then).
// Splitting paths into components costs more than indexing a short note.
std::optional<std::string> plainly_under(std::string_view root, std::string_view path) {
  if (root == "/" || path.size() <= root.size() + 1 || !path.starts_with(root) || path[root.size()] != '/')
    return std::nullopt;
  const std::string_view rest = path.substr(root.size() + 1);
  if (rest.front() == '/' || !plain_path(root) || !plain_path(rest)) return std::nullopt;
  return std::string(rest);
}

// The writer throws on invalid UTF-8; that is the only failure expected.
Result<std::string> compact_json(const nlohmann::json& value) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception& e) {
    return std::unexpected(CoreError::json(e.what()));
  }
}

Result<void> write_note_row(Vault& vault, const Note& note, const std::string& path,
                            const std::string& tags_json, const std::string& metas_json) {
  const NoteFrontmatter& fm = note.frontmatter;
  return run_cached(vault, kUpsertNote, fm.id, path, fm.title, tags_json, metas_json,
                    fm.workspace_id, fm.updated);
}

std::string_view delete_fts(const Vault& vault) { return vault.fts_note_id_indexed ? kDeleteFtsIndexed : kDeleteFts; }

Result<void> write_fts_row(Vault& vault, const Note& note) {
  const NoteFrontmatter& fm = note.frontmatter;
  if (auto gone = run_cached(vault, delete_fts(vault), fm.id); !gone) return gone;
  return run_cached(vault, kInsertFts, fm.id, fm.title, note.body);
}

// Title links go to the one live note holding the title, when there is
// one; the lookup sees the note's own row, written just before.
Result<std::vector<LinkRecord>> resolve_links(const Vault& vault, const Note& note) {
  std::vector<LinkRecord> kept;
  for (LinkRecord& link : extract_links(note.body, note.frontmatter.id)) {
    if (link.target_title) {
      auto target = id_by_title(vault, *link.target_title);
      if (!target) return std::unexpected(std::move(target.error()));
      if (*target) {
        link.target_id = std::move(*target);
        link.unresolved = false;
      }
    }
    if (link.target_id != note.frontmatter.id) kept.push_back(std::move(link));
  }
  return kept;
}

Result<void> write_link_rows(Vault& vault, const Note& note) {
  const std::string& id = note.frontmatter.id;
  if (auto gone = run_cached(vault, kDeleteLinks, id); !gone) return gone;
  auto links = resolve_links(vault, note);
  if (!links) return std::unexpected(std::move(links.error()));
  auto insert = vault.lend(kInsertLink);
  if (!insert) return std::unexpected(std::move(insert.error()));
  for (const LinkRecord& link : *links) {
    auto bound = (*insert)->bind_all(new_note_id(), id, link.target_id, link.target_title, link.link_type,
                                     link.unresolved ? 1 : 0);
    if (!bound) return bound;
    if (auto done = (*insert)->run(); !done) return done;
    (*insert)->reset();
  }
  return {};
}

}  // namespace

std::string stored_path(const std::filesystem::path& root, const std::filesystem::path& path) {
  std::optional<std::string> rest = plainly_under(root.native(), path.native());
  std::string text = lossy_utf8(rest ? *rest : strip_root(root, path).string());
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

Result<StoredJson> stored_json(const NoteFrontmatter& fm) {
  auto tags = compact_json(fm.tags);
  if (!tags) return std::unexpected(std::move(tags.error()));
  auto metas = compact_json(fm.metas);  // std::map: keys already in byte order
  if (!metas) return std::unexpected(std::move(metas.error()));
  return StoredJson{std::move(*tags), std::move(*metas)};
}

Result<void> write_note_rows(Vault& vault, const Note& note) {
  const std::string path = stored_path(vault.root, note.path);
  auto json = stored_json(note.frontmatter);
  if (!json) return std::unexpected(std::move(json.error()));
  if (auto row = write_note_row(vault, note, path, json->tags, json->metas); !row) return row;
  return write_fts_row(vault, note);
}

Result<void> write_note_links(Vault& vault, const Note& note) { return write_link_rows(vault, note); }

Result<void> index_note(Vault& vault, const Note& note) {
  auto tx = Transaction::begin_immediate(vault.db());
  if (!tx) return std::unexpected(std::move(tx.error()));
  // The statements keep their order: note row, full-text row, links. The
  // transaction makes a failure at any of them undo the ones before.
  if (auto rows = write_note_rows(vault, note); !rows) return rows;
  if (auto links = write_note_links(vault, note); !links) return links;
  return tx->commit();
}

Result<void> write_note_deleted(Vault& vault, std::string_view id) {
  if (auto marked = run_cached(vault, kMarkDeleted, id); !marked) return marked;
  return run_cached(vault, delete_fts(vault), id);
}

Result<void> mark_note_deleted(Vault& vault, std::string_view id) {
  auto tx = Transaction::begin_immediate(vault.db());
  if (!tx) return std::unexpected(std::move(tx.error()));
  if (auto marked = write_note_deleted(vault, id); !marked) return marked;
  return tx->commit();
}

}  // namespace core
