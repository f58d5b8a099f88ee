#include "index/stored_path.hpp"

#include "base/files.hpp"
#include "base/text.hpp"


#include <algorithm>
#include <cstdint>
#include <vector>

namespace core {
namespace {

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

std::string stored_path(const std::filesystem::path& root, const std::filesystem::path& path) {
  const std::string root_text = path_utf8(root), path_text = path_utf8(path);
  std::optional<std::string> rest = plainly_under(root_text, path_text);
  std::string text = lossy_utf8(rest ? *rest : strip_root(root, path).string());
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
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

std::string folder_prefix(std::string_view folder) {
  return folder.empty() ? std::string("notes/") : "notes/" + std::string(folder) + "/";
}

std::string range_end(std::string_view prefix) {
  return std::string(prefix.substr(0, prefix.size() - 1)) + '0';  // '0' follows '/'
}

}  // namespace core
