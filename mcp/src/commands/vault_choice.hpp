#pragma once
// The vault a command works on: the one its `--vault` names (a library
// label or id, or a path, as a call's `vault` argument), else the one the
// server's default chain picks, with the source that won.

#include "config/config.hpp"

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace mcp {

struct VaultChoice {
  std::filesystem::path root;
  std::string source;  // "--vault", "BRASK_TOLVANE_VAULT", "mcp.json", "settings.json", "built-in default"
};

// A `--vault` that names no library entry and does not look like a path is
// still taken when it names an existing folder; a relative path is made
// absolute. Fails with the server's "Unknown vault ..." text for a
// `--vault` that names nothing.
[[nodiscard]] std::expected<VaultChoice, std::string> choose_vault(const std::string* vault_option,
                                                                   const core::McpConfig& config);

// Whether stderr is a terminal, for progress lines.
bool stderr_is_terminal();

}  // namespace mcp
