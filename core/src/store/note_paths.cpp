#include "store/note_paths.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "index/index_db.hpp"

namespace core {

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

std::optional<std::filesystem::path> default_note_path(const Vault& vault, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  return vault.root / "notes" / utf8_path(std::string(id) + ".md");
}

std::optional<std::filesystem::path> move_target(const Vault& vault, std::string_view folder, std::string_view id) {
  if (!is_safe_note_id(id)) return std::nullopt;
  std::filesystem::path target = vault.root / "notes";
  if (const std::string normal = normalize_folder(folder); !normal.empty()) target /= utf8_path(normal);
  return target / utf8_path(std::string(id) + ".md");
}

std::optional<std::filesystem::path> safe_stored_path(const Vault& vault, std::string_view stored_path) {
  auto normal = normalize_stored_path(stored_path);
  if (!normal) return std::nullopt;
  return vault.root / utf8_path(*normal);
}

}  // namespace core
