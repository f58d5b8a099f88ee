#include "index/indexer.hpp"

#include "index/lookups.hpp"
#include "index/sqlite.hpp"
#include "links/link_extract.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>

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
