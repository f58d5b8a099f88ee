#include "store/note_paths.hpp"

#include "index/index_db.hpp"

#include <vector>

namespace core {
namespace {

// The pieces of a "/" or "\" separated text that name real folders.
std::vector<std::string_view> folder_pieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '/' && text[i] != '\\') continue;
    std::string_view piece = text.substr(start, i - start);
    if (!piece.empty() && piece != "." && piece != "..") pieces.push_back(piece);
    start = i + 1;
  }
  return pieces;
}

}  // namespace

bool is_safe_note_id(std::string_view id) {
  return !id.empty() && id != "." && id != ".." && id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string normalize_folder(std::string_view folder) {
  std::string out;
  for (std::string_view piece : folder_pieces(folder)) {
    if (!out.empty()) out += '/';
    out += piece;
  }
  return out;
}

std::string folder_of(std::string_view stored_path) {
  std::string path(stored_path);
  for (char& c : path)
    if (c == '\\') c = '/';
  std::string_view rest = path;
  if (rest.starts_with("notes/")) rest.remove_prefix(6);
  else if (rest.starts_with("./notes/")) rest.remove_prefix(8);
  size_t slash = rest.rfind('/');
  return normalize_folder(slash == std::string_view::npos ? std::string_view() : rest.substr(0, slash));
}

std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  return vault.root / "notes" / (std::string(id) + ".md");
}

std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  std::filesystem::path target = vault.root / "notes";
  for (std::string_view piece : folder_pieces(folder)) target /= piece;
  return target / (std::string(id) + ".md");
}

std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path) {
  const std::filesystem::path relative(stored_path);
  if (relative.empty() || relative.has_root_path()) return std::nullopt;
  auto piece = relative.begin();
  if (piece == relative.end() || *piece != "notes") return std::nullopt;
  size_t below_notes = 0;
  for (++piece; piece != relative.end(); ++piece) {
    if (*piece == "..") return std::nullopt;
    if (!piece->empty() && *piece != ".") ++below_notes;
  }
  if (below_notes == 0) return std::nullopt;
  return vault.root / relative;
}

}  // namespace core
