#include "store/note_paths.hpp"

#include "index/index_db.hpp"

namespace core {

bool is_safe_note_id(std::string_view id) {
  return !id.empty() && id != "." && id != ".." && id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  return vault.root / "notes" / (std::string(id) + ".md");
}

std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  std::filesystem::path target = vault.root / "notes";
  if (const std::string normal = normalize_folder(folder); !normal.empty()) target /= normal;
  return target / (std::string(id) + ".md");
}

std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path) {
  auto normal = normalize_stored_path(stored_path);
  if (!normal) return std::nullopt;
  return vault.root / *normal;
}

}  // namespace core
