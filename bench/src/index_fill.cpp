#include "index_fill.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace bench {
namespace {

// The #tags of a title: each word starting with "#", without its leading
// "#" characters and cut at the next "#"; generated titles need no more.
nlohmann::json hashtags(std::string_view title) {
  nlohmann::json tags = nlohmann::json::array();
  size_t at = 0;
  while ((at = title.find('#', at)) != std::string_view::npos) {
    const bool starts_word = at == 0 || title[at - 1] == ' ';
    const size_t start = title.find_first_not_of('#', at);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(title.find_first_of(" #", start), title.size());
    const std::string tag(title.substr(start, end - start));
    if (starts_word && std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.push_back(tag);
    at = end;
  }
  return tags;
}

}  // namespace

std::string title_tags_json(std::string_view title) { return hashtags(title).dump(); }

std::string stored_path(std::string_view folder, std::string_view id) {
  std::string path = "notes/";
  if (!folder.empty()) path += std::string(folder) + "/";
  return path + std::string(id) + ".md";
}

IndexedNote indexed_form(const VaultGenerator& vault, const NoteDraft& note, std::string_view folder,
                         size_t resolved_below) {
  IndexedNote indexed{note.id, stored_path(folder, note.id), note.title, title_tags_json(note.title),
                      nlohmann::json(note.metas).dump(), note.body, {}};
  for (size_t target : note.title_links) {
    IndexedLink link{std::nullopt, vault.title(target)};
    if (target < resolved_below) link.target_id = vault.id(target);
    indexed.links.push_back(std::move(link));
  }
  for (size_t target : note.id_links) indexed.links.push_back({vault.id(target), std::nullopt});
  return indexed;
}

Outcome<void> fill_index(sqlite3* db, const VaultGenerator& vault, LinkIds& ids) {
  if (auto begun = query(db, "BEGIN"); !begun) return failure(begun.error());
  for (size_t i = 0; i < vault.size(); ++i) {
    const NoteDraft note = vault.note(i);
    if (auto done = insert_note(db, indexed_form(vault, note, note.folder, i), ids); !done) {
      (void)query(db, "ROLLBACK");  // the failure below is what the caller needs
      return done;
    }
  }
  if (auto committed = query(db, "COMMIT"); !committed) return failure(committed.error());
  return {};
}

}  // namespace bench
