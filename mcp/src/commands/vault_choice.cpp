#include "commands/vault_choice.hpp"

#include "base/text.hpp"
#include "config/vault_select.hpp"

#include <unistd.h>

#include <system_error>

namespace mcp {

std::expected<VaultChoice, std::string> choose_vault(const std::string* vault_option, const core::McpConfig& config) {
  if (vault_option && !core::trim(*vault_option).empty()) {
    const std::string_view text = core::trim(*vault_option);
    auto root = core::resolve_vault(text, config);
    // A person at a shell may name a folder by a bare relative name, which a
    // tool call's argument would take for a library label.
    std::error_code ec;
    if (!root && std::filesystem::is_directory(std::filesystem::path(text), ec)) root = std::filesystem::path(text);
    if (!root) return std::unexpected(std::move(root.error()));
    if (root->is_relative()) root = std::filesystem::absolute(*root, ec).lexically_normal();
    return VaultChoice{std::move(*root), "--vault"};
  }
  const core::DefaultVault chosen = core::explain_default_vault(config);
  return VaultChoice{chosen.root, std::string(core::vault_source_name(chosen.source))};
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace mcp
