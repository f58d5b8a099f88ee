#include "config/config.hpp"

#include "base/process.hpp"

#include "config/strict_json.hpp"
#include "base/files.hpp"
#include "base/ids.hpp"
#include "base/text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

namespace core {
namespace {

// A configuration file is a few kilobytes; the bound keeps a runaway file,
// or a link to a device, from being read without end.
constexpr std::size_t kConfigFileMaxBytes = std::size_t{16} << 20;

using nlohmann::json;

std::optional<std::string> env_var(const char* name) { return environment_variable(name); }

// What a member holds, for messages: "a string", "a number", ...
std::string type_name(const json& value) {
  switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::boolean: return "true or false";
    case json::value_t::string: return "a string";
    case json::value_t::array: return "an array";
    case json::value_t::object: return "an object";
    default: return "a number";
  }
}

std::string wrong_type(const char* key, std::string_view wanted, const json& found) {
  return "\"" + std::string(key) + "\" must be " + std::string(wanted) + ", found " + type_name(found);
}

// Reads member `key` of `object` into `out`. The failure names the member
// when it is present with another type; an absent member leaves `out` alone.
std::expected<void, std::string> read_string(const json& object, const char* key, bool null_ok,
                                             std::optional<std::string>& out) {
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (it->is_null() && null_ok) return {};
  if (!it->is_string()) return std::unexpected(wrong_type(key, null_ok ? "a string or null" : "a string", *it));
  out = it->get<std::string>();
  return {};
}

std::expected<void, std::string> read_bool(const json& object, const char* key, bool& out) {
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_boolean()) return std::unexpected(wrong_type(key, "true or false", *it));
  out = it->get<bool>();
  return {};
}

std::unexpected<std::string> repeated_key_problem(const std::vector<RepeatedKey>& repeated,
                                                  const JsonObjectPath& where,
                                                  std::initializer_list<std::string_view> keys,
                                                  std::string_view place) {
  for (const RepeatedKey& r : repeated)
    if (r.object_path == where && std::find(keys.begin(), keys.end(), r.key) != keys.end())
      return std::unexpected("key \"" + r.key + "\" occurs twice" + std::string(place));
  return std::unexpected(std::string("a key occurs twice"));
}

std::expected<StrictJson, std::string> parse_object(std::string_view text) {
  auto parsed = parse_strict_json_explained(text);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  if (!parsed->value.is_object()) return std::unexpected("the top-level value is " + type_name(parsed->value) + ", not an object");
  return parsed;
}

std::expected<McpConfig, std::string> parse_mcp_config(std::string_view text) {
  auto parsed = parse_object(text);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  if (repeats_any(parsed->repeated_keys, {}, {"enabled", "vault_path", "follow_files"}))
    return repeated_key_problem(parsed->repeated_keys, {}, {"enabled", "vault_path", "follow_files"}, "");
  McpConfig config;
  if (auto ok = read_bool(parsed->value, "enabled", config.enabled); !ok) return std::unexpected(ok.error());
  if (auto ok = read_bool(parsed->value, "follow_files", config.follow_files); !ok)
    return std::unexpected(ok.error());
  if (auto ok = read_string(parsed->value, "vault_path", true, config.vault_path); !ok)
    return std::unexpected(ok.error());
  return config;
}

std::expected<VaultLibraryEntry, std::string> parse_entry(const json& object) {
  if (!object.is_object()) return std::unexpected("an entry of \"vaults\" is " + type_name(object) + ", not an object");
  std::optional<std::string> id, label, path;
  VaultLibraryEntry entry;
  for (auto read : {read_string(object, "id", false, id), read_string(object, "label", false, label),
                    read_string(object, "path", false, path), read_bool(object, "pinned", entry.pinned),
                    read_string(object, "last_opened_at", true, entry.last_opened_at)})
    if (!read) return std::unexpected("in an entry of \"vaults\": " + read.error());
  for (auto [name, value] : {std::pair{"id", &id}, {"label", &label}, {"path", &path}})
    if (!*value) return std::unexpected("an entry of \"vaults\" has no \"" + std::string(name) + "\"");
  entry.id = std::move(*id);
  entry.label = std::move(*label);
  entry.path = std::move(*path);
  return entry;
}

// Fills `out` from a member that must be an array whose every element
// `parse_one` accepts. An absent member leaves `out` empty.
template <class T, class Parse>
std::expected<void, std::string> read_array(const json& object, const char* key, std::vector<T>& out,
                                            Parse parse_one) {
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_array()) return std::unexpected(wrong_type(key, "an array", *it));
  for (const json& element : *it) {
    auto item = parse_one(element);
    if (!item) return std::unexpected(std::move(item.error()));
    out.push_back(std::move(*item));
  }
  return {};
}

