#include "commands/vault_choice.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "config/vault_select.hpp"

#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mcp {

std::expected<VaultChoice, std::string> choose_vault(const std::string* vault_option, const core::McpConfig& config) {
  if (vault_option && !core::trim(*vault_option).empty()) {
    const std::string_view text = core::trim(*vault_option);
    auto root = core::resolve_vault(text, config);
    // A person at a shell may name a folder by a bare relative name, which a
    // tool call's argument would take for a library label.
    std::error_code ec;
    if (!root && std::filesystem::is_directory(core::utf8_path(text), ec)) root = core::utf8_path(text);
    if (!root) return std::unexpected(std::move(root.error()));
    if (root->is_relative()) root = std::filesystem::absolute(*root, ec).lexically_normal();
    return VaultChoice{std::move(*root), "--vault"};
  }
  const core::DefaultVault chosen = core::explain_default_vault(config);
  return VaultChoice{chosen.root, std::string(core::vault_source_name(chosen.source))};
}

#ifdef _WIN32
bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }
#else
bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }
#endif

}  // namespace mcp
