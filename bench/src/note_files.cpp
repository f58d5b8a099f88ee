#include "note_files.hpp"

#include "index_fill.hpp"

#include <nlohmann/json.hpp>

#include <fstream>

namespace bench {
namespace {

std::string single_quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string frontmatter(const NoteDraft& note, std::string_view updated) {
  std::string text = "---\nid: " + single_quoted(note.id) + "\ntitle: " + single_quoted(note.title) + "\ntags:";
  const nlohmann::json tags = nlohmann::json::parse(title_tags_json(note.title));
  if (tags.empty()) text += " []";
  for (const auto& tag : tags) text += "\n- " + single_quoted(tag.get<std::string>());
  text += "\nmetas:";
  if (note.metas.empty()) text += " {}";
  for (const auto& [key, value] : note.metas) text += "\n  " + single_quoted(key) + ": " + single_quoted(value);
  return text + "\nupdated: " + single_quoted(updated) + "\n---\n";
}

}  // namespace

Outcome<void> write_note_files(const std::filesystem::path& root, const VaultGenerator& vault,
                               std::string_view updated) {
  for (size_t i = 0; i < vault.size(); ++i) {
    const NoteDraft note = vault.note(i);
    const std::filesystem::path file = root / stored_path(note.folder, note.id);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    std::ofstream out(file, std::ios::binary);
    out << frontmatter(note, updated) << note.body;
    if (error || !out.flush()) return failure("cannot write " + file.string());
  }
  return {};
}

}  // namespace bench
