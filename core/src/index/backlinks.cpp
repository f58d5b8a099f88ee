#include "index/backlinks.hpp"

#include "index/sqlite.hpp"

#include <utility>

namespace core {
namespace {

constexpr std::string_view kListBacklinks =
    "SELECT DISTINCT nf.id, nf.title FROM links l\n"
    "         JOIN note_files nf ON nf.id = l.source_id\n"
    "         WHERE nf.deleted_at IS NULL\n"
    "           AND l.source_id != ?1\n"
    "           AND (\n"
    "             l.target_id = ?1\n"
    "             OR (\n"
    "               l.target_id IS NULL\n"
    "               AND l.target_title IS NOT NULL\n"
    "               AND lower(trim(l.target_title)) = lower(trim(\n"
    "                 (SELECT title FROM note_files WHERE id = ?1 LIMIT 1)\n"
    "               ))\n"
    "             )\n"
    "           )\n"
    "         ORDER BY nf.title COLLATE NOCASE";

constexpr std::string_view kLinkingSources =
    "SELECT DISTINCT source_id FROM links\n"
    "         WHERE source_id != ?1\n"
    "           AND (\n"
    "             target_id = ?1\n"
    "             OR (\n"
    "               lower(trim(COALESCE(target_title, ''))) = lower(trim(?2))\n"
    "             )\n"
    "           )\n"
    "         ORDER BY source_id";

// The same rows as two index searches, by target and by named title: the
// OR above can use neither index, so it reads every link row.
constexpr std::string_view kLinkingSourcesIndexed =
    "SELECT source_id FROM links WHERE target_id = ?1 AND source_id != ?1\n"
    "         UNION\n"
    "         SELECT source_id FROM links\n"
    "         WHERE lower(trim(COALESCE(target_title, ''))) = lower(trim(?2)) AND source_id != ?1\n"
    "         ORDER BY source_id";

}  // namespace

Result<std::vector<Backlink>> list_backlinks(const Vault& vault, std::string_view id) {
  auto stmt = prepare(vault.db(), kListBacklinks);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = stmt->bind_all(id); !bound) return std::unexpected(std::move(bound.error()));
  std::vector<Backlink> backlinks;
  for (;;) {
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return backlinks;
    auto source = stmt->column_text(0);
    if (!source) return std::unexpected(std::move(source.error()));
    auto title = stmt->column_text(1);
    if (!title) return std::unexpected(std::move(title.error()));
    backlinks.push_back({std::move(*source), std::move(*title)});
  }
}

Result<std::vector<std::string>> linking_sources(const Vault& vault, std::string_view id, std::string_view title) {
  auto stmt = prepare(vault.db(), vault.link_titles_indexed ? kLinkingSourcesIndexed : kLinkingSources);
  if (!stmt) return std::unexpected(std::move(stmt.error()));
  if (auto bound = stmt->bind_all(id, title); !bound) return std::unexpected(std::move(bound.error()));
  std::vector<std::string> sources;
  for (;;) {
    auto row = stmt->step();
    if (!row) return std::unexpected(std::move(row.error()));
    if (!*row) return sources;
    auto source = stmt->column_text(0);
    if (!source) return std::unexpected(std::move(source.error()));
    sources.push_back(std::move(*source));
  }
}

}  // namespace core
