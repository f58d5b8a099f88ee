#pragma once
// Which vault a tool call works on: the one its `vault` argument names (a
// library id, label or path), else the first configured default.
//
// Everything is read afresh on each call; nothing is cached, written or
// created, and whether the chosen root exists is the caller's concern.

#include "config/config.hpp"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The vault used when nothing else names one, before home expansion.
inline constexpr std::string_view kBuiltInVault = "~/Brask/vaults/default";

// The vault root for one tool call. With `vault` (the call's argument,
// already trimmed and not blank): resolve_vault_argument against
// load_vault_library(); when that gives nothing, the failure is
// unknown_vault_text(*vault), ready to be shown to the client unchanged.
// Without `vault`: default_vault_root(config), which never fails. A named
// vault never falls back to the defaults.
[[nodiscard]] std::expected<std::filesystem::path, std::string> resolve_vault(
    std::optional<std::string_view> vault, const McpConfig& config);

// "Unknown vault '<vault>'. Use a library label, id, or absolute path from
// Settings → Vaults."
std::string unknown_vault_text(std::string_view vault);

// The root that `text` (trimmed here) names among `entries`, searched in
// order in three whole passes: an entry whose id equals the text byte for
// byte, then one whose label equals it ignoring ASCII case, then one whose
// path is the same vault path; the first entry of the first successful pass
// gives expand_home of its path. When none matches, a text that looks like a
// path (starts with "/", "\" or "~", contains "/" or "\", or has ":" as its
// second byte, as in "D:") gives expand_home of itself, existing or not; any
// other text gives nullopt.
std::optional<std::filesystem::path> resolve_vault_argument(std::string_view text,
                                                            const std::vector<VaultLibraryEntry>& entries);

// Where the default vault came from, in the order the chain tries them.
enum class VaultSource { Flag, Environment, McpJson, SettingsJson, BuiltIn };

// "--vault", "BRASK_TOLVANE_VAULT", "mcp.json", "settings.json", "built-in default".
std::string_view vault_source_name(VaultSource source);

struct DefaultVault {
  std::filesystem::path root;
  VaultSource source;
};

// The first of these whose trimmed text is not empty, home-expanded, and
// which one it was: config.vault_flag (the server's --vault), the
// environment variable BRASK_TOLVANE_VAULT (ignored when not valid UTF-8),
// config.vault_path, read_settings_vault_path(), "~/Brask/vaults/default".
DefaultVault explain_default_vault(const McpConfig& config);

// explain_default_vault(config).root.
std::filesystem::path default_vault_root(const McpConfig& config);

}  // namespace core
