#include "config/vault_select.hpp"

#include "base/process.hpp"
#include "base/text.hpp"

#include <algorithm>
#include <cstdlib>

namespace core {
namespace {

bool looks_like_path(std::string_view text) {
  if (text.starts_with('/') || text.starts_with('\\') || text.starts_with('~')) return true;
  if (text.find_first_of("/\\") != std::string_view::npos) return true;
  return text.size() >= 2 && text[1] == ':';
}

template <class Matches>
const VaultLibraryEntry* first_entry(const std::vector<VaultLibraryEntry>& entries, Matches matches) {
  auto it = std::find_if(entries.begin(), entries.end(), matches);
  return it == entries.end() ? nullptr : &*it;
}

// The passes run whole, one after the other, so an id anywhere in the
// library beats a label that comes earlier.
const VaultLibraryEntry* find_entry(std::string_view text, const std::vector<VaultLibraryEntry>& entries) {
  if (auto* by_id = first_entry(entries, [&](const VaultLibraryEntry& e) { return e.id == text; })) return by_id;
  if (auto* by_label = first_entry(entries, [&](const VaultLibraryEntry& e) { return ascii_iequals(e.label, text); }))
    return by_label;
  return first_entry(entries, [&](const VaultLibraryEntry& e) { return same_vault_path(e.path, text); });
}

std::optional<std::string> usable_env_vault() {
  std::optional<std::string> value = environment_variable("BRASK_TOLVANE_VAULT");
  if (!value || !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

}  // namespace

std::expected<std::filesystem::path, std::string> resolve_vault(std::optional<std::string_view> vault,
                                                                const McpConfig& config) {
  if (!vault) return default_vault_root(config);
  VaultLibrarySnapshot library = load_vault_library();
  if (auto root = resolve_vault_argument(*vault, library.vaults)) return *root;
  return std::unexpected(unknown_vault_text(*vault));
}

std::string unknown_vault_text(std::string_view vault) {
  std::string text = "Unknown vault '";
  text += vault;
  text += "'. Use a library label, id, or absolute path from Settings \u2192 Vaults.";
  return text;
}

std::optional<std::filesystem::path> resolve_vault_argument(std::string_view text,
                                                            const std::vector<VaultLibraryEntry>& entries) {
  std::string_view trimmed = trim(text);
  if (const VaultLibraryEntry* entry = find_entry(trimmed, entries)) return expand_home(entry->path);
  if (looks_like_path(trimmed)) return expand_home(trimmed);
  return std::nullopt;
}

std::string_view vault_source_name(VaultSource source) {
  switch (source) {
    case VaultSource::Flag: return "--vault";
    case VaultSource::Environment: return "BRASK_TOLVANE_VAULT";
    case VaultSource::McpJson: return "mcp.json";
    case VaultSource::SettingsJson: return "settings.json";
    case VaultSource::BuiltIn: break;
  }
  return "built-in default";
}

DefaultVault explain_default_vault(const McpConfig& config) {
  auto given = [](const std::optional<std::string>& text) { return text && !trim(*text).empty(); };
  if (given(config.vault_flag)) return {expand_home(*config.vault_flag), VaultSource::Flag};
  if (auto env = usable_env_vault(); given(env)) return {expand_home(*env), VaultSource::Environment};
  if (given(config.vault_path)) return {expand_home(*config.vault_path), VaultSource::McpJson};
  // settings.json is read only when the sources before it are blank; reading
  // it earlier would change nothing.
  if (auto settings = read_settings_vault_path()) return {expand_home(*settings), VaultSource::SettingsJson};
  return {expand_home(kBuiltInVault), VaultSource::BuiltIn};
}

std::filesystem::path default_vault_root(const McpConfig& config) { return explain_default_vault(config).root; }

}  // namespace core
