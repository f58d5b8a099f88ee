#include "store/note_paths.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
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

std::optional<std::string> windows_name_problem(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
      return "Windows refuses the character " + std::string(byte < 0x20 ? "with code " + std::to_string(byte) : std::string(1, c)) +
             " in file names";
  }
  if (name.ends_with('.') || name.ends_with(' ')) return std::string("Windows drops a dot or space at the end of a file name");
  // The device is named by what comes before the first dot, spaces after it
  // ignored: "con", "CON.txt" and "nul .md" all open a device.
  std::string_view stem = name.substr(0, name.find('.'));
  while (stem.ends_with(' ')) stem.remove_suffix(1);
  const std::string lower = ascii_lower(stem);
  const bool numbered = lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) &&
                        lower[3] >= '0' && lower[3] <= '9';
  // COM and LPT followed by a superscript one, two or three are devices too.
  const bool superscript = stem.size() == 5 && (lower.starts_with("com") || lower.starts_with("lpt")) &&
                           (stem.substr(3) == "\xC2\xB9" || stem.substr(3) == "\xC2\xB2" || stem.substr(3) == "\xC2\xB3");
  if (lower == "con" || lower == "prn" || lower == "aux" || lower == "nul" || numbered || superscript)
    return "Windows keeps the name " + std::string(stem) + " for a device";
  return std::nullopt;
}

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
  return vault.root / "notes" / utf8_path(std::string(id) + ".md");
}

std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  std::filesystem::path target = vault.root / "notes";
  for (std::string_view piece : folder_pieces(folder)) target /= utf8_path(piece);
  return target / utf8_path(std::string(id) + ".md");
}

std::optional<std::string> normalize_stored_path(std::string_view stored_path) {
  if (stored_path.empty() || stored_path.find('\0') != std::string_view::npos) return std::nullopt;
  if (stored_path.front() == '/' || stored_path.front() == '\\') return std::nullopt;
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= stored_path.size(); ++i) {
    if (i < stored_path.size() && stored_path[i] != '/' && stored_path[i] != '\\') continue;
    const std::string_view piece = stored_path.substr(start, i - start);
    start = i + 1;
    if (piece.empty() || piece == ".") continue;
    if (piece != "..") pieces.push_back(piece);
    else if (pieces.empty()) return std::nullopt;  // above the root
    else pieces.pop_back();
  }
  if (pieces.size() < 2 || pieces.front() != "notes") return std::nullopt;
  std::string normal;
  for (std::string_view piece : pieces) {
    if (!normal.empty()) normal += '/';
    normal += piece;
  }
  return normal;
}

std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path) {
  auto normal = normalize_stored_path(stored_path);
  if (!normal) return std::nullopt;
  return vault.root / utf8_path(*normal);
}

}  // namespace core
