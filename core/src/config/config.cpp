#include "config/config.hpp"

#include "config/strict_json.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

namespace core {
namespace {

using nlohmann::json;

std::optional<std::string> env_var(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

// Reads member `key` of `object` into `out`. False when the member is present
// with another type; an absent member leaves `out` alone.
bool read_string(const json& object, const char* key, bool null_ok, std::optional<std::string>& out) {
  auto it = object.find(key);
  if (it == object.end()) return true;
  if (it->is_null()) return null_ok;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

bool read_bool(const json& object, const char* key, bool& out) {
  auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

std::optional<McpConfig> parse_mcp_config(std::string_view text) {
  auto parsed = parse_strict_json(text);
  if (!parsed || !parsed->value.is_object()) return std::nullopt;
  if (repeats_any(parsed->repeated_keys, {}, {"enabled", "vault_path"})) return std::nullopt;
  McpConfig config;
  if (!read_bool(parsed->value, "enabled", config.enabled)) return std::nullopt;
  if (!read_string(parsed->value, "vault_path", true, config.vault_path)) return std::nullopt;
  return config;
}

std::optional<VaultLibraryEntry> parse_entry(const json& object) {
  if (!object.is_object()) return std::nullopt;
  std::optional<std::string> id, label, path;
  VaultLibraryEntry entry;
  bool typed = read_string(object, "id", false, id) && read_string(object, "label", false, label) &&
               read_string(object, "path", false, path) && read_bool(object, "pinned", entry.pinned) &&
               read_string(object, "last_opened_at", true, entry.last_opened_at);
  if (!typed || !id || !label || !path) return std::nullopt;
  entry.id = std::move(*id);
  entry.label = std::move(*label);
  entry.path = std::move(*path);
  return entry;
}

// Fills `out` from a member that must be an array whose every element
// `parse_one` accepts; false otherwise. An absent member leaves `out` empty.
template <class T, class Parse>
bool read_array(const json& object, const char* key, std::vector<T>& out, Parse parse_one) {
  auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_array()) return false;
  for (const json& element : *it) {
    std::optional<T> item = parse_one(element);
    if (!item) return false;
    out.push_back(std::move(*item));
  }
  return true;
}

std::optional<std::string> parse_text(const json& value) {
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::optional<VaultLibrarySnapshot> parse_settings(std::string_view text) {
  auto parsed = parse_strict_json(text);
  if (!parsed || !parsed->value.is_object()) return std::nullopt;
  const auto& repeated = parsed->repeated_keys;
  if (repeats_any(repeated, {}, {"vault_path", "vaults", "recent_vaults"}) ||
      repeats_any(repeated, {"vaults", std::nullopt}, {"id", "label", "path", "pinned", "last_opened_at"}))
    return std::nullopt;
  VaultLibrarySnapshot snapshot;
  std::optional<std::string> vault_path;
  if (!read_string(parsed->value, "vault_path", false, vault_path) ||
      !read_array(parsed->value, "vaults", snapshot.vaults, parse_entry) ||
      !read_array(parsed->value, "recent_vaults", snapshot.recent_vaults, parse_text))
    return std::nullopt;
  snapshot.vault_path = vault_path.value_or("");
  return snapshot;
}

// How many bytes follow `lead` in a well-formed sequence; -1 when `lead`
// cannot start one.
int continuation_count(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Whether `byte` may follow `lead` as its first continuation byte. The range
// narrows after E0, ED, F0 and F4 to exclude overlong forms, surrogates and
// code points past U+10FFFF.
bool fits_second(unsigned char lead, unsigned char byte) {
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  return byte >= low && byte <= high;
}

// `bytes` with each maximal ill-formed subsequence replaced by one U+FFFD,
// as the usual lossy decoders do.
std::string valid_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    int need = continuation_count(lead);
    std::size_t taken = 1;
    while (need > 0 && taken <= static_cast<std::size_t>(need) && i + taken < bytes.size()) {
      auto next = static_cast<unsigned char>(bytes[i + taken]);
      if (taken == 1 ? !fits_second(lead, next) : (next < 0x80 || next > 0xBF)) break;
      ++taken;
    }
    if (need >= 0 && taken == static_cast<std::size_t>(need) + 1) out.append(bytes.substr(i, taken));
    else out.append("\xEF\xBF\xBD");
    i += taken;
  }
  return out;
}

std::string normalized_vault_path(std::string_view text) {
  std::string path = valid_utf8(expand_home(text).native());
  std::replace(path.begin(), path.end(), '\\', '/');
  path = unicode_lower(path);
  if (path.size() > 1) {
    while (!path.empty() && path.back() == '/') path.pop_back();
  }
  return path;
}

// The last component of `path`, ignoring "." components and trailing
// separators, with a drive prefix ("D:") not counted as a component. Both
// slash and backslash separate, as they do in same_vault_path. nullopt when
// there is none, or when it is "..".
std::optional<std::string_view> last_component(std::string_view path) {
  auto ascii_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 2 && path[1] == ':' && ascii_letter(path[0])) path.remove_prefix(2);
  std::optional<std::string_view> last;
  while (!path.empty()) {
    std::size_t cut = path.find_first_of("/\\");
    std::string_view part = path.substr(0, cut);
    if (!part.empty() && part != ".") last = part;
    path.remove_prefix(cut == std::string_view::npos ? path.size() : cut + 1);
  }
  if (last == "..") return std::nullopt;
  return last;
}

std::string derived_label(std::string_view trimmed_path) {
  std::string expanded = expand_home(trimmed_path).native();
  if (auto last = last_component(expanded)) return valid_utf8(*last);
  return std::string(trimmed_path);
}

}  // namespace

std::filesystem::path config_dir() {
  if (auto home = env_var("HOME")) return std::filesystem::path(*home) / ".config/brask-tolvane";
  if (auto appdata = env_var("APPDATA")) return std::filesystem::path(*appdata) / "brask-tolvane";
  return ".config/brask-tolvane";
}

std::filesystem::path mcp_config_file() { return config_dir() / "mcp.json"; }

std::filesystem::path settings_file() { return config_dir() / "settings.json"; }

McpConfig load_mcp_config() {
  auto text = read_whole_file(mcp_config_file());
  if (!text) return {};
  return parse_mcp_config(*text).value_or(McpConfig{});
}

VaultLibrarySnapshot load_vault_library() {
  auto text = read_whole_file(settings_file());
  VaultLibrarySnapshot snapshot;
  if (text) snapshot = parse_settings(*text).value_or(VaultLibrarySnapshot{});
  // ensure_library_entry trims and skips blank texts itself.
  ensure_library_entry(snapshot, snapshot.vault_path);
  for (const std::string& path : snapshot.recent_vaults) ensure_library_entry(snapshot, path);
  snapshot.recent_vaults.clear();
  return snapshot;
}

std::optional<std::string> read_settings_vault_path() {
  auto text = read_whole_file(settings_file());
  if (!text) return std::nullopt;
  auto parsed = parse_strict_json(*text);  // repeated keys do not matter here
  if (!parsed || !parsed->value.is_object()) return std::nullopt;
  auto it = parsed->value.find("vault_path");
  if (it == parsed->value.end() || !it->is_string()) return std::nullopt;
  std::string_view trimmed = trim(it->get_ref<const std::string&>());
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

std::filesystem::path expand_home(std::string_view text) {
  std::string_view trimmed = trim(text);
  bool tilde_form = trimmed == "~" || (trimmed.size() > 1 && trimmed.starts_with("~/"));
  if (!tilde_form) return std::filesystem::path(trimmed);
  std::optional<std::string> home = env_var("HOME");
  if (!home) home = env_var("USERPROFILE");
  if (!home) return std::filesystem::path(trimmed);
  if (trimmed == "~") return std::filesystem::path(*home);
  return std::filesystem::path(*home) / trimmed.substr(2);
}

bool same_vault_path(std::string_view a, std::string_view b) {
  return normalized_vault_path(a) == normalized_vault_path(b);
}

void ensure_library_entry(VaultLibrarySnapshot& snapshot, std::string_view path) {
  std::string trimmed(trim(path));
  if (trimmed.empty()) return;
  bool covered = std::any_of(snapshot.vaults.begin(), snapshot.vaults.end(),
                             [&](const VaultLibraryEntry& entry) { return same_vault_path(entry.path, trimmed); });
  if (covered) return;
  snapshot.vaults.push_back({new_note_id(), derived_label(trimmed), trimmed, false, std::nullopt});
}

}  // namespace core