std::expected<std::string, std::string> parse_text(const json& value) {
  if (!value.is_string()) return std::unexpected("an entry of \"recent_vaults\" is " + type_name(value) + ", not a string");
  return value.get<std::string>();
}

std::expected<VaultLibrarySnapshot, std::string> parse_settings(std::string_view text) {
  auto parsed = parse_object(text);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  const auto& repeated = parsed->repeated_keys;
  if (repeats_any(repeated, {}, {"vault_path", "vaults", "recent_vaults"}))
    return repeated_key_problem(repeated, {}, {"vault_path", "vaults", "recent_vaults"}, "");
  if (repeats_any(repeated, {"vaults", std::nullopt}, {"id", "label", "path", "pinned", "last_opened_at"}))
    return repeated_key_problem(repeated, {"vaults", std::nullopt}, {"id", "label", "path", "pinned", "last_opened_at"},
                                " in an entry of \"vaults\"");
  VaultLibrarySnapshot snapshot;
  std::optional<std::string> vault_path;
  if (auto ok = read_string(parsed->value, "vault_path", false, vault_path); !ok) return std::unexpected(ok.error());
  if (auto ok = read_array(parsed->value, "vaults", snapshot.vaults, parse_entry); !ok)
    return std::unexpected(ok.error());
  if (auto ok = read_array(parsed->value, "recent_vaults", snapshot.recent_vaults, parse_text); !ok)
    return std::unexpected(ok.error());
  snapshot.vault_path = vault_path.value_or("");
  return snapshot;
}

std::string normalized_vault_path(std::string_view text) {
  std::string path = lossy_utf8(path_utf8(expand_home(text)));
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
  std::string expanded = path_utf8(expand_home(trimmed_path));
  if (auto last = last_component(expanded)) return lossy_utf8(*last);
  return std::string(trimmed_path);
}

// Reads `file` into `out` through `parse`; `out` keeps its defaults unless
// the file is read and valid.
template <class T, class Parse>
ConfigFileCheck check_file(const std::filesystem::path& file, Parse parse, T& out) {
  ConfigFileCheck check{file, ConfigFileState::Missing, {}};
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) return check;
  auto text = read_regular_file(file, kConfigFileMaxBytes);
  if (!text) {
    check.state = ConfigFileState::Unreadable;
    check.problem = std::filesystem::is_directory(status) ? "is a folder" : "cannot be read";
    return check;
  }
  auto parsed = parse(*text);
  if (!parsed) {
    check.state = ConfigFileState::Invalid;
    check.problem = std::move(parsed.error());
    return check;
  }
  check.state = ConfigFileState::Read;
  out = std::move(*parsed);
  return check;
}

}  // namespace

std::filesystem::path config_dir() {
  if (auto home = env_var("HOME")) return utf8_path(*home) / ".config" / "brask-tolvane";
  if (auto appdata = env_var("APPDATA")) return utf8_path(*appdata) / "brask-tolvane";
  return std::filesystem::path(".config") / "brask-tolvane";
}

std::filesystem::path mcp_config_file() { return config_dir() / "mcp.json"; }

std::filesystem::path settings_file() { return config_dir() / "settings.json"; }

ConfigFileCheck check_mcp_config(McpConfig& config) {
  config = {};
  return check_file(mcp_config_file(), parse_mcp_config, config);
}

ConfigFileCheck check_settings(VaultLibrarySnapshot& snapshot) {
  snapshot = {};
  return check_file(settings_file(), parse_settings, snapshot);
}

McpConfig load_mcp_config() {
  McpConfig config;
  (void)check_mcp_config(config);
  return config;
}

VaultLibrarySnapshot load_vault_library() {
  VaultLibrarySnapshot snapshot;
  (void)check_settings(snapshot);
  // ensure_library_entry trims and skips blank texts itself.
  ensure_library_entry(snapshot, snapshot.vault_path);
  for (const std::string& path : snapshot.recent_vaults) ensure_library_entry(snapshot, path);
  snapshot.recent_vaults.clear();
  return snapshot;
}

std::optional<std::string> read_settings_vault_path() {
  auto text = read_regular_file(settings_file(), kConfigFileMaxBytes);
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
  if (!tilde_form) return utf8_path(trimmed);
  std::optional<std::string> home = env_var("HOME");
  if (!home) home = env_var("USERPROFILE");
  if (!home) return utf8_path(trimmed);
  if (trimmed == "~") return utf8_path(*home);
  return utf8_path(*home) / utf8_path(trimmed.substr(2));
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
